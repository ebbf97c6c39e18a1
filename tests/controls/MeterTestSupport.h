#pragma once
// What the meter tests look at: the meter shown on screen (so synchronous repaints happen) and
// its rendered pixels.

#include "controls/zelMeter.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <memory>
#include <utility>

namespace metertest {

// Lets posted paints and other events run, so a later count sees only what the test caused.
inline void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A meter of `width` by 21 (the window's meter by default), shown and settled.
inline std::unique_ptr<controls::TzelMeter> shownMeter(int width = 322) {
    auto meter = std::make_unique<controls::TzelMeter>();
    meter->resize(width, 21);
    meter->show();
    settle();
    return meter;
}

inline QImage render(QWidget& widget) {
    return widget.grab().toImage();
}

// Colours compared as opaque RGB, whatever the image format and colour model.
inline QRgb rgb(const QColor& colour) {
    return colour.rgb() & 0xFFFFFFu;
}
inline QRgb pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}

// How many pixels of row `y` have colour `colour`.
inline int countInRow(const QImage& image, int y, const QColor& colour) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += pixel(image, x, y) == rgb(colour);
    return count;
}

// The first and last column of the rectangle's pixels that differ from both `a` and `b`
// (the caption's ink), or {-1, -1} when there is none.
inline std::pair<int, int> inkColumns(const QImage& image, const QRect& area, const QColor& a,
                                      const QColor& b) {
    int first = -1, last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = pixel(image, x, y);
            if (c != rgb(a) && c != rgb(b)) {
                if (first < 0 || x < first)
                    first = x;
                last = std::max(last, x);
            }
        }
    return {first, last};
}

} // namespace metertest
