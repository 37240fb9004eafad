#include "app/workspace_view.h"

#include "app/theme.h"
#include "gfx/surface.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace quillora::ui {

namespace {

constexpr float kMinZoom = 0.1f;
constexpr float kMaxZoom = 10.0f;
constexpr float kButtonZoomStep = 1.1f;
// After the last zoom step the view waits this long before the slower cubic redraw, so
// a run of steps (a held button, a spun wheel) stays smooth.
constexpr int kZoomDebounceMs = 150;
constexpr qreal kCornerRadius = 15;
// A mouse wheel notch; finer deltas (touchpads, free-spinning wheels) add up to one.
constexpr int kWheelNotch = 120;

constexpr double kMinCropSize = 20;
constexpr int kToolbarGap = 6;
constexpr int kToolbarMinTop = 16;

// Up to this many uncovered device pixels (strips a pan reveals) the cubic rendering is
// drawn at once, in some 20 ms; more goes to the background.
constexpr qint64 kSyncCubicPixels = 64 * 1024;

// How far the divider bar takes a press on either side of its line.
constexpr qreal kDividerGrab = 6;
constexpr qreal kGripRadius = 13;

float ClampZoom(float z) { return std::clamp(z, kMinZoom, kMaxZoom); }

// The whole pixels a rectangle touches.
QRect OuterPixels(const QRectF& r) {
  return QRect(QPoint(int(std::floor(r.left())), int(std::floor(r.top()))),
               QPoint(int(std::ceil(r.right())) - 1, int(std::ceil(r.bottom())) - 1));
}

// The part of `image` whose drawing into `dst` lands on `area` (both in device pixels),
// with a margin of source pixels so that the filter sees the real neighbours at the
// cut; `dstOut` receives where that part goes, relative to `area`'s corner. Cutting the
// draw to the visible area keeps its cost to the pixels on screen and its coordinates
// small (pixman's 16.16 fixed point stops at 32767, which a 10x zoom of a large photo
// passes).
QRect SourceUnder(const QSize& image, const QRectF& dst, const QRect& area, QRectF* dstOut) {
  constexpr int kMargin = 3;
  const double sx = dst.width() / image.width();
  const double sy = dst.height() / image.height();
  const int x0 = std::max(0, int(std::floor((area.left() - dst.left()) / sx)) - kMargin);
  const int y0 = std::max(0, int(std::floor((area.top() - dst.top()) / sy)) - kMargin);
  const int x1 =
      std::min(image.width(), int(std::ceil((area.right() + 1 - dst.left()) / sx)) + kMargin);
  const int y1 =
      std::min(image.height(), int(std::ceil((area.bottom() + 1 - dst.top()) / sy)) + kMargin);
  if (x1 <= x0 || y1 <= y0) return QRect();
  *dstOut = QRectF(dst.left() + x0 * sx - area.left(), dst.top() + y0 * sy - area.top(),
                   (x1 - x0) * sx, (y1 - y0) * sy);
  return QRect(x0, y0, x1 - x0, y1 - y0);
}

// `image` drawn into `dst` with cubic sampling, cut to `area` (device pixels).
QImage RenderCubic(const gfx::Image& image, const QRectF& dst, const QRect& area) {
  QRectF local;
  const QRect src = SourceUnder(image.qimage().size(), dst, area, &local);
  gfx::Surface surface(area.width(), area.height());
  if (!src.isEmpty()) surface.drawImageRect(image, QRectF(src), local, gfx::Sampling::Cubic);
  return surface.snapshot().qimage();
}

// The same with the painter's bilinear sampling: the fast path while zooming.
QImage RenderLinear(const gfx::Image& image, const QRectF& dst, const QRect& area) {
  QImage out = gfx::AllocateImage(area.width(), area.height());
  out.fill(Qt::transparent);
  QRectF local;
  const QRect src = SourceUnder(image.qimage().size(), dst, area, &local);
  if (!src.isEmpty()) {
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(local, image.qimage(), QRectF(src));
  }
  return out;
}

enum class Edge { Left, Top, Right, Bottom };

class PaintBox;
class CropHandle;

// The view's state and workings; the widgets of this file reach it directly.
struct ViewState {
  enum class Change { Pan, ZoomStep, ZoomSet };
  enum Slot { kResult = 0, kSource = 1 };

  // The settled cubic rendering of the visible part of one image. It stays valid while
  // the image and the zoom stay; a pan by whole device pixels only moves it, so panning
  // renders just the strips it uncovers.
  struct CubicCache {
    uint64_t id = 0;
    float zoom = 0;
    float panX = 0;
    float panY = 0;
    qreal dpr = 0;
    QRect devRect;  // where the pixels were, in device pixels of the paint box at (panX, panY)
    QImage pixels;
  };
  struct Layer {
    QImage pixels;
    QRect devRect;  // device pixels of the paint box
  };

  WorkspaceView* q;
  QScrollArea* scroll = nullptr;
  PaintBox* box = nullptr;
  QScrollBar* hbar = nullptr;
  QScrollBar* vbar = nullptr;
  QTimer zoomTimer;

  gfx::Image result;
  gfx::Image source;

  float zoom = 1.0f;  // FZoomFactor
  float panX = 0.0f;  // FPanOffset
  float panY = 0.0f;
  bool zooming = false;       // FZooming
  bool isPanning = false;     // FIsPanning
  QPointF lastMousePos;       // FLastMousePos
  bool rightPreview = false;  // FRightPreview
  bool split = false;
  float dividerX = 0.0f;  // FDividerX
  bool dragging = false;  // FDragging
  int wheelRemainder = 0;

  bool cropping = false;
  QRectF selection;
  CropHandle* handles[4] = {};
  QWidget* toolbar = nullptr;
  Edge dragEdge = Edge::Left;
  double dragEdgeOffset = 0;

  CubicCache caches[2];
  // The settled renderings asked of the background thread (empty pixels), per slot.
  CubicCache pending[2];
  // Per slot, the number of the newest request; read by the background thread.
  std::atomic<int> generations[2] = {0, 0};
  QThreadPool renderPool;
  struct CubicRequest {
    Slot slot;
    gfx::Image image;
    QRectF dst;
    QRect devTarget;
    qreal dpr;
  };
  std::vector<CubicRequest> requests;  // gathered during a paint
  std::function<void(QPainter&)> overlayPainter;
  std::function<bool(QMouseEvent*)> mouseInterceptor;
  std::function<bool()> cropGuard;

  explicit ViewState(WorkspaceView* view) : q(view) {
    // One background rendering at a time; its draw spreads over the parallel pool.
    renderPool.setMaxThreadCount(1);
  }

  bool HasImages() const { return !result.isEmpty() && !source.isEmpty(); }
  QSize Viewport() const;
  QRectF Displayed() const {
    return QRectF(panX, panY, float(result.width()) * zoom, float(result.height()) * zoom);
  }
  QSize PaintBoxSizeFor(float z) const;
  QRect VisibleRect() const;

  void ApplyView(float z, float px, float py, Change change);
  void ClampDivider();
  void BestFit();
  void Centre();

  // Mouse.
  bool OnDivider(const QPointF& pos) const;
  bool DividerBar(qreal* top, qreal* bottom) const;
  void EndMouseGestures();

  // Drawing.
  void Paint(QPainter& p);
  Layer LayerFor(Slot slot, const gfx::Image& image, const QRect& devTarget, qreal dpr);
  void RequestCubic(Slot slot, const gfx::Image& image, const QRectF& dst, const QRect& devTarget,
                    qreal dpr);
  void DrawDivider(QPainter& p);
  void DrawCropOverlay(QPainter& p, const QPainterPath& rounded);

  // Crop.
  void PlaceCropControls();
  void BeginEdgeDrag(Edge edge, const QPointF& pos);
  void DragEdge(const QPointF& pos);
  void LeaveCrop();
};

}  // namespace

struct WorkspaceView::Private : ViewState {
  using ViewState::ViewState;
};

namespace {

// The scroll area's content: the image, the divider and the crop overlay are drawn here.
class PaintBox : public QWidget {
 public:
  PaintBox(ViewState* d, QWidget* parent) : QWidget(parent), d_(d) {
    setObjectName(QStringLiteral("paintBox"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    d_->Paint(p);
  }

  void mousePressEvent(QMouseEvent* e) override {
    if (d_->mouseInterceptor && d_->mouseInterceptor(e)) return;
    if (d_->result.isEmpty() || d_->cropping) return;
    if (e->button() == Qt::LeftButton) {
      if (d_->OnDivider(e->position())) {
        d_->dragging = true;
      } else {
        d_->isPanning = true;
        d_->lastMousePos = e->position();
        setCursor(Qt::SizeAllCursor);
      }
    } else if (e->button() == Qt::RightButton) {
      d_->rightPreview = true;
      update();
    }
  }

  void mouseMoveEvent(QMouseEvent* e) override {
    if (d_->mouseInterceptor && d_->mouseInterceptor(e)) return;
    const QPointF pos = e->position();
    if (d_->dragging) {
      const QRectF shown = d_->Displayed();
      d_->dividerX = float(std::clamp(pos.x(), shown.left(), shown.right()));
      update();
    } else if (d_->isPanning) {
      const float dx = float(pos.x() - d_->lastMousePos.x());
      const float dy = float(pos.y() - d_->lastMousePos.y());
      d_->lastMousePos = pos;
      if (d_->split) d_->dividerX += dx;
      d_->ApplyView(d_->zoom, d_->panX + dx, d_->panY + dy, ViewState::Change::Pan);
    } else if (d_->OnDivider(pos)) {
      setCursor(Qt::SplitHCursor);
    } else {
      unsetCursor();
    }
  }

  void mouseReleaseEvent(QMouseEvent* e) override {
    if (d_->mouseInterceptor && d_->mouseInterceptor(e)) return;
    if (e->button() == Qt::LeftButton) {
      d_->dragging = false;
      d_->isPanning = false;
      unsetCursor();
    } else if (e->button() == Qt::RightButton && d_->rightPreview) {
      d_->rightPreview = false;
      update();
    }
  }

  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if (d_->mouseInterceptor && d_->mouseInterceptor(e)) return;
    if (e->button() != Qt::LeftButton) {
      mousePressEvent(e);  // the second press of a right double click still previews
      return;
    }
    if (d_->result.isEmpty() || d_->cropping) return;
    // The viewer is modal and may take the release: no gesture may outlive it.
    d_->EndMouseGestures();
    emit d_->q->viewDoubleClicked();
  }

  void wheelEvent(QWheelEvent* e) override {
    e->accept();  // the wheel zooms; it never scrolls the scroll area
    const int delta = e->angleDelta().y();
    if (delta == 0) return;  // a sideways swipe
    if ((d_->wheelRemainder > 0) != (delta > 0)) d_->wheelRemainder = 0;
    d_->wheelRemainder += delta;
    while (std::abs(d_->wheelRemainder) >= kWheelNotch) {
      const int notch = d_->wheelRemainder > 0 ? kWheelNotch : -kWheelNotch;
      d_->wheelRemainder -= notch;
      d_->q->WheelZoom(e->position(), notch);
    }
  }

  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::ActivationChange && !isActiveWindow()) d_->EndMouseGestures();
    QWidget::changeEvent(e);
  }

 private:
  ViewState* d_;
};

// One of the four edge handles of the crop selection; dragging it moves its edge.
class CropHandle : public QWidget {
 public:
  static constexpr int kLong = 44;
  static constexpr int kShort = 16;

  CropHandle(ViewState* d, Edge edge, QWidget* parent) : QWidget(parent), d_(d), edge_(edge) {
    static const char* const kNames[] = {"cropHandleLeft", "cropHandleTop", "cropHandleRight",
                                         "cropHandleBottom"};
    setObjectName(QString::fromLatin1(kNames[int(edge)]));
    const bool horizontalEdge = edge == Edge::Top || edge == Edge::Bottom;
    setFixedSize(horizontalEdge ? QSize(kLong, kShort) : QSize(kShort, kLong));
    setCursor(horizontalEdge ? Qt::SizeVerCursor : Qt::SizeHorCursor);
    hide();
  }

  // Centres the handle on `p` (paint-box coordinates).
  void CentreOn(const QPointF& p) {
    move(int(std::lround(p.x() - width() / 2.0)), int(std::lround(p.y() - height() / 2.0)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool horizontalEdge = edge_ == Edge::Top || edge_ == Edge::Bottom;
    const QSizeF pill = horizontalEdge ? QSizeF(32, 6) : QSizeF(6, 32);
    const QRectF r(QPointF((width() - pill.width()) / 2, (height() - pill.height()) / 2), pill);
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.setBrush(QColor(255, 255, 255));
    p.drawRoundedRect(r, 3, 3);
  }

  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) d_->BeginEdgeDrag(edge_, mapToParent(e->position()));
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() & Qt::LeftButton) d_->DragEdge(mapToParent(e->position()));
  }

 private:
  ViewState* d_;
  Edge edge_;
};

// The accept and cancel icons above the crop selection.
QWidget* MakeCropToolbar(WorkspaceView* view, QWidget* parent) {
  class Toolbar : public QWidget {
   public:
    using QWidget::QWidget;

   protected:
    void paintEvent(QPaintEvent*) override {
      QPainter p(this);
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(QColor::fromRgba(theme::kMenuStroke), 1));
      p.setBrush(QColor::fromRgba(theme::kMenuFill));
      p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
  };
  auto* bar = new Toolbar(parent);
  bar->setObjectName(QStringLiteral("cropToolbar"));
  bar->setStyleSheet(
      QStringLiteral("QToolButton { border: none; border-radius: 6px; background: transparent; }"
                     "QToolButton:hover { background: rgba(255, 255, 255, 30); }"
                     "QToolButton:pressed { background: rgba(255, 255, 255, 55); }"));
  auto* layout = new QHBoxLayout(bar);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(2);
  auto addButton = [&](const char* name, const QString& icon, QColor colour, auto slot) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(Icon(icon, colour));
    b->setIconSize(QSize(18, 18));
    b->setFixedSize(28, 28);
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
    QObject::connect(b, &QToolButton::clicked, view, slot);
    layout->addWidget(b);
  };
  addButton("cropAccept", QStringLiteral("check"), QColor(0x4A, 0xDE, 0x80),
            &WorkspaceView::AcceptCrop);
  addButton("cropCancel", QStringLiteral("x"), QColor(0xE5, 0xE7, 0xEB),
            &WorkspaceView::CancelCrop);
  bar->adjustSize();
  bar->hide();
  return bar;
}

QScrollBar* MakeOverlayBar(Qt::Orientation orientation, QWidget* parent) {
  auto* bar = new QScrollBar(orientation, parent);
  bar->setFocusPolicy(Qt::NoFocus);
  bar->setStyleSheet(QStringLiteral(
      "QScrollBar { background: transparent; border: none; margin: 0; }"
      "QScrollBar:horizontal { height: 8px; } QScrollBar:vertical { width: 8px; }"
      "QScrollBar::handle { background: rgba(255, 255, 255, 80); border-radius: 4px;"
      " min-width: 24px; min-height: 24px; }"
      "QScrollBar::handle:hover, QScrollBar::handle:pressed {"
      " background: rgba(255, 255, 255, 150); }"
      "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none;"
      " background: none; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"));
  bar->hide();
  return bar;
}

// The scroll area keeps its own bars hidden, so that they never take room from the
// viewport (best fit would otherwise fit into a viewport that grows once the bars go);
// thin bars of ours float over the edges and mirror them.
void MirrorScrollBar(QScrollBar* inner, QScrollBar* overlay) {
  QObject::connect(inner, &QScrollBar::rangeChanged, overlay, [inner, overlay](int min, int max) {
    overlay->setRange(min, max);
    overlay->setPageStep(inner->pageStep());
    overlay->setSingleStep(inner->singleStep());
    overlay->setVisible(max > min);
  });
  QObject::connect(inner, &QScrollBar::valueChanged, overlay, &QScrollBar::setValue);
  QObject::connect(overlay, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
}

}  // namespace

// --- geometry -------------------------------------------------------------------------

QSize ViewState::Viewport() const { return scroll->viewport()->size(); }

QSize ViewState::PaintBoxSizeFor(float z) const {
  const QSize vp = Viewport();
  if (result.isEmpty()) return vp;
  const int w = int(std::floor(float(result.width()) * z));
  const int h = int(std::floor(float(result.height()) * z));
  return QSize(std::max(w, vp.width()), std::max(h, vp.height()));
}

QRect ViewState::VisibleRect() const { return QRect(-box->pos(), Viewport()) & box->rect(); }

void ViewState::ClampDivider() {
  const QRectF shown = Displayed();
  dividerX = std::clamp(dividerX, float(shown.left()),
                        std::max(float(shown.left()), float(shown.right())));
}

// The one place where zoom and pan change: everything that follows them (paint-box size,
// divider, crop selection, debounce, signals) is kept in step here.
void ViewState::ApplyView(float z, float px, float py, Change change) {
  if (cropping) {
    // The selection stays on the same part of the image.
    const double k = double(z) / double(zoom);
    selection = QRectF((selection.left() - panX) * k + px, (selection.top() - panY) * k + py,
                       selection.width() * k, selection.height() * k);
  }
  zoom = z;
  panX = px;
  panY = py;
  box->resize(PaintBoxSizeFor(zoom));
  ClampDivider();
  if (change == Change::ZoomStep) {
    zooming = true;
    zoomTimer.start();
  }
  PlaceCropControls();
  box->update();
  emit q->viewChanged();
  if (change != Change::Pan) emit q->zoomChanged(zoom);
}

void ViewState::BestFit() {
  const QSize vp = Viewport();
  const float z = ClampZoom(std::min(float(vp.width()) / float(result.width()),
                                     float(vp.height()) / float(result.height())));
  const float px = (float(vp.width()) - float(result.width()) * z) / 2.0f;
  const float py = (float(vp.height()) - float(result.height()) * z) / 2.0f;
  ApplyView(z, px, py, Change::ZoomStep);
  scroll->horizontalScrollBar()->setValue(0);
  scroll->verticalScrollBar()->setValue(0);
}

void ViewState::Centre() {
  const QSize size = PaintBoxSizeFor(zoom);
  const float px = (float(size.width()) - float(result.width()) * zoom) / 2.0f;
  const float py = (float(size.height()) - float(result.height()) * zoom) / 2.0f;
  ApplyView(zoom, px, py, Change::Pan);
}

// --- mouse ----------------------------------------------------------------------------

// The bar spans the image's height where it is on screen.
bool ViewState::DividerBar(qreal* top, qreal* bottom) const {
  if (!split || rightPreview || cropping || result.isEmpty()) return false;
  const QRectF shown = Displayed();
  const QRect visible = VisibleRect();
  *top = std::max(shown.top(), qreal(visible.top()));
  *bottom = std::min(shown.bottom(), qreal(visible.top() + visible.height()));
  return *bottom > *top;
}

bool ViewState::OnDivider(const QPointF& pos) const {
  qreal top, bottom;
  if (!DividerBar(&top, &bottom)) return false;
  if (std::abs(pos.x() - dividerX) <= kDividerGrab && pos.y() >= top && pos.y() <= bottom)
    return true;
  const QPointF grip(dividerX, (top + bottom) / 2);
  return QLineF(pos, grip).length() <= kGripRadius;
}

void ViewState::EndMouseGestures() {
  isPanning = false;
  dragging = false;
  box->unsetCursor();
  if (rightPreview) {
    rightPreview = false;
    box->update();
  }
}

// --- drawing --------------------------------------------------------------------------

ViewState::Layer ViewState::LayerFor(Slot slot, const gfx::Image& image, const QRect& devTarget,
                                     qreal dpr) {
  const QRectF shown = Displayed();
  const QRectF dst(shown.left() * dpr, shown.top() * dpr, shown.width() * dpr,
                   shown.height() * dpr);
  if (zooming) return Layer{RenderLinear(image, dst, devTarget), devTarget};

  CubicCache& c = caches[slot];
  QRect kept;  // the cached pixels, where they are now
  if (!c.pixels.isNull() && c.id == image.uniqueId() && c.zoom == zoom && c.dpr == dpr) {
    const double sx = (double(panX) - double(c.panX)) * dpr;
    const double sy = (double(panY) - double(c.panY)) * dpr;
    // Pans come in whole mouse steps; a shift of a thousandth of a pixel is float noise.
    if (std::abs(sx - std::round(sx)) < 1e-3 && std::abs(sy - std::round(sy)) < 1e-3)
      kept = c.devRect.translated(int(std::round(sx)), int(std::round(sy)));
  }
  if (!kept.isEmpty() && kept.contains(devTarget)) return Layer{c.pixels, kept};

  const QRegion missing = QRegion(devTarget) - QRegion(kept);
  qint64 missingPixels = 0;
  for (const QRect& r : missing) missingPixels += qint64(r.width()) * r.height();
  // Cubic sampling costs some 25 times the bilinear: the strips a pan uncovers are drawn
  // at once, a whole new view in the background while the bilinear picture stands in.
  const bool now = missingPixels <= kSyncCubicPixels;
  if (!now) requests.push_back({slot, image, dst, devTarget, dpr});

  QImage pixels;
  const QRect overlap = kept & devTarget;
  if (overlap.isEmpty()) {
    pixels = now ? RenderCubic(image, dst, devTarget) : RenderLinear(image, dst, devTarget);
  } else {
    pixels = gfx::AllocateImage(devTarget.width(), devTarget.height());
    QPainter p(&pixels);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(overlap.topLeft() - devTarget.topLeft(), c.pixels,
                overlap.translated(-kept.topLeft()));
    for (const QRect& strip : missing)
      p.drawImage(strip.topLeft() - devTarget.topLeft(),
                  now ? RenderCubic(image, dst, strip) : RenderLinear(image, dst, strip));
  }
  if (now) c = CubicCache{image.uniqueId(), zoom, panX, panY, dpr, devTarget, pixels};
  return Layer{pixels, devTarget};
}

void ViewState::RequestCubic(Slot slot, const gfx::Image& image, const QRectF& dst,
                             const QRect& devTarget, qreal dpr) {
  const CubicCache wanted{image.uniqueId(), zoom, panX, panY, dpr, devTarget, QImage()};
  CubicCache& p = pending[slot];
  if (p.id == wanted.id && p.zoom == wanted.zoom && p.panX == wanted.panX &&
      p.panY == wanted.panY && p.dpr == wanted.dpr && p.devRect == wanted.devRect)
    return;  // already on its way
  p = wanted;
  // Only the newest view of a slot is worth drawing: a request overtaken before its turn
  // comes is skipped; the one running finishes, and is used if image and zoom still hold.
  const int generation = ++generations[slot];
  QWidget* target = box;
  renderPool.start([this, target, slot, image, dst, wanted, generation]() {
    if (generations[slot].load() != generation) return;
    QImage pixels;
    try {
      pixels = RenderCubic(image, dst, wanted.devRect);
    } catch (const gfx::Error&) {
      // Out of memory: the bilinear picture stays; a later repaint asks again.
    }
    // The view waits for this pool before it goes, so `this` and `target` outlive the
    // queued call.
    QMetaObject::invokeMethod(
        target,
        [this, slot, wanted, pixels]() {
          CubicCache& want = pending[slot];
          if (want.id == wanted.id && want.zoom == wanted.zoom && want.panX == wanted.panX &&
              want.panY == wanted.panY && want.devRect == wanted.devRect)
            want = CubicCache{};
          const gfx::Image& current = slot == kResult ? result : source;
          if (pixels.isNull() || current.isEmpty() || current.uniqueId() != wanted.id ||
              zoom != wanted.zoom)
            return;
          CubicCache done = wanted;
          done.pixels = pixels;
          caches[slot] = done;
          box->update();
        },
        Qt::QueuedConnection);
  });
}

void ViewState::Paint(QPainter& p) {
  if (result.isEmpty()) return;
  p.setRenderHint(QPainter::Antialiasing);
  const qreal dpr = box->devicePixelRatioF();
  // The rounded corners are those of the part on screen: a paint box larger than the
  // viewport would otherwise show square corners until scrolled to its own.
  const QRect boxRect = VisibleRect();
  const QRect target = boxRect & OuterPixels(Displayed());
  QPainterPath rounded;
  rounded.addRoundedRect(QRectF(boxRect), kCornerRadius, kCornerRadius);

  if (!target.isEmpty()) {
    const QRect devTarget = OuterPixels(QRectF(target.left() * dpr, target.top() * dpr,
                                               target.width() * dpr, target.height() * dpr));
    // Only where the image reaches a corner of the paint box does the rounded clip need
    // an anti-aliased path; elsewhere the layer is copied straight.
    const int r = int(std::ceil(kCornerRadius));
    const QRect inner = boxRect.adjusted(r, r, -r, -r);
    const bool touchesCorner = (target.left() < inner.left() || target.right() > inner.right()) &&
                               (target.top() < inner.top() || target.bottom() > inner.bottom());
    auto drawPiece = [&](Slot slot, const gfx::Image& image, const QRect& clip) {
      const QRect part = clip & target;
      if (part.isEmpty()) return;
      Layer layer;
      try {
        layer = LayerFor(slot, image, devTarget, dpr);
      } catch (const gfx::Error&) {
        return;  // out of memory for the picture: this piece stays empty until the next paint
      }
      const QRectF at(layer.devRect.left() / dpr, layer.devRect.top() / dpr,
                      layer.devRect.width() / dpr, layer.devRect.height() / dpr);
      if (!touchesCorner) {
        p.save();
        p.setClipRect(part, Qt::IntersectClip);
        p.drawImage(at, layer.pixels);
        p.restore();
        return;
      }
      QPainterPath piece;
      piece.addRect(QRectF(part));
      QBrush brush(layer.pixels);
      brush.setTransform(QTransform::fromScale(1 / dpr, 1 / dpr) *
                         QTransform::fromTranslate(at.left(), at.top()));
      p.fillPath(piece.intersected(rounded), brush);
    };

    if (rightPreview && !source.isEmpty()) {
      drawPiece(kSource, source, target);
    } else if (split && !source.isEmpty()) {
      // Pixels whose centre lies left of the divider show the source.
      const int boundary = int(std::ceil(double(dividerX) - 0.5));
      drawPiece(kSource, source,
                QRect(QPoint(target.left(), target.top()), QPoint(boundary - 1, target.bottom())));
      drawPiece(kResult, result,
                QRect(QPoint(boundary, target.top()), QPoint(target.right(), target.bottom())));
    } else {
      drawPiece(kResult, result, target);
    }
  }

  DrawDivider(p);
  if (cropping) DrawCropOverlay(p, rounded);
  if (overlayPainter) overlayPainter(p);
  // Started once this paint is done, so that the background drawing does not take the
  // processor from the bilinear stand-in.
  for (const CubicRequest& r : requests) RequestCubic(r.slot, r.image, r.dst, r.devTarget, r.dpr);
  requests.clear();
}

void ViewState::DrawDivider(QPainter& p) {
  qreal top, bottom;
  if (!DividerBar(&top, &bottom)) return;
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawRect(QRectF(dividerX - 2, top, 4, bottom - top));
  p.setBrush(QColor(255, 255, 255));
  p.drawRect(QRectF(dividerX - 1, top, 2, bottom - top));
  // A round grip in the middle says the bar can be dragged.
  const QPointF grip(dividerX, (top + bottom) / 2);
  p.setBrush(QColor(0, 0, 0, 50));
  p.drawEllipse(grip + QPointF(0, 1), kGripRadius + 1, kGripRadius + 1);
  p.setBrush(QColor(255, 255, 255));
  p.drawEllipse(grip, kGripRadius, kGripRadius);
  p.setBrush(QColor::fromRgba(theme::kMenuFill));
  for (int side : {-1, 1}) {
    const QPointF tip = grip + QPointF(side * 8.0, 0);
    const QPointF base = grip + QPointF(side * 3.0, 0);
    const QPointF arrow[] = {tip, base + QPointF(0, -4.5), base + QPointF(0, 4.5)};
    p.drawPolygon(arrow, 3);
  }
  p.restore();
}

void ViewState::DrawCropOverlay(QPainter& p, const QPainterPath& rounded) {
  p.save();
  QPainterPath inside;
  inside.addRect(selection);
  p.fillPath(rounded.subtracted(inside), QColor(0, 0, 0, 150));
  // Thirds, to help placing the subject, and the selection's edge.
  p.setPen(QPen(QColor(255, 255, 255, 70), 1));
  for (int i = 1; i <= 2; ++i) {
    const qreal x = selection.left() + selection.width() * i / 3;
    const qreal y = selection.top() + selection.height() * i / 3;
    p.drawLine(QPointF(x, selection.top()), QPointF(x, selection.bottom()));
    p.drawLine(QPointF(selection.left(), y), QPointF(selection.right(), y));
  }
  p.setPen(QPen(QColor(255, 255, 255, 230), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(selection.adjusted(0.5, 0.5, -0.5, -0.5));
  p.restore();
}

// --- crop -----------------------------------------------------------------------------

void ViewState::PlaceCropControls() {
  if (!cropping) return;
  const QPointF centre = selection.center();
  handles[int(Edge::Left)]->CentreOn(QPointF(selection.left(), centre.y()));
  handles[int(Edge::Right)]->CentreOn(QPointF(selection.right(), centre.y()));
  handles[int(Edge::Top)]->CentreOn(QPointF(centre.x(), selection.top()));
  handles[int(Edge::Bottom)]->CentreOn(QPointF(centre.x(), selection.bottom()));
  const QSize tb = toolbar->size();
  double top = selection.top() - kToolbarGap - tb.height();
  if (top < kToolbarMinTop) top = 2 * std::min(selection.top(), double(kToolbarGap));
  toolbar->move(int(std::lround(centre.x() - tb.width() / 2.0)), int(std::lround(top)));
}

void ViewState::BeginEdgeDrag(Edge edge, const QPointF& pos) {
  dragEdge = edge;
  const bool vertical = edge == Edge::Left || edge == Edge::Right;
  const double value = edge == Edge::Left    ? selection.left()
                       : edge == Edge::Right ? selection.right()
                       : edge == Edge::Top   ? selection.top()
                                             : selection.bottom();
  dragEdgeOffset = value - (vertical ? pos.x() : pos.y());
}

// Each handle moves its own edge, inside the paint box, and never closer than the
// smallest selection to the opposite edge.
void ViewState::DragEdge(const QPointF& pos) {
  const QSize size = box->size();
  QRectF s = selection;
  switch (dragEdge) {
    case Edge::Left:
      s.setLeft(std::min(std::max(pos.x() + dragEdgeOffset, 0.0), s.right() - kMinCropSize));
      break;
    case Edge::Right:
      s.setRight(std::max(std::min(pos.x() + dragEdgeOffset, double(size.width())),
                          s.left() + kMinCropSize));
      break;
    case Edge::Top:
      s.setTop(std::min(std::max(pos.y() + dragEdgeOffset, 0.0), s.bottom() - kMinCropSize));
      break;
    case Edge::Bottom:
      s.setBottom(std::max(std::min(pos.y() + dragEdgeOffset, double(size.height())),
                           s.top() + kMinCropSize));
      break;
  }
  selection = s;
  PlaceCropControls();
  box->update();
}

void ViewState::LeaveCrop() {
  cropping = false;
  selection = QRectF();
  for (CropHandle* h : handles) h->hide();
  toolbar->hide();
  box->update();
}

// --- the view -------------------------------------------------------------------------

WorkspaceView::WorkspaceView(QWidget* parent) : QWidget(parent), d_(new Private(this)) {
  d_->scroll = new QScrollArea(this);
  d_->scroll->setObjectName(QStringLiteral("workspaceScroll"));
  d_->scroll->setFrameShape(QFrame::NoFrame);
  d_->scroll->setFocusPolicy(Qt::NoFocus);  // the window's keys must reach the window
  d_->scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  d_->scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  d_->scroll->setWidgetResizable(false);
  d_->scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The workspace is the main window's own dark panel; nothing of ours covers it.
  d_->scroll->setAutoFillBackground(false);
  d_->scroll->viewport()->setAutoFillBackground(false);
  d_->scroll->setStyleSheet(
      QStringLiteral("QScrollArea#workspaceScroll { background: transparent; }"));

  d_->box = new PaintBox(d_, nullptr);
  d_->scroll->setWidget(d_->box);
  d_->box->setAutoFillBackground(false);  // setWidget turns it on

  d_->hbar = MakeOverlayBar(Qt::Horizontal, this);
  d_->vbar = MakeOverlayBar(Qt::Vertical, this);
  MirrorScrollBar(d_->scroll->horizontalScrollBar(), d_->hbar);
  MirrorScrollBar(d_->scroll->verticalScrollBar(), d_->vbar);
  // Scrolling shows another part of the paint box; the divider bar spans what is visible.
  for (QScrollBar* bar : {d_->scroll->horizontalScrollBar(), d_->scroll->verticalScrollBar()})
    connect(bar, &QScrollBar::valueChanged, d_->box, qOverload<>(&QWidget::update));

  d_->handles[int(Edge::Left)] = new CropHandle(d_, Edge::Left, d_->box);
  d_->handles[int(Edge::Top)] = new CropHandle(d_, Edge::Top, d_->box);
  d_->handles[int(Edge::Right)] = new CropHandle(d_, Edge::Right, d_->box);
  d_->handles[int(Edge::Bottom)] = new CropHandle(d_, Edge::Bottom, d_->box);
  d_->toolbar = MakeCropToolbar(this, d_->box);

  d_->zoomTimer.setSingleShot(true);
  d_->zoomTimer.setInterval(kZoomDebounceMs);
  // Precise, so that the cubic redraw never comes early within a run of steps.
  d_->zoomTimer.setTimerType(Qt::PreciseTimer);
  connect(&d_->zoomTimer, &QTimer::timeout, this, [this] {
    d_->zooming = false;
    d_->box->update();
  });
}

WorkspaceView::~WorkspaceView() {
  // A background rendering holds pointers into d_ and posts to the paint box.
  d_->generations[0] = -1;  // what has not started yet is not worth starting
  d_->generations[1] = -1;
  d_->renderPool.waitForDone();
  // The children (and their pointers into d_) go with the widget; d_ must outlive them.
  delete d_->scroll;
  d_->scroll = nullptr;
  delete d_;
}

void WorkspaceView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  d_->scroll->setGeometry(rect());
  constexpr int kBar = 8;
  constexpr int kInset = 3;
  d_->hbar->setGeometry(kInset, height() - kBar - kInset, width() - 2 * kInset - kBar, kBar);
  d_->vbar->setGeometry(width() - kBar - kInset, kInset, kBar, height() - 2 * kInset - kBar);
  d_->hbar->raise();
  d_->vbar->raise();
  d_->box->resize(d_->PaintBoxSizeFor(d_->zoom));
}

void WorkspaceView::SetImages(const gfx::Image& result, const gfx::Image& source) {
  d_->result = result;
  d_->source = source;
  for (auto& c : d_->caches) {
    const uint64_t keep[] = {result.isEmpty() ? 0 : result.uniqueId(),
                             source.isEmpty() ? 0 : source.uniqueId()};
    if (c.id != keep[0] && c.id != keep[1]) c = ViewState::CubicCache{};
  }
  if (d_->cropping && !d_->HasImages()) CancelCrop();
  if (result.isEmpty()) d_->EndMouseGestures();
  d_->box->resize(d_->PaintBoxSizeFor(d_->zoom));
  d_->ClampDivider();
  d_->box->update();
}

float WorkspaceView::ZoomFactor() const { return d_->zoom; }
QPointF WorkspaceView::PanOffset() const { return QPointF(d_->panX, d_->panY); }

void WorkspaceView::SetZoomAndPan(float zoom, const QPointF& pan) {
  d_->ApplyView(ClampZoom(zoom), float(pan.x()), float(pan.y()), ViewState::Change::ZoomSet);
}

void WorkspaceView::ZoomIn() {
  if (!d_->HasImages()) return;
  const float cx = float(d_->box->width()) / 2.0f;
  const float cy = float(d_->box->height()) / 2.0f;
  const float old = d_->zoom;
  const float z = ClampZoom(old * kButtonZoomStep);
  d_->ApplyView(z, cx - (cx - d_->panX) / old * z, cy - (cy - d_->panY) / old * z,
                ViewState::Change::ZoomStep);
}

void WorkspaceView::ZoomOut() {
  if (!d_->HasImages()) return;
  const float cx = float(d_->box->width()) / 2.0f;
  const float cy = float(d_->box->height()) / 2.0f;
  const float old = d_->zoom;
  const float z = ClampZoom(old / kButtonZoomStep);
  d_->ApplyView(z, cx - (cx - d_->panX) / old * z, cy - (cy - d_->panY) / old * z,
                ViewState::Change::ZoomStep);
}

void WorkspaceView::WheelZoom(const QPointF& mouse, double delta) {
  if (!d_->HasImages()) return;
  const float old = d_->zoom;
  // Finer steps where a small change of scale is a large change of the picture.
  const float step = old < 0.5f ? 1.03f : old < 1.5f ? 1.08f : 1.12f;
  float z = delta < 1 ? old / step : old * step;
  if (z > 0.995f && z < 1.005f) z = 1.0f;  // land on 100% when passing it
  z = ClampZoom(z);
  const float mx = float(mouse.x());
  const float my = float(mouse.y());
  d_->ApplyView(z, mx - (mx - d_->panX) / old * z, my - (my - d_->panY) / old * z,
                ViewState::Change::ZoomStep);
}

void WorkspaceView::BestFitAndCenter() {
  if (!d_->HasImages()) return;
  d_->BestFit();
}

void WorkspaceView::FullSizeAndCenter() {
  if (!d_->HasImages()) return;
  const QSize vp = d_->Viewport();
  d_->ApplyView(1.0f, (float(vp.width()) - float(d_->result.width())) / 2.0f,
                (float(vp.height()) - float(d_->result.height())) / 2.0f,
                ViewState::Change::ZoomStep);
  d_->scroll->horizontalScrollBar()->setValue(0);
  d_->scroll->verticalScrollBar()->setValue(0);
}

void WorkspaceView::ActualSizeCentered() {
  if (!d_->HasImages()) return;
  const QSize size = d_->PaintBoxSizeFor(1.0f);
  d_->ApplyView(1.0f, (float(size.width()) - float(d_->result.width())) / 2.0f,
                (float(size.height()) - float(d_->result.height())) / 2.0f,
                ViewState::Change::ZoomStep);
}

void WorkspaceView::CenterImageInPaintBox() {
  if (d_->result.isEmpty()) return;
  d_->Centre();
}

bool WorkspaceView::SplitView() const { return d_->split; }

void WorkspaceView::SetSplitView(bool on) {
  if (d_->split == on) return;
  d_->split = on;
  if (on && !d_->result.isEmpty()) {
    // Mid-image, or mid-way across the part on screen when the image is larger.
    const QRectF shown = d_->Displayed();
    const QRectF seen = shown & QRectF(d_->VisibleRect());
    d_->dividerX = float((seen.isEmpty() ? shown : seen).center().x());
  }
  d_->box->update();
  emit splitViewChanged(on);
}

float WorkspaceView::DividerX() const { return d_->dividerX; }

bool WorkspaceView::IsCropping() const { return d_->cropping; }

void WorkspaceView::BeginCrop() {
  if (!d_->HasImages()) return;
  SetSplitView(false);
  d_->EndMouseGestures();
  d_->cropping = false;  // a fresh selection, even when already cropping
  const QSize vp = d_->Viewport();
  if (float(d_->result.width()) * d_->zoom > float(vp.width()) ||
      float(d_->result.height()) * d_->zoom > float(vp.height()))
    d_->BestFit();
  else
    d_->Centre();
  d_->cropping = true;
  d_->selection = d_->Displayed().adjusted(1, 1, -1, -1);
  for (CropHandle* h : d_->handles) {
    h->show();
    h->raise();  // above the toolbar, which may sit on the top edge
  }
  d_->toolbar->show();
  d_->PlaceCropControls();
  d_->box->update();
  emit cropModeChanged(true);
}

void WorkspaceView::AcceptCrop() {
  if (!d_->cropping) return;
  if (d_->cropGuard && !d_->cropGuard()) return;
  const float zoom = d_->zoom;
  const QRectF& s = d_->selection;
  const int left = int(std::trunc((float(s.x()) - d_->panX) / zoom));
  const int top = int(std::trunc((float(s.y()) - d_->panY) / zoom));
  const int width = int(std::trunc(float(s.width()) / zoom));
  const int height = int(std::trunc(float(s.height()) / zoom));
  const QRect crop =
      QRect(left, top, width, height) & QRect(0, 0, d_->source.width(), d_->source.height());
  d_->LeaveCrop();
  // A selection moved entirely off the image would leave an empty document; that is no
  // crop at all, so the images stay as they are.
  if (!crop.isEmpty()) {
    emit cropAccepted(crop);  // the window replaces both images here
    if (!d_->result.isEmpty()) d_->Centre();
  }
  emit cropModeChanged(false);
}

void WorkspaceView::SetCropGuard(std::function<bool()> mayAccept) {
  d_->cropGuard = std::move(mayAccept);
}

void WorkspaceView::CancelCrop() {
  if (!d_->cropping) return;
  d_->LeaveCrop();
  emit cropModeChanged(false);
}

QSize WorkspaceView::ViewportSize() const { return d_->Viewport(); }
bool WorkspaceView::IsZooming() const { return d_->zooming; }
bool WorkspaceView::IsRendering() const { return d_->pending[0].id != 0 || d_->pending[1].id != 0; }
QSize WorkspaceView::PaintBoxSize() const { return d_->box->size(); }
QRectF WorkspaceView::CropSelection() const { return d_->cropping ? d_->selection : QRectF(); }

void WorkspaceView::SetOverlayPainter(std::function<void(QPainter&)> paint) {
  d_->overlayPainter = std::move(paint);
  d_->box->update();
}

void WorkspaceView::SetMouseInterceptor(std::function<bool(QMouseEvent*)> handler) {
  d_->mouseInterceptor = std::move(handler);
}

void WorkspaceView::Redraw() { d_->box->update(); }

}  // namespace quillora::ui
