#include "support/ForwardingChild.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

ForwardingChild::ForwardingChild(const std::string& testName, const Environment& environment,
                                 const std::string& program) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "patch16-child-XXXXXX").string();
    int out = ::mkstemp(pattern.data());
    if (out < 0)
        throw std::runtime_error("cannot create the child's output file");
    outputPath_ = pattern;

    std::vector<std::string> variables;
    // Other children may run at the same time: they must not fight over one result file.
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "GTEST_OUTPUT=", 13) != 0)
            variables.emplace_back(*e);
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    std::string executable = program;
    std::string filter = "--gtest_filter=" + testName;
    std::vector<char*> argv = {executable.data(), filter.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
    int rc = posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out);
    if (rc != 0) {
        ::unlink(outputPath_.c_str());
        throw std::runtime_error(std::string("cannot start the child: ") + std::strerror(rc));
    }
}

ForwardingChild::~ForwardingChild() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!outputPath_.empty())
        ::unlink(outputPath_.c_str());
}

ForwardingChild::Outcome ForwardingChild::wait(std::chrono::milliseconds limit) {
    Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            break;
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("lost the child process");
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            outcome.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    std::ifstream in(outputPath_, std::ios::binary);
    outcome.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return outcome;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace testsupport
