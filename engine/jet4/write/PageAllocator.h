#pragma once
// Pages taken for a table and the usage maps that record them, changed as Access changes them.
// Everything here writes through PageFile inside the caller's transaction level.
//
// New pages are always added at the end of the file (free pages are never reused, as jackcess
// does too), and their bits are cleared in the global free-page map (page 1, row 0; a set bit
// means free, pages past the end included). That map is inline in Access's files, its bitmap
// growing with the file: max(64, the pages it covers / 8 rounded up to 4 bytes), as
// testV2000.mdb (743 pages, 96 bytes) and testV2003.mdb (772 pages, 100 bytes) show. When page 1
// has no room left for a longer row (a file of about 32,000 pages) the map becomes a reference
// map: type-0x05 pages appended at the end, each covering 32,736 pages, one added whenever the
// file reaches a new range, up to the 2 GiB a Jet 4 file may have (std::length_error past it).

// A table's (or a long-value column's) maps keep their kind and their row's length. An inline
// map takes Access's start page for its pages (inlineUsageMapStart) and, when they no longer fit
// its bitmap, becomes a reference map listing type-0x05 pages, as many as its row has room for.
// Maps of pages with free space are hints: when a page does not fit an inline one, the lowest
// pages are dropped from it instead (they simply receive no more rows), so that it stays inline
// as every Access file keeps it.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/DataPageBuilder.h"
#include "engine/jet4/format/TableDefinitionEncoder.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace engine::jet4 {

// The bytes of the global free-page map's bitmap that cover `pages` pages from its first page.
std::size_t globalUsageMapBitmapSize(std::uint32_t pages);

// Appends `bytes` as a new page, marks it used in the global free-page map and returns its
// number. std::length_error when the map cannot cover the page (see above). When the map already
// counts the new page as used, the file ends before pages the map names: FormatError (cut short)
// when the database reaches that far (PagesInReach.h), otherwise the map's pages from the old end
// on become free, as Access marks pages past the end, and the page is handed out.
std::uint32_t allocatePage(PageFile& file, const PageImage& bytes);

// Marks `page` free in the global free-page map (a set bit). A page the map does not cover stays
// as it is: the map then counts it as used, which wastes it but harms nothing.
void markPageFree(PageFile& file, std::uint32_t page);

// What to do when a page does not fit an inline table map's bitmap.
enum class MapOverflow {
    Reference, // become a reference map (owned-pages maps)
    DropLowest // forget the lowest pages (pages-with-free-space maps)
};

// Adds `page` to / removes it from the map at `mapPointer` (row in the low byte, page above).
// Nothing changes when the page is already in / not in the map. std::length_error when a
// reference map's row has no entry for the page's range.
void addToUsageMap(PageFile& file, std::uint32_t mapPointer, std::uint32_t page,
                   MapOverflow overflow);
void removeFromUsageMap(PageFile& file, std::uint32_t mapPointer, std::uint32_t page);

// Whether the map at `mapPointer` lists `page`.
bool usageMapHas(const PageFile& file, std::uint32_t mapPointer, std::uint32_t page);

// The rows of a data page in slot order, with their flags, ready to be edited and packed again.
std::vector<DataPageBuilder::Row> pageRows(const DataPage& page);

// The page holding `rows` packed in Access's layout, or nothing when they do not fit one page.
std::optional<PageImage> packRows(std::uint32_t owner, std::uint32_t unknown,
                                  const std::vector<DataPageBuilder::Row>& rows);

// A row to pack, its bytes held elsewhere (on a page being rewritten, or by the caller).
struct PackedRow {
    std::string_view bytes;
    bool pointer = false; // 0x4000
    bool notRow = false;  // 0x8000
};

// The same for rows the caller holds: no row is copied but into the page.
std::optional<PageImage> packRows(std::uint32_t owner, std::uint32_t unknown,
                                  std::span<const PackedRow> rows);

// The rows of a data page in slot order, viewing the page's bytes (valid while `page` lives).
std::vector<PackedRow> pageRowViews(const DataPage& page);

// The bytes the page's rows and slots take once packed, its header included.
std::size_t packedSize(const DataPage& page);

// Rewrites row `location` with `bytes` (its flags kept), the page's other rows moved as needed;
// false, with nothing written, when the page cannot hold it.
bool replaceRow(PageFile& file, RowLocation location, std::string_view bytes);

} // namespace engine::jet4
