// The progress meter as its user sees it: the percentage and caption it computes, the bar and
// caption it draws, and when it redraws.

#include "MeterTestSupport.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPalette>

#include <ostream>
#include <string>

using controls::TzelMeter;
using namespace metertest;

namespace {

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
    auto meter = shownMeter();
    meter->setMax(c.max);
    meter->setMin(c.min);
    meter->setPosition(c.position);
    meter->setMeterText(c.meterText);
    EXPECT_EQ(meter->Percent(), c.percent);
    EXPECT_EQ(meter->DisplayText(), c.caption);
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
    auto meter = shownMeter();
    meter->setPosition(50);
    meter->setMax(40);
    EXPECT_EQ(meter->Percent(), 125);
    EXPECT_EQ(meter->DisplayText(), "125%");
}

TEST(Meter, RaisingMinAbovePositionShowsNegativePercentAndNoBar) {
    auto meter = shownMeter();
    meter->setMin(10);
    EXPECT_EQ(meter->Percent(), -11);
    EXPECT_EQ(meter->DisplayText(), "-11%");
    EXPECT_EQ(countInRow(render(*meter), 1, QColor(Qt::yellow)), 0);
}

TEST(Meter, NewMeterShowsFramesAndBackgroundOnly) {
    auto meter = shownMeter();
    EXPECT_EQ(meter->Max(), 100);
    EXPECT_EQ(meter->Min(), 0);
    EXPECT_EQ(meter->Position(), 0);
    EXPECT_EQ(meter->FillColor(), 0x0000FFFFu);
    EXPECT_EQ(meter->BevelOuter(), controls::BevelCut::Lowered);
    EXPECT_TRUE(meter->DisplayText().empty());

    const QImage image = render(*meter);
    const QColor face = meter->palette().color(QPalette::Button);
    for (int y = 1; y < 20; ++y)
        EXPECT_EQ(countInRow(image, y, face), 320) << "row " << y;
}

struct OutOfRangeCase {
    const char* name;
    std::int32_t min, max, start, write;
};

class MeterOutOfRange : public ::testing::TestWithParam<OutOfRangeCase> {};

TEST_P(MeterOutOfRange, PositionWriteOutsideRangeIsIgnoredWithoutRepaint) {
    const OutOfRangeCase& c = GetParam();
    auto meter = shownMeter();
    meter->setMax(c.max);
    meter->setPosition(c.start);
    meter->setMin(c.min);
    settle();
    const int paints = meter->paintCount();
    const std::string caption = meter->DisplayText();

    meter->setPosition(c.write);
    settle();
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
    auto meter = shownMeter();
    meter->setMax(4);
    for (int step = 1; step <= 4; ++step) {
        meter->StepIt();
        EXPECT_EQ(meter->Percent(), 25 * step);
    }
    settle();
    const int paints = meter->paintCount();
    meter->StepIt();
    settle();
    EXPECT_EQ(meter->Position(), 4);
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, EmptyingTheRangeKeepsTheLastBarAndCaption) {
    auto meter = shownMeter();
    meter->setMax(4);
    meter->StepIt();
    settle();
    const int paints = meter->paintCount();
    meter->setMax(0);
    settle();
    EXPECT_EQ(meter->Max(), 0);
    EXPECT_EQ(meter->Percent(), 25);
    EXPECT_EQ(meter->DisplayText(), "25%");
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, ChangeRepaintsBeforeTheWriteReturns) {
    auto meter = shownMeter();
    const int paints = meter->paintCount();
    meter->setMax(4); // shows 0% for the first time
    EXPECT_EQ(meter->paintCount(), paints + 1);
    meter->setMeterText("Открытие базы");
    EXPECT_EQ(meter->paintCount(), paints + 2);
    meter->StepIt();
    EXPECT_EQ(meter->paintCount(), paints + 3);
}

TEST(Meter, WritesOfCurrentValuesCauseNoRepaint) {
    auto meter = shownMeter();
    meter->setMax(4);
    meter->setPosition(2);
    meter->setMeterText("Этап");
    settle();
    const int paints = meter->paintCount();

    meter->setPosition(2);
    meter->setMeterText("Этап");
    meter->setMax(4);
    meter->setMin(0);
    settle();
    EXPECT_EQ(meter->paintCount(), paints);
}

TEST(Meter, FillColorAlwaysRequestsDeferredRepaint) {
    auto meter = shownMeter();
    const int paints = meter->paintCount();
    meter->setFillColor(meter->FillColor());
    EXPECT_EQ(meter->paintCount(), paints) << "the redraw waits for the event loop";
    settle();
    EXPECT_EQ(meter->paintCount(), paints + 1);

    meter->setFillColor(controls::clRed);
    meter->setMax(4);
    meter->setPosition(4);
    EXPECT_EQ(countInRow(render(*meter), 1, QColor(Qt::red)), 320);
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
    auto meter = shownMeter(c.width);
    meter->setMax(c.max);
    meter->setPosition(c.position);
    const QImage image = render(*meter);
    const QColor yellow(Qt::yellow);
    EXPECT_EQ(countInRow(image, 1, yellow), c.barPixels);
    if (c.barPixels > 0) {
        EXPECT_EQ(pixel(image, 1, 1), rgb(yellow));
        EXPECT_EQ(pixel(image, c.barPixels, 1), rgb(yellow));
    }
    EXPECT_NE(pixel(image, 0, 1), rgb(yellow)) << "the left bevel stays";
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
    auto meter = shownMeter();
    meter->setPosition(50);
    meter->setMax(40);
    const QImage image = render(*meter);
    const QColor yellow(Qt::yellow);
    EXPECT_EQ(countInRow(image, 1, yellow), 321);
    EXPECT_EQ(pixel(image, 321, 1), rgb(yellow));
    const QRgb shadow = rgb(meter->palette().color(QPalette::Dark));
    EXPECT_EQ(pixel(image, 0, 1), shadow);
    EXPECT_EQ(pixel(image, 100, 0), shadow);
}

struct AlignmentCase {
    const char* name;
    controls::TAlignment alignment;
};

class MeterCaptionAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(MeterCaptionAlignment, CaptionSitsWhereAlignmentPutsIt) {
    auto meter = shownMeter();
    meter->setAlignment(GetParam().alignment);
    meter->setMax(4);
    meter->setPosition(2);
    const QImage image = render(*meter);
    const QColor face = meter->palette().color(QPalette::Button);
    auto [first, last] = inkColumns(image, QRect(1, 1, 320, 19), face, QColor(Qt::yellow));
    ASSERT_GE(first, 0) << "the caption was drawn";
    const int leftGap = first - 1, rightGap = 320 - last;
    switch (GetParam().alignment) {
    case controls::TAlignment::LeftJustify:
        EXPECT_LE(leftGap, 2);
        break;
    case controls::TAlignment::RightJustify:
        EXPECT_LE(rightGap, 2);
        break;
    case controls::TAlignment::Center:
        EXPECT_LE(std::abs(leftGap - rightGap), 3);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MeterCaptionAlignment,
                         ::testing::Values(AlignmentCase{"Left", controls::TAlignment::LeftJustify},
                                           AlignmentCase{"Right",
                                                         controls::TAlignment::RightJustify},
                                           AlignmentCase{"Centre", controls::TAlignment::Center}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Meter, CaptionStaysInsideTheFramesOnOneLine) {
    auto meter = shownMeter();
    const QImage blank = render(*meter);
    meter->setMeterText(std::string(200, 'W'));
    const QImage wide = render(*meter);
    const QColor face = meter->palette().color(QPalette::Button);

    // Nothing of the caption reaches the frames.
    for (int y = 0; y < 21; ++y) {
        EXPECT_EQ(pixel(wide, 0, y), pixel(blank, 0, y));
        EXPECT_EQ(pixel(wide, 321, y), pixel(blank, 321, y));
    }
    // The ink lies within one text line centred in the inner area, the odd pixel below.
    const int lineHeight = QFontMetrics(meter->font()).height();
    const int top = (1 + 20 - lineHeight) / 2;
    for (int y = 1; y < 20; ++y) {
        if (y < top || y >= top + lineHeight) {
            EXPECT_EQ(countInRow(wide, y, face), 320) << "row " << y;
        }
    }
    auto [first, last] = inkColumns(wide, QRect(1, top, 320, lineHeight), face, face);
    EXPECT_LE(first, 2);
    EXPECT_GE(last, 319);

    meter->setMeterText("Выполнено\nВторая строка");
    const QImage twoLines = render(*meter);
    meter->setMeterText("Выполнено");
    EXPECT_EQ(twoLines, render(*meter)) << "only the first line shows";
}

} // namespace
