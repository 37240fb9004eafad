#include "app/frameless_window.h"

#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>

using namespace quillora::ui;

namespace {

const QRect kWorkArea(0, 0, 1920, 1040);      // a 1080p monitor with a 40-unit panel
const QRect kSecondArea(1920, 0, 1280, 984);  // a smaller monitor to its right

TEST(FramelessWindowGeometry, RestoreBounds) {
  struct Case {
    QRect remembered;
    QRect expected;
  };
  const QRect inset(50, 50, 1820, 940);
  const Case cases[] = {
      {QRect(200, 100, 1200, 800), QRect(200, 100, 1200, 800)},
      {QRect(200, 100, 101, 101), QRect(200, 100, 101, 101)},
      // 100 is not more than 100, and empty bounds were never remembered.
      {QRect(200, 100, 100, 800), inset},
      {QRect(200, 100, 1200, 100), inset},
      {QRect(), inset},
      // Partly off the work area: kept as it is.
      {QRect(1500, 600, 1200, 800), QRect(1500, 600, 1200, 800)},
      // Wholly on another monitor: the size stays, the place moves into this work area.
      {QRect(2100, 50, 1200, 800), QRect(720, 50, 1200, 800)},
      {QRect(-3000, -900, 1200, 800), QRect(0, 0, 1200, 800)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.remembered.x() << "," << c.remembered.y() << " "
                                    << c.remembered.width() << "x" << c.remembered.height());
    EXPECT_EQ(RestoreBoundsFor(kWorkArea, c.remembered), c.expected);
  }
  // The inset keeps to the work area's own origin.
  EXPECT_EQ(RestoreBoundsFor(kSecondArea, QRect()), QRect(1970, 50, 1180, 884));
}

TEST(FramelessWindowGeometry, MonitorCheckRules) {
  // Larger than the new work area in either direction: 98 %, centred.
  const QRect fitted(1920 + 13, 10, 1254, 964);
  EXPECT_EQ(FitToWorkArea(QRect(1920, 0, 1800, 900), kSecondArea), fitted);
  EXPECT_EQ(FitToWorkArea(QRect(1920, 0, 1000, 990), kSecondArea), fitted);
  EXPECT_EQ(FitToWorkArea(QRect(2000, 40, 1280, 984), kSecondArea), QRect(2000, 40, 1280, 984));

  struct Case {
    QSize size;
    bool remember;
  };
  // 99 % of 1920 x 1040 is 1900.8 x 1029.6.
  const Case cases[] = {
      {{1900, 1029}, true}, {{1901, 1029}, false}, {{1900, 1030}, false},
      {{1200, 800}, true},  {{1920, 800}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height());
    EXPECT_EQ(ShouldRememberBounds(QRect(QPoint(10, 10), c.size), kWorkArea), c.remember);
  }
}

TEST(FramelessWindowGeometry, EdgeResizeMovesOneEdgeAndStopsAtTheMinimum) {
  const QRect start(100, 100, 1200, 900);
  const QSize minimum(1080, 768);
  struct Case {
    Qt::Edge edge;
    QPoint delta;
    QRect expected;
  };
  const Case cases[] = {
      {Qt::LeftEdge, {-30, 70}, QRect(70, 100, 1230, 900)},
      {Qt::RightEdge, {45, -9}, QRect(100, 100, 1245, 900)},
      {Qt::TopEdge, {12, -20}, QRect(100, 80, 1200, 920)},
      {Qt::BottomEdge, {3, 25}, QRect(100, 100, 1200, 925)},
      // Pushed past the minimum, the moving edge stops and the opposite one stays.
      {Qt::LeftEdge, {500, 0}, QRect(220, 100, 1080, 900)},
      {Qt::RightEdge, {-500, 0}, QRect(100, 100, 1080, 900)},
      {Qt::TopEdge, {0, 400}, QRect(100, 232, 1200, 768)},
      {Qt::BottomEdge, {0, -400}, QRect(100, 100, 1200, 768)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.edge));
    EXPECT_EQ(ResizedByEdge(start, c.edge, c.delta, minimum), c.expected);
  }
}

TEST(FramelessWindowGeometry, MinimumSizeShrinksOnlyForSmallScreens) {
  EXPECT_EQ(MinimumSizeFor(kWorkArea), QSize(1080, 768));
  EXPECT_EQ(MinimumSizeFor(QRect(0, 0, 1024, 720)), QSize(1024, 720));
  EXPECT_EQ(MinimumSizeFor(QRect(0, 0, 1366, 728)), QSize(1080, 728));
}

TEST(FramelessWindow, MaximiseFillsTheWorkAreaAndRestoreReturns) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QRect area = screen->availableGeometry();
  FramelessWindow window;
  QSignalSpy changed(&window, &FramelessWindow::customMaximizedChanged);
  const QRect normal(area.x() + 20, area.y() + 30, area.width() / 2, area.height() / 2);
  window.setMinimumSize(1, 1);
  window.setGeometry(normal);
  window.CustomMaximize();
  EXPECT_TRUE(window.IsCustomMaximized());
  EXPECT_EQ(window.geometry(), area);
  EXPECT_EQ(window.RememberedBounds(), normal);
  window.CustomMaximize();  // already maximised: the remembered bounds stay
  EXPECT_EQ(window.RememberedBounds(), normal);

  // The test screen is small, so the minimum size follows its work area.
  EXPECT_EQ(window.minimumSize(), MinimumSizeFor(area));

  window.ToggleCustomMaximize();
  EXPECT_FALSE(window.IsCustomMaximized());
  const QRect restored = RestoreBoundsFor(area, normal);
  EXPECT_EQ(window.geometry(),
            QRect(restored.topLeft(), restored.size().expandedTo(window.minimumSize())));
  ASSERT_EQ(changed.count(), 2);
  EXPECT_TRUE(changed.at(0).at(0).toBool());
  EXPECT_FALSE(changed.at(1).at(0).toBool());
  EXPECT_FALSE(window.IsMovingOrResizing());
}

}  // namespace
