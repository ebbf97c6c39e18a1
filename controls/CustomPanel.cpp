#include "controls/CustomPanel.h"

#include "controls/Frame3D.h"

#include <algorithm>

namespace controls {

TCustomPanel::~TCustomPanel() {
    if (host_)
        host_->panelDestroyed();
}

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

void TCustomPanel::setCaption(const std::string& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    announceText(caption_);
    Invalidate();
}

void TCustomPanel::setFont(const TFont& font) {
    own_ = font;
    parentFont_ = false;
    Invalidate();
}

void TCustomPanel::setParentFont(bool follow) {
    if (follow == parentFont_)
        return;
    // Leaving the parent's font keeps the look: the panel's own font starts as the parent's.
    if (!follow)
        own_ = inherited_;
    parentFont_ = follow;
    Invalidate();
}

void TCustomPanel::inheritFont(const TFont& font) {
    inherited_ = font;
    if (parentFont_)
        Invalidate();
}

void TCustomPanel::setFontColor(TColor color) {
    TFont font = Font();
    font.Color = color;
    setFont(font);
}

void TCustomPanel::Repaint() {
    if (host_)
        host_->repaint();
}

void TCustomPanel::Invalidate() {
    if (host_)
        host_->invalidate();
}

void TCustomPanel::PaintOn(TCanvas& canvas, const TRect& client) {
    ++paintCount_;
    Paint(canvas, client);
}

void TCustomPanel::Paint(TCanvas& canvas, const TRect& client) {
    const TRect inner = paintFrames(canvas, client);
    canvas.FillRect(inner, color_);
    drawCaption(canvas, inner, caption_);
}

void TCustomPanel::bevel(TCanvas& canvas, TRect& rect, BevelCut cut) const {
    if (cut == BevelCut::Lowered)
        Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, bevelWidth_);
    else
        Frame3D(canvas, rect, clBtnHighlight, clBtnShadow, bevelWidth_);
}

TRect TCustomPanel::paintFrames(TCanvas& canvas, const TRect& client) const {
    TRect rect = client;
    if (bevelOuter_ != BevelCut::None)
        bevel(canvas, rect, bevelOuter_);
    Frame3D(canvas, rect, color_, color_, borderWidth_);
    if (bevelInner_ != BevelCut::None)
        bevel(canvas, rect, bevelInner_);
    return rect;
}

void TCustomPanel::drawCaption(TCanvas& canvas, const TRect& inner, const std::string& text) const {
    if (text.empty())
        return;
    const int height = canvas.TextHeight(Font());
    const int top = (inner.Top + inner.Bottom() - height) / 2;
    canvas.TextRect({inner.Left, top, inner.Width, height}, text, Font(), alignment_);
}

} // namespace controls
