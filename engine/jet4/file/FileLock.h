#pragma once
// Who else is using a database file, and the lock that keeps two writers of ours apart.
//
// Access keeps `<name>.ldb` (`<name>.laccdb` for .accdb) beside a database while it has it open,
// and takes byte-range locks on it and on the database. A lock file left by a crash stays behind
// with nobody holding it. On Windows a lock file counts as live while a program has it open (an
// open that shares nothing is then refused) or holds a lock on it; a database, while a program
// holds it open for writing or holds a lock on it. On Linux a lock file counts as live when a
// process on this machine has it open (seen in /proc/<pid>/fd, for every process this one may
// examine) or holds a byte-range lock on it (asked with F_OFD_GETLK, which sees every process's
// locks and, on NFS and SMB mounts, is put to the server); and always when it lies on a network
// file system, where its holder may be another machine whose open files cannot be seen from here. A
// byte-range lock on the database itself also counts as in use.

#include "engine/jet4/file/SystemFiles.h"

#include <stdexcept>
#include <string>

namespace engine::jet4 {

// Writing refused because someone else is using the database.
class InUseError : public std::runtime_error {
public:
    enum class Holder {
        Access,        // a live Access lock file, or a byte-range lock on the database
        AnotherWriter, // another writer of ours (this process or another) holds its level
    };
    InUseError(Holder holder, std::string path, const std::string& what)
        : std::runtime_error(what), holder_(holder), path_(std::move(path)) {}
    Holder holder() const { return holder_; }
    // The live lock file, or the database.
    const std::string& path() const { return path_; }

private:
    Holder holder_;
    std::string path_;
};

// What can be seen from this machine of who holds the file at `path`; nothing for a missing file.
struct FileHolders {
    bool opened = false; // a process has it open (only processes this one may examine)
    bool locked = false; // a process holds a byte-range lock on some part of it
};
FileHolders holdersOf(const std::string& path);

// The lock file beside `database` (found whatever the case of its letters) when it is live, as
// described above; empty when there is none or nobody holds it.
std::string liveAccessLockFile(const std::string& database);

// InUseError unless the database is free for writing: no live lock file and, with
// `databaseLocks`, no byte-range lock on the database itself (asked only before this process
// takes its own writer's lock, which NFS turns into a byte-range lock).
void requireNotInUse(const std::string& database, bool databaseLocks = true);

// Takes the exclusive writer's lock (held by the open file until unlock() or its last close);
// InUseError(AnotherWriter) when another open file holds it.
void lockForWriting(sys::NativeFile file, const std::string& path);
void unlock(sys::NativeFile file);

} // namespace engine::jet4
