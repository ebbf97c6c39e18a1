// A run ended abruptly (SIGKILL, no clean-up of any kind) at any engine call or disk operation
// leaves the database either exactly as it was or exactly as a completed run leaves it, never in
// between, and always a sound file: an SQLite database, or an Access file the checker finds sound.
// The run happens in a child process that a forwarding engine or a disk layer kills at a chosen
// call; the parent then inspects the file as the next program to open it would, and for an Access
// file what the killed run left beside it, as the operator meets it on the next start.

#include "WriteKillVfs.h"
#include "automation/Registry.h"
#include "engine/Registration.h"
#include "engine/Store.h"
#include "engine/jet4/file/DiskOperations.h"
#include "engine/jet4/format/Header.h"
#include "engine/sql/JetSql.h"
#include "support/FormWindow.h"
#include "support/ForwardingChild.h"
#include "support/ForwardingEngine.h"
#include "support/OperatorClick.h"
#include "support/RecordingDialogs.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"

#include <QCoreApplication>

#include <sqlite3.h>

#include <algorithm>
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

// Where a run is cut short: before a late-bound engine call, or before one of the store's own
// operations on the disk (SQLite's writes, syncs, truncations and deleted journals; the Access
// writer's copy, writes, flushes and rename).
enum class KillAt { EngineCall, DiskOperation };
constexpr int ParallelChildren = 2;

// Runs the patch on `path` as the operator does: the window with the path typed in, and a
// mouse click on the run button delivered through the application's event loop.
void runThroughWindow(const std::string& programFolder, const std::string& path) {
    testsupport::FormWindow form(programFolder + "/");
    form.Edit1->setText(path);
    form.show();
    QCoreApplication::processEvents();
    testsupport::clickAsOperator(*form.Button1);
}

bool isAccessFile(const std::string& path) {
    const std::string bytes = testsupport::fileBytes(path).substr(0, 32);
    return engine::jet4::sniffFormat({reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      bytes.size()}) == engine::jet4::FileFormat::Jet4;
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

// An Access file as the next program finds it: the checker's first fault when it finds one,
// else every row of every user table and every table's columns and indexes as the engine reads
// them, in a fixed order.
std::string accessContent(const std::string& path) {
    try {
        const check::Report report = check::checkFile(path);
        if (!report.sound())
            return "FAULT " + report.faults.front().kind + ": " + report.faults.front().detail;
    } catch (const check::Unreadable& e) {
        return "UNREADABLE " + e.reason;
    }
    std::vector<std::string> lines;
    check::dump(path, [&](const std::string& line) { lines.push_back(line); });
    const auto store = engine::Store::open(path, true);
    for (const std::string& name : store->tableNames()) {
        std::string shape = "table " + name + ":";
        const auto table = store->table(name);
        for (const engine::ColumnDef& c : table->columns)
            shape += " " + c.name + "/" + std::to_string(static_cast<int>(c.type)) + "/" +
                     std::to_string(c.size) + (c.required ? "/required" : "");
        for (const engine::IndexDef& index : table->indexes) {
            shape += " [" + index.name + (index.primary ? " primary" : "") +
                     (index.unique ? " unique" : "");
            for (const std::string& column : index.columns)
                shape += " " + column;
            shape += "]";
        }
        lines.push_back(shape);
    }
    std::sort(lines.begin(), lines.end());
    std::string content;
    for (const std::string& line : lines)
        content += line + "\n";
    return content;
}

// The revision stamp as the engine reads it.
std::string stampOf(const std::string& path) {
    const auto store = engine::Store::open(path, true);
    const engine::ResultSet rows =
        engine::jet::query(*store, "SELECT AValue FROM param WHERE ID = 'patch'");
    return rows.rows.size() == 1 ? rows.rows[0][0].toText() : "<no single stamp row>";
}

// What is in `folder` besides the file `name`.
std::vector<std::string> beside(const std::string& folder, const std::string& name) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != name)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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
// The other child: the run dies just before the chosen one of the store's disk operations.
TEST(CrashChild, RunKilledAtDiskOperation) {
    const std::string killAt = testsupport::environmentValue(KillAtDiskVariable);
    const std::string path = testsupport::environmentValue(DatabaseVariable);
    if (killAt.empty() || path.empty())
        GTEST_SKIP() << "runs only as the child of the crash test";
    const long target = std::stol(killAt);
    if (isAccessFile(path)) {
        engine::jet4::setDiskHook([target](std::string_view, long serial) {
            if (serial == target)
                std::raise(SIGKILL);
            return 0;
        });
    } else {
        crashtest::installWriteKillVfs(target);
    }
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
    // The run's disk operations by name, in order (Access files only).
    std::vector<std::string> operations;
    int asOriginal = 0;
    int asCompleted = 0;
    int hotJournals = 0; // kills that left a journal for SQLite to play back
    int leftCopies = 0;  // kills that left the Access writer's copy beside the database
    int partial = 0;
    std::set<long> originalAt;
    std::set<long> completedAt;
};

// Counts what one whole run makes (engine calls or disk operations) on the database at `path`,
// whose program folder is `folder`; the run must complete without a box.
long countedRun(const std::string& folder, const std::string& path, KillAt where,
                std::vector<std::string>& operations) {
    testsupport::ScopedRecordingDialogs dialogs;
    long total = 0;
    if (where == KillAt::EngineCall) {
        ForwardingEngine counting(automation::registeredClass(engine::ProgId));
        runThroughWindow(folder, path);
        total = counting.calls();
    } else if (isAccessFile(path)) {
        engine::jet4::setDiskHook([&](std::string_view operation, long) {
            operations.emplace_back(operation);
            return 0;
        });
        runThroughWindow(folder, path);
        engine::jet4::setDiskHook({});
        total = static_cast<long>(operations.size());
    } else {
        crashtest::installWriteKillVfs(0);
        const long before = crashtest::diskOperations();
        runThroughWindow(folder, path);
        total = crashtest::diskOperations() - before;
    }
    EXPECT_TRUE(dialogs->boxes().empty()) << dialogs->boxes().front().text;
    return total;
}

// The operator starts the program again after a killed run left the replacement copy beside the
// Access file in the "DB" folder of `programFolder`: the window proposes the database, not the
// copy, and the run completes with no box, taking the copy away.
void expectNextRunCompletesAndClearsTheCopy(const std::string& programFolder,
                                            const std::string& path,
                                            const std::string& completedContent) {
    testsupport::ScopedRecordingDialogs dialogs;
    testsupport::FormWindow form(programFolder + "/");
    EXPECT_EQ(form.Edit1->Text(), path);
    form.show();
    QCoreApplication::processEvents();
    testsupport::clickAsOperator(*form.Button1);
    EXPECT_TRUE(dialogs->boxes().empty()) << dialogs->boxes().front().text;
    EXPECT_EQ(form.Meter->DisplayText(), "Выполнено");
    EXPECT_EQ(beside(fs::path(path).parent_path().string(), "shop.mdb"),
              std::vector<std::string>{});
    EXPECT_EQ(accessContent(path), completedContent);
}

// Runs the patch on copies of a sample made with `sample`, killing one run at each call that
// `choose` picks from the total, and checks every file afterwards. Each copy is
// `kill-<n>/DB/shop.mdb`, as in the program's own folder. For Access files the first
// `nextRuns` kills that left the writer's copy beside the database are followed by the
// operator's next run.
Campaign killRuns(const tools::SampleOptions& sample,
                  const std::function<std::vector<long>(long total)>& choose,
                  KillAt where = KillAt::EngineCall, int nextRuns = 0) {
    Campaign c;
    testsupport::TempDir dir;
    engine::registerEngine();
    const bool access = sample.format == tools::SampleFormat::Jet4;
    const std::string original = dir.file("original.mdb");
    tools::makeSampleDatabase(original, sample);
    const std::string originalBytes = testsupport::fileBytes(original);
    const std::string originalDump = access ? "" : testsupport::sqliteDump(original);

    // One whole run, counted, gives the number of engine calls and the completed state.
    const std::string completed = dir.file("completed.mdb");
    fs::copy_file(original, completed);
    c.total = countedRun(dir.path(), completed, where, c.operations);
    const std::string completedContent =
        access ? accessContent(completed) : testsupport::sqliteDump(completed);
    if (access) {
        EXPECT_EQ(stampOf(completed), "patch16");
        EXPECT_FALSE(completedContent.starts_with("FAULT")) << completedContent;
    } else {
        EXPECT_NE(completedContent, originalDump);
    }
    c.points = choose(c.total);
    struct Running {
        long point;
        std::string folder; // the program folder
        std::string path;
        std::unique_ptr<ForwardingChild> child;
    };
    std::deque<Running> running;
    auto finishOldest = [&] {
        Running r = std::move(running.front());
        running.pop_front();
        ForwardingChild::Outcome outcome = r.child->wait(std::chrono::seconds(60));
        SCOPED_TRACE("killed at " + std::to_string(r.point) +
                     (c.operations.empty() ? "" : " " + c.operations[r.point - 1]));
        EXPECT_FALSE(outcome.timedOut);
        EXPECT_EQ(outcome.signal, SIGKILL) << outcome.output;
        bool asOriginal = false;
        bool asCompleted = false;
        std::string found; // what a partial state holds, for the failure message
        if (access) {
            const std::vector<std::string> left =
                beside(fs::path(r.path).parent_path().string(), "shop.mdb");
            for (const std::string& name : left)
                EXPECT_TRUE(name == ".shop.mdb.patch16-new" || name == ".shop.mdb.patch16-undo")
                    << name;
            asOriginal = testsupport::fileBytes(r.path) == originalBytes;
            const std::string content = asOriginal ? "" : accessContent(r.path);
            asCompleted = !asOriginal && content == completedContent;
            found = content.substr(0, 400);
            // The copy is renamed over the database as the commit's one step: once the database
            // is complete, nothing of the run remains beside it.
            if (asCompleted) {
                EXPECT_EQ(left, std::vector<std::string>{});
            }
            if (!left.empty() && c.leftCopies++ < nextRuns)
                expectNextRunCompletesAndClearsTheCopy(r.folder, r.path, completedContent);
        } else {
            if (isHotJournal(r.path + "-journal"))
                ++c.hotJournals;
            EXPECT_EQ(openAndCheckIntegrity(r.path), "ok");
            EXPECT_FALSE(isHotJournal(r.path + "-journal"));
            const std::string dump = testsupport::sqliteDump(r.path);
            asOriginal = dump == originalDump;
            asCompleted = dump == completedContent;
        }
        if (asOriginal) {
            ++c.asOriginal;
            c.originalAt.insert(r.point);
        } else if (asCompleted) {
            ++c.asCompleted;
            c.completedAt.insert(r.point);
        } else {
            ++c.partial;
            ADD_FAILURE() << "a state between the original and the completed run\n" << found;
        }
        fs::remove_all(r.folder);
    };
    for (long point : c.points) {
        const std::string folder = dir.file("kill-" + std::to_string(point));
        fs::create_directories(folder + "/DB");
        const std::string copy = folder + "/DB/shop.mdb";
        fs::copy_file(original, copy);
        running.push_back(
            {point, folder, copy,
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

    std::cout << "[ crash    ] " << (access ? "Access file, " : "SQLite file, ")
              << (where == KillAt::EngineCall ? "engine calls" : "disk operations")
              << " in a run: " << c.total << "; kill points: " << c.points.size()
              << "; left as the original: " << c.asOriginal
              << "; left completed: " << c.asCompleted;
    if (access)
        std::cout << "; copies left beside: " << c.leftCopies;
    else
        std::cout << "; hot journals rolled back: " << c.hotJournals;
    std::cout << "; partial states: " << c.partial << std::endl;
    return c;
}

// The serial of the first disk operation called `name`, 0 when there is none.
long firstOperation(const Campaign& c, std::string_view name) {
    const auto found = std::find(c.operations.begin(), c.operations.end(), name);
    return found == c.operations.end() ? 0 : static_cast<long>(found - c.operations.begin()) + 1;
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

// ---- Access 2000-2003 files ----

const tools::SampleOptions SmallAccessShop{6, 12, "patch15", tools::SampleFormat::Jet4};

// On an Access file the run builds the new content in a copy beside the database from its first
// change on; a kill at any engine call leaves the original bytes (the copy, if any, beside) or
// the completed database, and the operator's next run finishes the work and takes the copy away.
TEST(CrashSafety, AccessFileKilledAtAnyEngineCallIsOriginalOrCompleted) {
    const Campaign c = killRuns(
        SmallAccessShop, [](long total) { return killPoints(total, 400); }, KillAt::EngineCall, 2);
    ASSERT_GT(c.total, 0);
    EXPECT_EQ(c.partial, 0);
    EXPECT_TRUE(c.originalAt.count(1));
    EXPECT_TRUE(c.completedAt.count(c.total));
    if (!c.originalAt.empty() && !c.completedAt.empty()) {
        EXPECT_LT(*c.originalAt.rbegin(), *c.completedAt.begin());
    }
    EXPECT_GT(c.leftCopies, 0) << "no kill came while the copy was being built";
}

// Between the Access writer's own steps: the copy made, pages written, the spill file, flushes,
// the rename over the database. Every kill up to the rename leaves the original bytes, every
// kill after it the completed database; nothing of the run is left beside a completed one.
TEST(CrashSafety, AccessFileKilledAtAnyDiskOperationSwitchesAtTheRename) {
    Campaign c = killRuns(
        SmallAccessShop,
        [](long total) {
            // Every operation of the commit (the run's last few) among the points.
            std::vector<long> points = killPoints(total, 200);
            for (long n = std::max(1L, total - 4); n <= total; ++n)
                points.push_back(n);
            std::sort(points.begin(), points.end());
            points.erase(std::unique(points.begin(), points.end()), points.end());
            return points;
        },
        KillAt::DiskOperation, 1);
    ASSERT_GT(c.total, 0);
    EXPECT_EQ(c.partial, 0);
    const long rename = firstOperation(c, "rename");
    ASSERT_GT(rename, 0);
    EXPECT_EQ(std::count(c.operations.begin(), c.operations.end(), "rename"), 1);
    for (long point : c.points) {
        SCOPED_TRACE("killed at " + std::to_string(point) + " " + c.operations[point - 1]);
        EXPECT_EQ(c.originalAt.count(point), point <= rename ? 1u : 0u);
        EXPECT_EQ(c.completedAt.count(point), point > rename ? 1u : 0u);
    }
    EXPECT_TRUE(c.completedAt.count(c.total));
}
