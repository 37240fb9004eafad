// The central area of the main window: the workspace view, the drop zone shown over it
// while no image is loaded, and the render progress bar along its bottom. It accepts
// dropped files (the decision what to load is the main window's).
#pragma once

#include "app/widgets.h"
#include "app/workspace_view.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace quillora::ui {

// Whether a dropped file's extension is one the workspace takes: .jpg, .jpeg, .png,
// .bmp, .gif and .tiff, in any letter case.
bool IsAcceptedDropFile(const QString& path);

// "No image loaded", "Drop image here or" and the "Browse files" link, over the empty
// view.
class DropZone : public QWidget {
  Q_OBJECT
 public:
  explicit DropZone(QWidget* parent = nullptr);
  QPushButton* browseLink;
  // While files are dragged over the workspace the zone lights up.
  void SetDragHighlight(bool on);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool highlight_ = false;
};

class WorkspaceArea : public QWidget {
  Q_OBJECT
 public:
  explicit WorkspaceArea(QWidget* parent = nullptr);

  WorkspaceView* view;
  DropZone* dropZone;
  AnimatedProgressBar* progressBar;

 signals:
  // Local files dropped on the area, in the dropped order.
  void filesDropped(const QStringList& paths);
  void resized();

 protected:
  void resizeEvent(QResizeEvent*) override;
  void paintEvent(QPaintEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dragMoveEvent(QDragMoveEvent*) override;
  void dragLeaveEvent(QDragLeaveEvent*) override;
  void dropEvent(QDropEvent*) override;

 private:
  void Place();
};

}  // namespace quillora::ui
