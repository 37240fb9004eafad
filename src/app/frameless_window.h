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

 signals:
  void customMaximizedChanged(bool maximized);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Private;
  Private* d_;
};

}  // namespace quillora::ui
