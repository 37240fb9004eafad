// The undo/redo memory of the document: a ring of the last 100 (result, source) pairs.
//
// Every change of the document stores one snapshot. Snapshots are kept encoded, not as
// pixels, so that a hundred full-size steps fit in memory: JPEG at quality 92, or PNG
// when the result has transparency worth keeping (an erased background must come back
// exactly). The source image is stored only when it changes; a snapshot without one
// takes the source of the nearest earlier snapshot that has one. Undo and redo decode
// the pair again; the last decoded source is kept, so walking back and forth within one
// source decodes it once.
//
// Threading: every public operation may be called from any thread. Save encodes before
// it takes the lock, so a slow encode never blocks an undo; Undo and Redo decode under
// the lock. The notification runs on the thread that called Save, after the lock has
// been released, so it may call back into the history.
#pragma once

#include "gfx/image.h"

#include <QByteArray>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace quillora {

using gfx::Image;

enum TSnapshotType {
  stEffectChange = 0,  // only the result is stored
  stSourceChange = 1,  // the source is stored too
};

// One slot of the ring.
struct TSnapshot {
  QByteArray DisplayData;  // the encoded result
  QByteArray SourceData;   // the encoded source; empty for stEffectChange
  TSnapshotType SnapshotType = stEffectChange;
  std::chrono::system_clock::time_point Timestamp;
  // The unique id of the source image object the caller saved with this snapshot,
  // or, when no source was stored for it, the id its inherited source is known by.
  // A later save with an image of this id needs no source of its own.
  uint64_t SourceId = 0;
};

// Called after each stored snapshot with the caller's own images. IsSourceChange is
// true when the snapshot started a new source (its source was stored).
using TImageSavedEvent =
    std::function<void(const Image& DisplayImg, const Image& SourceImg, bool IsSourceChange)>;

// The storage encoding of one image: empty bytes for an empty image; PNG when the
// image has significant transparency (at least max(width * height / 1000, 1) pixels
// with alpha below 255), otherwise JPEG at quality 92, or PNG for an image too large
// for JPEG. Never throws: a failed encode gives empty bytes.
QByteArray EncodeForHistory(const Image& image);
// The image back from its storage bytes; a null image for empty or undecodable bytes.
// Never throws.
Image DecodeFromHistory(const QByteArray& data);

// Whether two images look the same, judged from `samples` pixels at pseudo-random
// positions (xorshift32 seeded from both ids and the size), so the answer for a given
// pair is always the same. Null images equal only each other; the same image object
// is always equal; images of different sizes are different. Used to decide whether a
// result adds anything to the gallery beside its source. Any thread.
bool ImagesLookEqual(const Image& a, const Image& b, int samples = 1000);

class TImageHistory {
 public:
  static constexpr int kCapacity = 100;

  TImageHistory();
  TImageHistory(const TImageHistory&) = delete;
  TImageHistory& operator=(const TImageHistory&) = delete;

  // Set before saves start, or at any time: Save calls the handler that was set when
  // it stored its snapshot.
  void SetOnImageSaved(TImageSavedEvent handler);

  // Stores (DisplayImg, SourceImg) as the newest snapshot. Does nothing unless
  // DisplayImg has pixels and SourceImg is null or has pixels; nothing is stored and
  // nobody notified when DisplayImg cannot be encoded. The source is stored unless it
  // is the image object of the shown snapshot's source (the one saved with it, or the
  // one Undo or Redo returned for it); an absent or unencodable source is not stored.
  // Steps undone before the save are discarded; at 100 snapshots the oldest one goes.
  // Any thread; the notification follows on this thread once the lock is released.
  void Save(const Image& DisplayImg, const Image& SourceImg);

  // One step back (Undo) or forward (Redo). True with both images when there is more
  // than one snapshot: at the oldest (or newest) snapshot the same pair comes back
  // again. False, with both images null, when there is nothing to step to or the
  // snapshot cannot be decoded; the history is then unchanged. SourceImg is the result
  // itself when no source was stored up to that snapshot.
  bool Undo(Image& DisplayImg, Image& SourceImg);
  bool Redo(Image& DisplayImg, Image& SourceImg);

  // Empties every slot and forgets the decoded source.
  void Clear();
  // The stored bytes of all snapshots.
  int64_t MemoryUsedBytes() const;
  // The number of snapshots held, 0 to 100.
  int Count() const;

 private:
  static int Next(int i) { return (i + 1) % kCapacity; }
  static int Prev(int i) { return (i + kCapacity - 1) % kCapacity; }
  int OldestIndex() const { return (FSaveIndex - FCount + kCapacity + 1) % kCapacity; }
  bool SourceIsCurrent(uint64_t id) const;
  void DropCache();
  void DiscardUndoneSteps();
  void WriteNewest(TSnapshot&& snapshot);
  bool Step(bool back, Image& DisplayImg, Image& SourceImg);

  mutable std::mutex FCritical;  // guards every field below
  std::array<TSnapshot, kCapacity> FBuffer;
  int FSaveIndex = -1;  // the newest snapshot, -1 when empty
  int FCursor = -1;     // the snapshot shown, -1 when empty; behind FSaveIndex after undo
  int FCount = 0;
  Image FCachedSourceImg;
  int FCachedSourceIndex = -1;  // -1: the cache holds a result standing in as source
  // The id of the source image the last Undo or Redo returned, when it was decoded
  // from a stored source: the caller carries on with that object, and saving it again
  // must not store the same source a second time. 0 otherwise.
  uint64_t FRestoredSourceId = 0;
  TImageSavedEvent FOnImageSaved;
};

}  // namespace quillora
