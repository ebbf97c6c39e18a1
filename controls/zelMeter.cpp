#include "controls/zelMeter.h"

#include <cfenv>
#include <cmath>

namespace controls {

namespace {

// Products and differences wrap around as 32-bit signed arithmetic does on the hardware, without
// the undefined behaviour of a signed overflow in C++.
std::int32_t wrap32(std::int64_t value) {
    return static_cast<std::int32_t>(value);
}

// numerator / denominator rounded to the nearest integer, an exact half to the even neighbour.
// Extended precision keeps every 32-bit quotient exact enough for the half test.
std::int32_t divideRoundingHalfEven(std::int32_t numerator, long double denominator) {
    const long double rounded = std::nearbyint(static_cast<long double>(numerator) / denominator);
    // Only INT32_MIN / -1 leaves the 32-bit range; it wraps like the rest of the arithmetic.
    return wrap32(static_cast<std::int64_t>(rounded));
}

} // namespace

TzelMeter::TzelMeter() {
    setBevelOuter(BevelCut::Lowered);
}

void TzelMeter::setFillColor(TColor color) {
    fillColor_ = color;
    Invalidate();
}

void TzelMeter::setMax(std::int32_t value) {
    max_ = value;
    if (min_ < max_)
        UpdateMeter();
}

void TzelMeter::setMin(std::int32_t value) {
    min_ = value;
    if (min_ < max_)
        UpdateMeter();
}

void TzelMeter::setPosition(std::int32_t value) {
    if (value < min_ || value > max_)
        return;
    position_ = value;
    UpdateMeter();
}

void TzelMeter::setMeterText(const std::string& text) {
    meterText_ = text;
    UpdateMeter();
}

void TzelMeter::StepIt() {
    // Position + 1 overflows only at INT32_MAX, which then equals Max and refuses the step anyway.
    if (position_ < max_)
        setPosition(position_ + 1);
}

void TzelMeter::UpdateMeter() {
    std::int32_t percent = 0;
    if (min_ < max_) {
        const std::int32_t span = wrap32(std::int64_t(max_) - min_);
        const std::int32_t scaled =
            wrap32(wrap32(std::int64_t(position_) - min_) * std::int64_t(100));
        percent = divideRoundingHalfEven(scaled, span);
    }

    const std::string number = std::to_string(percent) + "%";
    std::string caption;
    const std::size_t mark = meterText_.find('%');
    if (meterText_.empty())
        caption = number;
    else if (mark == std::string::npos)
        caption = meterText_;
    else
        caption = meterText_.substr(0, mark) + number + meterText_.substr(mark + 1);

    if (percent == percent_ && caption == displayText_)
        return;
    percent_ = percent;
    displayText_ = std::move(caption);
    announceText(displayText_);
    // The run holds the event loop while it drives the meter, so only a synchronous redraw shows.
    Repaint();
}

void TzelMeter::Paint(TCanvas& canvas, const TRect& client) {
    const TRect inner = paintFrames(canvas, client);
    canvas.FillRect(inner, Color());

    const std::int32_t width = inner.Width;
    const std::int32_t barRight =
        inner.Left + divideRoundingHalfEven(wrap32(std::int64_t(width) * percent_), 100.0L);
    // A bar ending left of its start (a negative percentage) has nothing to fill.
    if (barRight > inner.Left)
        canvas.FillRect({inner.Left, inner.Top, barRight - inner.Left, inner.Height}, fillColor_);

    drawCaption(canvas, inner, displayText_);
}

} // namespace controls
