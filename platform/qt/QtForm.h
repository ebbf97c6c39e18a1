#pragma once
// A form's window made with Qt widgets: QLabel, QLineEdit and QPushButton for the standard
// controls, a PanelWidget for each panel; Enter, Tab, resizing and centring as the form expects.

#include "controls/FormHost.h"

#include <QWidget>

#include <memory>
#include <vector>

class QPushButton;

namespace platform {

class QtForm : public QWidget, public controls::FormHost {
    Q_OBJECT
public:
    explicit QtForm(QWidget* parent = nullptr);
    ~QtForm() override;

    void designForm(const controls::FormDesign& design) override;
    controls::TControl& addControl(const controls::ControlDesign& design) override;
    controls::TControl& addPanel(controls::TCustomPanel& panel, const controls::TRect& bounds,
                                 bool transparentToMouse) override;

    // The Qt widget behind a control that a QtForm made.
    static QWidget* widgetOf(const controls::TControl& control);

protected:
    // Enter presses the focused push button, or the default button when no button has the focus.
    void keyPressEvent(QKeyEvent* event) override;
    // Keeps the right margin of the controls that stretch.
    void resizeEvent(QResizeEvent* event) override;
    // The first time the window is shown, centres it, frame included, on its screen.
    void showEvent(QShowEvent* event) override;

private:
    class Control;

    std::vector<std::unique_ptr<Control>> controls_;
    QPushButton* defaultButton_ = nullptr;
    int designWidth_ = 0;
    bool centred_ = false;
};

} // namespace platform
