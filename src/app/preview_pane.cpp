#include "app/preview_pane.h"

#include "app/theme.h"
#include "app/widgets.h"
#include "engine/catalogue.h"
#include "gfx/filters.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <cmath>

namespace quillora::ui {

namespace {

constexpr int kPaneSize = 225;
constexpr qreal kClipRadius = 16;
constexpr qreal kFrameWidth = 2;
// The inner shadow's blur of 7 is a blur radius in the usual sense of design tools;
// as a Gaussian that is sigma = 0.57735 * radius + 0.5.
constexpr qreal kShadowOffset = 4;
constexpr qreal kShadowSigma = 0.57735 * 7 + 0.5;
constexpr uint32_t kShadowColour = 0xA0000000;
constexpr qreal kRingWidth = 3;
constexpr qreal kOverlayOpacity = 0.8;

// The "100%" part of the zoom overlay; a click resets the zoom.
class ZoomResetLabel : public QAbstractButton {
 public:
  explicit ZoomResetLabel(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    QFont f = font();
    f.setPixelSize(12);
    f.setWeight(QFont::DemiBold);
    setFont(f);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (underMouse()) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor::fromRgba(theme::kHoverFill));
      p.drawRoundedRect(QRectF(rect()).adjusted(1, 2, -1, -2), 6, 6);
    }
    p.setPen(QColor::fromRgba(theme::kText));
    p.drawText(rect(), Qt::AlignCenter, text());
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::HoverEnter || e->type() == QEvent::HoverLeave) update();
    return QAbstractButton::event(e);
  }
};

// The pill that holds the zoom controls at the bottom of the pane.
class ZoomOverlay : public QWidget {
 public:
  explicit ZoomOverlay(QWidget* parent) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(255, 255, 255, 36), 1));
    p.setBrush(QColor(17, 24, 39, 225));
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
  }
};

}  // namespace

struct PreviewPane::Private {
  gfx::Image bitmap;
  int percent = 0;
  QString zoomText = QStringLiteral("100%");

  bool panning = false;
  QPointF lastPos;

  ZoomOverlay* overlay = nullptr;
  IconButton* zoomOut = nullptr;
  IconButton* zoomIn = nullptr;
  ZoomResetLabel* zoomReset = nullptr;

  QImage innerShadow;  // depends only on the pane's size and pixel ratio
  QIcon placeholder = Icon(QStringLiteral("image"), QColor(255, 255, 255, 40));

  const QImage& InnerShadow(const QSize& size, qreal dpr) {
    const QSize pixels(qRound(size.width() * dpr), qRound(size.height() * dpr));
    if (!innerShadow.isNull() && innerShadow.size() == pixels &&
        innerShadow.devicePixelRatio() == dpr) {
      return innerShadow;
    }
    // The shadow of everything outside the rounded rectangle, cast inwards: an opaque
    // surround with the pane cut out, padded so the blur sees solid edges.
    const int pad = int(std::ceil((kShadowOffset + 3 * kShadowSigma) * dpr)) + 2;
    QImage surround = gfx::AllocateImage(pixels.width() + 2 * pad, pixels.height() + 2 * pad);
    surround.fill(Qt::black);
    {
      QPainter p(&surround);
      p.setRenderHint(QPainter::Antialiasing);
      p.setCompositionMode(QPainter::CompositionMode_Clear);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      p.drawRoundedRect(QRectF(pad, pad, pixels.width(), pixels.height()), kClipRadius * dpr,
                        kClipRadius * dpr);
    }
    const gfx::Image shadow = gfx::DropShadowOnly(
        gfx::Image::FromQImage(surround), float(kShadowOffset * dpr), float(kShadowOffset * dpr),
        float(kShadowSigma * dpr), float(kShadowSigma * dpr), kShadowColour);
    innerShadow = shadow.subset(QRect(QPoint(pad, pad), pixels)).qimage().copy();
    innerShadow.setDevicePixelRatio(dpr);
    return innerShadow;
  }
};

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent), d_(new Private) {
  setFixedSize(kPaneSize, kPaneSize);
  setCursor(Qt::OpenHandCursor);

  d_->overlay = new ZoomOverlay(this);
  d_->overlay->setObjectName(QStringLiteral("zoomOverlay"));
  d_->zoomOut = new IconButton(QStringLiteral("zoom-out"), Translate(QStringLiteral("Zoom out")),
                               d_->overlay);
  d_->zoomOut->setObjectName(QStringLiteral("zoomOut"));
  d_->zoomIn =
      new IconButton(QStringLiteral("zoom-in"), Translate(QStringLiteral("Zoom in")), d_->overlay);
  d_->zoomIn->setObjectName(QStringLiteral("zoomIn"));
  for (IconButton* b : {d_->zoomOut, d_->zoomIn}) {
    b->setFixedSize(26, 26);
    b->setIconSize(QSize(15, 15));
  }
  d_->zoomReset = new ZoomResetLabel(d_->overlay);
  d_->zoomReset->setObjectName(QStringLiteral("zoomReset"));
  d_->zoomReset->setText(d_->zoomText);
  d_->zoomReset->setFixedSize(50, 26);
  d_->zoomOut->move(3, 3);
  d_->zoomReset->move(29, 3);
  d_->zoomIn->move(79, 3);
  d_->overlay->setFixedSize(108, 32);
  auto* opacity = new QGraphicsOpacityEffect(d_->overlay);
  opacity->setOpacity(kOverlayOpacity);
  d_->overlay->setGraphicsEffect(opacity);
  d_->overlay->hide();
  resizeEvent(nullptr);

  connect(d_->zoomIn, &QAbstractButton::clicked, this, &PreviewPane::zoomInClicked);
  connect(d_->zoomOut, &QAbstractButton::clicked, this, &PreviewPane::zoomOutClicked);
  connect(d_->zoomReset, &QAbstractButton::clicked, this, &PreviewPane::zoomResetClicked);
}

PreviewPane::~PreviewPane() { delete d_; }

QSize PreviewPane::sizeHint() const { return QSize(kPaneSize, kPaneSize); }

void PreviewPane::SetBitmap(const gfx::Image& bitmap) {
  d_->bitmap = bitmap;
  update();
}

gfx::Image PreviewPane::Bitmap() const { return d_->bitmap; }

void PreviewPane::SetPercent(int percent) {
  if (d_->percent == percent) return;
  d_->percent = percent;
  update();
}

int PreviewPane::Percent() const { return d_->percent; }

void PreviewPane::SetZoomLabel(float zoom) {
  // Round to nearest with ties to even, on the single-precision product.
  const float scaled = zoom * 100.0f;
  d_->zoomText = QString::number(std::isfinite(scaled) ? std::lrint(scaled) : 0) + QLatin1Char('%');
  d_->zoomReset->setText(d_->zoomText);
}

QString PreviewPane::ZoomLabel() const { return d_->zoomText; }

void PreviewPane::resizeEvent(QResizeEvent*) {
  d_->overlay->move((width() - d_->overlay->width()) / 2, height() - d_->overlay->height() - 8);
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF pane = QRectF(rect());
  QPainterPath clip;
  clip.addRoundedRect(pane, kClipRadius, kClipRadius);

  p.save();
  p.setClipPath(clip);
  p.fillRect(pane, QColor::fromRgba(theme::kPaneFrame));
  if (!d_->bitmap.isEmpty()) {
    const QImage& image = d_->bitmap.qimage();
    if (image.size() == size()) {
      p.drawImage(QPointF(0, 0), image);
    } else {
      p.drawImage(pane, image);
    }
  } else {
    // A faint picture mark says what the empty pane is for.
    d_->placeholder.paint(&p, QRect(width() / 2 - 20, height() / 2 - 20, 40, 40));
  }
  p.drawImage(QPointF(0, 0), d_->InnerShadow(size(), devicePixelRatioF()));
  p.restore();

  p.setPen(QPen(QColor::fromRgba(theme::kPaneFrame), kFrameWidth));
  p.setBrush(Qt::NoBrush);
  const qreal inset = kFrameWidth / 2;
  p.drawRoundedRect(pane.adjusted(inset, inset, -inset, -inset), kClipRadius - inset,
                    kClipRadius - inset);

  const int percent = d_->percent;
  if (percent <= 0 || percent > 100) return;
  QFont f = font();
  f.setPixelSize(13);
  f.setWeight(QFont::DemiBold);
  p.setFont(f);
  const QFontMetricsF fm(f);
  const QString text = QString::number(percent) + QLatin1Char('%');
  const QPointF centre = pane.center();
  const qreal labelHeight = fm.height();
  const qreal radius = labelHeight / 2 + 10;
  const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
  if (percent < 100) {
    // A dark disc and a faint track keep the label and the arc readable on any picture.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(17, 24, 39, 150));
    p.drawEllipse(circle.adjusted(-kRingWidth, -kRingWidth, kRingWidth, kRingWidth));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 40), kRingWidth));
    p.drawEllipse(circle);
    QPen ring(QColor::fromRgba(theme::kRing), kRingWidth, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ring);
    // Qt counts angles anticlockwise from three o'clock in sixteenths of a degree:
    // start at the top and sweep clockwise.
    p.drawArc(circle, 90 * 16, -qRound(percent * 360 * 16 / 100.0));
  }
  const QRectF label(centre.x() - fm.horizontalAdvance(text) / 2 - 4, centre.y() - labelHeight / 2,
                     fm.horizontalAdvance(text) + 8, labelHeight);
  p.setPen(QColor(0, 0, 0, 110));
  p.drawText(label.translated(0, 1), Qt::AlignCenter, text);
  p.setPen(Qt::white);
  p.drawText(label, Qt::AlignCenter, text);
}

void PreviewPane::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  // A purely sideways scroll carries no zoom direction.
  if (delta == 0) {
    event->ignore();
    return;
  }
  event->accept();
  emit wheelZoom(delta);
}

void PreviewPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  event->accept();
  d_->panning = true;
  d_->lastPos = event->position();
  setCursor(Qt::ClosedHandCursor);
  emit panStarted();
}

void PreviewPane::mouseMoveEvent(QMouseEvent* event) {
  if (!d_->panning || !(event->buttons() & Qt::LeftButton)) return;
  const QPointF pos = event->position();
  const QPointF delta = pos - d_->lastPos;
  d_->lastPos = pos;
  if (!delta.isNull()) emit panMoved(delta.x(), delta.y());
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !d_->panning) return;
  d_->panning = false;
  setCursor(Qt::OpenHandCursor);
  emit panFinished();
}

void PreviewPane::enterEvent(QEnterEvent*) {
  d_->overlay->show();
  d_->overlay->raise();
}

void PreviewPane::leaveEvent(QEvent*) { d_->overlay->hide(); }

}  // namespace quillora::ui
