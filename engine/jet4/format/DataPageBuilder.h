#pragma once
// Data pages built in Access's layout (see DataPage.h): rows packed from the page end down in
// slot order with no gap between them, the slot table after the 14-byte header, and as free
// space 4096 - 14 - 2 * rows - the rows' bytes. The bytes between the slot table and the rows
// are zero (Access may leave old bytes there).
//
// Editing follows what Access does to a page: a deleted row keeps its slot, flagged 0xC000, and
// gives its bytes back (the rows below it move up); a row that outgrew its place keeps its slot
// and length, flagged 0x4000, its first 4 bytes pointing at the image elsewhere, which is added
// as a row flagged 0x8000.

#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinitionEncoder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet4 {

class DataPageBuilder {
public:
    struct Row {
        std::string bytes;
        bool pointer = false; // 0x4000
        bool notRow = false;  // 0x8000
    };

    explicit DataPageBuilder(std::uint32_t owner, std::uint32_t unknown = 0)
        : owner_(owner), unknown_(unknown) {}

    const std::vector<Row>& rows() const { return rows_; }
    // Bytes left for rows and their slots.
    std::size_t freeSpace() const;
    // Whether a row of `size` bytes (and its slot) still fits.
    bool fits(std::size_t size) const;

    // Adds a row (std::length_error when it does not fit) and returns its slot number.
    std::uint8_t addRow(std::string_view bytes, bool pointer = false, bool notRow = false);
    // Deletes row `slot`: flags 0xC000, its bytes reclaimed.
    void deleteRow(std::size_t slot);
    // Row `slot` now lives at `image`: flag 0x4000, first 4 bytes the pointer, the rest kept.
    void pointTo(std::size_t slot, RowLocation image);

    PageImage image() const;

private:
    std::size_t used() const;

    std::uint32_t owner_;
    std::uint32_t unknown_;
    std::vector<Row> rows_;
};

// The 4-byte pointer a row stores for `location` (row number, then the page in 3 bytes).
std::uint32_t rowPointer(RowLocation location);

} // namespace engine::jet4
