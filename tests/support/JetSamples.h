#pragma once
// Where the Access-made sample databases are: the folder named by PATCH16_JET_SAMPLES, else
// ../shared/jet-samples beside the source tree. They belong to other projects and are read in
// place, never copied. Tests that need them skip, saying why, when the folder is missing.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The samples folder, or nothing when it is missing.
std::optional<std::filesystem::path> jetSamplesFolder();

// Every *.mdb file under the samples folder (its ru/ subfolder included), sorted by path; empty
// when the folder is missing.
std::vector<std::filesystem::path> jetSampleFiles();

// Why sample tests skip: names the folders that were looked for.
std::string jetSamplesMissingReason();

} // namespace testsupport

// Skips the current test when the samples folder is missing.
#define REQUIRE_JET_SAMPLES()                                                                      \
    do {                                                                                           \
        if (!::testsupport::jetSamplesFolder())                                                    \
            GTEST_SKIP() << ::testsupport::jetSamplesMissingReason();                              \
    } while (false)
