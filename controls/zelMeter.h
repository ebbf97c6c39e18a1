#pragma once
// The progress meter: a sunken panel that fills a bar from the left in proportion to a position
// within an integer range and draws a one-line caption, which may carry the percentage, over it.

#include "controls/CustomPanel.h"

#include <cstdint>
#include <string>

namespace controls {

class TzelMeter : public TCustomPanel {
public:
    // Lowered outer bevel, yellow bar, range 0..100 at 0, no template; shows no bar and no caption
    // until a write of Max, Min, Position or MeterText. Its window takes no mouse or keyboard
    // input.
    TzelMeter();

    // Bar colour (framework encoding); every write schedules a redraw, even of the same value.
    TColor FillColor() const { return fillColor_; }
    void setFillColor(TColor color);
    // Upper end of the range; stored always, recomputed only while Min < Max.
    std::int32_t Max() const { return max_; }
    void setMax(std::int32_t value);
    // Lower end of the range; stored always, recomputed only while Min < Max.
    std::int32_t Min() const { return min_; }
    void setMin(std::int32_t value);
    // Current position; a write outside Min..Max (ends included) is ignored entirely.
    std::int32_t Position() const { return position_; }
    void setPosition(std::int32_t value);
    // Caption template (UTF-8): empty shows "<p>%", the first "%" is replaced by "<p>%", text
    // without "%" shows as it is. A write recomputes.
    const std::string& MeterText() const { return meterText_; }
    void setMeterText(const std::string& text);
    // The percentage last computed; sets the bar's width (may lie outside 0..100).
    std::int32_t Percent() const { return percent_; }
    // The caption last computed (UTF-8); the only text the meter draws.
    const std::string& DisplayText() const { return displayText_; }

    // Position + 1 through setPosition(): does nothing once Position equals Max.
    void StepIt();

protected:
    // Frames, background, bar, caption: every pixel of the control, every time.
    void Paint(TCanvas& canvas, const TRect& client) override;

private:
    // Recomputes Percent and DisplayText; stores them and repaints at once only when either
    // changed.
    void UpdateMeter();

    std::int32_t position_ = 0;
    std::int32_t percent_ = 0;
    std::int32_t min_ = 0;
    std::int32_t max_ = 100;
    TColor fillColor_ = clYellow;
    std::string displayText_;
    std::string meterText_;
};

} // namespace controls
