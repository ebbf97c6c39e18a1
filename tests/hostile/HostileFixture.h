#pragma once
// What the bad-input tests share: a temporary folder, the engine, recorded boxes, the run started
// as the operator starts it, and a way for a child process to hand its recorded boxes back.

#include "engine/Registration.h"
#include "support/FormWindow.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace hostile {

using Box = testsupport::RecordingDialogs::Box;
using Kind = testsupport::RecordingDialogs::Kind;

inline const std::string PreviousNeeded = "Необходимо предварительно выполнить предыдущие патчи";
inline const std::string NotNeeded = "Нет необходимости в выполнении данного патча";
inline const std::string Unchanged = "\nБаза данных не изменена.";
inline const std::string CannotOpen = "Не удалось открыть ";

// What the operator saw of one run.
struct Seen {
    bool enabledBefore = false; // could the run button be pressed at all
    bool enabledAfter = false;
    std::string meter; // the meter's caption at the end
    std::vector<Box> boxes;
};

// Runs the patch on `path` through the window. An enabled run button is clicked with the mouse,
// so an error reaches the event loop's error box; a disabled one cannot be pressed, so the
// handler is called directly and what it raises is shown as the event loop would show it.
inline Seen runThroughWindow(const std::string& programFolder, const std::string& path,
                             testsupport::RecordingDialogs& dialogs) {
    testsupport::FormWindow form(programFolder + "/");
    form.Edit1->setText(path);
    form.show();
    QCoreApplication::processEvents();
    dialogs.clear();
    Seen seen;
    seen.enabledBefore = form.Button1->Enabled();
    if (seen.enabledBefore) {
        testsupport::clickAsOperator(*form.Button1);
    } else {
        try {
            form.Button1Click();
        } catch (const std::exception& e) {
            dialogs.showError(e.what());
        }
    }
    seen.enabledAfter = form.Button1->Enabled();
    seen.meter = form.Meter->DisplayText();
    seen.boxes = dialogs.boxes();
    return seen;
}

// One line per box, new lines escaped, so a child can print what it saw on its output.
inline std::string encode(const std::vector<Box>& boxes) {
    std::string out;
    for (const Box& box : boxes) {
        out += "BOX\t" + std::to_string(static_cast<int>(box.kind)) + "\t" + box.caption + "\t";
        for (char c : box.text)
            out += c == '\n'   ? std::string("\\n")
                   : c == '\\' ? std::string("\\\\")
                               : std::string(1, c);
        out += "\n";
    }
    return out;
}

// The boxes encode() wrote, picked out of a child's whole output.
inline std::vector<Box> decode(const std::string& output) {
    std::vector<Box> boxes;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("BOX\t"))
            continue;
        std::size_t a = line.find('\t', 4);
        std::size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            continue;
        Box box{static_cast<Kind>(std::stoi(line.substr(4, a - 4))), line.substr(a + 1, b - a - 1),
                ""};
        for (std::size_t i = b + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                box.text += line[i + 1] == 'n' ? '\n' : line[i + 1];
                ++i;
            } else {
                box.text += line[i];
            }
        }
        boxes.push_back(std::move(box));
    }
    return boxes;
}

// Boxes in a readable form for failure messages and for the printed matrix.
inline std::string describe(const std::vector<Box>& boxes) {
    std::string out;
    for (const Box& box : boxes) {
        const char* kind = box.kind == Kind::Message      ? "Message"
                           : box.kind == Kind::MessageBox ? "MessageBox"
                                                          : "Error";
        out += std::string("[") + kind + (box.caption.empty() ? "" : " " + box.caption) + "] " +
               box.text + "\n";
    }
    return out;
}

class HostileTest : public ::testing::Test {
protected:
    HostileTest() { engine::registerEngine(); }

    Seen run(const std::string& path) { return runThroughWindow(dir.path(), path, *dialogs); }

    // The stamp as SQLite reads it.
public:
    static std::string stamp(const std::string& path) {
        auto rows = testsupport::sqliteRows(path, "SELECT AValue FROM param WHERE ID = 'patch'");
        return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
    }

protected:
    testsupport::TempDir dir;
    testsupport::ScopedRecordingDialogs dialogs;
};

} // namespace hostile
