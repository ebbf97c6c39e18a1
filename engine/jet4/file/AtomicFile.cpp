#include "engine/jet4/file/AtomicFile.h"

#include "engine/jet4/file/DiskOperations.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace engine::jet4 {

namespace {

// How much one step of the copy moves: small enough that a kill test sees several steps in a
// large file, large enough that the steps cost nothing beside the copy itself.
constexpr std::uint64_t CopyStep = 64ull << 20;

std::string beside(const std::string& target, const char* suffix) {
    const std::string folder = sys::folderOf(target);
    const bool separated = folder.ends_with('/') || folder.ends_with('\\');
    return folder + (separated ? "" : "/") + "." + sys::nameOf(target) + suffix;
}

// Removes `path` if it is there (a step named "unlink"); a failure leaves it for the next writer.
void removeQuietly(const std::string& path) {
    if (!sys::exists(path))
        return;
    if (disk::step("unlink") == 0)
        sys::remove(path);
}

} // namespace

void requireUnchanged(const std::string& path, const FileIdentity& expected) {
    FileIdentity now;
    if (const int error = sys::identityAt(path, now)) {
        if (error == ENOENT)
            throw FileChangedError(path);
        throw std::system_error(error, std::generic_category(), "cannot examine " + path);
    }
    if (!(now == expected))
        throw FileChangedError(path);
}

std::string ReplacementCopy::pathFor(const std::string& target) {
    return beside(target, ".patch16-new");
}

void ReplacementCopy::removeLeftovers(const std::string& target) {
    removeQuietly(pathFor(target));
    removeQuietly(beside(target, ".patch16-undo"));
}

ReplacementCopy::ReplacementCopy(const std::string& target, sys::NativeFile original,
                                 std::uint64_t size)
    : target_(target), path_(pathFor(target)) {
    int error = disk::step("create");
    if (error == 0)
        error = sys::createNew(path_, true, file_);
    if (error != 0)
        disk::fail(error, "create", path_);
    try {
        copyFrom(original, size);
        sys::keepOwnerAndRights(file_, original, path_);
    } catch (...) {
        sys::close(file_);
        file_ = sys::NoFile;
        removeQuietly(path_);
        throw;
    }
}

ReplacementCopy::~ReplacementCopy() {
    if (placed_)
        return;
    sys::close(file_); // a failed replace on Windows has closed it already
    removeQuietly(path_);
}

void ReplacementCopy::copyFrom(sys::NativeFile original, std::uint64_t size) {
    for (std::uint64_t done = 0; done < size;) {
        const std::uint64_t chunk = std::min(CopyStep, size - done);
        int error = disk::step("copy");
        if (error == 0)
            error = sys::copyRange(original, file_, done, chunk);
        if (error != 0)
            disk::fail(error, "copy", path_);
        done += chunk;
    }
}

void ReplacementCopy::truncate(std::uint64_t size) {
    int error = disk::step("truncate");
    if (error == 0)
        error = sys::truncate(file_, size);
    if (error != 0)
        disk::fail(error, "truncate", path_);
}

sys::NativeFile ReplacementCopy::replace(const std::function<void()>& lastChecks) {
    // 1. The copy's bytes and size reach the disk before any name points at them; renamed
    //    first, a power cut could leave the database's name on a file with blocks missing.
    int error = disk::step("fsync");
    if (error == 0)
        error = sys::sync(file_);
    if (error != 0)
        disk::fail(error, "fsync", path_);
    // 2. The refusals (the database replaced or changed meanwhile, Access opened it) come after
    //    the slow flush, as close to the rename as they can.
    lastChecks();
    // 3. The one step that changes the database: the name now points at the whole new content.
    error = disk::step("rename");
    if (error == 0)
        error = sys::replace(path_, target_, file_);
    if (error != 0)
        disk::fail(error, "rename over the database", path_);
    // 4. The folder's new entry reaches the disk; until then a power cut may bring back the old
    //    content, whole.
    if (disk::step("fsync folder") == 0)
        sys::syncFolder(sys::folderOf(target_));
    placed_ = true;
    const sys::NativeFile placed = file_;
    file_ = sys::NoFile;
    return placed;
}

} // namespace engine::jet4
