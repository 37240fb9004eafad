// The main window driven as a user drives it: the real window, the real runner and the
// real effects, with the message boxes and file dialogs answered by the test.
#include "app/main_window.h"
#include "app/effect_panel.h"
#include "app/main_menu.h"
#include "app/parameter_panel.h"
#include "app/preview_pane.h"
#include "app/top_bar.h"
#include "app/workspace_area.h"
#include "app/workspace_view.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
#include "engine/effect_registry.h"
#include "formats/file_structure.h"
#include "formats/parameter_files.h"
#include "gfx/codec.h"
#include "test_util.h"
#include "tools/texture_overlay.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <memory>

using namespace quillora;
using quillora::ui::FileDialogRequest;
using quillora::ui::TForm1;
using testutil::PixelAt;
using testutil::WaitFor;

namespace {

// The window with its dialogs answered and its messages recorded.
class TestForm : public TForm1 {
 public:
  using TForm1::FEffectPanel;
  using TForm1::FGalleryItems;
  using TForm1::FHistory;
  using TForm1::FMainMenu;
  using TForm1::FParameterPanel;
  using TForm1::FResultImage;
  using TForm1::FSourceFileName;
  using TForm1::FSourceImage;
  using TForm1::FTopBar;
  using TForm1::FView;
  using TForm1::FWorkspace;
  using TForm1::Params;
  using TForm1::SelectedEffectNumber;
  using TForm1::StoredTextureBitmap;

  QStringList messages;
  QString openAnswer;
  QString saveAnswer;
  QList<FileDialogRequest> requests;

 protected:
  void ShowMessageBox(const QString& text) override { messages << text; }
  QString AskOpenFileName(const FileDialogRequest& request) override {
    requests << request;
    return openAnswer;
  }
  QStringList AskOpenFileNames(const FileDialogRequest& request) override {
    requests << request;
    return openAnswer.isEmpty() ? QStringList() : QStringList{openAnswer};
  }
  QString AskSaveFileName(FileDialogRequest& request) override {
    requests << request;
    return saveAnswer;
  }
};

// Stands in for a catalogue effect: its full render shows a red intermediate picture
// and then waits at a cancellation point until released; its previews return at once.
std::atomic<bool> g_release{false};
std::atomic<bool> g_waiting{false};

void GateEffect(const Image&, Surface& dest, int, int, int, int, int, bool preview) {
  if (preview) {
    dest.clear(0xFF00FF00);
    return;
  }
  dest.clear(0xFFFF0000);
  const Image partial = dest.snapshot();
  SynchronizeUi([&] {
    if (!CancelRequested()) ShowIntermediateImage(partial, 50);
  });
  struct Flag {
    Flag() { g_waiting = true; }
    ~Flag() { g_waiting = false; }
  } flag;
  while (!g_release) {
    CheckCancellation();
    QThread::msleep(2);
  }
  dest.clear(0xFF0000FF);
}

class ScopedEffect {
 public:
  ScopedEffect(int id, TEffectProc proc) : id_(id), previous_(EffectProcFor(id)) {
    g_release = false;
    RegisterEffect(id, proc);
  }
  ~ScopedEffect() {
    g_release = true;
    RegisterEffect(id_, previous_);
  }

 private:
  int id_;
  TEffectProc previous_;
};

void BlankEffect(const Image&, Surface&, int, int, int, int, int, bool) {}

// A picture whose every pixel differs from its neighbours, with a transparent corner
// that makes the history keep it losslessly (as PNG).
gfx::Image Pattern(int w, int h) {
  std::vector<uint32_t> argb(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool corner = x < w / 4 && y < h / 4;
      argb[size_t(y) * size_t(w) + size_t(x)] =
          corner ? 0u
                 : 0xFF000000u | uint32_t((x * 7) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 |
                       uint32_t((x + y) & 0xFF);
    }
  return testutil::MakeImage(w, h, argb);
}

bool SamePixels(const gfx::Image& a, const gfx::Image& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         testutil::MaxChannelDifference(a, b) == 0;
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterBuiltinEffects();
    // The window's lists show only effects that can run; these tests are about the
    // window, so every catalogue entry gets at least a blank painter.
    for (const EffectCategory& category : EffectCategories())
      for (int id : category.effects)
        if (!EffectProcFor(id)) RegisterEffect(id, &BlankEffect);
    InstallTextureOverlay();
  }

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TestForm>();
    // Closing one test's window must not end the test program's event loops.
    form->setAttribute(Qt::WA_QuitOnClose, false);
    form->show();
    ASSERT_TRUE(WaitFor([&] { return form->Initialized(); }, 5000));
  }

  void TearDown() override { form.reset(); }

  QString Path(const QString& name) const { return dir.filePath(name); }

  QString WriteImage(const QString& name, const gfx::Image& image) {
    const QString path = Path(name);
    EXPECT_TRUE(image.qimage().save(path)) << qPrintable(path);
    return path;
  }

  // Loads a fresh pattern through the window's own load path.
  gfx::Image LoadPattern(int w = 64, int h = 48, const QString& name = QStringLiteral("p.png")) {
    const QString path = WriteImage(name, Pattern(w, h));
    EXPECT_TRUE(form->LoadLargeImage(path));
    return form->FSourceImage;
  }

  QSlider* Slider(int i) const { return form->FParameterPanel->sliders[size_t(i)]; }
  std::array<int, 5> SliderValues() const {
    std::array<int, 5> v{};
    for (int i = 0; i < 5; ++i) v[size_t(i)] = Slider(i)->value();
    return v;
  }

  bool Idle() const { return !form->IsEffectRunning() && form->Runner().ActiveWorkers() == 0; }

  QTemporaryDir dir;
  std::unique_ptr<TestForm> form;
};

TEST_F(MainWindowTest, StartsWithTheDesignedDefaults) {
  EXPECT_TRUE(form->FParameterPanel->textureSwitch->isChecked());
  EXPECT_TRUE(form->FParameterPanel->eraseSwitch->isChecked());
  // Watercolor is selected and its parameters are shown.
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{30, 40, 40, 100, 20}));
  EXPECT_EQ(form->FParameterPanel->nameLabels[0]->text(), QStringLiteral("iterations"));
  auto* painting = form->FEffectPanel->GroupOf(300);
  EXPECT_TRUE(painting->IsExpanded());
  EXPECT_EQ(painting->height(), 8 * 30 + 25);
  EXPECT_EQ(painting->List()->item(0)->text(), QStringLiteral("\u25B6 Watercolor"));
  EXPECT_EQ(painting->List()->item(1)->text(), QStringLiteral("\u2023 Watercolor 2"));
  EXPECT_EQ(form->FEffectPanel->GroupOf(100)->Header()->text(), QStringLiteral("Sketch & Drawing"));
  const auto textures = TForm3::Instance().ImageList(QStringLiteral("TextureList"));
  if (textures.size() >= 2)
    EXPECT_EQ(form->StoredTextureBitmap.uniqueId(), textures[1].image.uniqueId());
  else
    EXPECT_TRUE(form->StoredTextureBitmap.isNull());
  // The drop zone covers the empty workspace until an image comes.
  EXPECT_FALSE(form->FWorkspace->dropZone->isHidden());
  LoadPattern();
  EXPECT_TRUE(form->FWorkspace->dropZone->isHidden());
}

TEST_F(MainWindowTest, RenderGrowsTheHistoryAndUndoRestoresTheLoadedImage) {
  form->ApplyEffectClick();
  ASSERT_EQ(form->messages, QStringList{QStringLiteral("No image loaded")});

  const gfx::Image loaded = LoadPattern(96, 72);
  ASSERT_FALSE(loaded.isEmpty());
  ASSERT_EQ(form->FHistory.Count(), 1);
  ASSERT_EQ(form->FGalleryItems.size(), 1);  // the new source

  form->SelectEffect(100);
  form->FParameterPanel->applyButton->click();
  ASSERT_TRUE(
      WaitFor([&] { return !form->IsEffectRunning() && form->FHistory.Count() == 2; }, 60000));
  const gfx::Image rendered = form->FResultImage;
  EXPECT_EQ(rendered.width(), loaded.width());
  EXPECT_EQ(rendered.height(), loaded.height());
  EXPECT_GT(testutil::MaxChannelDifference(rendered, loaded), 0);
  EXPECT_EQ(form->FSourceImage.uniqueId(), loaded.uniqueId());
  EXPECT_EQ(form->FGalleryItems.size(), 2);  // the result joined the source
  EXPECT_EQ(form->FGalleryItems.first().uniqueId(), rendered.uniqueId());
  EXPECT_TRUE(WaitFor([&] { return form->FWorkspace->progressBar->LastValue() == -1; }, 5000));

  form->UndoClick();
  EXPECT_TRUE(SamePixels(form->FResultImage, loaded));
  EXPECT_TRUE(SamePixels(form->FSourceImage, loaded));
  form->RedoClick();
  EXPECT_FALSE(SamePixels(form->FResultImage, loaded));
  EXPECT_TRUE(form->messages.size() == 1) << qPrintable(form->messages.join('\n'));
}

TEST_F(MainWindowTest, SecondRenderWhileOneRunsShowsTheBusyMessageAndUndoWaits) {
  ScopedEffect gate(300, GateEffect);
  form->FParameterPanel->textureSwitch->setChecked(false);  // the colours stay exact
  LoadPattern();
  form->SelectEffect(300);
  form->ApplyEffectClick();
  ASSERT_TRUE(WaitFor([] { return g_waiting.load(); }, 10000));
  const int historyCount = form->FHistory.Count();

  form->ApplyEffectClick();
  ASSERT_EQ(form->messages,
            QStringList{QStringLiteral("Please wait for \"Watercolor\" to finish processing.")});
  // Tools that change the document refuse while the render runs.
  const uint64_t shown = form->FResultImage.uniqueId();
  QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(form.get(), Qt::Key_R);
  EXPECT_EQ(form->FResultImage.uniqueId(), shown);
  EXPECT_EQ(form->FHistory.Count(), historyCount);
  // A crop opened before the render waits for it and keeps its selection.
  form->FView->BeginCrop();  // the crop tool itself refuses now; the view is opened directly
  ASSERT_TRUE(form->FView->IsCropping());
  const QRectF selection = form->FView->CropSelection();
  QTest::keyClick(form.get(), Qt::Key_Return);
  EXPECT_TRUE(form->FView->IsCropping());
  EXPECT_EQ(form->FView->CropSelection(), selection);
  EXPECT_EQ(form->messages.size(), 2);
  EXPECT_EQ(form->messages.back(), form->messages.front());

  g_release = true;
  ASSERT_TRUE(WaitFor([&] { return Idle(); }, 10000));
  EXPECT_EQ(PixelAt(form->FResultImage, 5, 5) & 0x00FFFFFF, 0x0000FFu);  // the finished blue
  EXPECT_EQ(form->FHistory.Count(), historyCount + 1);
  QTest::keyClick(form.get(), Qt::Key_Return);
  EXPECT_FALSE(form->FView->IsCropping());
  EXPECT_EQ(form->FHistory.Count(), historyCount + 2);
  EXPECT_EQ(form->messages.size(), 2);
}

TEST_F(MainWindowTest, EscapeStopsARenderAndKeepsThePartialResult) {
  ScopedEffect gate(300, GateEffect);
  const gfx::Image loaded = LoadPattern();
  form->SelectEffect(300);
  form->ApplyEffectClick();
  // The preview the selection asked for is out of the way first, so that the one worker
  // left is the render.
  ASSERT_TRUE(WaitFor(
      [&] { return g_waiting && !form->PreviewPending() && form->Runner().ActiveWorkers() == 1; },
      10000));
  ASSERT_EQ(form->FWorkspace->progressBar->LastValue(), 50);
  const int historyCount = form->FHistory.Count();

  QTest::keyClick(form.get(), Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Idle(); }, 10000));
  EXPECT_EQ(PixelAt(form->FResultImage, 5, 5), 0xFFFF0000u);  // the red intermediate
  EXPECT_EQ(form->FSourceImage.uniqueId(), loaded.uniqueId());
  EXPECT_EQ(form->FHistory.Count(), historyCount + 1);
  EXPECT_TRUE(WaitFor([&] { return form->FWorkspace->progressBar->LastValue() == -1; }, 5000));
}

TEST_F(MainWindowTest, ClosingDuringARenderWaitsForItsWorker) {
  ScopedEffect gate(300, GateEffect);
  LoadPattern();
  form->SelectEffect(300);
  form->ApplyEffectClick();
  ASSERT_TRUE(WaitFor([] { return g_waiting.load(); }, 10000));
  form->close();
  QElapsedTimer timer;
  timer.start();
  form.reset();  // must stop the gate through the cancel flag and join it
  EXPECT_FALSE(g_waiting);
  EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(MainWindowTest, NoPreviewWhileASliderIsHeldOneSoonAfterRelease) {
  LoadPattern();
  form->SelectEffect(100);
  ASSERT_TRUE(WaitFor([&] { return !form->PreviewPending() && Idle(); }, 10000));
  const int generation = form->Runner().PreviewGeneration();

  QSlider* slider = Slider(0);
  slider->setSliderDown(true);
  slider->setValue(slider->value() + 17);
  EXPECT_EQ(form->FParameterPanel->valueLabels[0]->text(), QString::number(slider->value()));
  QTest::qWait(1300);
  EXPECT_EQ(form->Runner().PreviewGeneration(), generation);
  EXPECT_TRUE(form->PreviewPending());

  QElapsedTimer timer;
  slider->setSliderDown(false);
  timer.start();
  ASSERT_TRUE(WaitFor([&] { return form->Runner().PreviewGeneration() > generation; }, 5000));
  EXPECT_LT(timer.elapsed(), 1500);
  EXPECT_EQ(form->Params[1][0].Value1, slider->value());
}

TEST_F(MainWindowTest, PreviewPaneZoomAndPanReachTheLastSourceColumn) {
  LoadPattern(600, 400);
  ui::PreviewPane* pane = form->FParameterPanel->previewPane;
  for (int i = 0; i < 12; ++i) emit pane->zoomInClicked();  // x 1.2 each, held at 5
  EXPECT_EQ(pane->ZoomLabel(), QStringLiteral("500%"));
  // At zoom 5 the pane shows 45 source columns; a long drag stops at the last one.
  emit pane->panStarted();
  emit pane->panMoved(-100000, 0);
  EXPECT_EQ(form->PreviewStart().x() + 225 / 5, 600);
  // A slow drag still moves: ten steps of one pane unit are two source pixels.
  emit pane->panMoved(100000, 0);
  ASSERT_EQ(form->PreviewStart().x(), 0);
  for (int i = 0; i < 10; ++i) emit pane->panMoved(-1, 0);
  EXPECT_EQ(form->PreviewStart().x(), 2);
  emit pane->panFinished();
  // After the debounce the next preview follows with the new crop.
  const int generation = form->Runner().PreviewGeneration();
  ASSERT_TRUE(WaitFor([&] { return form->Runner().PreviewGeneration() > generation; }, 5000));
  emit pane->zoomResetClicked();
  EXPECT_EQ(pane->ZoomLabel(), QStringLiteral("100%"));
}

TEST_F(MainWindowTest, KeysGoToAFocusedTextEditUnlessAModifierIsHeld) {
  const gfx::Image loaded = LoadPattern();
  auto* edit = new QLineEdit(form.get());
  edit->show();
  form->activateWindow();
  edit->setFocus();
  ASSERT_TRUE(WaitFor([&] { return edit->hasFocus() || form->focusWidget() == edit; }, 2000));
  const float zoom = form->FView->ZoomFactor();

  for (char c : {'6', 'l', 'r', 's', '-', '+'}) QTest::keyClick(edit, c);
  EXPECT_EQ(edit->text(), QStringLiteral("6lrs-+"));
  EXPECT_EQ(form->FView->ZoomFactor(), zoom);
  EXPECT_EQ(form->FResultImage.uniqueId(), loaded.uniqueId());
  EXPECT_FALSE(form->FView->SplitView());

  QTest::keyClick(edit, Qt::Key_6, Qt::ControlModifier);
  EXPECT_EQ(edit->text(), QStringLiteral("6lrs-+"));
  EXPECT_LT(form->FView->ZoomFactor(), zoom);

  // Without the edit's focus the same letters are commands.
  edit->clearFocus();
  form->setFocus();
  QTest::keyClick(form.get(), Qt::Key_S);
  EXPECT_TRUE(form->FView->SplitView());
  EXPECT_TRUE(form->FEffectPanel->showOriginal->isChecked());
  QTest::keyClick(form.get(), Qt::Key_R);
  EXPECT_EQ(form->FResultImage.width(), loaded.height());
}

TEST_F(MainWindowTest, RotationAndCropReplaceBothImagesAndSaveHistory) {
  const gfx::Image loaded = LoadPattern(30, 20);
  const int count = form->FHistory.Count();

  QTest::keyClick(form.get(), Qt::Key_R);
  ASSERT_EQ(form->FSourceImage.width(), 20);
  ASSERT_EQ(form->FSourceImage.height(), 30);
  EXPECT_EQ(form->FResultImage.uniqueId(), form->FSourceImage.uniqueId());
  // Clockwise: source pixel (x, y) lands at (H - 1 - y, x).
  EXPECT_EQ(PixelAt(form->FSourceImage, 20 - 1 - 3, 7), PixelAt(loaded, 7, 3));
  EXPECT_EQ(form->FHistory.Count(), count + 1);

  form->FEffectPanel->rotateLeftButton->click();
  EXPECT_TRUE(SamePixels(form->FSourceImage, loaded));
  EXPECT_TRUE(SamePixels(form->FResultImage, loaded));
  EXPECT_EQ(form->FHistory.Count(), count + 2);

  // A selection reaching out of the image crops to the part inside it.
  form->FEffectPanel->cropButton->click();
  ASSERT_TRUE(form->FView->IsCropping());
  EXPECT_TRUE(form->FEffectPanel->cropButton->isChecked());
  emit form->FView->cropAccepted(QRect(-5, 4, 20, 100));
  ASSERT_EQ(form->FSourceImage.width(), 15);
  ASSERT_EQ(form->FSourceImage.height(), 16);
  EXPECT_EQ(PixelAt(form->FResultImage, 0, 0), PixelAt(loaded, 0, 4));
  EXPECT_EQ(form->FHistory.Count(), count + 3);
  form->FView->CancelCrop();

  // Enter accepts the view's own selection; Escape leaves the images alone.
  form->FEffectPanel->cropButton->click();
  ASSERT_TRUE(form->FView->IsCropping());
  const uint64_t before = form->FSourceImage.uniqueId();
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_FALSE(form->FView->IsCropping());
  EXPECT_EQ(form->FSourceImage.uniqueId(), before);
  form->FEffectPanel->cropButton->click();
  QTest::keyClick(form.get(), Qt::Key_Return);
  EXPECT_FALSE(form->FView->IsCropping());
  EXPECT_EQ(form->FHistory.Count(), count + 4);
  EXPECT_EQ(form->FSourceImage.width(), form->FResultImage.width());
  EXPECT_LE(form->FSourceImage.width(), 15);
}

TEST_F(MainWindowTest, SaveWritesThePngOnceAndKeepsTheOldFileOnFailure) {
  // A .bmp source proposes a PNG beside it.
  const QImage opaque = Pattern(40, 30).qimage().convertToFormat(QImage::Format_RGB32);
  const QString bmp = WriteImage(QStringLiteral("photo.bmp"), gfx::Image::FromQImage(opaque));
  ASSERT_TRUE(form->LoadLargeImage(bmp));
  form->saveAnswer = Path(QStringLiteral("out.png"));
  form->SaveImageClick();
  ASSERT_EQ(form->requests.size(), 1);
  const FileDialogRequest& request = form->requests.first();
  EXPECT_EQ(request.title, QStringLiteral("Save image file"));
  EXPECT_EQ(request.fileName, QStringLiteral("photo_QL.png"));
  EXPECT_EQ(QFileInfo(request.folder).canonicalFilePath(),
            QFileInfo(dir.path()).canonicalFilePath());
  EXPECT_EQ(request.filterIndex, 2);
  EXPECT_EQ(
      request.filter,
      QStringLiteral("JPEG Image|*.jpg;*.jpeg|PNG Image|*.png|WebP Image|*.webp|All Files|*.*"));
  EXPECT_TRUE(form->messages.isEmpty()) << qPrintable(form->messages.join('\n'));

  QFile out(form->saveAnswer);
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  const QList<testutil::PngChunk> chunks = testutil::PngChunks(out.readAll());
  ASSERT_GE(chunks.size(), 3);
  EXPECT_EQ(chunks[1].type, QByteArray("pHYs"));
  EXPECT_EQ(chunks[1].data.toHex(), QByteArray("00002e2300002e2301"));
  EXPECT_TRUE(SamePixels(gfx::DecodeImageFile(form->saveAnswer), form->FResultImage));

  struct Case {
    const char* name;
    const char* message;  // the whole message, or its beginning when it names a path
    bool exact;
  };
  const Case cases[] = {
      {"old.xyz", "Error saving image: Invalid extension", true},
      {"missing-folder/old.png", "Error saving image: ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString target = Path(QString::fromUtf8(c.name));
    const bool existed = !QString::fromUtf8(c.name).contains(QLatin1Char('/'));
    if (existed) {
      QFile old(target);
      ASSERT_TRUE(old.open(QIODevice::WriteOnly));
      old.write("old bytes");
    }
    form->messages.clear();
    form->saveAnswer = target;
    form->SaveImageClick();
    ASSERT_EQ(form->messages.size(), 1);
    if (c.exact)
      EXPECT_EQ(form->messages.first(), QString::fromUtf8(c.message));
    else
      EXPECT_TRUE(form->messages.first().startsWith(QString::fromUtf8(c.message)));
    if (existed) {
      QFile old(target);
      ASSERT_TRUE(old.open(QIODevice::ReadOnly));
      EXPECT_EQ(old.readAll(), QByteArray("old bytes"));
    } else {
      EXPECT_FALSE(QFileInfo::exists(target));
    }
  }
}

TEST_F(MainWindowTest, FailedLoadKeepsTheDocumentAndItsSaveName) {
  const gfx::Image loaded = LoadPattern(40, 30, QStringLiteral("good.png"));
  const QString broken = Path(QStringLiteral("broken.jpg"));
  QFile f(broken);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("not an image at all");
  f.close();

  EXPECT_FALSE(form->LoadLargeImage(broken));
  EXPECT_EQ(form->messages, QStringList{QStringLiteral("Failed to load image: ") + broken});
  EXPECT_EQ(form->FSourceImage.uniqueId(), loaded.uniqueId());
  EXPECT_EQ(form->FResultImage.uniqueId(), loaded.uniqueId());
  EXPECT_EQ(form->FSourceFileName, Path(QStringLiteral("good.png")));
  EXPECT_EQ(form->FHistory.Count(), 1);
}

TEST_F(MainWindowTest, DropLoadsTheFirstExistingFileWithAnAcceptedExtension) {
  const QString text = Path(QStringLiteral("notes.txt"));
  QFile t(text);
  ASSERT_TRUE(t.open(QIODevice::WriteOnly));
  t.write("hello");
  t.close();
  const QString missing = Path(QStringLiteral("missing.png"));
  const QString second = WriteImage(QStringLiteral("second.PNG"), Pattern(20, 10));
  const QString third = WriteImage(QStringLiteral("third.jpg"), Pattern(30, 10));

  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile(text), QUrl::fromLocalFile(missing),
                 QUrl::fromLocalFile(second), QUrl::fromLocalFile(third)});
  QWidget* area = form->FWorkspace;
  const QPoint centre(area->width() / 2, area->height() / 2);
  // The drag's entry makes the area the drop's target, as a real drag does.
  QDragEnterEvent enter(centre, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(area, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(centre, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(area, &drop);
  delete mime;
  EXPECT_EQ(form->FSourceFileName, second);
  EXPECT_EQ(form->FSourceImage.width(), 20);

  // Nothing accepted: nothing changes.
  EXPECT_FALSE(form->HandleDroppedFiles({text, missing}));
  EXPECT_EQ(form->FSourceFileName, second);
}

TEST_F(MainWindowTest, CommandLineOpensOnlyAnExistingFirstArgument) {
  const QString file = WriteImage(QStringLiteral("cli.png"), Pattern(8, 8));
  struct Case {
    QStringList args;
    QString expected;
  };
  const Case cases[] = {
      {{}, {}},
      {{file}, file},
      {{file, QStringLiteral("--other")}, file},
      {{QStringLiteral("-psn_0_12345"), file}, {}},
      {{Path(QStringLiteral("nope.png"))}, {}},
      {{dir.path()}, {}},  // a folder is not an image file
  };
  for (const Case& c : cases)
    EXPECT_EQ(TForm1::CommandLineImageFile(c.args), c.expected) << qPrintable(c.args.join(' '));
}

TEST_F(MainWindowTest, PasteTakesOnlyImagesAndCopyPutsTheResultOnTheClipboard) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const gfx::Image pattern = Pattern(12, 9);
  clipboard->setImage(pattern.qimage());
  form->PasteFromClipboardClick();
  ASSERT_TRUE(SamePixels(form->FSourceImage, pattern));
  EXPECT_EQ(form->FResultImage.uniqueId(), form->FSourceImage.uniqueId());
  EXPECT_TRUE(form->FSourceFileName.isEmpty());
  EXPECT_EQ(form->FHistory.Count(), 1);

  clipboard->setText(QStringLiteral("just text"));
  const uint64_t before = form->FSourceImage.uniqueId();
  form->PasteFromClipboardClick();
  EXPECT_EQ(form->FSourceImage.uniqueId(), before);
  EXPECT_EQ(form->FHistory.Count(), 1);

  QTest::keyClick(form.get(), Qt::Key_C, Qt::ControlModifier);
  ASSERT_TRUE(clipboard->mimeData()->hasImage());
  EXPECT_TRUE(SamePixels(gfx::Image::FromQImage(clipboard->image()), pattern));
}

TEST_F(MainWindowTest, SwitchingEffectsKeepsEachEffectsSliders) {
  // No image is loaded, so no preview ever stores the sliders: the switch must.
  form->SelectEffect(100);
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{20, 50, 65, 5, 80}));
  for (int i = 0; i < 5; ++i) Slider(i)->setValue(11 * (i + 1));
  form->SelectEffect(300);
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{30, 40, 40, 100, 20}));
  form->SelectEffect(100);
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{11, 22, 33, 44, 55}));

  // The reset gesture puts every effect back to its defaults.
  form->ResetAllParameters();
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{20, 50, 65, 5, 80}));
}

TEST_F(MainWindowTest, EffectListClicksSelectAndMark) {
  ui::CategoryGroup* photoLab = form->FEffectPanel->GroupOf(400);
  QTest::mouseClick(photoLab->Header(), Qt::LeftButton);
  ASSERT_TRUE(photoLab->IsExpanded());
  QCoreApplication::processEvents();  // lays the list out
  EXPECT_FALSE(form->FEffectPanel->GroupOf(300)->IsExpanded());
  QListWidget* list = photoLab->List();
  const QRect item = list->visualItemRect(list->item(3));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
  EXPECT_EQ(list->item(3)->text(), QStringLiteral("\u25B6 Retro film"));
  EXPECT_EQ(form->FEffectPanel->GroupOf(300)->List()->item(0)->text(),
            QStringLiteral("\u2023 Watercolor"));
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{30, 35, 60, 20, 25}));
  // A second click on the title collapses the group.
  QTest::mouseClick(photoLab->Header(), Qt::LeftButton);
  EXPECT_FALSE(photoLab->IsExpanded());
}

TEST_F(MainWindowTest, EffectsThatCannotRunStayOutOfTheLists) {
  ScopedEffect missing(305, nullptr);
  ui::EffectPanel panel;
  ui::CategoryGroup* painting = panel.GroupOf(305);
  painting->SetExpanded(true);
  EXPECT_EQ(painting->height(), 7 * 30 + 25);
  QListWidget* list = painting->List();
  // The rows stay in catalogue order, so the markers still find every other effect.
  EXPECT_TRUE(list->item(5)->isHidden());
  EXPECT_FALSE(list->item(4)->isHidden());
  panel.SetMarkers(3, 6);
  EXPECT_EQ(list->item(6)->text(), QStringLiteral("\u25B6 ") + GetEffectName(306));
  // Nor can it be chosen some other way (a settings file, a parameter file).
  form->SelectEffect(300);
  form->SelectEffect(305);
  EXPECT_EQ(form->SelectedEffectNumber, 300);
}

TEST_F(MainWindowTest, SwitchesAndBrushBoxFollowTheSelectedEffect) {
  struct Case {
    int effect;
    bool eraseEnabled;
    bool brushes;
  };
  const Case cases[] = {{401, false, false}, {305, true, false}, {100, false, false},
                        {202, true, false},  {302, true, true},  {304, true, true},
                        {306, false, false}, {307, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.effect);
    form->SelectEffect(c.effect);
    EXPECT_EQ(form->FParameterPanel->eraseSwitch->isEnabled(), c.eraseEnabled);
    EXPECT_EQ(form->FParameterPanel->eraseLabel->isEnabled(), c.eraseEnabled);
    EXPECT_EQ(!form->FParameterPanel->brushesBox->isHidden(), c.brushes);
  }
  // The switch holds FEraseBdChecked, which the runner hands to full renders.
  form->FParameterPanel->eraseSwitch->click();
  EXPECT_FALSE(form->EraseBackgroundChecked());
  form->FParameterPanel->textureSwitch->click();
  EXPECT_FALSE(form->StoredTexture().addTexture);
}

TEST_F(MainWindowTest, ParameterFilesThroughTheTwoIcons) {
  auto write = [&](const QString& name, const QByteArray& text) {
    const QString path = Path(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
  };
  form->SelectEffect(401);
  const auto* loadIcon = form->FParameterPanel->loadParamsButton;
  auto* load = form->findChild<QAbstractButton*>(QStringLiteral("LoadParamsButton"));
  auto* save = form->findChild<QAbstractButton*>(QStringLiteral("SaveParamsButton"));
  ASSERT_EQ(load, loadIcon);
  ASSERT_TRUE(save);

  form->openAnswer =
      write(QStringLiteral("contrast.qlp"),
            "[Effect_4_1]\r\nValue2=75\r\nValue3=250\r\n[Effect_12_0]\r\nValue1=9\r\n");
  load->click();
  ASSERT_EQ(form->requests.size(), 1);
  EXPECT_EQ(form->requests[0].title, QStringLiteral("Load Parameters"));
  EXPECT_EQ(form->requests[0].filter,
            QStringLiteral("Quillora Parameters (*.qlp)|*.qlp|All Files (*.*)|*.*"));
  // 250 is stored as written and shown as 100; keys after a bad section are ignored.
  EXPECT_EQ(SliderValues(), (std::array<int, 5>{52, 75, 100, 15, 52}));
  EXPECT_EQ(form->Params[4][1].Value3, 250);
  EXPECT_EQ(form->Params[4][1].Value1, 52);
  EXPECT_TRUE(form->messages.isEmpty());

  // A missing file changes nothing and says nothing; an unreadable one says why.
  form->openAnswer = Path(QStringLiteral("missing.qlp"));
  load->click();
  EXPECT_TRUE(form->messages.isEmpty());
  form->openAnswer = dir.path();
  load->click();
  ASSERT_EQ(form->messages.size(), 1);
  EXPECT_TRUE(form->messages[0].startsWith(QStringLiteral("Error loading parameters: ")));

  // Saving carries the sliders as shown, even before a preview stored them.
  form->messages.clear();
  Slider(4)->setValue(7);
  form->saveAnswer = Path(QStringLiteral("saved.qlp"));
  save->click();
  EXPECT_EQ(form->messages, QStringList{QStringLiteral("Parameters saved successfully!")});
  TParamTable readBack{};
  ASSERT_TRUE(LoadParameters(form->saveAnswer, readBack));
  EXPECT_EQ(readBack[4][1].Value5, 7);
  EXPECT_EQ(readBack[4][1].Value2, 75);

  form->messages.clear();
  form->saveAnswer = Path(QStringLiteral("no-such-folder/saved.qlp"));
  save->click();
  ASSERT_EQ(form->messages.size(), 1);
  EXPECT_TRUE(form->messages[0].startsWith(QStringLiteral("Error saving parameters: ")));
}

TEST_F(MainWindowTest, MenuEntriesRunTheirCommands) {
  LoadPattern();
  const gfx::Image source = form->FSourceImage;
  form->SetResultImage(testutil::SolidImage(source.width(), source.height(), 0xFF123456));

  QTest::keyClick(form.get(), Qt::Key_F10);
  ASSERT_TRUE(form->FMainMenu->isVisible());
  QStringList entries;
  ui::MenuEntry* swap = nullptr;
  for (ui::MenuEntry* e : form->FMainMenu->findChildren<ui::MenuEntry*>()) {
    entries << e->text();
    if (e->text() == QStringLiteral("Swap Source/Result")) swap = e;
  }
  // Only the commands this program has; nothing that would do nothing.
  EXPECT_EQ(entries,
            (QStringList{"Open", "Save", "Quit", "Undo", "Redo", "Copy to clipboard",
                         "Paste from clipboard", "View source image", "Swap Source/Result"}));
  ASSERT_TRUE(swap);
  swap->click();
  EXPECT_FALSE(form->FMainMenu->isVisible());
  ASSERT_TRUE(WaitFor([&] { return form->FResultImage.uniqueId() == source.uniqueId(); }, 2000));
  EXPECT_EQ(PixelAt(form->FSourceImage, 0, 0), 0xFF123456u);
  QTest::keyClick(form.get(), Qt::Key_F12);
  EXPECT_EQ(form->FSourceImage.uniqueId(), source.uniqueId());
}

TEST(QtNameFilters, TurnsTheProgramsFiltersIntoQtsForm) {
  EXPECT_EQ(ui::QtNameFilters(QStringLiteral("Image Files|*.jpg;*.jpeg;*.png;*.bmp|All Files|*.*")),
            (QStringList{"Image Files (*.jpg *.jpeg *.png *.bmp)", "All Files (*)"}));
  EXPECT_EQ(
      ui::QtNameFilters(QStringLiteral("Quillora Parameters (*.qlp)|*.qlp|All Files (*.*)|*.*")),
      (QStringList{"Quillora Parameters (*.qlp)", "All Files (*)"}));
}

}  // namespace
