#include "controls/CustomPanel.h"

#include "controls/Frame3D.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace controls {

TCustomPanel::TCustomPanel(QWidget* parent) : QWidget(parent) {}

void TCustomPanel::setBevelOuter(BevelCut cut) {
    if (cut == bevelOuter_)
        return;
    bevelOuter_ = cut;
    Invalidate();
}

void TCustomPanel::setBevelInner(BevelCut cut) {
    if (cut == bevelInner_)
        return;
    bevelInner_ = cut;
    Invalidate();
}

void TCustomPanel::setBevelWidth(int width) {
    width = std::max(width, 0);
    if (width == bevelWidth_)
        return;
    bevelWidth_ = width;
    Invalidate();
}

void TCustomPanel::setBorderWidth(int width) {
    width = std::max(width, 0);
    if (width == borderWidth_)
        return;
    borderWidth_ = width;
    Invalidate();
}

void TCustomPanel::setColor(TColor color) {
    if (color == color_)
        return;
    color_ = color;
    Invalidate();
}

void TCustomPanel::setAlignment(TAlignment alignment) {
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    Invalidate();
}

void TCustomPanel::setCaption(const QString& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    Invalidate();
}

void TCustomPanel::setParentFont(bool follow) {
    if (follow == ParentFont())
        return;
    // An empty font resolves nothing of its own, so Qt goes back to inheriting the parent's.
    setFont(follow ? QFont() : font());
    if (!follow)
        setAttribute(Qt::WA_SetFont, true);
}

void TCustomPanel::setFontColor(TColor color) {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, resolveColor(color, colours));
    setPalette(colours);
}

void TCustomPanel::paintEvent(QPaintEvent*) {
    ++paintCount_;
    QPainter painter(this);
    Paint(painter);
}

void TCustomPanel::Paint(QPainter& painter) {
    QRect inner = paintFrames(painter);
    painter.fillRect(inner, resolve(color_));
    drawCaption(painter, inner, caption_);
}

void TCustomPanel::bevel(QPainter& painter, QRect& rect, BevelCut cut) const {
    const QColor shadow = resolve(clBtnShadow);
    const QColor highlight = resolve(clBtnHighlight);
    if (cut == BevelCut::Lowered)
        Frame3D(painter, rect, shadow, highlight, bevelWidth_);
    else
        Frame3D(painter, rect, highlight, shadow, bevelWidth_);
}

QRect TCustomPanel::paintFrames(QPainter& painter) const {
    QRect rect = QRect(QPoint(0, 0), size());
    if (bevelOuter_ != BevelCut::None)
        bevel(painter, rect, bevelOuter_);
    const QColor band = resolve(color_);
    Frame3D(painter, rect, band, band, borderWidth_);
    if (bevelInner_ != BevelCut::None)
        bevel(painter, rect, bevelInner_);
    return rect;
}

void TCustomPanel::drawCaption(QPainter& painter, const QRect& inner, const QString& text) const {
    if (text.isEmpty())
        return;
    painter.save();
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setBackgroundMode(Qt::TransparentMode);
    const int height = QFontMetrics(font()).height();
    const int top = (inner.y() + (inner.y() + inner.height()) - height) / 2;
    const QRect line(inner.x(), top, inner.width(), height);

    Qt::Alignment horizontal = Qt::AlignHCenter;
    if (alignment_ == TAlignment::LeftJustify)
        horizontal = Qt::AlignLeft;
    else if (alignment_ == TAlignment::RightJustify)
        horizontal = Qt::AlignRight;
    // Right-to-left layouts mirror left and right placement, as the framework's flags did.
    horizontal = QStyle::visualAlignment(layoutDirection(), horizontal);

    painter.setClipRect(line);
    painter.drawText(
        line, int(horizontal | Qt::AlignTop) | Qt::TextExpandTabs | Qt::TextShowMnemonic, text);
    painter.restore();
}

} // namespace controls
