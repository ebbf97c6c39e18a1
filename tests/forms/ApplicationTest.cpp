// The event loop's handling of errors raised by event handlers: the operator sees the error's text
// and the program goes on.

#include "platform/Application.h"
#include "platform/ProgramFolder.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>

#include <filesystem>
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

} // namespace
