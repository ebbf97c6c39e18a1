// Choosing the store for a file: its first bytes name the format, and only a format the engine
// reads gets further than those bytes.

#include "engine/EngineErrors.h"
#include "engine/FileProbe.h"
#include "engine/Store.h"
#include "engine/jet4/Header.h"
#include "engine/jet4/NewDatabase.h"
#include "engine/jet4/store/Jet4Store.h"
#include "engine/sqlite/SqliteStore.h"

#include <system_error>

namespace engine {

std::shared_ptr<Store> Store::open(const std::string& path, bool readOnly) {
    const std::vector<unsigned char> header = probeDatabaseFile(path, 32);
    if (SqliteStore::recognizes(header))
        return SqliteStore::open(path, readOnly);
    const std::string refused = "Нераспознанный формат базы данных " + quoted(path);
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
    if (format == Format::Sqlite)
        return SqliteStore::create(path);
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
