#include "engine/jet4/AtomicFile.h"

#include "engine/jet4/DiskOperations.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace engine::jet4 {

namespace {

namespace fs = std::filesystem;

// How much one step of the copy moves: small enough that a kill test sees several steps in a
// large file, large enough that the steps cost nothing beside the copy itself.
constexpr std::uint64_t CopyStep = 64ull << 20;

std::string beside(const std::string& target, const char* suffix) {
    const fs::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + suffix)).string();
}

// Removes `path` if it is there (a step named "unlink"); a failure leaves it for the next writer.
void removeQuietly(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (disk::step("unlink") == 0)
        ::unlink(path.c_str());
}

} // namespace

FileIdentity FileIdentity::of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec),
            info.st_mtim.tv_nsec};
}

void requireUnchanged(const std::string& path, const FileIdentity& expected) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            throw FileChangedError(path);
        throw std::system_error(errno, std::generic_category(), "cannot examine " + path);
    }
    if (!(FileIdentity::of(info) == expected))
        throw FileChangedError(path);
}

std::string ReplacementCopy::pathFor(const std::string& target) {
    return beside(target, ".patch16-new");
}

void ReplacementCopy::removeLeftovers(const std::string& target) {
    removeQuietly(pathFor(target));
    removeQuietly(beside(target, ".patch16-undo"));
}

ReplacementCopy::ReplacementCopy(const std::string& target, int original,
                                 const struct stat& originalInfo)
    : target_(target), path_(pathFor(target)) {
    // Created private (0600) and given the database's mode only once its owner is set: chown
    // clears set-id bits, and a reader must never see the copy with wider rights than the
    // database it stands for.
    if (const int error = disk::step("create"))
        disk::fail(error, "create", path_);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        disk::fail(errno, "create", path_);
    try {
        copyFrom(original, static_cast<std::uint64_t>(originalInfo.st_size));
        struct stat mine {};
        if (::fstat(fd_, &mine) != 0)
            disk::fail(errno, "fstat", path_);
        if (mine.st_uid != originalInfo.st_uid || mine.st_gid != originalInfo.st_gid) {
            int error = disk::step("chown");
            if (error == 0 && ::fchown(fd_, originalInfo.st_uid, originalInfo.st_gid) != 0)
                error = errno;
            if (error != 0)
                disk::fail(error, "chown (to keep the database's owner)", path_);
        }
        int error = disk::step("chmod");
        if (error == 0 && ::fchmod(fd_, originalInfo.st_mode & 07777) != 0)
            error = errno;
        if (error != 0)
            disk::fail(error, "chmod (to keep the database's mode)", path_);
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        removeQuietly(path_);
        throw;
    }
}

ReplacementCopy::~ReplacementCopy() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    removeQuietly(path_);
}

void ReplacementCopy::copyFrom(int original, std::uint64_t size) {
    // copy_file_range lets the file system share or copy blocks without passing them through this
    // process; where it cannot (another file system type, an old kernel) the bytes go through a
    // buffer.
    std::uint64_t done = 0;
    std::vector<std::uint8_t> buffer;
    while (done < size) {
        const std::uint64_t chunk = std::min(CopyStep, size - done);
        if (const int error = disk::step("copy"))
            disk::fail(error, "copy", path_);
        std::uint64_t moved = 0;
        while (moved < chunk && buffer.empty()) {
            auto in = static_cast<off_t>(done + moved);
            auto out = in;
            const ssize_t n = ::copy_file_range(original, &in, fd_, &out, chunk - moved, 0);
            if (n > 0) {
                moved += static_cast<std::uint64_t>(n);
            } else if (n == 0) {
                disk::fail(EIO, "copy (the database ended early)", path_);
            } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EINVAL) {
                buffer.resize(1 << 20);
            } else if (errno != EINTR) {
                disk::fail(errno, "copy", path_);
            }
        }
        while (moved < chunk) {
            const std::size_t part = std::min<std::uint64_t>(buffer.size(), chunk - moved);
            disk::readAt(original, buffer.data(), part, done + moved, target_);
            std::size_t put = 0;
            while (put < part) {
                const ssize_t n = ::pwrite(fd_, buffer.data() + put, part - put,
                                           static_cast<off_t>(done + moved + put));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    disk::fail(n < 0 ? errno : ENOSPC, "copy", path_);
                put += static_cast<std::size_t>(n);
            }
            moved += part;
        }
        done += chunk;
    }
}

void ReplacementCopy::truncate(std::uint64_t size) {
    int error = disk::step("truncate");
    if (error == 0 && ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        error = errno;
    if (error != 0)
        disk::fail(error, "truncate", path_);
}

int ReplacementCopy::replace(const std::function<void()>& lastChecks) {
    // 1. The copy's bytes and size reach the disk before any name points at them; renamed
    //    first, a power cut could leave the database's name on a file with blocks missing.
    int error = disk::step("fsync");
    if (error == 0 && ::fsync(fd_) != 0)
        error = errno;
    if (error != 0)
        disk::fail(error, "fsync", path_);
    // 2. The refusals (the database replaced or changed meanwhile, Access opened it) come after
    //    the slow flush, as close to the rename as they can.
    lastChecks();
    const std::string folder = fs::path(target_).parent_path().string();
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // 3. The one step that changes the database: the name now points at the whole new content.
    error = disk::step("rename");
    if (error == 0 && ::rename(path_.c_str(), target_.c_str()) != 0)
        error = errno;
    if (error != 0) {
        if (folderFd >= 0)
            ::close(folderFd);
        disk::fail(error, "rename over the database", path_);
    }
    // 4. The folder's new entry reaches the disk; until then a power cut may bring back the old
    //    content, whole.
    if (folderFd >= 0) {
        if (disk::step("fsync folder") == 0)
            ::fsync(folderFd);
        ::close(folderFd);
    }
    const int placed = fd_;
    fd_ = -1;
    return placed;
}

} // namespace engine::jet4
