#include "app/effect_panel.h"

#include "app/theme.h"
#include "engine/catalogue.h"
#include "engine/effect_registry.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quillora::ui {

namespace {

QString T(const char* english) { return Translate(QString::fromUtf8(english)); }

// The catalogue's group titles begin with six blanks (room for an icon) and double the
// ampersand; the header draws its own chevron, so neither is wanted here.
QString ShownTitle(const char* title) {
  return Translate(QString::fromUtf8(title))
      .trimmed()
      .replace(QStringLiteral("&&"), QStringLiteral("&"));
}

QLabel* Heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("PanelHeading"));
  return label;
}

const QString kPanelSheet = QStringLiteral(
    "#PanelHeading { color: #93A3B8; font-size: 11px; font-weight: 700;"
    "  letter-spacing: 1px; padding-left: 4px; }"
    "QListWidget#EffectList { background: transparent; border: none; padding: 0; }"
    // No item colour here: a style-sheet colour would hide the selected item's own.
    "QListWidget#EffectList::item { padding-left: 14px; border-radius: 6px; }"
    "QListWidget#EffectList::item:hover { background-color: rgba(255, 255, 255, 20); }"
    "QCheckBox#ShowOriginal { color: #CBD5E1; padding-left: 6px; }");

}  // namespace

// ---- CategoryHeader --------------------------------------------------------------

CategoryHeader::CategoryHeader(const QString& title, QWidget* parent) : QAbstractButton(parent) {
  setText(title);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  setFixedHeight(CategoryGroup::kHeaderHeight);
}

QSize CategoryHeader::sizeHint() const { return {200, CategoryGroup::kHeaderHeight}; }

void CategoryHeader::SetExpanded(bool expanded) {
  expanded_ = expanded;
  update();
}

void CategoryHeader::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(0, 1, 0, -1);
  if (underMouse() || expanded_) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, expanded_ ? 16 : 24));
    p.drawRoundedRect(box, 6, 6);
  }
  // The chevron points right when collapsed and down when expanded.
  const QPointF c(box.left() + 14, box.center().y());
  QPainterPath chevron;
  if (expanded_) {
    chevron.moveTo(c + QPointF(-4, -2));
    chevron.lineTo(c + QPointF(0, 2));
    chevron.lineTo(c + QPointF(4, -2));
  } else {
    chevron.moveTo(c + QPointF(-2, -4));
    chevron.lineTo(c + QPointF(2, 0));
    chevron.lineTo(c + QPointF(-2, 4));
  }
  p.setPen(QPen(QColor(expanded_ ? 0xFF60A5FA : 0xFF9CA3AF), 1.6, Qt::SolidLine, Qt::RoundCap,
                Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(chevron);
  QFont f = font();
  f.setPixelSize(13);
  f.setWeight(QFont::DemiBold);
  p.setFont(f);
  p.setPen(QColor(expanded_ || underMouse() ? 0xFFFFFFFF : 0xFFE5E7EB));
  p.drawText(box.adjusted(28, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
}

// ---- CategoryGroup ---------------------------------------------------------------

CategoryGroup::CategoryGroup(int category, const QString& title, const std::vector<int>& effects,
                             QWidget* parent)
    : QWidget(parent), category_(category), effects_(effects) {
  header_ = new CategoryHeader(title, this);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("EffectList"));
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setUniformItemSizes(true);
  list_->setMouseTracking(true);
  list_->setCursor(Qt::PointingHandCursor);
  for (int id : effects_) {
    auto* item = new QListWidgetItem(QStringLiteral("\u2023 ") + GetEffectName(id), list_);
    item->setSizeHint(QSize(0, kItemHeight));
    // An effect this build cannot run stays out of sight rather than doing nothing when
    // chosen; hiding keeps the rows in catalogue order, which the markers rely on.
    if (!EffectProcFor(id))
      item->setHidden(true);
    else
      ++shownCount_;
  }
  list_->setFixedHeight(shownCount_ * kItemHeight);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(header_);
  column->addWidget(list_);
  SetExpanded(false);

  connect(header_, &QAbstractButton::clicked, this, &CategoryGroup::headerClicked);
  connect(list_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { emit itemClicked(list_->row(item)); });
}

void CategoryGroup::SetExpanded(bool expanded) {
  expanded_ = expanded;
  header_->SetExpanded(expanded);
  list_->setVisible(expanded);
  setFixedHeight(expanded ? shownCount_ * kItemHeight + kHeaderHeight : kHeaderHeight);
}

// ---- ToolRowButton ---------------------------------------------------------------

ToolRowButton::ToolRowButton(const QString& iconName, const QString& text, QWidget* parent)
    : QAbstractButton(parent), iconName_(iconName) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  setFixedHeight(32);
}

QSize ToolRowButton::sizeHint() const { return {200, 32}; }

void ToolRowButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool hot = isEnabled() && (underMouse() || isDown() || isChecked());
  if (hot) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, isDown() || isChecked() ? 34 : 22));
    p.drawRoundedRect(QRectF(rect()).adjusted(0, 1, 0, -1), 6, 6);
  }
  const QColor ink(hot ? 0xFFFFFFFF : 0xFFCBD5E1);
  Icon(iconName_, ink)
      .paint(&p, QRect(8, (height() - 18) / 2, 18, 18), Qt::AlignCenter,
             isEnabled() ? QIcon::Normal : QIcon::Disabled);
  QFont f = font();
  f.setPixelSize(13);
  p.setFont(f);
  p.setPen(ink);
  p.drawText(rect().adjusted(36, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
}

// ---- EffectPanel -----------------------------------------------------------------

EffectPanel::EffectPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LeftPanel"));
  setStyleSheet(kPanelSheet);

  auto* column = new QVBoxLayout(this);
  // The bottom margin keeps "Show original image" 10 units above the panel's bottom.
  column->setContentsMargins(12, 14, 12, 10);
  column->setSpacing(2);

  column->addWidget(Heading(T("TOOLS"), this));
  column->addSpacing(4);
  cropButton = new ToolRowButton(QStringLiteral("crop"), T("Crop"), this);
  rotateLeftButton = new ToolRowButton(QStringLiteral("rotate-ccw"), T("Rotate left"), this);
  rotateRightButton = new ToolRowButton(QStringLiteral("rotate-cw"), T("Rotate right"), this);
  defaultImageButton = new ToolRowButton(QStringLiteral("image"), T("Default Image"), this);
  cropButton->setCheckable(true);
  for (QWidget* w :
       {static_cast<QWidget*>(cropButton), static_cast<QWidget*>(rotateLeftButton),
        static_cast<QWidget*>(rotateRightButton), static_cast<QWidget*>(defaultImageButton)})
    column->addWidget(w);

  column->addSpacing(18);
  column->addWidget(Heading(T("ARTISTIC FILTERS"), this));
  column->addSpacing(4);
  for (const EffectCategory& category : EffectCategories()) {
    auto* group =
        new CategoryGroup(category.number, ShownTitle(category.title), category.effects, this);
    groups_.push_back(group);
    column->addWidget(group);
    column->addSpacing(3);
    const int number = category.number;
    connect(group, &CategoryGroup::headerClicked, this, [this, number] { ToggleGroup(number); });
    connect(group, &CategoryGroup::itemClicked, this,
            [this, number](int index) { emit effectClicked(number * 100 + index); });
  }
  column->addStretch(1);

  showOriginal = new QCheckBox(T("Show original image"), this);
  showOriginal->setObjectName(QStringLiteral("ShowOriginal"));
  showOriginal->setFocusPolicy(Qt::NoFocus);
  showOriginal->setCursor(Qt::PointingHandCursor);
  column->addWidget(showOriginal);
}

CategoryGroup* EffectPanel::GroupOf(int effectId) const {
  for (CategoryGroup* g : groups_)
    if (g->Category() == effectId / 100) return g;
  return nullptr;
}

void EffectPanel::ToggleGroup(int category) {
  for (CategoryGroup* g : groups_)
    g->SetExpanded(g->Category() == category ? !g->IsExpanded() : false);
}

void EffectPanel::ExpandGroup(int category) {
  for (CategoryGroup* g : groups_) g->SetExpanded(g->Category() == category);
}

void EffectPanel::SetMarkers(int category, int index) {
  for (CategoryGroup* g : groups_) {
    QListWidget* list = g->List();
    for (int i = 0; i < list->count(); ++i) {
      const bool selected = g->Category() == category && i == index;
      QListWidgetItem* item = list->item(i);
      const int id = g->Effects()[size_t(i)];
      item->setText((selected ? QStringLiteral("\u25B6 ") : QStringLiteral("\u2023 ")) +
                    GetEffectName(id));
      QFont f = list->font();
      f.setPixelSize(13);
      f.setWeight(selected ? QFont::DemiBold : QFont::Normal);
      item->setFont(f);
      item->setForeground(selected ? QColor(0xFF93C5FD) : QColor(0xFFCBD5E1));
    }
  }
}

void EffectPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(255, 255, 255, 14));
  p.setBrush(QColor(0x59111827));
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

}  // namespace quillora::ui
