#include "controls/Frame3D.h"

namespace controls {

void Frame3D(QPainter& painter, QRect& rect, const QColor& top, const QColor& bottom, int width) {
    for (int ring = 0; ring < width; ++ring) {
        // A rectangle already used up still shrinks, so callers see the same geometry either way.
        if (rect.width() > 0 && rect.height() > 0) {
            const int left = rect.x(), upper = rect.y(), w = rect.width(), h = rect.height();
            painter.fillRect(QRect(left, upper, w, 1), top);
            painter.fillRect(QRect(left, upper, 1, h), top);
            painter.fillRect(QRect(left, upper + h - 1, w, 1), bottom);
            painter.fillRect(QRect(left + w - 1, upper, 1, h), bottom);
        }
        rect.adjust(1, 1, -1, -1);
    }
}

} // namespace controls
