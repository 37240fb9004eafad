// The main window's top bar: the logo and the program caption, the command icons, the
// zoom group and the three window buttons. It only shows; the main window connects
// every button, and the bar itself is the handle that drags the window.
#pragma once

#include "app/widgets.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

namespace quillora::ui {

// The round program mark at the left end; a click shows the splash again.
class LogoMark : public QAbstractButton {
  Q_OBJECT
 public:
  explicit LogoMark(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {30, 30}; }

 protected:
  void paintEvent(QPaintEvent*) override;
};

// The zoom percentage between the zoom buttons. A left click asks for full size
// (clicked), a right click for the best fit (rightClicked).
class ZoomLabelButton : public QPushButton {
  Q_OBJECT
 public:
  explicit ZoomLabelButton(QWidget* parent = nullptr);
  void SetZoom(float zoom);  // shows Round(zoom * 100) followed by "%"

 signals:
  void rightClicked();

 protected:
  void mousePressEvent(QMouseEvent*) override;
};

class TopBar : public QWidget {
  Q_OBJECT
 public:
  explicit TopBar(QWidget* parent = nullptr);

  LogoMark* logo;
  QLabel* caption;
  IconButton* menuButton;
  IconButton* openButton;
  IconButton* saveButton;
  IconButton* copyButton;
  IconButton* pasteButton;
  IconButton* undoButton;
  IconButton* redoButton;
  IconButton* zoomOutButton;
  ZoomLabelButton* zoomLabel;
  IconButton* zoomInButton;
  IconButton* splitButton;
  IconButton* minimizeButton;
  IconButton* maximizeButton;
  IconButton* closeButton;

  // The maximise button shows what a click does: restore when maximised.
  void SetMaximizedShown(bool maximized);
  // The split-view button's lasting highlight and its tooltip ("Split view on" / "off").
  void SetSplitViewShown(bool on);

 protected:
  void paintEvent(QPaintEvent*) override;
};

}  // namespace quillora::ui
