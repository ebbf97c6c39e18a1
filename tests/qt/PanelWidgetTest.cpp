// The panels on screen in their Qt window: the desktop's colours for the bevels, the caption's
// ink where its alignment puts it and on one line inside the frames, and redraws that reach Qt.

#include "platform/qt/PanelWidget.h"
#include "controls/zelMeter.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPalette>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

using controls::BevelCut;
using platform::PanelWidget;

namespace {

// Lets posted paints and other events run, so a later count sees only what the test caused.
void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A panel in its own window of `width` by `height`, shown and settled.
template <typename Panel> struct Shown {
    explicit Shown(int width, int height) {
        widget = std::make_unique<PanelWidget>(panel, false);
        widget->resize(width, height);
        widget->show();
        settle();
    }
    ~Shown() { widget.reset(); } // the window goes before its panel
    Panel* operator->() { return &panel; }
    QImage render() { return widget->grab().toImage(); }
    QColor colour(QPalette::ColorRole role) const { return widget->palette().color(role); }

    Panel panel;
    std::unique_ptr<PanelWidget> widget;
};

// Colours compared as opaque RGB, whatever the image format and colour model.
QRgb rgb(const QColor& colour) {
    return colour.rgb() & 0xFFFFFFu;
}
QRgb pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}

// How many pixels of row `y` have colour `colour`.
int countInRow(const QImage& image, int y, const QColor& colour) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += pixel(image, x, y) == rgb(colour);
    return count;
}

// The first and last column of the rectangle's pixels that differ from both `a` and `b`
// (the caption's ink), or {-1, -1} when there is none.
std::pair<int, int> inkColumns(const QImage& image, const QRect& area, const QColor& a,
                               const QColor& b) {
    int first = -1, last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = pixel(image, x, y);
            if (c != rgb(a) && c != rgb(b)) {
                if (first < 0 || x < first)
                    first = x;
                last = std::max(last, x);
            }
        }
    return {first, last};
}

TEST(QtPanel, BevelsAndFaceTakeTheDesktopsColours) {
    Shown<controls::TCustomPanel> panel(40, 20);
    panel->setBevelInner(BevelCut::Lowered);
    const QImage image = panel.render();
    const QRgb light = rgb(panel.colour(QPalette::Light)), dark = rgb(panel.colour(QPalette::Dark));
    // Raised outside lowered: highlight, shadow, then the button face; the other way round
    // on the right.
    EXPECT_EQ(pixel(image, 0, 10), light);
    EXPECT_EQ(pixel(image, 1, 10), dark);
    EXPECT_EQ(pixel(image, 2, 10), rgb(panel.colour(QPalette::Button)));
    EXPECT_EQ(pixel(image, 39, 10), dark);
    EXPECT_EQ(pixel(image, 38, 10), light);
}

TEST(QtPanel, DrawsItsCaptionCentredInItsFontColour) {
    Shown<controls::TCustomPanel> panel(52, 28);
    panel->setBevelInner(BevelCut::Lowered);
    panel->setFontColor(controls::clBlue);
    const QImage blank = panel.render();
    panel->setCaption("№ 16");
    const QImage captioned = panel.render();

    const QColor face = panel.colour(QPalette::Button);
    auto [first, last] = inkColumns(captioned, QRect(2, 2, 48, 24), face, face);
    ASSERT_GE(first, 0);
    EXPECT_LE(std::abs((first - 2) - (49 - last)), 3);
    EXPECT_EQ(countInRow(blank, 14, QColor(Qt::blue)), 0);
    bool blueInk = false;
    for (int y = 2; y < 26; ++y)
        blueInk = blueInk || countInRow(captioned, y, QColor(Qt::blue)) > 0;
    EXPECT_TRUE(blueInk);
    EXPECT_EQ(panel.widget->shownText(), "№ 16");
}

struct AlignmentCase {
    const char* name;
    controls::TAlignment alignment;
};

class QtMeterCaptionAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(QtMeterCaptionAlignment, CaptionSitsWhereAlignmentPutsIt) {
    Shown<controls::TzelMeter> meter(322, 21);
    meter->setAlignment(GetParam().alignment);
    meter->setMax(4);
    meter->setPosition(2);
    const QImage image = meter.render();
    const QColor face = meter.colour(QPalette::Button);
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

INSTANTIATE_TEST_SUITE_P(Cases, QtMeterCaptionAlignment,
                         ::testing::Values(AlignmentCase{"Left", controls::TAlignment::LeftJustify},
                                           AlignmentCase{"Right",
                                                         controls::TAlignment::RightJustify},
                                           AlignmentCase{"Centre", controls::TAlignment::Center}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QtMeter, CaptionStaysInsideTheFramesOnOneLine) {
    Shown<controls::TzelMeter> meter(322, 21);
    const QImage blank = meter.render();
    meter->setMeterText(std::string(200, 'W'));
    const QImage wide = meter.render();
    const QColor face = meter.colour(QPalette::Button);

    // Nothing of the caption reaches the frames.
    for (int y = 0; y < 21; ++y) {
        EXPECT_EQ(pixel(wide, 0, y), pixel(blank, 0, y));
        EXPECT_EQ(pixel(wide, 321, y), pixel(blank, 321, y));
    }
    // The ink lies within one text line centred in the inner area, the odd pixel below.
    const int lineHeight = QFontMetrics(meter.widget->font()).height();
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
    const QImage twoLines = meter.render();
    meter->setMeterText("Выполнено");
    EXPECT_EQ(twoLines, meter.render()) << "only the first line shows";
}

TEST(QtMeter, ChangesRepaintAtOnceAndFillColourWaitsForTheEventLoop) {
    Shown<controls::TzelMeter> meter(322, 21);
    int paints = meter->paintCount();
    meter->setMax(4);
    EXPECT_EQ(meter->paintCount(), ++paints) << "painted before the write returned";
    meter->StepIt();
    EXPECT_EQ(meter->paintCount(), ++paints);
    EXPECT_EQ(meter.widget->shownText(), "25%");

    meter->setFillColor(controls::clRed);
    EXPECT_EQ(meter->paintCount(), paints) << "the redraw waits for the event loop";
    settle();
    EXPECT_EQ(meter->paintCount(), paints + 1);
    EXPECT_EQ(countInRow(meter.render(), 1, QColor(Qt::red)), 80);
}

} // namespace
