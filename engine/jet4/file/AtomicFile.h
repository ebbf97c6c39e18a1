#pragma once
// The new content of a database is built in a copy beside it and put in its place with one
// rename, so the file at the database's path is at every moment either the old content or the
// whole new content, whatever stops the process or the machine.
//
// The copy is `.<name>.patch16-new` in the database's folder (the same file system, so the rename
// is atomic), given the database's owner and rights (SystemFiles.h says how each system does it). A
// run that ends in the middle leaves at most that file behind; the next writer removes it once it
// holds the writer's lock.

#include "engine/jet4/file/SystemFiles.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace engine::jet4 {

using sys::FileIdentity;

// The file at the database's path is no longer the one that was opened and read.
class FileChangedError : public std::runtime_error {
public:
    explicit FileChangedError(const std::string& path)
        : std::runtime_error(path + " was changed or replaced by another program since it was "
                                    "opened; nothing was written") {}
};

// FileChangedError unless the file at `path` has `expected`'s identity (a missing file included);
// std::system_error when it cannot be examined for another reason.
void requireUnchanged(const std::string& path, const FileIdentity& expected);

class ReplacementCopy {
public:
    // The copy's path for the database at `target`.
    static std::string pathFor(const std::string& target);
    // Removes whatever a run that ended abruptly left beside `target` (the copy, a named spill
    // file). Only for the holder of the writer's lock: another writer's copy is not a leftover.
    static void removeLeftovers(const std::string& target);

    // Creates the copy beside `target` holding the first `size` bytes of the open database
    // `original`, with its owner and rights. std::system_error when any step fails (ENOSPC,
    // EFBIG, EPERM for an owner this process may not give...), the copy removed.
    ReplacementCopy(const std::string& target, sys::NativeFile original, std::uint64_t size);
    // Removes the copy unless it was put in place.
    ~ReplacementCopy();
    ReplacementCopy(const ReplacementCopy&) = delete;
    ReplacementCopy& operator=(const ReplacementCopy&) = delete;

    // The copy, open for reading and writing.
    sys::NativeFile file() const { return file_; }
    const std::string& path() const { return path_; }
    // Cuts the copy to `size` bytes; std::system_error on failure.
    void truncate(std::uint64_t size);

    // Flushes the copy, runs `lastChecks` (which throw to refuse), renames the copy over the
    // target and flushes the folder. Before the rename nothing of the target has changed, and a
    // failure or refusal raises with the copy still there for the destructor to remove. After
    // it the target is the new content: a failed flush of the folder is not reported, as it only
    // leaves the rename as exposed to a power cut as it was an instant before (the file is then
    // the old or the new content, both whole). Returns the descriptor of what is now the
    // database, open for reading, which the caller owns from then on.
    sys::NativeFile replace(const std::function<void()>& lastChecks);

private:
    void copyFrom(sys::NativeFile original, std::uint64_t size);

    std::string target_;
    std::string path_;
    sys::NativeFile file_ = sys::NoFile;
    bool placed_ = false;
};

} // namespace engine::jet4
