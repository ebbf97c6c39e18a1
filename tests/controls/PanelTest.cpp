// The panel base and its frames: bevel colours, widths and the order of bevels, band and
// background, and the caption a plain panel draws.

#include "MeterTestSupport.h"

#include "controls/CustomPanel.h"
#include "controls/Frame3D.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPalette>

#include <vector>

using controls::BevelCut;
using controls::TCustomPanel;
using namespace metertest;

namespace {

class Frame3DWidth : public ::testing::TestWithParam<int> {};

TEST_P(Frame3DWidth, DrawsWidthPixelsInsideTheRectangleAndShrinksIt) {
    const int width = GetParam();
    QImage image(20, 12, QImage::Format_RGB32);
    image.fill(Qt::white);
    QRect rect(2, 1, 16, 10);
    {
        QPainter painter(&image);
        controls::Frame3D(painter, rect, Qt::red, Qt::blue, width);
    }
    EXPECT_EQ(rect, QRect(2 + width, 1 + width, 16 - 2 * width, 10 - 2 * width));
    const QRgb white = rgb(Qt::white), red = rgb(Qt::red), blue = rgb(Qt::blue);
    // Away from the corners: top and left in the top colour, bottom and right in the bottom one.
    for (int ring = 0; ring < width; ++ring) {
        EXPECT_EQ(pixel(image, 9, 1 + ring), red) << "top, ring " << ring;
        EXPECT_EQ(pixel(image, 2 + ring, 6), red) << "left, ring " << ring;
        EXPECT_EQ(pixel(image, 9, 10 - ring), blue) << "bottom, ring " << ring;
        EXPECT_EQ(pixel(image, 17 - ring, 6), blue) << "right, ring " << ring;
    }
    // Nothing outside the rectangle, nothing inside the frame.
    EXPECT_EQ(pixel(image, 9, 0), white);
    EXPECT_EQ(pixel(image, 1, 6), white);
    EXPECT_EQ(pixel(image, 18, 6), white);
    EXPECT_EQ(pixel(image, 9, 1 + width), white);
    EXPECT_EQ(pixel(image, 9, 10 - width), white);
}

INSTANTIATE_TEST_SUITE_P(Widths, Frame3DWidth, ::testing::Values(0, 1, 3));

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
    TCustomPanel panel;
    panel.resize(40, 20);
    panel.setBevelOuter(c.outer);
    panel.setBevelInner(c.inner);
    panel.setBevelWidth(c.bevelWidth);
    panel.setBorderWidth(c.borderWidth);
    panel.setColor(0x00008000); // green, distinct from every bevel colour
    const QImage image = render(panel);

    auto expected = [&](char code) {
        switch (code) {
        case 'S':
            return rgb(panel.palette().color(QPalette::Dark));
        case 'H':
            return rgb(panel.palette().color(QPalette::Light));
        default:
            return rgb(QColor(0, 0x80, 0));
        }
    };
    for (int i = 0; c.fromLeft[i]; ++i)
        EXPECT_EQ(pixel(image, i, 10), expected(c.fromLeft[i])) << "column " << i;
    for (int i = 0; c.fromRight[i]; ++i)
        EXPECT_EQ(pixel(image, 39 - i, 10), expected(c.fromRight[i])) << "column " << 39 - i;
    // Rows run the same way as columns: top like left, bottom like right.
    for (int i = 0; c.fromLeft[i]; ++i)
        EXPECT_EQ(pixel(image, 20, i), expected(c.fromLeft[i])) << "row " << i;
    for (int i = 0; c.fromRight[i]; ++i)
        EXPECT_EQ(pixel(image, 20, 19 - i), expected(c.fromRight[i])) << "row " << 19 - i;
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
    panel.resize(52, 28);
    panel.setBevelInner(BevelCut::Lowered);
    panel.setFontColor(controls::clBlue);
    const QImage blank = render(panel);
    panel.setCaption(QStringLiteral("№ 16"));
    const QImage captioned = render(panel);

    const QColor face = panel.palette().color(QPalette::Button);
    auto [first, last] = inkColumns(captioned, QRect(2, 2, 48, 24), face, face);
    ASSERT_GE(first, 0);
    EXPECT_LE(std::abs((first - 2) - (49 - last)), 3);
    EXPECT_EQ(countInRow(blank, 14, QColor(Qt::blue)), 0);
    bool blueInk = false;
    for (int y = 2; y < 26; ++y)
        blueInk = blueInk || countInRow(captioned, y, QColor(Qt::blue)) > 0;
    EXPECT_TRUE(blueInk);
}

} // namespace
