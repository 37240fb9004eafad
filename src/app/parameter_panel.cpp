#include "app/parameter_panel.h"

#include "engine/catalogue.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quillora::ui {

namespace {

QString T(const char* english) { return Translate(QString::fromUtf8(english)); }

constexpr int kFadeMs = 400;

const QString kPanelSheet = QStringLiteral(
    "#PanelHeading { color: #93A3B8; font-size: 11px; font-weight: 700; letter-spacing: 1px; }"
    "#ParamName { color: #CBD5E1; font-size: 12px; }"
    "#ParamValue { color: #93C5FD; font-size: 12px; font-weight: 600; }"
    "#SwitchLabel { color: #E5E7EB; font-size: 13px; }"
    "#SwitchLabel:disabled { color: #6B7280; }"
    "QPushButton#ApplyButton { background-color: #3B82F6; border: none; border-radius: 9px;"
    "  color: white; font-size: 14px; font-weight: 600; padding: 0; }"
    "QPushButton#ApplyButton:hover { background-color: #60A5FA; }"
    "QPushButton#ApplyButton:pressed { background-color: #2563EB; padding-top: 2px; }"
    "#BrushesBox QPushButton { font-size: 11px; padding: 0 5px; min-width: 0; }"
    "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");

QLabel* Heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("PanelHeading"));
  return label;
}

}  // namespace

ParamsTitle::ParamsTitle(QWidget* parent) : QLabel(parent) {
  setMouseTracking(true);
  setObjectName(QStringLiteral("PanelHeading"));
}

void ParamsTitle::mouseMoveEvent(QMouseEvent* event) {
  emit hovered();
  QLabel::mouseMoveEvent(event);
}

void ParamsTitle::enterEvent(QEnterEvent* event) {
  emit hovered();
  QLabel::enterEvent(event);
}

void ParamsTitle::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
  QLabel::mouseDoubleClickEvent(event);
}

ParameterPanel::ParameterPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("RightPanel"));
  setStyleSheet(kPanelSheet);

  // The content scrolls only on a screen too low for all of it; normally it fits.
  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* content = new QWidget(scroll);
  scroll->setWidget(content);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(scroll);

  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(20, 12, 20, 12);
  column->setSpacing(0);

  column->addWidget(Heading(T("PREVIEW"), content));
  column->addSpacing(8);
  previewPane = new PreviewPane(content);
  previewPane->setObjectName(QStringLiteral("PreviewPane"));
  previewPane->setFixedSize(kPaneSize, kPaneSize);
  column->addWidget(previewPane, 0, Qt::AlignHCenter);
  column->addSpacing(16);

  auto* titleRow = new QHBoxLayout;
  titleRow->setSpacing(2);
  paramsTitle = new ParamsTitle(content);
  paramsTitle->setText(T("PARAMETERS"));
  paramsTitle->setToolTip(T("Double-click to reset all parameters"));
  loadParamsButton = new IconButton(QStringLiteral("file-up"), T("Load parameter file"), content);
  saveParamsButton = new IconButton(QStringLiteral("file-down"), T("Save parameter file"), content);
  loadParamsButton->setObjectName(QStringLiteral("LoadParamsButton"));
  saveParamsButton->setObjectName(QStringLiteral("SaveParamsButton"));
  titleRow->addWidget(paramsTitle);
  titleRow->addStretch(1);
  IconButton* icons[2] = {loadParamsButton, saveParamsButton};
  for (int i = 0; i < 2; ++i) {
    icons[i]->setFixedSize(26, 26);
    icons[i]->setIconSize(QSize(16, 16));
    icons[i]->installEventFilter(this);
    iconOpacity_[size_t(i)] = new QGraphicsOpacityEffect(icons[i]);
    icons[i]->setGraphicsEffect(iconOpacity_[size_t(i)]);
    iconFade_[size_t(i)] = new QPropertyAnimation(iconOpacity_[size_t(i)], "opacity", this);
    iconFade_[size_t(i)]->setDuration(kFadeMs);
    connect(iconFade_[size_t(i)], &QPropertyAnimation::finished, icons[i], [this, i, icons] {
      if (iconOpacity_[size_t(i)]->opacity() <= 0.0) icons[i]->hide();
    });
    titleRow->addWidget(icons[i]);
  }
  // The row keeps the icons' height while they are hidden, so nothing jumps.
  auto* titleHolder = new QWidget(content);
  titleHolder->setFixedHeight(26);
  titleHolder->setLayout(titleRow);
  titleRow->setContentsMargins(0, 0, 0, 0);
  column->addWidget(titleHolder);
  column->addSpacing(6);
  HideParamIcons();
  connect(paramsTitle, &ParamsTitle::hovered, this, &ParameterPanel::paramsHovered);

  for (size_t i = 0; i < 5; ++i) {
    auto* labels = new QHBoxLayout;
    labels->setContentsMargins(0, 0, 0, 0);
    nameLabels[i] = new QLabel(content);
    nameLabels[i]->setObjectName(QStringLiteral("ParamName"));
    valueLabels[i] = new QLabel(QStringLiteral("0"), content);
    valueLabels[i]->setObjectName(QStringLiteral("ParamValue"));
    valueLabels[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    valueLabels[i]->setMinimumWidth(30);
    labels->addWidget(nameLabels[i], 1);
    labels->addWidget(valueLabels[i]);
    column->addLayout(labels);
    sliders[i] = new QSlider(Qt::Horizontal, content);
    sliders[i]->setObjectName(QStringLiteral("Slider%1").arg(i + 1));
    sliders[i]->setRange(0, 100);
    sliders[i]->setFocusPolicy(Qt::NoFocus);
    sliders[i]->setCursor(Qt::PointingHandCursor);
    column->addWidget(sliders[i]);
    column->addSpacing(i < 4 ? 6 : 16);
  }

  applyButton = new QPushButton(T("Apply effect"), content);
  applyButton->setObjectName(QStringLiteral("ApplyButton"));
  applyButton->setFixedHeight(38);
  applyButton->setCursor(Qt::PointingHandCursor);
  applyButton->setFocusPolicy(Qt::NoFocus);
  column->addWidget(applyButton);
  column->addSpacing(14);

  auto addSwitchRow = [&](QLabel*& label, ToggleSwitch*& sw, const QString& text,
                          const QString& name) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    label = new QLabel(text, content);
    label->setObjectName(QStringLiteral("SwitchLabel"));
    sw = new ToggleSwitch(content);
    sw->setObjectName(name);
    sw->setFixedSize(sw->sizeHint());
    sw->setCursor(Qt::PointingHandCursor);
    sw->setFocusPolicy(Qt::NoFocus);
    row->addWidget(label, 1);
    row->addWidget(sw);
    column->addLayout(row);
  };
  addSwitchRow(eraseLabel, eraseSwitch, T("Erase background"), QStringLiteral("EraseSwitch"));
  column->addSpacing(8);
  addSwitchRow(textureLabel, textureSwitch, T("Add texture"), QStringLiteral("TextureSwitch"));
  column->addSpacing(14);

  // One row, so that the panel still fits a 768-unit screen with the box shown.
  brushesBox = new QFrame(content);
  brushesBox->setObjectName(QStringLiteral("BrushesBox"));
  auto* brushes = new QHBoxLayout(brushesBox);
  brushes->setContentsMargins(0, 0, 0, 0);
  brushes->setSpacing(6);
  loadBrushesButton = new QPushButton(T("Load custom brushes"), brushesBox);
  resetBrushesButton = new QPushButton(T("Reset brushes"), brushesBox);
  loadBrushesButton->setObjectName(QStringLiteral("LoadBrushesButton"));
  resetBrushesButton->setObjectName(QStringLiteral("ResetBrushesButton"));
  for (QPushButton* b : {loadBrushesButton, resetBrushesButton}) {
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedHeight(30);
    brushes->addWidget(b, b == loadBrushesButton ? 3 : 2);
  }
  column->addWidget(brushesBox);
  column->addStretch(1);
}

void ParameterPanel::ShowParamIcons() {
  for (size_t i = 0; i < 2; ++i) {
    iconFade_[i]->stop();
    iconOpacity_[i]->setOpacity(1.0);
  }
  loadParamsButton->show();
  saveParamsButton->show();
}

void ParameterPanel::FadeParamIcons() {
  for (size_t i = 0; i < 2; ++i) {
    if (iconOpacity_[i]->opacity() <= 0.0) continue;
    iconFade_[i]->stop();
    iconFade_[i]->setStartValue(iconOpacity_[i]->opacity());
    iconFade_[i]->setEndValue(0.0);
    iconFade_[i]->start();
  }
}

void ParameterPanel::HideParamIcons() {
  for (size_t i = 0; i < 2; ++i) {
    iconFade_[i]->stop();
    iconOpacity_[i]->setOpacity(0.0);
  }
  loadParamsButton->hide();
  saveParamsButton->hide();
}

bool ParameterPanel::ParamIconsShown() const {
  return loadParamsButton->isVisible() && iconOpacity_[0]->opacity() > 0.0;
}

bool ParameterPanel::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == loadParamsButton || watched == saveParamsButton) &&
      (event->type() == QEvent::Enter || event->type() == QEvent::HoverMove))
    emit paramsHovered();
  return QWidget::eventFilter(watched, event);
}

void ParameterPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(255, 255, 255, 14));
  p.setBrush(QColor(0x59111827));
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

}  // namespace quillora::ui
