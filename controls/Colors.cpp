#include "controls/Colors.h"

namespace controls {

namespace {

constexpr TColor systemFlag = 0x80000000;

QPalette::ColorRole systemRole(TColor index) {
    switch (index) {
    case 5: // window background
        return QPalette::Base;
    case 8: // window text
        return QPalette::WindowText;
    case 13: // selection
        return QPalette::Highlight;
    case 14: // selected text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 18: // button text
        return QPalette::ButtonText;
    case 20: // button highlight
        return QPalette::Light;
    case 21: // dark shadow
        return QPalette::Shadow;
    case 22: // light
        return QPalette::Midlight;
    default:
        return QPalette::Window;
    }
}

} // namespace

QColor resolveColor(TColor color, const QPalette& palette) {
    if (color & systemFlag)
        return palette.color(systemRole(color & ~systemFlag));
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

} // namespace controls
