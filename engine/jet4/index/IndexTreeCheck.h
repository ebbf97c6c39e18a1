#pragma once
// The rules an index's B-tree keeps so that every reader finds every row through it and every
// writer can extend it, stated once and walked here: by the store before a change relies on a
// tree (a change that leaves an index as it is must not commit over a tree that is already
// broken), and by the checker.
//
// The tree, as Access's files and the strictest independent writer (Jackcess) hold it:
//   - Every page reached is an index page (0x03 node, 0x04 leaf) owned by the table, reached
//     once; every leaf reached from the root lies at the same depth. Only the root may be empty
//     (an index of no rows); a node page lists at least one entry.
//   - A node page's children are the pages its entries name, in order, then its tail (+20) when
//     that is set. The tail child has no entry on the node: every key under it lies above the
//     node's last entry. Access hangs the last leaf off the node above the leaves that way, and
//     Jackcess makes the last child of any node page its tail.
//   - Each node entry (key, then row pointer) equals the last entry of its child's whole subtree,
//     tails included, and lies below the first entry of the next child's subtree. After
//     deletions Access leaves an entry above what is left in its child: every search still
//     descends to the right page, so that is a note. An entry below its subtree's last entry is
//     a fault: a search for the keys above it stops short.
//   - The leaves, in key order, are linked to each other both ways, the first with no previous
//     page and the last with no next. Access may hang further leaves off the last one by these
//     links alone, with no node entry: they are followed, and their entries come after.
//   - Node pages link only to their neighbour at the same level under the same parent, both
//     ways, or to nothing (readers take a link across parents for a broken tree).
//   - Entries (key, then row pointer) strictly ascend across all the leaves.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/TableDefinition.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace engine::jet4 {

// One thing the walk found. Faults break a rule above; notes are what Access itself leaves in
// healthy files.
struct IndexTreeFinding {
    bool fault = true;
    std::string kind;   // "index-page", "page-owner", "index-loop", "index-depth",
                        // "index-node-key", "index-link", "index-order"
    std::uint32_t page; // the page it concerns
    std::string detail; // a sentence naming the page: "page 12 is reached twice"
};

struct IndexTreeVisitor {
    // Called for each finding as it is met; the walk goes on after it unless this throws.
    std::function<void(const IndexTreeFinding&)> finding;
    // Called, when set, with each leaf entry in walk order (key, then row pointer; valid during
    // the call only) and the leaf page holding it.
    std::function<void(std::uint32_t page, std::span<const std::uint8_t> entry)> leafEntry;
};

// Walks the tree of `root`, whose pages `owner` (the table definition page) owns, calling
// `visitor` as above. Returns every page reached, in walk order. Reads every page of the tree
// once and keeps only one node page per level in memory.
std::vector<std::uint32_t> walkIndexTree(const PageFile& file, std::uint32_t owner,
                                         std::uint32_t root, const IndexTreeVisitor& visitor);

// FormatError naming the page and the index for the first fault found; notes pass.
void verifyIndexTree(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index);

} // namespace engine::jet4
