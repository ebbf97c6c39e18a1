#pragma once
// The Jackcess judge: ../shared/jackcess/judge.sh beside the source tree (or the folder named by
// PATCH16_JACKCESS), an independent reader and writer of Access files on the Jackcess library,
// run in place as a test tool. `read` checks every table, index, long value and property of a
// file; `write` inserts, updates and deletes rows in a copy, which moves both ends of every
// index, and then reads the copy again itself; `rows` prints the user rows as JSON Lines in the
// form of ReferenceReaders.h. Tests that need it skip, saying why, when the folder or Java is
// missing.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct JudgeResult {
    int exitCode = 0; // 0 passed, 1 failed, 2 skipped (not Jet 4, or encrypted), 3 usage, 4 no Java
    std::string output; // what the judge printed: its report, then its complaints

    bool passed() const { return exitCode == 0; }
};

// The judge's folder, or nothing when it is missing.
std::optional<std::filesystem::path> jackcessFolder();

// Why the judge cannot run (its folder, Java or the commons jars missing), or nothing when it can.
std::optional<std::string> jackcessMissing();

// Jackcess reads and checks the whole file (`judge.sh read FILE extraArgs...`).
JudgeResult jackcessRead(const std::filesystem::path& file,
                         const std::vector<std::string>& extraArgs = {});

// Jackcess changes rows in every table of `copy`, closes it and reads it again
// (`judge.sh write COPY extraArgs...`, e.g. {"--max-cols", "40"} to reach wide tables).
JudgeResult jackcessWrite(const std::filesystem::path& copy,
                          const std::vector<std::string>& extraArgs = {});

// The file's user rows as Jackcess reads them, one JSON line each. Throws std::runtime_error when
// Jackcess cannot read the file.
std::vector<std::string> jackcessRows(const std::filesystem::path& file);

} // namespace testsupport

// Skips the current test when the judge cannot run.
#define REQUIRE_JACKCESS()                                                                         \
    do {                                                                                           \
        if (const auto missing = ::testsupport::jackcessMissing())                                 \
            GTEST_SKIP() << *missing;                                                              \
    } while (false)
