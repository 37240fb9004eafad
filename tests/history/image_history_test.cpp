#include "history/image_history.h"

#include "gfx/codec.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <utility>
#include <vector>

using namespace quillora;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

// Opaque 8 x 8 pictures told apart after JPEG by a colour that encodes `n` (0..255) in
// steps far wider than the encoder's error on a flat block.
Image Numbered(int n) {
  const uint32_t r = uint32_t(n % 16) * 16 + 8, g = uint32_t(n / 16) * 16 + 8;
  return SolidImage(8, 8, gfx::PackArgb(255, r, g, 100));
}
int NumberOf(const Image& image) {
  if (image.isNull()) return -1;
  const uint32_t p = testutil::PixelAt(image, 4, 4);
  return int(gfx::RedOf(p) / 16 + gfx::GreenOf(p) / 16 * 16);
}

// Every premultiplied word of two images of one size equal.
bool SamePixels(const Image& a, const Image& b) {
  return !a.isNull() && !b.isNull() && a.width() == b.width() && a.height() == b.height() &&
         testutil::MaxChannelDifference(a, b) == 0;
}

struct Pair {
  Image display, source;
  bool ok = false;
};
Pair UndoOnce(TImageHistory& h) {
  Pair p;
  p.ok = h.Undo(p.display, p.source);
  return p;
}
Pair RedoOnce(TImageHistory& h) {
  Pair p;
  p.ok = h.Redo(p.display, p.source);
  return p;
}

struct Saved {
  uint64_t displayId, sourceId;
  bool isSourceChange;
};

bool IsPng(const QByteArray& b) { return b.startsWith("\x89PNG\r\n\x1a\n"); }
bool IsJpeg(const QByteArray& b) { return b.startsWith("\xff\xd8\xff"); }

}  // namespace

TEST(ImageHistory, LoadThenThreeEffectsWalksBackAndForth) {
  TImageHistory history;
  const Image loaded = Numbered(1);
  history.Save(loaded, loaded);
  for (int n = 2; n <= 4; ++n) history.Save(Numbered(n), loaded);

  for (int expected : {3, 2, 1, 1}) {
    const Pair p = UndoOnce(history);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(NumberOf(p.display), expected);
    EXPECT_EQ(NumberOf(p.source), 1);
  }
  for (int expected : {2, 3, 4, 4}) {
    const Pair p = RedoOnce(history);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(NumberOf(p.display), expected);
    EXPECT_EQ(NumberOf(p.source), 1);
  }
}

// The ring keeps the last 100 states; the loaded photo, stored only with the first of
// them, must still be the source of the survivors after that snapshot is overwritten.
TEST(ImageHistory, RingKeepsTheLastHundredStatesAndTheirSource) {
  TImageHistory history;
  const Image loaded = Numbered(0);
  history.Save(loaded, loaded);
  for (int n = 1; n < 105; ++n) history.Save(Numbered(n), loaded);
  EXPECT_EQ(history.Count(), 100);

  Pair p;
  for (int i = 0; i < 99; ++i) {
    p = UndoOnce(history);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(NumberOf(p.source), 0) << "undo " << i + 1;
  }
  EXPECT_EQ(NumberOf(p.display), 5);  // the sixth saved state
  p = UndoOnce(history);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(NumberOf(p.display), 5);
  EXPECT_EQ(NumberOf(p.source), 0);
}

TEST(ImageHistory, SaveAfterUndoDiscardsTheUndoneSteps) {
  TImageHistory history;
  const Image loaded = Numbered(1);
  history.Save(loaded, loaded);
  for (int n = 2; n <= 4; ++n) history.Save(Numbered(n), loaded);
  ASSERT_TRUE(UndoOnce(history).ok);
  ASSERT_TRUE(UndoOnce(history).ok);  // shows 2
  history.Save(Numbered(9), loaded);
  EXPECT_EQ(history.Count(), 3);

  for (int expected : {9, 9}) EXPECT_EQ(NumberOf(RedoOnce(history).display), expected);
  for (int expected : {2, 1, 1}) EXPECT_EQ(NumberOf(UndoOnce(history).display), expected);
  for (int expected : {2, 9, 9}) EXPECT_EQ(NumberOf(RedoOnce(history).display), expected);
}

TEST(ImageHistory, NothingToStepToGivesFalseAndNoImages) {
  TImageHistory history;
  Image d = Numbered(1), s = Numbered(1);
  EXPECT_FALSE(history.Undo(d, s));
  EXPECT_TRUE(d.isNull() && s.isNull());

  history.Save(Image(), Numbered(1));  // no result: nothing stored
  EXPECT_EQ(history.Count(), 0);
  history.Save(Numbered(1), Numbered(1));
  EXPECT_FALSE(UndoOnce(history).ok);
  EXPECT_FALSE(RedoOnce(history).ok);

  history.Save(Numbered(2), Image());
  EXPECT_GT(history.MemoryUsedBytes(), 0);
  history.Clear();
  EXPECT_EQ(history.Count(), 0);
  EXPECT_EQ(history.MemoryUsedBytes(), 0);
  EXPECT_FALSE(UndoOnce(history).ok);
}

// Also in a full ring, where the snapshots past the oldest are the newest ones and
// their source is not the older snapshots' source.
TEST(ImageHistory, WithoutAStoredSourceTheResultStandsIn) {
  TImageHistory history;
  for (int n = 0; n < 60; ++n) history.Save(Numbered(n), Image());
  const Image loaded = Numbered(200);
  history.Save(loaded, loaded);
  for (int n = 61; n < 100; ++n) history.Save(Numbered(n), loaded);
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(UndoOnce(history).ok);
  const Pair p = UndoOnce(history);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(NumberOf(p.display), 58);
  EXPECT_TRUE(SamePixels(p.source, p.display));
}

TEST(HistoryStorage, TransparentResultsAsPngOpaqueAsJpeg92) {
  struct Case {
    int width, height, translucent;
    bool png;
  };
  // A picture needs one translucent pixel in a thousand (at least one) to be kept
  // losslessly; fewer are flattened onto white by JPEG.
  const Case cases[] = {
      {10, 10, 0, false}, {10, 10, 1, true}, {50, 50, 1, false},
      {50, 50, 2, true},  {40, 50, 2, true}, {1, 1, 1, true},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> px(size_t(c.width) * c.height, 0xFF3080C0u);
    for (int i = 0; i < c.translucent; ++i) px[size_t(i) * 7 % px.size()] = 0x80FF0000u;
    const Image image = MakeImage(c.width, c.height, px);
    const QByteArray bytes = EncodeForHistory(image);
    EXPECT_EQ(IsPng(bytes), c.png) << c.width << "x" << c.height << " " << c.translucent;
    if (!c.png) {
      EXPECT_TRUE(IsJpeg(bytes));
      EXPECT_EQ(bytes, gfx::EncodeImage(image, gfx::FileFormat::Jpeg, 92));
    }
  }
  EXPECT_TRUE(EncodeForHistory(Image()).isEmpty());
  EXPECT_TRUE(DecodeFromHistory(QByteArray()).isNull());
  EXPECT_TRUE(DecodeFromHistory(QByteArray("not an image")).isNull());
}

// An erased background comes back exactly, every alpha level and colour; the memory
// count is the stored bytes.
TEST(ImageHistory, TransparentResultRoundTripsExactly) {
  std::vector<uint32_t> px;
  for (uint32_t a : {0u, 1u, 2u, 7u, 64u, 128u, 200u, 254u, 255u})
    for (uint32_t c : {0x000000u, 0xFFFFFFu, 0x12A4F3u, 0x7F0180u}) px.push_back(a << 24 | c);
  const Image transparent = MakeImage(int(px.size()) / 4, 4, px);
  const Image opaque = Numbered(3);

  TImageHistory history;
  history.Save(transparent, transparent);
  history.Save(opaque, transparent);
  EXPECT_EQ(history.MemoryUsedBytes(),
            2 * EncodeForHistory(transparent).size() + EncodeForHistory(opaque).size());

  const Pair p = UndoOnce(history);
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(SamePixels(p.display, transparent));
  EXPECT_TRUE(SamePixels(p.source, transparent));
  const Pair q = RedoOnce(history);
  EXPECT_LE(testutil::MaxChannelDifference(q.display, opaque), 2);
  EXPECT_TRUE(SamePixels(q.source, transparent));
}

// The source is stored when its image object is new to the shown snapshot; the
// notification says so, runs after the lock (it calls back in) and hands over the
// caller's own images.
TEST(ImageHistory, SourceIsStoredOnlyWhenItsObjectChanges) {
  TImageHistory history;
  std::vector<Saved> saved;
  history.SetOnImageSaved([&](const Image& d, const Image& s, bool change) {
    EXPECT_GT(history.MemoryUsedBytes(), 0);
    saved.push_back({d.uniqueId(), s.uniqueId(), change});
  });

  const Image loaded = Numbered(1);
  history.Save(loaded, loaded);
  const int64_t afterLoad = history.MemoryUsedBytes();
  const Image effect = Numbered(2);
  history.Save(effect, loaded);
  EXPECT_EQ(history.MemoryUsedBytes() - afterLoad, EncodeForHistory(effect).size());
  const Image samePixelsNewObject = Numbered(1);
  history.Save(Numbered(3), samePixelsNewObject);
  history.Save(Numbered(4), Image());

  ASSERT_EQ(saved.size(), 4u);
  EXPECT_TRUE(saved[0].isSourceChange);
  EXPECT_EQ(saved[0].displayId, loaded.uniqueId());
  EXPECT_EQ(saved[0].sourceId, loaded.uniqueId());
  EXPECT_FALSE(saved[1].isSourceChange);
  EXPECT_EQ(saved[1].displayId, effect.uniqueId());
  EXPECT_TRUE(saved[2].isSourceChange);
  EXPECT_FALSE(saved[3].isSourceChange);

  // Carrying on from an undone state with the source it returned is no new source.
  const Pair p = UndoOnce(history);
  ASSERT_TRUE(p.ok);
  const int64_t before = history.MemoryUsedBytes();
  const Image next = Numbered(5);
  history.Save(next, p.source);
  EXPECT_FALSE(saved.back().isSourceChange);
  EXPECT_EQ(history.MemoryUsedBytes() - before,
            EncodeForHistory(next).size() - EncodeForHistory(Numbered(4)).size());
  Pair back = UndoOnce(history);
  EXPECT_EQ(NumberOf(back.display), 3);
  EXPECT_EQ(NumberOf(back.source), 1);
  Pair forward = RedoOnce(history);
  EXPECT_EQ(NumberOf(forward.display), 5);
  EXPECT_EQ(NumberOf(forward.source), 1);
}

// A save that follows an undo past a load must not count on the discarded snapshot
// that held that load's source.
TEST(ImageHistory, SourceOfADiscardedStepIsStoredAgain) {
  TImageHistory history;
  const Image first = Numbered(1), second = Numbered(7);
  history.Save(first, first);
  history.Save(Numbered(2), first);
  history.Save(second, second);
  ASSERT_TRUE(UndoOnce(history).ok);
  bool change = false;
  history.SetOnImageSaved([&](const Image&, const Image&, bool c) { change = c; });
  history.Save(Numbered(8), second);  // e.g. the second photo picked from the gallery
  EXPECT_TRUE(change);

  Pair p = RedoOnce(history);
  EXPECT_EQ(NumberOf(p.display), 8);
  EXPECT_EQ(NumberOf(p.source), 7);
  p = UndoOnce(history);
  EXPECT_EQ(NumberOf(p.display), 2);
  EXPECT_EQ(NumberOf(p.source), 1);
}

// A decoded source kept for a slot must not outlive the slot's bytes when the ring
// wraps around onto it.
TEST(ImageHistory, OverwrittenSlotDoesNotServeItsOldSource) {
  TImageHistory history;
  const Image first = Numbered(1);
  history.Save(first, first);
  for (int n = 0; n < 99; ++n) history.Save(Numbered(20 + n), first);
  ASSERT_TRUE(UndoOnce(history).ok);  // decodes and keeps the first photo
  ASSERT_TRUE(RedoOnce(history).ok);
  const Image second = Numbered(200);
  history.Save(second, second);  // overwrites the slot of the first photo

  Pair p = UndoOnce(history);
  EXPECT_EQ(NumberOf(p.display), 20 + 98);
  EXPECT_EQ(NumberOf(p.source), 1);
  p = RedoOnce(history);
  EXPECT_EQ(NumberOf(p.display), 200);
  EXPECT_EQ(NumberOf(p.source), 200);

  // The same when every snapshot has a source of its own, so nothing moves on.
  TImageHistory loads;
  for (int n = 0; n < 100; ++n) loads.Save(Numbered(n), Numbered(n));
  ASSERT_TRUE(RedoOnce(loads).ok);  // keeps the newest slot's source decoded
  for (int n = 100; n < 200; ++n) loads.Save(Numbered(n), Numbered(n));
  p = RedoOnce(loads);
  EXPECT_EQ(NumberOf(p.display), 199);
  EXPECT_EQ(NumberOf(p.source), 199);
}

TEST(ImagesLookEqual, ComparesBySamples) {
  const Image a = SolidImage(16, 16, 0xFF102030u);
  const Image aCopy = SolidImage(16, 16, 0xFF102030u);
  const Image other = SolidImage(16, 16, 0xFF102031u);
  std::vector<uint32_t> onePixel(1, 0xFF000000u);
  struct Case {
    Image x, y;
    int samples;
    bool equal;
  };
  const Case cases[] = {
      {Image(), Image(), 1000, true},
      {a, Image(), 1000, false},
      {Image(), a, 1000, false},
      {a, a, 1000, true},
      {a, aCopy, 1000, true},
      {a, SolidImage(16, 15, 0xFF102030u), 1000, false},
      {a, other, 1000, false},
      {a, other, 1, false},  // every pixel differs, so one sample finds it
      {a, other, 0, false},  // at least one sample
      {MakeImage(1, 1, onePixel), MakeImage(1, 1, {0xFF000001u}), 1000, false},
      {MakeImage(1, 1, onePixel), MakeImage(1, 1, onePixel), 1000, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(ImagesLookEqual(cases[i].x, cases[i].y, cases[i].samples), cases[i].equal)
        << "case " << i;
}

// Two threads save while a third undoes and redoes: the ring stays whole, and every
// pair that comes back belongs together and in order.
TEST(ImageHistory, ConcurrentSavesKeepTheRingConsistent) {
  constexpr int kSaves = 200;
  // One transparent pixel keeps the bytes PNG and exact. The next pixel says which
  // thread (red) and which step (green) a result is from, or which thread's source an
  // image is (blue; a result standing in as source has 0). Big enough that encoding a result takes a while, so
  // the threads interleave.
  constexpr int kSide = 24;
  auto picture = [](uint32_t word) {
    std::vector<uint32_t> px(kSide * kSide, 0xFF000000u);
    px[0] = 0;
    px[1] = word;
    return MakeImage(kSide, kSide, px);
  };
  auto result = [&](int thread, int step) {
    return picture(gfx::PackArgb(255, uint32_t(thread), uint32_t(step) & 0xFF, 0));
  };
  auto threadOf = [](const Image& img) { return int(gfx::RedOf(img.row(0)[1])); };
  auto stepOf = [](const Image& img) { return int(gfx::GreenOf(img.row(0)[1])); };
  auto sourceThreadOf = [](const Image& img) { return int(gfx::BlueOf(img.row(0)[1])); };
  const Image sources[2] = {picture(0xFF000001u), picture(0xFF000002u)};

  TImageHistory history;
  std::atomic<int> notified{0};
  history.SetOnImageSaved([&](const Image&, const Image&, bool) { ++notified; });
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::thread savers[2];
  for (int t = 0; t < 2; ++t)
    savers[t] = std::thread([&, t] {
      for (int i = 0; i < kSaves; ++i) history.Save(result(t + 1, i), sources[t]);
    });
  std::thread walker([&] {
    while (!done) {
      Image d, s;
      // Undo and redo mixed, so saves also land after undone steps.
      const bool ok = (history.Count() % 2) ? history.Undo(d, s) : history.Redo(d, s);
      if (ok && sourceThreadOf(s) != threadOf(d)) ++mismatches;
      if (history.Count() > TImageHistory::kCapacity) ++mismatches;
    }
  });
  for (auto& s : savers) s.join();
  done = true;
  walker.join();

  EXPECT_EQ(notified, 2 * kSaves);
  EXPECT_EQ(mismatches, 0);
  const int count = history.Count();
  ASSERT_GE(count, 2);
  ASSERT_LE(count, TImageHistory::kCapacity);

  // From the newest state back to the oldest: each pair matches, each thread's steps
  // fall, no state repeats until the oldest is reached.
  Pair p = RedoOnce(history);
  while (p.ok) {
    Pair next = RedoOnce(history);
    if (stepOf(next.display) == stepOf(p.display) && threadOf(next.display) == threadOf(p.display))
      break;
    p = next;
  }
  int lastStep[3] = {kSaves, kSaves, kSaves};
  std::set<std::pair<int, int>> seen;
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(p.ok);
    const int t = threadOf(p.display);
    ASSERT_TRUE(t == 1 || t == 2);
    EXPECT_EQ(sourceThreadOf(p.source), t);
    EXPECT_LT(stepOf(p.display), lastStep[t]);
    lastStep[t] = stepOf(p.display);
    EXPECT_TRUE(seen.insert({t, stepOf(p.display)}).second);
    if (i + 1 < count) p = UndoOnce(history);
  }
  const Pair oldest = UndoOnce(history);
  EXPECT_EQ(stepOf(oldest.display), stepOf(p.display));
  EXPECT_EQ(threadOf(oldest.display), threadOf(p.display));
}
