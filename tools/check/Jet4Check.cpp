#include "tools/check/Jet4Check.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexKey.h"
#include "engine/jet4/index/IndexPage.h"
#include "engine/jet4/index/IndexTreeCheck.h"
#include "tools/check/JsonLines.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace check {

namespace j = engine::jet4;

namespace {

std::uint64_t rowKey(j::RowLocation r) {
    return static_cast<std::uint64_t>(r.page) << 8 | r.row;
}

std::string where(j::RowLocation r) {
    return "page " + std::to_string(r.page) + " row " + std::to_string(r.row);
}

// The fault kind for a reader error met while reading `structure`: a long value is named as
// such wherever it was met (rows, the catalog's property blobs).
std::string faultKind(const std::string& structure, const j::FormatError& e) {
    return std::string(e.what()).find("long value") != std::string::npos ? "long-value" : structure;
}

std::unique_ptr<j::PageFile> openFile(const std::string& path) {
    try {
        return std::make_unique<j::PageFile>(path);
    } catch (const std::system_error& e) {
        throw Unreadable{e.code().message()};
    }
}

// The live columns in column-number order, as the object model and the dump list them.
std::vector<std::size_t> columnOrder(const j::TableDefinition& t) {
    std::vector<std::size_t> order(t.columns.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return t.columns[a].number < t.columns[b].number;
    });
    return order;
}

std::string jsonValue(const j::Value& v) {
    using K = j::Value::Kind;
    switch (v.kind) {
    case K::Null:
        return "null";
    case K::Boolean:
        return v.integer ? "true" : "false";
    case K::Integer:
        return std::to_string(v.integer);
    case K::Currency:
        return jsonString(currencyText(v.integer));
    case K::Single:
        return jsonNumber(v.real, true);
    case K::Double:
        return jsonNumber(v.real);
    case K::DateTime: {
        const std::string text = dateTimeText(v.real);
        return text.empty() ? jsonString("invalid") : jsonString(text);
    }
    case K::Text:
        return jsonString(j::utf8FromUtf16(v.text));
    case K::Binary:
        return jsonString(base64(v.bytes));
    case K::Guid:
        return jsonString(j::guidText(v.bytes));
    case K::Numeric:
        return jsonString(j::numericText(v));
    }
    return "null";
}

// Everything the check learns about who uses each page, so that no page is claimed by two
// owners nor used while the free-page map calls it free.
class PageClaims {
public:
    explicit PageClaims(std::uint32_t pages) : owners_(pages) {}

    // Records that `owner` uses `page`; a second, different owner is a fault.
    void claim(std::uint32_t page, const std::string& owner, Report& report) {
        if (page >= owners_.size()) {
            report.fault("page-past-end", owner + " uses page " + std::to_string(page) +
                                              ", past the end of the file (" +
                                              std::to_string(owners_.size()) + " pages)");
            return;
        }
        std::string& current = owners_[page];
        if (current.empty())
            current = owner;
        else if (current != owner)
            report.fault("page-claimed-twice", "page " + std::to_string(page) + " is used by " +
                                                   current + " and by " + owner);
    }
    const std::string& owner(std::uint32_t page) const { return owners_[page]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(owners_.size()); }

private:
    std::vector<std::string> owners_;
};

struct IndexCheck {
    const j::PhysicalIndex* index = nullptr;
    std::string name; // the logical names sharing it
    bool textKeysKnown = true;
    std::map<std::uint64_t, std::string> expected; // row -> key; rows whose key is known
    std::set<std::uint64_t> unknownKeys;           // rows whose key cannot be encoded
    std::set<std::uint64_t> noEntry;               // rows an ignore-nulls index leaves out
    std::set<std::uint64_t> allNull;               // rows whose key columns are all Null
    bool noNulls = false; // a primary key or a required index: no key column may be Null
};

class Jet4Checker {
public:
    Jet4Checker(const std::string& path, Report& report)
        : file_(openFile(path)), report_(report), claims_(file_->pageCount()) {}

    void run() {
        try {
            header_ = j::readHeader(*file_);
        } catch (const j::FormatError& e) {
            throw Unreadable{std::string("not a readable Access 2000-2003 file: ") + e.what()};
        }
        if (header_.databaseKey != 0)
            throw Unreadable{"the database is encoded, which the checker does not read"};
        report_.note("Access 2000-2003 (Jet 4) file: " + std::to_string(file_->pageCount()) +
                     " pages, code page " + std::to_string(header_.codePage) + ", sort order " +
                     std::to_string(header_.sortOrder));
        if (file_->fileSize() % j::PageFile::PageSize != 0)
            report_.fault("file-truncated", "the file's size, " +
                                                std::to_string(file_->fileSize()) +
                                                " bytes, is not a whole number of pages");
        claims_.claim(0, "the header", report_);
        readFreeMap();
        std::vector<j::CatalogEntry> catalog;
        try {
            catalog = j::readCatalog(*file_);
        } catch (const j::FormatError& e) {
            report_.fault(faultKind("catalog", e), e.what());
            return;
        }
        for (const auto& entry : catalog)
            if (entry.type == j::CatalogEntry::TableType)
                checkTable(entry);
        checkPages();
        report_.note("checked " + std::to_string(tables_) + " tables, " + std::to_string(rows_) +
                     " rows, " + std::to_string(indexes_) + " indexes, " +
                     std::to_string(entries_) + " index entries (" + std::to_string(keysCompared_) +
                     " keys compared)");
        for (const auto& note : notChecked_)
            report_.note("not checked: " + note);
    }

private:
    void readFreeMap() {
        try {
            const j::UsageMap map = j::readUsageMap(*file_, j::GlobalUsageMapPointer);
            free_.insert(map.pages.begin(), map.pages.end());
            claims_.claim(map.location.page, "usage maps", report_);
            for (std::uint32_t page : map.mapPages)
                if (page)
                    claims_.claim(page, "usage maps", report_);
        } catch (const j::FormatError& e) {
            report_.fault("usage-map", std::string("the free-page map: ") + e.what());
        }
    }

    // Reads a usage map, claims the pages that hold it, and returns the pages it lists.
    std::optional<j::UsageMap> usageMap(std::uint32_t pointer, const std::string& of) {
        try {
            j::UsageMap map = j::readUsageMap(*file_, pointer);
            claims_.claim(map.location.page, "usage maps", report_);
            for (std::uint32_t page : map.mapPages)
                if (page)
                    claims_.claim(page, "usage maps", report_);
            return map;
        } catch (const j::FormatError& e) {
            report_.fault("usage-map", "the usage map of " + of + ": " + e.what());
            return std::nullopt;
        }
    }

    void checkTable(const j::CatalogEntry& entry) {
        const std::uint32_t page = static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF;
        const std::string table = "table " + entry.name;
        j::TableDefinition t;
        try {
            t = j::readTableDefinition(*file_, page);
        } catch (const j::FormatError& e) {
            report_.fault("table-definition", table + ": " + e.what());
            return;
        }
        ++tables_;
        for (std::uint32_t p : t.pages)
            claims_.claim(p, table, report_);
        if (j::isUserTable(entry))
            userTablePages_[t.page] = entry.name;

        // The table's own pages: each a data page owned by the table.
        if (auto owned = usageMap(t.ownedPages, table)) {
            for (std::uint32_t p : owned->pages) {
                claims_.claim(p, table, report_);
                checkDataPage(p, t.page, table);
            }
            if (auto withSpace = usageMap(t.freePages, table + " (pages with free space)"))
                for (std::uint32_t p : withSpace->pages)
                    if (!std::binary_search(owned->pages.begin(), owned->pages.end(), p))
                        report_.fault("usage-map", table + ": page " + std::to_string(p) +
                                                       " has free space for the table but is "
                                                       "not one of its pages");
        }
        for (const auto& lv : t.longValueMaps)
            if (auto owned = usageMap(lv.ownedPages, table + " (long values)"))
                for (std::uint32_t p : owned->pages)
                    claims_.claim(p, table + " (long values)", report_);

        std::vector<IndexCheck> indexes = indexChecks(t, entry.name);
        const std::uint64_t live = scanRows(t, table, indexes);
        // Access brings the stored count up to date lazily (its own files often differ), so a
        // difference is worth telling but is no fault of the file.
        if (live != t.rowCount)
            report_.note("row count of " + table + ": " + std::to_string(live) + " rows found, " +
                         std::to_string(t.rowCount) + " stored");
        for (auto& index : indexes)
            checkIndex(t, table, index);
    }

    void checkDataPage(std::uint32_t p, std::uint32_t owner, const std::string& table) {
        try {
            const j::DataPage page = j::readDataPage(*file_, p);
            if (page.owner() != owner)
                report_.fault("page-owner", table + ": its page " + std::to_string(p) +
                                                " names page " + std::to_string(page.owner()) +
                                                " as its owner");
        } catch (const j::FormatError& e) {
            report_.fault("data-page", table + ": " + e.what());
        }
    }

    std::vector<IndexCheck> indexChecks(const j::TableDefinition& t, const std::string& table) {
        std::vector<IndexCheck> out;
        for (const auto& physical : t.physicalIndexes) {
            IndexCheck c;
            c.index = &physical;
            c.noNulls = physical.flags & j::PhysicalIndex::RequiredFlag;
            for (const auto& logical : t.logicalIndexes)
                if (logical.physicalIndex == physical.number) {
                    c.name += (c.name.empty() ? "" : "/") + logical.name;
                    c.noNulls = c.noNulls || logical.type == j::LogicalIndex::PrimaryKeyType;
                }
            if (c.name.empty())
                c.name = "#" + std::to_string(physical.number);
            for (const auto& key : physical.columns) {
                const j::ColumnDefinition* column = nullptr;
                for (const auto& col : t.columns)
                    if (col.number == key.columnNumber)
                        column = &col;
                if (!column) {
                    report_.fault("table-definition",
                                  "table " + table + ", index " + c.name + ": key column " +
                                      std::to_string(key.columnNumber) + " is not a column");
                    c.index = nullptr;
                    break;
                }
                if ((column->type == j::ColumnType::Text || column->type == j::ColumnType::Memo) &&
                    !j::textKeysSupported(column->sortOrder, column->sortVersion)) {
                    c.textKeysKnown = false;
                    notChecked_.insert("text keys of index " + c.name + " of table " + table +
                                       " (sort order " + std::to_string(column->sortOrder) + ")");
                }
            }
            if (c.index)
                out.push_back(std::move(c));
        }
        return out;
    }

    // Scans every row: each must decode; each index learns the key it must hold for the row.
    std::uint64_t scanRows(const j::TableDefinition& t, const std::string& table,
                           std::vector<IndexCheck>& indexes) {
        std::uint64_t live = 0;
        try {
            j::scanRows(*file_, t, [&](j::RowLocation at, const std::vector<j::Value>& row) {
                ++live;
                for (auto& index : indexes)
                    expectKey(t, table, index, at, row);
                return true;
            });
        } catch (const j::FormatError& e) {
            report_.fault(faultKind("row", e), table + ": " + e.what());
        }
        rows_ += live;
        return live;
    }

    void expectKey(const j::TableDefinition& t, const std::string& table, IndexCheck& index,
                   j::RowLocation at, const std::vector<j::Value>& row) {
        std::vector<j::KeyPart> parts;
        bool allNull = true, anyNull = false;
        for (const auto& key : index.index->columns)
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].number == key.columnNumber) {
                    parts.push_back({&row[i], t.columns[i].type, key.ascending});
                    allNull = allNull && row[i].isNull();
                    anyNull = anyNull || row[i].isNull();
                }
        const std::uint64_t k = rowKey(at);
        if (anyNull && index.noNulls)
            report_.fault("index-null-key", table + ", index " + index.name + ": the row at " +
                                                where(at) +
                                                " has a Null key column in a primary key or a "
                                                "required index");
        if (allNull)
            index.allNull.insert(k);
        if (allNull && (index.index->flags & j::PhysicalIndex::IgnoreNullsFlag)) {
            index.noEntry.insert(k);
            return;
        }
        std::optional<std::string> key =
            index.textKeysKnown ? j::encodeIndexKey(parts) : std::nullopt;
        if (key)
            index.expected.emplace(k, std::move(*key));
        else
            index.unknownKeys.insert(k);
    }

    void checkIndex(const j::TableDefinition& t, const std::string& table, IndexCheck& index) {
        ++indexes_;
        const std::string name = table + ", index " + index.name;
        std::set<std::uint32_t> mapPages;
        if (auto map = usageMap(index.index->usageMap, name))
            mapPages.insert(map->pages.begin(), map->pages.end());

        // The tree's shape and order (IndexTreeCheck.h), then each leaf entry against the rows.
        std::set<std::uint64_t> seen;
        const bool unique = index.index->flags & j::PhysicalIndex::UniqueFlag;
        std::string previousKey;
        bool previousCounts = false;
        j::IndexTreeVisitor visitor;
        visitor.finding = [&](const j::IndexTreeFinding& f) {
            if (f.fault)
                report_.fault(f.kind, name + ": " + f.detail);
            else
                report_.note(f.kind + " " + name + ": " + f.detail);
        };
        visitor.leafEntry = [&](std::uint32_t leaf, std::span<const std::uint8_t> bytes) {
            ++entries_;
            const std::size_t keySize = bytes.size() - j::indexpage::RowPointerSize;
            const j::RowLocation row{static_cast<std::uint32_t>(bytes[keySize] << 16 |
                                                                bytes[keySize + 1] << 8 |
                                                                bytes[keySize + 2]),
                                     bytes[keySize + 3]};
            const std::string_view key(reinterpret_cast<const char*>(bytes.data()), keySize);
            checkLeafEntry(index, name, leaf, row, key, seen);
            // Entries come in key order, so a key held twice is held by neighbours. Rows whose
            // key columns are all Null never count as duplicates.
            const bool counts = !index.allNull.count(rowKey(row));
            if (unique && counts && previousCounts && key == previousKey)
                report_.fault("index-duplicate-key", name + ": the unique index holds the key of " +
                                                         where(row) + " twice");
            previousKey.assign(key);
            previousCounts = counts;
        };
        for (std::uint32_t p : j::walkIndexTree(*file_, t.page, index.index->rootPage, visitor)) {
            claims_.claim(p, name, report_);
            if (!mapPages.count(p))
                report_.fault("usage-map", name + ": index page " + std::to_string(p) +
                                               " is missing from the index's usage map");
        }
        for (const auto& [k, key] : index.expected)
            if (!seen.count(k))
                report_.fault("index-entry-missing",
                              name + ": no entry for the row at " + where(rowLocation(k)));
        for (std::uint64_t k : index.unknownKeys)
            if (!seen.count(k))
                report_.fault("index-entry-missing",
                              name + ": no entry for the row at " + where(rowLocation(k)));
        if (!index.unknownKeys.empty() && index.textKeysKnown)
            notChecked_.insert(std::to_string(index.unknownKeys.size()) + " keys of " + name +
                               " (values the key encoder does not cover: not compared)");
    }

    // One leaf entry: it points at a live row, once, and holds the key that row's values give.
    void checkLeafEntry(const IndexCheck& index, const std::string& name, std::uint32_t leaf,
                        j::RowLocation row, std::string_view key, std::set<std::uint64_t>& seen) {
        const std::uint64_t k = rowKey(row);
        if (!seen.insert(k).second) {
            report_.fault("index-entry-duplicate", name + ": two entries point at " + where(row));
            return;
        }
        if (auto it = index.expected.find(k); it != index.expected.end()) {
            ++keysCompared_;
            if (it->second != key)
                report_.fault("index-key-mismatch",
                              name + ": the entry on page " + std::to_string(leaf) + " for " +
                                  where(row) + " holds a key other than its row's values give");
        } else if (!index.unknownKeys.count(k)) {
            const bool ignored = index.noEntry.count(k) > 0;
            report_.fault(ignored ? "index-entry-unexpected" : "index-entry-dangling",
                          name + ": the entry on page " + std::to_string(leaf) + " points at " +
                              where(row) +
                              (ignored ? ", whose key is all Null in an index that ignores Nulls"
                                       : ", which holds no live row"));
        }
    }

    static j::RowLocation rowLocation(std::uint64_t k) {
        return {static_cast<std::uint32_t>(k >> 8), static_cast<std::uint8_t>(k & 0xFF)};
    }

    // Pages in use must not be marked free; data pages holding rows of a table must be in its
    // map, or readers never see those rows.
    void checkPages() {
        for (std::uint32_t p = 0; p < claims_.size(); ++p) {
            if (!claims_.owner(p).empty() && free_.count(p))
                report_.fault("page-free-but-used", "page " + std::to_string(p) + ", used by " +
                                                        claims_.owner(p) +
                                                        ", is marked free in the free-page map");
            if (!claims_.owner(p).empty() || free_.count(p))
                continue;
            try {
                const j::PageData bytes = file_->page(p);
                if ((*bytes)[0] != j::DataPageType)
                    continue;
                const j::DataPage page = j::readDataPage(*file_, p);
                // Access leaves such pages behind for its own system tables; only a user table's
                // rows would be lost to every reader.
                auto table = userTablePages_.find(page.owner());
                if (table == userTablePages_.end())
                    continue;
                const auto& slots = page.rowSlots();
                const bool rows = std::any_of(slots.begin(), slots.end(), [](const auto& s) {
                    return s.isTableRow() && !s.pointer;
                });
                if (rows)
                    report_.fault("usage-map", "page " + std::to_string(p) +
                                                   " holds rows of table " + table->second +
                                                   " but is missing from its usage map");
            } catch (const j::FormatError&) {
                // A page nothing uses may hold anything.
            }
        }
    }

    std::unique_ptr<j::PageFile> file_;
    Report& report_;
    PageClaims claims_;
    j::DatabaseHeader header_{};
    std::set<std::uint32_t> free_;
    std::map<std::uint32_t, std::string> userTablePages_;
    std::set<std::string> notChecked_;
    std::uint64_t tables_ = 0, rows_ = 0, indexes_ = 0, entries_ = 0, keysCompared_ = 0;
};

} // namespace

Report checkJet4(const std::string& path) {
    Report report;
    Jet4Checker(path, report).run();
    return report;
}

void dumpJet4(const std::string& path, const std::function<void(const std::string&)>& line) {
    auto file = openFile(path);
    try {
        j::readHeader(*file);
        for (const auto& entry : j::readCatalog(*file)) {
            if (!j::isUserTable(entry))
                continue;
            const j::TableDefinition t =
                j::readTableDefinition(*file, static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
            const auto order = columnOrder(t);
            j::scanRows(*file, t, [&](j::RowLocation, const std::vector<j::Value>& row) {
                std::vector<std::pair<std::string, std::string>> values;
                for (std::size_t i : order)
                    values.emplace_back(t.columns[i].name, jsonValue(row[i]));
                line(dumpLine(entry.name, values));
                return true;
            });
        }
    } catch (const j::FormatError& e) {
        throw Unreadable{std::string("the file is damaged: ") + e.what()};
    }
}

} // namespace check
