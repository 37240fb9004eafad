#include "engine/catalogue.h"
#include "engine/effect_registry.h"
#include "engine/runner.h"
#include "fake_host.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <stdexcept>

using namespace quillora;
using testutil::PixelAt;
using testutil::SolidImage;
using testutil::WaitFor;

namespace {

// Registers a test routine for a catalogue identifier and puts the old one back.
class ScopedEffect {
 public:
  ScopedEffect(int id, TEffectProc proc) : id_(id), previous_(EffectProcFor(id)) {
    RegisterEffect(id, proc);
  }
  ~ScopedEffect() { RegisterEffect(id_, previous_); }

 private:
  int id_;
  TEffectProc previous_;
};

std::atomic<bool> g_release{false};
std::atomic<int> g_started{0}, g_aborted{0}, g_finished{0};

void ResetGate() {
  g_release = false;
  g_started = g_aborted = g_finished = 0;
}

uint32_t ColourFor(int p) {
  switch (p) {
    case 1: return 0xFFFF0000;
    case 2: return 0xFF00FF00;
    default: return 0xFF0000FF;
  }
}

// Fills the picture with a colour chosen by P1, then waits at a cancellation point
// until the test releases it.
void GateEffect(const Image&, Surface& dest, int P1, int, int, int, int, bool) {
  ++g_started;
  try {
    dest.clear(ColourFor(P1));
    while (!g_release) {
      CheckCancellation();
      QThread::msleep(1);
    }
  } catch (const EEffectAborted&) {
    ++g_aborted;
    throw;
  }
  ++g_finished;
}

// Shows a half-finished picture as the result, then waits like GateEffect.
void IntermediateEffect(const Image&, Surface& dest, int, int, int, int, int, bool) {
  ++g_started;
  dest.clear(0xFF808080);
  const Image half = dest.snapshot();
  QueueUi([half] {
    if (!CancelRequested()) ShowIntermediateImage(half, 50);
  });
  while (!g_release) {
    CheckCancellation();
    QThread::msleep(1);
  }
  dest.clear(0xFFFFFFFF);
  ++g_finished;
}

void ThrowingEffect(const Image&, Surface&, int, int, int, int, int, bool) {
  ++g_started;
  throw std::runtime_error("broken effect");
}

gfx::Image g_lastSource;
void RecordingEffect(const Image& source, Surface& dest, int, int, int, int, int, bool) {
  g_lastSource = source;
  dest.clear(0xFF000000);
  ++g_finished;
}

void ChattyEffect(const Image&, Surface& dest, int, int, int, int, int, bool) {
  for (int i = 1; i <= 100; ++i) SafeUpdateProgress(i);
  dest.clear(0xFF000000);
  SafeUpdateProgress(101);
  ++g_finished;
}

// Keeps asking the interface thread for something until it is cancelled.
void SyncingEffect(const Image&, Surface&, int, int, int, int, int, bool) {
  ++g_started;
  for (;;) {
    SynchronizeUi([] {});
    CheckCancellation();
  }
}

// Looks for a cancel only once the preview has run, so the order of the two is fixed.
void LateCheckEffect(const Image&, Surface& dest, int, int, int, int, int, bool) {
  ++g_started;
  while (g_finished == 0) QThread::msleep(1);
  try {
    CheckCancellation();
  } catch (const EEffectAborted&) {
    ++g_aborted;
    throw;
  }
  dest.clear(0xFFFFFFFF);
}

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGate();
    host.load(SolidImage(4, 4, 0xFF102030));
  }
  bool Idle() { return runner.ActiveWorkers() == 0; }
  void Settle() {
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    QCoreApplication::processEvents();
  }

  FakeHost host;
  EffectRunner runner{host};
};

}  // namespace

TEST_F(RunnerTest, OnlyTheNewestPreviewReachesThePane) {
  ScopedEffect effect(300, &GateEffect);
  runner.ProcessEffect(300, 1, 0, 0, 0, 0, true);
  ASSERT_TRUE(WaitFor([] { return g_started == 1; }));
  runner.ProcessEffect(300, 2, 0, 0, 0, 0, true);
  // The first run is stale now and stops at its next cancellation point.
  ASSERT_TRUE(WaitFor([] { return g_aborted == 1 && g_started == 2; }));
  g_release = true;
  Settle();
  EXPECT_EQ(g_finished, 1);
  ASSERT_FALSE(host.paneBitmaps.empty());
  for (const Image& bitmap : host.paneBitmaps) {
    // The 4 x 4 crop is the whole picture, stretched onto the whole pane.
    EXPECT_EQ(bitmap.width(), 225);
    EXPECT_EQ(bitmap.height(), 225);
    EXPECT_EQ(PixelAt(bitmap, 112, 112), 0xFF00FF00u);
  }
  EXPECT_EQ(host.historySaves, 0);
  EXPECT_FALSE(runner.IsEffectRunning());
}

TEST_F(RunnerTest, SecondFullRenderIsRefusedWithTheBusyMessage) {
  ScopedEffect effect(300, &GateEffect);
  ScopedEffect other(301, &GateEffect);
  runner.ProcessEffect(300, 3, 0, 0, 0, 0, false);
  ASSERT_TRUE(WaitFor([] { return g_started == 1; }));
  EXPECT_EQ(runner.CurrentEffectNumber(), 300);
  runner.ProcessEffect(301, 3, 0, 0, 0, 0, false);
  ASSERT_EQ(host.messages.size(), 1);
  EXPECT_EQ(host.messages[0], QStringLiteral("Please wait for \"Watercolor\" to finish processing."));
  // A preview is never refused, even during a full render.
  runner.ProcessEffect(301, 2, 0, 0, 0, 0, true);
  ASSERT_TRUE(WaitFor([] { return g_started == 2; }));
  g_release = true;
  Settle();
  EXPECT_EQ(g_started, 2);
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_EQ(PixelAt(host.result, 0, 0), 0xFF0000FFu);
  EXPECT_FALSE(runner.IsEffectRunning());
}

TEST_F(RunnerTest, CancelledRenderKeepsItsIntermediatePictureInTheHistory) {
  ScopedEffect effect(304, &IntermediateEffect);
  const uint64_t loaded = host.result.uniqueId();
  runner.ProcessEffect(304, 0, 0, 0, 0, 0, false);
  ASSERT_TRUE(WaitFor([&] { return host.result.uniqueId() != loaded; }));
  runner.SetCancel(true);
  Settle();
  EXPECT_EQ(g_finished, 0);
  EXPECT_EQ(PixelAt(host.result, 1, 1), 0xFF808080u);
  ASSERT_EQ(host.historySaves, 1);
  EXPECT_EQ(host.historyResults.back().uniqueId(), host.result.uniqueId());
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);  // the progress bar disappears
  EXPECT_FALSE(runner.IsEffectRunning());
}

TEST_F(RunnerTest, PreviewDuringACancelledRenderLeavesTheCancelStanding) {
  ScopedEffect render(304, &LateCheckEffect);
  ScopedEffect preview(300, &RecordingEffect);
  runner.ProcessEffect(304, 3, 0, 0, 0, 0, false);
  ASSERT_TRUE(WaitFor([] { return g_started == 1; }));
  runner.SetCancel(true);
  // The slider moves right after Escape: the preview must not revive the render.
  runner.ProcessEffect(300, 0, 0, 0, 0, 0, true);
  Settle();
  EXPECT_EQ(g_aborted, 1);
  EXPECT_EQ(g_finished, 1);  // the preview ran
  EXPECT_FALSE(runner.IsEffectRunning());
  EXPECT_EQ(host.historySaves, 1);
}

TEST_F(RunnerTest, FailingEffectFreesTheBusyMarkerSilently) {
  ScopedEffect effect(402, &ThrowingEffect);
  const uint64_t loaded = host.result.uniqueId();
  runner.ProcessEffect(402, 0, 0, 0, 0, 0, false);
  Settle();
  EXPECT_EQ(g_started, 1);
  EXPECT_FALSE(runner.IsEffectRunning());
  EXPECT_EQ(host.historySaves, 0);
  EXPECT_TRUE(host.messages.isEmpty());
  EXPECT_EQ(host.result.uniqueId(), loaded);
  // The next render is accepted.
  ScopedEffect recording(402, &RecordingEffect);
  runner.ProcessEffect(402, 0, 0, 0, 0, 0, false);
  Settle();
  EXPECT_EQ(g_finished, 1);
  EXPECT_EQ(host.historySaves, 1);
}

TEST_F(RunnerTest, NothingStartsWithoutAnImage) {
  ScopedEffect effect(300, &GateEffect);
  host.load(gfx::Image());
  runner.ProcessEffect(300, 0, 0, 0, 0, 0, false);
  runner.ProcessEffect(300, 0, 0, 0, 0, 0, true);
  Settle();
  EXPECT_EQ(host.messages, QStringList({"No image loaded", "No image loaded"}));
  EXPECT_EQ(g_started, 0);
  EXPECT_FALSE(runner.IsEffectRunning());
}

TEST_F(RunnerTest, PreviewCropFollowsThePaneAndClampsItsOrigin) {
  ScopedEffect effect(100, &RecordingEffect);
  std::vector<uint32_t> px(1000 * 800);
  for (size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
  host.load(testutil::MakeImage(1000, 800, px));

  struct Case {
    QPoint start;
    float zoom;
    QRect crop;
  } cases[] = {
      {{900, 700}, 1.0f, {775, 575, 225, 225}},  // pulled back inside the picture
      {{10, 20}, 1.0f, {10, 20, 225, 225}},
      {{0, 0}, 2.0f, {0, 0, 112, 112}},          // 225 / 2 = 112.5 rounds to even
      {{-5, -5}, 4.0f, {0, 0, 56, 56}},
  };
  for (const Case& c : cases) {
    host.previewStart = c.start;
    host.pane.zoom = c.zoom;
    g_finished = 0;
    runner.ProcessEffect(100, 0, 0, 0, 0, 0, true);
    Settle();
    ASSERT_EQ(g_finished, 1);
    EXPECT_EQ(host.previewStart, c.crop.topLeft());
    ASSERT_EQ(g_lastSource.width(), c.crop.width());
    ASSERT_EQ(g_lastSource.height(), c.crop.height());
    EXPECT_EQ(testutil::MaxChannelDifference(g_lastSource, host.source.subset(c.crop)), 0);
    EXPECT_EQ(host.paneBitmaps.back().width(), 225);
  }
  g_lastSource = Image();
}

TEST_F(RunnerTest, ProgressIsThrottledButTheFinalValuePasses) {
  ScopedEffect effect(401, &ChattyEffect);
  runner.ProcessEffect(401, 0, 0, 0, 0, 0, false);
  Settle();
  ASSERT_EQ(g_finished, 1);
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);
  EXPECT_LE(host.progress.size(), 4u);
  EXPECT_FALSE(runner.IsEffectRunning());
}

TEST_F(RunnerTest, RenderOnSurfaceRunsInlineAndLeavesTheDocumentAlone) {
  ScopedEffect effect(403, &RecordingEffect);
  Surface dest(3, 2);
  runner.ProcessEffectOnSurface(SolidImage(3, 2, 0xFFFFFFFF), dest, 403, 0, 0, 0, 0, 0);
  EXPECT_EQ(g_finished, 1);
  EXPECT_EQ(PixelAt(dest.snapshot(), 2, 1), 0xFF000000u);
  EXPECT_EQ(host.historySaves, 0);
  EXPECT_FALSE(runner.IsEffectRunning());
  // An identifier without a routine does nothing.
  runner.ProcessEffectOnSurface(SolidImage(3, 2, 0xFFFFFFFF), dest, 777, 0, 0, 0, 0, 0);
  EXPECT_EQ(g_finished, 1);
}

TEST_F(RunnerTest, TextureOverlayAppliesToPreviewAndResult) {
  ScopedEffect effect(300, &RecordingEffect);
  struct TexturedHost : FakeHost {
    quillora::StoredTextureSettings StoredTexture() override {
      return {true, SolidImage(2, 2, 0xFFFFFFFF), 50.0f, 1.0f};
    }
  };
  TexturedHost textured;
  textured.load(SolidImage(4, 4, 0xFF102030));
  SetTextureOverlayProc([](const Image& image, const Image&, int strength, float) {
    EXPECT_EQ(strength, 50);
    return SolidImage(image.width(), image.height(), 0xFFABCDEF);
  });
  {
    EffectRunner texturedRunner(textured);
    texturedRunner.ProcessEffect(300, 0, 0, 0, 0, 0, true);
    texturedRunner.ProcessEffect(300, 0, 0, 0, 0, 0, false);
    ASSERT_TRUE(WaitFor([&] { return texturedRunner.ActiveWorkers() == 0; }));
    QCoreApplication::processEvents();
  }
  SetTextureOverlayProc(nullptr);
  ASSERT_FALSE(textured.paneBitmaps.empty());
  EXPECT_EQ(PixelAt(textured.paneBitmaps.back(), 100, 100), 0xFFABCDEFu);
  EXPECT_EQ(PixelAt(textured.result, 0, 0), 0xFFABCDEFu);
}

TEST(RunnerShutdown, ClosingDuringARenderNeverWaitsOnTheInterface) {
  ScopedEffect effect(305, &SyncingEffect);
  ResetGate();
  FakeHost host;
  host.load(SolidImage(8, 8, 0xFF000000));
  auto runner = std::make_unique<EffectRunner>(host);
  runner->ProcessEffect(305, 0, 0, 0, 0, 0, false);
  ASSERT_TRUE(WaitFor([] { return g_started == 1; }));
  // Destroyed from the interface thread while the worker keeps calling onto it.
  runner.reset();
  const int savesAtClose = host.historySaves;
  QCoreApplication::processEvents();
  EXPECT_EQ(host.historySaves, savesAtClose);
}
