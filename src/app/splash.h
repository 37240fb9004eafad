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
  ~TForm2() override;
  // Shows the splash centred on `over` (or the screen) and starts the 5500 ms timer,
  // which emits timeout() once.
  void ShowCentredOn(QWidget* over);

  // Set by the main window once it exists: from then on the splash is an about box and
  // hides itself when it loses the focus. Before that the focus comes and goes as the
  // program starts, and the splash stays until its timer or a click.
  void SetMainWindowReady(bool ready);
  bool MainWindowReady() const;

 signals:
  void timeout();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void changeEvent(QEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

 private:
  struct Private;
  Private* d_;
};

}  // namespace quillora::ui
