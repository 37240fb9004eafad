// The left panel: the tools (crop, the two quarter turns, the built-in picture), the four
// expandable effect groups of the catalogue, and the "Show original image" box kept
// 10 units above the panel's bottom.
//
// The panel shows the catalogue and reports clicks; which effect is selected, and what
// that does to the parameters, is the main window's business.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QListWidget>
#include <QWidget>
#include <vector>

namespace quillora::ui {

// The title of a group: a chevron and the category's name; a click toggles the group.
class CategoryHeader : public QAbstractButton {
  Q_OBJECT
 public:
  explicit CategoryHeader(const QString& title, QWidget* parent = nullptr);
  void SetExpanded(bool expanded);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool expanded_ = false;
};

// One category: its header (25 high) and, when expanded, its list of effects, 30 a row,
// so an expanded group is item count x 30 + 25 high.
class CategoryGroup : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeaderHeight = 25;
  static constexpr int kItemHeight = 30;

  CategoryGroup(int category, const QString& title, const std::vector<int>& effects,
                QWidget* parent = nullptr);
  int Category() const { return category_; }
  const std::vector<int>& Effects() const { return effects_; }
  bool IsExpanded() const { return expanded_; }
  void SetExpanded(bool expanded);
  QListWidget* List() const { return list_; }
  CategoryHeader* Header() const { return header_; }

 signals:
  void headerClicked();
  void itemClicked(int index);

 private:
  int category_;
  std::vector<int> effects_;
  int shownCount_ = 0;
  bool expanded_ = false;
  CategoryHeader* header_;
  QListWidget* list_;
};

// A row of the tools list: an icon and a text, left-aligned, washed under the pointer.
class ToolRowButton : public QAbstractButton {
  Q_OBJECT
 public:
  ToolRowButton(const QString& iconName, const QString& text, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString iconName_;
};

class EffectPanel : public QWidget {
  Q_OBJECT
 public:
  explicit EffectPanel(QWidget* parent = nullptr);

  ToolRowButton* cropButton;
  ToolRowButton* rotateLeftButton;
  ToolRowButton* rotateRightButton;
  ToolRowButton* defaultImageButton;
  QCheckBox* showOriginal;

  const std::vector<CategoryGroup*>& Groups() const { return groups_; }
  CategoryGroup* GroupOf(int effectId) const;

  // Expands the group of `category` and collapses the other three; a group already
  // expanded collapses instead (a second click on its title).
  void ToggleGroup(int category);
  // Expands the group of `category` (collapsing the others) whatever its state.
  void ExpandGroup(int category);
  // Item texts: "‣ " and the translated name, except the item `index` of `category`,
  // which gets "▶ ".
  void SetMarkers(int category, int index);

 signals:
  // An effect's item was clicked: category * 100 + index.
  void effectClicked(int effectId);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::vector<CategoryGroup*> groups_;
};

}  // namespace quillora::ui
