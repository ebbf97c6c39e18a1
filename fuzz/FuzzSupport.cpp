#include "FuzzSupport.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace fuzz {

namespace {

constexpr int StepsPerCall = 10000;
constexpr long MaxCalls = 2000; // 20 million steps: well under a second
long calls = 0;

int countSteps(void*) {
    return ++calls > MaxCalls ? 1 : 0;
}

int limitConnection(sqlite3* db, const char**, const struct sqlite3_api_routines*) {
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 16 << 20);
    sqlite3_progress_handler(db, StepsPerCall, countSteps, nullptr);
    return SQLITE_OK;
}

} // namespace

void limitEveryConnection() {
    // SQLite runs automatic extensions on each connection as it opens.
    if (sqlite3_auto_extension(reinterpret_cast<void (*)()>(limitConnection)) != SQLITE_OK)
        finding("cannot install the work limits");
}

void workStarted() {
    calls = 0;
}

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "patch16-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        finding("cannot create a scratch folder " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ScratchDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::vector<std::string> ScratchDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        finding("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::error_code ignored;
    fs::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        finding("cannot write " + path);
}

void finding(const std::string& why) {
    std::fprintf(stderr, "FINDING: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
