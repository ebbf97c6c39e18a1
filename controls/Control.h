#pragma once
// A standard control (label, edit box, push button) as the form sees it, whatever window system
// made it: its text, its state, where it sits, and the events it raises.

#include "controls/Geometry.h"

#include <functional>
#include <string>

namespace controls {

class TControl {
public:
    virtual ~TControl() = default;

    // The caption of a label or button, the text of an edit box (UTF-8).
    virtual std::string Text() const = 0;
    // Replaces the text; an edit box raises OnChange when it differs.
    virtual void setText(const std::string& text) = 0;
    virtual bool Enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    // Where the control sits in its form's client area, as the window system has it.
    virtual TRect BoundsRect() const = 0;
    // Gives the control the keyboard focus.
    virtual void SetFocus() = 0;
    virtual bool Focused() const = 0;

    // Raised when the operator presses the button (mouse, Space, Enter as the default button).
    std::function<void()> OnClick;
    // Raised when the text of an edit box changes, by the operator or by setText().
    std::function<void()> OnChange;
};

} // namespace controls
