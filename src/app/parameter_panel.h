// The right panel: the preview pane, the parameter panel (its title with the two
// parameter-file icons, five sliders with their names and values), the "Apply effect"
// button, the "Erase background" and "Add texture" switches and the custom-brushes box.
//
// Like the other panels it only shows; the main window keeps the parameter table, the
// selected effect and the switches' meaning, and connects every control.
#pragma once

#include "app/preview_pane.h"
#include "app/widgets.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <array>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace quillora::ui {

// "PARAMETERS": reports the pointer moving over it and double clicks.
class ParamsTitle : public QLabel {
  Q_OBJECT
 public:
  explicit ParamsTitle(QWidget* parent = nullptr);

 signals:
  void hovered();
  void doubleClicked();

 protected:
  void mouseMoveEvent(QMouseEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
};

class ParameterPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPaneSize = 225;

  explicit ParameterPanel(QWidget* parent = nullptr);

  PreviewPane* previewPane;
  ParamsTitle* paramsTitle;
  IconButton* loadParamsButton;
  IconButton* saveParamsButton;
  std::array<QLabel*, 5> nameLabels{};
  std::array<QLabel*, 5> valueLabels{};
  std::array<QSlider*, 5> sliders{};
  QPushButton* applyButton;
  QLabel* eraseLabel;
  ToggleSwitch* eraseSwitch;
  QLabel* textureLabel;
  ToggleSwitch* textureSwitch;
  QFrame* brushesBox;
  QPushButton* loadBrushesButton;
  QPushButton* resetBrushesButton;

  // The two parameter-file icons: shown at full opacity, or faded out and then hidden.
  void ShowParamIcons();
  void FadeParamIcons();
  void HideParamIcons();
  bool ParamIconsShown() const;

 signals:
  // The pointer moved over the title or the icons (the icons stay while it does).
  void paramsHovered();

 protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QGraphicsOpacityEffect*, 2> iconOpacity_{};
  std::array<QPropertyAnimation*, 2> iconFade_{};
};

}  // namespace quillora::ui
