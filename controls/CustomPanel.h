#pragma once
// The panel base: paints an outer bevel, a flat band, an inner bevel and a background in its
// framework colours, and a one-line caption in its font. The panel is the window system's
// neutral part: a front end gives it a window (a PanelHost) and a canvas to paint on.

#include "controls/Canvas.h"

#include <string>

namespace controls {

// How a bevel is cut into the panel.
enum class BevelCut { None, Lowered, Raised, Space };

// The window a panel lives in, as its front end provides it.
class PanelHost {
public:
    virtual ~PanelHost() = default;
    // Marks the whole panel for redrawing when the event loop next runs.
    virtual void invalidate() = 0;
    // Redraws the panel before returning, when it is shown.
    virtual void repaint() = 0;
    // The panel's caption or displayed text changed (for screen readers and window text).
    virtual void textChanged(const std::string& /*text*/) {}
    // The panel is being destroyed: the window must not reach it any more. Either may go
    // first.
    virtual void panelDestroyed() = 0;
};

class TCustomPanel {
public:
    // Raised outer bevel, no inner bevel, bevel width 1, no band, button-face colour, centred
    // caption, the parent's font.
    TCustomPanel() = default;
    // Tells the window, if any, that the panel is gone.
    virtual ~TCustomPanel();
    TCustomPanel(const TCustomPanel&) = delete;
    TCustomPanel& operator=(const TCustomPanel&) = delete;

    // The window the panel paints into; nullptr detaches it (writes then redraw nothing).
    void attach(PanelHost* host) { host_ = host; }

    // Outer bevel; a write changing it schedules a redraw.
    BevelCut BevelOuter() const { return bevelOuter_; }
    void setBevelOuter(BevelCut cut);
    // Inner bevel; a write changing it schedules a redraw.
    BevelCut BevelInner() const { return bevelInner_; }
    void setBevelInner(BevelCut cut);
    // Width in pixels of each bevel (negative writes count as 0).
    int BevelWidth() const { return bevelWidth_; }
    void setBevelWidth(int width);
    // Width in pixels of the flat band between the bevels (negative writes count as 0).
    int BorderWidth() const { return borderWidth_; }
    void setBorderWidth(int width);
    // Background and band colour in the framework encoding.
    TColor Color() const { return color_; }
    void setColor(TColor color);
    // Caption placement; a write changing it schedules a redraw.
    TAlignment Alignment() const { return alignment_; }
    void setAlignment(TAlignment alignment);
    // The caption text (UTF-8) that the panel itself draws.
    const std::string& Caption() const { return caption_; }
    void setCaption(const std::string& caption);

    // The font the caption is drawn in: the panel's own, or its parent's while ParentFont.
    const TFont& Font() const { return parentFont_ ? inherited_ : own_; }
    // Gives the panel a font of its own: ParentFont becomes false.
    void setFont(const TFont& font);
    // True while the font follows the parent's; setting it true drops the panel's own font.
    bool ParentFont() const { return parentFont_; }
    void setParentFont(bool follow);
    // The parent's font, which the panel uses while ParentFont; the front end passes it on.
    void inheritFont(const TFont& font);
    // The caption's text colour (the font colour) in the framework encoding.
    void setFontColor(TColor color);

    // Redraws the panel before returning (when it is shown).
    void Repaint();
    // Marks the panel for redrawing when the event loop next runs.
    void Invalidate();

    // Paints every pixel of `client` (the panel's own area, from 0,0) on `canvas`; the front end
    // calls it whenever the window system asks the panel to paint.
    void PaintOn(TCanvas& canvas, const TRect& client);
    // How many times the panel has painted itself; tests observe redraws through it.
    int paintCount() const { return paintCount_; }

protected:
    // Draws the whole panel: frames, background, caption.
    virtual void Paint(TCanvas& canvas, const TRect& client);

    // Draws the outer bevel, the band and the inner bevel; returns the area inside them.
    TRect paintFrames(TCanvas& canvas, const TRect& client) const;
    // Draws `text` one line high, vertically centred in `inner` (an odd spare pixel goes below),
    // placed horizontally by Alignment, on a transparent background, clipped to that line.
    void drawCaption(TCanvas& canvas, const TRect& inner, const std::string& text) const;
    // Tells the window the displayed text.
    void announceText(const std::string& text) {
        if (host_)
            host_->textChanged(text);
    }

private:
    void bevel(TCanvas& canvas, TRect& rect, BevelCut cut) const;

    PanelHost* host_ = nullptr;
    BevelCut bevelOuter_ = BevelCut::Raised;
    BevelCut bevelInner_ = BevelCut::None;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TColor color_ = clBtnFace;
    TAlignment alignment_ = TAlignment::Center;
    std::string caption_;
    TFont own_;
    TFont inherited_;
    bool parentFont_ = true;
    int paintCount_ = 0;
};

} // namespace controls
