#include "app/workspace_area.h"

#include "app/theme.h"
#include "engine/catalogue.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace quillora::ui {

namespace {

QString T(const char* english) { return Translate(QString::fromUtf8(english)); }

QStringList LocalFiles(const QMimeData* mime) {
  QStringList files;
  if (!mime || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

bool AnyAccepted(const QStringList& files) {
  for (const QString& f : files)
    if (IsAcceptedDropFile(f)) return true;
  return false;
}

constexpr int kZoneWidth = 360;
constexpr int kZoneHeight = 230;
constexpr int kBarMargin = 70;  // the bar runs from 70 to (width - 70) at 100 %
constexpr int kBarHeight = 22;

}  // namespace

bool IsAcceptedDropFile(const QString& path) {
  static const QStringList kExtensions = {QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                          QStringLiteral("png"), QStringLiteral("bmp"),
                                          QStringLiteral("gif"), QStringLiteral("tiff")};
  return kExtensions.contains(QFileInfo(path).suffix().toLower());
}

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DropZone"));
  setFixedSize(kZoneWidth, kZoneHeight);
  setStyleSheet(QStringLiteral(
      "#DropTitle { color: #E5E7EB; font-size: 17px; font-weight: 600; }"
      "#DropHint { color: #9CA3AF; font-size: 13px; }"
      "QPushButton#BrowseLink { background: transparent; border: none; color: #60A5FA;"
      "  font-size: 13px; font-weight: 600; text-decoration: underline; padding: 2px;"
      "  min-width: 0; }"
      "QPushButton#BrowseLink:hover { color: #93C5FD; }"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 96, 20, 28);
  column->setSpacing(4);
  auto* title = new QLabel(T("No image loaded"), this);
  title->setObjectName(QStringLiteral("DropTitle"));
  auto* hint = new QLabel(T("Drop image here or"), this);
  hint->setObjectName(QStringLiteral("DropHint"));
  browseLink = new QPushButton(T("Browse files"), this);
  browseLink->setObjectName(QStringLiteral("BrowseLink"));
  browseLink->setCursor(Qt::PointingHandCursor);
  browseLink->setFocusPolicy(Qt::NoFocus);
  for (QWidget* w : {static_cast<QWidget*>(title), static_cast<QWidget*>(hint),
                     static_cast<QWidget*>(browseLink)})
    column->addWidget(w, 0, Qt::AlignHCenter);
  column->addStretch(1);
}

void DropZone::SetDragHighlight(bool on) {
  highlight_ = on;
  update();
}

void DropZone::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  p.setBrush(QColor(highlight_ ? 0x403B82F6 : 0x33111827));
  QPen dash(QColor(highlight_ ? 0xFF60A5FA : 0xFF4B5563), 1.5, Qt::DashLine);
  dash.setDashPattern({5, 4});
  p.setPen(dash);
  p.drawRoundedRect(box, 16, 16);
  // The picture icon in a soft disc above the texts.
  const QRectF disc(width() / 2.0 - 30, 24, 60, 60);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x333B82F6));
  p.drawEllipse(disc);
  Icon(QStringLiteral("image"), QColor(0xFF93C5FD))
      .paint(&p, disc.adjusted(16, 16, -16, -16).toRect());
}

WorkspaceArea::WorkspaceArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("WorkspaceArea"));
  setAcceptDrops(true);
  view = new WorkspaceView(this);
  view->setObjectName(QStringLiteral("WorkspaceView"));
  dropZone = new DropZone(this);
  progressBar = new AnimatedProgressBar(this);
  progressBar->setObjectName(QStringLiteral("ProgressBar"));
  Place();
}

void WorkspaceArea::Place() {
  view->setGeometry(rect());
  dropZone->move((width() - dropZone->width()) / 2, (height() - dropZone->height()) / 2);
  // The bar sets its own width from ours; only its place and height are ours to give.
  progressBar->setGeometry(kBarMargin, height() - kBarHeight - 14, progressBar->width(),
                           kBarHeight);
  dropZone->raise();
  progressBar->raise();
}

void WorkspaceArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
  emit resized();
}

void WorkspaceArea::paintEvent(QPaintEvent*) {
  // The view paints the image; under it the area is a darker well of the main colour.
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x66111827));
  p.drawRoundedRect(QRectF(rect()), theme::kMainRadius, theme::kMainRadius);
}

void WorkspaceArea::dragEnterEvent(QDragEnterEvent* event) {
  if (AnyAccepted(LocalFiles(event->mimeData()))) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
    dropZone->SetDragHighlight(true);
  } else {
    event->ignore();
  }
}

void WorkspaceArea::dragMoveEvent(QDragMoveEvent* event) {
  if (AnyAccepted(LocalFiles(event->mimeData()))) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void WorkspaceArea::dragLeaveEvent(QDragLeaveEvent* event) {
  dropZone->SetDragHighlight(false);
  QWidget::dragLeaveEvent(event);
}

void WorkspaceArea::dropEvent(QDropEvent* event) {
  dropZone->SetDragHighlight(false);
  const QStringList files = LocalFiles(event->mimeData());
  if (!AnyAccepted(files)) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  emit filesDropped(files);
}

}  // namespace quillora::ui
