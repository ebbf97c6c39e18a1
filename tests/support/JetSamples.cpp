#include "support/JetSamples.h"

#include <algorithm>
#include <cstdlib>

namespace testsupport {

namespace {

std::filesystem::path defaultFolder() {
    return std::filesystem::path(PATCH16_SOURCE_DIR) / ".." / "shared" / "jet-samples";
}

} // namespace

std::optional<std::filesystem::path> jetSamplesFolder() {
    std::filesystem::path folder = defaultFolder();
    if (const char* env = std::getenv("PATCH16_JET_SAMPLES"); env && *env)
        folder = env;
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return std::nullopt;
    return std::filesystem::weakly_canonical(folder, error);
}

std::vector<std::filesystem::path> jetSampleFiles() {
    std::vector<std::filesystem::path> files;
    const auto folder = jetSamplesFolder();
    if (!folder)
        return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*folder))
        if (entry.is_regular_file() && entry.path().extension() == ".mdb")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string jetSamplesMissingReason() {
    return "the Access sample folder is missing (looked for PATCH16_JET_SAMPLES, then " +
           defaultFolder().lexically_normal().string() + ")";
}

} // namespace testsupport
