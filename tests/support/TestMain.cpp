// The main of every test program: the program's own application object on the offscreen platform,
// so widget tests run without a display and an error raised by a handler reaches the dialogs in
// force, then every test. Recording dialogs stand in for Qt's from the start, so no test can
// ever wait on a modal box, even one that forgot to install its own recorder.

#include "platform/qt/Application.h"
#include "support/RecordingDialogs.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application app(argc, argv);
    testsupport::ScopedRecordingDialogs noModalBoxes;
    return RUN_ALL_TESTS();
}
