#include "tools/check/Checker.h"

#include "tools/check/Jet4Check.h"
#include "tools/check/SqliteCheck.h"

#include <cerrno>
#include <cstring>
#include <fstream>
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
    char header[32] = {};
    in.read(header, sizeof header);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got >= 16 && std::memcmp(header, "SQLite format 3", 16) == 0)
        return Format::Sqlite;
    if (got >= 0x15 && std::memcmp(header, "\x00\x01\x00\x00Standard Jet DB", 19) == 0) {
        if (header[0x14] == 1)
            return Format::Jet4;
        throw Unreadable{header[0x14] == 0 ? "an Access 97 (Jet 3) file, which is not checked"
                                           : "an Access 2007+ file, which is not checked"};
    }
    if (got >= 19 && std::memcmp(header, "\x00\x01\x00\x00Standard ACE DB", 19) == 0)
        throw Unreadable{"an Access 2007+ file, which is not checked"};
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
