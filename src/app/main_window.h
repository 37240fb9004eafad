// The main window TForm1: the only owner of the document (the source and result
// images), the image history, the parameter table and the finishing settings. It lays
// out the top bar, the effect panel, the workspace and the parameter panel, turns user
// actions into calls of the core libraries, and hosts the effect runner.
//
// Everything here runs on the interface thread. Worker threads reach the window only
// through the runner's synchronous and queued calls, and the destructor shuts the
// runner down (dropping its pending calls and joining its workers) before anything the
// workers could touch is freed.
//
// Every message box and file dialog goes through one of the virtual Ask*/Show* methods,
// so a test can answer them instead of a user.
#pragma once

#include "app/frameless_window.h"
#include "brushes/brush_library.h"
#include "engine/catalogue.h"
#include "engine/effect_host.h"
#include "engine/runner.h"
#include "gfx/image.h"
#include "history/image_history.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class QTimer;
class QKeyEvent;

namespace quillora::ui {

class TForm2;
class TopBar;
class EffectPanel;
class ParameterPanel;
class WorkspaceArea;
class WorkspaceView;
class MainMenu;

// What a file dialog is asked to show. Filters are written as "Name|patterns|Name|..."
// with patterns separated by ";" (the default dialogs turn this into Qt's form).
struct FileDialogRequest {
  QString title;
  QString filter;
  QString defaultExtension;  // without the dot; empty for none
  QString folder;            // where the dialog opens; empty for the current folder
  QString fileName;          // the proposed name (save dialogs)
  int filterIndex = 1;       // 1-based: the filter selected when the dialog opens
};

// "Name|*.a;*.b|Other|*.*" as Qt's name filters ("Name (*.a *.b)", "Other (*)").
QStringList QtNameFilters(const QString& filter);

class TForm1 : public FramelessWindow, public EffectHost {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The splash, shown again by a click on the logo and hidden when this window shows.
  void SetSplash(TForm2* splash);
  // The program's arguments without the program name; the first one that names an
  // existing file (and does not begin with "-psn") is opened when the window shows.
  void SetStartupArguments(const QStringList& arguments);
  // The file a start with `arguments` opens: the first argument when it does not begin
  // with "-psn" and names an existing file; otherwise none.
  static QString CommandLineImageFile(const QStringList& arguments);

  // True once the one-shot initialisation step (10 ms after showing) has run.
  bool Initialized() const { return FInitialized; }
  bool IsEffectRunning() const { return FRunner->IsEffectRunning(); }
  EffectRunner& Runner() { return *FRunner; }

  // ---- documents ------------------------------------------------------------------
  // Opens `path` as source and result. A file that cannot be decoded shows
  // "Failed to load image: " and the path and keeps the document; returns false then.
  bool LoadLargeImage(const QString& path);
  // The built-in sample picture as source and result.
  bool LoadLargeImageFromTImage();
  void OpenImageClick();           // top-bar open, menu "Open", Ctrl+O, "Browse files"
  void SaveImageClick();           // top-bar save, menu "Save", Ctrl+S
  void CopyToClipboardClick();     // Ctrl+C
  void PasteFromClipboardClick();  // Ctrl+V
  void SwapSourceResult();         // F12
  void DefaultImageClick();
  // Dropped files: the first existing one with an accepted extension is opened.
  // Returns whether one was.
  bool HandleDroppedFiles(const QStringList& paths);

  // ---- effects, preview and render -----------------------------------------------
  // As a click on the effect's item in its category list.
  void SelectEffect(int effectId);
  void UpdateListboxes(int category, int index);
  void ApplyEffectClick();
  // The double click on "PARAMETERS": every effect back to its defaults.
  void ResetAllParameters();
  void DrawZoomedPreview();
  void UpdateProgressBar(int value);
  bool PreviewPending() const;
  void LoadParameterFileClick();
  void SaveParameterFileClick();
  void LoadCustomBrushesClick();
  void ResetBrushesClick();

  // ---- history and view ----------------------------------------------------------
  void UndoClick();
  void RedoClick();
  void CropClick();
  void RotateClick(bool clockwise);
  void ToggleSplitView();
  void ToggleMainMenu();

  // The keyboard table, applied before any control sees the key. Returns whether the
  // key was handled (and so consumed).
  bool HandleKey(QKeyEvent* event);

  // ---- EffectHost ------------------------------------------------------------------
  gfx::Image SourceImage() override { return FSourceImage; }
  gfx::Image ResultImage() override { return FResultImage; }
  void SetResultImage(const gfx::Image& image) override;
  void SaveHistory() override;
  void RedrawMainView() override;
  void ShowMessage(const QString& text) override { ShowMessageBox(text); }
  bool EraseBackgroundChecked() override { return FEraseBdChecked; }
  PreviewPaneInfo PreviewPane() override;
  QPoint PreviewStart() override { return {PreviewStartX, PreviewStartY}; }
  void SetPreviewStart(const QPoint& start) override;
  void SetPreviewBitmap(const gfx::Image& bitmap, int percent) override;
  void UpdateProgress(int percent) override { UpdateProgressBar(percent); }
  StoredTextureSettings StoredTexture() override;
  void BrushSetup(int effectId) override { ApplyBrushSetup(effectId, FBrushes); }
  int GlobalBrushCount() override { return FBrushes.GlobalBrushCount; }

 protected:
  // Every message of the window. The default shows a modal message box.
  virtual void ShowMessageBox(const QString& text);
  // The file dialogs; an empty result means the user cancelled. AskSaveFileName may
  // change request.filterIndex to the filter the user left selected.
  virtual QString AskOpenFileName(const FileDialogRequest& request);
  virtual QStringList AskOpenFileNames(const FileDialogRequest& request);
  virtual QString AskSaveFileName(FileDialogRequest& request);

  void showEvent(QShowEvent*) override;
  void closeEvent(QCloseEvent*) override;

  // ---- the document and the state of this window ---------------------------------
  gfx::Image FSourceImage;
  gfx::Image FResultImage;
  QString FSourceFileName;
  TImageHistory FHistory;
  // The images of this run for the gallery, newest first (the strip draws them).
  QList<gfx::Image> FGalleryItems;

  TParamTable Params{};
  int SelectedEffectNumber = 300;
  bool FEraseBdChecked = true;
  float FPreviewZoomFactor = 1.0f;
  int PreviewStartX = 0;
  int PreviewStartY = 0;
  uint32_t FLastPanTime = 0;

  TCustomBrushState FBrushes;
  gfx::Image StoredTextureBitmap;
  int StoredTextureNumber = 1;
  float StoredTextureStrength = 50.0f;
  float StoredTextureScale = 1.0f;

  TopBar* FTopBar = nullptr;
  EffectPanel* FEffectPanel = nullptr;
  ParameterPanel* FParameterPanel = nullptr;
  WorkspaceArea* FWorkspace = nullptr;
  WorkspaceView* FView = nullptr;
  MainMenu* FMainMenu = nullptr;

 private:
  void BuildMenu();
  void ConnectControls();
  void InitializationTimerTimer();
  void FormShow();
  void PreviewTimerTimer();
  void PreviewDebounceTimerTimer();
  void CleanupTimerTimer();
  void RestartPreviewTimer();
  void HistoryImageSaved(const gfx::Image& DisplayImg, const gfx::Image& SourceImg,
                         bool IsSourceChange);
  void AddThumbnailToGallery(const gfx::Image& image);
  // The new document after a load, a paste or the built-in picture: both images, the
  // view fitted, the preview crop centred (`previewInset` from the middle), a history
  // snapshot and a new preview. Split view is switched off unless `keepSplitView`.
  void SetDocument(const gfx::Image& image, int previewInset, bool keepSplitView);
  // Source and result replaced by a crop or a rotation: view, history, preview.
  void ReplaceDocument(const gfx::Image& source, const gfx::Image& result);
  void CropAccepted(const QRect& imageRect);
  void StoreSlidersInto(int effectId);
  void UpdateEffectDependentControls();
  void SliderChanged(int index, int value);
  void PreviewWheelZoom(int delta);
  void SetPreviewZoom(float zoom);
  void PreviewPanMoved(double dx, double dy);
  void PreviewPanFinished();
  void ShowSplashAgain();

  std::unique_ptr<EffectRunner> FRunner;
  QTimer* FInitializationTimer = nullptr;
  QTimer* FPreviewTimer = nullptr;
  QTimer* FPreviewDebounceTimer = nullptr;
  QTimer* FCleanupTimer = nullptr;
  QObject* FKeyFilter = nullptr;
  QPointer<TForm2> FSplash;
  QStringList FStartupArguments;
  bool FInitialized = false;
  bool FShownOnce = false;
  // Clean-up ticks left before the parameter-file icons fade out.
  int FParamIconCountdown = 0;
  // Sub-pixel remainders of a preview pan, so that a slow drag at a high zoom still
  // moves the crop instead of rounding every step away.
  double FPanRemainderX = 0;
  double FPanRemainderY = 0;
};

}  // namespace quillora::ui
