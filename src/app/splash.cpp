#include "app/splash.h"

#include "app/theme.h"
#include "engine/catalogue.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>
#include <QtMath>

#include <cmath>

namespace quillora::ui {

namespace {
constexpr int kSplashWidth = 460;
constexpr int kSplashHeight = 280;
constexpr int kShowMs = 5500;
constexpr qreal kLogoWidth = 220;
// About 30 frames a second is plenty for shapes that take many seconds to drift.
constexpr int kFrameMs = 33;
constexpr double kTau = 6.283185307179586;
}  // namespace

struct TForm2::Private {
  QTimer closeTimer;
  QTimer frameTimer;
  QElapsedTimer clock;
  bool mainWindowReady = false;
  QImage logo;  // decoded once, at the device pixel ratio it was first drawn with
  qreal logoRatio = 0;

  const QImage& Logo(qreal dpr) {
    if (!logo.isNull() && logoRatio == dpr) return logo;
    QSvgRenderer renderer(QStringLiteral(":/icons/quillora-logo.svg"));
    const QSizeF view = renderer.viewBoxF().size();
    const qreal h = view.isEmpty() ? 0 : kLogoWidth * view.height() / view.width();
    logo =
        QImage(QSize(qCeil(kLogoWidth * dpr), qCeil(h * dpr)), QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    if (renderer.isValid()) {
      QPainter p(&logo);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::TextAntialiasing);
      renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(logo.size())));
    }
    logo.setDevicePixelRatio(dpr);
    logoRatio = dpr;
    return logo;
  }
};

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), d_(new Private) {
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(kSplashWidth, kSplashHeight);
  setWindowTitle(QStringLiteral("Quillora"));
  setCursor(Qt::PointingHandCursor);

  d_->closeTimer.setSingleShot(true);
  d_->closeTimer.setInterval(kShowMs);
  // The timer also runs on after a click has hidden the splash: at start-up its
  // timeout is what brings the main window up.
  connect(&d_->closeTimer, &QTimer::timeout, this, [this] {
    emit timeout();
    hide();
  });
  d_->frameTimer.setInterval(kFrameMs);
  connect(&d_->frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
  d_->clock.start();
}

TForm2::~TForm2() { delete d_; }

void TForm2::SetMainWindowReady(bool ready) { d_->mainWindowReady = ready; }

bool TForm2::MainWindowReady() const { return d_->mainWindowReady; }

void TForm2::ShowCentredOn(QWidget* over) {
  QRect area;
  if (over && over->isVisible()) {
    area = over->frameGeometry();
  } else if (QScreen* screen = over ? over->screen() : QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (!area.isEmpty()) move(area.center() - rect().center());
  show();
  raise();
  activateWindow();
  d_->closeTimer.start();
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  d_->frameTimer.start();
}

void TForm2::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  d_->frameTimer.stop();
}

void TForm2::mousePressEvent(QMouseEvent* event) {
  event->accept();
  hide();
}

void TForm2::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && d_->mainWindowReady && !isActiveWindow() &&
      isVisible()) {
    hide();
  }
}

void TForm2::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath shape;
  shape.addRoundedRect(box, 18, 18);
  p.setClipPath(shape);

  const double t = d_->clock.elapsed() / 1000.0;
  const qreal w = width(), h = height();

  // The ground: deep blue-grey, lighter towards the top left.
  QLinearGradient ground(0, 0, w, h);
  ground.setColorAt(0, QColor(0xFF27354B));
  ground.setColorAt(1, QColor(0xFF0F1623));
  p.fillRect(rect(), ground);

  // Soft washes of colour drifting on slow loops, like pigment spreading in water.
  struct Wash {
    QRgb colour;
    int alpha;
    double cx, cy, ax, ay, period, phase, radius;
  };
  static const Wash kWashes[] = {
      {0xFF3B82F6, 120, 0.22, 0.30, 0.14, 0.16, 17.0, 0.0, 0.55},
      {0xFF8B5CF6, 95, 0.80, 0.72, 0.12, 0.14, 23.0, 1.7, 0.50},
      {0xFF14B8A6, 60, 0.62, 0.18, 0.18, 0.10, 29.0, 3.9, 0.42},
  };
  p.setPen(Qt::NoPen);
  for (const Wash& wash : kWashes) {
    const double a = kTau * t / wash.period + wash.phase;
    const QPointF centre((wash.cx + wash.ax * std::sin(a)) * w,
                         (wash.cy + wash.ay * std::cos(a * 0.8)) * h);
    const qreal r = wash.radius * w;
    QRadialGradient g(centre, r);
    QColor c = QColor::fromRgba(wash.colour);
    c.setAlpha(wash.alpha);
    g.setColorAt(0, c);
    c.setAlpha(0);
    g.setColorAt(1, c);
    p.setBrush(g);
    p.drawEllipse(centre, r, r);
  }

  // Two broad, faint brush strokes sweeping across, breathing slowly. Each is a bundle
  // of bristle lines of uneven weight that fade in and out along the stroke.
  static const qreal kBristles[][2] = {{-11, 0.5}, {-8, 0.9},  {-5.5, 0.6}, {-3, 1.0},  {-0.5, 0.7},
                                       {2, 1.0},   {4.5, 0.5}, {7, 0.8},    {9.5, 0.4}, {12, 0.6}};
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 2; ++i) {
    const double a = kTau * t / (19.0 + 7 * i) + i * 2.1;
    const qreal y0 = h * (0.78 - 0.5 * i) + 10 * std::sin(a);
    const qreal lift = 40 * std::cos(a), dip = 36 * std::sin(a * 1.3);
    const qreal tail = -12 + 14 * std::cos(a);
    for (const auto& [offset, weight] : kBristles) {
      const qreal spread = offset * (1.0 - 0.25 * i);
      QPainterPath bristle;
      bristle.moveTo(-20, y0 + spread * 0.6);
      bristle.cubicTo(w * 0.3, y0 - lift + spread, w * 0.6, y0 + dip + spread * 1.1, w + 20,
                      y0 + tail + spread * 0.8);
      QLinearGradient fade(0, 0, w, 0);
      const int alpha = int(26 * weight);
      fade.setColorAt(0.0, QColor(255, 255, 255, 0));
      fade.setColorAt(0.25 + 0.05 * i, QColor(255, 255, 255, alpha));
      fade.setColorAt(0.7, QColor(255, 255, 255, alpha * 2 / 3));
      fade.setColorAt(1.0, QColor(255, 255, 255, 0));
      p.setPen(QPen(QBrush(fade), 1.2 + 1.6 * weight, Qt::SolidLine, Qt::RoundCap));
      p.drawPath(bristle);
    }
  }

  // The logo, 220 units wide, centred.
  const QImage& logo = d_->Logo(devicePixelRatioF());
  const QSizeF logoSize = logo.deviceIndependentSize();
  p.drawImage(QPointF((w - logoSize.width()) / 2, (h - logoSize.height()) / 2 - 8), logo);

  QFont f = font();
  f.setPixelSize(12);
  p.setFont(f);
  p.setPen(QColor::fromRgba(theme::kTextDim));
  p.drawText(QRectF(0, 0, w - 18, h - 14), Qt::AlignRight | Qt::AlignBottom,
             Translate(QStringLiteral("v4.20")));

  p.setClipping(false);
  p.setPen(QPen(QColor(255, 255, 255, 30), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(box, 18, 18);
}

}  // namespace quillora::ui
