#pragma once
// Usage maps written in Access's layout (see UsageMap.h). An inline map covers the pages from
// its first page for as many bits as its row holds (Access: 64 bytes of bitmap for a table's
// maps, more for the global map of a large file); a reference map lists type-0x05 pages, map
// page k covering the pages from k * PagesPerMapPage.

#include "engine/jet4/format/TableDefinitionEncoder.h"
#include "engine/jet4/format/UsageMap.h"

#include <cstdint>
#include <span>
#include <string>

namespace engine::jet4 {

inline constexpr std::size_t TableUsageMapBitmapSize = 64;

// The first page Access gives an inline map of `pages` (ascending): 0 while every page fits the
// bitmap from page 0, else the lowest page rounded down to a multiple of 8.
std::uint32_t inlineUsageMapStart(std::span<const std::uint32_t> pages,
                                  std::size_t bitmapSize = TableUsageMapBitmapSize);

// The inline map row of `pages` (ascending or not) from `firstPage`, with `bitmapSize` bytes
// of bitmap; std::invalid_argument for a page it cannot cover.
std::string encodeInlineUsageMap(std::uint32_t firstPage, std::span<const std::uint32_t> pages,
                                 std::size_t bitmapSize = TableUsageMapBitmapSize);

// The reference map row listing `mapPages` (0 where a range has no map page).
std::string encodeReferenceUsageMap(std::span<const std::uint32_t> mapPages);

// Map page number `index` of a reference map: the bits of the `pages` in its range.
PageImage buildUsageMapPage(std::size_t index, std::span<const std::uint32_t> pages);

} // namespace engine::jet4
