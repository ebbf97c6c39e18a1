// A run ended abruptly (SIGKILL, no clean-up of any kind) at any engine call leaves the database
// either exactly as it was or exactly as a completed run leaves it, never in between, and always
// a sound SQLite file. The run happens in a child process that a forwarding engine kills at a
// chosen call; the parent then inspects the file as the next program to open it would.

#include "WriteKillVfs.h"
#include "automation/Registry.h"
#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "support/ForwardingChild.h"
#include "support/ForwardingEngine.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"

#include <QCoreApplication>

#include <sqlite3.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <set>

namespace fs = std::filesystem;
using testsupport::ForwardingChild;
using testsupport::ForwardingEngine;

namespace {

constexpr const char* KillAtVariable = "PATCH16_KILL_AT";
constexpr const char* DatabaseVariable = "PATCH16_KILL_DB";
constexpr const char* KillAtDiskVariable = "PATCH16_KILL_AT_DISK";

// Where a run is cut short: before a late-bound engine call, or before one of SQLite's own
// operations on the disk (a write, a sync, a truncation, a deleted journal).
enum class KillAt { EngineCall, DiskOperation };
constexpr int ParallelChildren = 2;

// Runs the patch on `path` as the operator does: the window with the path typed in, and a
// mouse click on the run button delivered through the application's event loop.
void runThroughWindow(const std::string& programFolder, const std::string& path) {
    TForm1 form(programFolder + "/");
    form.Edit1->setText(QString::fromStdString(path));
    form.show();
    QCoreApplication::processEvents();
    testsupport::clickAsOperator(form.Button1);
}

// Opens the file for writing as the next program would (SQLite rolls a hot journal back
// then) and answers SQLite's integrity check, "ok" for a sound file.
std::string openAndCheckIntegrity(const std::string& path) {
    sqlite3* db = nullptr;
    std::string answer;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        answer = std::string("cannot open: ") + sqlite3_errmsg(db);
    } else {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
            answer = std::string("cannot check: ") + sqlite3_errmsg(db);
        while (st && sqlite3_step(st) == SQLITE_ROW)
            answer += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db);
    return answer;
}

// A rollback journal that SQLite must play back before anyone reads the file: one whose header
// was written (a journal left empty or with a zeroed header holds nothing to undo).
bool isHotJournal(const std::string& path) {
    std::error_code ec;
    if (fs::file_size(path, ec) == 0 || ec)
        return false;
    return testsupport::fileBytes(path).find_first_not_of('\0', 0) < 8;
}

// At least every tenth call, the first and the last always among them; every call when
// `budget` allows.
std::vector<long> killPoints(long total, long budget) {
    const long stride = std::clamp((total + budget - 1) / budget, 1L, 10L);
    std::vector<long> points;
    for (long n = 1; n <= total; n += stride)
        points.push_back(n);
    if (points.back() != total)
        points.push_back(total);
    return points;
}

} // namespace

// The child's side: runs the patch and dies at the engine call the parent chose. Skipped in an
// ordinary run of the program.
// The other child: the run dies just before the chosen one of SQLite's disk operations.
TEST(CrashChild, RunKilledAtDiskOperation) {
    const std::string killAt = testsupport::environmentValue(KillAtDiskVariable);
    const std::string path = testsupport::environmentValue(DatabaseVariable);
    if (killAt.empty() || path.empty())
        GTEST_SKIP() << "runs only as the child of the crash test";
    crashtest::installWriteKillVfs(std::stol(killAt));
    engine::registerEngine();
    testsupport::ScopedRecordingDialogs dialogs;
    runThroughWindow(fs::path(path).parent_path().string(), path);
}

TEST(CrashChild, RunKilledAtEngineCall) {
    const std::string killAt = testsupport::environmentValue(KillAtVariable);
    const std::string path = testsupport::environmentValue(DatabaseVariable);
    if (killAt.empty() || path.empty())
        GTEST_SKIP() << "runs only as the child of the crash test";
    const long target = std::stol(killAt);
    engine::registerEngine();
    ForwardingEngine forwarding(automation::registeredClass(engine::ProgId), [target](long serial) {
        if (serial == target)
            std::raise(SIGKILL);
    });
    testsupport::ScopedRecordingDialogs dialogs;
    runThroughWindow(fs::path(path).parent_path().string(), path);
}

namespace {

// What a series of killed runs left behind.
struct Campaign {
    long total = 0;           // engine calls (or disk operations) of one whole run
    std::vector<long> points; // the ones the runs were killed at
    int asOriginal = 0;
    int asCompleted = 0;
    int hotJournals = 0; // kills that left a journal for SQLite to play back
    int partial = 0;
    std::set<long> originalAt;
    std::set<long> completedAt;
};

// Runs the patch on copies of a sample made with `sample`, killing one run at each call that
// `choose` picks from the total, and checks every file afterwards.
Campaign killRuns(const tools::SampleOptions& sample,
                  const std::function<std::vector<long>(long total)>& choose,
                  KillAt where = KillAt::EngineCall) {
    Campaign c;
    testsupport::TempDir dir;
    engine::registerEngine();
    const std::string original = dir.file("original.mdb");
    tools::makeSampleDatabase(original, sample);
    const std::string originalDump = testsupport::sqliteDump(original);

    // One whole run, counted, gives the number of engine calls and the completed state.
    const std::string completed = dir.file("completed.mdb");
    fs::copy_file(original, completed);
    long& total = c.total;
    if (where == KillAt::EngineCall) {
        ForwardingEngine counting(automation::registeredClass(engine::ProgId));
        testsupport::ScopedRecordingDialogs dialogs;
        runThroughWindow(dir.path(), completed);
        EXPECT_TRUE(dialogs->boxes().empty()) << dialogs->boxes().front().text;
        total = counting.calls();
    } else {
        crashtest::installWriteKillVfs(0);
        const long before = crashtest::diskOperations();
        testsupport::ScopedRecordingDialogs dialogs;
        runThroughWindow(dir.path(), completed);
        EXPECT_TRUE(dialogs->boxes().empty()) << dialogs->boxes().front().text;
        total = crashtest::diskOperations() - before;
    }
    const std::string completedDump = testsupport::sqliteDump(completed);
    EXPECT_NE(completedDump, originalDump);
    c.points = choose(total);
    int& partial = c.partial;
    int& asOriginal = c.asOriginal;
    int& asCompleted = c.asCompleted;
    int& hotJournals = c.hotJournals;
    std::set<long>& originalAt = c.originalAt;
    std::set<long>& completedAt = c.completedAt;
    struct Running {
        long point;
        std::string path;
        std::unique_ptr<ForwardingChild> child;
    };
    std::deque<Running> running;
    auto finishOldest = [&] {
        Running r = std::move(running.front());
        running.pop_front();
        ForwardingChild::Outcome outcome = r.child->wait(std::chrono::seconds(60));
        SCOPED_TRACE("killed at call " + std::to_string(r.point));
        EXPECT_FALSE(outcome.timedOut);
        EXPECT_EQ(outcome.signal, SIGKILL) << outcome.output;
        if (isHotJournal(r.path + "-journal"))
            ++hotJournals;
        EXPECT_EQ(openAndCheckIntegrity(r.path), "ok");
        EXPECT_FALSE(isHotJournal(r.path + "-journal"));
        const std::string dump = testsupport::sqliteDump(r.path);
        if (dump == originalDump) {
            ++asOriginal;
            originalAt.insert(r.point);
        } else if (dump == completedDump) {
            ++asCompleted;
            completedAt.insert(r.point);
        } else {
            ++partial;
            ADD_FAILURE() << "a state between the original and the completed run";
        }
        fs::remove(r.path);
    };
    for (long point : c.points) {
        const std::string copy = dir.file("kill-" + std::to_string(point) + ".mdb");
        fs::copy_file(original, copy);
        running.push_back(
            {point, copy,
             std::make_unique<ForwardingChild>(
                 where == KillAt::EngineCall ? "CrashChild.RunKilledAtEngineCall"
                                             : "CrashChild.RunKilledAtDiskOperation",
                 ForwardingChild::Environment{
                     {where == KillAt::EngineCall ? KillAtVariable : KillAtDiskVariable,
                      std::to_string(point)},
                     {DatabaseVariable, copy}})});
        if (running.size() == ParallelChildren)
            finishOldest();
    }
    while (!running.empty())
        finishOldest();

    std::cout << "[ crash    ] "
              << (where == KillAt::EngineCall ? "engine calls" : "disk operations")
              << " in a run: " << total << "; kill points: " << c.points.size()
              << "; left as the original: " << asOriginal << "; left completed: " << asCompleted
              << "; hot journals rolled back: " << hotJournals << "; partial states: " << partial
              << std::endl;
    return c;
}

} // namespace

TEST(CrashSafety, KillAtAnyEngineCallLeavesOriginalOrCompletedDatabase) {
    const Campaign c = killRuns({20, 40, "patch15", tools::SampleFormat::Sqlite},
                                [](long total) { return killPoints(total, 400); });
    ASSERT_GT(c.total, 0);
    EXPECT_EQ(c.partial, 0);
    EXPECT_GE(c.points.size(), std::min<std::size_t>(50, c.total));
    // The first call comes before anything is written; the last after the run committed.
    EXPECT_TRUE(c.originalAt.count(1));
    EXPECT_TRUE(c.completedAt.count(c.total));
    // No state of the original can follow a completed one: the switch happens once.
    if (!c.originalAt.empty() && !c.completedAt.empty()) {
        EXPECT_LT(*c.originalAt.rbegin(), *c.completedAt.begin());
    }
}

// On a database larger than SQLite's page cache the run's last stages write pages into the file
// before the commit, with the old ones in the rollback journal. A kill there leaves a hot
// journal, and the next program to open the file must find the original again.
TEST(CrashSafety, KillAfterPagesReachedTheFileIsUndoneByTheJournal) {
    const Campaign c =
        killRuns({3000, 40000, "patch15", tools::SampleFormat::Sqlite}, [](long total) {
            std::vector<long> last;
            for (long n = std::max(1L, total - 12); n <= total; ++n)
                last.push_back(n);
            return last;
        });
    EXPECT_EQ(c.partial, 0);
    EXPECT_GT(c.hotJournals, 0) << "no kill found pages of the run in the file";
    EXPECT_TRUE(c.completedAt.count(c.total));
}

// The same between SQLite's own steps: a run cut short before any of its writes, syncs,
// truncations or journal deletions, those of the commit included, leaves a sound file holding
// the original database.
TEST(CrashSafety, KillAtAnyDiskOperationOfTheRunLeavesTheOriginal) {
    const Campaign c = killRuns(
        {20, 40, "patch15", tools::SampleFormat::Sqlite},
        [](long total) { return killPoints(total, 200); }, KillAt::DiskOperation);
    ASSERT_GT(c.total, 0);
    EXPECT_EQ(c.partial, 0);
    EXPECT_GE(c.points.size(), std::min<std::size_t>(50, c.total));
    EXPECT_TRUE(c.originalAt.count(1));
    // The commit takes effect with the journal's deletion, the run's last disk operation, so
    // every kill comes before it; those inside the commit leave a journal to play back.
    EXPECT_EQ(c.asOriginal, static_cast<int>(c.points.size()));
    EXPECT_GT(c.hotJournals, 0);
}
