// The event loop's handling of errors raised by event handlers: the operator sees the error's text
// and the program goes on; the message boxes that show it; the folder the program runs from.

#include "platform/Handlers.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/QtDialogs.h"
#include "support/ForwardingChild.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <stdexcept>

using testsupport::RecordingDialogs;
using testsupport::ScopedRecordingDialogs;

namespace {

// Throws from its event handler on the first `failures` custom events, then counts the rest.
class FailingHandler : public QObject {
public:
    int failures = 1;
    int handled = 0;

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (failures > 0) {
            --failures;
            throw std::runtime_error("Не удалось открыть /нет/такой.mdb");
        }
        ++handled;
        return true;
    }
};

TEST(EventLoop, ErrorFromAHandlerIsShownAndLaterEventsAreStillServed) {
    ScopedRecordingDialogs dialogs;
    FailingHandler handler;
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&handler);

    EXPECT_EQ(dialogs->texts(RecordingDialogs::Kind::Error),
              std::vector<std::string>{"Не удалось открыть /нет/такой.mdb"});
    EXPECT_EQ(handler.handled, 1);
}

TEST(EventLoop, ErrorFromAClickHandlerIsShownAndTheButtonStillWorks) {
    ScopedRecordingDialogs dialogs;
    QPushButton button("run");
    button.resize(80, 25);
    button.show();
    int clicks = 0;
    // Connected as the form connects its handlers.
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
        platform::runHandler([&clicks] {
            if (++clicks == 1)
                throw std::runtime_error("первый щелчок");
        });
    });
    auto click = [&button] { testsupport::clickAsOperator(&button); };

    click();
    click();

    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialogs->texts(RecordingDialogs::Kind::Error),
              std::vector<std::string>{"первый щелчок"});
}

TEST(ProgramFolder, IsTheRunningExecutablesFolderWithTrailingSeparator) {
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(platform::programFolder(), exe.parent_path().string() + "/");
}

// Child: writes the program folder, byte for byte, between markers.
TEST(ProgramFolderChild, PrintsItsFolder) {
    std::cout << "FOLDER<" << platform::programFolder() << ">FOLDER" << std::endl;
}

TEST(ProgramFolder, KeepsTheBytesOfItsNameWhateverTheirEncoding) {
    // "Программа" in Windows-1251 and in CP866 bytes, neither of them UTF-8.
    for (const std::string name :
         {"\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0", "\x8F\xE0\xAE\xA3\xE0\xA0\xAC\xAC\xA0"}) {
        testsupport::TempDir dir;
        const std::string folder = dir.file(name) + "/";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file("/proc/self/exe", folder + "program");
        std::filesystem::permissions(folder + "program", std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
        testsupport::ForwardingChild child("ProgramFolderChild.PrintsItsFolder", {},
                                           folder + "program");
        const testsupport::ForwardingChild::Outcome outcome = child.wait(std::chrono::seconds(60));
        ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
        EXPECT_NE(outcome.output.find("FOLDER<" + folder + ">FOLDER"), std::string::npos)
            << outcome.output;
    }
}

TEST(MessageBoxes, ShowTheirTextAsPlainTextExactlyAsGiven) {
    using Box = platform::QtDialogs::Box;
    const std::string path = "/srv/<b>shop</b>/db.mdb";
    const struct {
        Box member;
        std::string text;
        const char* caption;
    } cases[] = {
        {Box::MessageBox, "3024 : Не удается найти файл «" + path + "». : DAO.Workspace",
         "ForceError"},
        {Box::Error, "Не удалось открыть " + path, ""},
        {Box::Message, "Индекс «<i>SupGood_I_Vn</i>» уже существует.\r\n", ""},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<QMessageBox> box =
            platform::QtDialogs::box(c.member, c.text, c.caption);
        box->show(); // not modal: nothing waits on it
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << c.text;
        EXPECT_EQ(label->text().toStdString(), c.text);
        if (c.member == Box::MessageBox) {
            EXPECT_EQ(box->windowTitle().toStdString(), c.caption);
        }
    }
}

} // namespace
