#pragma once
// How far into the file the database reaches: the pages its catalog leads to, so that a free-page
// map counting pages past the end of the file as used can be told apart from a file cut short.
// Access and Jackcess leave maps of the first kind behind (the file was compacted or cut back to
// its last page in use, the map left as it was); nothing of the database is missing from them.

#include "engine/jet4/file/PageFile.h"

#include <cstdint>

namespace engine::jet4 {

// One past the highest page the database needs: every table's definition chain (the catalog's
// tables, system tables included), the rows and type-0x05 pages of its usage maps (owned pages,
// pages with free space, each index's and each long-value column's) and every page those maps
// list, every page of each index's tree (its node pages read, their children and each page's
// neighbours at its level), and the global free-page map's row and pages. FormatError when
// something on the way cannot be read, such as a definition chain or a map page past the end.
std::uint32_t pagesInReachEnd(const PageFile& file);

} // namespace engine::jet4
