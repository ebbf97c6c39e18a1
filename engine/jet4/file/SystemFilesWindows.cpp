// The file layer on Windows (see SystemFiles.h), through the wide-character API so any name the
// file system holds can be reached: the engine's UTF-8 paths become UTF-16, and absolute ones
// get the \\?\ prefix that lifts the 260-character limit.
#if defined(_WIN32)

#include "engine/jet4/file/SystemFiles.h"

#include "engine/jet4/file/DiskOperations.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace engine::jet4::sys {

namespace {

// The writer's lock is one byte far past any page a database can have (page numbers are 32-bit,
// so files end below 2^44), so it never stops a reader of ours, and the probe for other
// programs' locks can leave it out.
constexpr std::uint64_t WriterLockOffset = 1ull << 62;

HANDLE handleOf(NativeFile file) {
    return reinterpret_cast<HANDLE>(file);
}

NativeFile fileOf(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? NoFile : reinterpret_cast<NativeFile>(handle);
}

// The errno value the engine reports for the system's last error. Only the distinctions callers
// act on are kept (missing, exists, refused, in use, full); the rest is an I/O error.
int lastError() {
    switch (::GetLastError()) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SUPPORTED:
        return ENOTSUP;
    default:
        return EIO;
    }
}

} // namespace

std::wstring wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length);
    return result;
}

std::string narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length, nullptr, nullptr);
    return result;
}

std::wstring systemName(const std::string& path) {
    std::wstring name = wide(path);
    if (name.starts_with(L"\\\\?\\"))
        return name;
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = ::GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
    }
    if (length == 0)
        return name;
    full.resize(length);
    std::replace(full.begin(), full.end(), L'/', L'\\');
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

namespace {

HANDLE openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return ::CreateFileW(systemName(path).c_str(), access, share, nullptr, disposition, flags,
                         nullptr);
}

// Every share mode: our readers and writers never stop another program from opening the file,
// and FILE_SHARE_DELETE lets the copy be put over a database that is still open here.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

std::int64_t ticksOf(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}

} // namespace

// ---- paths ----

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return path.substr(0, slash + 1); // the root keeps its separator
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int canonical(const std::string& path, std::string& resolved) {
    // The final name of the open file: links and junctions followed, as the POSIX side does.
    const HANDLE handle =
        openHandle(path, FILE_READ_ATTRIBUTES, ShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE)
        return lastError();
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                               FILE_NAME_NORMALIZED);
    if (length >= name.size()) {
        name.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, name.data(), length, FILE_NAME_NORMALIZED);
    }
    ::CloseHandle(handle);
    if (length == 0) {
        // Wine answers a final name longer than MAX_PATH with an error; the full name then
        // stands for it (the file exists, as it was just opened), links left as they are.
        name = systemName(path);
        length = static_cast<DWORD>(name.size());
    }
    name.resize(length);
    // Shown to the operator and used as a prefix for names beside it: the plain form reads
    // better and systemName() adds the prefix again.
    if (name.starts_with(L"\\\\?\\UNC\\"))
        name = L"\\\\" + name.substr(8);
    else if (name.starts_with(L"\\\\?\\"))
        name = name.substr(4);
    resolved = narrow(name);
    return 0;
}

// ---- open files ----

int openForReading(const std::string& path, NativeFile& file) {
    file = fileOf(openHandle(path, GENERIC_READ, ShareAll, OPEN_EXISTING));
    return file == NoFile ? lastError() : 0;
}

int createNew(const std::string& path, bool /*privateFile*/, NativeFile& file) {
    // A new file inherits the folder's access rules; the copy then takes the database's own
    // when it replaces it (ReplaceFileW), so there is nothing to narrow here.
    file = fileOf(openHandle(path, GENERIC_READ | GENERIC_WRITE | DELETE, ShareAll, CREATE_NEW));
    return file == NoFile ? lastError() : 0;
}

void close(NativeFile file) {
    if (file != NoFile)
        ::CloseHandle(handleOf(file));
}

int identityOf(NativeFile file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handleOf(file), &info))
        return lastError();
    // The last-write time counts 100 ns ticks; seconds and nanoseconds as on the POSIX side.
    const std::int64_t ticks = ticksOf(info.ftLastWriteTime);
    identity = {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, ticks / 10000000,
                static_cast<long>(ticks % 10000000) * 100};
    return 0;
}

int isRegularFile(const std::string& path, bool& regular) {
    const DWORD attributes = ::GetFileAttributesW(systemName(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastError();
    regular = !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    return 0;
}

int identityAt(const std::string& path, FileIdentity& identity) {
    const HANDLE handle =
        openHandle(path, FILE_READ_ATTRIBUTES, ShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE)
        return lastError();
    const int error = identityOf(fileOf(handle), identity);
    ::CloseHandle(handle);
    return error;
}

int readAt(NativeFile file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
           std::size_t& got) {
    got = 0;
    while (got < size) {
        OVERLAPPED where = at(offset + got);
        DWORD n = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
        if (!::ReadFile(handleOf(file), data + got, part, &n, &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            return lastError();
        }
        if (n == 0)
            break;
        got += n;
    }
    return 0;
}

int writeAt(NativeFile file, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED where = at(offset + done);
        DWORD n = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        if (!::WriteFile(handleOf(file), data + done, part, &n, &where))
            return lastError();
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

int truncate(NativeFile file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(handleOf(file), FileEndOfFileInfo, &end, sizeof end)
               ? 0
               : lastError();
}

int sync(NativeFile file) {
    return ::FlushFileBuffers(handleOf(file)) ? 0 : lastError();
}

// ---- the replacement copy ----

int copyRange(NativeFile from, NativeFile to, std::uint64_t offset, std::uint64_t size) {
    // Windows has no call that copies between two open files; the bytes go through a buffer.
    std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(size, 1 << 20));
    for (std::uint64_t moved = 0; moved < size;) {
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

void keepOwnerAndRights(NativeFile, NativeFile, const std::string&) {
    // ReplaceFileW gives the copy the replaced file's attributes and security when it takes its
    // place, so nothing is set beforehand.
}

int replace(const std::string& from, const std::string& to, NativeFile& file) {
    // Neither call takes a file that this process holds open without FILE_SHARE_DELETE, and the
    // copy is not renamed through its handle: the handle is closed first and the new database
    // opened again afterwards.
    ::CloseHandle(handleOf(file));
    file = NoFile;
    const std::wstring source = systemName(from);
    const std::wstring target = systemName(to);
    // ReplaceFileW keeps the database's attributes, owner and access rules; where it cannot (a
    // file system without them, a network share that refuses) a plain replacing move does the
    // same step, written through to the disk before it returns.
    if (!::ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr) &&
        !::MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return lastError();
    return openForReading(to, file);
}

void syncFolder(const std::string&) {
    // Windows has no flush of a folder: MOVEFILE_WRITE_THROUGH and ReplaceFileW's own journaled
    // rename make the new name durable before they return.
}

int placeWithoutReplacing(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything is at `to`.
    return ::MoveFileExW(systemName(from).c_str(), systemName(to).c_str(), MOVEFILE_WRITE_THROUGH)
               ? 0
               : lastError();
}

bool exists(const std::string& path) {
    return ::GetFileAttributesW(systemName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int remove(const std::string& path) {
    return ::DeleteFileW(systemName(path).c_str()) ? 0 : lastError();
}

int mayWrite(const std::string& path) {
    // The read-only attribute is what stops a writer short of the access rules, which the
    // opening for writing below finds.
    const DWORD attributes = ::GetFileAttributesW(systemName(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastError();
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return EACCES;
    const HANDLE handle = openHandle(path, GENERIC_WRITE, ShareAll, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        // Another program writing it is seen later as "in use", not as a refusal of rights.
        const int error = lastError();
        return error == EBUSY ? 0 : error;
    }
    ::CloseHandle(handle);
    return 0;
}

int mayWriteIn(const std::string& folder) {
    const DWORD attributes = ::GetFileAttributesW(systemName(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastError();
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? 0 : ENOTDIR;
}

// ---- the spill file ----

int openSpill(const std::string& database, NativeFile& file, std::string& name) {
    // FILE_FLAG_DELETE_ON_CLOSE: the system removes the file when its last handle closes, which
    // includes the end of the process however it ends. A name must exist while it is open; a
    // serial keeps two spill files of one process apart, and the process number two processes.
    static std::atomic<unsigned> serial{0};
    name = folderOf(database) + "\\." + nameOf(database) + ".patch16-undo-" +
           std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
    file = fileOf(
        openHandle(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                   FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE));
    return file == NoFile ? lastError() : 0;
}

// ---- locks and other programs ----

int lockForWriting(NativeFile file) {
    // Windows byte-range locks belong to the handle, so a second open of the database in this
    // process is refused like another process's.
    OVERLAPPED where = at(WriterLockOffset);
    if (::LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &where))
        return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : lastError();
}

void unlock(NativeFile file) {
    OVERLAPPED where = at(WriterLockOffset);
    ::UnlockFileEx(handleOf(file), 0, 1, 0, &where);
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((systemName(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(narrow(found.cFileName));
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

bool onNetworkFileSystem(const std::string& folder) {
    const std::wstring name = systemName(folder);
    if (name.starts_with(L"\\\\?\\UNC\\"))
        return true;
    // "\\?\C:\..." -> "C:\"; a mapped network drive reports DRIVE_REMOTE.
    if (name.size() < 7)
        return false;
    const std::wstring root = name.substr(4, 3);
    return ::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}

bool openedByAnyProcess(const std::string& path) {
    // Windows tells who has a file open only by refusing an open that would conflict: asking for
    // it with no sharing at all fails with a sharing violation while any program has it open.
    const HANDLE handle = openHandle(path, GENERIC_READ, 0, OPEN_EXISTING);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool lockedByAnyProcess(const std::string& path) {
    // Two signs: an open that keeps others from writing is refused while a program holds the
    // file open for writing (Access opens a database it works on that way), and an exclusive
    // lock below the writer's lock of ours is refused while a program holds a lock there.
    HANDLE handle =
        openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(handle);
    handle = openHandle(path, GENERIC_READ, ShareAll, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED where = at(0);
    const DWORD low = static_cast<DWORD>(WriterLockOffset);
    const DWORD high = static_cast<DWORD>(WriterLockOffset >> 32);
    const bool locked = !::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                      0, low, high, &where);
    if (!locked)
        ::UnlockFileEx(handle, 0, low, high, &where);
    ::CloseHandle(handle);
    return locked;
}

// ---- the program ----

std::vector<std::string> programArguments(int argc, char** argv) {
    // The command line as the system keeps it, in UTF-16, split the way main()'s was.
    int count = 0;
    LPWSTR* wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wideArguments == nullptr || count != argc) {
        if (wideArguments != nullptr)
            ::LocalFree(wideArguments);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(narrow(wideArguments[i]));
    ::LocalFree(wideArguments);
    return arguments;
}

// ---- time ----

long localOffsetSeconds(std::time_t when) {
    std::tm local{};
    ::localtime_s(&local, &when);
    return static_cast<long>(::_mkgmtime(&local) - when);
}

} // namespace engine::jet4::sys

#endif
