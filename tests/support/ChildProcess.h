#pragma once
// Runs other programs for the tests (the independent Access readers, the Jackcess judge, the
// checker, the test program itself) and collects what they print. ChildProcessPosix.cpp and
// ChildProcessWindows.cpp carry it out.

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = 0;  // exit code, or 128 + signal
    std::string out; // as printed, a Windows line end (CR LF) read as LF
    std::string err;
};

// Runs a program (found on PATH unless the name holds a slash) with these arguments, UTF-8 (no
// shell, so file names pass unchanged), standard input empty, and returns what it printed.
// `environment` entries ("NAME=value") replace or add to this process's environment. Throws
// std::system_error when the program cannot be started.
ProcessResult runProgram(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {});

// The full name of the running test program, to start it again as a child.
std::string thisProgram();

// Whether an executable of this name is on PATH.
bool onPath(const std::string& program);

} // namespace testsupport
