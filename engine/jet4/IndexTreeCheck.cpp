#include "engine/jet4/IndexTreeCheck.h"

#include "engine/jet4/FormatError.h"
#include "engine/jet4/IndexPage.h"

#include <optional>
#include <set>
#include <string>

namespace engine::jet4 {

namespace {

// Deeper than any index of a 2 GiB file can be.
constexpr int MaxDepth = 32;

class TreeWalk {
public:
    TreeWalk(const PageFile& file, const TableDefinition& definition, const PhysicalIndex& index)
        : file_(file), owner_(definition.page),
          name_("index " + std::to_string(index.number) + " of table " +
                std::to_string(definition.page)) {}

    void run(std::uint32_t root) {
        walk(root, nullptr, 0);
        // The tail: leaves hung off the last one by their links, with no node entry.
        while (lastLeaf_ && lastLeaf_->next != 0)
            leaf(read(lastLeaf_->next));
    }

private:
    IndexPage read(std::uint32_t number) {
        if (!seen_.insert(number).second)
            fail(number, "is reached twice");
        IndexPage page = readIndexPage(file_, number);
        if (page.owner != owner_)
            fail(number, "names page " + std::to_string(page.owner) + " as its owner");
        return page;
    }

    void walk(std::uint32_t number, const IndexEntry* leading, int depth) {
        if (depth > MaxDepth)
            fail(number, "lies deeper than any index can reach");
        IndexPage page = read(number);
        if (leading && !page.entries.empty() &&
            (page.entries.back().key != leading->key || !(page.entries.back().row == leading->row)))
            fail(number, "does not end with the node entry that leads to it");
        if (page.leaf) {
            leaf(std::move(page));
            return;
        }
        for (const IndexEntry& entry : page.entries)
            walk(entry.child, &entry, depth + 1);
    }

    void leaf(IndexPage page) {
        const std::uint32_t before = lastLeaf_ ? lastLeaf_->number : 0;
        if (page.prev != before || (lastLeaf_ && lastLeaf_->next != page.number))
            fail(page.number, "is not linked to the leaf before it");
        for (const IndexEntry& entry : page.entries) {
            std::string full = entry.key;
            full += static_cast<char>(entry.row.page >> 16);
            full += static_cast<char>(entry.row.page >> 8);
            full += static_cast<char>(entry.row.page);
            full += static_cast<char>(entry.row.row);
            if (!first_ && full <= previous_)
                fail(page.number, "holds an entry that is not above the one before it");
            previous_ = std::move(full);
            first_ = false;
        }
        lastLeaf_ = std::move(page);
    }

    [[noreturn]] void fail(std::uint32_t page, const std::string& what) const {
        throw FormatError(page, "page " + std::to_string(page) + " of " + name_ + " " + what);
    }

    const PageFile& file_;
    std::uint32_t owner_;
    std::string name_;
    std::set<std::uint32_t> seen_;
    std::optional<IndexPage> lastLeaf_;
    std::string previous_;
    bool first_ = true;
};

} // namespace

void verifyIndexTree(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index) {
    TreeWalk(file, definition, index).run(index.rootPage);
}

} // namespace engine::jet4
