#pragma once
// The panels' canvas on a QPainter, and the framework's colours and fonts as Qt's.

#include "controls/Canvas.h"

#include <QColor>
#include <QFont>
#include <QPalette>

class QPainter;

namespace platform {

// The colour `color` stands for: RGB values as they are, system colours through `palette`
// (an unknown system index gives the palette's window colour).
QColor resolveColor(controls::TColor color, const QPalette& palette);

// `font` as a Qt font: its faces in order, its pixel height and weight.
QFont qtFont(const controls::TFont& font);

class QtCanvas : public controls::TCanvas {
public:
    // Draws with `painter`; system colours come from `palette`; `rightToLeft` mirrors left and
    // right placement of text, as the desktop's layout direction asks.
    QtCanvas(QPainter& painter, const QPalette& palette, bool rightToLeft = false);

    void FillRect(const controls::TRect& rect, controls::TColor color) override;
    void TextRect(const controls::TRect& line, const std::string& text, const controls::TFont& font,
                  controls::TAlignment alignment) override;
    int TextHeight(const controls::TFont& font) override;

private:
    QPainter& painter_;
    QPalette palette_;
    bool rightToLeft_;
};

} // namespace platform
