#include "app/top_bar.h"

#include "app/theme.h"
#include "engine/catalogue.h"
#include "engine/numeric.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace quillora::ui {

namespace {

QString T(const char* english) { return Translate(QString::fromUtf8(english)); }

QWidget* Separator(QWidget* parent) {
  auto* line = new QWidget(parent);
  line->setFixedSize(1, 22);
  line->setStyleSheet(QStringLiteral("background-color: rgba(255, 255, 255, 28);"));
  return line;
}

}  // namespace

LogoMark::LogoMark(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setFixedSize(sizeHint());
}

void LogoMark::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
  QLinearGradient fill(box.topLeft(), box.bottomRight());
  fill.setColorAt(0, QColor(0xFF60A5FA));
  fill.setColorAt(1, QColor(0xFF7C3AED));
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawEllipse(box);
  // A quill's stroke across the disc: the mark reads as "drawing" at 30 pixels.
  QPainterPath quill;
  const qreal w = box.width();
  quill.moveTo(box.left() + 0.28 * w, box.top() + 0.74 * w);
  quill.cubicTo(box.left() + 0.40 * w, box.top() + 0.40 * w, box.left() + 0.58 * w,
                box.top() + 0.26 * w, box.left() + 0.76 * w, box.top() + 0.22 * w);
  quill.cubicTo(box.left() + 0.70 * w, box.top() + 0.44 * w, box.left() + 0.52 * w,
                box.top() + 0.60 * w, box.left() + 0.28 * w, box.top() + 0.74 * w);
  p.setBrush(QColor(255, 255, 255, underMouse() ? 255 : 235));
  p.drawPath(quill);
}

ZoomLabelButton::ZoomLabelButton(QWidget* parent) : QPushButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  setFixedSize(58, 30);
  setToolTip(T("100% zoom"));
  setObjectName(QStringLiteral("ZoomLabel"));
  SetZoom(1.0f);
}

void ZoomLabelButton::SetZoom(float zoom) {
  setText(QString::number(RoundEven(double(zoom) * 100.0)) + QLatin1Char('%'));
}

void ZoomLabelButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    emit rightClicked();
    event->accept();
    return;
  }
  QPushButton::mousePressEvent(event);
}

TopBar::TopBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TopBar"));
  setFixedHeight(52);
  setAttribute(Qt::WA_StyledBackground, false);
  setStyleSheet(QStringLiteral(
      "#Caption { color: #E5E7EB; font-size: 14px; font-weight: 600; }"
      "#ZoomLabel { background: transparent; border: 1px solid transparent; border-radius: 6px;"
      "  color: #E5E7EB; font-size: 12px; padding: 0; min-width: 0; }"
      "#ZoomLabel:hover { background-color: rgba(255, 255, 255, 30); }"));

  logo = new LogoMark(this);
  logo->setToolTip(QStringLiteral("Quillora v4.20"));
  // The caption keeps its two leading blanks: they space it from the logo.
  caption = new QLabel(QStringLiteral("  Quillora v4.20"), this);
  caption->setObjectName(QStringLiteral("Caption"));
  caption->setAttribute(Qt::WA_TransparentForMouseEvents);

  menuButton = new IconButton(QStringLiteral("menu"), T("Menu"), this);
  openButton = new IconButton(QStringLiteral("folder-open"), T("Open image"), this);
  saveButton = new IconButton(QStringLiteral("save"), T("Save image"), this);
  copyButton = new IconButton(QStringLiteral("copy"), T("Copy to clipboard"), this);
  pasteButton = new IconButton(QStringLiteral("clipboard-paste"), T("Paste from clipboard"), this);
  undoButton = new IconButton(QStringLiteral("undo-2"), T("Undo"), this);
  redoButton = new IconButton(QStringLiteral("redo-2"), T("Redo"), this);
  zoomOutButton = new IconButton(QStringLiteral("zoom-out"), T("Zoom out"), this);
  zoomLabel = new ZoomLabelButton(this);
  zoomInButton = new IconButton(QStringLiteral("zoom-in"), T("Zoom in"), this);
  splitButton = new IconButton(QStringLiteral("columns-2"), T("Split view off"), this);
  minimizeButton = new IconButton(QStringLiteral("minus"), T("Minimize"), this);
  maximizeButton = new IconButton(QStringLiteral("maximize-2"), T("Maximize"), this);
  closeButton = new IconButton(QStringLiteral("x"), T("Close"), this);
  zoomOutButton->setRepeating(true);
  zoomInButton->setRepeating(true);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(14, 0, 8, 0);
  row->setSpacing(4);
  row->addWidget(logo);
  row->addWidget(caption);
  row->addSpacing(18);
  row->addWidget(menuButton);
  row->addWidget(Separator(this));
  for (QWidget* w : {static_cast<QWidget*>(openButton), static_cast<QWidget*>(saveButton),
                     static_cast<QWidget*>(copyButton), static_cast<QWidget*>(pasteButton)})
    row->addWidget(w);
  row->addWidget(Separator(this));
  row->addWidget(undoButton);
  row->addWidget(redoButton);
  row->addStretch(1);
  row->addWidget(zoomOutButton);
  row->addWidget(zoomLabel);
  row->addWidget(zoomInButton);
  row->addSpacing(6);
  row->addWidget(splitButton);
  row->addSpacing(10);
  row->addWidget(Separator(this));
  row->addSpacing(6);
  row->addWidget(minimizeButton);
  row->addWidget(maximizeButton);
  row->addWidget(closeButton);
}

void TopBar::SetMaximizedShown(bool maximized) {
  maximizeButton->setIconName(maximized ? QStringLiteral("minimize-2")
                                        : QStringLiteral("maximize-2"));
  maximizeButton->setToolTip(maximized ? T("Restore") : T("Maximize"));
}

void TopBar::SetSplitViewShown(bool on) {
  splitButton->setHighlighted(on);
  splitButton->setToolTip(on ? T("Split view on") : T("Split view off"));
}

void TopBar::paintEvent(QPaintEvent*) {
  // A hairline under the bar separates it from the panels without a second colour.
  QPainter p(this);
  p.setPen(QColor(255, 255, 255, 22));
  p.drawLine(QPointF(14, height() - 0.5), QPointF(width() - 14, height() - 0.5));
}

}  // namespace quillora::ui
