#pragma once
// The panel base: a widget that paints an outer bevel, a flat band, an inner bevel and a
// background in its framework colours, and a one-line caption in its font.

#include "controls/Colors.h"

#include <QRect>
#include <QString>
#include <QWidget>

class QPainter;

namespace controls {

// How a bevel is cut into the panel.
enum class BevelCut { None, Lowered, Raised, Space };
// Horizontal placement of the caption.
enum class TAlignment { LeftJustify, RightJustify, Center };

class TCustomPanel : public QWidget {
    Q_OBJECT
public:
    // Raised outer bevel, no inner bevel, bevel width 1, no band, button-face colour, centred
    // caption.
    explicit TCustomPanel(QWidget* parent = nullptr);

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
    // The caption text that the panel itself draws.
    const QString& Caption() const { return caption_; }
    void setCaption(const QString& caption);
    // True while the font follows the parent's; setting a font with setFont() clears it, and
    // setting it true drops the panel's own font.
    bool ParentFont() const { return !testAttribute(Qt::WA_SetFont); }
    void setParentFont(bool follow);
    // The caption's text colour (the font colour) in the framework encoding.
    void setFontColor(TColor color);

    // Redraws the panel before returning (when it is shown).
    void Repaint() { repaint(); }
    // Marks the panel for redrawing when the event loop next runs.
    void Invalidate() { update(); }
    // How many times the panel has painted itself; tests observe redraws through it.
    int paintCount() const { return paintCount_; }

protected:
    // Counts the paint and hands a painter on the widget to Paint().
    void paintEvent(QPaintEvent* event) override;
    // Draws the whole panel: frames, background, caption.
    virtual void Paint(QPainter& painter);

    // Draws the outer bevel, the band and the inner bevel; returns the area inside them.
    QRect paintFrames(QPainter& painter) const;
    // Draws `text` one line high, vertically centred in `inner` (an odd spare pixel goes below),
    // placed horizontally by Alignment, on a transparent background, clipped to that line.
    void drawCaption(QPainter& painter, const QRect& inner, const QString& text) const;
    // The colour `color` stands for on this panel.
    QColor resolve(TColor color) const { return resolveColor(color, palette()); }

private:
    void bevel(QPainter& painter, QRect& rect, BevelCut cut) const;

    BevelCut bevelOuter_ = BevelCut::Raised;
    BevelCut bevelInner_ = BevelCut::None;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TColor color_ = clBtnFace;
    TAlignment alignment_ = TAlignment::Center;
    QString caption_;
    int paintCount_ = 0;
};

} // namespace controls
