#include "app/theme.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QSvgRenderer>

#include <memory>

namespace quillora::ui {

QString RegisterInterfaceFontFrom(const QString& folder, QString* error) {
  // Debian ships Inter as OpenType only; a TrueType copy placed beside the program by a
  // packager still takes precedence.
  static const char* const kFiles[] = {"Inter-Regular.ttf", "Inter-Regular.otf"};
  QString failure;
  for (const char* file : kFiles) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(file));
    if (!QFile::exists(path)) continue;
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList families =
        id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
      failure = QStringLiteral("%1 is not a usable font file").arg(QDir::toNativeSeparators(path));
      continue;
    }
    return families.contains(QStringLiteral("Inter")) ? QStringLiteral("Inter") : families.first();
  }
  if (error && !failure.isEmpty()) *error = failure;
  return QString();
}

QString RegisterInterfaceFont(QString* error) {
  return RegisterInterfaceFontFrom(QCoreApplication::applicationDirPath(), error);
}

namespace {

// Draws one SVG of the icon set in a single colour. The set draws every stroke in
// "currentColor", so the colour goes into the document itself; its alpha (and the
// dimming of disabled icons) is applied as opacity, which keeps overlapping strokes from
// doubling up.
class TintedSvgIconEngine : public QIconEngine {
 public:
  TintedSvgIconEngine(QString name, std::shared_ptr<QSvgRenderer> renderer, QColor color)
      : name_(std::move(name)), renderer_(std::move(renderer)), color_(color) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pm = pixmap(rect.size() * dpr, mode, state);
    pm.setDevicePixelRatio(dpr);
    painter->drawPixmap(rect.topLeft(), pm);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    if (size.isEmpty()) return QPixmap();
    const QString cacheKey = QStringLiteral("quillora-icon:%1:%2:%3x%4:%5")
                                 .arg(name_)
                                 .arg(color_.rgba(), 8, 16, QLatin1Char('0'))
                                 .arg(size.width())
                                 .arg(size.height())
                                 .arg(int(mode));
    QPixmap cached;
    if (QPixmapCache::find(cacheKey, &cached)) return cached;

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      qreal opacity = color_.alphaF();
      if (mode == QIcon::Disabled) opacity *= 0.4;
      p.setOpacity(opacity);
      // Square icons in a non-square box keep their shape, centred.
      const QSizeF viewSize = renderer_->viewBoxF().size();
      QSizeF target = viewSize.scaled(QSizeF(size), Qt::KeepAspectRatio);
      const QRectF bounds((size.width() - target.width()) / 2,
                          (size.height() - target.height()) / 2, target.width(), target.height());
      renderer_->render(&p, bounds);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(cacheKey, result);
    return result;
  }

  QIconEngine* clone() const override { return new TintedSvgIconEngine(name_, renderer_, color_); }
  QString key() const override { return QStringLiteral("quillora-tinted-svg"); }
  QString iconName() override { return name_; }
  bool isNull() override { return !renderer_->isValid(); }

 private:
  QString name_;
  std::shared_ptr<QSvgRenderer> renderer_;
  QColor color_;
};

QString Hex(QRgb rgb) { return QColor::fromRgb(rgb).name(QColor::HexRgb); }

}  // namespace

QIcon Icon(const QString& name, const QColor& color) {
  QFile file(QStringLiteral(":/icons/%1.svg").arg(name));
  if (!file.open(QIODevice::ReadOnly)) return QIcon();
  QByteArray svg = file.readAll();
  svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
  auto renderer = std::make_shared<QSvgRenderer>(svg);
  if (!renderer->isValid()) return QIcon();
  return QIcon(new TintedSvgIconEngine(name, std::move(renderer), color));
}

void ApplyApplicationStyle(QApplication& app) {
  using namespace theme;
  // Fusion draws everything from the palette, so the controls the style sheet leaves
  // alone (check marks, arrows, spin buttons, native parts of dialogs) follow the
  // dark colours too.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);

  const QColor window(0xFF1F2937), base(kFieldFill), alternate(0xFF18212F), button(kButtonFill);
  const QColor text(kText), dim(kTextDim), disabled(kTextDisabled), accent(kAccent);
  QPalette pal;
  pal.setColor(QPalette::Window, window);
  pal.setColor(QPalette::WindowText, text);
  pal.setColor(QPalette::Base, base);
  pal.setColor(QPalette::AlternateBase, alternate);
  pal.setColor(QPalette::ToolTipBase, base);
  pal.setColor(QPalette::ToolTipText, text);
  pal.setColor(QPalette::PlaceholderText, disabled);
  pal.setColor(QPalette::Text, text);
  pal.setColor(QPalette::Button, button);
  pal.setColor(QPalette::ButtonText, text);
  pal.setColor(QPalette::BrightText, QColor(0xFFF87171));
  pal.setColor(QPalette::Light, QColor(0xFF4B5563));
  pal.setColor(QPalette::Midlight, QColor(0xFF415066));
  pal.setColor(QPalette::Mid, QColor(0xFF2B3646));
  pal.setColor(QPalette::Dark, QColor(0xFF151C28));
  pal.setColor(QPalette::Shadow, QColor(0xFF05080D));
  pal.setColor(QPalette::Highlight, accent);
  pal.setColor(QPalette::HighlightedText, Qt::white);
  pal.setColor(QPalette::Link, QColor(kAccentHover));
  pal.setColor(QPalette::LinkVisited, QColor(0xFFA78BFA));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    pal.setColor(QPalette::Disabled, role, disabled);
  }
  pal.setColor(QPalette::Disabled, QPalette::Button, QColor(0xFF2A3544));
  pal.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0xFF4B5563));
  pal.setColor(QPalette::Disabled, QPalette::HighlightedText, dim);
  app.setPalette(pal);

  // Only standard controls are named here: the program's own widgets paint themselves,
  // and a blanket QWidget rule would paint over the translucent main window.
  QString sheet = QStringLiteral(R"(
QToolTip { color: @text; background-color: @field; border: 1px solid @stroke; padding: 5px 8px; }
QMenu { background-color: @menu; border: 1px solid @stroke; padding: 5px; }
QMenu::item { color: @text; padding: 6px 28px 6px 14px; border-radius: 4px; }
QMenu::item:selected { background-color: @accent; color: white; }
QMenu::item:disabled { color: @disabled; }
QMenu::separator { height: 1px; background: @stroke; margin: 5px 8px; }
QDialog, QMessageBox, QFileDialog { background-color: @menu; }
QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }
QMessageBox QLabel { color: @text; }
QPushButton { background-color: @button; color: @text; border: 1px solid #4B5563;
  border-radius: 6px; padding: 6px 18px; min-width: 64px; }
QPushButton:hover { background-color: @buttonHover; border-color: #5B6B84; }
QPushButton:pressed { background-color: #2B3646; }
QPushButton:default { background-color: @accent; border-color: @accent; color: white; }
QPushButton:default:hover { background-color: @accentHover; border-color: @accentHover; }
QPushButton:default:pressed { background-color: @accentPressed; }
QPushButton:disabled { background-color: #2A3544; border-color: @stroke; color: @disabled; }
QPushButton:focus { border-color: @accent; }
QLineEdit, QSpinBox, QDoubleSpinBox, QComboBox, QPlainTextEdit, QTextEdit {
  background-color: @field; color: @text; border: 1px solid @stroke; border-radius: 6px;
  padding: 4px 6px; selection-background-color: @accent; selection-color: white; }
QLineEdit:focus, QSpinBox:focus, QDoubleSpinBox:focus, QComboBox:focus,
QPlainTextEdit:focus, QTextEdit:focus { border-color: @accent; }
QLineEdit:disabled, QSpinBox:disabled, QDoubleSpinBox:disabled, QComboBox:disabled {
  color: @disabled; background-color: #172030; }
QSpinBox, QDoubleSpinBox { padding-right: 24px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 24px;
  border: none; }
QComboBox::down-arrow { image: url(:/icons/style-chevron-down.svg); width: 12px; height: 12px; }
QComboBox::down-arrow:disabled, QSpinBox::up-arrow:disabled, QSpinBox::down-arrow:disabled,
QDoubleSpinBox::up-arrow:disabled, QDoubleSpinBox::down-arrow:disabled { image: none; }
QSpinBox::up-button, QDoubleSpinBox::up-button { subcontrol-origin: border;
  subcontrol-position: top right; width: 22px; border: none; border-left: 1px solid @stroke;
  border-top-right-radius: 6px; background: transparent; }
QSpinBox::down-button, QDoubleSpinBox::down-button { subcontrol-origin: border;
  subcontrol-position: bottom right; width: 22px; border: none; border-left: 1px solid @stroke;
  border-bottom-right-radius: 6px; background: transparent; }
QSpinBox::up-button:hover, QSpinBox::down-button:hover, QDoubleSpinBox::up-button:hover,
QDoubleSpinBox::down-button:hover { background-color: @menu; }
QSpinBox::up-arrow, QDoubleSpinBox::up-arrow { image: url(:/icons/style-chevron-up.svg);
  width: 10px; height: 10px; }
QSpinBox::down-arrow, QDoubleSpinBox::down-arrow { image: url(:/icons/style-chevron-down.svg);
  width: 10px; height: 10px; }
QComboBox QAbstractItemView { background-color: @menu; color: @text; border: 1px solid @stroke;
  selection-background-color: @accent; selection-color: white; outline: 0; }
QListView, QListWidget, QTreeView, QTableView {
  background-color: @field; alternate-background-color: #18212F; color: @text;
  border: 1px solid @stroke; border-radius: 6px; outline: 0; }
QListView::item, QTreeView::item { padding: 0 6px; border-radius: 4px; }
QListView::item:hover, QTreeView::item:hover { background-color: #263244; }
QListView::item:selected, QTreeView::item:selected { background-color: @accent; color: white; }
QHeaderView::section { background-color: @menu; color: @dim; border: none;
  border-right: 1px solid @stroke; border-bottom: 1px solid @stroke; padding: 4px 8px; }
QTableCornerButton::section { background-color: @menu; border: none; }
QScrollArea { background: transparent; border: none; }
QAbstractScrollArea::corner { background: transparent; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
QScrollBar::handle:vertical { background-color: #4B5563; min-height: 28px; border-radius: 3px; margin: 2px; }
QScrollBar::handle:horizontal { background-color: #4B5563; min-width: 28px; border-radius: 3px; margin: 2px; }
QScrollBar::handle:hover { background-color: #6B7280; }
QScrollBar::handle:pressed { background-color: @dim; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; background: none; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
QSlider { min-height: 18px; }
QSlider::groove:horizontal { height: 4px; background: @field; border-radius: 2px; }
QSlider::sub-page:horizontal { background: @accent; border-radius: 2px; }
QSlider::add-page:horizontal { background: @field; border-radius: 2px; }
QSlider::handle:horizontal { background: @text; width: 14px; height: 14px; margin: -5px 0;
  border-radius: 7px; }
QSlider::handle:horizontal:hover { background: white; }
QSlider::handle:horizontal:pressed { background: @accentHover; }
QSlider::sub-page:horizontal:disabled { background: #4B5563; }
QSlider::handle:horizontal:disabled { background: @disabled; }
QCheckBox, QRadioButton { color: @text; spacing: 8px; }
QCheckBox:disabled, QRadioButton:disabled { color: @disabled; }
QCheckBox::indicator, QRadioButton::indicator { width: 16px; height: 16px;
  border: 1px solid #4B5563; background-color: @field; }
QCheckBox::indicator { border-radius: 4px; }
QRadioButton::indicator { border-radius: 9px; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: @accent; }
QCheckBox::indicator:checked { background-color: @accent; border-color: @accent;
  image: url(:/icons/style-check.svg); }
QRadioButton::indicator:checked { background-color: white; border: 5px solid @accent;
  width: 8px; height: 8px; }
QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { background-color: #172030;
  border-color: @stroke; }
QCheckBox::indicator:checked:disabled { background-color: #4B5563; border-color: #4B5563; }
QGroupBox { color: @dim; border: 1px solid @stroke; border-radius: 6px; margin-top: 14px; padding-top: 6px; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; }
QTabWidget::pane { border: 1px solid @stroke; border-radius: 6px; top: -1px; }
QTabBar::tab { background: transparent; color: @dim; padding: 6px 14px; border: none;
  border-bottom: 2px solid transparent; }
QTabBar::tab:selected { color: @text; border-bottom-color: @accent; }
QTabBar::tab:hover { color: @text; }
QProgressBar { background-color: @field; border: 1px solid @stroke; border-radius: 5px;
  color: @text; text-align: center; }
QProgressBar::chunk { background-color: @accent; border-radius: 4px; }
QFileDialog QToolButton { background: transparent; border: 1px solid transparent; border-radius: 4px; padding: 3px; }
QFileDialog QToolButton:hover { background-color: @buttonHover; border-color: #5B6B84; }
QSplitter::handle { background-color: @stroke; }
)");
  const std::pair<const char*, QRgb> colours[] = {
      {"@text", kText},
      {"@dim", kTextDim},
      {"@disabled", kTextDisabled},
      {"@field", kFieldFill},
      {"@menu", kMenuFill},
      {"@stroke", kMenuStroke},
      {"@buttonHover", kButtonHover},
      {"@button", kButtonFill},
      {"@accentHover", kAccentHover},
      {"@accentPressed", kAccentPressed},
      {"@accent", kAccent},
  };
  // A name that begins another (@button, @accent) comes after it in the table, or
  // "@buttonHover" would become a colour followed by "Hover".
  for (const auto& [name, rgb] : colours) sheet.replace(QLatin1String(name), Hex(rgb));
  app.setStyleSheet(sheet);
}

}  // namespace quillora::ui
