// The borderless main window's own chrome: a rounded main rectangle (radius 15, filled
// 0xF0314158, or 0x80B0C0D6 while the window is dragged or resized), a title bar that
// starts a window drag after a 200 ms press and toggles maximise on a double click,
// four invisible edge strips that resize one edge each, a custom maximise to the
// monitor's work area with remembered bounds, and the 500 ms monitor check.
#pragma once

#include <QRect>
#include <QWidget>

class QTimer;

namespace quillora::ui {

// The window's geometry rules, free of any screen so that they can be checked alone.
//
// The bounds to restore from the custom maximise: `remembered` when both its width and
// height exceed 100, otherwise the work area inset by 50 on the left and top and reduced
// by 100 in width and height. Remembered bounds that lie wholly outside the work area
// (left behind on another monitor, perhaps one since unplugged) keep their size but are
// moved into it, so the window never restores out of sight.
QRect RestoreBoundsFor(const QRect& workArea, const QRect& remembered);
// The monitor check's bounds for a normal window: one larger than the work area in
// either direction becomes 98 % of it, centred; any other keeps `bounds`.
QRect FitToWorkArea(const QRect& bounds, const QRect& workArea);
// Whether a normal window is smaller than 99 % of its work area in both directions, and
// so has bounds worth remembering.
bool ShouldRememberBounds(const QRect& bounds, const QRect& workArea);
// The bounds after dragging one edge of `start` by `delta`: only that edge moves, and no
// further than `minimum` allows (the opposite edge stays put).
QRect ResizedByEdge(const QRect& start, Qt::Edge edge, const QPoint& delta, const QSize& minimum);
// The window's minimum size on a monitor: 1080 x 768, or the work area where that is
// smaller, so that the window buttons at the right end stay on a small screen.
QSize MinimumSizeFor(const QRect& workArea);

class FramelessWindow : public QWidget {
  Q_OBJECT
 public:
  explicit FramelessWindow(QWidget* parent = nullptr);
  ~FramelessWindow() override;

  // The widget whose presses move the window (the top bar). Its child buttons keep their
  // own clicks.
  void SetTitleBar(QWidget* bar);

  // FIsCustomMaximized: the window fills the work area of its monitor.
  bool IsCustomMaximized() const;
  void ToggleCustomMaximize();
  void CustomMaximize();
  void RestoreFromMaximize();  // remembered bounds, or the work area inset by 50

  // True while a drag or an edge resize is in progress.
  bool IsMovingOrResizing() const;

  // The bounds a restore from the custom maximise would go back to (may be empty).
  QRect RememberedBounds() const;

 signals:
  void customMaximizedChanged(bool maximized);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void showEvent(QShowEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Private;
  Private* d_;
};

}  // namespace quillora::ui
