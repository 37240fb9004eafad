// The modal full-screen viewer of the result, opened by a double click on the workspace.
#include "app/workspace_view.h"

#include "gfx/filters.h"
#include "gfx/surface.h"

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace quillora::ui {

namespace {

constexpr int kMargin = 50;
constexpr float kShadowDy = 15;
constexpr float kShadowSigma = 20;
constexpr uint32_t kShadowColour = 0x60000000;
// Room around the picture for the blurred shadow: three sigmas and the offset.
constexpr int kShadowRoom = int(3 * kShadowSigma + kShadowDy) + 5;

class FullScreenViewer : public QDialog {
 public:
  FullScreenViewer(QWidget* parent, const gfx::Image& image, gfx::Sampling sampling)
      : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), image_(image), sampling_(sampling) {
    setObjectName(QStringLiteral("fullScreenViewer"));
    setModal(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
      setScreen(screen);
      setGeometry(screen->geometry());
    }
    setWindowState(Qt::WindowFullScreen);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const qreal dpr = devicePixelRatioF();
    if (frame_.isNull() || frameFor_ != size() || frameDpr_ != dpr) Render(dpr);
    if (!frame_.isNull()) p.drawImage(QRectF(frameAt_ / dpr, QSizeF(frame_.size()) / dpr), frame_);
  }

  // A click closes the viewer on the press: the release of the double click that opened
  // it must not close it again.
  void mousePressEvent(QMouseEvent*) override { accept(); }
  void keyReleaseEvent(QKeyEvent*) override { accept(); }

 private:
  // The picture scaled to fit inside the margin, centred, over its shadow, drawn once per
  // window size: the blur is too slow for every repaint.
  void Render(qreal dpr) {
    frame_ = QImage();
    frameFor_ = size();
    frameDpr_ = dpr;
    const QRectF avail = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (avail.width() <= 0 || avail.height() <= 0 || image_.isEmpty()) return;
    const double scale = std::min(avail.width() / image_.width(), avail.height() / image_.height());
    const QSizeF size(image_.width() * scale * dpr, image_.height() * scale * dpr);
    const QPointF at((avail.left() + (avail.width() - size.width() / dpr) / 2) * dpr,
                     (avail.top() + (avail.height() - size.height() / dpr) / 2) * dpr);
    const int room = int(std::ceil(kShadowRoom * dpr));
    const QPoint origin(int(std::floor(at.x())) - room, int(std::floor(at.y())) - room);
    gfx::Surface layer(int(std::ceil(size.width())) + 2 * room + 1,
                       int(std::ceil(size.height())) + 2 * room + 1);
    layer.drawImageRect(image_, QRectF(0, 0, image_.width(), image_.height()),
                        QRectF(at - QPointF(origin), size), sampling_);
    const gfx::Image shadowed =
        gfx::DropShadow(layer.snapshot(), 0, float(kShadowDy * dpr), float(kShadowSigma * dpr),
                        float(kShadowSigma * dpr), kShadowColour);
    frame_ = shadowed.qimage();
    frameAt_ = QPointF(origin);
  }

  gfx::Image image_;
  gfx::Sampling sampling_;
  QImage frame_;
  QPointF frameAt_;
  QSize frameFor_;
  qreal frameDpr_ = 0;
};

}  // namespace

void ShowFullScreenViewer(QWidget* parent, const gfx::Image& image, bool smooth) {
  if (image.isEmpty()) return;
  FullScreenViewer viewer(parent ? parent->window() : nullptr, image,
                          smooth ? gfx::Sampling::Cubic : gfx::Sampling::Linear);
  viewer.exec();
}

}  // namespace quillora::ui
