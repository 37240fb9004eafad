#include "history/image_history.h"

#include "gfx/codec.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <exception>

namespace quillora {

namespace {

// Enough translucent pixels that flattening them for JPEG would visibly change the
// picture: one in a thousand, and at least one. Counting stops at the threshold, so an
// erased background is recognised after its first few rows.
bool HasSignificantTransparency(const Image& image) {
  const int64_t threshold = std::max<int64_t>(int64_t(image.width()) * image.height() / 1000, 1);
  int64_t translucent = 0;
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* row = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if (gfx::AlphaOf(row[x]) != 255 && ++translucent >= threshold) return true;
  }
  return false;
}

uint32_t Xorshift32(uint32_t v) {
  v ^= v << 13;
  v ^= v >> 17;
  v ^= v << 5;
  return v;
}

}  // namespace

QByteArray EncodeForHistory(const Image& image) {
  if (image.isEmpty()) return {};
  // A step the history cannot store must not fail the user's action that made it, so
  // every failure (including running out of memory) becomes "not stored".
  try {
    if (HasSignificantTransparency(image)) return gfx::EncodeImage(image, gfx::FileFormat::Png);
    try {
      return gfx::EncodeImage(image, gfx::FileFormat::Jpeg, 92);
    } catch (const std::exception&) {
      // JPEG cannot hold sides above 65500 pixels; PNG can, and a large step kept
      // losslessly is better than a step lost.
      return gfx::EncodeImage(image, gfx::FileFormat::Png);
    }
  } catch (const std::exception&) {
    return {};
  }
}

Image DecodeFromHistory(const QByteArray& data) {
  if (data.isEmpty()) return {};
  try {
    return gfx::DecodeImageData(data);
  } catch (const std::exception&) {
    return {};
  }
}

bool ImagesLookEqual(const Image& a, const Image& b, int samples) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  if (a.uniqueId() == b.uniqueId()) return true;
  if (a.width() != b.width() || a.height() != b.height()) return false;
  if (a.width() <= 0 || a.height() <= 0) return true;

  const uint32_t w = uint32_t(a.width()), h = uint32_t(a.height());
  uint32_t s = uint32_t(a.uniqueId()) ^ uint32_t(b.uniqueId()) ^ (w * 73856093u) ^ (h * 19349663u);
  // Zero is xorshift's fixed point: every sample would land on pixel (0, 0).
  if (s == 0) s = 0x9E3779B9u;
  const int64_t count = std::min<int64_t>(std::max(samples, 1), int64_t(w) * h);
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t x1 = Xorshift32(s);
    const uint32_t x2 = Xorshift32(x1);
    s = x2;
    const uint32_t column = x1 % w, row = x2 % h;
    if (a.row(int(row))[column] != b.row(int(row))[column]) return false;
  }
  return true;
}

TImageHistory::TImageHistory() = default;

void TImageHistory::SetOnImageSaved(TImageSavedEvent handler) {
  std::lock_guard lock(FCritical);
  FOnImageSaved = std::move(handler);
}

bool TImageHistory::SourceIsCurrent(uint64_t id) const {
  return FCount > 0 && (id == FBuffer[FCursor].SourceId || id == FRestoredSourceId);
}

void TImageHistory::DropCache() {
  FCachedSourceImg = Image();
  FCachedSourceIndex = -1;
}

void TImageHistory::DiscardUndoneSteps() {
  if (FCount == 0 || FCursor == FSaveIndex) return;
  const int newCount = (FCursor - OldestIndex() + kCapacity) % kCapacity + 1;
  for (int i = Next(FCursor);; i = Next(i)) {
    FBuffer[i] = TSnapshot();
    if (i == FSaveIndex) break;
  }
  FSaveIndex = FCursor;
  FCount = newCount;
  DropCache();
}

void TImageHistory::WriteNewest(TSnapshot&& snapshot) {
  const int slot = Next(FSaveIndex);  // 0 when empty, since FSaveIndex is then -1
  if (FCount == kCapacity) {
    // The slot is the oldest snapshot. When it holds the source that the following
    // snapshots inherit, that source moves on to the new oldest one; otherwise those
    // snapshots would come back with their result standing in for the photo.
    TSnapshot& heir = FBuffer[Next(slot)];
    if (FBuffer[slot].SnapshotType == stSourceChange && heir.SnapshotType == stEffectChange) {
      heir.SourceData = std::move(FBuffer[slot].SourceData);
      heir.SnapshotType = stSourceChange;
      if (FCachedSourceIndex == slot) FCachedSourceIndex = Next(slot);
    }
  }
  // The cached image belongs to the bytes being overwritten.
  if (FCachedSourceIndex == slot) DropCache();
  FBuffer[slot] = std::move(snapshot);
  FSaveIndex = FCursor = slot;
  if (FCount < kCapacity) ++FCount;
}

void TImageHistory::Save(const Image& DisplayImg, const Image& SourceImg) {
  if (DisplayImg.isEmpty()) return;
  if (!SourceImg.isNull() && SourceImg.isEmpty()) return;
  const uint64_t sourceId = SourceImg.isNull() ? 0 : SourceImg.uniqueId();

  TSnapshot snapshot;
  snapshot.DisplayData = EncodeForHistory(DisplayImg);
  if (snapshot.DisplayData.isEmpty()) return;

  QByteArray sourceData;
  bool sourceEncoded = false;
  bool isSourceChange = false;
  TImageSavedEvent handler;
  for (;;) {
    std::unique_lock lock(FCritical);
    // Decided under the lock, against the snapshot the new one will follow: a save on
    // another thread, or an undo, may have changed it since the last look.
    const bool newSource = sourceId != 0 && !SourceIsCurrent(sourceId);
    if (newSource && !sourceEncoded) {
      // Encoding takes long; never under the lock. Runs at most once per save.
      lock.unlock();
      sourceData = EncodeForHistory(SourceImg);
      sourceEncoded = true;
      continue;
    }
    // An unencodable source is not stored; the snapshot inherits the earlier one.
    isSourceChange = newSource && !sourceData.isEmpty();
    DiscardUndoneSteps();
    const uint64_t inheritedId = FCount > 0 ? FBuffer[FCursor].SourceId : 0;
    if (isSourceChange) {
      snapshot.SourceData = std::move(sourceData);
      snapshot.SnapshotType = stSourceChange;
    }
    snapshot.SourceId = isSourceChange || (sourceId != 0 && !newSource) ? sourceId : inheritedId;
    snapshot.Timestamp = std::chrono::system_clock::now();
    WriteNewest(std::move(snapshot));
    FRestoredSourceId = 0;
    handler = FOnImageSaved;
    break;
  }
  if (handler) handler(DisplayImg, SourceImg, isSourceChange);
}

bool TImageHistory::Step(bool back, Image& DisplayImg, Image& SourceImg) {
  DisplayImg = Image();
  SourceImg = Image();
  std::lock_guard lock(FCritical);
  if (FCount <= 1) return false;

  const int oldest = OldestIndex();
  int cursor = FCursor;
  if (back) {
    if (cursor != oldest) cursor = Prev(cursor);
  } else if (cursor != FSaveIndex) {
    cursor = Next(cursor);
  }

  const Image display = DecodeFromHistory(FBuffer[cursor].DisplayData);
  if (display.isNull()) return false;

  // The source in effect is the one of the nearest snapshot at or before the cursor
  // that stored one. The walk ends at the oldest snapshot: past it, a full ring holds
  // the newest snapshots, whose source is not this one's.
  int sourceSlot = -1;
  for (int i = cursor, n = (cursor - oldest + kCapacity) % kCapacity + 1; n > 0; --n, i = Prev(i))
    if (FBuffer[i].SnapshotType == stSourceChange) {
      sourceSlot = i;
      break;
    }
  Image source;
  if (sourceSlot < 0) {
    // Images are immutable, so the result itself can stand in as the source.
    source = display;
  } else if (sourceSlot == FCachedSourceIndex && !FCachedSourceImg.isNull()) {
    source = FCachedSourceImg;
  } else {
    source = DecodeFromHistory(FBuffer[sourceSlot].SourceData);
    if (source.isNull()) return false;
  }

  FCursor = cursor;
  FCachedSourceImg = source;
  FCachedSourceIndex = sourceSlot;
  FRestoredSourceId = sourceSlot >= 0 ? source.uniqueId() : 0;
  DisplayImg = display;
  SourceImg = source;
  return true;
}

bool TImageHistory::Undo(Image& DisplayImg, Image& SourceImg) {
  return Step(true, DisplayImg, SourceImg);
}

bool TImageHistory::Redo(Image& DisplayImg, Image& SourceImg) {
  return Step(false, DisplayImg, SourceImg);
}

void TImageHistory::Clear() {
  std::lock_guard lock(FCritical);
  FBuffer.fill(TSnapshot());
  FSaveIndex = FCursor = -1;
  FCount = 0;
  DropCache();
  FRestoredSourceId = 0;
}

int64_t TImageHistory::MemoryUsedBytes() const {
  std::lock_guard lock(FCritical);
  int64_t total = 0;
  for (int i = OldestIndex(), n = 0; n < FCount; ++n, i = Next(i))
    total += FBuffer[i].DisplayData.size() + FBuffer[i].SourceData.size();
  return total;
}

int TImageHistory::Count() const {
  std::lock_guard lock(FCritical);
  return FCount;
}

}  // namespace quillora
