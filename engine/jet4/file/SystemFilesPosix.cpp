// The file layer on Linux and other POSIX systems (see SystemFiles.h).
#if !defined(_WIN32)

#include "engine/jet4/file/SystemFiles.h"

#include "engine/jet4/file/DiskOperations.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace engine::jet4::sys {

namespace {

int fdOf(NativeFile file) {
    return static_cast<int>(file);
}

FileIdentity identityFrom(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
}

// Calls `visit` with each entry's name of the folder open at `dir` (closed at the end).
template <typename Visit> void forEachEntry(DIR* dir, Visit visit) {
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir))
        if (visit(entry->d_name))
            break;
    ::closedir(dir);
}

// Whether any process holds a byte-range lock on any part of the file open at `fd`. The probe is
// an open-file-description lock query, which conflicts with every other owner's locks (this
// process's own included) without taking any.
bool lockedAt(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // to the end of any offset
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

} // namespace

// ---- paths ----

std::string folderOf(const std::string& path) {
    const std::filesystem::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : ".";
}

std::string nameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

int canonical(const std::string& path, std::string& resolved) {
    std::error_code error;
    resolved = std::filesystem::canonical(path, error).string();
    return error.value();
}

// ---- open files ----

int openForReading(const std::string& path, NativeFile& file) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    file = fd;
    return fd < 0 ? errno : 0;
}

int createNew(const std::string& path, bool privateFile, NativeFile& file) {
    // O_NOFOLLOW: a symbolic link planted at the name is not followed to a file elsewhere.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          privateFile ? 0600 : 0666);
    file = fd;
    return fd < 0 ? errno : 0;
}

void close(NativeFile file) {
    if (file != NoFile)
        ::close(fdOf(file));
}

int identityOf(NativeFile file, FileIdentity& identity) {
    struct stat info {};
    if (::fstat(fdOf(file), &info) != 0)
        return errno;
    identity = identityFrom(info);
    return 0;
}

int isRegularFile(const std::string& path, bool& regular) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno;
    regular = S_ISREG(info.st_mode);
    return 0;
}

int identityAt(const std::string& path, FileIdentity& identity) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno;
    identity = identityFrom(info);
    return 0;
}

int readAt(NativeFile file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
           std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n =
            ::pread(fdOf(file), data + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int writeAt(NativeFile file, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(fdOf(file), data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int truncate(NativeFile file, std::uint64_t size) {
    return ::ftruncate(fdOf(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int sync(NativeFile file) {
    return ::fsync(fdOf(file)) == 0 ? 0 : errno;
}

// ---- the replacement copy ----

int copyRange(NativeFile from, NativeFile to, std::uint64_t offset, std::uint64_t size) {
    // copy_file_range lets the file system share or copy blocks without passing them through this
    // process; where it cannot (another file system type, an old kernel) the bytes go through a
    // buffer.
    std::uint64_t moved = 0;
    while (moved < size) {
        auto in = static_cast<off_t>(offset + moved);
        auto out = in;
        const ssize_t n = ::copy_file_range(fdOf(from), &in, fdOf(to), &out, size - moved, 0);
        if (n > 0) {
            moved += static_cast<std::uint64_t>(n);
        } else if (n == 0) {
            return EIO; // the database ended early
        } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
            break;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(size - moved, 1 << 20));
    while (moved < size) {
        const std::size_t part = std::min<std::uint64_t>(buffer.size(), size - moved);
        std::size_t got = 0;
        if (const int error = readAt(from, buffer.data(), part, offset + moved, got))
            return error;
        if (got < part)
            return EIO;
        if (const int error = writeAt(to, buffer.data(), part, offset + moved))
            return error;
        moved += part;
    }
    return 0;
}

void keepOwnerAndRights(NativeFile copy, NativeFile original, const std::string& copyPath) {
    // The copy was created private (0600) and gets the database's mode only once its owner is
    // set: chown clears set-id bits, and a reader must never see the copy with wider rights than
    // the database it stands for.
    struct stat mine {};
    struct stat theirs {};
    if (::fstat(fdOf(copy), &mine) != 0)
        disk::fail(errno, "fstat", copyPath);
    if (::fstat(fdOf(original), &theirs) != 0)
        disk::fail(errno, "fstat", copyPath);
    if (mine.st_uid != theirs.st_uid || mine.st_gid != theirs.st_gid) {
        int error = disk::step("chown");
        if (error == 0 && ::fchown(fdOf(copy), theirs.st_uid, theirs.st_gid) != 0)
            error = errno;
        if (error != 0)
            disk::fail(error, "chown (to keep the database's owner)", copyPath);
    }
    int error = disk::step("chmod");
    if (error == 0 && ::fchmod(fdOf(copy), theirs.st_mode & 07777) != 0)
        error = errno;
    if (error != 0)
        disk::fail(error, "chmod (to keep the database's mode)", copyPath);
}

int replace(const std::string& from, const std::string& to, NativeFile& /*file*/) {
    // rename() is atomic within a file system, and the open descriptor follows the file to its
    // new name.
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void syncFolder(const std::string& folder) {
    // The folder's entries are flushed only through the folder itself; until then a power cut
    // may bring back the old name's content, whole.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

int placeWithoutReplacing(const std::string& from, const std::string& to) {
    // A rename that never replaces, or where the file system has none, a hard link.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int mayWrite(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int mayWriteIn(const std::string& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// ---- the spill file ----

int openSpill(const std::string& database, NativeFile& file, std::string& name) {
    const std::string folder = folderOf(database);
    name = "a spill file in " + folder;
    // An unnamed file (O_TMPFILE) is gone with its last descriptor whatever ends the process.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    file = fd;
    if (fd >= 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errno;
    // Without O_TMPFILE a name exists between the open and the unlink; a crash in that instant
    // leaves it, named so the next writer removes it.
    name = (std::filesystem::path(folder) / ("." + nameOf(database) + ".patch16-undo")).string();
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    file = fd;
    if (fd < 0)
        return errno;
    ::unlink(name.c_str());
    return 0;
}

// ---- locks and other programs ----

int lockForWriting(NativeFile file) {
    // flock belongs to the open file, so a second open of the same database (this process or
    // another) is refused as surely as another program's.
    while (::flock(fdOf(file), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
    }
    return 0;
}

void unlock(NativeFile file) {
    ::flock(fdOf(file), LOCK_UN);
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    forEachEntry(::opendir(folder.c_str()), [&](const char* name) {
        names.emplace_back(name);
        return false;
    });
    return names;
}

bool onNetworkFileSystem(const std::string& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB (the old client)
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2/3
        return true;
    default:
        return false;
    }
}

bool openedByAnyProcess(const std::string& path) {
    // Linux tells who has a file open only through /proc/<pid>/fd; processes of other users are
    // hidden from an unprivileged caller and skipped quietly.
    struct stat wanted {};
    if (::stat(path.c_str(), &wanted) != 0)
        return false;
    bool found = false;
    forEachEntry(::opendir("/proc"), [&](const char* pid) {
        if (!std::isdigit(static_cast<unsigned char>(pid[0])))
            return false;
        DIR* fds = ::opendir((std::string("/proc/") + pid + "/fd").c_str());
        const int fdsFolder = fds ? ::dirfd(fds) : -1;
        forEachEntry(fds, [&](const char* fd) {
            struct stat target {};
            if (fd[0] != '.' && ::fstatat(fdsFolder, fd, &target, 0) == 0 &&
                target.st_dev == wanted.st_dev && target.st_ino == wanted.st_ino)
                found = true;
            return found;
        });
        return found;
    });
    return found;
}

bool lockedByAnyProcess(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool locked = lockedAt(fd);
    ::close(fd);
    return locked;
}

// ---- the program ----

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc); // bytes, as the file system takes them
}

// ---- time ----

long localOffsetSeconds(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    return local.tm_gmtoff;
}

} // namespace engine::jet4::sys

#endif
