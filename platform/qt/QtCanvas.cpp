#include "platform/qt/QtCanvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace platform {

namespace {

QPalette::ColorRole systemRole(int index) {
    switch (index) {
    case 5: // window background
        return QPalette::Base;
    case 8: // window text
        return QPalette::WindowText;
    case 13: // selection
        return QPalette::Highlight;
    case 14: // selected text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 18: // button text
        return QPalette::ButtonText;
    case 20: // button highlight
        return QPalette::Light;
    case 21: // dark shadow
        return QPalette::Shadow;
    case 22: // light
        return QPalette::Midlight;
    default:
        return QPalette::Window;
    }
}

QRect qtRect(const controls::TRect& rect) {
    return QRect(rect.Left, rect.Top, rect.Width, rect.Height);
}

} // namespace

QColor resolveColor(controls::TColor color, const QPalette& palette) {
    if (controls::isSystemColor(color))
        return palette.color(systemRole(controls::systemColorIndex(color)));
    return QColor(controls::redOf(color), controls::greenOf(color), controls::blueOf(color));
}

QFont qtFont(const controls::TFont& font) {
    QFont made;
    QStringList faces;
    for (const std::string& name : font.Names)
        faces << QString::fromStdString(name);
    made.setFamilies(faces);
    made.setPixelSize(font.Height);
    made.setBold(font.Bold);
    return made;
}

QtCanvas::QtCanvas(QPainter& painter, const QPalette& palette, bool rightToLeft)
    : painter_(painter), palette_(palette), rightToLeft_(rightToLeft) {}

void QtCanvas::FillRect(const controls::TRect& rect, controls::TColor color) {
    if (!rect.Empty())
        painter_.fillRect(qtRect(rect), resolveColor(color, palette_));
}

void QtCanvas::TextRect(const controls::TRect& line, const std::string& text,
                        const controls::TFont& font, controls::TAlignment alignment) {
    painter_.save();
    painter_.setFont(qtFont(font));
    painter_.setPen(resolveColor(font.Color, palette_));
    painter_.setBackgroundMode(Qt::TransparentMode);
    Qt::Alignment horizontal = Qt::AlignHCenter;
    if (alignment == controls::TAlignment::LeftJustify)
        horizontal = Qt::AlignLeft;
    else if (alignment == controls::TAlignment::RightJustify)
        horizontal = Qt::AlignRight;
    horizontal =
        QStyle::visualAlignment(rightToLeft_ ? Qt::RightToLeft : Qt::LeftToRight, horizontal);
    painter_.setClipRect(qtRect(line));
    painter_.drawText(qtRect(line),
                      int(horizontal | Qt::AlignTop) | Qt::TextExpandTabs | Qt::TextShowMnemonic,
                      QString::fromStdString(text));
    painter_.restore();
}

int QtCanvas::TextHeight(const controls::TFont& font) {
    return QFontMetrics(qtFont(font)).height();
}

} // namespace platform
