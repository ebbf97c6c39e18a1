#pragma once
// The three-dimensional frame that panels draw their bevels and bands with.

#include "controls/Canvas.h"

namespace controls {

// Draws a frame `width` pixels wide just inside `rect`: top and left edges in `top`, bottom and
// right edges in `bottom`; then shrinks `rect` by `width` on every side. Width 0 draws nothing and
// leaves `rect` as it was.
void Frame3D(TCanvas& canvas, TRect& rect, TColor top, TColor bottom, int width);

} // namespace controls
