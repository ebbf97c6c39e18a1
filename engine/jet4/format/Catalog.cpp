#include "engine/jet4/format/Catalog.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"

namespace engine::jet4 {

namespace {

// Columns of MSysObjects the catalog reads; the blobs of forms and modules (Lv, LvModule...)
// are never decoded.
enum Wanted { Id, ParentId, Name, Type, Flags, LvProp, Database, ForeignName, WantedCount };
constexpr const char* WantedNames[WantedCount] = {"Id",    "ParentId", "Name",     "Type",
                                                  "Flags", "LvProp",   "Database", "ForeignName"};
constexpr bool Required[WantedCount] = {true, true, true, true, true, false, false, false};

std::optional<std::string> textOf(const Value& value) {
    if (value.kind != Value::Kind::Text)
        return std::nullopt;
    return utf8FromUtf16(value.text);
}

} // namespace

std::vector<CatalogEntry> readCatalog(const PageFile& file) {
    const TableDefinition definition = readTableDefinition(file, CatalogDefinitionPage);
    std::vector<bool> wanted(definition.columns.size(), false);
    int position[WantedCount];
    for (int w = 0; w < WantedCount; ++w) {
        position[w] = -1;
        for (std::size_t i = 0; i < definition.columns.size(); ++i)
            if (definition.columns[i].name == WantedNames[w]) {
                position[w] = static_cast<int>(i);
                wanted[i] = true;
            }
        if (position[w] < 0 && Required[w])
            throw FormatError(CatalogDefinitionPage,
                              std::string("the catalog has no column ") + WantedNames[w]);
    }
    static const Value null;
    const auto cell = [&](const std::vector<Value>& row, int w) -> const Value& {
        return position[w] < 0 ? null : row[static_cast<std::size_t>(position[w])];
    };

    std::vector<CatalogEntry> entries;
    scanRows(
        file, definition,
        [&](RowLocation, const std::vector<Value>& row) {
            CatalogEntry entry;
            entry.id = static_cast<std::int32_t>(cell(row, Id).integer);
            entry.parentId = static_cast<std::int32_t>(cell(row, ParentId).integer);
            entry.name = textOf(cell(row, Name)).value_or("");
            entry.type = static_cast<std::int16_t>(cell(row, Type).integer);
            entry.flags = static_cast<std::uint32_t>(cell(row, Flags).integer);
            if (cell(row, LvProp).kind == Value::Kind::Binary)
                entry.lvProp = cell(row, LvProp).bytes;
            entry.database = textOf(cell(row, Database));
            entry.foreignName = textOf(cell(row, ForeignName));
            entries.push_back(std::move(entry));
            return true;
        },
        wanted);
    return entries;
}

bool isUserTable(const CatalogEntry& entry) {
    return entry.type == CatalogEntry::TableType && (entry.flags & CatalogEntry::SystemFlags) == 0;
}

bool isLinkedTable(const CatalogEntry& entry) {
    return entry.type == CatalogEntry::LinkedOdbcType ||
           entry.type == CatalogEntry::LinkedTableType;
}

} // namespace engine::jet4
