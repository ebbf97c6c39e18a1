// What the Access store promises on Windows, seen through Windows' own calls: another program
// writing the database or holding its lock file stops a writer (a lock file left by a crash does
// not), Cyrillic and long paths are written like any other, and a commit puts the new content in
// place whole: a failure or the end of the process at any disk operation leaves the original
// bytes or the completed ones. The test reads, writes and holds files with the wide-character
// API, independently of the engine's file layer (whose UTF-8 and UTF-16 conversions alone it
// borrows).

#include "automation/Error.h"
#include "engine/Store.h"
#include "engine/jet4/file/DiskOperations.h"
#include "engine/jet4/file/FileLock.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/file/SystemFiles.h"
#include "engine/jet4/write/NewDatabase.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <windows.h>

using namespace engine::jet4;

namespace {

using Page = std::array<std::uint8_t, PageFile::PageSize>;
constexpr std::uint32_t OriginalPages = 4;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr const char* ChildDatabase = "PATCH16_WINFILES_DB";    // the child's database
constexpr const char* ChildKillAt = "PATCH16_WINFILES_KILL_AT"; // the disk operation it ends at
constexpr int KilledCode = 137;

using sys::wide;

// The \\?\ form of an absolute path, which no length limit applies to.
std::wstring systemName(const std::string& path) {
    std::wstring name = wide(path);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return L"\\\\?\\" + name;
}

std::string bytesOf(const std::string& path) {
    const HANDLE file = ::CreateFileW(systemName(path).c_str(), GENERIC_READ, ShareAll, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot read " + path);
    std::string bytes;
    char buffer[65536];
    DWORD n = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0)
        bytes.append(buffer, n);
    ::CloseHandle(file);
    return bytes;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(systemName(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    const bool written =
        file != INVALID_HANDLE_VALUE &&
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
        n == bytes.size();
    ::CloseHandle(file);
    if (!written)
        throw std::runtime_error("cannot write " + path);
}

// What is in `folder` besides the database and Access lock files.
std::vector<std::string> besideDatabase(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((systemName(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = sys::narrow(found.cFileName);
        if (name != "." && name != ".." && !name.ends_with(".mdb") && !name.ends_with(".ldb") &&
            !name.ends_with(".LDB"))
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// Whether a file holds `expected`, saying where it first differs (the files are pages long).
testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return testing::AssertionSuccess();
    const auto differ =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return testing::AssertionFailure()
           << actual.size() << " bytes, expected " << expected.size() << ", first difference at "
           << (differ.first - actual.begin());
}

Page filled(std::uint8_t value) {
    Page page;
    page.fill(value);
    return page;
}

// The file's bytes with page `number` replaced (or added, one past the end).
std::string withPage(std::string bytes, std::uint32_t number, std::uint8_t value) {
    bytes.resize(std::max<std::size_t>(bytes.size(), (number + 1) * PageFile::PageSize));
    bytes.replace(number * PageFile::PageSize, PageFile::PageSize, PageFile::PageSize,
                  static_cast<char>(value));
    return bytes;
}

// A file of OriginalPages pages at `path`, page n filled with 0x10 + n; returns its bytes.
std::string makePages(const std::string& path) {
    std::string bytes;
    for (std::uint32_t n = 0; n < OriginalPages; ++n)
        bytes = withPage(bytes, n, static_cast<std::uint8_t>(0x10 + n));
    writeBytes(path, bytes);
    return bytes;
}

// A transaction that makes every kind of disk operation: the copy, writes at three levels,
// before-images in the spill file, an inner rollback that writes them back and cuts an added
// page, the commit.
std::error_code runTransaction(const std::string& path) {
    PageFile file(path);
    try {
        file.beginLevel();
        file.write(0, filled(0xA0));
        file.beginLevel();
        file.write(1, filled(0xA1));
        file.append(filled(0xA4));
        file.commitLevel();
        file.beginLevel();
        file.write(2, filled(0xB2));
        file.append(filled(0xB5));
        file.rollbackLevel();
        file.commitLevel();
    } catch (const std::system_error& e) {
        while (file.levels() > 0)
            file.rollbackLevel();
        return e.code();
    }
    return {};
}

std::string completedBytes(const std::string& original) {
    return withPage(withPage(withPage(original, 0, 0xA0), 1, 0xA1), 4, 0xA4);
}

// The disk operations of one whole transaction, by name, in order.
std::vector<std::string> diskOperationsOfTransaction() {
    const testsupport::TempDir folder;
    const std::string path = folder.file("db.mdb");
    makePages(path);
    std::vector<std::string> names;
    setDiskHook([&](std::string_view operation, long) {
        names.emplace_back(operation);
        return 0;
    });
    const std::error_code error = runTransaction(path);
    setDiskHook({});
    EXPECT_FALSE(error) << error.message();
    return names;
}

// Another program's handle on a file: opened with `access` and `share` (created when missing),
// with `lockByte` an exclusive byte-range lock there, as Access holds its files.
class Holder {
public:
    Holder(const std::string& path, DWORD access, DWORD share, std::optional<DWORD> lockByte) {
        handle_ = ::CreateFileW(systemName(path).c_str(), access, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            throw std::runtime_error("the holder cannot open " + path);
        OVERLAPPED where{};
        where.Offset = lockByte.value_or(0);
        if (lockByte && !::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                      0, 1, 0, &where))
            throw std::runtime_error("the holder cannot lock " + path);
    }
    ~Holder() { ::CloseHandle(handle_); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

} // namespace

// ---- other users ----

TEST(WindowsFiles, OnlyAWriterOfTheDatabaseOrALiveLockFileRefusesWriting) {
    struct Case {
        const char* what;
        const char* file; // held by the other program
        DWORD access;
        DWORD share;
        std::optional<DWORD> lockByte;
        bool refused;
    };
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    const Case cases[] = {
        {"database open for writing", "db.mdb", readWrite, FILE_SHARE_READ, std::nullopt, true},
        {"database open for reading", "db.mdb", GENERIC_READ, ShareAll, std::nullopt, false},
        {"database with a locked byte", "db.mdb", GENERIC_READ, ShareAll, 0x10000001, true},
        {"lock file open, sharing nothing", "db.ldb", readWrite, 0, std::nullopt, true},
        {"lock file in capitals", "DB.LDB", readWrite, 0, std::nullopt, true},
        {"lock file with a locked byte", "db.ldb", readWrite, ShareAll, 0x10000000, true},
        {"lock file of another database", "other.ldb", readWrite, 0, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testsupport::TempDir folder;
        const std::string path = folder.file("db.mdb");
        createEmptyDatabase(path);
        const std::string original = bytesOf(path);
        auto holder = std::make_unique<Holder>(folder.file(c.file), c.access, c.share, c.lockByte);

        try {
            PageFile file(path);
            file.beginLevel();
            EXPECT_FALSE(c.refused) << "writing began";
            file.rollbackLevel();
        } catch (const InUseError& e) {
            EXPECT_TRUE(c.refused) << e.what();
            EXPECT_EQ(e.holder(), InUseError::Holder::Access);
        }
        // The engine's own error, 3260, and the file as it was.
        const auto store = engine::Store::open(path);
        try {
            store->createTable({"Goods", {{"Id", engine::FieldType::Long}}, {}});
            EXPECT_FALSE(c.refused) << "the table was made";
            EXPECT_TRUE(engine::Store::open(path)->table("Goods"));
        } catch (const automation::Error& e) {
            EXPECT_TRUE(c.refused) << e.number() << " " << e.description();
            EXPECT_EQ(e.number(), 3260) << e.description();
        }
        if (c.refused) {
            EXPECT_TRUE(sameBytes(bytesOf(path), original));
        }
        // Once the other program lets go, nothing is left beside the database (a reader keeps
        // the replaced file alive under another name until it closes it).
        holder.reset();
        EXPECT_EQ(besideDatabase(folder.path()), std::vector<std::string>{});
    }
}

TEST(WindowsFiles, LockFileLeftByACrashDoesNotStopACommit) {
    const testsupport::TempDir folder;
    const std::string path = folder.file("db.mdb");
    const std::string original = makePages(path);
    writeBytes(folder.file("db.ldb"), std::string(64, 'x')); // nobody holds it
    EXPECT_FALSE(runTransaction(path));
    EXPECT_TRUE(sameBytes(bytesOf(path), completedBytes(original)));
}

// ---- names ----

TEST(WindowsFiles, CyrillicAndLongPathsAreOpenedChangedAndCommitted) {
    const testsupport::TempDir folder;
    const std::string longFolder = [&] {
        std::string name = folder.path();
        for (int depth = 0; depth < 5; ++depth)
            name += "/" + std::string(60, static_cast<char>('a' + depth));
        return name;
    }();
    const std::string cases[] = {
        folder.path() + "/Базы данных/Склад №1.mdb",
        longFolder + "/db.mdb",
    };
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        const std::string parent = path.substr(0, path.rfind('/'));
        for (std::size_t slash = folder.path().size(); slash != std::string::npos;
             slash = parent.find('/', slash + 1))
            ::CreateDirectoryW(systemName(parent.substr(0, slash)).c_str(), nullptr);
        ::CreateDirectoryW(systemName(parent).c_str(), nullptr);
        const std::string original = makePages(path);
        const std::error_code error = runTransaction(path);
        EXPECT_FALSE(error) << error.message();
        EXPECT_TRUE(sameBytes(bytesOf(path), completedBytes(original)));
        EXPECT_EQ(besideDatabase(parent), std::vector<std::string>{});
    }
    EXPECT_GT(cases[1].size(), std::size_t{MAX_PATH});
}

// ---- the commit ----

TEST(WindowsFiles, EveryFailedDiskOperationBeforeTheReplaceLeavesTheOriginal) {
    const std::vector<std::string> operations = diskOperationsOfTransaction();
    const auto rename = std::find(operations.begin(), operations.end(), "rename");
    ASSERT_NE(rename, operations.end());
    const auto renameAt = static_cast<std::size_t>(rename - operations.begin() + 1);
    for (std::size_t failAt = 1; failAt <= operations.size(); ++failAt) {
        SCOPED_TRACE(std::to_string(failAt) + ": " + operations[failAt - 1]);
        const testsupport::TempDir folder;
        const std::string path = folder.file("db.mdb");
        const std::string original = makePages(path);
        setDiskHook([&](std::string_view, long serial) {
            return serial == static_cast<long>(failAt) ? ENOSPC : 0;
        });
        const std::error_code error = runTransaction(path);
        setDiskHook({});
        if (failAt <= renameAt) {
            EXPECT_EQ(error, std::errc::no_space_on_device);
            EXPECT_TRUE(sameBytes(bytesOf(path), original));
        } else {
            // After the replace the commit has happened.
            EXPECT_FALSE(error);
            EXPECT_TRUE(sameBytes(bytesOf(path), completedBytes(original)));
        }
        EXPECT_EQ(besideDatabase(folder.path()), std::vector<std::string>{});
    }
}

// Runs the transaction on the database the parent names and ends this process abruptly, as
// Task Manager would, at the disk operation it names.
TEST(WindowsFilesChild, RunTransactionUntilKilled) {
    const char* path = std::getenv(ChildDatabase);
    const char* killAt = std::getenv(ChildKillAt);
    if (!path || !killAt)
        GTEST_SKIP() << "runs only as a child of the kill test";
    const long serialToKill = std::atol(killAt);
    setDiskHook([&](std::string_view, long serial) {
        if (serial == serialToKill)
            ::TerminateProcess(::GetCurrentProcess(), KilledCode);
        return 0;
    });
    EXPECT_FALSE(runTransaction(path));
}

TEST(WindowsFiles, KillAtAnyDiskOperationLeavesOriginalOrCompletedBytes) {
    const std::vector<std::string> operations = diskOperationsOfTransaction();
    const auto rename = std::find(operations.begin(), operations.end(), "rename");
    ASSERT_NE(rename, operations.end());
    const auto renameAt = static_cast<std::size_t>(rename - operations.begin() + 1);
    int asCompleted = 0;
    for (std::size_t killAt = 1; killAt <= operations.size(); ++killAt) {
        SCOPED_TRACE(std::to_string(killAt) + ": " + operations[killAt - 1]);
        const testsupport::TempDir folder;
        const std::string path = folder.file("db.mdb");
        const std::string original = makePages(path);
        const testsupport::ProcessResult child =
            testsupport::runProgram({testsupport::thisProgram(),
                                     "--gtest_filter=WindowsFilesChild.RunTransactionUntilKilled"},
                                    {std::string(ChildDatabase) + "=" + path,
                                     std::string(ChildKillAt) + "=" + std::to_string(killAt)});
        EXPECT_EQ(child.status, KilledCode) << child.out;
        // Ended before the replace (at it included), the database has not been written to.
        const std::string bytes = bytesOf(path);
        EXPECT_TRUE(bytes == (killAt <= renameAt ? original : completedBytes(original)))
            << (killAt <= renameAt ? "changed before the replace" : "not the completed bytes");
        asCompleted += bytes == completedBytes(original);
        // The next writer removes what the ended one left.
        PageFile next(path);
        next.beginLevel();
        next.rollbackLevel();
        EXPECT_EQ(besideDatabase(folder.path()), std::vector<std::string>{});
    }
    EXPECT_GT(asCompleted, 0);
}
