#pragma once
// What the run benchmarks share: the run started as the operator starts it, in a child process
// of its own. The window offscreen, the path in Edit1, a mouse click on Button1 delivered
// through the application, whose error box reports whatever the run raises; every box is kept
// rather than shown, so none waits for an operator. The child prints "time WALL cpu CPU" (the
// click, in seconds) and every box.

#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace bench {

// Wall-clock time and this process's processor time (user and system) since the watch was made.
class Stopwatch {
public:
    Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(cpuNow()) {}
    // Prints the line the parent reads: "time WALL cpu CPU", in seconds.
    void print() const {
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_;
        std::printf("time %.6f cpu %.6f\n", wall.count(), cpuNow() - cpu_);
    }

private:
    static double cpuNow() {
        rusage self{};
        ::getrusage(RUSAGE_SELF, &self);
        auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
        return seconds(self.ru_utime) + seconds(self.ru_stime);
    }
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};

// Keeps every box the run would have shown, so none waits for an operator.
class QuietDialogs : public platform::Dialogs {
public:
    void showMessage(const std::string& text) override { boxes.push_back("message: " + text); }
    void messageBox(const std::string& text, const std::string& caption) override {
        boxes.push_back("box " + caption + ": " + text);
    }
    void showError(const std::string& text) override { boxes.push_back("error: " + text); }
    std::optional<std::string> openFile(const platform::OpenFileRequest&) override {
        return std::nullopt;
    }

    std::vector<std::string> boxes;
};

// Runs the upgrade on `path` through the window; 0 when no box was shown.
inline int runThroughWindow(const std::string& path, int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::Application app(argc, argv);
    QuietDialogs dialogs;
    platform::setDialogs(&dialogs);
    engine::registerEngine();

    TForm1 form(std::filesystem::path(path).parent_path().string() + "/");
    form.Edit1->setText(QString::fromStdString(path));
    form.show();
    QCoreApplication::processEvents();
    if (!form.Button1->isEnabled()) {
        std::fprintf(stderr, "the run button stays disabled for %s\n", path.c_str());
        return 1;
    }

    const QPointF centre(form.Button1->width() / 2.0, form.Button1->height() / 2.0);
    const QPointF global = form.Button1->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    const Stopwatch stopwatch;
    QCoreApplication::sendEvent(form.Button1, &press);
    QCoreApplication::sendEvent(form.Button1, &release);
    stopwatch.print();

    platform::setDialogs(nullptr);
    for (const std::string& box : dialogs.boxes)
        std::printf("%s\n", box.c_str());
    return dialogs.boxes.empty() ? 0 : 1;
}

} // namespace bench
