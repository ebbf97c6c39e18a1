#pragma once
// A form's window made with the Windows API: a top-level window in the button-face colour,
// STATIC, EDIT and BUTTON controls for the standard controls, and a window of its own for each
// panel, painted with GDI. Tab and Enter work as in a dialog box (see runMainWindow's loop).

#include "controls/FormHost.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace platform {

class Win32Form : public controls::FormHost {
public:
    Win32Form();
    ~Win32Form() override;
    Win32Form(const Win32Form&) = delete;
    Win32Form& operator=(const Win32Form&) = delete;

    void designForm(const controls::FormDesign& design) override;
    controls::TControl& addControl(const controls::ControlDesign& design) override;
    controls::TControl& addPanel(controls::TCustomPanel& panel, const controls::TRect& bounds,
                                 bool transparentToMouse) override;

    // The top-level window (null until designForm()).
    HWND handle() const { return window_; }
    // The window behind a control that a Win32Form made (null for another's).
    static HWND handleOf(const controls::TControl& control);
    // Shows the window, centred on the screen's work area, and gives the first control in tab
    // order the focus.
    void show();
    // True once the window has been destroyed (closed by the operator or the program).
    bool closed() const { return window_ == nullptr; }

private:
    class Control;
    class Panel;

    static LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(HWND window, UINT message, WPARAM w, LPARAM l);
    // The system colour the client area is painted in: the form's, when it is one; button face
    // for an RGB colour, which this window does not paint.
    int backgroundIndex() const;
    Control* controlOf(HWND window) const;
    // Gives the thick frame to the button that Enter presses now.
    void markDefaultButton();

    HWND window_ = nullptr;
    controls::FormDesign design_;
    std::vector<std::unique_ptr<Control>> controls_;
    int defaultId_ = 0;
    HWND lastFocus_ = nullptr;
};

} // namespace platform
