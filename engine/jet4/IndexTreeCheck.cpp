#include "engine/jet4/IndexTreeCheck.h"

#include "engine/jet4/FormatError.h"
#include "engine/jet4/IndexPage.h"

#include <set>
#include <string>
#include <string_view>

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
        while (lastLeaf_ != 0 && lastLeafNext_ != 0) {
            const std::uint32_t next = lastLeafNext_;
            const PageData data = read(next);
            const IndexPage header = readIndexPageHeader(data, next);
            requireOwner(header);
            leaf(header, data, nullptr);
        }
    }

private:
    PageData read(std::uint32_t number) {
        if (!seen_.insert(number).second)
            fail(number, "is reached twice");
        return file_.page(number);
    }

    void requireOwner(const IndexPage& page) const {
        if (page.owner != owner_)
            fail(page.number, "names page " + std::to_string(page.owner) + " as its owner");
    }

    void walk(std::uint32_t number, const IndexEntry* leading, int depth) {
        if (depth > MaxDepth)
            fail(number, "lies deeper than any index can reach");
        const PageData data = read(number);
        const IndexPage header = readIndexPageHeader(data, number);
        requireOwner(header);
        if (header.leaf) {
            leaf(header, data, leading);
            return;
        }
        const IndexPage page = readIndexPage(file_, number);
        if (leading && !page.entries.empty() &&
            (page.entries.back().key != leading->key || !(page.entries.back().row == leading->row)))
            fail(number, "does not end with the node entry that leads to it");
        for (const IndexEntry& entry : page.entries)
            walk(entry.child, &entry, depth + 1);
    }

    // A leaf's entries are its keys and row pointers, which order the index: each must be above
    // the one before it, across leaves too. Faults are told in the order the page's end, its
    // links, then its entries.
    void leaf(const IndexPage& page, const PageData& data, const IndexEntry* leading) {
        bool any = false;
        bool misordered = false;
        forEachIndexEntry(data, page.number, [&](std::span<const std::uint8_t> entry) {
            const std::string_view bytes(reinterpret_cast<const char*>(entry.data()), entry.size());
            misordered = misordered || (!first_ && bytes <= previous_);
            previous_.assign(bytes);
            first_ = false;
            any = true;
        });
        if (leading && any) {
            std::string expected = leading->key;
            expected += static_cast<char>(leading->row.page >> 16);
            expected += static_cast<char>(leading->row.page >> 8);
            expected += static_cast<char>(leading->row.page);
            expected += static_cast<char>(leading->row.row);
            if (previous_ != expected)
                fail(page.number, "does not end with the node entry that leads to it");
        }
        if (page.prev != lastLeaf_ || (lastLeaf_ != 0 && lastLeafNext_ != page.number))
            fail(page.number, "is not linked to the leaf before it");
        if (misordered)
            fail(page.number, "holds an entry that is not above the one before it");
        lastLeaf_ = page.number;
        lastLeafNext_ = page.next;
    }

    [[noreturn]] void fail(std::uint32_t page, const std::string& what) const {
        throw FormatError(page, "page " + std::to_string(page) + " of " + name_ + " " + what);
    }

    const PageFile& file_;
    std::uint32_t owner_;
    std::string name_;
    std::set<std::uint32_t> seen_;
    std::uint32_t lastLeaf_ = 0; // 0 until the first leaf (page 0 is never an index page)
    std::uint32_t lastLeafNext_ = 0;
    std::string previous_;
    bool first_ = true;
};

} // namespace

void verifyIndexTree(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index) {
    TreeWalk(file, definition, index).run(index.rootPage);
}

} // namespace engine::jet4
