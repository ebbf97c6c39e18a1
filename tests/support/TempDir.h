#pragma once
// Test helpers for files: a temporary folder removed with everything in it at the end of the
// test, whole-file reads for byte-for-byte comparisons, and plain SQLite files made without the
// engine (as another program would make them).

#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    // Creates a fresh, empty folder under the system's temporary folder; throws if it cannot.
    TempDir();
    // Removes the folder and everything in it (permissions restored first so nothing is left).
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's absolute path, without a trailing slash.
    const std::string& path() const { return path_; }
    // The absolute path of `name` inside the folder (nothing is created).
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// The whole content of the file at `path`; throws std::runtime_error when it cannot be read.
std::string fileBytes(const std::string& path);

// Writes `bytes` to `path`, replacing any file there; throws when it cannot.
void writeFileBytes(const std::string& path, const std::string& bytes);

// Creates (or opens) the SQLite database at `path` with the raw C API and runs each statement in
// order; throws std::runtime_error with SQLite's message on the first failure.
void makeSqliteFile(const std::string& path, const std::vector<std::string>& sqlStatements);

} // namespace testsupport
