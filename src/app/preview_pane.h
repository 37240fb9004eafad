// The 225 x 225 preview pane of the right panel: shows either the zoomed source crop
// (drawn at once while the user pans or zooms) or the effect's preview picture, clipped
// to a rounded rectangle (radius 16) with a dark frame (0xFF111827) and an inner black
// shadow (offset 4, 4, blur 7), and, while 0 < percent < 100, the percentage label with
// the progress ring around it (width 3, round caps, 0xFF3B82F6, from the top, clockwise).
//
// The pane owns no document state: the main window gives it pictures and reacts to its
// signals (pan and zoom change PreviewStartX/Y and FPreviewZoomFactor, which the main
// window keeps).
#pragma once

#include "gfx/image.h"

#include <QWidget>

namespace quillora::ui {

class PreviewPane : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;
  QSize sizeHint() const override;

  // The picture shown (already pane-sized or any size; drawn at (0, 0) unscaled when
  // it is pane-sized, stretched otherwise).
  void SetBitmap(const gfx::Image& bitmap);
  gfx::Image Bitmap() const;
  // The percentage label: shown as "N%" when 0 < percent <= 100, hidden otherwise; the
  // ring is drawn while 0 < percent < 100.
  void SetPercent(int percent);
  int Percent() const;
  // The zoom overlay's text: Round(zoom * 100) followed by "%".
  void SetZoomLabel(float zoom);
  QString ZoomLabel() const;

 signals:
  // Mouse wheel: positive delta zooms in.
  void wheelZoom(int delta);
  void zoomInClicked();
  void zoomOutClicked();
  void zoomResetClicked();  // a click on the zoom overlay
  // Left button pressed (the window sets Cancel and stops the preview timer).
  void panStarted();
  // Dragged by (dx, dy) pane units since the last report.
  void panMoved(double dx, double dy);
  void panFinished();

 protected:
  void paintEvent(QPaintEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  struct Private;
  Private* d_;
};

}  // namespace quillora::ui
