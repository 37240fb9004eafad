#include "app/widgets.h"

#include "app/theme.h"

#include <QEasingCurve>
#include <QEvent>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quillora::ui {

// ---------------------------------------------------------------------------------------
// ToggleSwitch

namespace {
constexpr int kSwitchSlideMs = 50;
}

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  animation_ = new QPropertyAnimation(this, "thumbX", this);
  animation_->setDuration(kSwitchSlideMs);
  animation_->setEasingCurve(QEasingCurve::Linear);
}

QSize ToggleSwitch::sizeHint() const { return QSize(40, 22); }

int ToggleSwitch::thumbSize() const { return std::max(0, height() - 2); }

void ToggleSwitch::setThumbX(qreal x) {
  thumbX_ = x;
  update();
}

// A click changes the state with refreshes blocked, so checkStateSet is not called then.
void ToggleSwitch::nextCheckState() {
  QAbstractButton::nextCheckState();
  animateTo(isChecked());
}

// Called when the program sets the state.
void ToggleSwitch::checkStateSet() { animateTo(isChecked()); }

void ToggleSwitch::animateTo(bool on) {
  const qreal target = on ? width() - thumbSize() - 1 : 1;
  animation_->stop();
  // A switch nobody can see (the panel is still being built) takes its place at once.
  if (!isVisible()) {
    setThumbX(target);
    return;
  }
  animation_->setStartValue(thumbX_);
  animation_->setEndValue(target);
  animation_->start();
}

void ToggleSwitch::resizeEvent(QResizeEvent*) {
  animation_->stop();
  setThumbX(isChecked() ? width() - thumbSize() - 1 : 1);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) p.setOpacity(0.4);
  const bool on = isChecked();
  const QRectF track = QRectF(rect());
  const qreal radius = track.height() / 2;
  // Both track colours are close to the panel's; a faint rim keeps the shape readable.
  p.setPen(QPen(QColor(255, 255, 255, 28), 1));
  p.setBrush(QColor::fromRgba(on ? theme::kSwitchOnTrack : theme::kSwitchOffTrack));
  p.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
  if (hasFocus()) {
    p.setPen(QPen(QColor::fromRgba(theme::kAccent), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(track.adjusted(0.75, 0.75, -0.75, -0.75), radius - 0.75, radius - 0.75);
  }
  p.setPen(Qt::NoPen);
  const qreal d = thumbSize();
  const QRectF thumb(thumbX_, 1, d, d);
  // A soft contact shadow lifts the thumb off the track.
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawEllipse(thumb.translated(0, 1));
  QColor thumbColour = QColor::fromRgba(on ? theme::kThumbOn : theme::kThumbOff);
  if (underMouse() && isEnabled()) thumbColour = thumbColour.lighter(on ? 100 : 115);
  p.setBrush(thumbColour);
  p.drawEllipse(thumb);
}

// ---------------------------------------------------------------------------------------
// IconButton

namespace {
// The zoom buttons step once on the click, and only start repeating once the press is
// clearly a hold, so an ordinary click never zooms twice.
constexpr int kRepeatDelayMs = 300;
constexpr int kRepeatIntervalMs = 50;
constexpr QRgb kIconNormal = 0xFFD1D5DB;
constexpr QRgb kIconHover = 0xFFFFFFFF;
}  // namespace

IconButton::IconButton(const QString& iconName, const QString& toolTip, QWidget* parent)
    : QToolButton(parent), iconName_(iconName) {
  setToolTip(toolTip);
  setAutoRaise(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setIconSize(QSize(18, 18));
  setAttribute(Qt::WA_Hover);
  resize(sizeHint());
  updateIcons();
}

QSize IconButton::sizeHint() const { return QSize(32, 32); }

void IconButton::setIconName(const QString& iconName) {
  iconName_ = iconName;
  updateIcons();
}

void IconButton::updateIcons() {
  normalIcon_ = Icon(iconName_, QColor::fromRgba(kIconNormal));
  hoverIcon_ = Icon(iconName_, QColor::fromRgba(kIconHover));
  setIcon(normalIcon_);
  update();
}

void IconButton::setRepeating(bool repeat) {
  setAutoRepeat(repeat);
  setAutoRepeatDelay(kRepeatDelayMs);
  setAutoRepeatInterval(kRepeatIntervalMs);
}

void IconButton::setHighlighted(bool on) {
  if (highlighted_ == on) return;
  highlighted_ = on;
  update();
}

void IconButton::changeEvent(QEvent* event) {
  QToolButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) update();
}

void IconButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
  const bool enabled = isEnabled();
  const bool hovered = enabled && underMouse();
  const bool lasting = highlighted_ || isChecked();
  p.setPen(Qt::NoPen);
  if (lasting) {
    QColor accent = QColor::fromRgba(theme::kAccent);
    accent.setAlpha(enabled ? 90 : 45);
    p.setBrush(accent);
    p.drawRoundedRect(box, 7, 7);
  }
  if (enabled && isDown()) {
    p.setBrush(QColor(255, 255, 255, 46));
    p.drawRoundedRect(box, 7, 7);
  } else if (hovered) {
    p.setBrush(QColor::fromRgba(theme::kHoverFill));
    p.drawRoundedRect(box, 7, 7);
  }
  const QIcon& icon = (hovered || lasting) ? hoverIcon_ : normalIcon_;
  const QSize size = iconSize().boundedTo(rect().size());
  const QRect iconRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  icon.paint(&p, iconRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
}

// ---------------------------------------------------------------------------------------
// AnimatedProgressBar

namespace {
constexpr int kBarSideMargin = 140;  // what the parent keeps free beside the track
constexpr int kBarSlideMs = 200;
constexpr int kLabelFadeMs = 1300;
constexpr int kLabelMinBarWidth = 50;  // narrower bars have no room for the label
}  // namespace

AnimatedProgressBar::AnimatedProgressBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont f = font();
  f.setPixelSize(11);
  f.setWeight(QFont::DemiBold);
  setFont(f);
  barAnimation_ = new QPropertyAnimation(this, "barWidth", this);
  barAnimation_->setDuration(kBarSlideMs);
  barAnimation_->setEasingCurve(QEasingCurve::Linear);
  labelFade_ = new QPropertyAnimation(this, "labelOpacity", this);
  labelFade_->setDuration(kLabelFadeMs);
  labelSlide_ = new QPropertyAnimation(this, "labelX", this);
  labelSlide_->setDuration(kBarSlideMs);
  labelSlide_->setEasingCurve(QEasingCurve::Linear);
  if (parent) parent->installEventFilter(this);
  installEventFilter(this);
  resize(0, 18);
  hide();
}

int AnimatedProgressBar::trackWidth() const {
  // A bar without a parent is a window of its own and measures itself.
  const int available = parentWidget() ? parentWidget()->width() : window()->width();
  return std::max(0, available - kBarSideMargin);
}

int AnimatedProgressBar::labelWidth(const QString& text) const {
  return QFontMetrics(font()).horizontalAdvance(text) + 12;
}

void AnimatedProgressBar::setBarWidth(int w) {
  barWidth_ = w;
  update();
}

void AnimatedProgressBar::setLabelX(int x) {
  labelX_ = x;
  update();
}

void AnimatedProgressBar::setLabelOpacity(qreal opacity) {
  labelOpacity_ = opacity;
  update();
}

void AnimatedProgressBar::SetValue(int v) {
  if (v < 0 || v > 100) {
    barAnimation_->stop();
    labelFade_->stop();
    labelSlide_->stop();
    labelVisible_ = false;
    labelOpacity_ = 1;
    labelText_.clear();
    barWidth_ = 0;
    target_ = 0;
    last_ = -1;
    hide();
    return;
  }
  if (v == last_) return;
  last_ = v;
  if (isHidden()) {
    barWidth_ = 0;
    show();
  }
  const int track = trackWidth();
  resize(track, height());
  target_ = std::max(0, track * v / 100);

  if (target_ >= kLabelMinBarWidth) {
    labelText_ = QString::number(v) + QLatin1Char('%');
    const int x = target_ - labelWidth(labelText_);
    if (!labelVisible_) {
      labelVisible_ = true;
      labelX_ = x;
      labelFade_->stop();
      labelFade_->setStartValue(0.0);
      labelFade_->setEndValue(1.0);
      labelOpacity_ = 0;
      labelFade_->start();
    }
    labelSlide_->stop();
    labelSlide_->setStartValue(labelX_);
    labelSlide_->setEndValue(x);
    labelSlide_->start();
  } else {
    labelVisible_ = false;
    labelFade_->stop();
    labelSlide_->stop();
  }

  barAnimation_->stop();
  barAnimation_->setStartValue(barWidth_);
  barAnimation_->setEndValue(target_);
  barAnimation_->start();
  update();
}

bool AnimatedProgressBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == this && event->type() == QEvent::ParentAboutToChange && parentWidget()) {
    parentWidget()->removeEventFilter(this);
  } else if (watched == this && event->type() == QEvent::ParentChange && parentWidget()) {
    parentWidget()->installEventFilter(this);
  } else if (watched == parentWidget() && event->type() == QEvent::Resize && !isHidden()) {
    // The track follows the parent; the bar itself keeps its target until the next value.
    resize(trackWidth(), height());
  }
  return QWidget::eventFilter(watched, event);
}

void AnimatedProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal h = height();
  if (barWidth_ > 0) {
    const QRectF bar(0, 0, barWidth_, h);
    const qreal r = std::min(h / 2, bar.width() / 2);
    QLinearGradient fill(bar.topLeft(), bar.topRight());
    fill.setColorAt(0, QColor::fromRgba(theme::kAccentPressed));
    fill.setColorAt(1, QColor::fromRgba(theme::kAccent));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(bar, r, r);
    // A thin highlight along the top edge gives the bar some body.
    p.setClipRect(QRectF(0, 0, barWidth_, h / 2));
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawRoundedRect(bar, r, r);
    p.setClipping(false);
  }
  if (labelVisible_ && !labelText_.isEmpty()) {
    p.setOpacity(labelOpacity_);
    p.setPen(Qt::white);
    p.drawText(QRect(labelX_, 0, labelWidth(labelText_), height()), Qt::AlignCenter, labelText_);
  }
}

}  // namespace quillora::ui
