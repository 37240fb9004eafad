// The central workspace: the result image in a scrollable, zoomable, pannable view,
// compared with the source in a split view or while the right button is held, shown
// full-screen on a double click, and cropped with a selection of four edge handles.
//
// The view shows the document's images but never owns or changes them: a crop is
// reported with cropAccepted and the main window replaces the images. All of it runs on
// the interface thread.
#pragma once

#include "gfx/image.h"

#include <QPointF>
#include <QRect>
#include <QWidget>
#include <functional>

class QMouseEvent;
class QPainter;

namespace quillora::ui {

class WorkspaceView : public QWidget {
  Q_OBJECT
 public:
  explicit WorkspaceView(QWidget* parent = nullptr);
  ~WorkspaceView() override;

  // The images to show (either may be empty); the view keeps its zoom and pan.
  void SetImages(const gfx::Image& result, const gfx::Image& source);

  // FZoomFactor (0.1 .. 10, screen units per image pixel) and FPanOffset (the image's
  // top-left corner in paint-box coordinates).
  float ZoomFactor() const;
  QPointF PanOffset() const;
  void SetZoomAndPan(float zoom, const QPointF& pan);

  // Zoom commands; they act only when both images exist.
  void ZoomIn();   // x 1.1 about the centre of the paint box
  void ZoomOut();  // / 1.1 about the centre of the paint box
  // One wheel step at `mouse` (paint-box coordinates): factor 1.03 below zoom 0.5, 1.08
  // below 1.5, else 1.12; delta < 1 divides; (0.995, 1.005) snaps to 1; the image point
  // under the mouse stays put.
  void WheelZoom(const QPointF& mouse, double delta);
  void BestFitAndCenter();    // CalculateBestFitAndCenter
  void FullSizeAndCenter();   // zoom 1, centred in the viewport
  void ActualSizeCentered();  // Ctrl+0: zoom 1, centred in the paint box
  void CenterImageInPaintBox();

  // Split view ("Show original image"): the source left of the divider, the result right.
  bool SplitView() const;
  void SetSplitView(bool on);  // switching on places the divider mid-image
  float DividerX() const;

  // Crop mode.
  bool IsCropping() const;
  void BeginCrop();   // fits or centres the image and shows the selection
  void AcceptCrop();  // emits cropAccepted with the selection in image pixels
  // Asked before a crop is accepted; returning false keeps crop mode and the selection
  // (the window refuses while a render runs, and the user must not lose the selection).
  void SetCropGuard(std::function<bool()> mayAccept);
  void CancelCrop();

  // The size of the visible viewport, in paint-box units.
  QSize ViewportSize() const;

  // FZooming: zoom steps follow each other and the view draws bilinear; it clears 150 ms
  // after the last step and the view is redrawn with cubic sampling.
  bool IsZooming() const;
  // A settled view of a new zoom or size is drawn in the background; the bilinear picture
  // stands in until it arrives.
  bool IsRendering() const;
  // The paint box: max(floor(image size * zoom), viewport), the scroll area's content.
  QSize PaintBoxSize() const;
  // The crop selection in paint-box units (empty when not cropping).
  QRectF CropSelection() const;

  // A tool that draws on the view (the text tool's live preview) paints here, over the
  // image, in paint-box coordinates; an empty function removes it. Redraw() repaints.
  void SetOverlayPainter(std::function<void(QPainter&)> paint);
  // A tool that takes the mouse on the view first: returning true keeps a press, move,
  // release or double click from panning, previewing or opening the viewer.
  void SetMouseInterceptor(std::function<bool(QMouseEvent*)> handler);
  void Redraw();

 signals:
  void zoomChanged(float zoom);  // the top-bar label shows Round(zoom * 100) "%"
  void splitViewChanged(bool on);
  void cropModeChanged(bool active);  // the history strip hides while cropping
  void cropAccepted(const QRect& imageRect);
  void
  viewDoubleClicked();  // the window opens the full-screen viewer (unless the text tool is open)
  // Zoom or pan changed (the manual brush panel follows the view).
  void viewChanged();

 protected:
  void resizeEvent(QResizeEvent*) override;

 private:
  struct Private;
  Private* d_;
};

// The modal full-screen viewer: white, borderless, on the display of `parent`; the image
// scaled to fit inside a 50-unit margin, with a drop shadow (offset 0, 15; sigma 20;
// 0x60000000); a click or any key release closes it.
void ShowFullScreenViewer(QWidget* parent, const gfx::Image& image, bool smooth);

}  // namespace quillora::ui
