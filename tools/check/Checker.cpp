#include "tools/check/Checker.h"

#include "engine/FileProbe.h"
#include "engine/jet4/file/SystemFiles.h"
#include "engine/jet4/format/Header.h"
#include "tools/check/Jet4Check.h"
#if PATCH16_WITH_SQLITE
#include "tools/check/SqliteCheck.h"
#endif

#include <array>
#include <span>
#include <system_error>

namespace check {

namespace {

enum class Format { Sqlite, Jet4 };

// The format named by the file's first bytes; Unreadable for anything else.
Format formatOf(const std::string& path) {
    namespace sys = engine::jet4::sys;
    bool regular = false;
    if (const int error = sys::isRegularFile(path, regular))
        throw Unreadable{std::generic_category().message(error)};
    if (!regular)
        throw Unreadable{"not a regular file"};
    sys::NativeFile file = sys::NoFile;
    if (const int error = sys::openForReading(path, file))
        throw Unreadable{std::generic_category().message(error)};
    std::array<unsigned char, 32> header{};
    std::size_t got = 0;
    const int error = sys::readAt(file, header.data(), header.size(), 0, got);
    sys::close(file);
    if (error != 0)
        throw Unreadable{std::generic_category().message(error)};
    const std::span<const unsigned char> read(header.data(), got);
    if (engine::startsLikeSqlite(read)) {
#if PATCH16_WITH_SQLITE
        return Format::Sqlite;
#else
        throw Unreadable{"an SQLite database, which this build does not check (Access 2000-2003 "
                         "files only)"};
#endif
    }
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
    [[maybe_unused]] const Format format = formatOf(path);
#if PATCH16_WITH_SQLITE
    if (format == Format::Sqlite)
        return checkSqlite(path);
#endif
    return checkJet4(path);
}

void dump(const std::string& path, const std::function<void(const std::string&)>& line) {
    [[maybe_unused]] const Format format = formatOf(path);
#if PATCH16_WITH_SQLITE
    if (format == Format::Sqlite)
        return dumpSqlite(path, line);
#endif
    dumpJet4(path, line);
}

} // namespace check
