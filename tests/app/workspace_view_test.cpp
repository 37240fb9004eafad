#include "app/workspace_view.h"

#include "gfx/surface.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>
#include <cstdint>
#include <vector>

using gfx::Image;
using quillora::ui::ShowFullScreenViewer;
using quillora::ui::WorkspaceView;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr uint32_t kRed = 0xFFFF0000;   // the source in these tests
constexpr uint32_t kBlue = 0xFF0000FF;  // the result

void SendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void SendWheel(QWidget* w, QPointF pos, int delta) {
  QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

// A left-button drag of a child widget, with the positions given in its parent's
// coordinates (the child may move under the mouse, as a crop handle does).
void DragInParent(QWidget* child, QPointF from, QPointF to) {
  auto local = [child](QPointF p) { return p - QPointF(child->pos()); };
  SendMouse(child, QEvent::MouseButtonPress, local(from), Qt::LeftButton, Qt::LeftButton);
  SendMouse(child, QEvent::MouseMove, local(to), Qt::NoButton, Qt::LeftButton);
  SendMouse(child, QEvent::MouseButtonRelease, local(to), Qt::LeftButton, Qt::NoButton);
}

Image NoiseImage(int w, int h) {
  std::vector<uint32_t> argb(size_t(w) * size_t(h));
  uint32_t state = 2024;
  for (auto& p : argb) {
    state = state * 134775813u + 1u;
    p = 0xFF000000u | (state >> 8);
  }
  return MakeImage(w, h, argb);
}

QImage Grab(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_ARGB32); }

// A 400 x 300 view on screen, with a 200 x 100 blue result over a red source.
class WorkspaceViewTest : public testing::Test {
 protected:
  void SetUp() override {
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    box = view.findChild<QWidget*>(QStringLiteral("paintBox"));
    ASSERT_NE(box, nullptr);
    view.SetImages(SolidImage(200, 100, kBlue), SolidImage(200, 100, kRed));
  }

  WorkspaceView view;
  QWidget* box = nullptr;
};

TEST_F(WorkspaceViewTest, WheelStepsInSinglePrecision) {
  struct Case {
    float start;
    double delta;
    float expected;
  };
  const Case cases[] = {
      {0.97f, 120, 0.97f * 1.08f},   // 1.0476
      {1.04f, -120, 1.04f / 1.08f},  // 0.96296
      {0.93f, 120, 1.0f},            // 1.0044 snaps to exactly 1
      {1.07f, -120, 1.07f / 1.08f},  // 0.99074 is outside the snap
      {0.4f, 120, 0.4f * 1.03f},     // fine steps below 0.5
      {2.0f, -120, 2.0f / 1.12f},    // coarse steps from 1.5
      {1.2f, 0.5, 1.2f / 1.08f},     // a delta below 1 divides
      {9.5f, 120, 10.0f},            // clamped
      {0.102f, -120, 0.1f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.start << " delta " << c.delta);
    view.SetZoomAndPan(c.start, QPointF(0, 0));
    view.WheelZoom(QPointF(10, 10), c.delta);
    EXPECT_EQ(view.ZoomFactor(), c.expected);
  }
  view.SetZoomAndPan(0.97f, QPointF(0, 0));
  view.WheelZoom(QPointF(0, 0), 120);
  EXPECT_NEAR(view.ZoomFactor(), 1.0476, 1e-4);
  view.SetZoomAndPan(1.04f, QPointF(0, 0));
  view.WheelZoom(QPointF(0, 0), -120);
  EXPECT_NEAR(view.ZoomFactor(), 0.96296, 1e-5);
}

TEST_F(WorkspaceViewTest, WheelKeepsTheCornerUnderTheMouse) {
  view.SetZoomAndPan(0.8f, QPointF(37.5, 21.25));
  QSignalSpy zoomed(&view, &WorkspaceView::zoomChanged);
  const QPointF corner(37.5 + 200 * 0.8, 21.25 + 100 * 0.8);
  for (int delta : {120, 120, 120, -120, 120, 120}) SendWheel(box, corner, delta);
  EXPECT_EQ(zoomed.count(), 6);
  EXPECT_GT(view.ZoomFactor(), 1.08f);  // 0.8 x 1.08^4
  const QPointF pan = view.PanOffset();
  EXPECT_NEAR(pan.x() + 200 * view.ZoomFactor(), corner.x(), 1e-3);
  EXPECT_NEAR(pan.y() + 100 * view.ZoomFactor(), corner.y(), 1e-3);

  // Fine wheel deltas add up to one step; a sideways swipe does nothing.
  const float before = view.ZoomFactor();
  SendWheel(box, corner, 60);
  EXPECT_EQ(view.ZoomFactor(), before);
  SendWheel(box, corner, 60);
  EXPECT_GT(view.ZoomFactor(), before);
}

TEST_F(WorkspaceViewTest, ButtonsZoomAboutThePaintBoxCentreWithinTheLimits) {
  view.SetZoomAndPan(1.0f, QPointF(100, 100));
  QSignalSpy zoomed(&view, &WorkspaceView::zoomChanged);
  view.ZoomIn();
  EXPECT_EQ(view.ZoomFactor(), 1.1f);
  // The image point at the centre (200, 150) stays there.
  EXPECT_FLOAT_EQ(float(view.PanOffset().x()), 200 - 100 * 1.1f);
  EXPECT_FLOAT_EQ(float(view.PanOffset().y()), 150 - 50 * 1.1f);
  view.ZoomOut();
  EXPECT_FLOAT_EQ(view.ZoomFactor(), 1.0f);
  EXPECT_EQ(zoomed.count(), 2);

  for (int i = 0; i < 60; ++i) view.ZoomIn();
  EXPECT_EQ(view.ZoomFactor(), 10.0f);
  // The paint box grows with the image, so the view scrolls.
  EXPECT_EQ(view.PaintBoxSize(), QSize(2000, 1000));
  for (int i = 0; i < 60; ++i) view.ZoomOut();
  EXPECT_EQ(view.ZoomFactor(), 0.1f);
  EXPECT_EQ(view.PaintBoxSize(), QSize(400, 300));
  EXPECT_EQ(zoomed.count(), 122);

  // Without a source there is nothing to compare or zoom.
  view.SetImages(SolidImage(200, 100, kBlue), Image());
  view.ZoomIn();
  view.BestFitAndCenter();
  EXPECT_EQ(view.ZoomFactor(), 0.1f);
}

TEST_F(WorkspaceViewTest, FitFullSizeAndCentring) {
  QSignalSpy zoomed(&view, &WorkspaceView::zoomChanged);
  view.BestFitAndCenter();  // min(400 / 200, 300 / 100)
  EXPECT_EQ(view.ZoomFactor(), 2.0f);
  EXPECT_EQ(view.PanOffset(), QPointF(0, 50));
  EXPECT_EQ(view.PaintBoxSize(), QSize(400, 300));

  view.FullSizeAndCenter();
  EXPECT_EQ(view.ZoomFactor(), 1.0f);
  EXPECT_EQ(view.PanOffset(), QPointF(100, 100));
  EXPECT_EQ(zoomed.count(), 2);

  // A panorama: the fit is clamped to 0.1 and the paint box keeps the whole width.
  view.SetImages(SolidImage(8000, 100, kBlue), SolidImage(8000, 100, kRed));
  view.BestFitAndCenter();
  EXPECT_EQ(view.ZoomFactor(), 0.1f);
  EXPECT_FLOAT_EQ(float(view.PanOffset().x()), (400 - 8000 * 0.1f) / 2);
  EXPECT_FLOAT_EQ(float(view.PanOffset().y()), (300 - 100 * 0.1f) / 2);
  EXPECT_EQ(view.PaintBoxSize(), QSize(800, 300));

  // Full size centres in the viewport, Ctrl+0 in the (larger) paint box.
  view.SetImages(SolidImage(1000, 100, kBlue), SolidImage(1000, 100, kRed));
  view.FullSizeAndCenter();
  EXPECT_EQ(view.PanOffset(), QPointF(-300, 100));
  view.ActualSizeCentered();
  EXPECT_EQ(view.PaintBoxSize(), QSize(1000, 300));
  EXPECT_EQ(view.PanOffset(), QPointF(0, 100));

  view.SetZoomAndPan(0.4f, QPointF(-40, 7));
  view.CenterImageInPaintBox();
  EXPECT_EQ(view.PanOffset(), QPointF(0, 130));
  view.SetZoomAndPan(0.5f, QPointF(-40, 7));  // the image is exactly as wide as the box
  view.CenterImageInPaintBox();
  EXPECT_EQ(view.PanOffset(), QPointF(0, 125));
}

TEST_F(WorkspaceViewTest, CubicFollowsTheLastZoomStepAfter150Ms) {
  view.FullSizeAndCenter();
  ASSERT_TRUE(testutil::WaitFor([&] { return !view.IsZooming(); }));

  QElapsedTimer clock;
  clock.start();
  view.ZoomIn();
  EXPECT_TRUE(view.IsZooming());
  QTest::qWait(60);
  view.ZoomIn();  // a further step restarts the wait
  const qint64 lastStep = clock.elapsed();
  EXPECT_TRUE(view.IsZooming());
  ASSERT_TRUE(testutil::WaitFor([&] { return !view.IsZooming(); }, 5000));
  EXPECT_GE(clock.elapsed() - lastStep, 140);

  // Panning is no zoom step.
  view.CenterImageInPaintBox();
  EXPECT_FALSE(view.IsZooming());
}

TEST_F(WorkspaceViewTest, SplitViewAndTheRightButtonShowTheSource) {
  view.BestFitAndCenter();  // the image covers x 0..400, y 50..250
  QSignalSpy split(&view, &WorkspaceView::splitViewChanged);
  view.SetSplitView(true);
  EXPECT_EQ(split.count(), 1);
  EXPECT_EQ(view.DividerX(), 200.0f);

  QImage shot = Grab(&view);
  EXPECT_EQ(shot.pixel(100, 150), kRed);  // source left of the divider
  EXPECT_EQ(shot.pixel(300, 150), kBlue);

  SendMouse(box, QEvent::MouseButtonPress, {300, 150}, Qt::RightButton, Qt::RightButton);
  shot = Grab(&view);
  for (QPoint p :
       {QPoint(30, 60), QPoint(100, 150), QPoint(200, 100), QPoint(300, 150), QPoint(390, 240)})
    EXPECT_EQ(shot.pixel(p), kRed) << p.x() << ", " << p.y();
  SendMouse(box, QEvent::MouseButtonRelease, {300, 150}, Qt::RightButton, Qt::NoButton);
  EXPECT_EQ(Grab(&view).pixel(300, 150), kBlue);

  // Nothing is drawn outside the image.
  const QRgb outside = Grab(&view).pixel(200, 20);
  EXPECT_NE(outside, kRed);
  EXPECT_NE(outside, kBlue);
}

TEST_F(WorkspaceViewTest, DividerDragsWithinTheImageAndPansWithIt) {
  view.FullSizeAndCenter();  // image at x 100..300, y 100..200
  view.SetSplitView(true);
  ASSERT_EQ(view.DividerX(), 200.0f);

  // Dragging the bar moves the divider, never off the image.
  SendMouse(box, QEvent::MouseButtonPress, {201, 120}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(box, QEvent::MouseMove, {260, 120}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(view.DividerX(), 260.0f);
  SendMouse(box, QEvent::MouseMove, {390, 120}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(view.DividerX(), 300.0f);
  SendMouse(box, QEvent::MouseButtonRelease, {390, 120}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(view.PanOffset(), QPointF(100, 100));

  // Panning elsewhere moves the image and the divider together.
  QSignalSpy changed(&view, &WorkspaceView::viewChanged);
  SendMouse(box, QEvent::MouseButtonPress, {150, 150}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(box, QEvent::MouseMove, {130, 165}, Qt::NoButton, Qt::LeftButton);
  SendMouse(box, QEvent::MouseButtonRelease, {130, 165}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(view.PanOffset(), QPointF(80, 115));
  EXPECT_EQ(view.DividerX(), 280.0f);
  EXPECT_EQ(changed.count(), 1);

  // Zooming out pulls the divider back inside the smaller image.
  view.SetZoomAndPan(0.5f, QPointF(100, 100));
  EXPECT_EQ(view.DividerX(), 200.0f);
}

TEST_F(WorkspaceViewTest, DoubleClickAsksForTheViewer) {
  QSignalSpy asked(&view, &WorkspaceView::viewDoubleClicked);
  view.FullSizeAndCenter();
  SendMouse(box, QEvent::MouseButtonDblClick, {150, 150}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(asked.count(), 1);
  view.BeginCrop();
  SendMouse(box, QEvent::MouseButtonDblClick, {150, 150}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(asked.count(), 1);
}

TEST_F(WorkspaceViewTest, CropSelectionPartlyOutsideCropsToTheImage) {
  view.SetImages(SolidImage(100, 50, kBlue), SolidImage(100, 50, kRed));
  view.SetZoomAndPan(1.0f, QPointF(10, 10));  // fits the viewport: centred
  view.SetSplitView(true);
  QSignalSpy mode(&view, &WorkspaceView::cropModeChanged);
  QSignalSpy accepted(&view, &WorkspaceView::cropAccepted);

  view.BeginCrop();
  ASSERT_TRUE(view.IsCropping());
  EXPECT_FALSE(view.SplitView());
  EXPECT_EQ(view.PanOffset(), QPointF(150, 125));
  EXPECT_EQ(view.CropSelection(), QRectF(151, 126, 98, 48));
  ASSERT_EQ(mode.count(), 1);
  EXPECT_TRUE(mode.at(0).at(0).toBool());
  auto* toolbar = box->findChild<QWidget*>(QStringLiteral("cropToolbar"));
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(toolbar->y(), 126 - 6 - toolbar->height());
  EXPECT_EQ(toolbar->x() + toolbar->width() / 2, 200);

  // Left edge 80 units out of the image, top edge 10.
  auto* left = box->findChild<QWidget*>(QStringLiteral("cropHandleLeft"));
  auto* top = box->findChild<QWidget*>(QStringLiteral("cropHandleTop"));
  ASSERT_TRUE(left && top);
  DragInParent(left, {151, 150}, {71, 170});
  DragInParent(top, {200, 126}, {180, 116});
  EXPECT_EQ(view.CropSelection(), QRectF(71, 116, 178, 58));

  view.AcceptCrop();
  ASSERT_EQ(accepted.count(), 1);
  // left trunc(-79), top trunc(-9), 178 x 58, cut to the 100 x 50 image.
  EXPECT_EQ(accepted.at(0).at(0).toRect(), QRect(0, 0, 99, 49));
  EXPECT_FALSE(view.IsCropping());
  EXPECT_FALSE(left->isVisible());
  EXPECT_FALSE(toolbar->isVisible());
  ASSERT_EQ(mode.count(), 2);
  EXPECT_FALSE(mode.at(1).at(0).toBool());
}

TEST_F(WorkspaceViewTest, CropEdgesKeepTheSmallestSelection) {
  view.SetImages(SolidImage(100, 50, kBlue), SolidImage(100, 50, kRed));
  view.FullSizeAndCenter();
  view.BeginCrop();
  auto* right = box->findChild<QWidget*>(QStringLiteral("cropHandleRight"));
  auto* bottom = box->findChild<QWidget*>(QStringLiteral("cropHandleBottom"));
  ASSERT_TRUE(right && bottom);
  DragInParent(right, {249, 150}, {20, 150});
  DragInParent(bottom, {200, 174}, {200, -40});
  EXPECT_EQ(view.CropSelection(), QRectF(151, 126, 20, 20));
  // Handles stay in the paint box.
  DragInParent(right, {171, 136}, {900, 136});
  EXPECT_EQ(view.CropSelection().right(), 400.0);

  // The accept icon accepts.
  QSignalSpy accepted(&view, &WorkspaceView::cropAccepted);
  auto* accept = box->findChild<QAbstractButton*>(QStringLiteral("cropAccept"));
  ASSERT_NE(accept, nullptr);
  accept->click();
  ASSERT_EQ(accepted.count(), 1);
  EXPECT_EQ(accepted.at(0).at(0).toRect(), QRect(1, 1, 99, 20));
}

TEST_F(WorkspaceViewTest, CropOffTheImageOrCancelledChangesNothing) {
  view.SetImages(SolidImage(100, 50, kBlue), SolidImage(100, 50, kRed));
  view.FullSizeAndCenter();
  QSignalSpy accepted(&view, &WorkspaceView::cropAccepted);
  QSignalSpy mode(&view, &WorkspaceView::cropModeChanged);

  view.BeginCrop();
  auto* left = box->findChild<QWidget*>(QStringLiteral("cropHandleLeft"));
  auto* right = box->findChild<QWidget*>(QStringLiteral("cropHandleRight"));
  DragInParent(left, {151, 150}, {0, 150});
  DragInParent(right, {249, 150}, {0, 150});
  ASSERT_EQ(view.CropSelection().left(), 0.0);
  ASSERT_EQ(view.CropSelection().right(), 20.0);  // wholly left of the image at 150
  view.AcceptCrop();
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_FALSE(view.IsCropping());

  view.BeginCrop();
  box->findChild<QAbstractButton*>(QStringLiteral("cropCancel"))->click();
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_FALSE(view.IsCropping());
  EXPECT_EQ(mode.count(), 4);
}

TEST_F(WorkspaceViewTest, CropToolbarDropsIntoTheSelectionNearTheTop) {
  view.SetImages(SolidImage(100, 300, kBlue), SolidImage(100, 300, kRed));
  view.SetZoomAndPan(2.0f, QPointF(-30, -60));
  view.BeginCrop();  // too big for the viewport: fitted, so it fills the height
  EXPECT_EQ(view.ZoomFactor(), 1.0f);
  EXPECT_EQ(view.PanOffset(), QPointF(150, 0));
  EXPECT_EQ(view.CropSelection().top(), 1.0);
  EXPECT_EQ(box->findChild<QWidget*>(QStringLiteral("cropToolbar"))->y(), 2);

  // The selection follows the image when the view changes under it.
  const QRectF before = view.CropSelection();
  view.SetZoomAndPan(0.5f, QPointF(0, 0));
  const QRectF after = view.CropSelection();
  EXPECT_DOUBLE_EQ(after.left(), (before.left() - 150) * 0.5);
  EXPECT_DOUBLE_EQ(after.width(), before.width() * 0.5);
}

// The settled picture is cached and, when panned, only the uncovered strips are drawn
// again: both must equal one cubic draw of the whole image.
TEST_F(WorkspaceViewTest, SettledPictureMatchesOneCubicDraw) {
  const Image image = NoiseImage(300, 200);
  view.SetImages(image, image);
  auto expectCubic = [&](const char* what) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(testutil::WaitFor([&] { return !view.IsZooming(); }));
    box->grab();  // a repaint asks for the settled rendering where it is missing
    ASSERT_TRUE(testutil::WaitFor([&] { return !view.IsRendering(); }));
    // The paint box alone: the scroll bars float over the view's edges.
    const QImage shot =
        box->grab(QRect(0, 0, 400, 300)).toImage().convertToFormat(QImage::Format_ARGB32);
    const float z = view.ZoomFactor();
    const QPointF pan = view.PanOffset();
    const QRectF dst(pan.x(), pan.y(), 300 * z, 200 * z);
    gfx::Surface reference(400, 300);
    reference.drawImageRect(image, QRectF(0, 0, 300, 200), dst, gfx::Sampling::Cubic);
    const Image ref = reference.snapshot();
    int worst = 0;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) {
        // Whole image pixels only, away from the rounded corners.
        if (x < dst.left() + 1 || x > dst.right() - 2 || y < dst.top() + 1 || y > dst.bottom() - 2)
          continue;
        if ((x < 16 || x > 383) && (y < 16 || y > 283)) continue;
        const QRgb a = shot.pixel(x, y);
        const uint32_t b = testutil::PixelAt(ref, x, y);
        for (int shift : {0, 8, 16})
          worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
      }
    // On noise any misplaced pixel is off by tens of levels; pixman's filter phases,
    // rounded from a different origin in a strip, may differ by a level or two.
    EXPECT_LE(worst, 2);
    if (worst > 1) {
      shot.save(QStringLiteral("settled.actual.png"));
      ref.qimage().save(QStringLiteral("settled.reference.actual.png"));
    }
  };

  view.SetZoomAndPan(1.7f, QPointF(-23.3, -41.6));
  expectCubic("first draw");
  SendMouse(box, QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(box, QEvent::MouseMove, {163, 171}, Qt::NoButton, Qt::LeftButton);
  SendMouse(box, QEvent::MouseButtonRelease, {163, 171}, Qt::LeftButton, Qt::NoButton);
  expectCubic("panned by whole units");
  view.ZoomIn();
  expectCubic("after a zoom step");
}

TEST_F(WorkspaceViewTest, EmptyViewDrawsNothing) {
  view.SetImages(Image(), Image());
  const QImage shot = Grab(&view);
  const QRgb first = shot.pixel(0, 0);
  for (int y = 0; y < shot.height(); y += 7)
    for (int x = 0; x < shot.width(); x += 7) ASSERT_EQ(shot.pixel(x, y), first);
}

TEST(FullScreenViewer, ShowsThePictureOverItsShadowAndClosesOnAKey) {
  const Image image = SolidImage(200, 100, kRed);
  QImage shot;
  QRect geometry;
  QTimer::singleShot(0, [&] {
    QWidget* viewer = QApplication::activeModalWidget();
    ASSERT_NE(viewer, nullptr);
    geometry = viewer->geometry();
    shot = viewer->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(viewer, &release);
  });
  ShowFullScreenViewer(nullptr, image, true);  // returns once closed

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(geometry, screen);
  ASSERT_EQ(shot.size(), screen.size());
  // Fitted inside the 50-unit margin and centred.
  const double scale = std::min((screen.width() - 100) / 200.0, (screen.height() - 100) / 100.0);
  const QRectF picture((screen.width() - 200 * scale) / 2, (screen.height() - 100 * scale) / 2,
                       200 * scale, 100 * scale);
  EXPECT_EQ(shot.pixel(5, 5), 0xFFFFFFFFu);
  EXPECT_EQ(shot.pixel(picture.center().toPoint()), kRed);
  EXPECT_EQ(shot.pixel(int(picture.left()) + 2, int(picture.top()) + 2), kRed);
  // The shadow falls below: darker 10 units under the picture than 10 units above it.
  const int cx = int(picture.center().x());
  const int below = qGray(shot.pixel(cx, int(picture.bottom()) + 10));
  const int above = qGray(shot.pixel(cx, int(picture.top()) - 10));
  EXPECT_LT(below, 235);
  EXPECT_LT(below, above - 10);
}

TEST(FullScreenViewer, ClosesOnAClick) {
  bool shown = false;
  QTimer::singleShot(0, [&] {
    QWidget* viewer = QApplication::activeModalWidget();
    ASSERT_NE(viewer, nullptr);
    shown = true;
    SendMouse(viewer, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
  });
  ShowFullScreenViewer(nullptr, SolidImage(20, 20, kBlue), false);
  EXPECT_TRUE(shown);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
