#include "engine/jet4/write/IndexBuilder.h"

#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/TableDefinitionEncoder.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexKey.h"
#include "engine/jet4/index/IndexPageBuilder.h"
#include "engine/jet4/index/TextKey.h"
#include "engine/jet4/write/PageAllocator.h"

#include "engine/jet4/file/SpillFile.h"
#include "engine/jet4/file/SystemFiles.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

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

IndexPage emptyPage(bool leaf) {
    IndexPage page;
    page.leaf = leaf;
    page.unknown = leaf ? 0 : NodeUnknownByte;
    return page;
}

// The entries of one page of a level, as LevelFiller closes it: each stored in full
// (indexEntryBytes) one after another in `packed`, entry i ending at ends[i], and the prefix the
// page shares.
struct FilledPage {
    std::string_view packed;
    std::span<const std::size_t> ends;
    std::uint16_t prefixLength = 0;
};

// One level of pages over entries given one at a time, in order, each page as full as the
// longest shared prefix lets it be: a page ends before the first entry that would make its
// entries overflow, counting every entry after the first without the prefix all of them share
// (which can only shrink as entries come). A page whose entries fit without a shared prefix
// keeps prefix 0. Only the page being filled is held; each is handed to `emit` as it is closed.
class LevelFiller {
public:
    using Emit = std::function<void(const FilledPage&)>;

    explicit LevelFiller(Emit emit) : emit_(std::move(emit)) {}

    // The next entry as a page stores it in full; std::length_error for one that does not fit
    // a page alone.
    void add(std::string_view entry) {
        if (!ends_.empty()) {
            const std::string_view first(packed_.data(), ends_.front());
            const auto [end, unused] =
                std::mismatch(first.begin(), first.end(), entry.begin(), entry.end());
            const std::size_t prefix =
                std::min(prefix_, static_cast<std::size_t>(end - first.begin()));
            const std::size_t total = total_ + entry.size();
            if (total - ends_.size() * prefix <= EntryArea) {
                append(entry);
                prefix_ = prefix;
                total_ = total;
                return;
            }
            close();
        }
        if (entry.size() > EntryArea)
            throw std::length_error("an index entry of " + std::to_string(entry.size()) +
                                    " bytes does not fit an index page");
        append(entry);
        prefix_ = entry.size();
        total_ = entry.size();
    }

    void finish() {
        if (!ends_.empty())
            close();
    }

private:
    void append(std::string_view entry) {
        packed_ += entry;
        ends_.push_back(packed_.size());
    }

    void close() {
        // Only a page that would overflow without it shares the prefix.
        const auto prefix = static_cast<std::uint16_t>(total_ <= EntryArea ? 0 : prefix_);
        emit_({packed_, ends_, prefix});
        packed_.clear();
        ends_.clear();
    }

    Emit emit_;
    std::string packed_;
    std::vector<std::size_t> ends_;
    std::size_t prefix_ = 0; // shared by every entry of the page so far
    std::size_t total_ = 0;  // the entries' bytes in full
};

// One level of pages over `entries`, each as full as the longest shared prefix lets it be.
std::vector<IndexPage> fillLevel(std::span<const IndexEntry> entries, bool leaf) {
    std::vector<IndexPage> pages;
    std::size_t taken = 0;
    LevelFiller filler([&](const FilledPage& filled) {
        IndexPage page = emptyPage(leaf);
        page.entries.assign(entries.begin() + static_cast<std::ptrdiff_t>(taken),
                            entries.begin() +
                                static_cast<std::ptrdiff_t>(taken + filled.ends.size()));
        page.prefixLength = filled.prefixLength;
        taken += filled.ends.size();
        pages.push_back(std::move(page));
    });
    for (const IndexEntry& entry : entries)
        filler.add(indexEntryBytes(entry, leaf));
    filler.finish();
    return pages;
}

// The levels above the leaves, given each leaf's last entry (the tail's included): node entries
// name their child by its position in the level below until the tree is placed. Each node entry
// is the last entry of its child's whole subtree: the right-hand page of every level ends above
// its own last listed entry, since the tail leaf hangs beneath it, so the entry leading to it is
// the tree's last entry.
void addNodeLevels(IndexLayout& layout, std::vector<IndexEntry> leafLastEntries) {
    if (leafLastEntries.empty())
        return;
    const IndexEntry treeLast = leafLastEntries.back();
    std::vector<IndexEntry> listed = std::move(leafLastEntries);
    // The last leaf is the tail: no node entry leads to it.
    listed.pop_back();
    while (layout.levels.back().size() > 1) {
        for (std::size_t i = 0; i < listed.size(); ++i)
            listed[i].child = static_cast<std::uint32_t>(i);
        layout.levels.push_back(fillLevel(listed, false));
        listed.clear();
        for (const IndexPage& page : layout.levels.back())
            listed.push_back(page.entries.back());
        listed.back().key = treeLast.key;
        listed.back().row = treeLast.row;
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

// Calls `take` with the key of each row of the index (in a buffer reused from row to row, valid
// during the call), the row's location and whether its key columns are all Null, in the table's
// order; raises what indexEntriesFromRows raises for a key. Only the key columns are decoded,
// into values reused from row to row.
void forEachRowKey(const PageFile& file, const TableDefinition& definition,
                   const PhysicalIndex& index,
                   const std::function<void(std::string_view key, RowLocation, bool nulls)>& take) {
    const std::vector<KeyColumn> keys = keyColumns(definition, index);
    // The key's columns in the definition's order, each once, as decodeColumns reads them.
    std::vector<std::size_t> positions;
    for (const KeyColumn& key : keys)
        positions.push_back(key.position);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<Value> values(positions.size());
    std::vector<KeyPart> parts;
    for (const KeyColumn& key : keys) {
        const auto at = std::lower_bound(positions.begin(), positions.end(), key.position);
        parts.push_back({&values[static_cast<std::size_t>(at - positions.begin())],
                         key.column->type, key.ascending});
    }
    const bool ignoreNulls = (index.flags & PhysicalIndex::IgnoreNullsFlag) != 0;
    std::string bytes;

    const auto visit = [&](RowLocation at, std::span<const std::uint8_t> image,
                           std::uint32_t page) {
        decodeColumns(file, definition, image, page, positions, values);
        const bool nulls = std::all_of(parts.begin(), parts.end(),
                                       [](const KeyPart& part) { return part.value->isNull(); });
        if (nulls && ignoreNulls)
            return true;
        // Text in another sort order is refused even where the General encoder would give
        // bytes: they would not be the bytes Access keys it with.
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const ColumnDefinition& column = *keys[i].column;
            if (column.type == ColumnType::Text && !parts[i].value->isNull() &&
                !textKeysSupported(column.sortOrder, column.sortVersion))
                refuseKey(keys[i], *parts[i].value, at);
        }
        bytes.clear();
        if (!appendIndexKey(parts, bytes)) {
            // Name the first column whose value has no key.
            for (std::size_t i = 0; i < keys.size(); ++i)
                if (!encodeIndexKey(std::span(parts).subspan(i, 1)))
                    refuseKey(keys[i], *parts[i].value, at);
            refuseKey(keys.front(), *parts.front().value, at);
        }
        take(bytes, at, nulls);
        return true;
    };
    scanRowImages(file, definition, visit);
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
    forEachRowKey(file, definition, index, [&](std::string_view key, RowLocation at, bool nulls) {
        entries.push_back({std::string(key), at, 0});
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

    // Each page's parent: its position in the level above.
    std::vector<std::vector<std::size_t>> parents(layout.levels.size());
    for (std::size_t level = 0; level + 1 < layout.levels.size(); ++level) {
        parents[level].resize(layout.levels[level].size());
        const auto& above = layout.levels[level + 1];
        for (std::size_t p = 0; p < above.size(); ++p)
            for (const IndexEntry& entry : above[p].entries)
                parents[level][entry.child] = p;
    }

    std::vector<IndexPage> out;
    for (std::size_t level = layout.levels.size(); level-- > 0;) {
        const auto& pages = layout.levels[level];
        for (std::size_t i = 0; i < pages.size(); ++i) {
            IndexPage page = pages[i];
            page.number = levelNumbers[level][i];
            page.owner = owner;
            // Leaves are linked from first to last; node pages only to their neighbours under
            // the same parent, as readers expect of the levels between root and leaves.
            const auto linked = [&](std::size_t j) {
                return level == 0 || parents[level][j] == parents[level][i];
            };
            page.prev = i > 0 && linked(i - 1) ? levelNumbers[level][i - 1] : 0;
            page.next = i + 1 < pages.size() && linked(i + 1) ? levelNumbers[level][i + 1] : 0;
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

// The spill file the builder's runs and finished leaves go to, made beside the database the
// first time one is needed: most indexes never need one.
class SpillSpace {
public:
    explicit SpillSpace(std::string target) : target_(std::move(target)) {}

    bool made() const { return file_ != nullptr; }

    SpillFile& file() {
        if (!file_) {
            // Beside the file the path leads to, as the replacement copy is. The path stays the
            // engine's UTF-8 throughout: a narrow std::filesystem path would lose a Cyrillic
            // folder name on Windows.
            std::string resolved;
            file_ = std::make_unique<SpillFile>(sys::canonical(target_, resolved) == 0 ? resolved
                                                                                       : target_);
        }
        return *file_;
    }

private:
    std::string target_;
    std::unique_ptr<SpillFile> file_;
};

// A leaf entry as the sort holds it, in memory and in its runs: key length (2 bytes, LE), key,
// row pointer as index pages store it (page 3 bytes big-endian, row), then 1 when the row's key
// columns are all Null, else 0. Keys of the widest index Jet allows stay far below 64 KiB.
class EntryRecord {
public:
    static constexpr std::size_t Overhead = 2 + indexpage::RowPointerSize + 1;

    explicit EntryRecord(const std::uint8_t* at) : at_(at) {}

    std::size_t keySize() const { return std::size_t{at_[0]} | std::size_t{at_[1]} << 8; }
    std::size_t size() const { return keySize() + Overhead; }
    std::string_view key() const { return {reinterpret_cast<const char*>(at_ + 2), keySize()}; }
    // The entry as a leaf stores it in full: key, then row pointer.
    std::string_view stored() const {
        return {reinterpret_cast<const char*>(at_ + 2), keySize() + indexpage::RowPointerSize};
    }
    RowLocation row() const {
        const std::uint8_t* p = pointer();
        return {std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2], p[3]};
    }
    bool nulls() const { return pointer()[indexpage::RowPointerSize] != 0; }

    // The 8 key bytes from `from` as a number, zeros past the key's end. Of two records whose
    // keys agree before `from`, those whose heads differ order as their heads do: at the first
    // byte that differs either both keys have a byte, or the one that ended (a 0 there against
    // a byte above 0) is the shorter, which sorts first.
    std::uint64_t head(std::size_t from) const {
        const std::size_t size = keySize();
        std::uint64_t head = 0;
        if (from + 8 <= size) {
            std::memcpy(&head, at_ + 2 + from, 8);
            return std::endian::native == std::endian::little ? __builtin_bswap64(head) : head;
        }
        for (std::size_t i = from; i < from + 8; ++i)
            head = head << 8 | (i < size ? at_[2 + i] : 0);
        return head;
    }

    // How many key bytes this record and `other` share from the start, up to `limit`.
    std::size_t sharedKeyBytes(const EntryRecord& other, std::size_t limit) const {
        const std::size_t size = std::min({keySize(), other.keySize(), limit});
        std::size_t shared = 0;
        while (shared < size && at_[2 + shared] == other.at_[2 + shared])
            ++shared;
        return shared;
    }

    // Access's order: the key bytes, then the row pointer, which orders as the number its 4
    // bytes make.
    friend bool operator<(const EntryRecord& a, const EntryRecord& b) {
        const std::size_t aSize = a.keySize(), bSize = b.keySize();
        if (const int order = std::memcmp(a.at_ + 2, b.at_ + 2, std::min(aSize, bSize)))
            return order < 0;
        if (aSize != bSize)
            return aSize < bSize;
        return std::memcmp(a.pointer(), b.pointer(), indexpage::RowPointerSize) < 0;
    }

    static void append(std::vector<std::uint8_t>& to, std::string_view key, RowLocation row,
                       bool nulls) {
        const std::size_t at = to.size();
        to.resize(at + key.size() + Overhead);
        std::uint8_t* p = to.data() + at;
        p[0] = static_cast<std::uint8_t>(key.size());
        p[1] = static_cast<std::uint8_t>(key.size() >> 8);
        std::memcpy(p + 2, key.data(), key.size());
        p += 2 + key.size();
        p[0] = static_cast<std::uint8_t>(row.page >> 16);
        p[1] = static_cast<std::uint8_t>(row.page >> 8);
        p[2] = static_cast<std::uint8_t>(row.page);
        p[3] = row.row;
        p[4] = nulls ? 1 : 0;
    }

private:
    const std::uint8_t* pointer() const { return at_ + 2 + keySize(); }

    const std::uint8_t* at_;
};

// Leaf entries in Access's order, with memory bounded whatever the table's size: they are held
// as records packed in one buffer, up to MemoryBudget bytes with their sort handles; past it each
// batch is sorted and written as a run to the spill file, and reading merges the runs. An index
// of a few tens of thousands of rows never touches the disk.
class SortedEntries {
public:
    static constexpr std::size_t MemoryBudget = 1 << 20;

    explicit SortedEntries(SpillSpace& spill) : spill_(spill) {}

    void add(std::string_view key, RowLocation row, bool nulls) {
        if (key.size() > 0xFFFF) // no page could hold it; its length would not fit a record
            throw std::length_error("an index entry of " +
                                    std::to_string(key.size() + indexpage::RowPointerSize) +
                                    " bytes does not fit an index page");
        if (records_.capacity() == 0)
            records_.reserve(MemoryBudget / 2);
        const auto at = static_cast<std::uint32_t>(records_.size());
        EntryRecord::append(records_, key, row, nulls);
        handles_.push_back({0, 0, at});
        // The handles twice over: sorting them takes a second array.
        if (records_.size() + 2 * handles_.size() * sizeof(Handle) >= MemoryBudget)
            spillBatch();
    }

    // Ends the adding; the entries can then be read, in order.
    void finish() {
        if (!runs_.empty() && !handles_.empty())
            spillBatch();
        else
            sortBatch();
        scratch_ = {};
    }

    // Calls `visit` with every entry in order; a record is valid during its call.
    template <typename Visit> void forEach(Visit&& visit) const {
        if (runs_.empty()) {
            for (const Handle& handle : handles_)
                visit(EntryRecord(records_.data() + handle.at));
            return;
        }
        // The key bytes every entry shares, as the runs' first keys and their own shared
        // bytes tell: the heads are taken past them.
        std::size_t shared = runs_.front().shared;
        for (const Run& run : runs_) {
            const std::string& first = runs_.front().firstKey;
            const auto [end, unused] =
                std::mismatch(first.begin(), first.end(), run.firstKey.begin(), run.firstKey.end());
            shared = std::min({shared, run.shared, static_cast<std::size_t>(end - first.begin())});
        }
        // Each run read a block at a time, the blocks together about the memory budget.
        const std::size_t block =
            std::clamp<std::size_t>(MemoryBudget / runs_.size(), 4096, 64 * 1024);
        std::vector<RunReader> readers;
        readers.reserve(runs_.size());
        std::vector<Head> heap;
        for (const Run& run : runs_) {
            readers.emplace_back(spill_.file(), run, block);
            if (const std::uint8_t* first = readers.back().next())
                heap.push_back(Head(first, shared, readers.size() - 1));
        }
        // A min-heap of the runs by their next entry (no two entries are equal: rows differ).
        const auto later = [](const Head& a, const Head& b) { return b < a; };
        std::make_heap(heap.begin(), heap.end(), later);
        while (!heap.empty()) {
            Head& top = heap.front();
            visit(EntryRecord(top.record));
            if (const std::uint8_t* next = readers[top.run].next()) {
                top = Head(next, shared, top.run);
                siftDown(heap);
            } else {
                std::pop_heap(heap.begin(), heap.end(), later);
                heap.pop_back();
            }
        }
    }

private:
    // A held record: its 16 key bytes after those every key of the batch shares, to compare
    // by first (set when the batch is sorted), and where it starts in `records_`.
    struct Handle {
        std::uint64_t high, low;
        std::uint32_t at;
    };
    // A sorted run in the spill file: its records, `size` bytes from `begin`; the key bytes all
    // of them share and the first one's key.
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t size = 0;
        std::size_t shared = 0;
        std::string firstKey;
    };
    // A run's next record in the merge, with its 16 key bytes past those every entry shares.
    struct Head {
        Head(const std::uint8_t* record, std::size_t shared, std::size_t run)
            : high(EntryRecord(record).head(shared)), low(EntryRecord(record).head(shared + 8)),
              record(record), run(run) {}
        friend bool operator<(const Head& a, const Head& b) {
            if (a.high != b.high)
                return a.high < b.high;
            if (a.low != b.low)
                return a.low < b.low;
            return EntryRecord(a.record) < EntryRecord(b.record);
        }
        std::uint64_t high, low;
        const std::uint8_t* record;
        std::size_t run;
    };

    // Restores the heap after its first element changed.
    static void siftDown(std::vector<Head>& heap) {
        std::size_t at = 0;
        const Head moved = heap.front();
        for (;;) {
            std::size_t child = 2 * at + 1;
            if (child >= heap.size())
                break;
            if (child + 1 < heap.size() && heap[child + 1] < heap[child])
                ++child;
            if (!(heap[child] < moved))
                break;
            heap[at] = heap[child];
            at = child;
        }
        heap[at] = moved;
    }

    // The records of one run, read a block at a time.
    class RunReader {
    public:
        RunReader(SpillFile& spill, const Run& run, std::size_t block)
            : spill_(&spill), begin_(run.begin), size_(run.size), buffer_(block) {}

        // The next record, valid until the next call; nullptr past the run's end.
        const std::uint8_t* next() {
            if (!have(2))
                return nullptr;
            const std::size_t size = EntryRecord(buffer_.data() + at_).size();
            if (!have(size))
                throw std::logic_error("a sorted run of the index builder ends inside a record");
            const std::uint8_t* record = buffer_.data() + at_;
            at_ += size;
            return record;
        }

    private:
        // Whether `size` bytes of the run are in the buffer from `at_`, reading on if need be.
        bool have(std::size_t size) {
            if (filled_ - at_ >= size)
                return true;
            const std::size_t left = filled_ - at_;
            std::memmove(buffer_.data(), buffer_.data() + at_, left);
            at_ = 0;
            filled_ = left;
            if (buffer_.size() < size)
                buffer_.resize(size);
            const std::size_t part = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer_.size() - filled_, size_ - read_));
            spill_->read(begin_ + read_, std::span(buffer_).subspan(filled_, part));
            read_ += part;
            filled_ += part;
            return filled_ >= size;
        }

        SpillFile* spill_;
        std::uint64_t begin_, size_;
        std::vector<std::uint8_t> buffer_;
        std::size_t at_ = 0, filled_ = 0;
        std::uint64_t read_ = 0; // bytes of the run read into the buffer so far
    };

    // Sorts the batch's handles; returns the key bytes all its records share.
    std::size_t sortBatch() {
        if (handles_.empty())
            return 0;
        // Keys of a batch often share their first bytes (an index's leading column has few
        // values): the heads are taken past them, so that they tell more records apart.
        const EntryRecord first(records_.data());
        std::size_t shared = first.keySize();
        for (const Handle& handle : handles_)
            shared = first.sharedKeyBytes(EntryRecord(records_.data() + handle.at), shared);
        for (Handle& handle : handles_) {
            const EntryRecord record(records_.data() + handle.at);
            handle.high = record.head(shared);
            handle.low = record.head(shared + 8);
        }
        sortByHigh();
        // Handles with the same first head, by the second, then by the whole record.
        const auto less = [&](const Handle& a, const Handle& b) {
            if (a.low != b.low)
                return a.low < b.low;
            return EntryRecord(records_.data() + a.at) < EntryRecord(records_.data() + b.at);
        };
        for (auto from = handles_.begin(); from != handles_.end();) {
            auto to = from + 1;
            while (to != handles_.end() && to->high == from->high)
                ++to;
            if (to - from > 1)
                std::sort(from, to, less);
            from = to;
        }
        return shared;
    }

    // Orders the handles by their first head: a radix sort, a byte at a time from the least
    // significant, skipping the bytes every handle has alike.
    void sortByHigh() {
        const std::size_t count = handles_.size();
        std::array<std::array<std::uint32_t, 256>, 8> counts{};
        for (const Handle& handle : handles_)
            for (std::size_t byte = 0; byte < 8; ++byte)
                ++counts[byte][handle.high >> (8 * byte) & 0xFF];
        scratch_.resize(count);
        for (std::size_t byte = 0; byte < 8; ++byte) {
            std::array<std::uint32_t, 256>& bucket = counts[byte];
            if (bucket[handles_.front().high >> (8 * byte) & 0xFF] == count)
                continue;
            std::uint32_t start = 0;
            for (std::uint32_t& size : bucket)
                start += std::exchange(size, start);
            for (const Handle& handle : handles_)
                scratch_[bucket[handle.high >> (8 * byte) & 0xFF]++] = handle;
            handles_.swap(scratch_);
        }
    }

    void spillBatch() {
        const std::size_t shared = sortBatch();
        SpillFile& spill = spill_.file();
        Run run{spill.end(), 0, shared,
                std::string(EntryRecord(records_.data() + handles_.front().at).key())};
        std::vector<std::uint8_t> out;
        constexpr std::size_t Chunk = 64 * 1024;
        out.reserve(Chunk);
        const auto flush = [&] {
            spill.append(out);
            run.size += out.size();
            out.clear();
        };
        for (const Handle& handle : handles_) {
            const EntryRecord record(records_.data() + handle.at);
            if (out.size() + record.size() > Chunk && !out.empty())
                flush();
            out.insert(out.end(), records_.data() + handle.at,
                       records_.data() + handle.at + record.size());
        }
        if (!out.empty())
            flush();
        runs_.push_back(std::move(run));
        records_.clear();
        handles_.clear();
    }

    SpillSpace& spill_;
    std::vector<std::uint8_t> records_;
    std::vector<Handle> handles_;
    std::vector<Handle> scratch_; // the radix sort's second array
    std::vector<Run> runs_;
};

// Page images kept in order until they can be written where they belong: up to `held` of them
// in memory; past that, in the spill file a chunk at a time.
class PageSpool {
public:
    PageSpool(SpillSpace& spill, std::size_t held) : spill_(spill), limit_(std::max(held, Chunk)) {}

    void add(const PageImage& page) {
        held_.push_back(page);
        if (held_.size() < limit_)
            return;
        SpillFile& file = spill_.file();
        for (std::size_t from = 0; from < held_.size(); from += Chunk) {
            const std::size_t count = std::min(Chunk, held_.size() - from);
            const std::uint64_t at = file.append({held_[from].data(), count * PageFile::PageSize});
            if (spilled_ == 0)
                begin_ = at;
            else if (at != begin_ + spilled_ * PageFile::PageSize)
                throw std::logic_error("the index builder's spooled pages are not contiguous");
            spilled_ += count;
        }
        held_.clear();
        limit_ = Chunk;
    }

    // Calls `visit` with each page in order, given as a copy it may change.
    void forEach(const std::function<void(PageImage&)>& visit) {
        std::vector<PageImage> chunk;
        for (std::size_t done = 0; done < spilled_; done += chunk.size()) {
            chunk.resize(std::min(Chunk, spilled_ - done));
            spill_.file().read(begin_ + done * PageFile::PageSize, writableBytesOf(chunk));
            for (PageImage& page : chunk)
                visit(page);
        }
        for (PageImage& page : held_)
            visit(page);
    }

private:
    static constexpr std::size_t Chunk = 16; // pages written or read at once

    static std::span<std::uint8_t> writableBytesOf(std::vector<PageImage>& pages) {
        return {pages.front().data(), pages.size() * PageFile::PageSize};
    }

    SpillSpace& spill_;
    std::size_t limit_;
    std::vector<PageImage> held_;
    std::size_t spilled_ = 0;
    std::uint64_t begin_ = 0;
};

} // namespace

void rebuildIndex(PageFile& file, TableDefinition& definition, std::size_t physicalIndex) {
    PhysicalIndex& index = definition.physicalIndexes.at(physicalIndex);
    SpillSpace spill(file.path());
    SortedEntries sorted(spill);
    forEachRowKey(file, definition, index, [&](std::string_view key, RowLocation at, bool nulls) {
        sorted.add(key, at, nulls);
    });
    sorted.finish();

    // One pass over the sorted entries, before anything is written: a unique index's duplicates
    // (entries whose key columns are all Null may repeat), the distinct keys, and the leaves,
    // built as they close and spooled without their sibling links, which wait for the page
    // numbers. Only the leaves' last entries are kept, for the levels above them.
    const bool unique = (index.flags & PhysicalIndex::UniqueFlag) != 0;
    std::string lastKeyed, lastKey;
    RowLocation lastKeyedRow;
    bool anyKeyed = false;
    std::uint32_t keys = 0;
    std::vector<IndexEntry> leafLast;
    // An index whose entries fit the sort's memory keeps its leaves in memory too (they take
    // about as much); a larger one spools them to the spill file it has already.
    PageSpool leaves(spill, spill.made() ? 0 : SortedEntries::MemoryBudget / PageFile::PageSize);
    std::exception_ptr tooLong; // raised once no duplicate is found, as a duplicate comes first
    {
        IndexPage leaf = emptyPage(true);
        leaf.owner = definition.page;
        LevelFiller filler([&](const FilledPage& page) {
            leaf.prefixLength = page.prefixLength;
            leaves.add(buildIndexPage(leaf, page.packed, page.ends));
            const std::size_t lastStart =
                page.ends.size() > 1 ? page.ends[page.ends.size() - 2] : 0;
            const std::string_view last =
                page.packed.substr(lastStart, page.ends.back() - lastStart);
            const std::size_t keySize = last.size() - indexpage::RowPointerSize;
            const auto pointer = [&](std::size_t i) {
                return static_cast<std::uint8_t>(last[keySize + i]);
            };
            leafLast.push_back(
                {std::string(last.substr(0, keySize)),
                 {std::uint32_t{pointer(0)} << 16 | std::uint32_t{pointer(1)} << 8 | pointer(2),
                  pointer(3)},
                 0});
        });
        sorted.forEach([&](const EntryRecord& entry) {
            const std::string_view key = entry.key();
            if (unique && !entry.nulls()) {
                if (anyKeyed && lastKeyed == key)
                    refuseDuplicate({lastKeyed, lastKeyedRow, 0},
                                    {std::string(key), entry.row(), 0}, definition, index);
                lastKeyed.assign(key);
                lastKeyedRow = entry.row();
                anyKeyed = true;
            }
            if (keys == 0 || lastKey != key) {
                ++keys;
                lastKey.assign(key);
            }
            if (!tooLong)
                try {
                    filler.add(entry.stored());
                } catch (const std::length_error&) {
                    tooLong = std::current_exception();
                }
        });
        if (!tooLong)
            try {
                filler.finish();
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
    // The spooled leaves, each given its number's sibling links.
    std::size_t nextLeaf = firstLeaf;
    leaves.forEach([&](PageImage& image) {
        const IndexPage& leaf = placed.at(nextLeaf++);
        putU32(image, indexpage::PrevOffset, leaf.prev);
        putU32(image, indexpage::NextOffset, leaf.next);
        file.write(leaf.number, image);
    });
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
