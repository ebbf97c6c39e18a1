#include "engine/jet4/write/CatalogWriter.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "engine/jet4/write/RowWriter.h"

#include <set>

namespace engine::jet4 {

namespace {

constexpr std::int16_t ContainerType = 3;
constexpr std::int16_t DatabaseType = 2;
constexpr std::uint32_t ContainerRights = 0xFFEFF;
constexpr std::uint32_t AllRights = 0xFFFFF;

// The position of the column called `name` in `t`; FormatError when the table lacks it.
std::size_t position(const TableDefinition& t, const char* name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == name)
            return i;
    throw FormatError(t.page, std::string("the table has no column ") + name);
}

// The bytes as a Binary value; Null when there are none.
Value binary(const std::optional<std::string>& bytes) {
    return bytes ? binaryValue(*bytes) : Value{};
}

void rebuildAll(PageFile& file, TableDefinition& t) {
    for (std::size_t p = 0; p < t.physicalIndexes.size(); ++p)
        rebuildIndex(file, t, p);
}

// The Id of a catalog row of `type` called `name`, or nothing.
std::optional<std::int32_t> findId(const std::vector<CatalogEntry>& catalog, const char* name,
                                   std::int16_t type) {
    for (const CatalogEntry& entry : catalog)
        if (entry.type == type && entry.name == name)
            return entry.id;
    return std::nullopt;
}

} // namespace

void addTableToCatalog(PageFile& file, std::uint32_t id, const std::u16string& name,
                       const std::optional<std::string>& properties, double now) {
    TableDefinition objects = readTableDefinition(file, CatalogDefinitionPage);
    const std::vector<CatalogEntry> catalog = readCatalog(file);
    const auto tables = findId(catalog, "Tables", ContainerType);
    if (!tables)
        throw FormatError(CatalogDefinitionPage, "the catalog has no Tables container");

    // The owner of the database's own row, which Access gives every new object.
    const std::size_t idAt = position(objects, "Id"), ownerAt = position(objects, "Owner");
    const auto database = findId(catalog, "MSysDb", DatabaseType);
    std::optional<std::string> owner;
    std::vector<bool> wanted(objects.columns.size(), false);
    wanted[idAt] = wanted[ownerAt] = true;
    scanRows(
        file, objects,
        [&](RowLocation, const std::vector<Value>& row) {
            if (database && row[idAt].integer == *database && !row[ownerAt].isNull()) {
                owner = row[ownerAt].bytes;
                return false;
            }
            return true;
        },
        wanted);

    std::vector<Value> row(objects.columns.size());
    row[idAt] = integerValue(static_cast<std::int32_t>(id));
    row[position(objects, "ParentId")] = integerValue(*tables);
    row[position(objects, "Name")].kind = Value::Kind::Text;
    row[position(objects, "Name")].text = name;
    row[position(objects, "Type")] = integerValue(1);
    row[position(objects, "DateCreate")] = dateValue(now);
    row[position(objects, "DateUpdate")] = dateValue(now);
    row[ownerAt] = binary(owner);
    row[position(objects, "Flags")] = integerValue(0);
    row[position(objects, "LvProp")] = binary(properties);
    insertRow(file, objects, row);
    rebuildAll(file, objects);

    const auto acesId = findId(catalog, "MSysACEs", CatalogEntry::TableType);
    if (!acesId)
        return;
    TableDefinition aces = readTableDefinition(file, static_cast<std::uint32_t>(*acesId));
    const std::size_t objectAt = position(aces, "ObjectId"), sidAt = position(aces, "SID"),
                      rightsAt = position(aces, "ACM"), inheritAt = position(aces, "FInheritable");
    std::vector<std::string> sids;
    std::set<std::string> seen;
    scanRows(file, aces, [&](RowLocation, const std::vector<Value>& ace) {
        if (ace[objectAt].integer == *tables && ace[inheritAt].integer != 0 &&
            static_cast<std::uint32_t>(ace[rightsAt].integer) == ContainerRights &&
            seen.insert(ace[sidAt].bytes).second)
            sids.push_back(ace[sidAt].bytes);
        return true;
    });
    for (const std::string& sid : sids) {
        std::vector<Value> ace(aces.columns.size());
        ace[objectAt] = integerValue(static_cast<std::int32_t>(id));
        ace[sidAt] = binary(sid);
        ace[rightsAt] = integerValue(AllRights);
        ace[inheritAt] = booleanValue(false);
        insertRow(file, aces, ace);
    }
    if (!sids.empty())
        rebuildAll(file, aces);
}

void removeTableFromCatalog(PageFile& file, std::uint32_t id) {
    TableDefinition objects = readTableDefinition(file, CatalogDefinitionPage);
    const std::size_t idAt = position(objects, "Id");
    std::vector<bool> wanted(objects.columns.size(), false);
    wanted[idAt] = true;
    std::optional<RowLocation> found;
    scanRows(
        file, objects,
        [&](RowLocation at, const std::vector<Value>& row) {
            if (row[idAt].integer != static_cast<std::int32_t>(id))
                return true;
            found = at;
            return false;
        },
        wanted);
    if (!found)
        throw FormatError(CatalogDefinitionPage,
                          "the catalog has no row for table " + std::to_string(id));
    deleteRow(file, objects, *found);
    rebuildAll(file, objects);

    const auto acesId = findId(readCatalog(file), "MSysACEs", CatalogEntry::TableType);
    if (!acesId)
        return;
    TableDefinition aces = readTableDefinition(file, static_cast<std::uint32_t>(*acesId));
    const std::size_t objectAt = position(aces, "ObjectId");
    std::vector<RowLocation> rows;
    scanRows(file, aces, [&](RowLocation at, const std::vector<Value>& ace) {
        if (ace[objectAt].integer == static_cast<std::int32_t>(id))
            rows.push_back(at);
        return true;
    });
    for (const RowLocation at : rows)
        deleteRow(file, aces, at);
    if (!rows.empty())
        rebuildAll(file, aces);
}

void setTableProperties(PageFile& file, std::uint32_t id,
                        const std::optional<std::string>& properties, double now) {
    TableDefinition objects = readTableDefinition(file, CatalogDefinitionPage);
    const std::size_t idAt = position(objects, "Id");
    std::optional<std::pair<RowLocation, std::vector<Value>>> found;
    scanRows(file, objects, [&](RowLocation at, const std::vector<Value>& row) {
        if (row[idAt].integer != static_cast<std::int32_t>(id))
            return true;
        found.emplace(at, row);
        return false;
    });
    if (!found)
        throw FormatError(CatalogDefinitionPage,
                          "the catalog has no row for table " + std::to_string(id));
    auto& [at, row] = *found;
    row[position(objects, "LvProp")] = binary(properties);
    row[position(objects, "DateUpdate")] = dateValue(now);
    updateRow(file, objects, at, row);
}

} // namespace engine::jet4
