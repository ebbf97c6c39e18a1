#include "platform/win32/Win32Form.h"

#include "engine/jet4/file/SystemFiles.h"
#include "platform/Handlers.h"
#include "platform/win32/GdiCanvas.h"

namespace platform {

namespace {

constexpr wchar_t FormClass[] = L"Patch16Form";
constexpr wchar_t PanelClass[] = L"Patch16Panel";
// Control identifiers start here; 1 and 2 are the dialog manager's IDOK and IDCANCEL.
constexpr int FirstControlId = 100;

HINSTANCE instance() {
    return GetModuleHandleW(nullptr);
}

std::string windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    return engine::jet4::sys::narrow(text);
}

// The rectangle of a child window in its parent's client area.
controls::TRect childBounds(HWND window) {
    RECT area{};
    GetWindowRect(window, &area);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&area), 2);
    return {area.left, area.top, area.right - area.left, area.bottom - area.top};
}

} // namespace

// One standard control: its window and its design.
class Win32Form::Control : public controls::TControl {
public:
    Control(HWND window, const controls::ControlDesign& design)
        : window_(window), design_(design) {}

    HWND window() const { return window_; }
    const controls::ControlDesign& design() const { return design_; }

    std::string Text() const override { return windowText(window_); }
    // An edit box tells its parent of the change (EN_CHANGE), which raises OnChange.
    void setText(const std::string& text) override {
        SetWindowTextW(window_, engine::jet4::sys::wide(text).c_str());
    }
    bool Enabled() const override { return IsWindowEnabled(window_) != FALSE; }
    void setEnabled(bool enabled) override {
        const bool focused = GetFocus() == window_;
        EnableWindow(window_, enabled ? TRUE : FALSE);
        // A disabled window keeps the focus it had, and the keyboard would then reach nothing:
        // the focus moves on to the next control in tab order, as a dialog box does.
        if (!enabled && focused)
            if (HWND next = GetNextDlgTabItem(GetParent(window_), window_, FALSE))
                ::SetFocus(next);
    }
    controls::TRect BoundsRect() const override { return childBounds(window_); }
    void SetFocus() override { ::SetFocus(window_); }
    bool Focused() const override { return GetFocus() == window_; }

protected:
    HWND window_;
    controls::ControlDesign design_;
};

// A panel's window: paints the panel with GDI and carries its redraw requests to Windows. Its
// window text is the text the panel shows, for screen readers and other programs to read.
class Win32Form::Panel : public Win32Form::Control, public controls::PanelHost {
public:
    Panel(controls::TCustomPanel& panel, bool transparentToMouse,
          const controls::ControlDesign& design)
        : Control(nullptr, design), panel_(&panel), transparent_(transparentToMouse) {}
    ~Panel() override {
        if (panel_)
            panel_->attach(nullptr);
    }

    void create(HWND parent) {
        const controls::TRect& b = design_.Bounds;
        window_ = CreateWindowExW(0, PanelClass, engine::jet4::sys::wide(panel_->Caption()).c_str(),
                                  WS_CHILD | WS_VISIBLE, b.Left, b.Top, b.Width, b.Height, parent,
                                  nullptr, instance(), this);
        panel_->attach(this);
    }

    void setText(const std::string& text) override {
        if (panel_)
            panel_->setCaption(text);
    }

    void invalidate() override { InvalidateRect(window_, nullptr, FALSE); }
    void repaint() override {
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    void panelDestroyed() override { panel_ = nullptr; }
    void textChanged(const std::string& text) override {
        SetWindowTextW(window_, engine::jet4::sys::wide(text).c_str());
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE) {
            auto* self = static_cast<Panel*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<Panel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self)
            switch (message) {
            case WM_ERASEBKGND:
                return 1; // the paint covers every pixel
            case WM_PAINT:
                self->paint(window);
                return 0;
            case WM_NCHITTEST:
                if (self->transparent_)
                    return HTTRANSPARENT;
                break;
            }
        return DefWindowProcW(window, message, w, l);
    }

private:
    // Paints into a bitmap first and copies it, so the many redraws of a run do not flicker.
    void paint(HWND window) {
        PAINTSTRUCT paint{};
        HDC screen = BeginPaint(window, &paint);
        RECT client{};
        GetClientRect(window, &client);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (panel_) {
            GdiCanvas canvas(memory);
            panel_->PaintOn(canvas, {0, 0, client.right, client.bottom});
        } else {
            FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
        }
        BitBlt(screen, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        EndPaint(window, &paint);
    }

    controls::TCustomPanel* panel_; // nullptr once the panel is destroyed
    bool transparent_;
};

Win32Form::Win32Form() {
    static const bool registered = [] {
        WNDCLASSEXW form{};
        form.cbSize = sizeof form;
        form.lpfnWndProc = formProcedure;
        form.hInstance = instance();
        // The program's icon is resource 1; a program without one gets the system's.
        form.hIcon = LoadIconW(instance(), MAKEINTRESOURCEW(1));
        form.hIconSm = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), 0));
        form.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        form.hbrBackground = nullptr; // WM_ERASEBKGND paints the form's colour
        form.lpszClassName = FormClass;
        RegisterClassExW(&form);
        WNDCLASSEXW panel{};
        panel.cbSize = sizeof panel;
        panel.lpfnWndProc = Panel::procedure;
        panel.hInstance = instance();
        panel.hCursor = form.hCursor;
        panel.lpszClassName = PanelClass;
        RegisterClassExW(&panel);
        return true;
    }();
    (void)registered;
}

Win32Form::~Win32Form() {
    if (window_) {
        // Destroying the window from here must not end the program's message loop.
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void Win32Form::designForm(const controls::FormDesign& design) {
    design_ = design;
    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, design.ClientWidth, design.ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    CreateWindowExW(0, FormClass, engine::jet4::sys::wide(design.Caption).c_str(), style,
                    CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                    frame.bottom - frame.top, nullptr, nullptr, instance(), this);
}

controls::TControl& Win32Form::addControl(const controls::ControlDesign& design) {
    const int id = FirstControlId + static_cast<int>(controls_.size());
    const wchar_t* windowClass = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD extended = 0;
    switch (design.Kind) {
    case controls::ControlKind::Label:
        if (design.Alignment == controls::TAlignment::Center)
            style |= SS_CENTER;
        else if (design.Alignment == controls::TAlignment::RightJustify)
            style |= SS_RIGHT;
        else
            style |= design.WordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
        // One line, centred vertically, unless the label wraps.
        if (!design.WordWrap)
            style |= SS_CENTERIMAGE;
        break;
    case controls::ControlKind::Edit:
        windowClass = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        extended = WS_EX_CLIENTEDGE;
        break;
    case controls::ControlKind::Button:
        windowClass = L"BUTTON";
        // BS_NOTIFY: the button tells when it gains and loses the focus, so the thick frame of
        // the button Enter presses can follow the focus.
        style |= WS_TABSTOP | BS_NOTIFY | (design.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        if (design.Default)
            defaultId_ = id;
        break;
    }
    const controls::TRect& b = design.Bounds;
    HWND window =
        CreateWindowExW(extended, windowClass, engine::jet4::sys::wide(design.Text).c_str(), style,
                        b.Left, b.Top, b.Width, b.Height, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(), nullptr);
    SendMessageW(
        window, WM_SETFONT,
        reinterpret_cast<WPARAM>(fontHandle(design.ParentFont ? design_.Font : design.Font)),
        FALSE);
    EnableWindow(window, design.Enabled ? TRUE : FALSE);
    controls_.push_back(std::make_unique<Control>(window, design));
    return *controls_.back();
}

controls::TControl& Win32Form::addPanel(controls::TCustomPanel& panel,
                                        const controls::TRect& bounds, bool transparentToMouse) {
    controls::ControlDesign design;
    design.Bounds = bounds;
    auto made = std::make_unique<Panel>(panel, transparentToMouse, design);
    made->create(window_);
    controls_.push_back(std::move(made));
    return *controls_.back();
}

HWND Win32Form::handleOf(const controls::TControl& control) {
    const auto* made = dynamic_cast<const Control*>(&control);
    return made ? made->window() : nullptr;
}

void Win32Form::show() {
    // The whole window, frame included, in the middle of the work area (the screen without the
    // task bar).
    RECT work{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    if (HWND first = GetNextDlgTabItem(window_, nullptr, FALSE))
        SetFocus(first);
}

int Win32Form::backgroundIndex() const {
    return controls::isSystemColor(design_.Color) ? controls::systemColorIndex(design_.Color)
                                                  : COLOR_BTNFACE;
}

void Win32Form::markDefaultButton() {
    // The button Enter presses now (DM_GETDEFID) gets the thick frame, the others lose it.
    const int pressed = LOWORD(SendMessageW(window_, DM_GETDEFID, 0, 0));
    for (const auto& control : controls_)
        if (control->design().Kind == controls::ControlKind::Button) {
            const bool marked = GetDlgCtrlID(control->window()) == pressed;
            SendMessageW(control->window(), BM_SETSTYLE,
                         BS_NOTIFY | (marked ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), TRUE);
        }
}

Win32Form::Control* Win32Form::controlOf(HWND window) const {
    for (const auto& control : controls_)
        if (control->window() == window)
            return control.get();
    return nullptr;
}

LRESULT CALLBACK Win32Form::formProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Win32Form*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (auto* self = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
        return self->handle(window, message, w, l);
    return DefWindowProcW(window, message, w, l);
}

LRESULT Win32Form::handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        if (Control* control = controlOf(reinterpret_cast<HWND>(l))) {
            const int code = HIWORD(w);
            if (code == BN_CLICKED)
                runHandler(control->OnClick);
            else if (code == EN_CHANGE)
                runHandler(control->OnChange);
            else if (code == BN_SETFOCUS || code == BN_KILLFOCUS)
                markDefaultButton();
            return 0;
        }
        break;
    case DM_GETDEFID:
        // Enter presses the push button that has the focus, or else the default button.
        if (Control* focused = controlOf(GetFocus());
            focused && focused->design().Kind == controls::ControlKind::Button)
            return MAKELRESULT(GetDlgCtrlID(focused->window()), DC_HASDEFID);
        if (defaultId_)
            return MAKELRESULT(defaultId_, DC_HASDEFID);
        break;
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(w), &client, GetSysColorBrush(backgroundIndex()));
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        // Labels in their font's colour on the form's background.
        if (Control* control = controlOf(reinterpret_cast<HWND>(l));
            control && control->design().Kind == controls::ControlKind::Label) {
            const controls::TFont& font =
                control->design().ParentFont ? design_.Font : control->design().Font;
            HDC dc = reinterpret_cast<HDC>(w);
            SetTextColor(dc, resolveColor(font.Color));
            SetBkColor(dc, GetSysColor(backgroundIndex()));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(backgroundIndex()));
        }
        break;
    case WM_SIZE:
        // Controls that stretch keep their right margin.
        for (const auto& control : controls_) {
            const controls::ControlDesign& design = control->design();
            if (!design.StretchRight)
                continue;
            const controls::TRect now = control->BoundsRect();
            const int margin = design_.ClientWidth - design.Bounds.Right();
            SetWindowPos(control->window(), nullptr, 0, 0, LOWORD(l) - margin - now.Left,
                         now.Height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
    case WM_ACTIVATE:
        // Coming back to the window returns the focus to the control that had it.
        if (LOWORD(w) == WA_INACTIVE) {
            lastFocus_ = GetFocus();
        } else if (lastFocus_ && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_DESTROY:
        window_ = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace platform
