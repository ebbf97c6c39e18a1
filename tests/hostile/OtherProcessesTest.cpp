// The run against other processes: a file this user may not write, another program holding the
// database locked (SQLite's locks, Access's lock file), a file size limit the writer meets, and
// two runs started at the same moment. Each other party is a real process (the locks are per
// process), started by re-executing this program.

#include "HostileFixture.h"

#include "automation/Registry.h"
#include "support/ForwardingChild.h"
#include "support/ForwardingEngine.h"

#include <sqlite3.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using hostile::HostileTest;
using hostile::Kind;
using testsupport::environmentValue;
using testsupport::ForwardingChild;

namespace {

constexpr const char* DatabaseVariable = "PATCH16_HOSTILE_DB";
constexpr const char* ReadyVariable = "PATCH16_HOSTILE_READY"; // the child creates it when set
constexpr const char* GoVariable = "PATCH16_HOSTILE_GO";       // the child waits for it
constexpr const char* LockVariable = "PATCH16_HOSTILE_LOCK";   // the BEGIN the holder runs
constexpr const char* HoldVariable = "PATCH16_HOSTILE_HOLD";   // the file held as Access does
constexpr const char* HoldByteVariable = "PATCH16_HOSTILE_HOLD_BYTE"; // and the byte it locks
constexpr const char* FileSizeVariable = "PATCH16_HOSTILE_FSIZE";     // RLIMIT_FSIZE of the run
constexpr uid_t Nobody = 65534;
const auto ChildLimit = std::chrono::seconds(60);

void touch(const std::string& path) {
    testsupport::writeFileBytes(path, "");
}

// Waits, bounded, until `path` exists; false when the time ran out.
bool awaitFile(const std::string& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs the patch through the window and prints what the operator saw, for the parent to read.
void runAndReport(const std::string& path) {
    testsupport::ScopedRecordingDialogs dialogs;
    hostile::Seen seen =
        hostile::runThroughWindow(fs::path(path).parent_path().string(), path, *dialogs);
    std::cout << hostile::encode(seen.boxes) << "METER\t" << seen.meter << std::endl;
}

// What is in the database's folder besides the database (and an Access lock file).
std::vector<std::string> besideDatabase(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path()))
        if (entry.path() != path && entry.path().extension() != ".ldb")
            names.push_back(entry.path().filename().string());
    return names;
}

// What a run made in a child process showed the operator.
std::vector<hostile::Box> boxesOfChild(ForwardingChild& child, const char* what) {
    ForwardingChild::Outcome outcome = child.wait(ChildLimit);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    const auto boxes = hostile::decode(outcome.output);
    std::cout << "[ matrix   ] " << what << "\n" << hostile::describe(boxes);
    return boxes;
}

// One error box that names `cause` and says the database was not changed.
void expectFailedUnchanged(const std::vector<hostile::Box>& boxes, const std::string& cause) {
    ASSERT_EQ(boxes.size(), 1u) << hostile::describe(boxes);
    EXPECT_EQ(boxes[0].kind, Kind::Error);
    EXPECT_NE(boxes[0].text.find(cause), std::string::npos) << boxes[0].text;
    EXPECT_TRUE(boxes[0].text.ends_with(hostile::Unchanged)) << boxes[0].text;
}

} // namespace

// Child: holds a file open as Access holds its lock file, with a byte-range lock on one byte
// when told which, until told to stop.
TEST(HostileChild, HoldFileAsAccessDoes) {
    const std::string path = environmentValue(HoldVariable);
    if (path.empty())
        GTEST_SKIP() << "runs only as a child of the hostile tests";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    if (const std::string byte = environmentValue(HoldByteVariable); !byte.empty()) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = std::stoll(byte);
        lock.l_len = 1;
        ASSERT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
    }
    touch(environmentValue(ReadyVariable));
    EXPECT_TRUE(awaitFile(environmentValue(GoVariable), std::chrono::seconds(50)));
    ::close(fd);
}

// Child: runs the patch with the size of every file it writes limited, as a full disk stops it.
TEST(HostileChild, RunWithFileSizeLimit) {
    const std::string path = environmentValue(DatabaseVariable);
    const std::string limit = environmentValue(FileSizeVariable);
    if (path.empty() || limit.empty())
        GTEST_SKIP() << "runs only as a child of the hostile tests";
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
    const rlimit size{std::stoul(limit), std::stoul(limit)};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &size), 0);
    engine::registerEngine();
    runAndReport(path);
}

// Child: drops to the unprivileged user, then runs the patch (root may write any file).
TEST(HostileChild, RunAsUnprivilegedUser) {
    const std::string path = environmentValue(DatabaseVariable);
    if (path.empty() || !environmentValue(LockVariable).empty() ||
        !environmentValue(GoVariable).empty())
        GTEST_SKIP() << "runs only as a child of the hostile tests";
    ASSERT_EQ(::setgroups(0, nullptr), 0);
    ASSERT_EQ(::setgid(Nobody), 0);
    ASSERT_EQ(::setuid(Nobody), 0);
    ASSERT_NE(::access(path.c_str(), W_OK), 0); // the file is read-only for this user
    ASSERT_EQ(::access(path.c_str(), R_OK), 0);
    engine::registerEngine();
    runAndReport(path);
}

// Child: holds the database locked through SQLite's C API until told to stop.
TEST(HostileChild, HoldLockUntilToldToStop) {
    const std::string path = environmentValue(DatabaseVariable);
    const std::string begin = environmentValue(LockVariable);
    if (path.empty() || begin.empty())
        GTEST_SKIP() << "runs only as a child of the hostile tests";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, begin.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    // A change of its own, so a reader that ignored the lock would see it.
    ASSERT_EQ(sqlite3_exec(db, "UPDATE param SET Item = Item", nullptr, nullptr, nullptr),
              SQLITE_OK);
    touch(environmentValue(ReadyVariable));
    EXPECT_TRUE(awaitFile(environmentValue(GoVariable), std::chrono::seconds(50)));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
}

// Child: prepares the window, says so, waits for the word, then runs the patch with every
// engine call slowed a little, so two such runs overlap for certain.
TEST(HostileChild, RunWhenToldToGo) {
    const std::string path = environmentValue(DatabaseVariable);
    const std::string go = environmentValue(GoVariable);
    if (path.empty() || go.empty() || !environmentValue(LockVariable).empty())
        GTEST_SKIP() << "runs only as a child of the hostile tests";
    engine::registerEngine();
    testsupport::ForwardingEngine slow(automation::registeredClass(engine::ProgId), [](long) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    touch(environmentValue(ReadyVariable));
    ASSERT_TRUE(awaitFile(go, std::chrono::seconds(50)));
    runAndReport(path);
}

TEST_F(HostileTest, ReadOnlyFileIsNotChangedAndTheOperatorIsTold) {
    for (const auto format : {tools::SampleFormat::Sqlite, tools::SampleFormat::Jet4}) {
        const char* what =
            format == tools::SampleFormat::Jet4 ? "read-only Access file" : "read-only file";
        SCOPED_TRACE(what);
        // As root the system calls every file writable, so the run is made by the unprivileged
        // user in a child process; the folder is readable but not writable for that user either.
        testsupport::TempDir caseDir;
        ASSERT_EQ(::chmod(caseDir.path().c_str(), 0755), 0);
        const std::string path = caseDir.file("shop.mdb");
        tools::makeSampleDatabase(path, {6, 10, "patch15", format});
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        const std::string before = testsupport::fileBytes(path);

        ForwardingChild child("HostileChild.RunAsUnprivilegedUser", {{DatabaseVariable, path}});
        expectFailedUnchanged(boxesOfChild(child, what), "только для чтения");
        EXPECT_EQ(testsupport::fileBytes(path), before);
        EXPECT_EQ(besideDatabase(path), std::vector<std::string>{});
    }
}

// Access on this machine (or any program) holding the database's lock file, or a byte of the
// database, refuses the run before anything is written; a lock file nobody holds, left by a
// crash, does not.
TEST_F(HostileTest, AccessFileInUseIsLeftAsItWasAndAStaleLockFileIsNot) {
    struct Case {
        const char* name;
        const char* held;     // the file another process holds, "" for none
        const char* lockByte; // the byte it locks there, "" for none
        bool refused;
    } cases[] = {
        {"Access has the database open", "shop.ldb", "268435456", true},
        {"a program holds the lock file open", "shop.ldb", "", true},
        {"a program locks a byte of the database", "shop.mdb", "268435457", true},
        {"a lock file left by a crash", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir caseDir;
        testsupport::TempDir handshake;
        const std::string path = caseDir.file("shop.mdb");
        tools::makeSampleDatabase(path, {6, 10, "patch15", tools::SampleFormat::Jet4});
        testsupport::writeFileBytes(caseDir.file("shop.ldb"), std::string(64, 'x'));
        const std::string before = testsupport::fileBytes(path);
        const std::string ready = handshake.file("ready");
        const std::string stop = handshake.file("stop");
        std::unique_ptr<ForwardingChild> holder;
        if (*c.held) {
            holder = std::make_unique<ForwardingChild>(
                "HostileChild.HoldFileAsAccessDoes",
                ForwardingChild::Environment{{HoldVariable, caseDir.file(c.held)},
                                             {HoldByteVariable, c.lockByte},
                                             {ReadyVariable, ready},
                                             {GoVariable, stop}});
            ASSERT_TRUE(awaitFile(ready, std::chrono::seconds(30)));
        }
        const hostile::Seen seen = run(path);
        std::cout << "[ matrix   ] " << c.name << "\n" << hostile::describe(seen.boxes);
        if (holder) {
            touch(stop);
            EXPECT_EQ(holder->wait(ChildLimit).exitCode, 0);
        }
        EXPECT_EQ(Dao, nullptr);
        if (c.refused) {
            expectFailedUnchanged(seen.boxes, "заблокирована другим пользователем");
            EXPECT_EQ(testsupport::fileBytes(path), before);
        } else {
            EXPECT_TRUE(seen.boxes.empty()) << hostile::describe(seen.boxes);
            EXPECT_EQ(seen.meter, "Выполнено");
        }
        EXPECT_TRUE(fs::exists(caseDir.file("shop.ldb"))); // never the tool's to remove
        EXPECT_EQ(besideDatabase(path), std::vector<std::string>{});
    }
}

// A full disk, as a file size limit the writer meets: when the copy the run builds cannot be
// made, and when the database cannot grow. The run is undone and the operator told why.
TEST_F(HostileTest, AccessFileTheDiskCannotHoldIsLeftAsItWas) {
    testsupport::TempDir made;
    tools::makeSampleDatabase(made.file("shop.mdb"), {6, 10, "patch15", tools::SampleFormat::Jet4});
    const std::string original = testsupport::fileBytes(made.file("shop.mdb"));
    const struct {
        const char* name;
        std::size_t limit;
    } cases[] = {
        {"disk full before the copy is made", original.size() / 2},
        {"disk full when the database grows", original.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir caseDir;
        const std::string path = caseDir.file("shop.mdb");
        testsupport::writeFileBytes(path, original);
        ForwardingChild child(
            "HostileChild.RunWithFileSizeLimit",
            {{DatabaseVariable, path}, {FileSizeVariable, std::to_string(c.limit)}});
        expectFailedUnchanged(boxesOfChild(child, c.name), "Не удается записать файл");
        EXPECT_EQ(testsupport::fileBytes(path), original);
        EXPECT_EQ(besideDatabase(path), std::vector<std::string>{});
    }
}

TEST_F(HostileTest, DatabaseLockedByAnotherProcessIsLeftAsItWas) {
    struct Case {
        const char* name;
        const char* begin;  // how the other process holds the database
        bool opens;         // whether the run still opens it (readers are let in)
        const char* number; // the ForceError box's number when it cannot open
    } cases[] = {
        {"another process writing (exclusive lock)", "BEGIN EXCLUSIVE", false, "3260"},
        {"another process about to write (reserved lock)", "BEGIN IMMEDIATE", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir caseDir;
        const std::string path = caseDir.file("shop.mdb");
        tools::makeSampleDatabase(path, {6, 10, "patch15", tools::SampleFormat::Sqlite});
        const std::string before = testsupport::sqliteDump(path);
        const std::string ready = caseDir.file("ready");
        const std::string stop = caseDir.file("stop");
        ForwardingChild holder("HostileChild.HoldLockUntilToldToStop", {{DatabaseVariable, path},
                                                                        {LockVariable, c.begin},
                                                                        {ReadyVariable, ready},
                                                                        {GoVariable, stop}});
        ASSERT_TRUE(awaitFile(ready, std::chrono::seconds(30)));

        const auto started = std::chrono::steady_clock::now();
        const hostile::Seen seen = run(path);
        const auto took = std::chrono::steady_clock::now() - started;
        touch(stop);
        ForwardingChild::Outcome outcome = holder.wait(ChildLimit);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
        std::cout << "[ matrix   ] " << c.name << "\n" << hostile::describe(seen.boxes);

        EXPECT_LT(took, std::chrono::seconds(10)); // the run waits a bounded time, then gives up
        EXPECT_EQ(Dao, nullptr);
        if (c.opens) {
            ASSERT_EQ(seen.boxes.size(), 1u) << hostile::describe(seen.boxes);
            EXPECT_EQ(seen.boxes[0].kind, Kind::Error);
            EXPECT_NE(seen.boxes[0].text.find("заблокирована"), std::string::npos);
            EXPECT_TRUE(seen.boxes[0].text.ends_with(hostile::Unchanged)) << seen.boxes[0].text;
        } else {
            ASSERT_EQ(seen.boxes.size(), 2u) << hostile::describe(seen.boxes);
            EXPECT_EQ(seen.boxes[0].caption, "ForceError");
            EXPECT_TRUE(seen.boxes[0].text.starts_with(std::string(c.number) + " : "))
                << seen.boxes[0].text;
            EXPECT_EQ(seen.boxes[1].text, hostile::CannotOpen + path);
        }
        // The holder rolled its own change back: nothing of either is in the file.
        EXPECT_EQ(testsupport::sqliteDump(path), before);
    }
}

TEST_F(HostileTest, TwoRunsStartedAtOnceGiveOneCleanRevision16) {
    const std::string reference = dir.file("reference.mdb");
    tools::makeSampleDatabase(reference, {6, 10, "patch15", tools::SampleFormat::Sqlite});
    const std::string path = dir.file("shop.mdb");
    fs::copy_file(reference, path);
    ASSERT_TRUE(run(reference).boxes.empty());
    const std::string completedDump = testsupport::sqliteDump(reference);

    const std::string go = dir.file("go");
    std::vector<std::unique_ptr<ForwardingChild>> runs;
    for (int i = 0; i < 2; ++i) {
        const std::string ready = dir.file("ready" + std::to_string(i));
        runs.push_back(std::make_unique<ForwardingChild>(
            "HostileChild.RunWhenToldToGo", ForwardingChild::Environment{{DatabaseVariable, path},
                                                                         {ReadyVariable, ready},
                                                                         {GoVariable, go}}));
        ASSERT_TRUE(awaitFile(ready, std::chrono::seconds(30)));
    }
    touch(go);
    int completed = 0;
    int turnedAway = 0;
    for (auto& child : runs) {
        ForwardingChild::Outcome outcome = child->wait(ChildLimit);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
        const auto boxes = hostile::decode(outcome.output);
        std::cout << "[ matrix   ] one of two runs at once\n"
                  << (boxes.empty() ? "(completed, no box)\n" : hostile::describe(boxes));
        if (boxes.empty() && outcome.output.find("METER\tВыполнено") != std::string::npos) {
            ++completed;
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u) << outcome.output;
        const bool lockedOut = boxes[0].kind == Kind::Error &&
                               boxes[0].text.find("заблокирована") != std::string::npos &&
                               boxes[0].text.ends_with(hostile::Unchanged);
        const bool notNeeded =
            boxes[0].kind == Kind::Message && boxes[0].text == hostile::NotNeeded;
        EXPECT_TRUE(lockedOut || notNeeded) << boxes[0].text;
        ++turnedAway;
    }
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(turnedAway, 1);
    EXPECT_EQ(testsupport::sqliteDump(path), completedDump);
}
