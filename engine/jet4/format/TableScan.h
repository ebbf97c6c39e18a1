#pragma once
// Every live row of a table, streamed page by page. The pages are those of the table's
// owned-pages usage map, in page order; each must be a data page owned by the table. On a page:
//   - a slot flagged 0x8000 is no row of its own (deleted, or an overflow image reached through
//     its pointer) and is skipped;
//   - a slot flagged 0x4000 alone holds a pointer to the row's image (row 1 byte, page 3 bytes
//     LE), which is followed (images may point on again; a loop is an error); the row is
//     reported at the pointer slot's location, where index entries point;
//   - any other slot is the row.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Value.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace engine::jet4 {

// Called once per row with its location and values (indexed like the definition's columns);
// returning false stops the scan.
using RowVisitor = std::function<bool(RowLocation, const std::vector<Value>&)>;

// Visits every live row of `definition`'s table; `wanted` selects the columns decoded as in
// decodeRow. FormatError for a page that is not the table's data page or any damaged row.
void scanRows(const PageFile& file, const TableDefinition& definition, const RowVisitor& visit,
              const std::vector<bool>& wanted = {});

// Called once per row with its location, the bytes of its image and the page holding the image
// (not the location's page when the row was moved); returning false stops the scan.
using RowImageVisitor =
    std::function<bool(RowLocation, std::span<const std::uint8_t> image, std::uint32_t page)>;

// The same rows undecoded, for a caller that decodes only what it needs of each (decodeColumns).
// FormatError for a page that is not the table's data page or a broken overflow pointer.
void scanRowImages(const PageFile& file, const TableDefinition& definition,
                   const RowImageVisitor& visit);

} // namespace engine::jet4
