// A host for the runner that records what reaches the interface.
#pragma once

#include "engine/effect_host.h"
#include "engine/runner.h"

#include <QStringList>
#include <vector>

class FakeHost : public quillora::EffectHost {
 public:
  gfx::Image source, result;
  int historySaves = 0;
  int redraws = 0;
  QStringList messages;
  bool eraseBackground = true;
  quillora::PreviewPaneInfo pane{225, 225, 1.0f};
  QPoint previewStart{0, 0};
  std::vector<gfx::Image> paneBitmaps;
  std::vector<int> panePercents;
  std::vector<int> progress;
  std::vector<gfx::Image> historyResults;

  gfx::Image SourceImage() override { return source; }
  gfx::Image ResultImage() override { return result; }
  void SetResultImage(const gfx::Image& image) override { result = image; }
  void SaveHistory() override {
    ++historySaves;
    historyResults.push_back(result);
  }
  void RedrawMainView() override { ++redraws; }
  void ShowMessage(const QString& text) override { messages << text; }
  bool EraseBackgroundChecked() override { return eraseBackground; }
  quillora::PreviewPaneInfo PreviewPane() override { return pane; }
  QPoint PreviewStart() override { return previewStart; }
  void SetPreviewStart(const QPoint& start) override { previewStart = start; }
  void SetPreviewBitmap(const gfx::Image& bitmap, int percent) override {
    paneBitmaps.push_back(bitmap);
    panePercents.push_back(percent);
  }
  void UpdateProgress(int percent) override { progress.push_back(percent); }

  void load(const gfx::Image& image) { source = result = image; }
};
