#include "app/main_menu.h"

#include "app/theme.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

namespace quillora::ui {

namespace {
constexpr int kEntryHeight = 32;
constexpr int kMenuWidth = 300;
constexpr int kMinimumHeight = 200;
}  // namespace

MenuEntry::MenuEntry(const QString& text, const QString& shortcut, QWidget* parent)
    : QAbstractButton(parent), shortcut_(shortcut) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  setFixedHeight(kEntryHeight);
}

QSize MenuEntry::sizeHint() const { return {kMenuWidth - 16, kEntryHeight}; }

void MenuEntry::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool hot = underMouse() || isDown();
  if (hot) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgba(theme::kAccent));
    p.drawRoundedRect(QRectF(rect()).adjusted(0, 1, 0, -1), 6, 6);
  }
  QFont f = font();
  f.setPixelSize(13);
  p.setFont(f);
  p.setPen(QColor(hot ? 0xFFFFFFFF : theme::kText));
  p.drawText(rect().adjusted(14, 0, -14, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
  f.setPixelSize(11);
  f.setWeight(QFont::DemiBold);
  p.setFont(f);
  p.setPen(QColor(hot ? 0xFFDBEAFE : theme::kTextDim));
  p.drawText(rect().adjusted(14, 0, -14, 0), Qt::AlignVCenter | Qt::AlignRight, shortcut_);
}

MainMenu::MainMenu(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("MainMenu"));
  setFixedWidth(kMenuWidth);
  setStyleSheet(QStringLiteral(
      "#MenuSection { color: #93A3B8; font-size: 11px; font-weight: 700; letter-spacing: 1px;"
      "  padding: 8px 14px 4px 14px; }"));
  column_ = new QVBoxLayout(this);
  column_->setContentsMargins(8, 8, 8, 10);
  column_->setSpacing(0);
  column_->setSizeConstraint(QLayout::SetNoConstraint);
  hide();
}

void MainMenu::AddSection(const QString& title) {
  auto* label = new QLabel(title, this);
  label->setObjectName(QStringLiteral("MenuSection"));
  column_->addWidget(label);
}

MenuEntry* MainMenu::AddEntry(const QString& text, const QString& shortcut,
                              std::function<void()> action) {
  auto* entry = new MenuEntry(text, shortcut, this);
  column_->addWidget(entry);
  connect(entry, &QAbstractButton::clicked, this, [this, action = std::move(action)] {
    hide();
    // After the click has finished: the action may open a modal dialog.
    QTimer::singleShot(0, this, action);
  });
  return entry;
}

int MainMenu::NaturalHeight() const { return column_->sizeHint().height(); }

void MainMenu::Open(const QPoint& topLeft, int maxHeight) {
  const int h = std::max(std::min(NaturalHeight(), maxHeight), kMinimumHeight);
  setGeometry(QRect(topLeft, QSize(kMenuWidth, h)));
  show();
  raise();
}

void MainMenu::leaveEvent(QEvent* event) {
  hide();
  QFrame::leaveEvent(event);
}

void MainMenu::wheelEvent(QWheelEvent* event) { event->accept(); }

// A menu opened from the keyboard, or left without the pointer ever entering it, would
// otherwise stay open: any press outside it closes it.
void MainMenu::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  qApp->installEventFilter(this);
}

void MainMenu::hideEvent(QHideEvent* event) {
  qApp->removeEventFilter(this);
  QFrame::hideEvent(event);
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool inside = widget && (widget == this || isAncestorOf(widget));
    const bool onAnchor = widget && anchor_ && (widget == anchor_ || anchor_->isAncestorOf(widget));
    if (widget && !inside && !onAnchor) hide();
  }
  return false;
}

void MainMenu::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor::fromRgba(theme::kMenuStroke));
  p.setBrush(QColor::fromRgba(theme::kMenuFill));
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

}  // namespace quillora::ui
