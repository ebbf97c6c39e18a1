#pragma once
// Writes a new database at revision "patch15": a small shop's tables (settings, goods, prices,
// suppliers, supplies, documents), made through the engine's own SQL.

#include <cstdint>
#include <string>

namespace tools {

enum class SampleFormat {
    Jet4,  // an Access 2000-2003 file, as the operators have
    Sqlite // the engine's SQLite store
};

struct SampleOptions {
    std::int32_t goods = 40;     // rows of Goods and of GoodPric
    std::int32_t supplies = 120; // rows of Supgood
    std::string stamp = "patch15";
    SampleFormat format = SampleFormat::Jet4;
};

// Creates `path` (which must not exist yet) and fills it. Raises automation::Error when the engine
// refuses a step; a partly written file is removed then.
void makeSampleDatabase(const std::string& path, const SampleOptions& options = {});

// Writes the same tables and rows into the existing database at `path` (any format the engine
// changes; `options.format` is not used), all or nothing. Raises automation::Error when the
// engine refuses a step, the database then left as it was.
void addSampleTables(const std::string& path, const SampleOptions& options = {});

} // namespace tools
