#pragma once
// A window for a panel in tests that need no window system. It paints as a window system does:
// repaint() paints at once, invalidate() marks the panel and settle() paints it once however
// often it was marked; each paint covers a fresh PixelCanvas of the host's size.

#include "controls/CustomPanel.h"
#include "support/PixelCanvas.h"

#include <string>
#include <vector>

namespace testsupport {

class RecordingPanelHost : public controls::PanelHost {
public:
    RecordingPanelHost(controls::TCustomPanel& panel, int width, int height)
        : panel_(panel), width_(width), height_(height), last_(width, height) {
        panel_.attach(this);
    }
    ~RecordingPanelHost() override {
        if (alive_)
            panel_.attach(nullptr);
    }
    RecordingPanelHost(const RecordingPanelHost&) = delete;
    RecordingPanelHost& operator=(const RecordingPanelHost&) = delete;

    void invalidate() override { pending_ = true; }
    void repaint() override { paint(); }
    void textChanged(const std::string& text) override { announced.push_back(text); }
    void panelDestroyed() override { alive_ = false; }

    // Paints the panel if it was marked since its last paint.
    void settle() {
        if (pending_)
            paint();
    }
    // Paints the panel now and returns what it drew.
    const PixelCanvas& paint() {
        pending_ = false;
        last_ = PixelCanvas(width_, height_);
        panel_.PaintOn(last_, {0, 0, width_, height_});
        return last_;
    }
    // What the panel drew last.
    const PixelCanvas& lastPaint() const { return last_; }

    // Every text the panel announced, oldest first.
    std::vector<std::string> announced;

private:
    controls::TCustomPanel& panel_;
    int width_;
    int height_;
    PixelCanvas last_;
    bool pending_ = false;
    bool alive_ = true; // the panel still exists
};

} // namespace testsupport
