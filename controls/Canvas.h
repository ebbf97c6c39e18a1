#pragma once
// What the panels draw on: the three steps of their painting (fill a rectangle, write one line of
// text, measure a line's height), carried out by each window system's own drawing calls.

#include "controls/Colors.h"
#include "controls/Font.h"
#include "controls/Geometry.h"

#include <string>

namespace controls {

// Horizontal placement of a caption.
enum class TAlignment { LeftJustify, RightJustify, Center };

class TCanvas {
public:
    virtual ~TCanvas() = default;

    // Fills `rect` with `color` (system colours as the desktop has them); an empty rectangle
    // fills nothing.
    virtual void FillRect(const TRect& rect, TColor color) = 0;
    // Writes `text` (UTF-8) on one line in `font` and its colour, top-aligned in `line` and placed
    // horizontally by `alignment`, on a transparent background, clipped to `line`. Tabs expand;
    // "&" underlines the next character, "&&" writes one "&".
    virtual void TextRect(const TRect& line, const std::string& text, const TFont& font,
                          TAlignment alignment) = 0;
    // The height of one line of text in `font`.
    virtual int TextHeight(const TFont& font) = 0;
};

} // namespace controls
