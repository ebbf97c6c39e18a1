// patch16.exe as the operator starts it: put beside a DB folder holding a shop at "patch15", it
// proposes that shop, upgrades it when its run button is pressed and reports "Выполнено" on its
// meter. The program is the build's own, or the one PATCH16_PROGRAM names (the zip's); with
// PATCH16_RESULT set, the upgraded file is copied there for the judges outside Wine.

#include "engine/Registration.h"
#include "engine/jet4/file/SystemFiles.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"
#include "window/RevisionStamp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

using engine::jet4::sys::narrow;
using engine::jet4::sys::wide;

namespace {

using windowtest::stampOf;

std::wstring environment(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), DWORD(value.size())));
    return value;
}

std::string windowText(HWND window) {
    wchar_t text[512]{};
    // WM_GETTEXT reaches another process's windows; GetWindowTextW does not for its controls.
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return narrow(text);
}

struct WindowSearch {
    DWORD process;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64]{};
    GetClassNameW(window, name, 64);
    if (owner != search->process || std::wstring(name) != search->windowClass ||
        !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// The top-level window of class `windowClass` that process `process` shows, if any.
HWND windowOf(DWORD process, const wchar_t* windowClass) {
    WindowSearch search{process, windowClass, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The child windows of `parent` of class `windowClass`, in creation order.
std::vector<HWND> childrenOf(HWND parent, const wchar_t* windowClass) {
    std::vector<HWND> found;
    for (HWND child = FindWindowExW(parent, nullptr, windowClass, nullptr); child;
         child = FindWindowExW(parent, child, windowClass, nullptr))
        found.push_back(child);
    return found;
}

TEST(Win32Program, UpgradesTheShopInTheDbFolderBesideItThroughItsWindow) {
    engine::registerEngine();
    std::wstring program = environment(L"PATCH16_PROGRAM");
    if (program.empty())
        program = wide(PATCH16_WINDOW_PROGRAM);
    ASSERT_TRUE(std::filesystem::exists(program)) << narrow(program);

    // The operator's folder: the program, and beside it DB with the shop.
    const testsupport::TempDir dir;
    const std::string folder = dir.path() + "\\Ворлан";
    const std::string shop = folder + "\\DB\\shop.mdb";
    std::filesystem::create_directories(wide(folder + "\\DB"));
    std::filesystem::copy_file(program, wide(folder + "\\patch16.exe"));
    tools::makeSampleDatabase(shop, {30, 90, "patch15", tools::SampleFormat::Jet4});

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring command = L"\"" + wide(folder + "\\patch16.exe") + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               wide(folder).c_str(), &startup, &started));
    WaitForInputIdle(started.hProcess, 30000);
    HWND form = nullptr;
    for (int wait = 0; wait < 300 && !form; ++wait, Sleep(100))
        form = windowOf(started.dwProcessId, L"Patch16Form");
    ASSERT_TRUE(form) << "no window";

    // The proposal, then the run button pressed; the meter's window text is what it shows.
    const std::vector<HWND> edits = childrenOf(form, L"Edit");
    const std::vector<HWND> buttons = childrenOf(form, L"Button");
    const std::vector<HWND> panels = childrenOf(form, L"Patch16Panel");
    ASSERT_EQ(edits.size(), 1u);
    ASSERT_EQ(buttons.size(), 2u);
    ASSERT_EQ(panels.size(), 2u);
    EXPECT_EQ(windowText(edits[0]), shop);
    EXPECT_EQ(windowText(buttons[0]), "Выполнить");
    ASSERT_TRUE(IsWindowEnabled(buttons[0]));
    SendMessageW(buttons[0], BM_CLICK, 0, 0);
    EXPECT_EQ(windowText(panels[1]), "Выполнено");
    // No message box: the process shows no other window.
    EXPECT_FALSE(windowOf(started.dwProcessId, L"#32770"));

    PostMessageW(form, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(started.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    EXPECT_EQ(exitCode, 0u);

    EXPECT_EQ(stampOf(shop), "patch16");
    const check::Report report = check::checkFile(shop);
    EXPECT_TRUE(report.sound()) << report.faults.front().kind << ": "
                                << report.faults.front().detail;
    if (const std::wstring result = environment(L"PATCH16_RESULT"); !result.empty())
        std::filesystem::copy_file(wide(shop), result,
                                   std::filesystem::copy_options::overwrite_existing);
}

} // namespace
