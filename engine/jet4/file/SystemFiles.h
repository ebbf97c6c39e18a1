#pragma once
// Everything the Jet 4 store asks of the operating system, in one place: open files read and
// written at an offset, flushes, the copy put over the database in one step, the spill file, the
// writer's lock and the signs that another program uses a file. SystemFilesPosix.cpp and
// SystemFilesWindows.cpp carry it out, the same members in the same order; no other file of the
// engine includes a system header.
//
// Paths are the engine's strings: UTF-8 bytes, with '/' (and on Windows '\') between folders.
// Errors are errno values (0 for success), so a failure injected by the disk hook and one made by
// the system read the same; the Windows side translates its own codes into them.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace engine::jet4::sys {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using NativeFile = std::intptr_t;
inline constexpr NativeFile NoFile = -1;

// What tells that the file at a path is still the one a reader opened: another file renamed over
// it changes the volume or file number, a change in place the size or modification time.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t fileNumber = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;
};

// ---- paths ----

// The folder part of `path` ("." when it has none) and its last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// `path` with symbolic links and relative steps resolved; an error when it does not exist.
int canonical(const std::string& path, std::string& resolved);

// ---- open files ----

// Opens an existing file for reading; other programs may still read, write, rename or delete it.
int openForReading(const std::string& path, NativeFile& file);
// Creates `path` for reading and writing, failing with EEXIST when anything is there. A private
// file is readable by its owner alone until it is given other rights.
int createNew(const std::string& path, bool privateFile, NativeFile& file);
void close(NativeFile file);
int identityOf(NativeFile file, FileIdentity& identity);
// Whether `path` names a regular file (not a folder, device or pipe); ENOENT when nothing is there.
int isRegularFile(const std::string& path, bool& regular);
// ENOENT when nothing is at `path`.
int identityAt(const std::string& path, FileIdentity& identity);
// Reads up to `size` bytes at `offset`; `got` is less than `size` only where the file ends.
int readAt(NativeFile file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
           std::size_t& got);
// Writes all `size` bytes at `offset`; a write that makes no progress counts as ENOSPC.
int writeAt(NativeFile file, const std::uint8_t* data, std::size_t size, std::uint64_t offset);
int truncate(NativeFile file, std::uint64_t size);
// After it returns, the file's bytes and size survive a power cut.
int sync(NativeFile file);

// ---- the replacement copy ----

// Copies `size` bytes at `offset` from `from` to the same offset of `to`.
int copyRange(NativeFile from, NativeFile to, std::uint64_t offset, std::uint64_t size);
// Gives the copy the owner and rights of the database it will replace (disk steps "chown" and
// "chmod"); std::system_error on failure.
void keepOwnerAndRights(NativeFile copy, NativeFile original, const std::string& copyPath);
// Puts the file at `from` (open as `file`, flushed) in the place of `to` in one step: a reader
// of `to` sees the old file or the new one, never a mix. On success `file` is open on what is
// now `to`.
int replace(const std::string& from, const std::string& to, NativeFile& file);
// Makes the last rename or creation in `folder` survive a power cut, where that needs a step.
void syncFolder(const std::string& folder);
// Puts the file at `from` at `to` unless something is there already (EEXIST).
int placeWithoutReplacing(const std::string& from, const std::string& to);
bool exists(const std::string& path);
// Removes the file at `path`; its error is ignored by callers that only tidy up.
int remove(const std::string& path);
// Whether the file and the folder may be written by this process.
int mayWrite(const std::string& path);
int mayWriteIn(const std::string& folder);

// ---- the spill file ----

// A file for reading and writing beside the database at `database` that the system removes when
// it is closed, whatever ends the process; `name` says where it is, for messages.
int openSpill(const std::string& database, NativeFile& file, std::string& name);

// ---- locks and other programs ----

// Takes the writer's lock on the open database; EWOULDBLOCK when another open file holds it.
int lockForWriting(NativeFile file);
void unlock(NativeFile file);
// The names in `folder` (empty when it cannot be listed).
std::vector<std::string> folderEntries(const std::string& folder);
// Whether `folder` is on a file system served by another machine.
bool onNetworkFileSystem(const std::string& folder);
// Whether a program has the file at `path` open (for writing, where only that can be seen), and
// whether one holds a byte-range lock on it, outside the writer's lock of ours.
bool openedByAnyProcess(const std::string& path);
bool lockedByAnyProcess(const std::string& path);

// ---- the program ----

// The program's arguments as UTF-8, whatever the system passed to main(): Windows gives main()
// its arguments in the local code page, which cannot hold every name a path may have.
std::vector<std::string> programArguments(int argc, char** argv);

#ifdef _WIN32
// ---- Windows' own names ----
// The engine's UTF-8 as the system's UTF-16, and back, for callers that meet Windows' wide calls.
std::wstring wide(const std::string& text);
std::string narrow(const std::wstring& text);
// The name the system is given for `path`: made absolute, '/' turned into '\' (the \\?\ form
// takes names literally, so the system no longer does that), and prefixed \\?\ (\\?\UNC\ for
// a network share) so no length limit applies.
std::wstring systemName(const std::string& path);
#endif

// ---- time ----

// Seconds the local time is ahead of UTC at `when`.
long localOffsetSeconds(std::time_t when);

} // namespace engine::jet4::sys
