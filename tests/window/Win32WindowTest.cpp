// The Windows window as the operator meets it: its size and layout, the keyboard, the database it
// proposes from the DB folder beside the program, a run through its button, and the refusals it
// shows in message boxes, the file left as it was.

#include "engine/Registration.h"
#include "engine/jet4/file/SystemFiles.h"
#include "forms/M_Patch16.h"
#include "platform/win32/Win32Form.h"
#include "support/ChildProcess.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"
#include "window/RevisionStamp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using engine::jet4::sys::narrow;
using engine::jet4::sys::wide;
using testsupport::RecordingDialogs;

namespace {

using windowtest::stampOf;

// Delivers every message waiting for this thread, the dialog keys (Tab, Enter) through the
// window as the program's own loop does.
void pump(HWND window) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
}

// A program folder (its name in Cyrillic) with a DB folder, the window over it, its boxes
// recorded.
class Win32Window : public ::testing::Test {
protected:
    Win32Window() {
        engine::registerEngine();
        program = dir.file("Магазин") + "\\";
        std::filesystem::create_directories(std::filesystem::path(wide(program + "DB")));
    }
    ~Win32Window() override {
        form.reset();
        window.reset();
    }

    // A shop at `stamp` in the DB folder, named `name`.
    std::string makeShop(const std::string& stamp, const std::string& name = "shop.mdb") {
        const std::string path = program + "DB\\" + name;
        tools::makeSampleDatabase(path, {20, 60, stamp, tools::SampleFormat::Jet4});
        return path;
    }

    void open() {
        window = std::make_unique<platform::Win32Form>();
        form = std::make_unique<TForm1>(*window, program);
        window->show();
        pump(window->handle());
    }

    HWND handleOf(const controls::TControl* control) const {
        return platform::Win32Form::handleOf(*control);
    }

    // The mouse's click on a button, as Windows delivers it (BM_CLICK presses and releases it).
    void click(const controls::TControl* button) {
        SendMessageW(handleOf(button), BM_CLICK, 0, 0);
        pump(window->handle());
    }

    // A key pressed and released on the control that has the focus.
    void press(WPARAM key) {
        HWND focused = GetFocus();
        PostMessageW(focused, WM_KEYDOWN, key, 1);
        PostMessageW(focused, WM_KEYUP, key, 0xC0000001);
        pump(window->handle());
    }

    std::vector<std::string> texts(RecordingDialogs::Kind kind) { return dialogs->texts(kind); }

    testsupport::TempDir dir;
    testsupport::ScopedRecordingDialogs dialogs;
    std::string program;
    std::unique_ptr<platform::Win32Form> window;
    std::unique_ptr<TForm1> form;
};

TEST_F(Win32Window, ShowsItsComponentsWhereAndAsTheLayoutPutsThem) {
    open();
    wchar_t title[100]{};
    GetWindowTextW(window->handle(), title, 100);
    EXPECT_EQ(narrow(title), "Изменение структуры базы данных");
    RECT client{};
    GetClientRect(window->handle(), &client);
    EXPECT_EQ(client.right, 375);
    EXPECT_EQ(client.bottom, 133);

    struct Expected {
        const controls::TControl* control;
        controls::TRect bounds;
        std::string text;
    };
    const std::vector<Expected> layout = {
        {form->Label1, {0, 0, 375, 16}, "\"Ворлан + 4.0 \" изменения от 30.07.2003 года"},
        {form->Label2,
         {83, 61, 162, 39},
         "Внимание! Не забудьте сделать резервную копию Вашей базы"},
        {form->Panel1Window, {24, 65, 52, 28}, "№ 16"},
        {form->Button1, {271, 67, 75, 25}, "Выполнить"},
        {form->Edit1, {24, 34, 265, 21}, ""},
        {form->MeterWindow, {24, 104, 322, 21}, ""},
        {form->Button2, {289, 35, 49, 22}, "Обзор..."}};
    for (const Expected& e : layout) {
        SCOPED_TRACE(e.text);
        const controls::TRect r = e.control->BoundsRect();
        EXPECT_EQ((std::vector<int>{r.Left, r.Top, r.Width, r.Height}),
                  (std::vector<int>{e.bounds.Left, e.bounds.Top, e.bounds.Width, e.bounds.Height}));
        EXPECT_EQ(e.control->Text(), e.text);
    }
    // Only the title stretches with the window.
    SetWindowPos(window->handle(), nullptr, 0, 0, 700, 300, SWP_NOMOVE | SWP_NOZORDER);
    pump(window->handle());
    GetClientRect(window->handle(), &client);
    EXPECT_EQ(form->Label1->BoundsRect().Width, client.right);
    EXPECT_EQ(form->Button1->BoundsRect().Left, 271);
}

TEST_F(Win32Window, TabAndEnterWorkAsInADialogBox) {
    makeShop("patch16");
    open();
    // Tab runs from the run button to the path to the browse button, and round.
    HWND button1 = handleOf(form->Button1), edit1 = handleOf(form->Edit1),
         button2 = handleOf(form->Button2);
    EXPECT_EQ(GetFocus(), button1);
    const std::vector<HWND> order = {edit1, button2, button1};
    for (HWND next : order) {
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), next);
    }
    EXPECT_TRUE(GetWindowLongW(button1, GWL_STYLE) & BS_DEFPUSHBUTTON);

    // The thick frame of the button Enter presses follows the focus.
    form->Button2->SetFocus();
    pump(window->handle());
    EXPECT_TRUE(GetWindowLongW(button2, GWL_STYLE) & BS_DEFPUSHBUTTON);
    EXPECT_FALSE(GetWindowLongW(button1, GWL_STYLE) & BS_DEFPUSHBUTTON);
    form->Edit1->SetFocus();
    pump(window->handle());
    EXPECT_TRUE(GetWindowLongW(button1, GWL_STYLE) & BS_DEFPUSHBUTTON);
    EXPECT_FALSE(GetWindowLongW(button2, GWL_STYLE) & BS_DEFPUSHBUTTON);

    // Enter on the browse button opens the dialog on the program folder.
    form->Button2->SetFocus();
    press(VK_RETURN);
    ASSERT_EQ(dialogs->openFileRequests().size(), 1u);
    EXPECT_EQ(dialogs->openFileRequests()[0].initialFolder, program);
    EXPECT_EQ(dialogs->openFileRequests()[0].title, "Открыть базу данных ");

    // Enter in the path presses the run button; its refusal moves the focus on, so the keyboard
    // still reaches the window.
    form->Edit1->SetFocus();
    press(VK_RETURN);
    EXPECT_EQ(texts(RecordingDialogs::Kind::Message),
              std::vector<std::string>{"Нет необходимости в выполнении данного патча"});
    EXPECT_FALSE(form->Button1->Enabled());
    form->Button1->SetFocus();
    EXPECT_NE(GetFocus(), button1);
}

TEST_F(Win32Window, ProposesTheFirstDatabaseOfTheDbFolderBesideTheProgram) {
    struct Case {
        std::vector<std::string> files;
        std::string proposed; // empty: nothing
    };
    const std::vector<Case> cases = {
        {{"b.mdb", "A.MDB", "c.txt"}, "A.MDB"},
        {{"магазин.mdb", "склад.mdb"}, "магазин.mdb"},
        {{"readme.txt"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.proposed);
        std::filesystem::remove_all(std::filesystem::path(wide(program + "DB")));
        std::filesystem::create_directory(std::filesystem::path(wide(program + "DB")));
        for (const std::string& name : c.files)
            testsupport::writeFileBytes(program + "DB\\" + name, "x");
        open();
        EXPECT_EQ(form->Edit1->Text(), c.proposed.empty() ? "" : program + "DB\\" + c.proposed);
        EXPECT_EQ(form->Button1->Enabled(), !c.proposed.empty());
        form.reset();
        window.reset();
    }
}

TEST_F(Win32Window, ARunThroughTheButtonUpgradesAJet4Shop) {
    const std::string path = makeShop("patch15");
    open();
    ASSERT_EQ(form->Edit1->Text(), path);
    click(form->Button1);
    EXPECT_TRUE(dialogs->boxes().empty());
    EXPECT_EQ(form->MeterWindow->Text(), "Выполнено");
    EXPECT_EQ(form->Meter->Percent(), 100);
    EXPECT_EQ(stampOf(path), "patch16");
    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << report.faults.front().kind << ": "
                                << report.faults.front().detail;
}

// Refusals: a database at "patch16", and one another process holds open for writing. Each is
// told in a box and leaves the file byte for byte.
TEST_F(Win32Window, RefusalsAreToldAndLeaveTheFileAsItWas) {
    const std::string path = makeShop("patch16", "done.mdb");
    open();
    const std::string before = testsupport::fileBytes(path);
    click(form->Button1);
    EXPECT_EQ(texts(RecordingDialogs::Kind::Message),
              std::vector<std::string>{"Нет необходимости в выполнении данного патча"});
    EXPECT_EQ(testsupport::fileBytes(path), before);
    form.reset();
    window.reset();
    dialogs->clear();

    const std::string held = makeShop("patch15", "held.mdb");
    std::filesystem::remove(std::filesystem::path(wide(path)));
    const std::string heldBefore = testsupport::fileBytes(held);
    const std::string marker = dir.file("held");
    // Another process opens the database for writing and keeps it open until it is ended.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    std::wstring command = L"\"" + wide(testsupport::thisProgram()) +
                           L"\" --gtest_filter=Win32WindowChild.HoldsADatabase";
    SetEnvironmentVariableW(L"PATCH16_HOLD", wide(held + "|" + marker).c_str());
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    for (int wait = 0; wait < 600 && !std::filesystem::exists(wide(marker)); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetEnvironmentVariableW(L"PATCH16_HOLD", nullptr);
    ASSERT_TRUE(std::filesystem::exists(wide(marker))) << "the holding process did not start";

    open();
    ASSERT_EQ(form->Edit1->Text(), held);
    click(form->Button1);
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    const std::vector<std::string> errors = texts(RecordingDialogs::Kind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("заблокирована другим пользователем или процессом"), std::string::npos)
        << errors[0];
    EXPECT_NE(errors[0].find("База данных не изменена."), std::string::npos) << errors[0];
    EXPECT_EQ(testsupport::fileBytes(held), heldBefore);
    EXPECT_EQ(stampOf(held), "patch15");
}

// Run only inside the process the refusal test starts: holds the database named by PATCH16_HOLD
// open for writing, says so by making the marker file, and waits to be ended.
TEST(Win32WindowChild, HoldsADatabase) {
    // The wide form: the path is Cyrillic, which the narrow environment would lose.
    std::wstring hold(32768, L'\0');
    hold.resize(GetEnvironmentVariableW(L"PATCH16_HOLD", hold.data(), DWORD(hold.size())));
    if (hold.empty())
        GTEST_SKIP() << "started by the refusal test only";
    const std::string both = narrow(hold);
    const std::string path = both.substr(0, both.find('|'));
    const std::string marker = both.substr(both.find('|') + 1);
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << ": error " << GetLastError();
    testsupport::writeFileBytes(marker, "held");
    Sleep(INFINITE);
}

} // namespace
