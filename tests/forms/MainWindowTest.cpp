// The main window as the operator meets it: captions, layout, fonts and colours, the database it
// proposes at start-up, the run button's state while the path changes, and browsing.

#include "platform/FileNames.h"
#include "platform/qt/QtForm.h"
#include "support/FormWindow.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using controls::TControl;
using controls::TRect;
using platform::QtForm;
using testsupport::FormWindow;
using testsupport::RecordingDialogs;
using testsupport::ScopedRecordingDialogs;
using testsupport::TempDir;

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

// The Qt widget behind one of the form's controls.
QWidget* widget(const TControl* control) {
    return QtForm::widgetOf(*control);
}

// Presses a push button as a program would, without the mouse.
void press(const TControl* button) {
    qobject_cast<QPushButton*>(widget(button))->click();
}

// A program folder (with trailing separator) holding nothing yet.
struct ProgramFolder {
    TempDir dir;
    std::string folder() const { return dir.path() + "/"; }
    void makeDbFolder() const { std::filesystem::create_directory(dir.path() + "/DB"); }
    void addFile(const std::string& relative) const {
        testsupport::writeFileBytes(dir.file(relative), "x");
    }
};

TEST(MainWindow, ShowsItsCaptionsExactly) {
    ProgramFolder program;
    FormWindow form(program.folder());
    EXPECT_EQ(utf8(form.window().windowTitle()), "Изменение структуры базы данных");
    EXPECT_EQ(std::string(TForm1::Caption), "Изменение структуры базы данных");
    EXPECT_EQ(form.Label1->Text(), "\"Ворлан + 4.0 \" изменения от 30.07.2003 года");
    EXPECT_EQ(form.Label2->Text(), "Внимание! Не забудьте сделать резервную копию Вашей базы");
    EXPECT_EQ(form.Panel1->Caption(), "№ 16");
    EXPECT_EQ(form.Panel1Window->Text(), "№ 16");
    EXPECT_EQ(form.Button1->Text(), "Выполнить");
    EXPECT_EQ(form.Button2->Text(), "Обзор...");
    EXPECT_TRUE(form.Meter->DisplayText().empty());
    EXPECT_EQ(form.Meter->Percent(), 0);
}

TEST(MainWindow, ComponentsSitWhereTheLayoutPutsThem) {
    ProgramFolder program;
    FormWindow form(program.folder());
    EXPECT_EQ(form.window().size(), QSize(375, 133));
    const std::vector<std::pair<TControl*, QRect>> layout = {
        {form.Label1, QRect(0, 0, 375, 16)},        {form.Label2, QRect(83, 61, 162, 39)},
        {form.Panel1Window, QRect(24, 65, 52, 28)}, {form.Button1, QRect(271, 67, 75, 25)},
        {form.Edit1, QRect(24, 34, 265, 21)},       {form.MeterWindow, QRect(24, 104, 322, 21)},
        {form.Button2, QRect(289, 35, 49, 22)}};
    for (const auto& [control, rect] : layout) {
        SCOPED_TRACE(widget(control)->metaObject()->className());
        EXPECT_EQ(widget(control)->geometry(), rect);
        EXPECT_EQ(control->BoundsRect(), (TRect{rect.x(), rect.y(), rect.width(), rect.height()}));
    }
}

TEST(MainWindow, OnlyLabel1FollowsAResize) {
    ProgramFolder program;
    FormWindow form(program.folder());
    form.show();
    form.window().resize(600, 300);
    EXPECT_EQ(widget(form.Label1)->geometry(), QRect(0, 0, 600, 16));
    EXPECT_EQ(widget(form.MeterWindow)->geometry(), QRect(24, 104, 322, 21));
    EXPECT_EQ(widget(form.Button1)->geometry(), QRect(271, 67, 75, 25));
    EXPECT_EQ(form.Label1->BoundsRect(), (TRect{0, 0, 600, 16}));
}

TEST(MainWindow, FontsAndColoursMatchTheirRoles) {
    ProgramFolder program;
    FormWindow form(program.folder());
    struct Expected {
        QWidget* widget;
        int pixelSize;
        bool bold;
        QColor colour;
    };
    const QColor windowText = form.window().palette().color(QPalette::Active, QPalette::WindowText);
    const std::vector<Expected> expected = {{widget(form.Label1), 13, true, QColor(0, 0, 0x80)},
                                            {widget(form.Label2), 11, true, QColor(Qt::red)},
                                            {widget(form.Panel1Window), 19, true, QColor(Qt::blue)},
                                            {widget(form.Edit1), 11, false, windowText},
                                            {widget(form.MeterWindow), 11, false, windowText},
                                            {widget(form.Button1), 11, false, windowText}};
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.widget->metaObject()->className());
        EXPECT_EQ(e.widget->font().pixelSize(), e.pixelSize);
        EXPECT_EQ(e.widget->font().bold(), e.bold);
        EXPECT_EQ(e.widget->palette().color(QPalette::Active, QPalette::WindowText).rgb(),
                  e.colour.rgb());
    }
    EXPECT_TRUE(form.Meter->ParentFont());
    EXPECT_EQ(form.Panel1->BevelOuter(), controls::BevelCut::Raised);
    EXPECT_EQ(form.Panel1->BevelInner(), controls::BevelCut::Lowered);
    EXPECT_EQ(form.Meter->BevelOuter(), controls::BevelCut::Lowered);
    EXPECT_EQ(widget(form.Panel1Window)->font().families().value(0),
              QStringLiteral("Times New Roman"));
}

TEST(MainWindow, TabOrderRunsFromRunButtonToPathToBrowse) {
    ProgramFolder program;
    FormWindow form(program.folder());
    std::vector<QWidget*> focusable;
    QWidget* const run = widget(form.Button1);
    QWidget* next = run;
    do {
        if (next->focusPolicy() & Qt::TabFocus)
            focusable.push_back(next);
        next = next->nextInFocusChain();
    } while (next != run);
    EXPECT_EQ(focusable, (std::vector<QWidget*>{run, widget(form.Edit1), widget(form.Button2)}));
}

struct ProposalCase {
    const char* name;
    std::vector<std::string> folders; // created inside the program folder, in this order
    std::vector<std::string> files;   // created inside the program folder
    std::string proposed;             // inside the program folder, empty for no proposal
    bool runEnabled;
};

void PrintTo(const ProposalCase& c, std::ostream* os) {
    *os << c.name;
}

class StartupProposal : public ::testing::TestWithParam<ProposalCase> {};

TEST_P(StartupProposal, ProposesTheFirstDatabaseOfTheDbFolder) {
    const ProposalCase& c = GetParam();
    ProgramFolder program;
    for (const std::string& folder : c.folders)
        std::filesystem::create_directory(program.dir.file(folder));
    for (const std::string& file : c.files)
        program.addFile(file);

    FormWindow form(program.folder());
    const std::string expected = c.proposed.empty() ? "" : program.folder() + c.proposed;
    EXPECT_EQ(form.databasePath(), expected);
    EXPECT_EQ(form.Edit1->Text(), platform::displayFileName(expected));
    EXPECT_EQ(form.Button1->Enabled(), c.runEnabled);
    EXPECT_EQ(form.OpenDialog1.request.initialFolder, program.folder());
}

// "Товары" in the code pages of Windows (1251) and of DOS (866), neither of them UTF-8.
const std::string Windows1251Name = "\xD2\xEE\xE2\xE0\xF0\xFB.mdb";
const std::string Cp866Name = "\x92\xAE\xA2\xA0\xE0\xEB.mdb";

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupProposal,
    ::testing::Values(
        ProposalCase{
            "TwoDatabasesFirstInNameOrder", {"DB"}, {"DB/b.mdb", "DB/a.mdb"}, "DB/a.mdb", true},
        ProposalCase{
            "ExtensionInAnyCase", {"DB"}, {"DB/notes.txt", "DB/Zeta.MDB"}, "DB/Zeta.MDB", true},
        ProposalCase{
            "HiddenEntriesCount", {"DB"}, {"DB/b.mdb", "DB/.old.mdb"}, "DB/.old.mdb", true},
        ProposalCase{"FolderNamedLikeADatabase", {"DB", "DB/x.mdb"}, {}, "DB/x.mdb", false},
        ProposalCase{"OnlyLookalikes", {"DB"}, {"DB/a.mdb.bak", "DB/amdb", "DB/a.mdbx"}, "", false},
        ProposalCase{"EmptyDbFolder", {"DB"}, {}, "", false},
        ProposalCase{"NoDbFolder", {}, {}, "", false},
        ProposalCase{"DbFolderNamedInSmallLetters", {"db"}, {"db/a.mdb"}, "db/a.mdb", true},
        ProposalCase{"DbFolderInCapitalsComesFirst",
                     {"db", "Db", "DB"},
                     {"db/a.mdb", "Db/a.mdb", "DB/z.mdb"},
                     "DB/z.mdb",
                     true},
        ProposalCase{"NextDbFolderWhenTheFirstHoldsNone",
                     {"DB", "db", "dB"},
                     {"DB/notes.txt", "db/b.mdb", "dB/c.mdb"},
                     "dB/c.mdb",
                     true},
        ProposalCase{"FileNotADbFolder", {"db"}, {"DB", "db/a.mdb"}, "db/a.mdb", true},
        ProposalCase{
            "NameInWindows1251", {"DB"}, {"DB/" + Windows1251Name}, "DB/" + Windows1251Name, true},
        ProposalCase{"NameInCp866", {"DB"}, {"DB/" + Cp866Name}, "DB/" + Cp866Name, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MainWindow, DatabaseBesideTheProgramIsNotProposed) {
    ProgramFolder program;
    program.addFile("beside.mdb");
    FormWindow form(program.folder());
    EXPECT_TRUE(form.Edit1->Text().empty());
}

// Types `text` into the focused line edit one key at a time.
void typeKey(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

TEST(MainWindow, RunButtonIsEnabledExactlyWhileTypedPathNamesAFile) {
    ProgramFolder program;
    program.makeDbFolder();
    program.addFile("DB/base.mdb");
    const std::string other = program.dir.file("base");
    FormWindow form(program.folder() + "elsewhere/");
    const QString path = QString::fromStdString(program.dir.file("DB/base.mdb"));
    QWidget* const edit = widget(form.Edit1);

    for (qsizetype typed = 1; typed <= path.size(); ++typed) {
        typeKey(edit, 0, path.mid(typed - 1, 1));
        ASSERT_EQ(form.Edit1->Text(), utf8(path.left(typed)));
        EXPECT_EQ(form.Button1->Enabled(), typed == path.size()) << utf8(path.left(typed));
    }
    typeKey(edit, 0, "x");
    EXPECT_FALSE(form.Button1->Enabled());
    typeKey(edit, Qt::Key_Backspace, {});
    EXPECT_TRUE(form.Button1->Enabled());
    form.Edit1->setText("");
    EXPECT_FALSE(form.Button1->Enabled());
}

TEST(MainWindow, BrowseConfirmedPutsTheChosenFileInThePath) {
    ScopedRecordingDialogs dialogs;
    ProgramFolder program;
    program.addFile("chosen.mdb");
    FormWindow form(program.folder());
    const std::string chosen = program.dir.file("chosen.mdb");
    dialogs->queueOpenFile(chosen);

    press(form.Button2);

    EXPECT_EQ(form.Edit1->Text(), chosen);
    EXPECT_TRUE(form.Button1->Enabled());
    ASSERT_EQ(dialogs->openFileRequests().size(), 1u);
    const platform::OpenFileRequest& request = dialogs->openFileRequests().front();
    EXPECT_EQ(request.title, "Открыть базу данных ");
    EXPECT_EQ(request.filterName, "База MS Access (*.mdb)");
    EXPECT_EQ(request.filterPattern, "*.mdb");
    EXPECT_EQ(request.defaultSuffix, "mdb");
    EXPECT_EQ(request.initialFolder, program.folder());
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST(MainWindow, BrowseCancelledLeavesPathAndButtonAsTheyWere) {
    ScopedRecordingDialogs dialogs;
    ProgramFolder program;
    program.makeDbFolder();
    program.addFile("DB/a.mdb");
    FormWindow form(program.folder());
    const std::string before = form.Edit1->Text();
    ASSERT_TRUE(form.Button1->Enabled());
    dialogs->queueOpenFile(std::nullopt);

    press(form.Button2);

    EXPECT_EQ(form.Edit1->Text(), before);
    EXPECT_TRUE(form.Button1->Enabled());
    EXPECT_EQ(dialogs->openFileRequests().size(), 1u);
}

TEST(MainWindow, EnterPressesTheFocusedButtonElseTheRunButton) {
    using Widget = QWidget* (*)(TForm1&);
    const Widget path = [](TForm1& f) { return widget(f.Edit1); };
    const Widget browse = [](TForm1& f) { return widget(f.Button2); };
    const Widget run = [](TForm1& f) { return widget(f.Button1); };
    const struct {
        const char* name;
        Widget focus;
        bool pathNamesAFile;
        bool runs;    // the run starts (and fails: a.mdb is no database)
        bool browses; // the file dialog opens
    } cases[] = {
        {"path field", path, true, true, false},
        {"path field, no file", path, false, false, false},
        {"browse button", browse, true, false, true},
        {"run button", run, true, true, false},
    };
    ProgramFolder program;
    program.makeDbFolder();
    program.addFile("DB/a.mdb");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRecordingDialogs dialogs;
        FormWindow form(program.folder());
        if (!c.pathNamesAFile)
            form.Edit1->setText("no such file");
        form.show();
        form.window().activateWindow();
        c.focus(form)->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(form.window().focusWidget(), c.focus(form));

        // The key goes where the window system sends it: to the window's focus widget.
        typeKey(form.window().focusWidget(), Qt::Key_Return, "\r");

        const std::vector<std::string> opened = {"Не удалось открыть " + program.folder() +
                                                 "DB/a.mdb"};
        EXPECT_EQ(dialogs->texts(RecordingDialogs::Kind::Error),
                  c.runs ? opened : std::vector<std::string>{});
        EXPECT_EQ(dialogs->openFileRequests().size(), c.browses ? 1u : 0u);
    }
}

TEST(MainWindow, WholeWindowFrameIncludedIsCentredOnTheScreen) {
    ProgramFolder program;
    FormWindow form(program.folder());
    form.show();
    QApplication::processEvents();
    QWidget& window = form.window();
    const QRect frame = window.frameGeometry();
    // The offscreen window system draws a frame, as a desktop's does.
    ASSERT_GT(frame.width(), window.width());
    EXPECT_EQ(frame.center(), window.screen()->availableGeometry().center());
}

// While armed, every folder listing fails after its first entry, as on a share that goes away
// mid-way: this program's readdir stands in for the C library's, which std::filesystem calls.
class FailingListings {
public:
    FailingListings() { armed = this; }
    ~FailingListings() { armed = nullptr; }
    static FailingListings* armed;
    std::set<DIR*> started;
};
FailingListings* FailingListings::armed = nullptr;

} // namespace

extern "C" dirent* readdir(DIR* folder) {
    using Readdir = dirent* (*)(DIR*);
    static const auto real = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    FailingListings* failing = FailingListings::armed;
    if (failing && failing->started.count(folder)) {
        errno = EIO;
        return nullptr;
    }
    dirent* entry = real(folder);
    if (failing && entry && std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0)
        failing->started.insert(folder);
    return entry;
}

namespace {

TEST(MainWindow, FoldersThatFailWhileListedProposeNothingAndStartUpGoesOn) {
    ProgramFolder program;
    program.makeDbFolder();
    program.addFile("DB/a.mdb");
    program.addFile("DB/b.mdb");
    ASSERT_EQ(FormWindow(program.folder()).databasePath(), program.folder() + "DB/a.mdb");

    FailingListings failing;
    FormWindow form(program.folder());
    EXPECT_TRUE(form.Edit1->Text().empty());
    EXPECT_FALSE(form.Button1->Enabled());
    EXPECT_FALSE(failing.started.empty()); // the listings really failed
}

} // namespace
