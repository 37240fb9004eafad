// The command line's host for the runner: a document without a window, and a
// progress bar on standard error when it is a terminal.
#pragma once

#include "brushes/brush_library.h"
#include "engine/effect_host.h"

#include <QString>

namespace quillora {

class CliHost : public EffectHost {
 public:
  explicit CliHost(bool showProgress) : showProgress_(showProgress) {}

  void Load(const gfx::Image& image) { source_ = result_ = image; }
  // The texture every render is finished with, as the "Add texture" switch does.
  void SetTexture(const StoredTextureSettings& texture) { texture_ = texture; }
  // True once a finished render was stored (the runner saves the history then).
  bool Rendered() const { return rendered_; }
  const QString& LastMessage() const { return lastMessage_; }

  gfx::Image SourceImage() override { return source_; }
  gfx::Image ResultImage() override { return result_; }
  void SetResultImage(const gfx::Image& image) override { result_ = image; }
  void SaveHistory() override { rendered_ = true; }
  void RedrawMainView() override {}
  void ShowMessage(const QString& text) override { lastMessage_ = text; }
  bool EraseBackgroundChecked() override { return true; }
  PreviewPaneInfo PreviewPane() override { return {225, 225, 1.0f}; }
  QPoint PreviewStart() override { return start_; }
  void SetPreviewStart(const QPoint& start) override { start_ = start; }
  void SetPreviewBitmap(const gfx::Image&, int) override {}
  void UpdateProgress(int percent) override;
  StoredTextureSettings StoredTexture() override { return texture_; }
  // The built-in sheets, as the desktop program has them before custom brushes load.
  void BrushSetup(int effectId) override { ApplyBrushSetup(effectId, brushes_); }
  int GlobalBrushCount() override { return brushes_.GlobalBrushCount; }
  // Ends the progress line, if one is shown.
  void FinishProgress();

 private:
  bool showProgress_;
  bool rendered_ = false;
  bool progressShown_ = false;
  int lastPercent_ = -1;
  gfx::Image source_, result_;
  QPoint start_;
  QString lastMessage_;
  StoredTextureSettings texture_;
  TCustomBrushState brushes_;
};

}  // namespace quillora
