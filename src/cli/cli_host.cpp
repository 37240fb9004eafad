#include "cli/cli_host.h"

#include <cstdio>

namespace quillora {

void CliHost::UpdateProgress(int percent) {
  if (!showProgress_) return;
  if (percent < 0 || percent > 100) {
    FinishProgress();
    return;
  }
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
               kWidth - filled, "", percent);
  std::fflush(stderr);
  progressShown_ = true;
}

void CliHost::FinishProgress() {
  if (progressShown_) {
    std::fprintf(stderr, "\r%*s\r", 48, "");
    std::fflush(stderr);
  }
  progressShown_ = false;
  lastPercent_ = -1;
}

}  // namespace quillora
