#pragma once
// The shape of an index's B-tree, checked before a change relies on it: a change that leaves an
// index as it is must not commit over a tree that is already broken, or the damage would be
// carried into a file the tool calls upgraded.
//
// Walked from the root: every page an index page (node or leaf) of this table, reached once; each
// node entry equal to the last entry of the page it leads to; the leaves, the tail hung off the
// last one included, linked to each other in order; the entries (key, then row pointer) strictly
// ascending. Reads every page of the tree once and keeps only the page numbers seen. Keys are not
// compared with the rows' values: that is the checker's deeper work.

#include "engine/jet4/PageFile.h"
#include "engine/jet4/TableDefinition.h"

namespace engine::jet4 {

// FormatError naming the page and the index for the first fault found.
void verifyIndexTree(const PageFile& file, const TableDefinition& definition,
                     const PhysicalIndex& index);

} // namespace engine::jet4
