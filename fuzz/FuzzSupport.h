#pragma once
// What both fuzz targets share: a scratch folder for the process, whole-file reads and writes,
// and a stop that libFuzzer records as a finding with the reason printed first.

#include <string>
#include <vector>

namespace fuzz {

// Bounds the work of every statement on every SQLite connection opened from now on: a value may
// hold at most 16 MB, and a statement running past a fixed number of SQLite's steps (far more
// than any of the tool's own statements need) is interrupted, which the engine must report as an
// error. Inputs that legitimately ask for huge values or joins of many tables then end as errors
// instead of exhausting the fuzzer's memory or time limits. Call workStarted() before each input.
void limitEveryConnection();
void workStarted();

// A fresh folder under the system's temporary folder, removed with its content at exit.
class ScratchDir {
public:
    // Creates the folder; stops the process when it cannot (nothing can be fuzzed then).
    ScratchDir();
    // Removes the folder and everything in it.
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The absolute path of `name` inside the folder (nothing is created).
    std::string file(const std::string& name) const;
    // Names of every entry of the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// The whole content of `path`; stops the process when it cannot be read.
std::string readFile(const std::string& path);
// Replaces `path` with a new file holding `bytes`; stops the process when it cannot.
void writeFile(const std::string& path, const std::string& bytes);

// Prints `why` and aborts, so libFuzzer saves the input as a crash.
[[noreturn]] void finding(const std::string& why);

} // namespace fuzz
