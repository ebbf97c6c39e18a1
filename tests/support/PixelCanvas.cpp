#include "support/PixelCanvas.h"

#include <algorithm>
#include <stdexcept>

namespace testsupport {

PixelCanvas::PixelCanvas(int width, int height)
    : width_(width), height_(height),
      pixels_(static_cast<std::size_t>(std::max(width, 0) * std::max(height, 0)), Unpainted) {}

controls::TColor PixelCanvas::resolve(controls::TColor color) {
    switch (color) {
    case controls::clBtnFace:
        return BtnFace;
    case controls::clBtnShadow:
        return BtnShadow;
    case controls::clBtnHighlight:
        return BtnHighlight;
    case controls::clWindowText:
        return WindowText;
    default:
        if (controls::isSystemColor(color))
            throw std::invalid_argument("PixelCanvas: unexpected system colour " +
                                        std::to_string(controls::systemColorIndex(color)));
        return color;
    }
}

void PixelCanvas::FillRect(const controls::TRect& rect, controls::TColor color) {
    const controls::TColor rgb = resolve(color);
    const int left = std::max(rect.Left, 0), right = std::min(rect.Right(), width_);
    const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom(), height_);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            pixels_[static_cast<std::size_t>(y * width_ + x)] = rgb;
}

void PixelCanvas::TextRect(const controls::TRect& line, const std::string& text,
                           const controls::TFont& font, controls::TAlignment alignment) {
    texts_.push_back({line, text, font, alignment});
}

int PixelCanvas::TextHeight(const controls::TFont&) {
    return LineHeight;
}

controls::TColor PixelCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw std::out_of_range("PixelCanvas: pixel outside the grid");
    return pixels_[static_cast<std::size_t>(y * width_ + x)];
}

int PixelCanvas::countInRow(int y, controls::TColor color) const {
    const controls::TColor rgb = resolve(color);
    int count = 0;
    for (int x = 0; x < width_; ++x)
        count += pixel(x, y) == rgb;
    return count;
}

} // namespace testsupport
