// Every registered effect, through the real runner, on the inputs that break effects:
// tiny and odd sizes, a fully transparent picture, the sliders at both ends, preview
// and full render, and a cancellation.
#include "../engine/fake_host.h"
#include "effects/register_effects.h"
#include "engine/catalogue.h"
#include "engine/effect_registry.h"
#include "engine/runner.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

using namespace quillora;

namespace {

std::vector<uint32_t> Pattern(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[size_t(y) * w + x] = 0xFF000000u | uint32_t((x * 37) & 0xFF) << 16 |
                              uint32_t((y * 53) & 0xFF) << 8 | uint32_t(((x + y) * 23) & 0xFF);
  return px;
}

class EffectSweep : public ::testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() { RegisterBuiltinEffects(); }

  void RunOnce(FakeHost& host, EffectRunner& runner, int id, const int (&P)[5], bool preview) {
    const size_t panes = host.paneBitmaps.size();
    const int saves = host.historySaves;
    runner.ProcessEffect(id, P[0], P[1], P[2], P[3], P[4], preview);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(runner.IsEffectRunning());
    if (preview) {
      ASSERT_GT(host.paneBitmaps.size(), panes);
      EXPECT_EQ(host.paneBitmaps.back().width(), host.pane.width);
    } else {
      EXPECT_EQ(host.historySaves, saves + 1);
      ASSERT_FALSE(host.result.isEmpty());
      EXPECT_EQ(host.result.width(), host.source.width());
      EXPECT_EQ(host.result.height(), host.source.height());
    }
  }
};

}  // namespace

TEST_P(EffectSweep, SurvivesEveryAwkwardInput) {
  const int id = GetParam();
  const EffectInfo* info = FindEffect(id);
  ASSERT_NE(info, nullptr);
  const int defaults[5] = {info->defaults[0], info->defaults[1], info->defaults[2],
                           info->defaults[3], info->defaults[4]};
  const int lows[5] = {0, 0, 0, 0, 0};
  const int highs[5] = {100, 100, 100, 100, 100};
  const QSize sizes[] = {{1, 1}, {2, 2}, {7, 5}, {3, 17}, {33, 20}};
  for (const QSize& size : sizes) {
    for (bool transparent : {false, true}) {
      FakeHost host;
      host.load(transparent ? testutil::SolidImage(size.width(), size.height(), 0)
                            : testutil::MakeImage(size.width(), size.height(),
                                                  Pattern(size.width(), size.height())));
      EffectRunner runner(host);
      for (const auto* P : {&defaults, &lows, &highs})
        for (bool preview : {false, true}) {
          SCOPED_TRACE(testing::Message() << id << " " << size.width() << "x" << size.height()
                                          << (transparent ? " transparent" : "")
                                          << " P1=" << (*P)[0] << (preview ? " preview" : ""));
          RunOnce(host, runner, id, *P, preview);
        }
    }
  }
}

TEST_P(EffectSweep, StopsWhenCancelled) {
  const int id = GetParam();
  const EffectInfo* info = FindEffect(id);
  FakeHost host;
  host.load(testutil::MakeImage(1200, 900, Pattern(1200, 900)));
  EffectRunner runner(host);
  runner.ProcessEffect(id, info->defaults[0], info->defaults[1], info->defaults[2],
                       info->defaults[3], info->defaults[4], false);
  // A run resets the cancel flag as it starts, so cancel once it reports progress (or
  // has already finished).
  ASSERT_TRUE(testutil::WaitFor(
      [&] { return !host.progress.empty() || runner.ActiveWorkers() == 0; }, 120000));
  runner.SetCancel(true);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
  EXPECT_FALSE(runner.IsEffectRunning());
  // Stopped or finished, the picture on show is recorded.
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_EQ(host.result.width(), 1200);
  EXPECT_EQ(host.progress.back(), 101);  // the progress bar is hidden
}

INSTANTIATE_TEST_SUITE_P(AllRegistered, EffectSweep, ::testing::ValuesIn([] {
                           RegisterBuiltinEffects();
                           return RegisteredEffects();
                         }()),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param);
                         });
