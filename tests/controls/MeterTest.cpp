// The progress meter as its user sees it: the percentage and caption it computes, the bar and
// caption it draws, and when it redraws.

#include "controls/zelMeter.h"
#include "support/PixelCanvas.h"
#include "support/RecordingPanelHost.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using controls::TzelMeter;
using testsupport::PixelCanvas;
using testsupport::RecordingPanelHost;

namespace {

// A meter in a window of `width` by 21 (the main window's meter by default), painted once.
struct ShownMeter {
    explicit ShownMeter(int width = 322) : host(meter, width, 21) { host.paint(); }
    TzelMeter* operator->() { return &meter; }
    // Paints the meter now and returns what it drew.
    const PixelCanvas& render() { return host.paint(); }

    TzelMeter meter;
    RecordingPanelHost host;
};

struct RangeCase {
    std::int32_t min, max, position;
    std::string meterText;
    std::int32_t percent;
    std::string caption;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << "range " << c.min << ".." << c.max << " at " << c.position << ", template \""
        << c.meterText << "\"";
}

class MeterRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(MeterRange, PercentAndCaptionFollowRangePositionAndTemplate) {
    const RangeCase& c = GetParam();
    ShownMeter meter;
    meter->setMax(c.max);
    meter->setMin(c.min);
    meter->setPosition(c.position);
    meter->setMeterText(c.meterText);
    EXPECT_EQ(meter->Percent(), c.percent);
    EXPECT_EQ(meter->DisplayText(), c.caption);
    EXPECT_EQ(meter.host.announced.back(), c.caption) << "the window's text follows";
    const PixelCanvas& image = meter.render();
    ASSERT_EQ(image.texts().size(), 1u);
    EXPECT_EQ(image.texts()[0].text, c.caption) << "the caption drawn";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeterRange,
    ::testing::Values(RangeCase{0, 4, 0, "", 0, "0%"}, RangeCase{0, 4, 1, "", 25, "25%"},
                      RangeCase{0, 4, 2, "", 50, "50%"}, RangeCase{0, 4, 3, "", 75, "75%"},
                      RangeCase{0, 4, 4, "", 100, "100%"},
                      // exact halves go to the even neighbour
                      RangeCase{0, 8, 1, "", 12, "12%"}, RangeCase{0, 8, 3, "", 38, "38%"},
                      RangeCase{0, 8, 5, "", 62, "62%"}, RangeCase{0, 8, 7, "", 88, "88%"},
                      RangeCase{-10, 10, -5, "", 25, "25%"},
                      RangeCase{0, 4, 2, "Stage 2: %", 50, "Stage 2: 50%"},
                      RangeCase{0, 4, 2, "%/%", 50, "50%/%"},
                      RangeCase{10, 20, 15, "Этап % из 4", 50, "Этап 50% из 4"},
                      RangeCase{0, 4, 2, "Открытие базы", 50, "Открытие базы"},
                      // an empty range shows 0 and never divides
                      RangeCase{5, 5, 5, "", 0, "0%"}));

TEST(Meter, NarrowingTheRangeBelowPositionShowsMoreThanHundredPercent) {
    ShownMeter meter;
    meter->setPosition(50);
    meter->setMax(40);
    EXPECT_EQ(meter->Percent(), 125);
    EXPECT_EQ(meter->DisplayText(), "125%");
}

TEST(Meter, RaisingMinAbovePositionShowsNegativePercentAndNoBar) {
    ShownMeter meter;
    meter->setMin(10);
    EXPECT_EQ(meter->Percent(), -11);
    EXPECT_EQ(meter->DisplayText(), "-11%");
    EXPECT_EQ(meter.render().countInRow(1, controls::clYellow), 0);
}

TEST(Meter, NewMeterShowsFramesAndBackgroundOnly) {
    ShownMeter meter;
    EXPECT_EQ(meter->Max(), 100);
    EXPECT_EQ(meter->Min(), 0);
    EXPECT_EQ(meter->Position(), 0);
    EXPECT_EQ(meter->FillColor(), 0x0000FFFFu);
    EXPECT_EQ(meter->BevelOuter(), controls::BevelCut::Lowered);
    EXPECT_TRUE(meter->DisplayText().empty());

    const PixelCanvas& image = meter.render();
    for (int y = 1; y < 20; ++y)
        EXPECT_EQ(image.countInRow(y, controls::clBtnFace), 320) << "row " << y;
    EXPECT_TRUE(image.texts().empty());
}

struct OutOfRangeCase {
    const char* name;
    std::int32_t min, max, start, write;
};

class MeterOutOfRange : public ::testing::TestWithParam<OutOfRangeCase> {};

TEST_P(MeterOutOfRange, PositionWriteOutsideRangeIsIgnoredWithoutRepaint) {
    const OutOfRangeCase& c = GetParam();
    ShownMeter meter;
    meter->setMax(c.max);
    meter->setPosition(c.start);
    meter->setMin(c.min);
    meter.host.settle();
    const int paints = meter->paintCount();
    const std::string caption = meter->DisplayText();

    meter->setPosition(c.write);
    meter.host.settle();
    EXPECT_EQ(meter->Position(), c.start);
    EXPECT_EQ(meter->DisplayText(), caption);
    EXPECT_EQ(meter->paintCount(), paints);
}

INSTANTIATE_TEST_SUITE_P(Cases, MeterOutOfRange,
                         ::testing::Values(OutOfRangeCase{"BelowMin", 0, 4, 2, -1},
                                           OutOfRangeCase{"AboveMax", 0, 4, 2, 5},
                                           OutOfRangeCase{"EqualMinAndMax", 7, 7, 7, 6},
                                           OutOfRangeCase{"MinAboveMaxAtMin", 10, 5, 0, 10},
                                           OutOfRangeCase{"MinAboveMaxAtMax", 10, 5, 0, 5},
                                           OutOfRangeCase{"MinAboveMaxBetween", 10, 5, 0, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Meter, StepItAtMaxChangesNothing) {
    ShownMeter meter;
    meter->setMax(4);
    for (int step = 1; step <= 4; ++step) {
        meter->StepIt();
        EXPECT_EQ(meter->Percent(), 25 * step);
    }
    meter.host.settle();
    const int paints = meter->paintCount();
    meter->StepIt();
    meter.host.settle();
    EXPECT_EQ(meter->Position(), 4);
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, EmptyingTheRangeKeepsTheLastBarAndCaption) {
    ShownMeter meter;
    meter->setMax(4);
    meter->StepIt();
    meter.host.settle();
    const int paints = meter->paintCount();
    meter->setMax(0);
    meter.host.settle();
    EXPECT_EQ(meter->Max(), 0);
    EXPECT_EQ(meter->Percent(), 25);
    EXPECT_EQ(meter->DisplayText(), "25%");
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, ChangeRepaintsBeforeTheWriteReturns) {
    ShownMeter meter;
    const int paints = meter->paintCount();
    meter->setMax(4); // shows 0% for the first time
    EXPECT_EQ(meter->paintCount(), paints + 1);
    EXPECT_EQ(meter.host.lastPaint().texts().at(0).text, "0%");
    meter->setMeterText("Открытие базы");
    EXPECT_EQ(meter->paintCount(), paints + 2);
    meter->StepIt();
    EXPECT_EQ(meter->paintCount(), paints + 3);
    EXPECT_EQ(meter.host.lastPaint().countInRow(1, controls::clYellow), 80);
}

TEST(Meter, WritesOfCurrentValuesCauseNoRepaint) {
    ShownMeter meter;
    meter->setMax(4);
    meter->setPosition(2);
    meter->setMeterText("Этап");
    meter.host.settle();
    const int paints = meter->paintCount();

    meter->setPosition(2);
    meter->setMeterText("Этап");
    meter->setMax(4);
    meter->setMin(0);
    meter.host.settle();
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, FillColorAlwaysRequestsDeferredRepaint) {
    ShownMeter meter;
    const int paints = meter->paintCount();
    meter->setFillColor(meter->FillColor());
    EXPECT_EQ(meter->paintCount(), paints) << "the redraw waits for the event loop";
    meter.host.settle();
    EXPECT_EQ(meter->paintCount(), paints + 1);

    meter->setFillColor(controls::clRed);
    meter->setMax(4);
    meter->setPosition(4);
    EXPECT_EQ(meter.render().countInRow(1, controls::clRed), 320);
}

struct BarCase {
    int width; // control width; the one-pixel lowered bevel leaves width - 2 inside
    std::int32_t max, position;
    int barPixels;
};

void PrintTo(const BarCase& c, std::ostream* os) {
    *os << "width " << c.width << ", position " << c.position << " of " << c.max;
}

class MeterBar : public ::testing::TestWithParam<BarCase> {};

TEST_P(MeterBar, BarFillsItsShareOfTheInnerWidthFromTheLeft) {
    const BarCase& c = GetParam();
    ShownMeter meter(c.width);
    meter->setMax(c.max);
    meter->setPosition(c.position);
    const PixelCanvas& image = meter.render();
    const controls::TColor yellow = controls::clYellow;
    // Every row inside the frames, not just one: the bar is as high as the inner area.
    for (int y = 1; y < 20; ++y)
        EXPECT_EQ(image.countInRow(y, yellow), c.barPixels) << "row " << y;
    if (c.barPixels > 0) {
        EXPECT_EQ(image.pixel(1, 1), yellow);
        EXPECT_EQ(image.pixel(c.barPixels, 1), yellow);
    }
    EXPECT_NE(image.pixel(0, 1), yellow) << "the left bevel stays";
}

INSTANTIATE_TEST_SUITE_P(Cases, MeterBar,
                         ::testing::Values(BarCase{322, 4, 0, 0}, BarCase{322, 4, 1, 80},
                                           BarCase{322, 4, 2, 160}, BarCase{322, 4, 3, 240},
                                           BarCase{322, 4, 4, 320},
                                           // 320 x 12 % = 38.4
                                           BarCase{322, 8, 1, 38},
                                           // 321 x 50 % = 160.5, 9 x 50 % = 4.5, 3 x 50 % = 1.5
                                           BarCase{323, 2, 1, 160}, BarCase{11, 2, 1, 4},
                                           BarCase{5, 2, 1, 2}));

TEST(Meter, BarAbove100PercentRunsOverTheRightFrameToTheEdge) {
    ShownMeter meter;
    meter->setPosition(50);
    meter->setMax(40);
    const PixelCanvas& image = meter.render();
    const controls::TColor yellow = controls::clYellow;
    EXPECT_EQ(image.countInRow(1, yellow), 321);
    EXPECT_EQ(image.pixel(321, 1), yellow);
    EXPECT_EQ(image.pixel(0, 1), PixelCanvas::BtnShadow);
    EXPECT_EQ(image.pixel(100, 0), PixelCanvas::BtnShadow);
}

struct AlignmentCase {
    const char* name;
    controls::TAlignment alignment;
};

class MeterCaptionAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(MeterCaptionAlignment, CaptionIsPlacedAsAlignmentSaysOnOneLineInsideTheFrames) {
    ShownMeter meter;
    meter->setAlignment(GetParam().alignment);
    meter->setMax(4);
    meter->setPosition(2);
    const PixelCanvas& image = meter.render();
    ASSERT_EQ(image.texts().size(), 1u) << "the caption was drawn";
    const PixelCanvas::Text& caption = image.texts()[0];
    EXPECT_EQ(caption.alignment, GetParam().alignment);
    EXPECT_EQ(caption.text, "50%");
    // The inner area is 1..320 by 1..19: 19 rows, one line of 13, 6 spare, 3 above.
    EXPECT_EQ(caption.line, (controls::TRect{1, 4, 320, PixelCanvas::LineHeight}));
    EXPECT_EQ(caption.font, meter->Font());
}

INSTANTIATE_TEST_SUITE_P(Cases, MeterCaptionAlignment,
                         ::testing::Values(AlignmentCase{"Left", controls::TAlignment::LeftJustify},
                                           AlignmentCase{"Right",
                                                         controls::TAlignment::RightJustify},
                                           AlignmentCase{"Centre", controls::TAlignment::Center}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
