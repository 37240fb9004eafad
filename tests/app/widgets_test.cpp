#include "app/widgets.h"

#include "test_util.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>

using quillora::ui::AnimatedProgressBar;
using quillora::ui::IconButton;
using quillora::ui::ToggleSwitch;
using testutil::WaitFor;

namespace {

TEST(ToggleSwitch, ClicksToggleAndTheThumbSettlesAtEitherEnd) {
  ToggleSwitch sw;
  sw.resize(44, 22);
  sw.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&sw));
  QSignalSpy toggled(&sw, &QAbstractButton::toggled);
  const qreal onX = sw.width() - sw.thumbSize() - 1;
  EXPECT_EQ(sw.thumbSize(), 20);

  QTest::mouseClick(&sw, Qt::LeftButton);
  ASSERT_EQ(toggled.count(), 1);
  EXPECT_TRUE(toggled.at(0).at(0).toBool());
  EXPECT_TRUE(sw.isChecked());
  // The slide takes 50 ms; it must have left x = 1 and end exactly at the right end.
  EXPECT_TRUE(WaitFor([&] { return sw.thumbX() == onX; }, 2000)) << sw.thumbX();

  QTest::mouseClick(&sw, Qt::LeftButton);
  ASSERT_EQ(toggled.count(), 2);
  EXPECT_FALSE(toggled.at(1).at(0).toBool());
  EXPECT_TRUE(WaitFor([&] { return sw.thumbX() == 1; }, 2000)) << sw.thumbX();
}

TEST(ToggleSwitch, ProgramChangesAndResizesKeepTheThumbInPlace) {
  ToggleSwitch sw;
  sw.resize(40, 22);
  sw.setChecked(true);  // not yet shown: no animation to wait for
  EXPECT_EQ(sw.thumbX(), 40 - 20 - 1);
  sw.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&sw));
  sw.resize(60, 30);
  EXPECT_EQ(sw.thumbX(), 60 - 28 - 1);
  sw.setChecked(false);
  EXPECT_TRUE(WaitFor([&] { return sw.thumbX() == 1; }, 2000)) << sw.thumbX();
  // A disabled switch ignores clicks.
  sw.setEnabled(false);
  QTest::mouseClick(&sw, Qt::LeftButton);
  EXPECT_FALSE(sw.isChecked());
}

TEST(IconButton, RepeatsWhileHeldOnlyWhenAsked) {
  for (bool repeating : {false, true}) {
    SCOPED_TRACE(repeating);
    IconButton button(QStringLiteral("zoom-in"), QStringLiteral("Zoom in"));
    button.setRepeating(repeating);
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton);
    QTest::qWait(700);
    const int whileHeld = clicked.count();
    QTest::mouseRelease(&button, Qt::LeftButton);
    if (repeating) {
      // 300 ms before the first repeat, then one every 50 ms: about 8 by now. Timers may
      // run late on a loaded machine, so only ask for clearly more than one.
      EXPECT_GE(whileHeld, 3);
    } else {
      EXPECT_EQ(whileHeld, 0);
      EXPECT_EQ(clicked.count(), 1);
    }
  }
}

TEST(IconButton, KeepsItsHighlight) {
  IconButton button(QStringLiteral("columns-2"), QStringLiteral("Split view"));
  EXPECT_FALSE(button.icon().isNull());
  button.setHighlighted(true);
  EXPECT_TRUE(button.highlighted());
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_TRUE(button.highlighted());
}

// The bar inside a parent 640 wide: the track is 640 - 140 = 500.
struct BarFixture {
  QWidget parent;
  AnimatedProgressBar* bar;
  BarFixture() {
    parent.resize(640, 100);
    bar = new AnimatedProgressBar(&parent);
    bar->move(70, 40);
    parent.show();
  }
};

TEST(AnimatedProgressBar, TargetWidthAndLabelThreshold) {
  struct Case {
    int value;
    int target;
    bool label;
  };
  const Case cases[] = {
      {0, 0, false},   {9, 45, false},   {10, 50, true}, {37, 185, true},
      {99, 495, true}, {100, 500, true}, {1, 5, false},  {33, 165, true},
  };
  BarFixture f;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    f.bar->SetValue(c.value);
    EXPECT_FALSE(f.bar->isHidden());
    EXPECT_EQ(f.bar->LastValue(), c.value);
    EXPECT_EQ(f.bar->TargetWidth(), c.target);
    EXPECT_EQ(f.bar->LabelVisible(), c.label);
    if (c.label) {
      EXPECT_EQ(f.bar->LabelText(), QString::number(c.value) + "%");
    }
  }
}

TEST(AnimatedProgressBar, OutOfRangeHidesAndForgets) {
  BarFixture f;
  for (int finished : {101, -1, 1000}) {
    SCOPED_TRACE(finished);
    f.bar->SetValue(60);
    ASSERT_FALSE(f.bar->isHidden());
    f.bar->SetValue(finished);
    EXPECT_TRUE(f.bar->isHidden());
    EXPECT_EQ(f.bar->LastValue(), -1);
    EXPECT_EQ(f.bar->barWidth(), 0);
    EXPECT_FALSE(f.bar->LabelVisible());
    EXPECT_TRUE(f.bar->LabelText().isEmpty());
  }
  // After a reset the same value counts as new again and the bar grows from nothing.
  f.bar->SetValue(60);
  EXPECT_FALSE(f.bar->isHidden());
  EXPECT_EQ(f.bar->TargetWidth(), 300);
  EXPECT_LT(f.bar->barWidth(), 300);
}

TEST(AnimatedProgressBar, RepeatedValuesAreIgnored) {
  BarFixture f;
  f.bar->SetValue(40);
  EXPECT_EQ(f.bar->TargetWidth(), 200);
  f.parent.resize(1140, 100);  // a value that does not change keeps the old target
  f.bar->SetValue(40);
  EXPECT_EQ(f.bar->TargetWidth(), 200);
  f.bar->SetValue(41);
  EXPECT_EQ(f.bar->TargetWidth(), 410);
}

TEST(AnimatedProgressBar, AnimatesBarAndLabelToTheTarget) {
  BarFixture f;
  f.bar->SetValue(50);
  EXPECT_EQ(f.bar->barWidth(), 0);
  EXPECT_EQ(f.bar->LabelOpacity(), 0);
  const int labelWidth50 = 250 - f.bar->LabelX();
  EXPECT_GT(labelWidth50, 0);
  EXPECT_TRUE(WaitFor([&] { return f.bar->barWidth() == 250; }, 3000)) << f.bar->barWidth();
  // The label fades in over 1.3 s, much slower than the 0.2 s slide.
  EXPECT_LT(f.bar->LabelOpacity(), 1.0);
  EXPECT_TRUE(WaitFor([&] { return f.bar->LabelOpacity() == 1.0; }, 5000));

  f.bar->SetValue(80);
  EXPECT_TRUE(WaitFor([&] { return f.bar->barWidth() == 400; }, 3000));
  EXPECT_TRUE(WaitFor([&] { return f.bar->LabelX() == 400 - labelWidth50; }, 3000))
      << f.bar->LabelX();                 // "50%" and "80%" are the same width
  EXPECT_EQ(f.bar->LabelOpacity(), 1.0);  // an already visible label does not fade again
}

}  // namespace
