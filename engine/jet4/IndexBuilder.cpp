#include "engine/jet4/IndexBuilder.h"

#include "engine/jet4/DataPage.h"
#include "engine/jet4/IndexKey.h"
#include "engine/jet4/IndexPageBuilder.h"
#include "engine/jet4/PageAllocator.h"
#include "engine/jet4/TableDefinitionEncoder.h"
#include "engine/jet4/TableScan.h"
#include "engine/jet4/Text.h"
#include "engine/jet4/TextKey.h"
#include "engine/jet4/UsageMap.h"

#include <algorithm>
#include <cstdio>

namespace engine::jet4 {

namespace {

constexpr std::size_t EntryArea = PageFile::PageSize - indexpage::FirstEntryOffset;
constexpr std::uint8_t NodeUnknownByte = 1;

std::string where(RowLocation row) {
    return "page " + std::to_string(row.page) + " row " + std::to_string(row.row);
}

std::string pointerBytes(RowLocation row) {
    return {static_cast<char>(row.page >> 16), static_cast<char>(row.page >> 8),
            static_cast<char>(row.page), static_cast<char>(row.row)};
}

// Access orders entries by their bytes: the key, then the row pointer (page big-endian, row).
bool entryLess(const IndexEntry& a, const IndexEntry& b) {
    if (a.key != b.key)
        return a.key < b.key;
    return pointerBytes(a.row) < pointerBytes(b.row);
}

struct KeyColumn {
    const ColumnDefinition* column;
    std::size_t position; // in the definition's columns, as the scan reports values
    bool ascending;
};

std::vector<KeyColumn> keyColumns(const TableDefinition& definition, const PhysicalIndex& index) {
    std::vector<KeyColumn> out;
    for (const IndexColumn& key : index.columns) {
        const auto it = std::find_if(
            definition.columns.begin(), definition.columns.end(),
            [&](const ColumnDefinition& column) { return column.number == key.columnNumber; });
        if (it == definition.columns.end())
            throw IndexKeyError(IndexKeyError::Reason::Value, {}, {}, 0, {}, 0,
                                "index " + std::to_string(index.number) + " of table " +
                                    std::to_string(definition.page) + " names column " +
                                    std::to_string(key.columnNumber) + ", which the table lacks");
        out.push_back(
            {&*it, static_cast<std::size_t>(it - definition.columns.begin()), key.ascending});
    }
    return out;
}

// Why the key of one column of the row at `row` cannot be encoded.
[[noreturn]] void refuseKey(const KeyColumn& key, const Value& value, RowLocation row) {
    const ColumnDefinition& column = *key.column;
    const std::string at = "column " + column.name + " of the row at " + where(row);
    using R = IndexKeyError::Reason;
    if (column.type == ColumnType::Memo || column.type == ColumnType::Ole ||
        column.type == ColumnType::Binary)
        throw IndexKeyError(R::LongValue, column.name, row, 0, {}, 0,
                            "index keys of Memo, OLE and Binary columns cannot be written (" + at +
                                ")");
    if (column.type == ColumnType::Text && value.kind == Value::Kind::Text) {
        if (!textKeysSupported(column.sortOrder, column.sortVersion))
            throw IndexKeyError(R::SortOrder, column.name, row, column.sortOrder, value.text, 0,
                                "index keys of text in sort order " +
                                    std::to_string(column.sortOrder) + " (version " +
                                    std::to_string(column.sortVersion) +
                                    ") cannot be written; only General (1033) can (" + at + ")");
        // The encoder knows every unit but one, or the text ends in a space, whose key Access's
        // files do not show.
        char16_t unknown = u' ';
        for (const char16_t unit : value.text)
            if (!generalCharCode(unit)) {
                unknown = unit;
                break;
            }
        char code[8];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(unknown));
        throw IndexKeyError(R::Character, column.name, row, column.sortOrder, value.text, unknown,
                            std::string("the index key of \"") + utf8FromUtf16(value.text) +
                                "\" cannot be written: character " + code +
                                (unknown == u' ' ? " at its end" : "") + " (" + at + ")");
    }
    throw IndexKeyError(R::Value, column.name, row, 0, {}, 0,
                        "a value that does not fit its column's type has no index key (" + at +
                            ")");
}

bool allNull(const std::vector<KeyColumn>& keys, const std::vector<Value>& row) {
    return std::all_of(keys.begin(), keys.end(),
                       [&](const KeyColumn& key) { return row[key.position].isNull(); });
}

IndexPage emptyPage(bool leaf) {
    IndexPage page;
    page.leaf = leaf;
    page.unknown = leaf ? 0 : NodeUnknownByte;
    return page;
}

// Whether `entries` fit one page with no shared prefix.
bool fitUnshared(std::span<const IndexEntry> entries, bool leaf) {
    std::size_t size = 0;
    for (const IndexEntry& entry : entries)
        size += indexEntryBytes(entry, leaf).size();
    return size <= EntryArea;
}

// One level of pages over `entries`, each as full as the longest shared prefix lets it be.
std::vector<IndexPage> fillLevel(std::span<const IndexEntry> entries, bool leaf) {
    std::vector<IndexPage> pages;
    while (!entries.empty()) {
        const std::size_t count = indexEntriesThatFit(entries, leaf);
        if (count == 0)
            throw std::length_error("an index entry of " +
                                    std::to_string(indexEntryBytes(entries.front(), leaf).size()) +
                                    " bytes does not fit an index page");
        IndexPage page = emptyPage(leaf);
        page.entries.assign(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(count));
        // A page keeps prefix 0 while its entries fit without one; only a page that would
        // overflow shares the longest prefix.
        if (!fitUnshared(page.entries, leaf))
            page.prefixLength = static_cast<std::uint16_t>(sharedPrefixLength(page.entries, leaf));
        pages.push_back(std::move(page));
        entries = entries.subspan(count);
    }
    return pages;
}

// The pages the rebuilt tree may take over: the index's own, the root first. Pages in its map
// that are not index pages of this table are left alone.
std::vector<std::uint32_t> reusablePages(const PageFile& file, const TableDefinition& definition,
                                         const PhysicalIndex& index,
                                         std::vector<std::uint32_t>& strangers) {
    std::vector<std::uint32_t> own;
    for (const std::uint32_t page : readUsageMap(file, index.usageMap).pages) {
        bool isOwn = false;
        if (page > 0 && page < file.pageCount()) {
            const PageData bytes = file.page(page);
            const std::uint8_t type = (*bytes)[indexpage::TypeOffset];
            const std::uint32_t owner = (*bytes)[4] | (*bytes)[5] << 8 | (*bytes)[6] << 16 |
                                        static_cast<std::uint32_t>((*bytes)[7]) << 24;
            isOwn = (type == IndexLeafPageType || type == IndexNodePageType) &&
                    owner == definition.page;
        }
        (isOwn ? own : strangers).push_back(page);
    }
    const auto root = std::find(own.begin(), own.end(), index.rootPage);
    if (root != own.end())
        std::rotate(own.begin(), root, root + 1);
    return own;
}

std::uint32_t distinctKeys(const std::vector<IndexEntry>& entries) {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < entries.size(); ++i)
        count += i == 0 || entries[i].key != entries[i - 1].key;
    return count;
}

} // namespace

std::vector<IndexEntry> indexEntriesFromRows(const PageFile& file,
                                             const TableDefinition& definition,
                                             const PhysicalIndex& index) {
    const std::vector<KeyColumn> keys = keyColumns(definition, index);
    std::vector<bool> wanted(definition.columns.size(), false);
    for (const KeyColumn& key : keys)
        wanted[key.position] = true;
    const bool ignoreNulls = (index.flags & PhysicalIndex::IgnoreNullsFlag) != 0;

    std::vector<IndexEntry> entries;
    std::vector<bool> nullEntry; // parallel to `entries` until they are sorted
    scanRows(
        file, definition,
        [&](RowLocation at, const std::vector<Value>& row) {
            const bool nulls = allNull(keys, row);
            if (nulls && ignoreNulls)
                return true;
            std::vector<KeyPart> parts;
            for (const KeyColumn& key : keys)
                parts.push_back({&row[key.position], key.column->type, key.ascending});
            // Text in another sort order is refused even where the General encoder would give
            // bytes: they would not be the bytes Access keys it with.
            for (const KeyColumn& key : keys) {
                const Value& value = row[key.position];
                if (key.column->type == ColumnType::Text && !value.isNull() &&
                    !textKeysSupported(key.column->sortOrder, key.column->sortVersion))
                    refuseKey(key, value, at);
            }
            std::optional<std::string> bytes = encodeIndexKey(parts);
            if (!bytes) {
                // Name the first column whose value has no key.
                for (std::size_t i = 0; i < keys.size(); ++i) {
                    const KeyPart one[] = {parts[i]};
                    if (!encodeIndexKey(one))
                        refuseKey(keys[i], row[keys[i].position], at);
                }
                refuseKey(keys.front(), row[keys.front().position], at);
            }
            entries.push_back({std::move(*bytes), at, 0});
            nullEntry.push_back(nulls);
            return true;
        },
        wanted);

    if (index.flags & PhysicalIndex::UniqueFlag) {
        // Entries whose key columns are all Null may repeat in a unique index.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (!nullEntry[i])
                order.push_back(i);
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return entryLess(entries[a], entries[b]); });
        for (std::size_t i = 1; i < order.size(); ++i) {
            const IndexEntry& a = entries[order[i - 1]];
            const IndexEntry& b = entries[order[i]];
            if (a.key == b.key)
                throw DuplicateKeyError(a.row, b.row, a.key,
                                        "the rows at " + where(a.row) + " and " + where(b.row) +
                                            " have the same key in unique index " +
                                            std::to_string(index.number) + " of table " +
                                            std::to_string(definition.page));
        }
    }
    std::sort(entries.begin(), entries.end(), entryLess);
    return entries;
}

std::size_t IndexLayout::pageCount() const {
    std::size_t count = 0;
    for (const auto& level : levels)
        count += level.size();
    return count;
}

IndexLayout layoutIndex(std::span<const IndexEntry> entries) {
    IndexLayout layout;
    layout.levels.push_back(entries.empty() ? std::vector<IndexPage>{emptyPage(true)}
                                            : fillLevel(entries, true));
    while (layout.levels.back().size() > 1) {
        const auto& below = layout.levels.back();
        // The last leaf is the tail: no node entry leads to it.
        const std::size_t listed = layout.levels.size() == 1 ? below.size() - 1 : below.size();
        std::vector<IndexEntry> nodeEntries;
        for (std::size_t i = 0; i < listed; ++i) {
            IndexEntry entry = below[i].entries.back();
            entry.child = static_cast<std::uint32_t>(i);
            nodeEntries.push_back(std::move(entry));
        }
        layout.levels.push_back(fillLevel(nodeEntries, false));
    }
    return layout;
}

std::vector<IndexPage> placeIndex(const IndexLayout& layout, std::uint32_t owner,
                                  std::span<const std::uint32_t> numbers) {
    if (numbers.size() != layout.pageCount())
        throw std::invalid_argument("an index of " + std::to_string(layout.pageCount()) +
                                    " pages given " + std::to_string(numbers.size()) +
                                    " page numbers");
    // Page numbers level by level, leaves first, in the order root, then each level below.
    std::vector<std::vector<std::uint32_t>> levelNumbers(layout.levels.size());
    std::size_t next = 0;
    for (std::size_t level = layout.levels.size(); level-- > 0;)
        for (std::size_t i = 0; i < layout.levels[level].size(); ++i)
            levelNumbers[level].push_back(numbers[next++]);

    std::vector<IndexPage> out;
    for (std::size_t level = layout.levels.size(); level-- > 0;) {
        const auto& pages = layout.levels[level];
        for (std::size_t i = 0; i < pages.size(); ++i) {
            IndexPage page = pages[i];
            page.number = levelNumbers[level][i];
            page.owner = owner;
            page.prev = i > 0 ? levelNumbers[level][i - 1] : 0;
            page.next = i + 1 < pages.size() ? levelNumbers[level][i + 1] : 0;
            if (!page.leaf)
                for (IndexEntry& entry : page.entries)
                    entry.child = levelNumbers[level - 1][entry.child];
            // The last node over the leaves names the tail leaf.
            if (level == 1 && i + 1 == pages.size())
                page.tail = levelNumbers[0].back();
            out.push_back(std::move(page));
        }
    }
    return out;
}

void rebuildIndex(PageFile& file, TableDefinition& definition, std::size_t physicalIndex) {
    PhysicalIndex& index = definition.physicalIndexes.at(physicalIndex);
    const std::vector<IndexEntry> entries = indexEntriesFromRows(file, definition, index);
    const IndexLayout layout = layoutIndex(entries);

    std::vector<std::uint32_t> strangers;
    std::vector<std::uint32_t> reuse = reusablePages(file, definition, index, strangers);
    const std::size_t needed = layout.pageCount();
    std::vector<std::uint32_t> numbers(
        reuse.begin(), reuse.begin() + static_cast<std::ptrdiff_t>(std::min(needed, reuse.size())));
    const PageImage blank{};
    while (numbers.size() < needed) {
        const std::uint32_t page = allocatePage(file, blank);
        addToUsageMap(file, index.usageMap, page, MapOverflow::Reference);
        numbers.push_back(page);
    }
    for (const IndexPage& page : placeIndex(layout, definition.page, numbers))
        file.write(page.number, buildIndexPage(page, page.entries));

    for (std::size_t i = needed; i < reuse.size(); ++i) {
        file.write(reuse[i], blank);
        removeFromUsageMap(file, index.usageMap, reuse[i]);
        markPageFree(file, reuse[i]);
    }
    for (const std::uint32_t page : strangers)
        removeFromUsageMap(file, index.usageMap, page);

    const std::uint32_t keys = distinctKeys(entries);
    if (index.rootPage == numbers.front() && index.rowCount == keys)
        return;
    index.rootPage = numbers.front();
    index.rowCount = keys;
    const std::span<const std::uint32_t> continuation =
        std::span(definition.pages).subspan(definition.pages.empty() ? 0 : 1);
    const std::vector<PageImage> pages = encodeTableDefinition(definition, continuation);
    for (std::size_t i = 0; i < pages.size(); ++i)
        file.write(definition.pages[i], pages[i]);
}

} // namespace engine::jet4
