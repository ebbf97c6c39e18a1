// Pages changed inside nested transaction levels: what each level reads, what a rollback puts
// back, and what reaches the file. Nothing may reach it before the outermost commit, which
// replaces it whole, the copy flushed before its rename and the folder after; a failure, a kill
// or a refusal at any disk operation leaves either the original bytes or the completed ones, and
// nothing beside them that the next writer does not remove. The files are made here, page by
// page, in temporary folders.

#include "engine/jet4/file/AtomicFile.h"
#include "engine/jet4/file/DiskOperations.h"
#include "engine/jet4/file/FileLock.h"
#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/file/PageFile.h"
#include "support/TempDir.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace engine::jet4;
namespace fs = std::filesystem;

// The flushes and renames the process asks of the system, as the system sees them: these two
// stand in front of the C library's while a test records them (the writer's own code calls
// them through here), named by what they act on.
namespace {
std::vector<std::string>* systemCalls = nullptr;

// The file name of what `fd` holds open, "folder" for a directory.
std::string openedName(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        return "folder";
    char target[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
    return size > 0
               ? fs::path(std::string(target, static_cast<std::size_t>(size))).filename().string()
               : "?";
}
} // namespace

extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    if (systemCalls)
        systemCalls->push_back("fsync " + openedName(fd));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real =
        reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    if (systemCalls)
        systemCalls->push_back("rename " + fs::path(from).filename().string() + " over " +
                               fs::path(to).filename().string());
    return real(from, to);
}

namespace {

using Page = std::array<std::uint8_t, PageFile::PageSize>;
constexpr std::uint32_t OriginalPages = 4;

Page filled(std::uint8_t value) {
    Page page;
    page.fill(value);
    return page;
}

// The file's bytes with page `number` replaced (or added, one past the end).
std::string withPage(std::string bytes, std::uint32_t number, std::uint8_t value) {
    bytes.resize(std::max<std::size_t>(bytes.size(), (number + 1) * PageFile::PageSize));
    std::fill_n(bytes.begin() + number * PageFile::PageSize, PageFile::PageSize,
                static_cast<char>(value));
    return bytes;
}

// A database of OriginalPages pages, page n filled with 0x10 + n, at `folder`/db.mdb.
std::string makeDatabase(const testsupport::TempDir& folder) {
    std::string bytes;
    for (std::uint32_t n = 0; n < OriginalPages; ++n)
        bytes = withPage(bytes, n, static_cast<std::uint8_t>(0x10 + n));
    testsupport::writeFileBytes(folder.file("db.mdb"), bytes);
    return folder.file("db.mdb");
}

// Everything in the folder but the database (and Access lock files a test made itself).
std::vector<std::string> besideDatabase(const testsupport::TempDir& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "db.mdb" && entry.path().extension() != ".ldb")
            names.push_back(name);
    }
    return names;
}

std::uint8_t firstByte(const PageFile& file, std::uint32_t number) {
    return (*file.page(number))[0];
}

// A transaction that makes every kind of disk operation: the copy, writes at three levels,
// before-images in the spill file, an inner rollback that writes them back and cuts an added
// page, the commit.
void runTransaction(PageFile& file) {
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
}

std::string completedBytes(const std::string& original) {
    return withPage(withPage(withPage(original, 0, 0xA0), 1, 0xA1), 4, 0xA4);
}

// Runs the transaction on the file at `path`; on an error ends the open levels as the engine
// does and returns the error.
std::error_code runToEnd(const std::string& path) {
    PageFile file(path);
    try {
        runTransaction(file);
    } catch (const std::system_error& e) {
        while (file.levels() > 0)
            file.rollbackLevel();
        return e.code();
    }
    return {};
}

// The disk operations of one whole transaction, by name, in order.
std::vector<std::string> diskOperationsOfTransaction() {
    const testsupport::TempDir folder;
    std::vector<std::string> names;
    setDiskHook([&](std::string_view operation, long) {
        names.emplace_back(operation);
        return 0;
    });
    const std::error_code error = runToEnd(makeDatabase(folder));
    setDiskHook({});
    EXPECT_FALSE(error) << error.message();
    return names;
}

// Another process holding a file as Access does: open, and with `lockByte` a byte-range lock
// there. Ends (killed) with the object.
class ForeignHolder {
public:
    ForeignHolder(const std::string& path, std::optional<off_t> lockByte) {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = lockByte.value_or(0);
            lock.l_len = 1;
            const bool held = fd >= 0 && (!lockByte || ::fcntl(fd, F_SETLK, &lock) == 0);
            const char answer = held ? 'y' : 'n';
            [[maybe_unused]] const auto written = ::write(ready[1], &answer, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char answer = 'n';
        [[maybe_unused]] const auto got = ::read(ready[0], &answer, 1);
        ::close(ready[0]);
        if (answer != 'y')
            throw std::runtime_error("the holder could not open or lock " + path);
    }
    ~ForeignHolder() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

// Runs `body` in a child process and returns its exit status (or 128 + the signal that ended it).
template <typename Body> int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

// ---- levels ----

TEST(Jet4PageFileLevels, ReadsSeeTheCurrentLevelAndInnerRollbackRestoresExactlyItsPages) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    PageFile file(path);
    file.beginLevel();
    file.write(1, filled(0xA1));
    file.beginLevel();
    file.write(1, filled(0xB1));
    file.write(2, filled(0xB2));
    EXPECT_EQ(file.append(filled(0xB4)), 4u);
    file.beginLevel();
    file.write(2, filled(0xC2));
    file.write(3, filled(0xC3));
    EXPECT_EQ(file.append(filled(0xC5)), 5u);
    EXPECT_EQ(file.levels(), 3);
    EXPECT_EQ(firstByte(file, 2), 0xC2);
    EXPECT_EQ(file.pageCount(), 6u);

    file.rollbackLevel();
    EXPECT_EQ(file.pageCount(), 5u);
    EXPECT_EQ((std::vector{firstByte(file, 0), firstByte(file, 1), firstByte(file, 2),
                           firstByte(file, 3), firstByte(file, 4)}),
              (std::vector<std::uint8_t>{0x10, 0xB1, 0xB2, 0x13, 0xB4}));
    file.rollbackLevel();
    EXPECT_EQ(file.pageCount(), OriginalPages);
    EXPECT_EQ((std::vector{firstByte(file, 1), firstByte(file, 2)}),
              (std::vector<std::uint8_t>{0xA1, 0x12}));
    EXPECT_THROW(file.page(4), FormatError);

    // An inner commit hands its pages to the level around it, whose rollback then undoes them.
    file.beginLevel();
    file.write(2, filled(0xD2));
    file.beginLevel();
    file.write(2, filled(0xE2));
    file.write(3, filled(0xE3));
    file.commitLevel();
    EXPECT_EQ(firstByte(file, 3), 0xE3);
    file.rollbackLevel();
    EXPECT_EQ((std::vector{firstByte(file, 2), firstByte(file, 3)}),
              (std::vector<std::uint8_t>{0x12, 0x13}));
    file.rollbackLevel();
}

TEST(Jet4PageFileLevels, NothingReachesTheFileBeforeTheOutermostCommit) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    const std::string original = testsupport::fileBytes(path);
    {
        PageFile file(path);
        file.beginLevel();
        file.write(0, filled(0xA0));
        file.beginLevel();
        file.append(filled(0xB4));
        file.commitLevel();
        EXPECT_EQ(testsupport::fileBytes(path), original);
        file.rollbackLevel();
        EXPECT_EQ(firstByte(file, 0), 0x10);
        EXPECT_EQ(file.levels(), 0);
        // Left open at the end: the destructor ends it as a rollback.
        file.beginLevel();
        file.write(3, filled(0xA3));
    }
    EXPECT_EQ(testsupport::fileBytes(path), original);
    EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
}

TEST(Jet4PageFileLevels, OutermostCommitGivesTheCommittedPagesOnly) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    const std::string original = testsupport::fileBytes(path);
    PageFile file(path);
    // The copy's pages reach the disk before the database's name points at them, and the
    // folder's new entry after: a power cut at any moment leaves one whole content or the other.
    std::vector<std::string> calls;
    systemCalls = &calls;
    runTransaction(file);
    systemCalls = nullptr;
    EXPECT_EQ(calls,
              (std::vector<std::string>{"fsync .db.mdb.patch16-new",
                                        "rename .db.mdb.patch16-new over db.mdb", "fsync folder"}));
    EXPECT_EQ(testsupport::fileBytes(path), completedBytes(original));
    EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
    // The same object goes on from the committed file.
    EXPECT_EQ(firstByte(file, 4), 0xA4);
    file.beginLevel();
    file.write(4, filled(0xC4));
    file.commitLevel();
    EXPECT_EQ(testsupport::fileBytes(path), withPage(completedBytes(original), 4, 0xC4));
}

TEST(Jet4PageFileLevels, CommitKeepsModeOwnerAndSymbolicLink) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    fs::create_symlink(path, folder.file("link.mdb"));

    PageFile file(folder.file("link.mdb"));
    file.beginLevel();
    file.write(0, filled(0xA0));
    file.commitLevel();

    EXPECT_TRUE(fs::is_symlink(folder.file("link.mdb")));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(std::pair(info.st_uid, info.st_gid), std::pair(65534u, 65534u));
    }
    EXPECT_EQ(testsupport::fileBytes(path)[0], '\xA0');
}

TEST(Jet4PageFileLevels, MisuseAndAPartialLastPageAreRefusedLeavingTheFile) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    const std::string original = testsupport::fileBytes(path);
    PageFile file(path);
    EXPECT_THROW(file.write(0, filled(1)), std::logic_error);
    EXPECT_THROW(file.append(filled(1)), std::logic_error);
    EXPECT_THROW(file.commitLevel(), std::logic_error);
    EXPECT_THROW(file.rollbackLevel(), std::logic_error);
    for (int level = 0; level < PageFile::MaxLevels; ++level)
        file.beginLevel();
    EXPECT_THROW(file.beginLevel(), std::logic_error);
    EXPECT_THROW(file.write(OriginalPages, filled(1)), std::out_of_range);
    EXPECT_EQ(file.levels(), PageFile::MaxLevels);
    while (file.levels() > 0)
        file.commitLevel();
    EXPECT_EQ(testsupport::fileBytes(path), original);

    // A file that does not end on a page boundary is damaged: it is read, never written.
    testsupport::writeFileBytes(path, original + "x");
    PageFile partial(path);
    EXPECT_THROW(partial.beginLevel(), FormatError);
    EXPECT_EQ(partial.levels(), 0);
}

// ---- failures, refusals, kills ----

TEST(Jet4PageFileFailures, EveryFailedDiskOperationLeavesTheOriginalAndNothingBeside) {
    const std::vector<std::string> operations = diskOperationsOfTransaction();
    ASSERT_GE(operations.size(), 8u);
    for (std::size_t failAt = 1; failAt <= operations.size(); ++failAt) {
        const std::string& operation = operations[failAt - 1];
        SCOPED_TRACE(std::to_string(failAt) + ": " + operation);
        const testsupport::TempDir folder;
        const std::string path = makeDatabase(folder);
        const std::string original = testsupport::fileBytes(path);
        setDiskHook([&](std::string_view, long serial) {
            return serial == static_cast<long>(failAt) ? ENOSPC : 0;
        });
        const std::error_code error = runToEnd(path);
        setDiskHook({});
        if (operation == "fsync folder") {
            // After the rename: the commit has happened.
            EXPECT_FALSE(error);
            EXPECT_EQ(testsupport::fileBytes(path), completedBytes(original));
        } else {
            EXPECT_EQ(error, std::errc::no_space_on_device);
            EXPECT_EQ(testsupport::fileBytes(path), original);
        }
        EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
    }
}

TEST(Jet4PageFileFailures, KillAtAnyDiskOperationLeavesOriginalOrCompletedBytes) {
    const std::vector<std::string> operations = diskOperationsOfTransaction();
    // The commit's last operations: the copy's flush, the rename, the folder's flush.
    ASSERT_GE(operations.size(), 3u);
    EXPECT_EQ(std::vector(operations.end() - 3, operations.end()),
              (std::vector<std::string>{"fsync", "rename", "fsync folder"}));
    ASSERT_EQ(std::count(operations.begin(), operations.end(), "rename"), 1);
    const auto renameAt = static_cast<std::size_t>(
        std::find(operations.begin(), operations.end(), "rename") - operations.begin() + 1);
    int asOriginal = 0;
    int asCompleted = 0;
    for (std::size_t killAt = 1; killAt <= operations.size(); ++killAt) {
        SCOPED_TRACE(std::to_string(killAt) + ": " + operations[killAt - 1]);
        const testsupport::TempDir folder;
        const std::string path = makeDatabase(folder);
        const std::string original = testsupport::fileBytes(path);
        const int status = inChild([&] {
            setDiskHook([&](std::string_view, long serial) {
                if (serial == static_cast<long>(killAt))
                    std::raise(SIGKILL);
                return 0;
            });
            return runToEnd(path) ? 1 : 0;
        });
        EXPECT_EQ(status, 128 + SIGKILL);
        // Killed before the rename (at it included), the database has not been written to.
        const std::string bytes = testsupport::fileBytes(path);
        EXPECT_TRUE(bytes == (killAt <= renameAt ? original : completedBytes(original)))
            << (killAt <= renameAt ? "changed before the rename" : "not the completed bytes");
        asOriginal += bytes == original;
        asCompleted += bytes == completedBytes(original);
        for (const std::string& name : besideDatabase(folder))
            EXPECT_TRUE(name.starts_with(".db.mdb.patch16-")) << name;
        // The next writer removes what the killed one left.
        PageFile next(path);
        next.beginLevel();
        next.rollbackLevel();
        EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
    }
    EXPECT_EQ(asOriginal + asCompleted, static_cast<int>(operations.size()));
    EXPECT_GT(asCompleted, 0);
    RecordProperty("killed", static_cast<int>(operations.size()));
    RecordProperty("original", asOriginal);
    RecordProperty("completed", asCompleted);
}

TEST(Jet4PageFileFailures, FileSizeLimitFailsTheChangeAndLeavesTheOriginal) {
    struct Case {
        const char* what;
        rlim_t limit;
        bool failsAtWrite; // else at the append past the limit
    };
    const Case cases[] = {
        {"the copy cannot be made", OriginalPages * PageFile::PageSize / 2, true},
        {"a page cannot be added", OriginalPages * PageFile::PageSize, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testsupport::TempDir folder;
        const std::string path = makeDatabase(folder);
        const std::string original = testsupport::fileBytes(path);
        const int status = inChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            PageFile file(path);
            file.beginLevel();
            try {
                file.write(0, filled(0xA0));
                if (c.failsAtWrite)
                    return 2;
                // The added page waits in memory: the limit stops it here or at the commit.
                file.append(filled(0xA4));
            } catch (const std::system_error& e) {
                if (e.code() != std::errc::file_too_large)
                    return 4;
            }
            try {
                file.commitLevel();
                return 5;
            } catch (const std::system_error& e) {
                return e.code() == std::errc::file_too_large ? 0 : 6;
            }
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(testsupport::fileBytes(path), original);
        EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
    }
}

TEST(Jet4PageFileFailures, FileChangedByAnotherProgramIsRefused) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    const std::string other = withPage(testsupport::fileBytes(path), OriginalPages, 0xEE);

    PageFile before(path); // opened before the change: begins on a stale view
    PageFile during(path); // changed while its level is open
    during.beginLevel();
    during.write(0, filled(0xA0));
    testsupport::writeFileBytes(path, other);
    EXPECT_THROW(during.commitLevel(), FileChangedError);
    EXPECT_EQ(during.levels(), 0);
    EXPECT_THROW(before.beginLevel(), FileChangedError);
    EXPECT_EQ(testsupport::fileBytes(path), other);
    EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
}

// ---- other users ----

TEST(Jet4PageFileInUse, OnlyAnAccessLockFileSomeoneHoldsRefusesWriting) {
    struct Case {
        const char* lockFile;
        std::optional<off_t> lockByte; // the holder also locks this byte
        bool held;
        bool refused;
    };
    const Case cases[] = {
        {"db.ldb", std::nullopt, true, true},      {"DB.LDB", std::nullopt, true, true},
        {"db.ldb", off_t{0x10000000}, true, true}, {"db.ldb", std::nullopt, false, false},
        {"db.laccdb", std::nullopt, true, false},  {"db.mdb", off_t{0x10000001}, true, true},
        {"other.ldb", std::nullopt, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lockFile) + (c.held ? " held" : " stale") +
                     (c.lockByte ? " and locked" : ""));
        const testsupport::TempDir folder;
        const std::string path = makeDatabase(folder);
        const std::string lockFile = folder.file(c.lockFile);
        if (!fs::exists(lockFile))
            testsupport::writeFileBytes(lockFile, std::string(64, 'x'));
        std::optional<ForeignHolder> holder;
        if (c.held)
            holder.emplace(lockFile, c.lockByte);

        PageFile file(path);
        if (c.refused) {
            try {
                file.beginLevel();
                ADD_FAILURE() << "writing began";
            } catch (const InUseError& e) {
                EXPECT_EQ(e.holder(), InUseError::Holder::Access);
                EXPECT_EQ(e.path(), c.lockFile == std::string("db.mdb")
                                        ? fs::canonical(path).string()
                                        : fs::canonical(lockFile).string());
            }
            EXPECT_EQ(file.levels(), 0);
        } else {
            EXPECT_NO_THROW(file.beginLevel());
            EXPECT_EQ(file.levels(), 1);
        }
    }
}

TEST(Jet4PageFileInUse, HoldersOfAFileAreSeen) {
    const testsupport::TempDir folder;
    const std::string path = folder.file("db.ldb");
    testsupport::writeFileBytes(path, "x");
    EXPECT_EQ(std::pair(holdersOf(path).opened, holdersOf(path).locked), std::pair(false, false));
    {
        const ForeignHolder holder(path, std::nullopt);
        EXPECT_EQ(std::pair(holdersOf(path).opened, holdersOf(path).locked),
                  std::pair(true, false));
    }
    const ForeignHolder holder(path, off_t{5});
    EXPECT_EQ(std::pair(holdersOf(path).opened, holdersOf(path).locked), std::pair(true, true));
}

TEST(Jet4PageFileInUse, AccessOpeningTheFileDuringALevelRefusesTheCommit) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    const std::string original = testsupport::fileBytes(path);
    PageFile file(path);
    file.beginLevel();
    file.write(0, filled(0xA0));
    const ForeignHolder access(folder.file("db.ldb"), off_t{0});
    EXPECT_THROW(file.commitLevel(), InUseError);
    EXPECT_EQ(testsupport::fileBytes(path), original);
    EXPECT_EQ(besideDatabase(folder), std::vector<std::string>{});
}

TEST(Jet4PageFileInUse, SecondWriterWaitsForTheFirstLevelToEnd) {
    const testsupport::TempDir folder;
    const std::string path = makeDatabase(folder);
    PageFile first(path);
    PageFile second(path);
    first.beginLevel();
    first.write(0, filled(0xA0));
    try {
        second.beginLevel();
        ADD_FAILURE() << "two writers began";
    } catch (const InUseError& e) {
        EXPECT_EQ(e.holder(), InUseError::Holder::AnotherWriter);
    }
    // In another process too.
    EXPECT_EQ(inChild([&] {
                  try {
                      PageFile(path).beginLevel();
                  } catch (const InUseError&) {
                      return 0;
                  }
                  return 1;
              }),
              0);
    first.rollbackLevel();
    EXPECT_NO_THROW(second.beginLevel());
}
