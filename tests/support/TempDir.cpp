#include "support/TempDir.h"

#if PATCH16_WITH_SQLITE
#include <sqlite3.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// The tests hold names as UTF-8; Windows' file system takes them as UTF-16 (a narrow path
// would go through the ANSI code page and lose Cyrillic names).
fs::path nativePath(const std::string& name) {
#if defined(_WIN32)
    return fs::path(std::u8string(name.begin(), name.end()));
#else
    return fs::path(name);
#endif
}

std::string heldName(const fs::path& path) {
#if defined(_WIN32)
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
#else
    return path.string();
#endif
}

} // namespace

TempDir::TempDir() {
    // A fresh name of our own (create_directory reports whether it made the folder), as
    // mkdtemp would give, on every system.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder =
            fs::temp_directory_path() / ("patch16-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(folder, error)) {
            path_ = heldName(folder);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " +
                             fs::temp_directory_path().string());
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make files read-only on purpose; give write permission back so removal succeeds.
    for (auto it = fs::recursive_directory_iterator(nativePath(path_), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(nativePath(path_), ec);
}

std::string TempDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(nativePath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(nativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

#if PATCH16_WITH_SQLITE
void makeSqliteFile(const std::string& path, const std::vector<std::string>& sqlStatements) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot create " + path + ": " + message);
    }
    for (const std::string& sql : sqlStatements) {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            sqlite3_close(db);
            throw std::runtime_error("SQLite refused \"" + sql + "\": " + message);
        }
    }
    sqlite3_close(db);
}
#endif

} // namespace testsupport
