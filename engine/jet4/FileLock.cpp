#include "engine/jet4/FileLock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unistd.h>

namespace engine::jet4 {

namespace {

namespace fs = std::filesystem;

// Calls `visit` with each entry's name of the folder open at `dir` (closed at the end).
template <typename Visit> void forEachEntry(DIR* dir, Visit visit) {
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir))
        if (visit(entry->d_name))
            break;
    ::closedir(dir);
}

// Whether any process whose descriptors this one may read has the file (device, inode) open.
// Processes of other users are hidden from an unprivileged caller; they are skipped quietly.
bool openedByAnyProcess(dev_t device, ino_t inode) {
    bool found = false;
    forEachEntry(::opendir("/proc"), [&](const char* pid) {
        if (!std::isdigit(static_cast<unsigned char>(pid[0])))
            return false;
        DIR* fds = ::opendir((std::string("/proc/") + pid + "/fd").c_str());
        const int fdsFolder = fds ? ::dirfd(fds) : -1;
        forEachEntry(fds, [&](const char* fd) {
            struct stat target {};
            if (fd[0] != '.' && ::fstatat(fdsFolder, fd, &target, 0) == 0 &&
                target.st_dev == device && target.st_ino == inode)
                found = true;
            return found;
        });
        return found;
    });
    return found;
}

// Whether any process holds a byte-range lock on any part of the file open at `fd`. The probe is
// an open-file-description lock query, which conflicts with every other owner's locks (this
// process's own included) without taking any.
bool lockedByAnyProcess(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // to the end of any offset
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// Whether the folder at `path` lies on a file system served by another machine.
bool onNetworkFileSystem(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0)
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

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

FileHolders holdersOf(const std::string& path) {
    FileHolders holders;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return holders;
    // The scan comes before this process opens the file for the lock query, so it does not find
    // itself.
    holders.opened = openedByAnyProcess(info.st_dev, info.st_ino);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        holders.locked = lockedByAnyProcess(fd);
        ::close(fd);
    }
    return holders;
}

std::string liveAccessLockFile(const std::string& database) {
    const fs::path path(database);
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool ace = extension.starts_with(".acc");
    const std::string wanted = path.stem().string() + (ace ? ".laccdb" : ".ldb");
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    const bool network = onNetworkFileSystem(folder);

    std::string live;
    forEachEntry(::opendir(folder.c_str()), [&](const char* name) {
        if (!sameIgnoringCase(name, wanted))
            return false;
        const std::string lockFile = folder + "/" + name;
        const FileHolders holders = holdersOf(lockFile);
        if (network || holders.opened || holders.locked)
            live = lockFile;
        return !live.empty();
    });
    return live;
}

void requireNotInUse(const std::string& database, bool databaseLocks) {
    if (const std::string lockFile = liveAccessLockFile(database); !lockFile.empty())
        throw InUseError(InUseError::Holder::Access, lockFile,
                         database + " is in use: a program holds its lock file " + lockFile);
    if (!databaseLocks)
        return;
    const int fd = ::open(database.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    const bool locked = fd >= 0 && lockedByAnyProcess(fd);
    if (fd >= 0)
        ::close(fd);
    if (locked)
        throw InUseError(InUseError::Holder::Access, database,
                         database + " is in use: a program holds a lock on part of it");
}

void lockForWriting(int fd, const std::string& path) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            throw InUseError(InUseError::Holder::AnotherWriter, path,
                             path + " is in use: another run is writing it");
        throw std::system_error(errno, std::generic_category(), "cannot lock " + path);
    }
}

void unlock(int fd) {
    ::flock(fd, LOCK_UN);
}

} // namespace engine::jet4
