#pragma once
// What a form asks of its window system: a window of a given look, and the controls in it, laid
// out as the form describes them. Qt and the Windows API each implement it in platform/; the form
// itself never names either.

#include "controls/Control.h"
#include "controls/CustomPanel.h"

#include <string>

namespace controls {

// The form's window.
struct FormDesign {
    std::string Caption{}; // title bar text (UTF-8)
    int ClientWidth = 0;
    int ClientHeight = 0;
    TFont Font{};             // inherited by controls that have none of their own
    TColor Color = clBtnFace; // client area background
};

enum class ControlKind { Label, Edit, Button };

// One standard control. Controls are made in tab order: the focusable ones (edit boxes and
// buttons) take Tab in the order they are added.
struct ControlDesign {
    ControlKind Kind = ControlKind::Label;
    std::string Text{};
    TRect Bounds{};
    TFont Font{};
    bool ParentFont = true;                         // ignore Font, take the form's
    TAlignment Alignment = TAlignment::LeftJustify; // labels
    bool WordWrap = false;                          // labels: break lines at the right edge
    bool StretchRight = false;                      // keeps its right margin when the form resizes
    bool Default = false; // buttons: pressed by Enter when no button has focus
    bool Enabled = true;
};

class FormHost {
public:
    virtual ~FormHost() = default;

    // Sets the window's title, client size, font and colour.
    virtual void designForm(const FormDesign& design) = 0;
    // Makes a standard control; the host owns it for the form's lifetime.
    virtual TControl& addControl(const ControlDesign& design) = 0;
    // Gives `panel` (owned by the form) a window at `bounds`, in which it paints itself; the
    // panel takes no keyboard focus, and `transparentToMouse` lets clicks through.
    // Returns the panel's window as a control: its bounds, and its text (the panel's shown text).
    virtual TControl& addPanel(TCustomPanel& panel, const TRect& bounds,
                               bool transparentToMouse) = 0;
};

} // namespace controls
