#include "app/main_window.h"

#include "app/effect_panel.h"
#include "app/main_menu.h"
#include "app/parameter_panel.h"
#include "app/splash.h"
#include "app/top_bar.h"
#include "app/workspace_area.h"
#include "app/workspace_view.h"
#include "brushes/image_repository.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/ui_dispatcher.h"
#include "formats/image_save.h"
#include "formats/parameter_files.h"
#include "gfx/codec.h"
#include "gfx/surface.h"
#include "tools/rotate.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace quillora::ui {

namespace {

QString T(const char* english) { return Translate(QString::fromUtf8(english)); }
QString What(const std::exception& e) { return QString::fromUtf8(e.what()); }

const char* const kOpenImageFilter = "Image Files|*.jpg;*.jpeg;*.png;*.bmp|All Files|*.*";
const char* const kSaveImageFilter =
    "JPEG Image|*.jpg;*.jpeg|PNG Image|*.png|WebP Image|*.webp|All Files|*.*";
const char* const kParameterFilter = "Quillora Parameters (*.qlp)|*.qlp|All Files (*.*)|*.*";
const char* const kBrushFilter =
    "PNG and ZIP Files|*.png;*.zip|PNG Images|*.png|ZIP Archives|*.zip|All Files|*.*";

constexpr int kPreviewIntervalMs = 500;
constexpr int kPreviewDebounceMs = 1000;
constexpr int kCleanupIntervalMs = 2000;
constexpr int kInitializationDelayMs = 10;
// A pan restarts the preview debounce at most this often while the mouse moves.
constexpr uint32_t kPanDebounceStepMs = 201;
constexpr float kPreviewZoomMin = 0.25f;
constexpr float kPreviewZoomMax = 5.0f;
// Clean-up ticks (2 s each) the parameter-file icons stay after the pointer left.
constexpr int kParamIconTicks = 2;

constexpr int kLeftPanelWidth = 236;
constexpr int kRightPanelWidth = 270;

bool IsBrushEffect(int id) { return id >= 302 && id <= 304; }

QString BusyMessage(int runningEffect) {
  return T("Please wait for ") + QLatin1Char('"') + GetEffectName(runningEffect) +
         QLatin1Char('"') + T(" to finish processing.");
}

// The first extension a dialog filter's patterns name ("*.png;*.x" gives "png"); empty
// for "*.*" and "*".
QString FirstExtension(const QString& qtFilter) {
  const int open = qtFilter.indexOf(QLatin1Char('('));
  const int close = qtFilter.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close <= open) return {};
  const QString first = qtFilter.mid(open + 1, close - open - 1).section(QLatin1Char(' '), 0, 0);
  if (!first.startsWith(QLatin1String("*.")) || first == QLatin1String("*.*")) return {};
  return first.mid(2);
}

// Takes the keys of the main window before any of its controls: the keyboard table
// belongs to the window, whatever has the focus.
class KeyFilter : public QObject {
 public:
  KeyFilter(TForm1* form) : QObject(form), form_(form) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != form_) return false;
    return form_->HandleKey(static_cast<QKeyEvent*>(event));
  }

 private:
  TForm1* form_;
};

}  // namespace

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns)
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    QString name = parts[i];
    // A name that already shows its patterns ("Quillora Parameters (*.qlp)") keeps them
    // out of the name, or Qt would take the wrong parenthesis for the patterns.
    const int paren = name.indexOf(QLatin1String(" ("));
    if (paren > 0) name.truncate(paren);
    filters << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

// ---- creation and lifetime -----------------------------------------------------------

TForm1::TForm1(QWidget* parent) : FramelessWindow(parent) {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Quillora v4.20"));

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect work = screen->availableGeometry();
    setMinimumSize(MinimumSizeFor(work));
    const QSize full = screen->size();
    QSize size(RoundEven(full.width() * 0.98), RoundEven(full.height() * 0.98));
    size = size.expandedTo(minimumSize());
    resize(size);
    move(work.center() - QPoint(size.width() / 2, size.height() / 2));
  } else {
    setMinimumSize(1080, 768);
  }

  FRunner = std::make_unique<EffectRunner>(*this);
  FHistory.SetOnImageSaved([this](const gfx::Image& d, const gfx::Image& s, bool change) {
    HistoryImageSaved(d, s, change);
  });

  FTopBar = new TopBar(this);
  FEffectPanel = new EffectPanel(this);
  FWorkspace = new WorkspaceArea(this);
  FView = FWorkspace->view;
  FParameterPanel = new ParameterPanel(this);
  FEffectPanel->setFixedWidth(kLeftPanelWidth);
  FParameterPanel->setFixedWidth(kRightPanelWidth);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(10, 4, 10, 12);
  root->setSpacing(8);
  root->addWidget(FTopBar);
  auto* body = new QHBoxLayout;
  body->setSpacing(10);
  body->addWidget(FEffectPanel);
  body->addWidget(FWorkspace, 1);
  body->addWidget(FParameterPanel);
  root->addLayout(body, 1);
  SetTitleBar(FTopBar);

  FMainMenu = new MainMenu(this);
  FMainMenu->SetAnchor(FTopBar->menuButton);
  BuildMenu();

  FInitializationTimer = new QTimer(this);
  FInitializationTimer->setSingleShot(true);
  FInitializationTimer->setInterval(kInitializationDelayMs);
  FPreviewTimer = new QTimer(this);
  FPreviewTimer->setInterval(kPreviewIntervalMs);
  FPreviewDebounceTimer = new QTimer(this);
  FPreviewDebounceTimer->setInterval(kPreviewDebounceMs);
  FCleanupTimer = new QTimer(this);
  FCleanupTimer->setInterval(kCleanupIntervalMs);
  connect(FInitializationTimer, &QTimer::timeout, this, &TForm1::InitializationTimerTimer);
  connect(FPreviewTimer, &QTimer::timeout, this, &TForm1::PreviewTimerTimer);
  connect(FPreviewDebounceTimer, &QTimer::timeout, this, &TForm1::PreviewDebounceTimerTimer);
  connect(FCleanupTimer, &QTimer::timeout, this, &TForm1::CleanupTimerTimer);
  FCleanupTimer->start();

  ConnectControls();

  // Both switches start on; "Erase background" mirrors FEraseBdChecked.
  FParameterPanel->eraseSwitch->setChecked(FEraseBdChecked);
  FParameterPanel->textureSwitch->setChecked(true);
  FParameterPanel->previewPane->SetZoomLabel(FPreviewZoomFactor);
  FEffectPanel->SetMarkers(SelectedEffectNumber / 100, SelectedEffectNumber % 100);
  UpdateEffectDependentControls();

  FKeyFilter = new KeyFilter(this);
  qApp->installEventFilter(FKeyFilter);
}

TForm1::~TForm1() {
  qApp->removeEventFilter(FKeyFilter);
  for (QTimer* t : {FInitializationTimer, FPreviewTimer, FPreviewDebounceTimer, FCleanupTimer})
    t->stop();
  // Before any image, the history or a control goes: drops the workers' pending calls
  // and waits for every worker to end, so no late call reaches freed state.
  FRunner->Shutdown();
  FHistory.SetOnImageSaved(nullptr);
}

void TForm1::SetSplash(TForm2* splash) { FSplash = splash; }

void TForm1::SetStartupArguments(const QStringList& arguments) { FStartupArguments = arguments; }

QString TForm1::CommandLineImageFile(const QStringList& arguments) {
  if (arguments.isEmpty()) return {};
  const QString& first = arguments.first();
  // "-psn_..." is the process serial number some systems pass to programs they start.
  if (first.startsWith(QLatin1String("-psn"))) return {};
  return QFileInfo(first).isFile() ? first : QString();
}

void TForm1::BuildMenu() {
  FMainMenu->AddSection(T("FILE"));
  FMainMenu->AddEntry(T("Open"), QStringLiteral("CTRL+O"), [this] { OpenImageClick(); });
  FMainMenu->AddEntry(T("Save"), QStringLiteral("CTRL+S"), [this] { SaveImageClick(); });
  FMainMenu->AddEntry(T("Quit"), QStringLiteral("CTRL+Q"), [this] { close(); });
  FMainMenu->AddSection(T("EDIT"));
  FMainMenu->AddEntry(T("Undo"), QStringLiteral("CTRL+Z"), [this] { UndoClick(); });
  FMainMenu->AddEntry(T("Redo"), QStringLiteral("CTRL+SHIFT+Z"), [this] { RedoClick(); });
  FMainMenu->AddEntry(T("Copy to clipboard"), QStringLiteral("CTRL+C"),
                      [this] { CopyToClipboardClick(); });
  FMainMenu->AddEntry(T("Paste from clipboard"), QStringLiteral("CTRL+V"),
                      [this] { PasteFromClipboardClick(); });
  FMainMenu->AddEntry(T("View source image"), QStringLiteral("S"), [this] { ToggleSplitView(); });
  FMainMenu->AddEntry(T("Swap Source/Result"), QStringLiteral("F12"),
                      [this] { SwapSourceResult(); });
}

void TForm1::ConnectControls() {
  TopBar* bar = FTopBar;
  connect(bar->logo, &QAbstractButton::clicked, this, &TForm1::ShowSplashAgain);
  connect(bar->menuButton, &QAbstractButton::clicked, this, &TForm1::ToggleMainMenu);
  connect(bar->openButton, &QAbstractButton::clicked, this, &TForm1::OpenImageClick);
  connect(bar->saveButton, &QAbstractButton::clicked, this, &TForm1::SaveImageClick);
  connect(bar->copyButton, &QAbstractButton::clicked, this, &TForm1::CopyToClipboardClick);
  connect(bar->pasteButton, &QAbstractButton::clicked, this, &TForm1::PasteFromClipboardClick);
  connect(bar->undoButton, &QAbstractButton::clicked, this, &TForm1::UndoClick);
  connect(bar->redoButton, &QAbstractButton::clicked, this, &TForm1::RedoClick);
  connect(bar->zoomOutButton, &QAbstractButton::clicked, FView, &WorkspaceView::ZoomOut);
  connect(bar->zoomInButton, &QAbstractButton::clicked, FView, &WorkspaceView::ZoomIn);
  connect(bar->zoomLabel, &QAbstractButton::clicked, FView, &WorkspaceView::FullSizeAndCenter);
  connect(bar->zoomLabel, &ZoomLabelButton::rightClicked, FView, &WorkspaceView::BestFitAndCenter);
  connect(bar->splitButton, &QAbstractButton::clicked, this, &TForm1::ToggleSplitView);
  connect(bar->minimizeButton, &QAbstractButton::clicked, this, &QWidget::showMinimized);
  connect(bar->maximizeButton, &QAbstractButton::clicked, this,
          &FramelessWindow::ToggleCustomMaximize);
  connect(bar->closeButton, &QAbstractButton::clicked, this, &QWidget::close);
  connect(this, &FramelessWindow::customMaximizedChanged, bar, &TopBar::SetMaximizedShown);

  connect(FView, &WorkspaceView::zoomChanged, bar->zoomLabel, &ZoomLabelButton::SetZoom);
  connect(FView, &WorkspaceView::splitViewChanged, this, [this](bool on) {
    const QSignalBlocker block(FEffectPanel->showOriginal);
    FEffectPanel->showOriginal->setChecked(on);
    FTopBar->SetSplitViewShown(on);
  });
  connect(FView, &WorkspaceView::cropModeChanged, this,
          [this](bool active) { FEffectPanel->cropButton->setChecked(active); });
  connect(FView, &WorkspaceView::cropAccepted, this, &TForm1::CropAccepted);
  // A render started while the selection was open would hand back a result of the old
  // size for the cropped source; the crop waits for it, and the selection stays.
  FView->SetCropGuard([this] {
    if (!IsEffectRunning()) return true;
    ShowMessageBox(BusyMessage(FRunner->CurrentEffectNumber()));
    return false;
  });
  connect(FView, &WorkspaceView::viewDoubleClicked, this, [this] {
    if (!FResultImage.isEmpty()) ShowFullScreenViewer(this, FResultImage, !FView->IsZooming());
  });
  connect(FWorkspace, &WorkspaceArea::filesDropped, this, &TForm1::HandleDroppedFiles);
  connect(FWorkspace, &WorkspaceArea::resized, this, [this] {
    if (!FResultImage.isEmpty()) FView->BestFitAndCenter();
  });
  connect(FWorkspace->dropZone->browseLink, &QAbstractButton::clicked, this,
          &TForm1::OpenImageClick);

  EffectPanel* left = FEffectPanel;
  connect(left, &EffectPanel::effectClicked, this, &TForm1::SelectEffect);
  connect(left->cropButton, &QAbstractButton::clicked, this, &TForm1::CropClick);
  connect(left->rotateLeftButton, &QAbstractButton::clicked, this, [this] { RotateClick(false); });
  connect(left->rotateRightButton, &QAbstractButton::clicked, this, [this] { RotateClick(true); });
  connect(left->defaultImageButton, &QAbstractButton::clicked, this, &TForm1::DefaultImageClick);
  connect(left->showOriginal, &QCheckBox::toggled, this, [this](bool on) {
    if (FView->SplitView() != on) FView->SetSplitView(on);
    FTopBar->SetSplitViewShown(FView->SplitView());
  });

  ParameterPanel* right = FParameterPanel;
  for (int i = 0; i < 5; ++i)
    connect(right->sliders[size_t(i)], &QSlider::valueChanged, this,
            [this, i](int v) { SliderChanged(i, v); });
  connect(right->paramsTitle, &ParamsTitle::doubleClicked, this, &TForm1::ResetAllParameters);
  connect(right, &ParameterPanel::paramsHovered, this, [this] {
    FParameterPanel->ShowParamIcons();
    FParamIconCountdown = kParamIconTicks;
  });
  connect(right->loadParamsButton, &QAbstractButton::clicked, this,
          &TForm1::LoadParameterFileClick);
  connect(right->saveParamsButton, &QAbstractButton::clicked, this,
          &TForm1::SaveParameterFileClick);
  connect(right->applyButton, &QAbstractButton::clicked, this, &TForm1::ApplyEffectClick);
  connect(right->eraseSwitch, &QAbstractButton::toggled, this,
          [this](bool on) { FEraseBdChecked = on; });
  connect(right->textureSwitch, &QAbstractButton::toggled, this, &TForm1::RestartPreviewTimer);
  connect(right->loadBrushesButton, &QAbstractButton::clicked, this,
          &TForm1::LoadCustomBrushesClick);
  connect(right->resetBrushesButton, &QAbstractButton::clicked, this, &TForm1::ResetBrushesClick);

  ui::PreviewPane* pane = right->previewPane;
  connect(pane, &ui::PreviewPane::wheelZoom, this, &TForm1::PreviewWheelZoom);
  connect(pane, &ui::PreviewPane::zoomInClicked, this,
          [this] { SetPreviewZoom(std::min(FPreviewZoomFactor * 1.2f, kPreviewZoomMax)); });
  connect(pane, &ui::PreviewPane::zoomOutClicked, this,
          [this] { SetPreviewZoom(std::max(FPreviewZoomFactor / 1.2f, kPreviewZoomMin)); });
  connect(pane, &ui::PreviewPane::zoomResetClicked, this, [this] { SetPreviewZoom(1.0f); });
  connect(pane, &ui::PreviewPane::panStarted, this, [this] {
    FRunner->SetCancel(true);
    FPreviewTimer->stop();
    FPanRemainderX = FPanRemainderY = 0;
  });
  connect(pane, &ui::PreviewPane::panMoved, this, &TForm1::PreviewPanMoved);
  connect(pane, &ui::PreviewPane::panFinished, this, &TForm1::PreviewPanFinished);
}

void TForm1::showEvent(QShowEvent* event) {
  FramelessWindow::showEvent(event);
  if (!FShownOnce) {
    FShownOnce = true;
    FormShow();
  }
}

void TForm1::FormShow() {
  FInitializationTimer->start();
  if (FSplash) {
    FSplash->SetMainWindowReady(true);
    FSplash->hide();
  }
  const QString file = CommandLineImageFile(FStartupArguments);
  if (!file.isEmpty()) {
    try {
      LoadLargeImage(file);
    } catch (const std::exception& e) {
      ShowMessageBox(T("Error loading image: ") + What(e));
    }
  }
}

void TForm1::InitializationTimerTimer() {
  FInitializationTimer->stop();
  // The textures are pictures of the image holder; a build without them leaves the
  // stored texture empty, and "Add texture" then does nothing.
  const std::vector<NamedImage> textures =
      TForm3::Instance().ImageList(QStringLiteral("TextureList"));
  if (textures.size() >= 2) StoredTextureBitmap = textures[1].image;
  InitializeParameters(Params);
  UpdateListboxes(SelectedEffectNumber / 100, SelectedEffectNumber % 100);
  FBrushes.GlobalBrushCount = kDefaultBrushCount;
  CustomMaximize();
  FEffectPanel->ExpandGroup(SelectedEffectNumber / 100);
  FInitialized = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Stops a full render at its next cancellation point; the destructor then waits for
  // the workers.
  FRunner->SetCancel(true);
  FMainMenu->hide();
  FramelessWindow::closeEvent(event);
}

void TForm1::ShowSplashAgain() {
  if (FSplash) FSplash->ShowCentredOn(this);
}

// ---- messages and dialogs ----------------------------------------------------------

void TForm1::ShowMessageBox(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quillora"), text, QMessageBox::Ok, this);
  box.exec();
}

QString TForm1::AskOpenFileName(const FileDialogRequest& request) {
  QFileDialog dialog(this, request.title, request.folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  const QStringList filters = QtNameFilters(request.filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(request.filterIndex - 1));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

QStringList TForm1::AskOpenFileNames(const FileDialogRequest& request) {
  QFileDialog dialog(this, request.title, request.folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  const QStringList filters = QtNameFilters(request.filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(request.filterIndex - 1));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TForm1::AskSaveFileName(FileDialogRequest& request) {
  QFileDialog dialog(this, request.title, request.folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = QtNameFilters(request.filter);
  dialog.setNameFilters(filters);
  const QString selected = filters.value(request.filterIndex - 1);
  dialog.selectNameFilter(selected);
  // A name typed without an extension gets the one of the filter shown, so choosing
  // "PNG Image" and typing "drawing" saves drawing.png.
  auto suffixFor = [&request](const QString& filter) {
    const QString ext = FirstExtension(filter);
    return ext.isEmpty() ? request.defaultExtension : ext;
  };
  dialog.setDefaultSuffix(suffixFor(selected));
  connect(&dialog, &QFileDialog::filterSelected, &dialog,
          [&dialog, suffixFor](const QString& f) { dialog.setDefaultSuffix(suffixFor(f)); });
  if (!request.fileName.isEmpty())
    dialog.selectFile(request.folder.isEmpty() ? request.fileName
                                               : QDir(request.folder).filePath(request.fileName));
  if (dialog.exec() != QDialog::Accepted) return {};
  request.filterIndex = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
  return dialog.selectedFiles().value(0);
}

// ---- documents -----------------------------------------------------------------------

bool TForm1::LoadLargeImage(const QString& path) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  gfx::Image image;
  try {
    image = gfx::DecodeImageFile(path);
  } catch (const std::exception&) {
    QApplication::restoreOverrideCursor();
    ShowMessageBox(T("Failed to load image: ") + path);
    return false;
  }
  // Only a decoded file becomes the document's file: a failed load keeps the current
  // document, and its save name with it.
  FSourceFileName = path;
  try {
    SetDocument(image, 100, false);
  } catch (...) {
    QApplication::restoreOverrideCursor();
    throw;
  }
  QApplication::restoreOverrideCursor();
  return true;
}

bool TForm1::LoadLargeImageFromTImage() {
  const gfx::Image image = TForm3::Instance().DefaultImage();
  if (image.isEmpty()) {
    ShowMessageBox(T("Failed to create Skia image from DefaultImage.Bitmap"));
    return false;
  }
  SetDocument(image, 110, false);
  return true;
}

void TForm1::SetDocument(const gfx::Image& image, int previewInset, bool keepSplitView) {
  if (FView->IsCropping()) FView->CancelCrop();
  FSourceImage = image;
  FResultImage = image;
  FWorkspace->dropZone->hide();
  const bool split = keepSplitView && FView->SplitView();
  if (FView->SplitView()) FView->SetSplitView(false);
  FView->SetImages(FResultImage, FSourceImage);
  FView->BestFitAndCenter();
  // Switched on again with the new image, so that the divider lands mid-image.
  if (split) FView->SetSplitView(true);
  {
    const QSignalBlocker block(FEffectPanel->showOriginal);
    FEffectPanel->showOriginal->setChecked(FView->SplitView());
  }
  FTopBar->SetSplitViewShown(FView->SplitView());

  FPreviewZoomFactor = 1.0f;
  FParameterPanel->previewPane->SetZoomLabel(FPreviewZoomFactor);
  PreviewStartX = image.width() / 2 - previewInset;
  PreviewStartY = image.height() / 2 - previewInset;
  DrawZoomedPreview();

  FHistory.Save(FResultImage, FSourceImage);
  RestartPreviewTimer();
}

void TForm1::ReplaceDocument(const gfx::Image& source, const gfx::Image& result) {
  FSourceImage = source;
  FResultImage = result;
  FView->SetImages(FResultImage, FSourceImage);
  FView->CenterImageInPaintBox();
  FHistory.Save(FResultImage, FSourceImage);
  DrawZoomedPreview();
  RestartPreviewTimer();
}

void TForm1::OpenImageClick() {
  if (IsEffectRunning()) return;
  FileDialogRequest request;
  request.title = T("Select image file");
  request.filter = QString::fromUtf8(kOpenImageFilter);
  const QString path = AskOpenFileName(request);
  if (path.isEmpty()) return;
  try {
    LoadLargeImage(path);
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error loading image: ") + What(e));
  }
}

bool TForm1::HandleDroppedFiles(const QStringList& paths) {
  if (IsEffectRunning()) return false;
  for (const QString& path : paths) {
    if (!IsAcceptedDropFile(path) || !QFileInfo(path).isFile()) continue;
    try {
      return LoadLargeImage(path);
    } catch (const std::exception& e) {
      ShowMessageBox(T("Error loading image: ") + What(e));
      return false;
    }
  }
  return false;
}

void TForm1::DefaultImageClick() {
  if (IsEffectRunning()) return;
  FSourceFileName.clear();
  try {
    LoadLargeImageFromTImage();
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error loading image: ") + What(e));
  }
}

void TForm1::PasteFromClipboardClick() {
  if (IsEffectRunning()) return;
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* mime = clipboard ? clipboard->mimeData() : nullptr;
  if (!mime || !mime->hasImage()) return;
  const QImage pasted = clipboard->image();
  if (pasted.isNull()) return;
  try {
    const gfx::Image image = gfx::Image::FromQImage(pasted);
    FSourceFileName.clear();
    SetDocument(image, 100, true);
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error loading image: ") + What(e));
  }
}

void TForm1::CopyToClipboardClick() {
  if (FResultImage.isEmpty()) return;
  if (QClipboard* clipboard = QGuiApplication::clipboard())
    clipboard->setImage(FResultImage.qimage());
}

void TForm1::SaveImageClick() {
  if (FResultImage.isEmpty()) return;
  const SaveProposal proposal = ProposedSaveName(FSourceFileName);
  FileDialogRequest request;
  request.title = T("Save image file");
  request.filter = QString::fromUtf8(kSaveImageFilter);
  request.defaultExtension = QStringLiteral("jpg");
  request.folder = proposal.folder;
  request.fileName = proposal.fileName;
  request.filterIndex = proposal.filterIndex;
  const QString path = AskSaveFileName(request);
  if (path.isEmpty()) return;
  try {
    SaveImageFile(FResultImage, path);
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error saving image: ") + What(e));
  }
}

void TForm1::SwapSourceResult() {
  if (FSourceImage.isEmpty() || FResultImage.isEmpty()) return;
  std::swap(FSourceImage, FResultImage);
  RedrawMainView();
}

// ---- effects and parameters --------------------------------------------------------

void TForm1::SelectEffect(int effectId) {
  if (!IsCatalogueEffect(effectId) || !EffectProcFor(effectId)) return;
  // The sliders belong to the effect shown so far: keep them, even when no preview has
  // stored them yet (no image loaded, or less than 500 ms since the last change).
  StoreSlidersInto(SelectedEffectNumber);
  SelectedEffectNumber = effectId;
  UpdateListboxes(effectId / 100, effectId % 100);
}

void TForm1::UpdateListboxes(int category, int index) {
  const TParameters& p = ParamsFor(Params, SelectedEffectNumber);
  for (int i = 0; i < 5; ++i) {
    FParameterPanel->nameLabels[size_t(i)]->setText(Translate(p.name(i + 1)));
    FParameterPanel->sliders[size_t(i)]->setValue(p.value(i + 1));
  }
  FEffectPanel->SetMarkers(category, index);
  UpdateEffectDependentControls();
  RestartPreviewTimer();
}

void TForm1::StoreSlidersInto(int effectId) {
  if (!IsCatalogueEffect(effectId)) return;
  TParameters& p = ParamsFor(Params, effectId);
  for (int i = 0; i < 5; ++i) p.setValue(i + 1, FParameterPanel->sliders[size_t(i)]->value());
}

void TForm1::UpdateEffectDependentControls() {
  const bool erase = ReadsEraseBackground(SelectedEffectNumber);
  FParameterPanel->eraseSwitch->setEnabled(erase);
  FParameterPanel->eraseLabel->setEnabled(erase);
  FParameterPanel->brushesBox->setVisible(IsBrushEffect(SelectedEffectNumber));
}

void TForm1::SliderChanged(int index, int value) {
  FParameterPanel->valueLabels[size_t(index)]->setText(QString::number(value));
  RestartPreviewTimer();
}

void TForm1::ResetAllParameters() {
  InitializeParameters(Params);
  const TParameters& p = ParamsFor(Params, SelectedEffectNumber);
  for (int i = 0; i < 5; ++i) FParameterPanel->sliders[size_t(i)]->setValue(p.value(i + 1));
}

void TForm1::ApplyEffectClick() {
  if (SelectedEffectNumber <= 0) return;
  const auto& s = FParameterPanel->sliders;
  FRunner->ProcessEffect(SelectedEffectNumber, s[0]->value(), s[1]->value(), s[2]->value(),
                         s[3]->value(), s[4]->value(), false);
}

void TForm1::LoadParameterFileClick() {
  FParameterPanel->HideParamIcons();
  FileDialogRequest request;
  request.title = T("Load Parameters");
  request.filter = QString::fromUtf8(kParameterFilter);
  request.defaultExtension = QStringLiteral("qlp");
  const QString path = AskOpenFileName(request);
  if (path.isEmpty()) return;
  // The file may leave the selected effect alone: its sliders must survive as they are.
  StoreSlidersInto(SelectedEffectNumber);
  try {
    if (!LoadParameters(path, Params)) return;
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error loading parameters: ") + What(e));
    return;
  }
  const TParameters& p = ParamsFor(Params, SelectedEffectNumber);
  for (int i = 0; i < 5; ++i) FParameterPanel->sliders[size_t(i)]->setValue(p.value(i + 1));
}

void TForm1::SaveParameterFileClick() {
  FParameterPanel->HideParamIcons();
  FileDialogRequest request;
  request.title = T("Save Parameters");
  request.filter = QString::fromUtf8(kParameterFilter);
  request.defaultExtension = QStringLiteral("qlp");
  const QString path = AskSaveFileName(request);
  if (path.isEmpty()) return;
  // The table holds the sliders only once a preview has run; the file must carry what
  // the user sees.
  StoreSlidersInto(SelectedEffectNumber);
  try {
    SaveParameters(path, Params);
  } catch (const std::exception& e) {
    ShowMessageBox(T("Error saving parameters: ") + What(e));
    return;
  }
  ShowMessageBox(T("Parameters saved successfully!"));
}

void TForm1::LoadCustomBrushesClick() {
  FileDialogRequest request;
  request.title = T("Select brush files");
  request.filter = QString::fromUtf8(kBrushFilter);
  const QStringList files = AskOpenFileNames(request);
  if (files.isEmpty()) return;
  const TBrushLoadStatus status = LoadCustomBrushes(FBrushes, SelectedEffectNumber, files);
  if (!status.ok) {
    ShowMessageBox(status.detail.isEmpty() ? status.message
                                           : status.message + QStringLiteral(": ") + status.detail);
    return;
  }
  RestartPreviewTimer();
}

void TForm1::ResetBrushesClick() {
  ResetCustomBrushes(FBrushes, SelectedEffectNumber);
  RestartPreviewTimer();
}

// ---- preview -------------------------------------------------------------------------

void TForm1::RestartPreviewTimer() { FPreviewTimer->start(); }

bool TForm1::PreviewPending() const { return FPreviewTimer->isActive(); }

void TForm1::PreviewTimerTimer() {
  if (FSourceImage.isEmpty()) {
    FPreviewTimer->stop();
    return;
  }
  // A slider held down: the timer keeps running and looks again in 500 ms.
  for (const QSlider* s : FParameterPanel->sliders)
    if (s->isSliderDown()) return;
  FPreviewTimer->stop();
  StoreSlidersInto(SelectedEffectNumber);
  if (SelectedEffectNumber <= 0) return;
  const TParameters& p = ParamsFor(Params, SelectedEffectNumber);
  FRunner->ProcessEffect(SelectedEffectNumber, p.Value1, p.Value2, p.Value3, p.Value4, p.Value5,
                         true);
}

void TForm1::PreviewDebounceTimerTimer() {
  FPreviewDebounceTimer->stop();
  if (FResultImage.isEmpty() || SelectedEffectNumber <= 0) return;
  FRunner->InvalidatePreviews();
  FRunner->SetCancel(true);
  FPreviewTimer->start();
}

void TForm1::SetPreviewZoom(float zoom) {
  FPreviewZoomFactor = std::clamp(zoom, kPreviewZoomMin, kPreviewZoomMax);
  DrawZoomedPreview();
  FPreviewDebounceTimer->start();
  FParameterPanel->previewPane->SetZoomLabel(FPreviewZoomFactor);
}

void TForm1::PreviewWheelZoom(int delta) {
  const float step = 1.1f;
  SetPreviewZoom(delta > 0 ? FPreviewZoomFactor * step : FPreviewZoomFactor * (1.0f / step));
}

void TForm1::PreviewPanMoved(double dx, double dy) {
  if (FResultImage.isEmpty()) return;
  const PreviewPaneInfo pane = PreviewPane();
  const double zoom = FPreviewZoomFactor;
  const double maxX = std::max(FResultImage.width() - pane.width / zoom, 0.0);
  const double maxY = std::max(FResultImage.height() - pane.height / zoom, 0.0);
  const double x = std::clamp(PreviewStartX + FPanRemainderX - dx / zoom, 0.0, maxX);
  const double y = std::clamp(PreviewStartY + FPanRemainderY - dy / zoom, 0.0, maxY);
  PreviewStartX = RoundEven(x);
  PreviewStartY = RoundEven(y);
  FPanRemainderX = x - PreviewStartX;
  FPanRemainderY = y - PreviewStartY;
  DrawZoomedPreview();
  const uint32_t now = TickCount();
  if (uint32_t(now - FLastPanTime) >= kPanDebounceStepMs) {
    FLastPanTime = now;
    FRunner->SetCancel(true);
    FPreviewDebounceTimer->start();
  }
}

void TForm1::PreviewPanFinished() {
  if (!FPreviewDebounceTimer->isActive()) FPreviewTimer->start();
}

void TForm1::DrawZoomedPreview() {
  if (FResultImage.isEmpty() || FSourceImage.isEmpty()) return;
  ui::PreviewPane* pane = FParameterPanel->previewPane;
  const int paneW = std::max(1, pane->width());
  const int paneH = std::max(1, pane->height());
  const double zoom = FPreviewZoomFactor;
  PreviewStartX = std::max(PreviewStartX, 0);
  PreviewStartY = std::max(PreviewStartY, 0);
  const double c = paneW / zoom;
  const double f = paneH / zoom;
  const int W = FResultImage.width(), H = FResultImage.height();
  if (PreviewStartX + c > W) PreviewStartX = std::max(RoundEven(W - c), 0);
  if (PreviewStartY + f > H) PreviewStartY = std::max(RoundEven(H - f), 0);

  gfx::Surface bitmap(paneW, paneH);
  bitmap.clear(0xFFFFFFFF);
  // The part of the crop that lies inside the source, drawn where it belongs: a source
  // smaller than the crop shows at the pane's zoom on white, as nothing lies beyond it.
  const QRectF crop(PreviewStartX, PreviewStartY, c, f);
  const QRectF inside = crop & QRectF(0, 0, FSourceImage.width(), FSourceImage.height());
  if (!inside.isEmpty()) {
    const QRectF dst((inside.x() - crop.x()) * zoom, (inside.y() - crop.y()) * zoom,
                     inside.width() * zoom, inside.height() * zoom);
    bitmap.drawImageRect(FSourceImage, inside, dst, gfx::Sampling::Cubic);
  }
  pane->SetBitmap(bitmap.snapshot());
}

void TForm1::UpdateProgressBar(int value) {
  if (!UiDispatcher::IsUiThread()) {
    QMetaObject::invokeMethod(
        this, [this, value] { UpdateProgressBar(value); }, Qt::QueuedConnection);
    return;
  }
  FWorkspace->progressBar->SetValue(value);
}

void TForm1::CleanupTimerTimer() {
  // Runs that ended in an error send no finishing value; the bar goes here at the latest.
  if (!IsEffectRunning() && !FRunner->ManualBrushOpen()) UpdateProgressBar(101);
  if (FParamIconCountdown > 0 && --FParamIconCountdown == 0) FParameterPanel->FadeParamIcons();
}

// ---- EffectHost ----------------------------------------------------------------------

void TForm1::SetResultImage(const gfx::Image& image) { FResultImage = image; }

void TForm1::SaveHistory() {
  // Compressing a large picture for the history holds the interface for a moment after
  // the progress bar has gone; the cursor says the program is still at work.
  const bool large = qint64(FResultImage.width()) * FResultImage.height() > 4'000'000;
  if (large) QApplication::setOverrideCursor(Qt::WaitCursor);
  FHistory.Save(FResultImage, FSourceImage);
  if (large) QApplication::restoreOverrideCursor();
}

void TForm1::RedrawMainView() { FView->SetImages(FResultImage, FSourceImage); }

PreviewPaneInfo TForm1::PreviewPane() {
  const ui::PreviewPane* pane = FParameterPanel->previewPane;
  return {pane->width(), pane->height(), FPreviewZoomFactor};
}

void TForm1::SetPreviewStart(const QPoint& start) {
  PreviewStartX = start.x();
  PreviewStartY = start.y();
}

void TForm1::SetPreviewBitmap(const gfx::Image& bitmap, int percent) {
  FParameterPanel->previewPane->SetBitmap(bitmap);
  FParameterPanel->previewPane->SetPercent(percent);
}

StoredTextureSettings TForm1::StoredTexture() {
  StoredTextureSettings s;
  s.addTexture = FParameterPanel->textureSwitch->isChecked();
  s.bitmap = StoredTextureBitmap;
  s.strength = StoredTextureStrength;
  s.scale = StoredTextureScale;
  return s;
}

// ---- history -------------------------------------------------------------------------

void TForm1::HistoryImageSaved(const gfx::Image& DisplayImg, const gfx::Image& SourceImg,
                               bool IsSourceChange) {
  if (IsSourceChange) {
    if (!SourceImg.isNull()) AddThumbnailToGallery(SourceImg);
    if (!ImagesLookEqual(SourceImg, DisplayImg)) AddThumbnailToGallery(DisplayImg);
  } else if (!DisplayImg.isNull()) {
    AddThumbnailToGallery(DisplayImg);
  }
}

void TForm1::AddThumbnailToGallery(const gfx::Image& image) {
  if (image.isEmpty()) return;
  FGalleryItems.prepend(image);
}

void TForm1::UndoClick() {
  if (IsEffectRunning()) return;
  gfx::Image display, source;
  if (!FHistory.Undo(display, source)) return;
  if (FView->IsCropping()) FView->CancelCrop();
  FResultImage = display;
  FSourceImage = source;
  FView->SetImages(FResultImage, FSourceImage);
  FView->CenterImageInPaintBox();
  if (FView->SplitView()) FView->SetSplitView(true);
}

void TForm1::RedoClick() {
  if (IsEffectRunning()) return;
  gfx::Image display, source;
  if (!FHistory.Redo(display, source)) return;
  if (FView->IsCropping()) FView->CancelCrop();
  FResultImage = display;
  FSourceImage = source;
  FView->SetImages(FResultImage, FSourceImage);
  FView->CenterImageInPaintBox();
  if (FView->SplitView()) FView->SetSplitView(true);
}

// ---- view tools ----------------------------------------------------------------------

void TForm1::CropClick() {
  if (FView->IsCropping()) {
    FView->CancelCrop();
  } else if (!IsEffectRunning() && !FResultImage.isEmpty()) {
    if (FView->SplitView()) FView->SetSplitView(false);
    FView->BeginCrop();
  }
  FEffectPanel->cropButton->setChecked(FView->IsCropping());
}

void TForm1::CropAccepted(const QRect& imageRect) {
  if (IsEffectRunning()) return;  // the view's crop guard has told the user
  if (FSourceImage.isEmpty() || FResultImage.isEmpty()) return;
  const QRect rect = imageRect & QRect(0, 0, FSourceImage.width(), FSourceImage.height());
  if (rect.isEmpty()) return;
  const bool shared = FSourceImage.uniqueId() == FResultImage.uniqueId();
  const gfx::Image source = FSourceImage.subset(rect);
  const gfx::Image result = shared ? source : FResultImage.subset(rect);
  if (source.isEmpty() || result.isEmpty()) return;
  ReplaceDocument(source, result);
}

void TForm1::RotateClick(bool clockwise) {
  if (IsEffectRunning() || FSourceImage.isEmpty() || FResultImage.isEmpty()) return;
  if (FView->IsCropping()) FView->CancelCrop();
  // One turn when both are the same image, which keeps them one object (the history
  // then stores the source once).
  const bool shared = FSourceImage.uniqueId() == FResultImage.uniqueId();
  const gfx::Image source = RotateImage90(FSourceImage, clockwise);
  const gfx::Image result = shared ? source : RotateImage90(FResultImage, clockwise);
  ReplaceDocument(source, result);
}

void TForm1::ToggleSplitView() {
  FView->SetSplitView(!FView->SplitView());
  const QSignalBlocker block(FEffectPanel->showOriginal);
  FEffectPanel->showOriginal->setChecked(FView->SplitView());
  FTopBar->SetSplitViewShown(FView->SplitView());
}

void TForm1::ToggleMainMenu() {
  if (FMainMenu->isVisible()) {
    FMainMenu->hide();
    return;
  }
  const QPoint below =
      FTopBar->menuButton->mapTo(this, QPoint(0, FTopBar->menuButton->height() + 4));
  FMainMenu->Open(below, height() - below.y() - 10);
}

// ---- keyboard ------------------------------------------------------------------------

bool TForm1::HandleKey(QKeyEvent* event) {
  int key = event->key();
  // Some keyboards deliver a character without a key code: letters count as their
  // upper-case keys, "+" and "=" as the plus key, "-" and "_" as the minus key.
  if ((key == 0 || key == Qt::Key_unknown) && !event->text().isEmpty()) {
    const QChar c = event->text().at(0).toUpper();
    if (c == QLatin1Char('+') || c == QLatin1Char('='))
      key = Qt::Key_Plus;
    else if (c == QLatin1Char('-') || c == QLatin1Char('_'))
      key = Qt::Key_Minus;
    else if ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
             (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
      key = c.unicode();
  }
  if (key == Qt::Key_Equal) key = Qt::Key_Plus;
  if (key == Qt::Key_Underscore) key = Qt::Key_Minus;

  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool modifier = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  const bool shift = mods & Qt::ShiftModifier;
  QWidget* focus = QApplication::focusWidget();
  if (!focus) focus = focusWidget();
  const bool editFocus = qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
                         qobject_cast<QPlainTextEdit*>(focus) ||
                         qobject_cast<QAbstractSpinBox*>(focus);
  // Plain letters and digits are text while an edit has the focus.
  const bool plain = !modifier && !editFocus;

  bool handled = true;
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (FView->IsCropping())
        FView->AcceptCrop();
      else
        handled = false;
      break;
    case Qt::Key_Escape:
      FRunner->SetCancel(true);
      FMainMenu->hide();
      if (FView->IsCropping()) FView->CancelCrop();
      break;
    case Qt::Key_0:
      if (!modifier) return false;
      FView->ActualSizeCentered();
      FTopBar->zoomLabel->SetZoom(1.0f);
      break;
    case Qt::Key_6:
    case Qt::Key_Minus:
      if (!modifier && editFocus) return false;
      FView->ZoomOut();
      break;
    case Qt::Key_Plus:
      if (!modifier && editFocus) return false;
      FView->ZoomIn();
      break;
    case Qt::Key_C:
      if (!modifier) return false;
      CopyToClipboardClick();
      break;
    case Qt::Key_F:
      if (!modifier) return false;
      FView->BestFitAndCenter();
      break;
    case Qt::Key_L:
      if (!plain) return false;
      RotateClick(false);
      break;
    case Qt::Key_O:
      if (!modifier) return false;
      OpenImageClick();
      break;
    case Qt::Key_Q:
      if (!modifier) return false;
      close();
      break;
    case Qt::Key_R:
      if (!plain) return false;
      RotateClick(true);
      break;
    case Qt::Key_S:
      // Ctrl+Shift+S belongs to the script editor, which this program does not have yet;
      // it must not fall through to saving.
      if (modifier && shift) return false;
      if (modifier)
        SaveImageClick();
      else if (!editFocus)
        ToggleSplitView();
      else
        return false;
      break;
    case Qt::Key_V:
      if (!modifier) return false;
      PasteFromClipboardClick();
      break;
    case Qt::Key_Z:
      if (!modifier) return false;
      if (shift)
        RedoClick();
      else
        UndoClick();
      break;
    case Qt::Key_F10:
      ToggleMainMenu();
      break;
    case Qt::Key_F12:
      SwapSourceResult();
      break;
    default:
      handled = false;
  }
  if (handled) event->accept();
  return handled;
}

}  // namespace quillora::ui
