// What the runner needs of the program that hosts it: the document, the preview
// pane, the progress display and messages. The main window implements it; the
// command line and tests have their own. Every method is called on the interface
// thread.
#pragma once

#include "gfx/image.h"

#include <QString>

namespace quillora {

struct PreviewPaneInfo {
  int width = 0;      // the pane's size, rounded to whole pixels
  int height = 0;
  float zoom = 1.0f;  // FPreviewZoomFactor: pane pixels per source pixel
};

struct StoredTextureSettings {
  bool addTexture = false;  // the "Add texture" switch
  gfx::Image bitmap;        // StoredTextureBitmap
  float strength = 0.0f;    // StoredTextureStrength
  float scale = 1.0f;       // StoredTextureScale
};

class EffectHost {
 public:
  virtual ~EffectHost() = default;

  virtual gfx::Image SourceImage() = 0;                 // FSourceImage
  virtual gfx::Image ResultImage() = 0;                 // FResultImage
  virtual void SetResultImage(const gfx::Image& image) = 0;
  // Saves the pair (FResultImage, FSourceImage) into the image history.
  virtual void SaveHistory() = 0;
  virtual void RedrawMainView() = 0;
  virtual void ShowMessage(const QString& text) = 0;
  virtual bool EraseBackgroundChecked() = 0;            // FEraseBdChecked
  // The image the manual brush paints over, when it runs an effect on a region.
  virtual gfx::Image ManualBrushBaseImage() { return {}; }

  virtual PreviewPaneInfo PreviewPane() = 0;
  virtual QPoint PreviewStart() = 0;                    // PreviewStartX, PreviewStartY
  virtual void SetPreviewStart(const QPoint& start) = 0;
  // The preview pane's bitmap becomes `bitmap`; `percent` is shown as "N%" when
  // 0 < percent <= 100 and hidden otherwise.
  virtual void SetPreviewBitmap(const gfx::Image& bitmap, int percent) = 0;

  // The progress bar; a value outside 0..100 hides it.
  virtual void UpdateProgress(int percent) = 0;

  virtual StoredTextureSettings StoredTexture() { return {}; }
  // The per-effect brush set-up before effects that stamp brushes start.
  virtual void BrushSetup(int effectId) { (void)effectId; }
  // GlobalBrushCount: how many brushes effect 304 takes from the working sheet.
  virtual int GlobalBrushCount() { return 40; }
};

}  // namespace quillora
