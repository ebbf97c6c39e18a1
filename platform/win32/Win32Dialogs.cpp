#include "platform/win32/Win32Dialogs.h"

#include "engine/jet4/file/SystemFiles.h"

#include <windows.h>

#include <commdlg.h>

namespace platform {

namespace {

std::wstring& applicationTitle() {
    static std::wstring title;
    return title;
}

void box(HWND owner, const std::string& text, const std::wstring& caption, UINT style) {
    MessageBoxW(owner, engine::jet4::sys::wide(text).c_str(), caption.c_str(), style | MB_OK);
}

} // namespace

Dialogs& systemDialogs() {
    static Win32Dialogs dialogs;
    return dialogs;
}

void setApplicationTitle(const std::string& title) {
    applicationTitle() = engine::jet4::sys::wide(title);
}

void Win32Dialogs::showMessage(const std::string& text) {
    box(GetActiveWindow(), text, applicationTitle(), 0);
}

void Win32Dialogs::messageBox(const std::string& text, const std::string& caption) {
    box(nullptr, text, engine::jet4::sys::wide(caption), 0);
}

void Win32Dialogs::showError(const std::string& text) {
    box(GetActiveWindow(), text, applicationTitle(), MB_ICONERROR);
}

std::optional<std::string> Win32Dialogs::openFile(const OpenFileRequest& request) {
    // The filter is pairs of description and pattern, each ended by a null, the list by another.
    std::wstring filter = engine::jet4::sys::wide(request.filterName);
    filter += L'\0';
    filter += engine::jet4::sys::wide(request.filterPattern);
    filter += L'\0';
    const std::wstring title = engine::jet4::sys::wide(request.title);
    const std::wstring folder = engine::jet4::sys::wide(request.initialFolder);
    const std::wstring suffix = engine::jet4::sys::wide(request.defaultSuffix);
    // Room for the longest path the file system holds.
    std::wstring chosen(32768, L'\0');

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    dialog.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_LONGNAMES;
    if (!GetOpenFileNameW(&dialog))
        return std::nullopt;
    chosen.resize(chosen.find(L'\0'));
    return engine::jet4::sys::narrow(chosen);
}

} // namespace platform
