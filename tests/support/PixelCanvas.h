#pragma once
// A canvas over an in-memory grid of RGB pixels, for drawing tests that need no window system:
// system colours resolve to fixed values, and text is recorded (its line, text and font) rather
// than rasterised, every line TextHeight pixels high.

#include "controls/Canvas.h"

#include <string>
#include <vector>

namespace testsupport {

class PixelCanvas : public controls::TCanvas {
public:
    // The height of every line of text, whatever the font.
    static constexpr int LineHeight = 13;
    // The RGB colours (0x00BBGGRR) the system colours stand for here.
    static constexpr controls::TColor BtnFace = 0x00C0C0C0;
    static constexpr controls::TColor BtnShadow = 0x00808080;
    static constexpr controls::TColor BtnHighlight = 0x00FFFFFF;
    static constexpr controls::TColor WindowText = 0x00000000;
    // What a pixel holds until something fills it.
    static constexpr controls::TColor Unpainted = 0x00FF00FF;

    // One TextRect call.
    struct Text {
        controls::TRect line;
        std::string text;
        controls::TFont font;
        controls::TAlignment alignment;
    };

    PixelCanvas(int width, int height);

    // `color` as RGB: RGB colours as they are, system colours as above; any other system colour
    // throws std::invalid_argument, so a test notices a colour nobody expected.
    static controls::TColor resolve(controls::TColor color);

    // Fills the part of `rect` inside the grid.
    void FillRect(const controls::TRect& rect, controls::TColor color) override;
    // Records the call; no pixel changes.
    void TextRect(const controls::TRect& line, const std::string& text, const controls::TFont& font,
                  controls::TAlignment alignment) override;
    int TextHeight(const controls::TFont& font) override;

    int width() const { return width_; }
    int height() const { return height_; }
    // The RGB colour of one pixel.
    controls::TColor pixel(int x, int y) const;
    // How many pixels of row `y` have `color` (resolved as FillRect resolves it).
    int countInRow(int y, controls::TColor color) const;
    // Every TextRect call, oldest first.
    const std::vector<Text>& texts() const { return texts_; }

private:
    int width_;
    int height_;
    std::vector<controls::TColor> pixels_;
    std::vector<Text> texts_;
};

} // namespace testsupport
