#include "engine/jet4/write/NewDatabase.h"

#include "engine/jet4/file/SystemFiles.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPageBuilder.h"
#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/HeaderEncoder.h"
#include "engine/jet4/format/PropertiesEncoder.h"
#include "engine/jet4/format/RowEncoder.h"
#include "engine/jet4/format/UsageMapEncoder.h"
#include "engine/jet4/index/IndexPageBuilder.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "engine/jet4/write/PageAllocator.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <ctime>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace engine::jet4 {

namespace {

// Where everything goes (see NewDatabase.h).
constexpr std::uint32_t HeaderPage = 0;
constexpr std::uint32_t GlobalMapPage = 1;
constexpr std::uint32_t ObjectsPage = CatalogDefinitionPage; // MSysObjects: 2
constexpr std::uint32_t AcesPage = 3;
constexpr std::uint32_t QueriesPage = 4;
constexpr std::uint32_t RelationshipsPage = 5;
constexpr std::uint32_t UsageMapPage = 6;
constexpr std::uint32_t FirstIndexPage = 7;
constexpr std::uint32_t ObjectRowsPage = 14;
constexpr std::uint32_t AceRowsPage = 15;
constexpr std::uint32_t LongValuePage = 16;
constexpr std::uint32_t PageCount = 17;

// The global map's first row is the map itself; Access keeps a second, empty one after it.
constexpr std::size_t GlobalMapRows = 2;

// Column flags Access gives the system tables' columns: fixed (0x01) and updatable (0x02) plus
// 0x10 on every column, and 0x20 on the two that hold security identifiers.
constexpr std::uint8_t FixedColumn = 0x13;
constexpr std::uint8_t VariableColumn = 0x12;
constexpr std::uint8_t SidColumn = 0x32;
// Index flags: 0x80 on every index Access writes, with unique (0x01), ignore nulls (0x02) and
// required (0x08).
constexpr std::uint8_t UniqueIndex = 0x81;
constexpr std::uint8_t IgnoreNullsIndex = 0x82;
constexpr std::uint8_t RequiredIndex = 0x88;
// Bytes +21 and +22 of every logical index of the system tables.
constexpr std::uint8_t LogicalIndexDefault = 0x04;

constexpr std::uint16_t GeneralSortOrder = 1033;
constexpr std::uint16_t TextLength = 510; // 255 characters
constexpr std::uint16_t BinaryLength = 510;

struct ColumnShape {
    std::u16string_view name;
    ColumnType type;
    std::uint16_t length;
    std::uint8_t flags;
};

struct IndexShape {
    std::u16string_view name;
    std::vector<std::uint16_t> columns; // column numbers, all ascending
    std::uint8_t flags;
    bool primaryKey;
};

struct TableShape {
    std::uint32_t page;
    std::u16string_view name;
    std::vector<ColumnShape> columns; // in column-number order
    std::vector<IndexShape> indexes;  // in physical-index order
};

// The system tables as Access 2000 defines them.
const std::vector<TableShape>& systemTables() {
    using T = ColumnType;
    static const std::vector<TableShape> tables = {
        {ObjectsPage,
         u"MSysObjects",
         {{u"Id", T::Long, 4, FixedColumn},
          {u"ParentId", T::Long, 4, FixedColumn},
          {u"Name", T::Text, TextLength, VariableColumn},
          {u"Type", T::Integer, 2, FixedColumn},
          {u"DateCreate", T::DateTime, 8, FixedColumn},
          {u"DateUpdate", T::DateTime, 8, FixedColumn},
          {u"Owner", T::Binary, BinaryLength, SidColumn},
          {u"Flags", T::Long, 4, FixedColumn},
          {u"Database", T::Memo, 0, VariableColumn},
          {u"Connect", T::Memo, 0, VariableColumn},
          {u"ForeignName", T::Text, TextLength, VariableColumn},
          {u"RmtInfoShort", T::Binary, BinaryLength, VariableColumn},
          {u"RmtInfoLong", T::Ole, 0, VariableColumn},
          {u"Lv", T::Ole, 0, VariableColumn},
          {u"LvProp", T::Ole, 0, VariableColumn},
          {u"LvModule", T::Ole, 0, VariableColumn},
          {u"LvExtra", T::Ole, 0, VariableColumn}},
         {{u"ParentIdName", {1, 2}, UniqueIndex, false}, {u"Id", {0}, UniqueIndex, true}}},
        {AcesPage,
         u"MSysACEs",
         {{u"ObjectId", T::Long, 4, FixedColumn},
          {u"SID", T::Binary, BinaryLength, SidColumn},
          {u"ACM", T::Long, 4, FixedColumn},
          {u"FInheritable", T::Boolean, 1, FixedColumn}},
         {{u"ObjectId", {0}, RequiredIndex, false}}},
        {QueriesPage,
         u"MSysQueries",
         {{u"ObjectId", T::Long, 4, FixedColumn},
          {u"Attribute", T::Byte, 1, FixedColumn},
          {u"Order", T::Binary, BinaryLength, VariableColumn},
          {u"Name1", T::Text, TextLength, VariableColumn},
          {u"Name2", T::Text, TextLength, VariableColumn},
          {u"Expression", T::Memo, 0, VariableColumn},
          {u"Flag", T::Integer, 2, FixedColumn},
          {u"LvExtra", T::Long, 4, FixedColumn}},
         {{u"ObjectIdAttribute", {0, 1, 2}, UniqueIndex, true}}},
        {RelationshipsPage,
         u"MSysRelationships",
         {{u"szRelationship", T::Text, TextLength, VariableColumn},
          {u"grbit", T::Long, 4, FixedColumn},
          {u"ccolumn", T::Long, 4, FixedColumn},
          {u"icolumn", T::Long, 4, FixedColumn},
          {u"szObject", T::Text, TextLength, VariableColumn},
          {u"szColumn", T::Text, TextLength, VariableColumn},
          {u"szReferencedObject", T::Text, TextLength, VariableColumn},
          {u"szReferencedColumn", T::Text, TextLength, VariableColumn}},
         {{u"szRelationship", {0}, IgnoreNullsIndex, false},
          {u"szObject", {4}, IgnoreNullsIndex, false},
          {u"szReferencedObject", {6}, IgnoreNullsIndex, false}}},
    };
    return tables;
}

// Security identifiers as MSysObjects (Owner) and MSysACEs (SID) store them. Jet keeps them
// obfuscated with a key tied to the database: the same identifier reads as different bytes in
// every file, and the bytes below name Access's accounts only in a file whose header carries
// SidKeyDate as its creation date, as the files Access made under it do. Their roles follow from
// the permissions Access gives them: the engine owns its own objects; Admin, the default user,
// owns the database and Access's objects; Users and Admins are the default workgroup's groups;
// Creator holds the rights that objects made in a container inherit.
constexpr double SidKeyDate = std::bit_cast<double>(std::uint64_t{0x40E29FF17D1F72BC});
const std::string EngineSid("\xA7\x31", 2);
const std::string AdminSid("\xA6\x33", 2);
const std::string UsersSid("\xA7\x33", 2);
const std::string CreatorSid("\xA7\x36", 2);
const std::string AdminsSid(
    "\xA4\xF7\x46\x67\xE1\x71\x67\xEE\xD7\xB1\x0F\x8F\xFE\xEF\x76\xFF\xAA\xE3\x66\x51\x05\xBD"
    "\xD2\x9D\x4D\x4B\x39\x52\xD9\xFB\x9A\x07\x66\x0C\x5B\xD2\xD8\x7D\xDD\xB3\x1E\x65\x90\x19"
    "\x00\x94\x89\xC2\x3C\x25\x6A\xCF\xDB\x34\x9A\x57\xAF\x50\xC5\x14\x9A\x98\x30\xE6\x2C\x35"
    "\x55\x3F\x0E\x95\xCF\xB6\xEC\xB5\x70\xB2\xF0\xA9\x9B\x1C\xDB\xCE\x60\x74\x7B\x7B\x13\xCF"
    "\x1D\xAF\xC3\xD6\x18\x5F\x9C\x5B\xE4\xE8\x7E\x37\xED\xB3",
    102);

// Catalog ids that are not table pages.
constexpr std::int32_t RootId = 0x0F000000;
constexpr std::int32_t TablesId = 0x0F000001;
constexpr std::int32_t DatabasesId = 0x0F000002;
constexpr std::int32_t RelationshipsId = 0x0F000003;
constexpr std::int32_t DatabaseObjectId = 0x10000000;
// Access numbers its own objects from 0x80000000 up (0x80000006 is its AccessLayout document,
// made later).
constexpr std::int32_t accessId(std::int32_t n) {
    return static_cast<std::int32_t>(0x80000000u + static_cast<std::uint32_t>(n));
}

constexpr std::int16_t TableObject = 1;
constexpr std::int16_t DatabaseObject = 2;
constexpr std::int16_t ContainerObject = 3;
constexpr std::int16_t DocumentObject = -32757; // 0x800B
constexpr std::uint32_t SystemObject = 0x80000000;

struct PropertyShape {
    std::string_view name;
    ColumnType type;
    Value value;
};

struct ObjectShape {
    std::int32_t id;
    std::int32_t parentId;
    std::u16string_view name;
    std::int16_t type;
    std::uint32_t flags;
    const std::string* owner;
    std::vector<PropertyShape> properties; // the object's own (table-level) properties
};

// The rows of MSysObjects, in the order Access writes them.
std::vector<ObjectShape> catalogObjects() {
    return {
        {TablesId, RootId, u"Tables", ContainerObject, SystemObject, &EngineSid, {}},
        {DatabasesId, RootId, u"Databases", ContainerObject, SystemObject, &EngineSid, {}},
        {RelationshipsId, RootId, u"Relationships", ContainerObject, SystemObject, &EngineSid, {}},
        {DatabaseObjectId,
         DatabasesId,
         u"MSysDb",
         DatabaseObject,
         SystemObject,
         &AdminSid,
         // The format of Access's objects in this database (Access 2000), and Access's build.
         {{"AccessVersion", ColumnType::Text, textValue(u"08.50")},
          {"Build", ColumnType::Long, integerValue(6620)}}},
        {ObjectsPage, TablesId, u"MSysObjects", TableObject, SystemObject, &EngineSid, {}},
        {AcesPage, TablesId, u"MSysACEs", TableObject, SystemObject, &EngineSid, {}},
        {QueriesPage, TablesId, u"MSysQueries", TableObject, SystemObject, &EngineSid, {}},
        {RelationshipsPage,
         TablesId,
         u"MSysRelationships",
         TableObject,
         SystemObject,
         &EngineSid,
         {}},
        {accessId(0), RootId, u"DataAccessPages", ContainerObject, 0, &AdminSid, {}},
        {accessId(1), RootId, u"Forms", ContainerObject, 0, &AdminSid, {}},
        {accessId(2), RootId, u"Modules", ContainerObject, 0, &AdminSid, {}},
        {accessId(3), RootId, u"Reports", ContainerObject, 0, &AdminSid, {}},
        {accessId(4), RootId, u"Scripts", ContainerObject, 0, &AdminSid, {}},
        {accessId(5), RootId, u"SysRel", ContainerObject, 0, &AdminSid, {}},
        // Access fills the summary (title, author, company) from its user's settings; a file
        // made here has none to give.
        {accessId(7), DatabasesId, u"SummaryInfo", DocumentObject, 0, &AdminSid, {}},
        {accessId(8),
         DatabasesId,
         u"UserDefined",
         DocumentObject,
         0,
         &AdminSid,
         {{"ReplicateProject", ColumnType::Boolean, booleanValue(true)}}},
    };
}

struct AceShape {
    std::int32_t objectId;
    const std::string* sid;
    std::int32_t rights; // ACM: bits of the permissions granted
    bool inheritable;
};

// The rows of MSysACEs, in the order Access writes them.
std::vector<AceShape> permissions() {
    constexpr std::int32_t All = 0xFFFFF;
    std::vector<AceShape> aces;
    // Access's containers: every right to Users, Admins, Admin and Creator, passed on to the
    // objects made in them. Relationships, Databases and Tables come among them where Access
    // writes them.
    const auto accessContainer = [&](std::int32_t id) {
        aces.insert(aces.end(), {{id, &UsersSid, All, true},
                                 {id, &AdminsSid, All, true},
                                 {id, &AdminSid, All, true},
                                 {id, &CreatorSid, All, true}});
    };
    accessContainer(accessId(0));
    aces.push_back({DatabasesId, &AdminSid, 0x60000, false});
    accessContainer(accessId(1));
    accessContainer(accessId(2));
    aces.insert(aces.end(), {{RelationshipsId, &CreatorSid, 0xF00FE, true},
                             {RelationshipsId, &AdminSid, 0x60001, false},
                             {RelationshipsId, &AdminsSid, All, true},
                             {RelationshipsId, &UsersSid, All, true}});
    accessContainer(accessId(3));
    accessContainer(accessId(4));
    accessContainer(accessId(5));
    aces.insert(aces.end(), {{TablesId, &CreatorSid, 0xF00FE, true},
                             {TablesId, &AdminSid, 0xFFEFF, true},
                             {TablesId, &AdminsSid, 0xFFEFF, true},
                             {TablesId, &UsersSid, 0xFFEFF, true},
                             {DatabaseObjectId, &AdminSid, 0x6000E, false},
                             {DatabaseObjectId, &UsersSid, 0x0000E, false},
                             {DatabaseObjectId, &AdminsSid, 0x6000E, false},
                             {accessId(7), &UsersSid, 0x10000, false},
                             {accessId(8), &UsersSid, 0x10000, false},
                             {AcesPage, &AdminSid, 0x60000, false},
                             {AcesPage, &AdminsSid, 0x60054, false},
                             {ObjectsPage, &AdminSid, 0x60000, false},
                             {ObjectsPage, &AdminsSid, 0x60054, false},
                             {ObjectsPage, &UsersSid, 0x00014, false},
                             {QueriesPage, &AdminSid, 0x60000, false},
                             {QueriesPage, &AdminsSid, 0x60014, false},
                             {QueriesPage, &UsersSid, 0x00014, false},
                             {RelationshipsPage, &AdminSid, 0xE0000, false},
                             {RelationshipsPage, &AdminsSid, 0x60014, false},
                             {RelationshipsPage, &UsersSid, 0x00014, false}});
    return aces;
}

std::string utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text)
        out += static_cast<char>(c); // the system tables' names are ASCII
    return out;
}

bool nameLess(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

std::uint32_t mapPointer(std::uint32_t row) {
    return UsageMapPage << 8 | row;
}

// One table being laid out: its definition and where each of its usage maps lists pages.
struct TableLayout {
    TableDefinition definition;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> maps; // row, pages
};

// The definition of `shape`: columns stored in name order as Access stores them, each numbered
// by its place in the shape; a column's slot counts the variable columns numbered before it (for
// variable columns that is their slot in the row); fixed columns follow each other in the row.
// Usage-map rows are handed out from `nextMapRow`: the table's own two, two per memo/OLE column
// (by column number), one per physical index.
TableLayout defineTable(const TableShape& shape, std::uint32_t& nextMapRow,
                        std::uint32_t& nextIndexPage) {
    TableLayout layout;
    TableDefinition& def = layout.definition;
    def.page = shape.page;
    def.pages = {shape.page};
    def.tableType = SystemTableType;
    def.maxColumns = static_cast<std::uint16_t>(shape.columns.size());

    std::uint16_t variables = 0;
    std::uint16_t fixedOffset = 0;
    for (std::size_t n = 0; n < shape.columns.size(); ++n) {
        const ColumnShape& c = shape.columns[n];
        ColumnDefinition column;
        column.wideName = c.name;
        column.name = utf8(c.name);
        column.type = c.type;
        column.number = static_cast<std::uint16_t>(n);
        column.variableSlot = variables;
        column.length = c.length;
        column.flags = c.flags;
        column.sortOrder = GeneralSortOrder;
        if (column.isFixed()) {
            // Booleans live in the null mask and take no room in the row.
            if (c.type != ColumnType::Boolean) {
                column.fixedOffset = fixedOffset;
                fixedOffset = static_cast<std::uint16_t>(fixedOffset + c.length);
            }
        } else {
            ++variables;
        }
        def.columns.push_back(std::move(column));
    }
    def.variableSlots = variables;

    def.ownedPages = mapPointer(nextMapRow++);
    def.freePages = mapPointer(nextMapRow++);
    layout.maps.push_back({def.ownedPages, {}});
    layout.maps.push_back({def.freePages, {}});
    for (const ColumnDefinition& column : def.columns) { // still in number order
        if (column.type != ColumnType::Memo && column.type != ColumnType::Ole)
            continue;
        LongValueMaps maps{column.number, mapPointer(nextMapRow), mapPointer(nextMapRow + 1)};
        nextMapRow += 2;
        layout.maps.push_back({maps.ownedPages, {}});
        layout.maps.push_back({maps.freePages, {}});
        def.longValueMaps.push_back(maps);
    }
    for (std::size_t i = 0; i < shape.indexes.size(); ++i) {
        const IndexShape& is = shape.indexes[i];
        PhysicalIndex index;
        index.number = static_cast<std::uint32_t>(i);
        for (const std::uint16_t column : is.columns)
            index.columns.push_back({column, true});
        index.usageMap = mapPointer(nextMapRow++);
        index.rootPage = nextIndexPage++;
        index.flags = is.flags;
        layout.maps.push_back({index.usageMap, {index.rootPage}});
        def.physicalIndexes.push_back(index);

        LogicalIndex logical;
        logical.wideName = is.name;
        logical.name = utf8(is.name);
        logical.number = static_cast<std::uint32_t>(i);
        logical.physicalIndex = static_cast<std::uint32_t>(i);
        logical.type = is.primaryKey ? LogicalIndex::PrimaryKeyType : 0;
        logical.cascadeUpdates = LogicalIndexDefault;
        logical.cascadeDeletes = LogicalIndexDefault;
        def.logicalIndexes.push_back(logical);
    }

    // Access stores columns, their long-value maps and logical indexes in name order.
    const auto byName = [](const auto& a, const auto& b) {
        return nameLess(a.wideName, b.wideName);
    };
    std::sort(def.columns.begin(), def.columns.end(), byName);
    std::sort(def.logicalIndexes.begin(), def.logicalIndexes.end(), byName);
    std::vector<LongValueMaps> ordered;
    for (const ColumnDefinition& column : def.columns)
        for (const LongValueMaps& maps : def.longValueMaps)
            if (maps.columnNumber == column.number)
                ordered.push_back(maps);
    def.longValueMaps = std::move(ordered);
    def.columnCount = static_cast<std::uint16_t>(def.columns.size());
    def.logicalIndexCount = static_cast<std::uint32_t>(def.logicalIndexes.size());
    def.physicalIndexCount = static_cast<std::uint32_t>(def.physicalIndexes.size());
    return layout;
}

void addToMap(TableLayout& table, std::uint32_t pointer, std::uint32_t page) {
    for (auto& [row, pages] : table.maps)
        if (row == pointer)
            pages.push_back(page);
}

// The row for `cells` (column name, value); other columns Null.
std::vector<Value> rowValues(const TableDefinition& def,
                             const std::vector<std::pair<std::u16string_view, Value>>& cells) {
    std::vector<Value> values(def.columns.size());
    for (const auto& cell : cells) {
        const std::u16string_view name = cell.first;
        const Value& value = cell.second;
        const auto column =
            std::find_if(def.columns.begin(), def.columns.end(),
                         [&](const ColumnDefinition& c) { return c.wideName == name; });
        if (column == def.columns.end())
            throw std::logic_error("no column " + utf8(name));
        values[static_cast<std::size_t>(column - def.columns.begin())] = value;
    }
    return values;
}

std::size_t columnIndex(const TableDefinition& def, std::u16string_view name) {
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].wideName == name)
            return i;
    throw std::logic_error("no column " + utf8(name));
}

std::string propertyBlob(const std::vector<PropertyShape>& properties) {
    PropertyMaps maps;
    for (const PropertyShape& p : properties) {
        Property property;
        property.name = std::string(p.name);
        property.type = static_cast<std::uint8_t>(p.type);
        switch (p.type) {
        case ColumnType::Text:
            property.value = encodeStoredText(p.value.text, false);
            break;
        case ColumnType::Long: {
            std::string bytes(4, '\0');
            putU32(writable(bytes), 0, static_cast<std::uint32_t>(p.value.integer));
            property.value = bytes;
            break;
        }
        case ColumnType::Boolean:
            property.value = std::string(1, static_cast<char>(p.value.integer));
            break;
        default:
            throw std::logic_error("property type not written here");
        }
        maps.table.push_back(std::move(property));
    }
    return encodeProperties(maps);
}

// Every page of the new file but the index pages' entries: those are built from the rows once
// the rows are in a file (see fillIndexes).
struct Build {
    std::vector<PageImage> pages = std::vector<PageImage>(PageCount);
    std::vector<TableLayout> tables;
};

Build buildPages(std::uint16_t codePage, double created) {
    Build build;
    std::uint32_t nextMapRow = 0;
    std::uint32_t nextIndexPage = FirstIndexPage;
    for (const TableShape& shape : systemTables())
        build.tables.push_back(defineTable(shape, nextMapRow, nextIndexPage));
    if (nextIndexPage != ObjectRowsPage)
        throw std::logic_error("the system tables' indexes do not fit their pages");
    TableLayout& objects = build.tables[0];
    TableLayout& aces = build.tables[1];

    // MSysObjects, its property blobs on the long-value page.
    const TableDefinition& od = objects.definition;
    const std::size_t lvProp = columnIndex(od, u"LvProp");
    DataPageBuilder objectRows(ObjectsPage);
    DataPageBuilder longValues(LongValueOwner);
    for (const ObjectShape& object : catalogObjects()) {
        std::vector<Value> values =
            rowValues(od, {{u"Id", integerValue(object.id)},
                           {u"ParentId", integerValue(object.parentId)},
                           {u"Name", textValue(object.name)},
                           {u"Type", integerValue(object.type)},
                           {u"DateCreate", dateValue(created)},
                           {u"DateUpdate", dateValue(created)},
                           {u"Owner", binaryValue(*object.owner)},
                           {u"Flags", integerValue(static_cast<std::int32_t>(object.flags))}});
        std::vector<std::optional<LongValueReference>> references(od.columns.size());
        if (!object.properties.empty()) {
            const std::string blob = propertyBlob(object.properties);
            values[lvProp] = binaryValue(blob);
            if (!longValueInRow(blob.size())) {
                const std::uint8_t slot = longValues.addRow(blob);
                references[lvProp] = LongValueReference{LongValueReference::Kind::SingleRow,
                                                        rowPointer({LongValuePage, slot})};
            }
        }
        objectRows.addRow(encodeRow(od, values, references));
    }
    objects.definition.rowCount = static_cast<std::uint32_t>(objectRows.rows().size());
    addToMap(objects, od.ownedPages, ObjectRowsPage);
    addToMap(objects, od.freePages, ObjectRowsPage);
    for (const LongValueMaps& maps : od.longValueMaps)
        if (maps.columnNumber == od.columns[lvProp].number) {
            addToMap(objects, maps.ownedPages, LongValuePage);
            addToMap(objects, maps.freePages, LongValuePage);
        }

    const TableDefinition& ad = aces.definition;
    DataPageBuilder aceRows(AcesPage);
    for (const AceShape& ace : permissions())
        aceRows.addRow(
            encodeRow(ad, rowValues(ad, {{u"ObjectId", integerValue(ace.objectId)},
                                         {u"SID", binaryValue(*ace.sid)},
                                         {u"ACM", integerValue(ace.rights)},
                                         {u"FInheritable", booleanValue(ace.inheritable)}})));
    aces.definition.rowCount = static_cast<std::uint32_t>(aceRows.rows().size());
    addToMap(aces, ad.ownedPages, AceRowsPage);
    addToMap(aces, ad.freePages, AceRowsPage);

    build.pages[ObjectRowsPage] = objectRows.image();
    build.pages[AceRowsPage] = aceRows.image();
    build.pages[LongValuePage] = longValues.image();

    // The usage maps, one row each in the order handed out, all inline.
    std::map<std::uint32_t, std::vector<std::uint32_t>> mapRows;
    for (const TableLayout& table : build.tables)
        for (const auto& [row, pages] : table.maps)
            mapRows[row] = pages;
    DataPageBuilder maps(0);
    for (const auto& [row, pages] : mapRows) {
        if (maps.addRow(encodeInlineUsageMap(inlineUsageMapStart(pages), pages)) != (row & 0xFF))
            throw std::logic_error("usage-map rows out of order");
    }
    build.pages[UsageMapPage] = maps.image();

    // Every page past the file's end is free.
    const std::size_t globalBitmap = globalUsageMapBitmapSize(PageCount);
    std::vector<std::uint32_t> freePages;
    for (std::uint32_t page = PageCount; page < globalBitmap * 8; ++page)
        freePages.push_back(page);
    DataPageBuilder global(GlobalMapPage);
    global.addRow(encodeInlineUsageMap(0, freePages, globalBitmap));
    for (std::size_t row = 1; row < GlobalMapRows; ++row)
        global.addRow(encodeInlineUsageMap(0, {}, globalBitmap));
    build.pages[GlobalMapPage] = global.image();

    NewHeader header;
    header.codePage = codePage;
    header.sortOrder = GeneralSortOrder;
    header.created = SidKeyDate;
    build.pages[HeaderPage] = encodeHeader(header);
    return build;
}

void encodeDefinitions(Build& build) {
    for (const TableLayout& table : build.tables)
        build.pages[table.definition.page] = encodeTableDefinition(table.definition, {}).at(0);
}

std::system_error systemError(int error, const std::string& what, const std::string& path) {
    return std::system_error(error, std::generic_category(), what + " " + path);
}

void writeAll(sys::NativeFile file, const std::vector<PageImage>& pages, const std::string& path) {
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (const int error =
                sys::writeAt(file, pages[i].data(), PageFile::PageSize, i * PageFile::PageSize))
            throw systemError(error, "cannot write", path);
}

// Index entries are built from the rows as they read back from the file, by the same code that
// rebuilds indexes of existing files; each index here fits its one leaf page.
void fillIndexes(Build& build, const std::string& path) {
    const PageFile file(path);
    for (TableLayout& table : build.tables) {
        TableDefinition& def = table.definition;
        for (PhysicalIndex& index : def.physicalIndexes) {
            const std::vector<IndexEntry> entries = indexEntriesFromRows(file, def, index);
            const IndexLayout layout = layoutIndex(entries);
            if (layout.pageCount() != 1)
                throw std::logic_error("a system table's index does not fit one page");
            const std::uint32_t root[] = {index.rootPage};
            const std::vector<IndexPage> placed = placeIndex(layout, def.page, root);
            build.pages[index.rootPage] = buildIndexPage(placed[0], placed[0].entries);
            std::uint32_t keys = 0;
            for (std::size_t i = 0; i < entries.size(); ++i)
                keys += i == 0 || entries[i].key != entries[i - 1].key;
            index.rowCount = keys;
        }
    }
    encodeDefinitions(build);
}

} // namespace

double currentOleDate() {
    const std::time_t now = std::time(nullptr);
    constexpr double UnixEpochDays = 25569; // 1970-01-01 counted from 1899-12-30
    return UnixEpochDays + static_cast<double>(now + sys::localOffsetSeconds(now)) / 86400.0;
}

void createEmptyDatabase(const std::string& path, std::uint16_t codePage, double createdOleDate) {
    if (sys::exists(path))
        throw std::system_error(EEXIST, std::generic_category(), "cannot create " + path);

    Build build = buildPages(codePage, createdOleDate);
    encodeDefinitions(build);

    const std::string folder = sys::folderOf(path);
    const bool separated = folder.ends_with('/') || folder.ends_with('\\');
    // A name of our own beside the target, made with the rights a new file gets and never one
    // that is there already.
    std::random_device random;
    std::string temporary;
    sys::NativeFile file = sys::NoFile;
    for (int attempt = 0; file == sys::NoFile; ++attempt) {
        temporary = folder + (separated ? "" : "/") + "." + sys::nameOf(path) + ".patch16-create-" +
                    std::to_string(random());
        const int error = sys::createNew(temporary, false, file);
        if (error != 0 && (error != EEXIST || attempt == 100))
            throw systemError(error, "cannot create a file beside", path);
    }
    try {
        writeAll(file, build.pages, temporary);
        fillIndexes(build, temporary);
        writeAll(file, build.pages, temporary);
        if (const int error = sys::sync(file))
            throw systemError(error, "cannot flush", temporary);
    } catch (...) {
        sys::close(file);
        sys::remove(temporary);
        throw;
    }
    sys::close(file);
    if (const int error = sys::placeWithoutReplacing(temporary, path)) {
        sys::remove(temporary);
        throw systemError(error, "cannot create", path);
    }
    // The file is whole either way; this only makes its name durable now.
    sys::syncFolder(folder);
}

} // namespace engine::jet4
