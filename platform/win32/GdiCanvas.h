#pragma once
// The panels' canvas on a Windows device context (GDI), and the framework's colours and fonts as
// GDI's.

#include "controls/Canvas.h"

#include <windows.h>

namespace platform {

// The colour `color` stands for: an RGB value as it is (the framework's encoding is GDI's), a
// system colour as the desktop has it now.
COLORREF resolveColor(controls::TColor color);

// A GDI font for `font`: the first of its faces the system has (the first named when none is),
// its pixel height as the character height, its weight. Made once per distinct font and kept for
// the program's life, as the few fonts of a window are.
HFONT fontHandle(const controls::TFont& font);

class GdiCanvas : public controls::TCanvas {
public:
    // Draws on `dc`, which the caller owns (a paint DC, a memory DC for tests).
    explicit GdiCanvas(HDC dc) : dc_(dc) {}

    void FillRect(const controls::TRect& rect, controls::TColor color) override;
    void TextRect(const controls::TRect& line, const std::string& text, const controls::TFont& font,
                  controls::TAlignment alignment) override;
    int TextHeight(const controls::TFont& font) override;

private:
    HDC dc_;
};

} // namespace platform
