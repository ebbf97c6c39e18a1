#pragma once
// Table definitions written back in Access's layout (see TableDefinition.h): the definition as
// one stretch of bytes, then cut into pages. Counts are taken from the vectors, so a definition
// edited by adding or removing columns and indexes is written consistently; `maxColumns`,
// `variableSlots` and the column numbers, slots and offsets are written as given.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/TableDefinition.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace engine::jet4 {

using PageImage = std::array<std::uint8_t, PageFile::PageSize>;

// The whole definition as the reader joins it: header, index headers, column descriptors, column
// names, index definitions, logical indexes and their names, long-value maps and the end marker.
// Bytes 0-7 are left zero; the page encoder fills them.
std::string encodeTableDefinitionBytes(const TableDefinition& definition);

// Pages a definition of `length` bytes takes.
std::size_t tableDefinitionPageCount(std::size_t length);

// The definition pages, first page first, chained through `continuationPages` (one page number
// per page after the first; std::invalid_argument when there are too few). Bytes past the
// definition are zero.
std::vector<PageImage> encodeTableDefinition(const TableDefinition& definition,
                                             std::span<const std::uint32_t> continuationPages);

} // namespace engine::jet4
