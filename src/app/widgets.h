// Small widgets the panels are built from.
#pragma once

#include <QAbstractButton>
#include <QPropertyAnimation>
#include <QToolButton>
#include <QWidget>

namespace quillora::ui {

// The on/off switch of "Erase background" and "Add texture": a rounded track with a
// round thumb that slides to the right end (track width - thumb width - 1) when turned
// on and to x = 1 when turned off, linearly over 0.05 s. Clicking toggles it (it is a
// checkable button: toggled(bool) reports the change); disabled it is drawn greyed.
class ToggleSwitch : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(qreal thumbX READ thumbX WRITE setThumbX)
 public:
  explicit ToggleSwitch(QWidget* parent = nullptr);
  QSize sizeHint() const override;
  qreal thumbX() const { return thumbX_; }
  void setThumbX(qreal x);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void nextCheckState() override;
  void checkStateSet() override;

 private:
  void animateTo(bool on);
  qreal thumbX_ = 1;
  QPropertyAnimation* animation_;
};

// A flat icon button of the top bar and the panels: highlighted under the pointer,
// optionally repeating every 50 ms while held (the zoom buttons).
class IconButton : public QToolButton {
  Q_OBJECT
 public:
  IconButton(const QString& iconName, const QString& toolTip, QWidget* parent = nullptr);
  void setRepeating(bool repeat);
  void setHighlighted(bool on);  // a lasting highlight, e.g. split view active
  bool highlighted() const { return highlighted_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString iconName_;
  bool highlighted_ = false;
};

// The render progress bar with its percentage label. SetValue(v): v outside 0..100
// hides the bar and the label and forgets the last value (-1); otherwise, when v differs
// from the last value, the bar (shown from width 0 if hidden) animates to
// (parent width - 140) * v / 100 over 0.2 s, linear, and the label "v%" rides at its
// end while the bar is at least 50 wide (fading in over 1.3 s when it appears).
class AnimatedProgressBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int barWidth READ barWidth WRITE setBarWidth)
 public:
  explicit AnimatedProgressBar(QWidget* parent = nullptr);
  void SetValue(int v);
  int LastValue() const { return last_; }
  int barWidth() const { return barWidth_; }
  void setBarWidth(int w);
  int TargetWidth() const { return target_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int last_ = -1;
  int target_ = 0;
  int barWidth_ = 0;
  qreal labelOpacity_ = 0;
  QPropertyAnimation* barAnimation_;
  QPropertyAnimation* labelFade_;
};

}  // namespace quillora::ui
