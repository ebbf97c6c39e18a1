// The whole run through the Windows window, ended as Task Manager ends a program
// (TerminateProcess) at any disk operation of the Access writer: up to the replace of the
// database the file keeps its original bytes, after it the database is complete, and the
// operator's next run through the window finishes the work and leaves nothing beside it.

#include "engine/Registration.h"
#include "engine/jet4/file/DiskOperations.h"
#include "engine/jet4/file/SystemFiles.h"
#include "forms/M_Patch16.h"
#include "platform/win32/Win32Form.h"
#include "support/ChildProcess.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"
#include "window/RevisionStamp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using windowtest::stampOf;

constexpr const char* ChildFolder = "PATCH16_CRASH_FOLDER";
constexpr const char* ChildKillAt = "PATCH16_CRASH_AT";
constexpr UINT KilledCode = 57;

// The run as the operator starts it: the window over `program` (its DB folder holds the shop),
// the run button pressed. Message boxes are recorded, not shown.
void runThroughTheWindow(const std::string& program) {
    engine::registerEngine();
    testsupport::ScopedRecordingDialogs dialogs;
    platform::Win32Form window;
    TForm1 form(window, program);
    SendMessageW(platform::Win32Form::handleOf(*form.Button1), BM_CLICK, 0, 0);
    EXPECT_EQ(dialogs->boxes().size(), 0u);
}

// What is in `folder` besides the database and its lock file.
std::vector<std::string> besideDatabase(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "shop.mdb" && name != "shop.ldb")
            names.push_back(name);
    }
    return names;
}

// A program folder with a small shop at "patch15" in its DB folder; its bytes.
std::string makeShop(const std::string& program) {
    std::filesystem::create_directories(program + "DB");
    tools::makeSampleDatabase(program + "DB\\shop.mdb",
                              {6, 12, "patch15", tools::SampleFormat::Jet4});
    return testsupport::fileBytes(program + "DB\\shop.mdb");
}

// Runs through the window in the program folder the parent names and ends this process at the
// disk operation it names.
TEST(Win32CrashChild, RunKilledAtDiskOperation) {
    const char* folder = std::getenv(ChildFolder);
    const char* killAt = std::getenv(ChildKillAt);
    if (!folder || !killAt)
        GTEST_SKIP() << "runs only as a child of the kill test";
    const long serialToKill = std::atol(killAt);
    engine::jet4::setDiskHook([&](std::string_view, long serial) {
        if (serial == serialToKill)
            TerminateProcess(GetCurrentProcess(), KilledCode);
        return 0;
    });
    runThroughTheWindow(folder);
}

TEST(Win32Crash, KillAtAnyDiskOperationOfTheRunLeavesTheOriginalOrTheCompletedShop) {
    // The run's disk operations, counted on a run that is not ended.
    std::vector<std::string> operations;
    std::string completed;
    {
        const testsupport::TempDir dir;
        const std::string program = dir.path() + "\\";
        makeShop(program);
        engine::jet4::setDiskHook([&](std::string_view operation, long) {
            operations.emplace_back(operation);
            return 0;
        });
        runThroughTheWindow(program);
        engine::jet4::setDiskHook({});
        ASSERT_EQ(stampOf(program + "DB\\shop.mdb"), "patch16");
    }
    const auto rename = std::find(operations.begin(), operations.end(), "rename");
    ASSERT_NE(rename, operations.end());
    const long renameAt = static_cast<long>(rename - operations.begin()) + 1;
    const long total = static_cast<long>(operations.size());

    // Every tenth operation, and every one of the commit (the last few).
    std::vector<long> points;
    for (long n = 1; n <= total; n += std::max(1L, total / 10))
        points.push_back(n);
    for (long n = std::max(1L, renameAt - 3); n <= total; ++n)
        points.push_back(n);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());

    for (long point : points) {
        SCOPED_TRACE("killed at " + std::to_string(point) + " of " + std::to_string(total) + ": " +
                     operations[point - 1]);
        const testsupport::TempDir dir;
        const std::string program = dir.path() + "\\";
        const std::string shop = program + "DB\\shop.mdb";
        const std::string original = makeShop(program);
        const testsupport::ProcessResult child = testsupport::runProgram(
            {testsupport::thisProgram(), "--gtest_filter=Win32CrashChild.RunKilledAtDiskOperation"},
            {std::string(ChildFolder) + "=" + program,
             std::string(ChildKillAt) + "=" + std::to_string(point)});
        EXPECT_EQ(child.status, static_cast<int>(KilledCode)) << child.out;
        if (point <= renameAt) {
            EXPECT_TRUE(testsupport::fileBytes(shop) == original) << "changed before the replace";
        } else {
            EXPECT_EQ(stampOf(shop), "patch16");
            const check::Report report = check::checkFile(shop);
            EXPECT_TRUE(report.sound()) << report.faults.front().kind;
            EXPECT_EQ(besideDatabase(program + "DB"), std::vector<std::string>{});
            continue;
        }
        // The operator starts again and presses the button: the run completes, nothing of the
        // ended one is left.
        runThroughTheWindow(program);
        EXPECT_EQ(stampOf(shop), "patch16");
        EXPECT_TRUE(check::checkFile(shop).sound());
        EXPECT_EQ(besideDatabase(program + "DB"), std::vector<std::string>{});
    }
}

} // namespace
