#pragma once
// A panel's Qt window: paints the panel on a QtCanvas and carries its redraw requests to Qt.

#include "controls/CustomPanel.h"

#include <QWidget>

namespace platform {

class PanelWidget : public QWidget, public controls::PanelHost {
    Q_OBJECT
public:
    // Shows `panel` (not owned; either may be destroyed first) with its font; `transparentToMouse`
    // lets clicks through to what lies below.
    PanelWidget(controls::TCustomPanel& panel, bool transparentToMouse, QWidget* parent = nullptr);
    ~PanelWidget() override;

    // The panel shown, or nullptr once it is destroyed.
    controls::TCustomPanel* panel() const { return panel_; }
    // The text the panel shows now.
    const std::string& shownText() const { return shownText_; }

    void invalidate() override;
    void repaint() override;
    void textChanged(const std::string& text) override;
    void panelDestroyed() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void syncFont();

    controls::TCustomPanel* panel_;
    std::string shownText_;
    bool synced_ = false;
    bool syncedParent_ = true;
    controls::TFont syncedFont_;
};

} // namespace platform
