#include "app/preview_pane.h"

#include "test_util.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

using quillora::ui::PreviewPane;

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void SendWheel(QWidget* w, QPoint angle) {
  const QPointF pos(100, 100);
  QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

TEST(PreviewPane, MouseDragReportsPanInPaneUnits) {
  PreviewPane pane;
  QSignalSpy started(&pane, &PreviewPane::panStarted);
  QSignalSpy moved(&pane, &PreviewPane::panMoved);
  QSignalSpy finished(&pane, &PreviewPane::panFinished);

  // Other buttons do not pan.
  SendMouse(&pane, QEvent::MouseButtonPress, {50, 50}, Qt::RightButton, Qt::RightButton);
  SendMouse(&pane, QEvent::MouseMove, {60, 60}, Qt::NoButton, Qt::RightButton);
  SendMouse(&pane, QEvent::MouseButtonRelease, {60, 60}, Qt::RightButton, Qt::NoButton);
  EXPECT_EQ(started.count() + moved.count() + finished.count(), 0);

  SendMouse(&pane, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(started.count(), 1);
  SendMouse(&pane, QEvent::MouseMove, {57, 46}, Qt::NoButton, Qt::LeftButton);
  SendMouse(&pane, QEvent::MouseMove, {57, 46}, Qt::NoButton, Qt::LeftButton);  // no motion
  SendMouse(&pane, QEvent::MouseMove, {40.5, 60}, Qt::NoButton, Qt::LeftButton);
  ASSERT_EQ(moved.count(), 2);
  EXPECT_DOUBLE_EQ(moved.at(0).at(0).toDouble(), 7);
  EXPECT_DOUBLE_EQ(moved.at(0).at(1).toDouble(), -4);
  EXPECT_DOUBLE_EQ(moved.at(1).at(0).toDouble(), -16.5);
  EXPECT_DOUBLE_EQ(moved.at(1).at(1).toDouble(), 14);
  SendMouse(&pane, QEvent::MouseButtonRelease, {40, 60}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(finished.count(), 1);

  // Hovering without the button pressed is not a pan.
  SendMouse(&pane, QEvent::MouseMove, {80, 80}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(moved.count(), 2);
}

TEST(PreviewPane, WheelZoomsByItsDirection) {
  PreviewPane pane;
  QSignalSpy zoom(&pane, &PreviewPane::wheelZoom);
  SendWheel(&pane, {0, 120});
  SendWheel(&pane, {0, -240});
  SendWheel(&pane, {120, 0});  // sideways: no zoom direction
  ASSERT_EQ(zoom.count(), 2);
  EXPECT_EQ(zoom.at(0).at(0).toInt(), 120);
  EXPECT_EQ(zoom.at(1).at(0).toInt(), -240);
}

TEST(PreviewPane, ZoomOverlayShowsOnHoverAndItsButtonsSignal) {
  PreviewPane pane;
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  auto* overlay = pane.findChild<QWidget*>(QStringLiteral("zoomOverlay"));
  auto* reset = pane.findChild<QAbstractButton*>(QStringLiteral("zoomReset"));
  auto* in = pane.findChild<QAbstractButton*>(QStringLiteral("zoomIn"));
  auto* out = pane.findChild<QAbstractButton*>(QStringLiteral("zoomOut"));
  ASSERT_TRUE(overlay && reset && in && out);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&pane, &leave);
  EXPECT_FALSE(overlay->isVisible());
  QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), pane.mapToGlobal(QPointF(10, 10)));
  QApplication::sendEvent(&pane, &enter);
  EXPECT_TRUE(overlay->isVisible());
  // The whole overlay lies inside the pane.
  EXPECT_TRUE(pane.rect().contains(overlay->geometry()));

  QSignalSpy resetSpy(&pane, &PreviewPane::zoomResetClicked);
  QSignalSpy inSpy(&pane, &PreviewPane::zoomInClicked);
  QSignalSpy outSpy(&pane, &PreviewPane::zoomOutClicked);
  QSignalSpy panSpy(&pane, &PreviewPane::panStarted);
  QTest::mouseClick(reset, Qt::LeftButton);
  QTest::mouseClick(in, Qt::LeftButton);
  QTest::mouseClick(out, Qt::LeftButton);
  EXPECT_EQ(resetSpy.count(), 1);
  EXPECT_EQ(inSpy.count(), 1);
  EXPECT_EQ(outSpy.count(), 1);
  EXPECT_EQ(panSpy.count(), 0);  // clicks on the controls are not pans

  QApplication::sendEvent(&pane, &leave);
  EXPECT_FALSE(overlay->isVisible());
}

TEST(PreviewPane, ZoomLabelRoundsToNearestEven) {
  PreviewPane pane;
  const std::pair<float, const char*> cases[] = {
      {1.0f, "100%"},       {0.25f, "25%"},  {5.0f, "500%"},  {1.1f, "110%"},
      {1.0f / 1.1f, "91%"}, {0.125f, "12%"}, {0.135f, "14%"},
  };
  for (const auto& [zoom, text] : cases) {
    pane.SetZoomLabel(zoom);
    EXPECT_EQ(pane.ZoomLabel(), QString::fromLatin1(text)) << zoom;
  }
}

// Whether the row through the pane's centre shows ring colour on the right (3 o'clock,
// reached at 25 %) and on the left (9 o'clock, reached at 75 %). The ring's radius
// depends on the font, so each side is searched.
std::pair<bool, bool> RingAtSides(PreviewPane& pane) {
  const QImage shot = pane.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const int cy = shot.height() / 2, cx = shot.width() / 2;
  auto isRing = [&](int x) {
    const QColor c = shot.pixelColor(x, cy);
    return c.blue() > 200 && c.red() < 110 && c.green() > 100 && c.green() < 170;
  };
  bool right = false, left = false;
  for (int r = 10; r < 60; ++r) {
    right = right || isRing(cx + r);
    left = left || isRing(cx - r);
  }
  return {right, left};
}

TEST(PreviewPane, ProgressRingOnlyWhileRunning) {
  PreviewPane pane;
  pane.SetBitmap(testutil::SolidImage(225, 225, 0xFFFFFFFF));
  struct Case {
    int percent;
    bool right, left;
  };
  const Case cases[] = {
      {0, false, false}, {10, false, false},  {30, true, false},   {80, true, true},
      {99, true, true},  {100, false, false}, {101, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percent);
    pane.SetPercent(c.percent);
    EXPECT_EQ(pane.Percent(), c.percent);
    const auto [right, left] = RingAtSides(pane);
    EXPECT_EQ(right, c.right);
    EXPECT_EQ(left, c.left);
  }
}

TEST(PreviewPane, PaneSizedPictureIsDrawnUnscaledInsideTheFrame) {
  PreviewPane pane;
  QPalette black = pane.palette();
  black.setColor(QPalette::Window, Qt::black);
  pane.setPalette(black);  // what lies behind the pane shows in its cut corners
  std::vector<uint32_t> px(225 * 225, 0xFFFFFFFF);
  px[112 * 225 + 112] = 0xFFFF0000;  // one red pixel in the middle
  pane.SetBitmap(testutil::MakeImage(225, 225, px));
  const QImage shot = pane.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(shot.size(), QSize(225, 225));
  EXPECT_EQ(shot.pixel(112, 112), 0xFFFF0000u);
  EXPECT_EQ(shot.pixel(111, 112), 0xFFFFFFFFu);
  // The clipped corner shows no picture; the inner shadow darkens the top-left edge
  // more than the bottom-right one.
  EXPECT_LT(qGray(shot.pixel(0, 0)), 60);
  EXPECT_LT(qGray(shot.pixel(2, 2)), 60);
  EXPECT_LT(qGray(shot.pixel(8, 112)), qGray(shot.pixel(216, 112)));
}

}  // namespace
