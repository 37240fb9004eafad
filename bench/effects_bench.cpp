// Times every registered effect through the real runner: a full render of the 1 MP
// and the 12 MP benchmark photos, and a 225 x 225 preview, as the programs run them
// (worker thread, interface calls through the event loop).
//
//   quillora-bench-effects [--photos DIR] [--effect ID ...] [--repeat N]
#include "brushes/brush_library.h"
#include "effects/register_effects.h"
#include "engine/catalogue.h"
#include "engine/effect_registry.h"
#include "engine/runner.h"
#include "gfx/codec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillora;

namespace {

class BenchHost : public EffectHost {
 public:
  gfx::Image image;
  gfx::Image SourceImage() override { return image; }
  gfx::Image ResultImage() override { return image; }
  void SetResultImage(const gfx::Image&) override {}
  void SaveHistory() override {}
  void RedrawMainView() override {}
  void ShowMessage(const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  bool EraseBackgroundChecked() override { return true; }
  PreviewPaneInfo PreviewPane() override { return {225, 225, 1.0f}; }
  QPoint PreviewStart() override { return start; }
  void SetPreviewStart(const QPoint& p) override { start = p; }
  void SetPreviewBitmap(const gfx::Image&, int) override {}
  void UpdateProgress(int) override {}
  // The brush effects pick their own sheet, as in the programs; timing them with
  // another sheet would measure the wrong strokes.
  void BrushSetup(int effectId) override { ApplyBrushSetup(effectId, brushes); }
  QPoint start;
  TCustomBrushState brushes;
};

double TimeRun(BenchHost& host, int id, bool preview, int repeat) {
  const EffectInfo* e = FindEffect(id);
  double best = 1e30;
  for (int r = 0; r < repeat; ++r) {
    EffectRunner runner(host);
    host.start = QPoint(host.image.width() / 2 - 112, host.image.height() / 2 - 112);
    QElapsedTimer timer;
    timer.start();
    runner.ProcessEffect(id, e->defaults[0], e->defaults[1], e->defaults[2], e->defaults[3],
                         e->defaults[4], preview);
    UiDispatcher::RunUntil([&] { return runner.ActiveWorkers() == 0; }, 1);
    best = std::min(best, timer.nsecsElapsed() / 1e9);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  RegisterBuiltinEffects();

  QString photos = QStringLiteral(QUILLORA_PHOTOS);
  std::vector<int> ids;
  int repeat = 1;
  const QStringList args = QCoreApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--photos") && i + 1 < args.size()) photos = args[++i];
    else if (args[i] == QLatin1String("--effect") && i + 1 < args.size()) ids.push_back(args[++i].toInt());
    else if (args[i] == QLatin1String("--repeat") && i + 1 < args.size()) repeat = std::max(1, args[++i].toInt());
    else {
      std::fprintf(stderr, "usage: quillora-bench-effects [--photos DIR] [--effect ID ...] [--repeat N]\n");
      return 2;
    }
  }
  if (ids.empty()) ids = RegisteredEffects();

  BenchHost small, large;
  try {
    small.image = gfx::DecodeImageFile(photos + QStringLiteral("/bench-1mp-sunset.jpg"));
    large.image = gfx::DecodeImageFile(photos + QStringLiteral("/sunset_by_Aitzol_Berasategi.jpg"));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot read the benchmark photos in %s: %s\n", qPrintable(photos), e.what());
    return 1;
  }
  std::printf("threads: %d; photos %dx%d and %dx%d; best of %d\n", QThread::idealThreadCount(),
              small.image.width(), small.image.height(), large.image.width(),
              large.image.height(), repeat);
  std::printf("%-4s %-24s %12s %12s %14s\n", "id", "effect", "1 MP full s", "12 MP full s",
              "preview ms");
  for (int id : ids) {
    if (!EffectProcFor(id)) continue;
    const double full1 = TimeRun(small, id, false, repeat);
    const double full12 = TimeRun(large, id, false, repeat);
    const double preview = TimeRun(small, id, true, std::max(repeat, 3));
    std::printf("%-4d %-24s %12.2f %12.2f %14.1f\n", id, qPrintable(EffectDisplayName(id)), full1,
                full12, preview * 1000.0);
    std::fflush(stdout);
  }
  return 0;
}
