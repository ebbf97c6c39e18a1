#include "engine/jet4/index/IndexTreeCheck.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/index/IndexPage.h"

#include <optional>
#include <set>
#include <string_view>

namespace engine::jet4 {

namespace {

// Deeper than any index of a 2 GiB file can be.
constexpr int MaxDepth = 32;

std::string pageText(std::uint32_t page) {
    return "page " + std::to_string(page);
}

class TreeWalk {
public:
    TreeWalk(const PageFile& file, std::uint32_t owner, const IndexTreeVisitor& visitor)
        : file_(file), owner_(owner), visitor_(visitor) {}

    std::vector<std::uint32_t> run(std::uint32_t root) {
        walk(root, 0, 0);
        followHungLeaves();
        checkNodeLinks();
        return std::move(pages_);
    }

private:
    // The first and last entries (key, then row pointer) of a subtree's leaves; empty when the
    // subtree holds none or could not be read.
    struct Range {
        std::string first, last;
        bool empty = true;
    };

    struct NodeAtLevel {
        std::uint32_t number, prev, next, parent;
    };

    void fault(std::string kind, std::uint32_t page, std::string detail) {
        visitor_.finding({true, std::move(kind), page, std::move(detail)});
    }
    void note(std::string kind, std::uint32_t page, std::string detail) {
        visitor_.finding({false, std::move(kind), page, std::move(detail)});
    }

    // The page's bytes and header, or nothing after telling why it cannot serve as an index
    // page of this table.
    std::optional<std::pair<PageData, IndexPage>> read(std::uint32_t number) {
        if (!seen_.insert(number).second) {
            fault("index-loop", number, pageText(number) + " is reached twice");
            return std::nullopt;
        }
        pages_.push_back(number);
        try {
            PageData data = file_.page(number);
            IndexPage header = readIndexPageHeader(data, number);
            if (header.owner != owner_)
                fault("page-owner", number,
                      pageText(number) + " names page " + std::to_string(header.owner) +
                          " as its owner");
            return std::make_pair(std::move(data), std::move(header));
        } catch (const FormatError& e) {
            fault("index-page", number, e.what());
            return std::nullopt;
        }
    }

    Range walk(std::uint32_t number, std::uint32_t parent, int depth) {
        if (depth > MaxDepth) {
            fault("index-loop", number, pageText(number) + " lies deeper than any index can reach");
            return {};
        }
        auto page = read(number);
        if (!page)
            return {};
        const auto& [data, header] = *page;
        if (header.leaf) {
            if (leafDepth_ < 0)
                leafDepth_ = depth;
            else if (depth != leafDepth_)
                fault("index-depth", number,
                      "leaf " + pageText(number) + " lies " + std::to_string(depth) +
                          " levels below the root, the first leaf " + std::to_string(leafDepth_));
            Range range = leaf(header, data);
            if (range.empty && depth > 0)
                fault("index-page", number,
                      "leaf " + pageText(number) + " below the root is empty");
            return range;
        }
        if (leafDepth_ >= 0 && depth >= leafDepth_)
            fault("index-depth", number,
                  "node " + pageText(number) + " lies as deep as the leaves or deeper");
        if (nodeLevels_.size() <= static_cast<std::size_t>(depth))
            nodeLevels_.resize(depth + 1);
        nodeLevels_[depth].push_back({number, header.prev, header.next, parent});

        IndexPage node;
        try {
            node = readIndexPage(file_, number);
        } catch (const FormatError& e) {
            fault("index-page", number, e.what());
            return {};
        }
        if (node.entries.empty())
            fault("index-page", number, "node " + pageText(number) + " lists no entry");
        Range whole;
        const std::string* below = nullptr; // the entry the next child's keys must lie above
        std::string entryBytes;
        const auto child = [&](std::uint32_t childPage, const std::string* leading) {
            const Range range = walk(childPage, number, depth + 1);
            if (range.empty)
                return;
            if (below && range.first <= *below)
                fault("index-node-key", number,
                      "on node " + pageText(number) + " the entry before the one leading to " +
                          pageText(childPage) + " is not below that page's first entry");
            if (leading && *leading < range.last)
                fault("index-node-key", number,
                      "on node " + pageText(number) + " the entry leading to " +
                          pageText(childPage) + " lies below the last entry under that page");
            else if (leading && range.last < *leading)
                note("index-node-key", number,
                     "on node " + pageText(number) + " the entry leading to " +
                         pageText(childPage) +
                         " lies above the last entry left under that page, as after deletions");
            if (whole.empty)
                whole.first = range.first;
            whole.last = range.last;
            whole.empty = false;
        };
        std::string previousEntry;
        for (const IndexEntry& entry : node.entries) {
            entryBytes = entry.key;
            entryBytes += static_cast<char>(entry.row.page >> 16);
            entryBytes += static_cast<char>(entry.row.page >> 8);
            entryBytes += static_cast<char>(entry.row.page);
            entryBytes += static_cast<char>(entry.row.row);
            if (below && entryBytes <= *below)
                fault("index-order", number,
                      "node " + pageText(number) +
                          " holds an entry that is not above the one "
                          "before it");
            child(entry.child, &entryBytes);
            previousEntry = entryBytes;
            below = &previousEntry;
        }
        if (header.tail != 0)
            child(header.tail, nullptr);
        return whole;
    }

    // A leaf's entries order the index: each must be above the one before it, across leaves too.
    // Faults are told in the order the page's end, its links, then its entries.
    Range leaf(const IndexPage& page, const PageData& data) {
        Range range;
        bool misordered = false;
        try {
            forEachIndexEntry(data, page.number, [&](std::span<const std::uint8_t> entry) {
                const std::string_view bytes(reinterpret_cast<const char*>(entry.data()),
                                             entry.size());
                misordered = misordered || (!first_ && bytes <= previous_);
                previous_.assign(bytes);
                first_ = false;
                if (range.empty)
                    range.first.assign(bytes);
                range.empty = false;
                if (visitor_.leafEntry)
                    visitor_.leafEntry(page.number, entry);
            });
        } catch (const FormatError& e) {
            fault("index-page", page.number, e.what());
        }
        if (!range.empty)
            range.last = previous_;
        if (page.prev != lastLeaf_ || (lastLeaf_ != 0 && lastLeafNext_ != page.number))
            fault("index-link", page.number,
                  "leaf " + pageText(page.number) + " is not linked to the leaf before it");
        if (misordered)
            fault("index-order", page.number,
                  "leaf " + pageText(page.number) +
                      " holds an entry that is not above the one before it");
        lastLeaf_ = page.number;
        lastLeafNext_ = page.next;
        return range;
    }

    // Leaves hung off the last one by their links alone.
    void followHungLeaves() {
        while (lastLeaf_ != 0 && lastLeafNext_ != 0) {
            const std::uint32_t from = lastLeaf_, next = lastLeafNext_;
            auto page = read(next);
            if (!page)
                return;
            if (!page->second.leaf) {
                fault("index-link", next,
                      "leaf " + pageText(from) + " links to " + pageText(next) +
                          ", which is not a leaf");
                return;
            }
            leaf(page->second, page->first);
        }
    }

    void checkNodeLinks() {
        for (const auto& level : nodeLevels_)
            for (std::size_t i = 0; i < level.size(); ++i) {
                const NodeAtLevel& page = level[i];
                const bool prevSibling = i > 0 && level[i - 1].parent == page.parent;
                const bool nextSibling = i + 1 < level.size() && level[i + 1].parent == page.parent;
                const bool prevOk =
                    page.prev == 0 || (prevSibling && page.prev == level[i - 1].number &&
                                       level[i - 1].next == page.number);
                const bool nextOk =
                    page.next == 0 || (nextSibling && page.next == level[i + 1].number &&
                                       level[i + 1].prev == page.number);
                if (!prevOk || !nextOk)
                    fault("index-link", page.number,
                          "node " + pageText(page.number) + " links to pages " +
                              std::to_string(page.prev) + " and " + std::to_string(page.next) +
                              ", not only to its neighbours under the same parent, both ways");
            }
    }

    const PageFile& file_;
    std::uint32_t owner_;
    const IndexTreeVisitor& visitor_;
    std::vector<std::uint32_t> pages_;
    std::set<std::uint32_t> seen_;
    std::vector<std::vector<NodeAtLevel>> nodeLevels_; // by depth, in key order
    int leafDepth_ = -1;
    std::uint32_t lastLeaf_ = 0; // 0 until the first leaf (page 0 is never an index page)
    std::uint32_t lastLeafNext_ = 0;
    std::string previous_;
    bool first_ = true;
};

} // namespace

std::vector<std::uint32_t> walkIndexTree(const PageFile& file, std::uint32_t owner,
                                         std::uint32_t root, const IndexTreeVisitor& visitor) {
    return TreeWalk(file, owner, visitor).run(root);
}

void verifyIndexTree(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index) {
    const std::string name =
        "index " + std::to_string(index.number) + " of table " + std::to_string(definition.page);
    IndexTreeVisitor visitor;
    visitor.finding = [&](const IndexTreeFinding& f) {
        if (f.fault)
            throw FormatError(f.page, "in " + name + ", " + f.detail);
    };
    walkIndexTree(file, definition.page, index.rootPage, visitor);
}

} // namespace engine::jet4
