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
  // The thumb's diameter: the track's height less a 1-unit rim above and below.
  int thumbSize() const;

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
  // Swaps the picture, keeping the button's colours.
  void setIconName(const QString& iconName);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  void updateIcons();
  QString iconName_;
  bool highlighted_ = false;
  QIcon normalIcon_;
  QIcon hoverIcon_;
};

// The render progress bar with its percentage label. SetValue(v): v outside 0..100
// hides the bar and the label and forgets the last value (-1); otherwise, when v differs
// from the last value, the bar (shown from width 0 if hidden) animates to
// (parent width - 140) * v / 100 over 0.2 s, linear, and the label "v%" rides at its
// end while the bar is at least 50 wide (fading in over 1.3 s when it appears).
//
// The owner places the widget (x, y and height); the widget keeps its own width at the
// full track (parent width - 140), so the label can ride ahead of a bar that is still
// growing towards it. It starts hidden and lets mouse events through.
class AnimatedProgressBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int barWidth READ barWidth WRITE setBarWidth)
  Q_PROPERTY(qreal labelOpacity READ LabelOpacity WRITE setLabelOpacity)
  Q_PROPERTY(int labelX READ LabelX WRITE setLabelX)
 public:
  explicit AnimatedProgressBar(QWidget* parent = nullptr);
  void SetValue(int v);
  int LastValue() const { return last_; }
  int barWidth() const { return barWidth_; }
  void setBarWidth(int w);
  int TargetWidth() const { return target_; }

  // The percentage label: whether it is shown, its text ("v%"), its left edge in the
  // bar's coordinates and its current opacity.
  bool LabelVisible() const { return labelVisible_; }
  QString LabelText() const { return labelText_; }
  int LabelX() const { return labelX_; }
  void setLabelX(int x);
  qreal LabelOpacity() const { return labelOpacity_; }
  void setLabelOpacity(qreal opacity);

 protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int trackWidth() const;
  int labelWidth(const QString& text) const;
  int last_ = -1;
  int target_ = 0;
  int barWidth_ = 0;
  qreal labelOpacity_ = 0;
  int labelX_ = 0;
  bool labelVisible_ = false;
  QString labelText_;
  QPropertyAnimation* barAnimation_;
  QPropertyAnimation* labelFade_;
  QPropertyAnimation* labelSlide_;
};

}  // namespace quillora::ui
