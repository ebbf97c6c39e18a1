// The panel base and its frames: bevel colours, widths and the order of bevels, band and
// background, the caption a plain panel draws, and when a panel asks to be redrawn.

#include "controls/CustomPanel.h"
#include "controls/Frame3D.h"
#include "support/PixelCanvas.h"
#include "support/RecordingPanelHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using controls::BevelCut;
using controls::TCustomPanel;
using controls::TRect;
using testsupport::PixelCanvas;
using testsupport::RecordingPanelHost;

namespace {

class Frame3DWidth : public ::testing::TestWithParam<int> {};

TEST_P(Frame3DWidth, DrawsWidthPixelsInsideTheRectangleAndShrinksIt) {
    const int width = GetParam();
    PixelCanvas canvas(20, 12);
    TRect rect{2, 1, 16, 10};
    controls::Frame3D(canvas, rect, controls::clRed, controls::clBlue, width);
    EXPECT_EQ(rect, (TRect{2 + width, 1 + width, 16 - 2 * width, 10 - 2 * width}));
    const auto blank = PixelCanvas::Unpainted, red = controls::clRed, blue = controls::clBlue;
    // Away from the corners: top and left in the top colour, bottom and right in the bottom one.
    for (int ring = 0; ring < width; ++ring) {
        EXPECT_EQ(canvas.pixel(9, 1 + ring), red) << "top, ring " << ring;
        EXPECT_EQ(canvas.pixel(2 + ring, 6), red) << "left, ring " << ring;
        EXPECT_EQ(canvas.pixel(9, 10 - ring), blue) << "bottom, ring " << ring;
        EXPECT_EQ(canvas.pixel(17 - ring, 6), blue) << "right, ring " << ring;
    }
    // Nothing outside the rectangle, nothing inside the frame.
    EXPECT_EQ(canvas.pixel(9, 0), blank);
    EXPECT_EQ(canvas.pixel(1, 6), blank);
    EXPECT_EQ(canvas.pixel(18, 6), blank);
    EXPECT_EQ(canvas.pixel(9, 1 + width), blank);
    EXPECT_EQ(canvas.pixel(9, 10 - width), blank);
    EXPECT_TRUE(canvas.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Widths, Frame3DWidth, ::testing::Values(0, 1, 3));

TEST(Frame3D, UsedUpRectangleDrawsNothingButStillShrinks) {
    PixelCanvas canvas(8, 8);
    TRect rect{2, 2, 4, 4};
    controls::Frame3D(canvas, rect, controls::clRed, controls::clBlue, 3);
    EXPECT_EQ(rect, (TRect{5, 5, -2, -2}));
    // Two rings fill the 4 x 4 square; the third finds it empty and paints nothing outside.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
            EXPECT_EQ(canvas.pixel(x, y) != PixelCanvas::Unpainted, inside) << x << "," << y;
        }
}

struct BevelCase {
    const char* name;
    BevelCut outer, inner;
    int bevelWidth, borderWidth;
    // Expected colour of the columns from the left edge inwards, and from the right edge
    // inwards, on the middle row: 'S' shadow, 'H' highlight, 'C' the panel's Color.
    const char* fromLeft;
    const char* fromRight;
};

class PanelBevels : public ::testing::TestWithParam<BevelCase> {};

TEST_P(PanelBevels, FramesHaveTheirColoursWidthsAndOrder) {
    const BevelCase& c = GetParam();
    const controls::TColor green = 0x00008000; // distinct from every bevel colour
    TCustomPanel panel;
    RecordingPanelHost host(panel, 40, 20);
    panel.setBevelOuter(c.outer);
    panel.setBevelInner(c.inner);
    panel.setBevelWidth(c.bevelWidth);
    panel.setBorderWidth(c.borderWidth);
    panel.setColor(green);
    const PixelCanvas& image = host.paint();

    auto expected = [&](char code) {
        switch (code) {
        case 'S':
            return PixelCanvas::BtnShadow;
        case 'H':
            return PixelCanvas::BtnHighlight;
        default:
            return green;
        }
    };
    for (int i = 0; c.fromLeft[i]; ++i)
        EXPECT_EQ(image.pixel(i, 10), expected(c.fromLeft[i])) << "column " << i;
    for (int i = 0; c.fromRight[i]; ++i)
        EXPECT_EQ(image.pixel(39 - i, 10), expected(c.fromRight[i])) << "column " << 39 - i;
    // Rows run the same way as columns: top like left, bottom like right.
    for (int i = 0; c.fromLeft[i]; ++i)
        EXPECT_EQ(image.pixel(20, i), expected(c.fromLeft[i])) << "row " << i;
    for (int i = 0; c.fromRight[i]; ++i)
        EXPECT_EQ(image.pixel(20, 19 - i), expected(c.fromRight[i])) << "row " << 19 - i;
    // Every pixel is painted: the panel needs nothing erased behind it.
    for (int y = 0; y < 20; ++y)
        EXPECT_EQ(image.countInRow(y, PixelCanvas::Unpainted), 0) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PanelBevels,
    ::testing::Values(BevelCase{"Lowered", BevelCut::Lowered, BevelCut::None, 1, 0, "SC", "HC"},
                      BevelCase{"Raised", BevelCut::Raised, BevelCut::None, 1, 0, "HC", "SC"},
                      BevelCase{"Space", BevelCut::Space, BevelCut::None, 1, 0, "HC", "SC"},
                      BevelCase{"NoBevel", BevelCut::None, BevelCut::None, 1, 0, "CC", "CC"},
                      BevelCase{"RaisedOverLowered", BevelCut::Raised, BevelCut::Lowered, 1, 0,
                                "HSC", "SHC"},
                      BevelCase{"WideBevelsAroundBand", BevelCut::Lowered, BevelCut::Raised, 2, 1,
                                "SSCHHC", "HHCSSC"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Panel, DrawsItsCaptionCentredInItsFontColour) {
    TCustomPanel panel;
    RecordingPanelHost host(panel, 52, 28);
    panel.setBevelInner(BevelCut::Lowered);
    panel.setFontColor(controls::clBlue);
    EXPECT_TRUE(host.paint().texts().empty()) << "no caption, no text";
    panel.setCaption("№ 16");
    const PixelCanvas& image = host.paint();

    ASSERT_EQ(image.texts().size(), 1u);
    const PixelCanvas::Text& caption = image.texts()[0];
    EXPECT_EQ(caption.text, "№ 16");
    EXPECT_EQ(caption.font.Color, controls::clBlue);
    EXPECT_EQ(caption.alignment, controls::TAlignment::Center);
    // One line inside both bevels (2 pixels each side), vertically centred: (2 + 26 - 13) / 2.
    EXPECT_EQ(caption.line, (TRect{2, 7, 48, PixelCanvas::LineHeight}));
    EXPECT_EQ(host.announced, std::vector<std::string>{"№ 16"});
}

TEST(Panel, CaptionLineGivesTheOddSparePixelBelow) {
    TCustomPanel panel;
    RecordingPanelHost host(panel, 30, 18); // inner 16 rows: 3 spare, 1 above and 2 below
    panel.setCaption("x");
    ASSERT_EQ(host.paint().texts().size(), 1u);
    EXPECT_EQ(host.lastPaint().texts()[0].line, (TRect{1, 2, 28, PixelCanvas::LineHeight}));
}

TEST(Panel, FontFollowsTheParentUntilItHasItsOwn) {
    TCustomPanel panel;
    RecordingPanelHost host(panel, 40, 20);
    panel.setCaption("A");
    controls::TFont parent;
    parent.Names = {"Arial"};
    parent.Height = 15;
    panel.inheritFont(parent);
    EXPECT_TRUE(panel.ParentFont());
    EXPECT_EQ(host.paint().texts().at(0).font, parent);

    panel.setFontColor(controls::clRed); // a font of its own, otherwise the parent's
    EXPECT_FALSE(panel.ParentFont());
    controls::TFont own = parent;
    own.Color = controls::clRed;
    panel.inheritFont(controls::TFont{});
    EXPECT_EQ(host.paint().texts().at(0).font, own);

    panel.setParentFont(true);
    EXPECT_EQ(host.paint().texts().at(0).font, controls::TFont{});
}

// Every write that changes how the panel looks schedules one redraw; writing the value it
// already has schedules none.
TEST(Panel, ChangesScheduleARedrawAndSameValuesDoNot) {
    const std::vector<std::pair<const char*, std::function<void(TCustomPanel&)>>> writes = {
        {"BevelOuter", [](TCustomPanel& p) { p.setBevelOuter(BevelCut::Lowered); }},
        {"BevelInner", [](TCustomPanel& p) { p.setBevelInner(BevelCut::Raised); }},
        {"BevelWidth", [](TCustomPanel& p) { p.setBevelWidth(2); }},
        {"BorderWidth", [](TCustomPanel& p) { p.setBorderWidth(3); }},
        {"Color", [](TCustomPanel& p) { p.setColor(controls::clNavy); }},
        {"Alignment", [](TCustomPanel& p) { p.setAlignment(controls::TAlignment::LeftJustify); }},
        {"Caption", [](TCustomPanel& p) { p.setCaption("№ 16"); }},
        {"FontColor", [](TCustomPanel& p) { p.setFontColor(controls::clBlue); }},
    };
    for (const auto& [name, write] : writes) {
        SCOPED_TRACE(name);
        TCustomPanel panel;
        RecordingPanelHost host(panel, 40, 20);
        write(panel);
        EXPECT_EQ(panel.paintCount(), 0) << "the redraw waits for the event loop";
        host.settle();
        EXPECT_EQ(panel.paintCount(), 1);
        if (std::string(name) != "FontColor") { // setFont always redraws
            write(panel);
            host.settle();
            EXPECT_EQ(panel.paintCount(), 1) << "the same value again";
        }
    }
}

TEST(Panel, NegativeWidthsCountAsZero) {
    TCustomPanel panel;
    panel.setBevelWidth(-3);
    panel.setBorderWidth(-1);
    EXPECT_EQ(panel.BevelWidth(), 0);
    EXPECT_EQ(panel.BorderWidth(), 0);
    RecordingPanelHost host(panel, 10, 10);
    EXPECT_EQ(host.paint().countInRow(0, controls::clBtnFace), 10) << "no bevel drawn";
}

} // namespace
