#pragma once
// Writes a new database at revision "patch15": a small shop's tables (settings, goods, prices,
// suppliers, supplies, documents), made through the engine's own SQL.

#include <cstdint>
#include <string>

namespace tools {

struct SampleOptions {
    std::int32_t goods = 40;     // rows of Goods and of GoodPric
    std::int32_t supplies = 120; // rows of Supgood
    std::string stamp = "patch15";
};

// Creates `path` (which must not exist yet) and fills it. Raises automation::Error when the engine
// refuses a step; a partly written file is removed then.
void makeSampleDatabase(const std::string& path, const SampleOptions& options = {});

} // namespace tools
