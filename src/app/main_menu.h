// The main menu: a panel under the menu button with sections of entries, each entry
// showing its text and its key. It closes when the pointer leaves it, swallows wheel
// events and is clipped to the height the window allows.
#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QVBoxLayout>
#include <functional>

namespace quillora::ui {

// One entry: the text at the left, the key at the right, washed under the pointer.
class MenuEntry : public QAbstractButton {
  Q_OBJECT
 public:
  MenuEntry(const QString& text, const QString& shortcut, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  const QString& Shortcut() const { return shortcut_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString shortcut_;
};

class MainMenu : public QFrame {
  Q_OBJECT
 public:
  explicit MainMenu(QWidget* parent);

  void AddSection(const QString& title);
  // The entry runs `action` after the menu has closed.
  MenuEntry* AddEntry(const QString& text, const QString& shortcut, std::function<void()> action);

  // The height the menu wants with all its entries (remembered once built).
  int NaturalHeight() const;
  // Opens at `topLeft` (parent coordinates) with the natural height limited to
  // `maxHeight` and never below 200, in front of its siblings.
  void Open(const QPoint& topLeft, int maxHeight);
  // The button that opens the menu: a press on it is left to the button (which toggles
  // the menu), while a press anywhere else closes the menu.
  void SetAnchor(QWidget* anchor) { anchor_ = anchor; }

 protected:
  void leaveEvent(QEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QVBoxLayout* column_;
  QWidget* anchor_ = nullptr;
};

}  // namespace quillora::ui
