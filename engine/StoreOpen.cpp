// Choosing the store for a file: its first bytes name the format, and only a format the engine
// reads gets further than those bytes. A build without the SQLite store (the Windows programs)
// refuses SQLite files by name, on opening and on creating alike.

#include "engine/EngineErrors.h"
#include "engine/FileProbe.h"
#include "engine/Store.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/store/Jet4Store.h"
#include "engine/jet4/write/NewDatabase.h"
#if PATCH16_WITH_SQLITE
#include "engine/sqlite/SqliteStore.h"
#endif

#include <system_error>

namespace engine {

namespace {

#if !PATCH16_WITH_SQLITE
[[noreturn]] void refuseSqlite(const std::string& refused) {
    raise(errors::UnrecognizedFormat,
          refused + ": формат SQLite в этой сборке не поддерживается, только Access 2000-2003.");
}
#endif

} // namespace

std::shared_ptr<Store> Store::open(const std::string& path, bool readOnly) {
    const std::vector<unsigned char> header = probeDatabaseFile(path, 32);
    const std::string refused = "Нераспознанный формат базы данных " + quoted(path);
    if (startsLikeSqlite(header)) {
#if PATCH16_WITH_SQLITE
        return SqliteStore::open(path, readOnly);
#else
        refuseSqlite(refused);
#endif
    }
    switch (jet4::sniffFormat(header)) {
    case jet4::FileFormat::Jet4:
        return Jet4Store::open(path, readOnly);
    case jet4::FileFormat::Jet3:
        raise(errors::UnrecognizedFormat,
              refused + ": формат Access 97 (Jet 3) не поддерживается.");
    case jet4::FileFormat::Ace:
        raise(errors::UnrecognizedFormat,
              refused + ": формат Access 2007 и новее (ACE) не поддерживается.");
    case jet4::FileFormat::NotJet:
        break;
    }
    raise(errors::UnrecognizedFormat, refused + ".");
}

std::shared_ptr<Store> Store::create(const std::string& path, Format format) {
    if (format == Format::Sqlite) {
#if PATCH16_WITH_SQLITE
        return SqliteStore::create(path);
#else
        refuseSqlite("Не удается создать базу данных " + quoted(path));
#endif
    }
    try {
        jet4::createEmptyDatabase(path);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::file_exists || path.empty())
            raise(errors::DatabaseExists, "База данных " + quoted(path) + " уже существует.");
        raise(errors::CannotOpenFile,
              "Не удается создать файл " + quoted(path) + ": " + e.code().message() + ".");
    }
    return Jet4Store::open(path);
}

} // namespace engine
