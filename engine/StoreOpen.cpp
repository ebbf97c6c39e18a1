// Choosing the store for a file: its first bytes name the format, and only a format the engine
// reads gets further than those bytes.

#include "engine/EngineErrors.h"
#include "engine/FileProbe.h"
#include "engine/Store.h"
#include "engine/sqlite/SqliteStore.h"

namespace engine {

std::shared_ptr<Store> Store::open(const std::string& path, bool readOnly) {
    const std::vector<unsigned char> header = probeDatabaseFile(path, 32);
    if (SqliteStore::recognizes(header))
        return SqliteStore::open(path, readOnly);
    raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + quoted(path) + ".");
}

std::shared_ptr<Store> Store::create(const std::string& path) {
    return SqliteStore::create(path);
}

} // namespace engine
