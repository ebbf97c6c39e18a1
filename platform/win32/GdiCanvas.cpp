#include "platform/win32/GdiCanvas.h"

#include "engine/jet4/file/SystemFiles.h"

#include <map>
#include <memory>

namespace platform {

namespace {

RECT gdiRect(const controls::TRect& rect) {
    return {rect.Left, rect.Top, rect.Right(), rect.Bottom()};
}

int CALLBACK noteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool systemHasFace(const std::wstring& face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    if (face.size() >= LF_FACESIZE)
        return false;
    face.copy(wanted.lfFaceName, face.size());
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, noteFace, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The fonts made so far; they are deleted when the program ends.
struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

struct FontKey {
    std::vector<std::string> names;
    int height;
    bool bold;
    auto operator<=>(const FontKey&) const = default;
};

} // namespace

COLORREF resolveColor(controls::TColor color) {
    if (controls::isSystemColor(color))
        return GetSysColor(controls::systemColorIndex(color));
    return RGB(controls::redOf(color), controls::greenOf(color), controls::blueOf(color));
}

HFONT fontHandle(const controls::TFont& font) {
    static std::map<FontKey, FontHandle> made;
    FontHandle& handle = made[{font.Names, font.Height, font.Bold}];
    if (handle)
        return handle.get();
    std::wstring face =
        font.Names.empty() ? std::wstring() : engine::jet4::sys::wide(font.Names.front());
    for (const std::string& name : font.Names)
        if (systemHasFace(engine::jet4::sys::wide(name))) {
            face = engine::jet4::sys::wide(name);
            break;
        }
    // A negative height asks for that character height, the size the form was laid out in.
    handle.reset(CreateFontW(-font.Height, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
    return handle.get();
}

void GdiCanvas::FillRect(const controls::TRect& rect, controls::TColor color) {
    if (rect.Empty())
        return;
    const RECT area = gdiRect(rect);
    if (controls::isSystemColor(color)) {
        // The system's own brushes for its colours: shared, never deleted.
        ::FillRect(dc_, &area, GetSysColorBrush(controls::systemColorIndex(color)));
        return;
    }
    HBRUSH brush = CreateSolidBrush(resolveColor(color));
    ::FillRect(dc_, &area, brush);
    DeleteObject(brush);
}

void GdiCanvas::TextRect(const controls::TRect& line, const std::string& text,
                         const controls::TFont& font, controls::TAlignment alignment) {
    const int saved = SaveDC(dc_);
    SelectObject(dc_, fontHandle(font));
    SetTextColor(dc_, resolveColor(font.Color));
    SetBkMode(dc_, TRANSPARENT);
    UINT format = DT_SINGLELINE | DT_TOP | DT_EXPANDTABS;
    if (alignment == controls::TAlignment::Center)
        format |= DT_CENTER;
    else if (alignment == controls::TAlignment::RightJustify)
        format |= DT_RIGHT;
    RECT area = gdiRect(line);
    std::wstring wideText = engine::jet4::sys::wide(text);
    ::DrawTextW(dc_, wideText.c_str(), static_cast<int>(wideText.size()), &area, format);
    RestoreDC(dc_, saved);
}

int GdiCanvas::TextHeight(const controls::TFont& font) {
    const int saved = SaveDC(dc_);
    SelectObject(dc_, fontHandle(font));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc_, &metrics);
    RestoreDC(dc_, saved);
    return metrics.tmHeight;
}

} // namespace platform
