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

#include "engine/jet4/SpillFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace engine::jet4 {

namespace {

constexpr std::size_t EntryArea = PageFile::PageSize - indexpage::FirstEntryOffset;
constexpr std::uint8_t NodeUnknownByte = 1;

std::string where(RowLocation row) {
    return "page " + std::to_string(row.page) + " row " + std::to_string(row.row);
}

// Access orders entries by their bytes: the key, then the row pointer (page big-endian in 3
// bytes, row), which orders as the number those 4 bytes make.
bool entryLess(const IndexEntry& a, const IndexEntry& b) {
    if (const int order = a.key.compare(b.key); order != 0)
        return order < 0;
    const auto pointer = [](RowLocation row) { return (row.page & 0xFFFFFF) << 8 | row.row; };
    return pointer(a.row) < pointer(b.row);
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

// How many of `entries`, from the first, fit one page sharing their longest prefix: what
// indexEntriesThatFit answers, with the sizes summed as they come rather than again for each.
std::size_t entriesThatFit(std::span<const IndexEntry> entries, bool leaf) {
    std::string first;
    std::size_t prefix = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string bytes = indexEntryBytes(entries[i], leaf);
        total += bytes.size();
        if (i == 0) {
            first = std::move(bytes);
            prefix = first.size();
        } else {
            const auto end = std::mismatch(first.begin(), first.end(), bytes.begin(), bytes.end());
            prefix = std::min(prefix, static_cast<std::size_t>(end.first - first.begin()));
        }
        // Every entry after the first is stored without the shared prefix.
        if (total - i * (i == 0 ? 0 : prefix) > EntryArea)
            return i;
    }
    return entries.size();
}

// A page of `entries` as a level is filled: prefix 0 while its entries fit without one; only a
// page that would overflow shares the longest prefix.
IndexPage filledPage(std::span<const IndexEntry> entries, bool leaf) {
    IndexPage page = emptyPage(leaf);
    page.entries.assign(entries.begin(), entries.end());
    if (!fitUnshared(page.entries, leaf))
        page.prefixLength = static_cast<std::uint16_t>(sharedPrefixLength(page.entries, leaf));
    return page;
}

// One level of pages over entries given one at a time, in order, each page as full as the
// longest shared prefix lets it be. Only the entries of the page being filled (and those looked
// at to find its end) are held; each page is handed to `emit` as it is closed.
class LevelFiller {
public:
    using Emit = std::function<void(std::span<const IndexEntry>)>;

    LevelFiller(bool leaf, Emit emit) : leaf_(leaf), emit_(std::move(emit)) {}

    void add(IndexEntry entry) {
        window_.push_back(std::move(entry));
        if (window_.size() < lookAhead_)
            return;
        // A page ends before the entry that does not fit; while every entry in the window fits,
        // the end lies further on.
        while (!window_.empty()) {
            const std::size_t count = entriesThatFit(window_, leaf_);
            if (count == window_.size()) {
                lookAhead_ = std::max(lookAhead_, window_.size() * 2);
                return;
            }
            close(count);
        }
    }

    void finish() {
        while (!window_.empty())
            close(entriesThatFit(window_, leaf_));
    }

private:
    void close(std::size_t count) {
        if (count == 0)
            throw std::length_error("an index entry of " +
                                    std::to_string(indexEntryBytes(window_.front(), leaf_).size()) +
                                    " bytes does not fit an index page");
        emit_(std::span(window_).first(count));
        window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(count));
    }

    bool leaf_;
    Emit emit_;
    std::vector<IndexEntry> window_;
    std::size_t lookAhead_ = 64;
};

// One level of pages over `entries`, each as full as the longest shared prefix lets it be.
std::vector<IndexPage> fillLevel(std::span<const IndexEntry> entries, bool leaf) {
    std::vector<IndexPage> pages;
    LevelFiller filler(
        leaf, [&](std::span<const IndexEntry> page) { pages.push_back(filledPage(page, leaf)); });
    for (const IndexEntry& entry : entries)
        filler.add(entry);
    filler.finish();
    return pages;
}

// The levels above the leaves, given each leaf's last entry (the tail's included): node entries
// name their child by its position in the level below until the tree is placed.
void addNodeLevels(IndexLayout& layout, std::vector<IndexEntry> leafLastEntries) {
    std::vector<IndexEntry> listed = std::move(leafLastEntries);
    // The last leaf is the tail: no node entry leads to it.
    if (!listed.empty())
        listed.pop_back();
    while (layout.levels.back().size() > 1) {
        for (std::size_t i = 0; i < listed.size(); ++i)
            listed[i].child = static_cast<std::uint32_t>(i);
        layout.levels.push_back(fillLevel(listed, false));
        listed.clear();
        for (const IndexPage& page : layout.levels.back())
            listed.push_back(page.entries.back());
    }
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

} // namespace

namespace {

// Calls `take` with the leaf entry of each row of the index, in the table's order, and whether
// the row's key columns are all Null; raises what indexEntriesFromRows raises for a key.
void forEachRowEntry(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index,
                     const std::function<void(IndexEntry&&, bool nulls)>& take) {
    const std::vector<KeyColumn> keys = keyColumns(definition, index);
    std::vector<bool> wanted(definition.columns.size(), false);
    for (const KeyColumn& key : keys)
        wanted[key.position] = true;
    const bool ignoreNulls = (index.flags & PhysicalIndex::IgnoreNullsFlag) != 0;

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
            take({std::move(*bytes), at, 0}, nulls);
            return true;
        },
        wanted);
}

[[noreturn]] void refuseDuplicate(const IndexEntry& a, const IndexEntry& b,
                                  const TableDefinition& definition, const PhysicalIndex& index) {
    throw DuplicateKeyError(a.row, b.row, a.key,
                            "the rows at " + where(a.row) + " and " + where(b.row) +
                                " have the same key in unique index " +
                                std::to_string(index.number) + " of table " +
                                std::to_string(definition.page));
}

} // namespace

std::vector<IndexEntry> indexEntriesFromRows(const PageFile& file,
                                             const TableDefinition& definition,
                                             const PhysicalIndex& index) {
    std::vector<IndexEntry> entries;
    std::vector<bool> nullEntry; // parallel to `entries` until they are sorted
    forEachRowEntry(file, definition, index, [&](IndexEntry&& entry, bool nulls) {
        entries.push_back(std::move(entry));
        nullEntry.push_back(nulls);
    });

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
                refuseDuplicate(a, b, definition, index);
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
    std::vector<IndexEntry> last;
    for (const IndexPage& leaf : layout.levels.front())
        if (!leaf.entries.empty())
            last.push_back(leaf.entries.back());
    addNodeLevels(layout, std::move(last));
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

namespace {

// Leaf entries in Access's order, with memory bounded whatever the table's size: they are held
// up to MemoryBudget bytes; past it each batch is sorted and written as a run to a spill file
// beside the database (SpillFile.h), and reading merges the runs. An index of a few tens of
// thousands of rows never touches the disk.
class SortedEntries {
public:
    static constexpr std::size_t MemoryBudget = 1 << 20;

    explicit SortedEntries(std::string target) : target_(std::move(target)) {}

    void add(IndexEntry&& entry, bool nulls) {
        if (batch_.capacity() == 0)
            batch_.reserve(MemoryBudget / sizeof(Held));
        // A key longer than the string's own room is a block of its own, with the allocator's
        // bookkeeping.
        held_ += sizeof(Held) +
                 (entry.key.capacity() > std::string().capacity() ? entry.key.capacity() + 16 : 0);
        batch_.push_back({std::move(entry), nulls});
        if (held_ >= MemoryBudget)
            spillBatch();
    }

    // Ends the adding; the entries can then be read, in order, as often as needed.
    void finish() {
        if (spill_ && !batch_.empty())
            spillBatch();
        else
            sortBatch();
    }

    // Calls `visit` with every entry in order and whether its key columns are all Null.
    void forEach(const std::function<void(const IndexEntry&, bool nulls)>& visit) const {
        if (!spill_) {
            for (const Held& held : batch_)
                visit(held.entry, held.nulls);
            return;
        }
        std::vector<RunReader> readers;
        std::vector<Held> heads(runs_.size());
        std::vector<std::size_t> heap;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            readers.emplace_back(*spill_, runs_[i]);
            if (readers.back().next(heads[i]))
                heap.push_back(i);
        }
        // A min-heap of the runs by their next entry (no two entries are equal: rows differ).
        const auto later = [&](std::size_t a, std::size_t b) {
            return entryLess(heads[b].entry, heads[a].entry);
        };
        std::make_heap(heap.begin(), heap.end(), later);
        while (!heap.empty()) {
            std::pop_heap(heap.begin(), heap.end(), later);
            const std::size_t run = heap.back();
            visit(heads[run].entry, heads[run].nulls);
            if (readers[run].next(heads[run]))
                std::push_heap(heap.begin(), heap.end(), later);
            else
                heap.pop_back();
        }
    }

private:
    struct Held {
        IndexEntry entry;
        bool nulls = false;
    };
    // A sorted run in the spill file: its bytes from `begin` (a page boundary) on.
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t size = 0;
    };

    // Each held entry as stored in a run: key length (2 bytes), key, page (4), row (1), Nulls (1).
    class RunReader {
    public:
        RunReader(const SpillFile& spill, Run run) : spill_(&spill), run_(run) {}

        bool next(Held& held) {
            if (at_ >= run_.size)
                return false;
            std::uint8_t length[2];
            read(length, 2);
            held.entry.key.resize(std::size_t{length[0]} | std::size_t{length[1]} << 8);
            read(held.entry.key.data(), held.entry.key.size());
            std::uint8_t tail[6];
            read(tail, 6);
            held.entry.row.page = std::uint32_t{tail[0]} | std::uint32_t{tail[1]} << 8 |
                                  std::uint32_t{tail[2]} << 16 | std::uint32_t{tail[3]} << 24;
            held.entry.row.row = tail[4];
            held.entry.child = 0;
            held.nulls = tail[5] != 0;
            return true;
        }

    private:
        void read(void* to, std::size_t size) {
            auto* out = static_cast<char*>(to);
            while (size > 0) {
                const std::size_t inPage = at_ % PageFile::PageSize;
                if (inPage == 0 || !loaded_) {
                    spill_->get(run_.begin + at_ - inPage, page_);
                    loaded_ = true;
                }
                const std::size_t part = std::min(size, PageFile::PageSize - inPage);
                std::memcpy(out, page_.data() + inPage, part);
                out += part;
                size -= part;
                at_ += part;
            }
        }

        const SpillFile* spill_;
        Run run_;
        std::uint64_t at_ = 0;
        bool loaded_ = false;
        SpillFile::Page page_{};
    };

    void sortBatch() {
        std::sort(batch_.begin(), batch_.end(),
                  [](const Held& a, const Held& b) { return entryLess(a.entry, b.entry); });
    }

    void spillBatch() {
        sortBatch();
        if (!spill_)
            // Beside the file the path leads to, as the replacement copy is.
            spill_ =
                std::make_unique<SpillFile>(std::filesystem::weakly_canonical(target_).string());
        Run run{spill_->end(), 0};
        SpillFile::Page page{};
        std::size_t filled = 0;
        const auto put = [&](const void* bytes, std::size_t size) {
            const auto* in = static_cast<const std::uint8_t*>(bytes);
            while (size > 0) {
                const std::size_t part = std::min(size, page.size() - filled);
                std::memcpy(page.data() + filled, in, part);
                in += part;
                size -= part;
                filled += part;
                run.size += part;
                if (filled == page.size()) {
                    spill_->put(page);
                    filled = 0;
                }
            }
        };
        for (const Held& held : batch_) {
            const IndexEntry& entry = held.entry;
            const std::uint8_t length[2] = {static_cast<std::uint8_t>(entry.key.size()),
                                            static_cast<std::uint8_t>(entry.key.size() >> 8)};
            put(length, 2);
            put(entry.key.data(), entry.key.size());
            const std::uint8_t tail[6] = {static_cast<std::uint8_t>(entry.row.page),
                                          static_cast<std::uint8_t>(entry.row.page >> 8),
                                          static_cast<std::uint8_t>(entry.row.page >> 16),
                                          static_cast<std::uint8_t>(entry.row.page >> 24),
                                          entry.row.row,
                                          static_cast<std::uint8_t>(held.nulls ? 1 : 0)};
            put(tail, 6);
        }
        if (filled > 0) {
            std::fill(page.begin() + static_cast<std::ptrdiff_t>(filled), page.end(), 0);
            spill_->put(page);
        }
        runs_.push_back(run);
        batch_.clear();
        batch_.shrink_to_fit();
        held_ = 0;
    }

    std::string target_;
    std::vector<Held> batch_;
    std::size_t held_ = 0;
    std::unique_ptr<SpillFile> spill_;
    std::vector<Run> runs_;
};

} // namespace

void rebuildIndex(PageFile& file, TableDefinition& definition, std::size_t physicalIndex) {
    PhysicalIndex& index = definition.physicalIndexes.at(physicalIndex);
    SortedEntries sorted(file.path());
    forEachRowEntry(file, definition, index,
                    [&](IndexEntry&& entry, bool nulls) { sorted.add(std::move(entry), nulls); });
    sorted.finish();

    // First pass, before anything is written: a unique index's duplicates (entries whose key
    // columns are all Null may repeat), the distinct keys, and where each leaf ends. Only the
    // leaves' last entries are kept, for the levels above them.
    const bool unique = (index.flags & PhysicalIndex::UniqueFlag) != 0;
    std::optional<IndexEntry> lastKeyed;
    std::optional<std::string> lastKey;
    std::uint32_t keys = 0;
    std::vector<IndexEntry> leafLast;
    std::exception_ptr tooLong; // raised once no duplicate is found, as a duplicate comes first
    {
        LevelFiller leaves(
            true, [&](std::span<const IndexEntry> page) { leafLast.push_back(page.back()); });
        sorted.forEach([&](const IndexEntry& entry, bool nulls) {
            if (unique && !nulls) {
                if (lastKeyed && lastKeyed->key == entry.key)
                    refuseDuplicate(*lastKeyed, entry, definition, index);
                lastKeyed = entry;
            }
            if (!lastKey || *lastKey != entry.key) {
                ++keys;
                lastKey = entry.key;
            }
            if (!tooLong)
                try {
                    leaves.add(entry);
                } catch (const std::length_error&) {
                    tooLong = std::current_exception();
                }
        });
        if (!tooLong)
            try {
                leaves.finish();
            } catch (const std::length_error&) {
                tooLong = std::current_exception();
            }
    }
    if (tooLong)
        std::rethrow_exception(tooLong);
    const std::size_t leafCount = std::max<std::size_t>(leafLast.size(), 1);
    IndexLayout layout;
    layout.levels.push_back(std::vector<IndexPage>(leafCount, emptyPage(true)));
    addNodeLevels(layout, std::move(leafLast));

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
    std::vector<IndexPage> placed = placeIndex(layout, definition.page, numbers);
    layout = {};
    // The leaves come last in the numbering; the pages above them are complete already.
    const std::size_t firstLeaf = placed.size() - leafCount;
    for (std::size_t i = 0; i < firstLeaf; ++i)
        file.write(placed[i].number, buildIndexPage(placed[i], placed[i].entries));
    // Second pass: the leaves again, page by page, each written as it is closed.
    std::size_t nextLeaf = firstLeaf;
    LevelFiller leaves(true, [&](std::span<const IndexEntry> entries) {
        IndexPage& leaf = placed.at(nextLeaf++);
        leaf.prefixLength = fitUnshared(entries, true)
                                ? 0
                                : static_cast<std::uint16_t>(sharedPrefixLength(entries, true));
        file.write(leaf.number, buildIndexPage(leaf, entries));
    });
    sorted.forEach([&](const IndexEntry& entry, bool) { leaves.add(entry); });
    leaves.finish();
    if (nextLeaf == firstLeaf) // no entry: one empty leaf
        file.write(placed[firstLeaf].number, buildIndexPage(placed[firstLeaf], {}));

    for (std::size_t i = needed; i < reuse.size(); ++i) {
        file.write(reuse[i], blank);
        removeFromUsageMap(file, index.usageMap, reuse[i]);
        markPageFree(file, reuse[i]);
    }
    for (const std::uint32_t page : strangers)
        removeFromUsageMap(file, index.usageMap, page);

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
