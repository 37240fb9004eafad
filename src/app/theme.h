// The look of the desktop program: its colours, its font and its icons.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QApplication;

namespace quillora::ui {

namespace theme {
// The main rectangle, normally and while the window is dragged or resized.
inline constexpr QRgb kMainFill = 0xF0314158;
inline constexpr QRgb kDragFill = 0x80B0C0D6;
inline constexpr int kMainRadius = 15;
// Switches: on = white thumb on kSwitchOnTrack, off = grey thumb on kSwitchOffTrack.
inline constexpr QRgb kSwitchOnTrack = 0xFF29374A;
inline constexpr QRgb kSwitchOffTrack = 0xAF29376A;
inline constexpr QRgb kThumbOn = 0xFFFFFFFF;
inline constexpr QRgb kThumbOff = 0xFF808080;
// The preview pane's frame and progress ring.
inline constexpr QRgb kPaneFrame = 0xFF111827;
inline constexpr QRgb kRing = 0xFF3B82F6;
// Menus and small panels.
inline constexpr QRgb kMenuFill = 0xFF1F2937;
inline constexpr QRgb kMenuStroke = 0xFF374151;
// The rest of the interface, in the same blue-grey family.
inline constexpr QRgb kAccent = 0xFF3B82F6;
inline constexpr QRgb kAccentHover = 0xFF60A5FA;
inline constexpr QRgb kAccentPressed = 0xFF2563EB;
inline constexpr QRgb kText = 0xFFE5E7EB;
inline constexpr QRgb kTextDim = 0xFF9CA3AF;
inline constexpr QRgb kTextDisabled = 0xFF6B7280;
inline constexpr QRgb kFieldFill = 0xFF111827;  // edit fields, lists, slider grooves
inline constexpr QRgb kButtonFill = 0xFF374151;
inline constexpr QRgb kButtonHover = 0xFF415066;
inline constexpr QRgb kHoverFill = 0x1FFFFFFF;  // the hover wash of flat buttons and items
}  // namespace theme

// Registers the interface font from the program's folder ("Inter-Regular.ttf", else
// Debian's "Inter-Regular.otf") and returns its family, or an empty string when no file
// is there. A file that fails to register sets *error to the reason.
QString RegisterInterfaceFont(QString* error = nullptr);
// The same search in `folder` instead of the program's folder.
QString RegisterInterfaceFontFrom(const QString& folder, QString* error = nullptr);

// An icon of the program's set (:/icons/<name>.svg) drawn in `color`, crisp at any size.
// A name without an icon gives a null QIcon.
QIcon Icon(const QString& name, const QColor& color = QColor(255, 255, 255));

// The dark look of every standard control (Fusion, a blue-grey palette and a style sheet
// for labels, buttons, fields, sliders, lists, scroll bars, tool tips, menus, check boxes,
// message boxes and file dialogs). Call once, before the first window is shown; widgets
// that paint themselves are not affected.
void ApplyApplicationStyle(QApplication& app);

}  // namespace quillora::ui
