#pragma once
// What the run benchmarks share: the run started as the operator starts it, in a child process
// of its own. The window offscreen, the path in Edit1, a mouse click on Button1 delivered
// through the application, whose error box reports whatever the run raises; every box is kept
// rather than shown, so none waits for an operator. The child prints "time WALL cpu CPU" (the
// click, in seconds) and every box; the parent starts it, reads that line and its peak memory,
// and takes the command line both benchmarks share: [--sizes N,N,...] [--repeat R] [--dir FOLDER].

#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "platform/Dialogs.h"
#include "platform/qt/Application.h"
#include "platform/qt/QtForm.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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

    // The window goes before the form, so no panel window outlives its panel.
    auto window = std::make_unique<platform::QtForm>();
    TForm1 form(*window, std::filesystem::path(path).parent_path().string() + "/");
    form.Edit1->setText(path);
    window->show();
    QCoreApplication::processEvents();
    if (!form.Button1->Enabled()) {
        std::fprintf(stderr, "the run button stays disabled for %s\n", path.c_str());
        return 1;
    }

    QWidget* button = platform::QtForm::widgetOf(*form.Button1);
    const QPointF centre(button->width() / 2.0, button->height() / 2.0);
    const QPointF global = button->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    const Stopwatch stopwatch;
    QCoreApplication::sendEvent(button, &press);
    QCoreApplication::sendEvent(button, &release);
    stopwatch.print();
    window.reset();

    platform::setDialogs(nullptr);
    for (const std::string& box : dialogs.boxes)
        std::printf("%s\n", box.c_str());
    return dialogs.boxes.empty() ? 0 : 1;
}

struct Measurement {
    double seconds = 0;    // wall-clock time of the work
    double cpuSeconds = 0; // processor time of the work, user and system
    long peakKiB = 0;      // ru_maxrss of the whole child
};

// Runs `args` (the program first) as a child and collects the time it printed and its peak
// memory. Anything the child reports besides its time is a failure.
inline Measurement measureChild(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string printed;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);

    Measurement m;
    m.peakKiB = usage.ru_maxrss;
    std::istringstream lines(printed);
    std::string time, cpu;
    lines >> time >> m.seconds >> cpu >> m.cpuSeconds;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || time != "time" || cpu != "cpu") {
        std::string command;
        for (std::size_t i = 1; i < args.size(); ++i)
            command += " " + args[i];
        throw std::runtime_error("the run" + command + " failed:\n" + printed);
    }
    return m;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median of `field` over `runs`, and the largest peak memory among them in MiB.
inline double medianOf(const std::vector<Measurement>& runs, double Measurement::*field) {
    std::vector<double> values;
    for (const Measurement& m : runs)
        values.push_back(m.*field);
    return median(values);
}

inline double peakMiB(const std::vector<Measurement>& runs) {
    long peak = 0;
    for (const Measurement& m : runs)
        peak = std::max(peak, m.peakKiB);
    return static_cast<double>(peak) / 1024.0;
}

// A byte-for-byte copy of `from` (any SQLite journal beside `to` removed), flushed to the disk so
// that no write-back of the copy falls into the measurement.
inline void copyFile(const std::string& from, const std::string& to) {
    std::filesystem::remove(to);
    std::filesystem::remove(to + "-journal");
    std::filesystem::copy_file(from, to);
    const int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0)
        throw std::runtime_error("cannot flush " + to);
    ::close(fd);
}

// Makes the benchmark's FOLDER and, inside it, the private runtime folder Qt wants (its warning
// kept out of the figures); returns this program's own path, for its children.
inline std::string prepareFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const std::filesystem::path runtime = folder / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

inline std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Options {
    std::vector<std::int32_t> sizes = {10000, 100000, 1000000};
    int repeat = 3;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "patch16-bench";
};

// The benchmarks' command line; nothing for one they do not take.
inline std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        if (arg == "--sizes") {
            o.sizes.clear();
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');)
                o.sizes.push_back(std::stoi(item));
        } else if (arg == "--repeat") {
            o.repeat = std::max(1, std::stoi(value));
        } else if (arg == "--dir") {
            o.folder = value;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

} // namespace bench
