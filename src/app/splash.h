// The splash window TForm2, which doubles as the about box: the logo drawn 220 units
// wide and centred, the version "v4.20"; it hides itself after 5.5 s, on a click, or
// when it loses the focus once the main window exists.
#pragma once

#include <QWidget>

namespace quillora::ui {

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);
  // Shows the splash centred on `over` (or the screen) and starts the 5500 ms timer,
  // which emits timeout() once.
  void ShowCentredOn(QWidget* over);

 signals:
  void timeout();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  struct Private;
  Private* d_;
};

}  // namespace quillora::ui
