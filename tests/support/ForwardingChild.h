#pragma once
// Runs one test of this very test program in a child process (the program re-executed through
// /proc/self/exe or a copy of it, never a fork of a process that runs Qt), with extra environment
// variables that tell the child test what to do. Every wait is bounded: a child that outlives its
// time is killed.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testsupport {

class ForwardingChild {
public:
    // How the child ended.
    struct Outcome {
        bool timedOut = false; // killed by wait() when its time ran out
        int exitCode = -1;     // the exit status when it exited, else -1
        int signal = 0;        // the signal that ended it, else 0
        std::string output;    // everything it wrote to stdout and stderr
    };
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts this program (or `program`, a copy of it elsewhere) with only `testName`
    // ("Suite.Test") selected and `environment` added to the parent's. Throws
    // std::runtime_error when the child cannot be started.
    ForwardingChild(const std::string& testName, const Environment& environment,
                    const std::string& program = "/proc/self/exe");
    // Kills and reaps the child when it was never waited for.
    ~ForwardingChild();
    ForwardingChild(const ForwardingChild&) = delete;
    ForwardingChild& operator=(const ForwardingChild&) = delete;

    // Waits for the child to end, at most `limit`; kills it (SIGKILL) when the time runs out.
    // Callable once.
    Outcome wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    std::string outputPath_;
};

// The value of the environment variable `name`, or "" when it is not set.
std::string environmentValue(const char* name);

} // namespace testsupport
