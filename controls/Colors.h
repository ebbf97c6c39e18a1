#pragma once
// Colours in the window framework's 32-bit encoding: 0x00BBGGRR for an RGB colour, or 0x80000000
// plus a system colour index for a colour that follows the desktop's settings.

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace controls {

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clNavy = 0x00800000;
inline constexpr TColor clRed = 0x000000FF;
inline constexpr TColor clBlue = 0x00FF0000;
inline constexpr TColor clYellow = 0x0000FFFF;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clBtnShadow = 0x80000010;
inline constexpr TColor clBtnHighlight = 0x80000014;

// The colour `color` stands for: RGB values as they are, system colours through `palette`
// (an unknown system index gives the palette's window colour).
QColor resolveColor(TColor color, const QPalette& palette);

} // namespace controls
