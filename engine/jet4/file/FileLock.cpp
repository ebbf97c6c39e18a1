#include "engine/jet4/file/FileLock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>

namespace engine::jet4 {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

FileHolders holdersOf(const std::string& path) {
    FileHolders holders;
    if (!sys::exists(path))
        return holders;
    // The look for openers comes before the lock query opens the file, so it does not find
    // this process.
    holders.opened = sys::openedByAnyProcess(path);
    holders.locked = sys::lockedByAnyProcess(path);
    return holders;
}

std::string liveAccessLockFile(const std::string& database) {
    const std::string name = sys::nameOf(database);
    const auto dot = name.rfind('.');
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool ace = extension.starts_with(".acc");
    const std::string stem = name.substr(0, name.size() - extension.size());
    const std::string wanted = stem + (ace ? ".laccdb" : ".ldb");
    const std::string folder = sys::folderOf(database);
    const bool network = sys::onNetworkFileSystem(folder);
    const bool separated = folder.ends_with('/') || folder.ends_with('\\');

    for (const std::string& entry : sys::folderEntries(folder)) {
        if (!sameIgnoringCase(entry, wanted))
            continue;
        const std::string lockFile = folder + (separated ? "" : "/") + entry;
        const FileHolders holders = holdersOf(lockFile);
        if (network || holders.opened || holders.locked)
            return lockFile;
    }
    return {};
}

void requireNotInUse(const std::string& database, bool databaseLocks) {
    if (const std::string lockFile = liveAccessLockFile(database); !lockFile.empty())
        throw InUseError(InUseError::Holder::Access, lockFile,
                         database + " is in use: a program holds its lock file " + lockFile);
    if (databaseLocks && sys::lockedByAnyProcess(database))
        throw InUseError(InUseError::Holder::Access, database,
                         database + " is in use: a program holds a lock on part of it");
}

void lockForWriting(sys::NativeFile file, const std::string& path) {
    if (const int error = sys::lockForWriting(file)) {
        if (error == EWOULDBLOCK)
            throw InUseError(InUseError::Holder::AnotherWriter, path,
                             path + " is in use: another run is writing it");
        throw std::system_error(error, std::generic_category(), "cannot lock " + path);
    }
}

void unlock(sys::NativeFile file) {
    sys::unlock(file);
}

} // namespace engine::jet4
