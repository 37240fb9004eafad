#include "app/frameless_window.h"

#include "app/theme.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>

namespace quillora::ui {

namespace {
constexpr int kMinimumWidth = 1080;
constexpr int kMinimumHeight = 768;
constexpr int kHoldToDragMs = 200;
constexpr int kMonitorCheckMs = 500;
constexpr int kBoundsTickMs = 100;
constexpr int kEdgeStrip = 5;
}  // namespace

QRect RestoreBoundsFor(const QRect& workArea, const QRect& remembered) {
  if (remembered.width() <= 100 || remembered.height() <= 100) {
    return QRect(workArea.left() + 50, workArea.top() + 50, workArea.width() - 100,
                 workArea.height() - 100);
  }
  if (remembered.intersects(workArea)) return remembered;
  QRect moved = remembered;
  moved.moveLeft(std::clamp(remembered.left(), workArea.left(),
                            std::max(workArea.left(), workArea.right() - remembered.width() + 1)));
  moved.moveTop(std::clamp(remembered.top(), workArea.top(),
                           std::max(workArea.top(), workArea.bottom() - remembered.height() + 1)));
  return moved;
}

QRect FitToWorkArea(const QRect& bounds, const QRect& workArea) {
  if (bounds.width() <= workArea.width() && bounds.height() <= workArea.height()) return bounds;
  const int w = qRound(workArea.width() * 0.98);
  const int h = qRound(workArea.height() * 0.98);
  return QRect(workArea.left() + (workArea.width() - w) / 2,
               workArea.top() + (workArea.height() - h) / 2, w, h);
}

bool ShouldRememberBounds(const QRect& bounds, const QRect& workArea) {
  // Compared in hundredths so that the 99 % limit is exact for any size.
  return int64_t(bounds.width()) * 100 < int64_t(workArea.width()) * 99 &&
         int64_t(bounds.height()) * 100 < int64_t(workArea.height()) * 99;
}

QRect ResizedByEdge(const QRect& start, Qt::Edge edge, const QPoint& delta, const QSize& minimum) {
  QRect r = start;
  switch (edge) {
    case Qt::LeftEdge: {
      const int w = std::max(minimum.width(), start.width() - delta.x());
      r.setRect(start.left() + start.width() - w, start.top(), w, start.height());
      break;
    }
    case Qt::RightEdge:
      r.setWidth(std::max(minimum.width(), start.width() + delta.x()));
      break;
    case Qt::TopEdge: {
      const int h = std::max(minimum.height(), start.height() - delta.y());
      r.setRect(start.left(), start.top() + start.height() - h, start.width(), h);
      break;
    }
    case Qt::BottomEdge:
      r.setHeight(std::max(minimum.height(), start.height() + delta.y()));
      break;
  }
  return r;
}

QSize MinimumSizeFor(const QRect& workArea) {
  if (workArea.isEmpty()) return QSize(kMinimumWidth, kMinimumHeight);
  return QSize(std::min(kMinimumWidth, workArea.width()),
               std::min(kMinimumHeight, workArea.height()));
}

// ---------------------------------------------------------------------------------------

namespace {

enum class Drag { None, SystemMove, ManualMove, SystemResize, ManualResize };

// An invisible strip along one edge that resizes the window; it only shows a cursor.
class EdgeStrip : public QWidget {
 public:
  EdgeStrip(Qt::Edge edge, QWidget* parent) : QWidget(parent), edge_(edge) {
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(edge == Qt::LeftEdge || edge == Qt::RightEdge ? Qt::SizeHorCursor
                                                            : Qt::SizeVerCursor);
  }
  Qt::Edge edge() const { return edge_; }

 private:
  Qt::Edge edge_;
};

}  // namespace

struct FramelessWindow::Private {
  explicit Private(FramelessWindow* window) : q(window) {}

  FramelessWindow* q;
  QPointer<QWidget> titleBar;
  std::array<EdgeStrip*, 4> strips{};
  QTimer holdTimer;
  QTimer monitorTimer;
  QTimer boundsTimer;

  bool customMaximized = false;  // FIsCustomMaximized
  QRect remembered;              // the bounds a restore goes back to
  QRect lastBounds;              // what the bounds tick saw last
  QPointer<QScreen> lastScreen;  // FLastMonitorIndex: null until the first check
  QRect lastWorkArea;

  Drag drag = Drag::None;
  bool pressPending = false;  // title bar held, waiting for the hold to become a drag
  QPoint pressGlobal;
  QRect pressBounds;
  Qt::Edge resizeEdge = Qt::TopEdge;

  QScreen* currentScreen() const {
    if (QScreen* s = QGuiApplication::screenAt(q->geometry().center())) return s;
    return q->screen();
  }
  QRect workArea() const {
    QScreen* s = currentScreen();
    return s ? s->availableGeometry() : QRect();
  }

  void placeStrips() {
    const int w = q->width(), h = q->height();
    for (EdgeStrip* strip : strips) {
      switch (strip->edge()) {
        case Qt::TopEdge:
          strip->setGeometry(0, 0, w, kEdgeStrip);
          break;
        case Qt::BottomEdge:
          strip->setGeometry(0, h - kEdgeStrip, w, kEdgeStrip);
          break;
        case Qt::LeftEdge:
          strip->setGeometry(0, kEdgeStrip, kEdgeStrip, h - 2 * kEdgeStrip);
          break;
        case Qt::RightEdge:
          strip->setGeometry(w - kEdgeStrip, kEdgeStrip, kEdgeStrip, h - 2 * kEdgeStrip);
          break;
      }
      strip->raise();
    }
  }

  void showStrips(bool visible) {
    for (EdgeStrip* strip : strips) strip->setVisible(visible);
    if (visible) placeStrips();
  }

  void beginDrag(Drag kind) {
    drag = kind;
    if (kind == Drag::SystemMove || kind == Drag::SystemResize) {
      // The window manager owns the pointer now and tells us nothing when it lets go:
      // the first pointer event we see again without the left button ends the drag.
      qApp->installEventFilter(q);
    }
    if (kind == Drag::ManualMove && titleBar) titleBar->grabMouse(Qt::ClosedHandCursor);
    q->update();
  }

  void endDrag() {
    if (drag == Drag::None) return;
    if (drag == Drag::SystemMove || drag == Drag::SystemResize) qApp->removeEventFilter(q);
    if (drag == Drag::ManualMove && titleBar) titleBar->releaseMouse();
    drag = Drag::None;
    q->update();
  }

  void holdElapsed() {
    if (!pressPending) return;
    pressPending = false;
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    QWindow* handle = q->windowHandle();
    beginDrag(handle && handle->startSystemMove() ? Drag::SystemMove : Drag::ManualMove);
  }

  bool titleBarEvent(QEvent* event) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton || q->isMaximized() || q->isFullScreen()) return false;
        pressGlobal = me->globalPosition().toPoint();
        pressBounds = q->geometry();
        pressPending = true;
        holdTimer.start();
        return false;
      }
      case QEvent::MouseMove: {
        if (drag != Drag::ManualMove) return false;
        auto* me = static_cast<QMouseEvent*>(event);
        q->move(pressBounds.topLeft() + (me->globalPosition().toPoint() - pressGlobal));
        return true;
      }
      case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton) return false;
        holdTimer.stop();
        pressPending = false;
        const bool dragging = drag != Drag::None;
        endDrag();
        return dragging;
      }
      case QEvent::MouseButtonDblClick: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton) return false;
        holdTimer.stop();
        pressPending = false;
        q->ToggleCustomMaximize();
        return true;
      }
      default:
        return false;
    }
  }

  bool stripEvent(EdgeStrip* strip, QEvent* event) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton || customMaximized) return false;
        pressGlobal = me->globalPosition().toPoint();
        pressBounds = q->geometry();
        resizeEdge = strip->edge();
        QWindow* handle = q->windowHandle();
        beginDrag(handle && handle->startSystemResize(resizeEdge) ? Drag::SystemResize
                                                                  : Drag::ManualResize);
        return true;
      }
      case QEvent::MouseMove: {
        if (drag != Drag::ManualResize) return false;
        auto* me = static_cast<QMouseEvent*>(event);
        q->setGeometry(ResizedByEdge(pressBounds, resizeEdge,
                                     me->globalPosition().toPoint() - pressGlobal,
                                     q->minimumSize()));
        return true;
      }
      case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton || drag == Drag::None) return false;
        if (drag == Drag::ManualResize) {
          q->setGeometry(ResizedByEdge(pressBounds, resizeEdge,
                                       me->globalPosition().toPoint() - pressGlobal,
                                       q->minimumSize()));
        }
        endDrag();
        return true;
      }
      default:
        return false;
    }
  }

  // Any event that shows the pointer is free again after a move or resize the window
  // manager ran.
  void watchSystemDrag(QEvent* event) {
    switch (event->type()) {
      case QEvent::MouseButtonRelease:
      case QEvent::NonClientAreaMouseButtonRelease:
        endDrag();
        break;
      case QEvent::MouseMove:
      case QEvent::NonClientAreaMouseMove:
        if (!(static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton)) endDrag();
        break;
      case QEvent::Enter:
      case QEvent::HoverMove:
        if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) endDrag();
        break;
      default:
        break;
    }
  }

  void applyMinimum(const QRect& area) {
    const QSize minimum = MinimumSizeFor(area);
    if (q->minimumSize() != minimum) q->setMinimumSize(minimum);
  }

  // Taskbar auto-hide only exists on Windows; there the maximised height is one pixel
  // short so that the taskbar can still slide in. On Linux the work area is used as is.
  QRect maximisedBounds(const QRect& area) const { return area; }

  void monitorCheck() {
    if (!q->isVisible() || q->isMinimized() || drag != Drag::None) return;
    QScreen* screen = currentScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    applyMinimum(area);
    // A work area that changed on the same monitor (another resolution, a panel added)
    // asks for the same refit as a move to another monitor.
    const bool moved = screen != lastScreen || area != lastWorkArea;
    lastScreen = screen;
    lastWorkArea = area;
    const bool normal = (q->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) == 0;
    if (moved) {
      if (customMaximized) {
        q->setGeometry(maximisedBounds(area));
      } else if (normal) {
        const QRect fitted = FitToWorkArea(q->geometry(), area);
        if (fitted != q->geometry()) q->setGeometry(fitted);
      }
    }
    if (!customMaximized && normal && ShouldRememberBounds(q->geometry(), area)) {
      remembered = q->geometry();
    }
  }

  void boundsTick() {
    if (drag != Drag::None || customMaximized || q->windowState() != Qt::WindowNoState) return;
    if (!q->isVisible() || (QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    const QRect bounds = q->geometry();
    if (bounds == lastBounds) return;
    lastBounds = bounds;
    remembered = bounds;
  }
};

FramelessWindow::FramelessWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), d_(new Private(this)) {
  setAttribute(Qt::WA_TranslucentBackground);
  setMinimumSize(kMinimumWidth, kMinimumHeight);

  d_->strips = {new EdgeStrip(Qt::TopEdge, this), new EdgeStrip(Qt::BottomEdge, this),
                new EdgeStrip(Qt::LeftEdge, this), new EdgeStrip(Qt::RightEdge, this)};
  for (EdgeStrip* strip : d_->strips) strip->installEventFilter(this);
  // Content added later would cover the strips; keep them on top.
  installEventFilter(this);

  d_->holdTimer.setSingleShot(true);
  d_->holdTimer.setInterval(kHoldToDragMs);
  connect(&d_->holdTimer, &QTimer::timeout, this, [this] { d_->holdElapsed(); });
  d_->monitorTimer.setInterval(kMonitorCheckMs);
  connect(&d_->monitorTimer, &QTimer::timeout, this, [this] { d_->monitorCheck(); });
  d_->monitorTimer.start();
  d_->boundsTimer.setInterval(kBoundsTickMs);
  connect(&d_->boundsTimer, &QTimer::timeout, this, [this] { d_->boundsTick(); });
  d_->boundsTimer.start();
}

FramelessWindow::~FramelessWindow() {
  d_->endDrag();
  for (EdgeStrip* strip : d_->strips) strip->removeEventFilter(this);
  if (d_->titleBar) d_->titleBar->removeEventFilter(this);
  removeEventFilter(this);
  // The children are destroyed after this body; the filter must not reach a freed d_.
  Private* d = d_;
  d_ = nullptr;
  delete d;
}

void FramelessWindow::SetTitleBar(QWidget* bar) {
  if (d_->titleBar) d_->titleBar->removeEventFilter(this);
  d_->titleBar = bar;
  if (bar) bar->installEventFilter(this);
}

bool FramelessWindow::IsCustomMaximized() const { return d_->customMaximized; }

bool FramelessWindow::IsMovingOrResizing() const { return d_->drag != Drag::None; }

QRect FramelessWindow::RememberedBounds() const { return d_->remembered; }

void FramelessWindow::ToggleCustomMaximize() {
  if (d_->customMaximized) {
    RestoreFromMaximize();
  } else {
    CustomMaximize();
  }
}

void FramelessWindow::CustomMaximize() {
  if (d_->customMaximized) return;
  const QRect area = d_->workArea();
  if (windowState() == Qt::WindowNoState) d_->remembered = geometry();
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
  }
  d_->customMaximized = true;
  d_->applyMinimum(area);
  setGeometry(d_->maximisedBounds(area));
  d_->showStrips(false);
  update();
  emit customMaximizedChanged(true);
}

void FramelessWindow::RestoreFromMaximize() {
  if (!d_->customMaximized) return;
  const QRect area = d_->workArea();
  d_->customMaximized = false;
  d_->applyMinimum(area);
  setGeometry(RestoreBoundsFor(area, d_->remembered));
  d_->showStrips(true);
  update();
  emit customMaximizedChanged(false);
}

void FramelessWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor::fromRgba(IsMovingOrResizing() ? theme::kDragFill : theme::kMainFill));
  p.drawRoundedRect(QRectF(rect()), theme::kMainRadius, theme::kMainRadius);
}

void FramelessWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  d_->placeStrips();
}

void FramelessWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  d_->applyMinimum(d_->workArea());
  d_->showStrips(!d_->customMaximized);
}

bool FramelessWindow::eventFilter(QObject* watched, QEvent* event) {
  if (!d_) return false;
  if (d_->drag == Drag::SystemMove || d_->drag == Drag::SystemResize) d_->watchSystemDrag(event);
  if (watched == this) {
    if (event->type() == QEvent::ChildAdded) {
      QTimer::singleShot(0, this, [this] {
        if (d_) d_->placeStrips();
      });
    }
    return false;
  }
  if (watched == d_->titleBar) return d_->titleBarEvent(event);
  for (EdgeStrip* strip : d_->strips) {
    if (watched == strip) return d_->stripEvent(strip, event);
  }
  return false;
}

}  // namespace quillora::ui
