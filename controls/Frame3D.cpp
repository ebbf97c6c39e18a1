#include "controls/Frame3D.h"

namespace controls {

void Frame3D(TCanvas& canvas, TRect& rect, TColor top, TColor bottom, int width) {
    for (int ring = 0; ring < width; ++ring) {
        // A rectangle already used up still shrinks, so callers see the same geometry either way.
        if (!rect.Empty()) {
            const int left = rect.Left, upper = rect.Top, w = rect.Width, h = rect.Height;
            canvas.FillRect({left, upper, w, 1}, top);
            canvas.FillRect({left, upper, 1, h}, top);
            canvas.FillRect({left, upper + h - 1, w, 1}, bottom);
            canvas.FillRect({left + w - 1, upper, 1, h}, bottom);
        }
        rect = {rect.Left + 1, rect.Top + 1, rect.Width - 2, rect.Height - 2};
    }
}

} // namespace controls
