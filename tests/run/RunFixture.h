#pragma once
// A window over a sample shop database in a temporary program folder, with the message boxes
// recorded and the meter's captions recorded each time it paints.

#include "engine/Registration.h"
#include "forms/EDatabaseError.h"
#include "forms/M_Patch16.h"
#include "platform/qt/QtForm.h"
#include "support/FormWindow.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace runtest {

// Records what the form's meter shows each time its window paints: its caption and its
// percentage.
class MeterWatch : public QObject {
public:
    explicit MeterWatch(const TForm1& form)
        : meter_(form.Meter), window_(platform::QtForm::widgetOf(*form.MeterWindow)) {
        window_->installEventFilter(this);
    }
    std::vector<std::string> captions;
    std::vector<int> percents;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint) {
            if (captions.empty() || captions.back() != meter_->DisplayText())
                captions.push_back(meter_->DisplayText());
            if (percents.empty() || percents.back() != meter_->Percent())
                percents.push_back(meter_->Percent());
        }
        return false;
    }

private:
    controls::TzelMeter* meter_;
    QObject* window_;
};

class RunTest : public ::testing::Test {
protected:
    RunTest() {
        engine::registerEngine();
        std::filesystem::create_directory(dir.file("DB"));
        path = dir.file("DB/shop.mdb");
        tools::makeSampleDatabase(path, {12, 30, "patch15", tools::SampleFormat::Sqlite});
    }

    // The window as the program shows it, proposing the database of the DB folder.
    std::unique_ptr<testsupport::FormWindow> showForm() {
        auto form = std::make_unique<testsupport::FormWindow>(dir.path() + "/");
        form->show();
        return form;
    }

    // Presses the run button with the mouse, as the operator does: the click passes through the
    // application's event loop, which shows an error raised by the run in the error box.
    void run(TForm1& form) { testsupport::clickAsOperator(*form.Button1); }

    std::vector<std::string> errors() {
        return dialogs->texts(testsupport::RecordingDialogs::Kind::Error);
    }
    std::vector<std::string> messages() {
        return dialogs->texts(testsupport::RecordingDialogs::Kind::Message);
    }

    testsupport::TempDir dir;
    testsupport::ScopedRecordingDialogs dialogs;
    std::string path;
};

} // namespace runtest
