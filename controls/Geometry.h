#pragma once
// Rectangles in pixels, as the window systems lay out controls: a left-top corner and a size.

namespace controls {

struct TRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    int Right() const { return Left + Width; }  // first column past the rectangle
    int Bottom() const { return Top + Height; } // first row past the rectangle
    bool Empty() const { return Width <= 0 || Height <= 0; }
    bool operator==(const TRect&) const = default;
};

} // namespace controls
