#pragma once
// The catalog: the rows of MSysObjects, whose definition is always at page 2. One row per
// object (table, query, form, container...); a table's Id is its definition page.

#include "engine/jet4/file/PageFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine::jet4 {

inline constexpr std::uint32_t CatalogDefinitionPage = 2;

struct CatalogEntry {
    static constexpr std::int16_t TableType = 1;
    static constexpr std::int16_t LinkedOdbcType = 4;
    static constexpr std::int16_t LinkedTableType = 6;
    // Flags bits that mark a system object.
    static constexpr std::uint32_t SystemFlags = 0x80000002;

    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name; // UTF-8
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    std::optional<std::string> lvProp; // the property blob (see Properties.h)
    // Linked tables: the other database and the table's name there.
    std::optional<std::string> database, foreignName;
};

// Every MSysObjects row, in scan order; FormatError when the catalog is damaged or lacks the
// Id, ParentId, Name, Type or Flags column.
std::vector<CatalogEntry> readCatalog(const PageFile& file);

// A table of the user's own: type 1 and neither system flag (0x80000000, 0x00000002) set.
bool isUserTable(const CatalogEntry& entry);

// A table linked from another database (types 4 and 6).
bool isLinkedTable(const CatalogEntry& entry);

} // namespace engine::jet4
