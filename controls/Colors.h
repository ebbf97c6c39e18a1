#pragma once
// Colours in the window framework's 32-bit encoding: 0x00BBGGRR for an RGB colour, or 0x80000000
// plus a system colour index (the Windows COLOR_* numbers) for a colour that follows the
// desktop's settings. Each front end resolves system colours from its own desktop.

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

inline constexpr TColor SystemColorFlag = 0x80000000;

// True for a colour that names a system colour; its index is then systemColorIndex(color).
constexpr bool isSystemColor(TColor color) {
    return (color & SystemColorFlag) != 0;
}
constexpr int systemColorIndex(TColor color) {
    return static_cast<int>(color & ~SystemColorFlag);
}
// The red, green and blue parts of an RGB colour.
constexpr int redOf(TColor color) {
    return static_cast<int>(color & 0xFF);
}
constexpr int greenOf(TColor color) {
    return static_cast<int>((color >> 8) & 0xFF);
}
constexpr int blueOf(TColor color) {
    return static_cast<int>((color >> 16) & 0xFF);
}

} // namespace controls
