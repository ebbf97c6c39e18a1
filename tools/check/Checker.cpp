#include "tools/check/Checker.h"

#include "engine/jet4/Header.h"
#include "engine/sqlite/SqliteStore.h"
#include "tools/check/Jet4Check.h"
#include "tools/check/SqliteCheck.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <sys/stat.h>

namespace check {

namespace {

enum class Format { Sqlite, Jet4 };

// The format named by the file's first bytes; Unreadable for anything else.
Format formatOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw Unreadable{std::strerror(errno)};
    if (!S_ISREG(info.st_mode))
        throw Unreadable{"not a regular file"};
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, 32> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    const std::span<const unsigned char> read(header.data(), static_cast<std::size_t>(in.gcount()));
    if (engine::SqliteStore::recognizes(read))
        return Format::Sqlite;
    switch (engine::jet4::sniffFormat(read)) {
    case engine::jet4::FileFormat::Jet4:
        return Format::Jet4;
    case engine::jet4::FileFormat::Jet3:
        throw Unreadable{"an Access 97 (Jet 3) file, which is not checked"};
    case engine::jet4::FileFormat::Ace:
        throw Unreadable{"an Access 2007+ file, which is not checked"};
    case engine::jet4::FileFormat::NotJet:
        break;
    }
    throw Unreadable{"neither an SQLite database nor an Access 2000-2003 file"};
}

} // namespace

Report checkFile(const std::string& path) {
    return formatOf(path) == Format::Sqlite ? checkSqlite(path) : checkJet4(path);
}

void dump(const std::string& path, const std::function<void(const std::string&)>& line) {
    if (formatOf(path) == Format::Sqlite)
        dumpSqlite(path, line);
    else
        dumpJet4(path, line);
}

} // namespace check
