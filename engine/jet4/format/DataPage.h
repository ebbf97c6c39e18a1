#pragma once
// A data page (type 0x01): the rows of one table, or long-value rows ("LVAL" in place of the
// owner), or usage-map rows (owner 0 or 1).
//
//   offset  size  field
//   0       1     page type 0x01
//   1       1     always 0x01
//   2       2     free space
//   4       4     owner: the table definition page ("LVAL" on long-value pages)
//   8       4     unknown
//   12      2     row count
//   14      2*n   row slots, one per row
//
// A slot's low 13 bits give where its row starts; rows are packed from the end of the page
// downwards, so row 0 ends at the page end and each other row ends where the one before it
// starts. Flag 0x4000 on its own: the row's first 4 bytes point at the row's real image elsewhere
// (row number 1 byte, page 3 bytes LE), the row having outgrown its place. Flag 0x8000: not a row
// of its own — either deleted (Access sets both flags and reclaims the bytes) or the image an
// overflow pointer leads to.

#include "engine/jet4/file/PageFile.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace engine::jet4 {

// Where a row lives: the page and its slot number there.
struct RowLocation {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    friend bool operator==(const RowLocation&, const RowLocation&) = default;
};

// A 4-byte row pointer as tables, long values and usage maps store it (little-endian: the row
// number in the low byte, the page in the upper three bytes).
inline RowLocation rowLocationFromPointer(std::uint32_t pointer) {
    return {pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF)};
}

inline constexpr std::uint8_t DataPageType = 0x01;

// Offsets and flags of the layout above, shared by the reader and the builder.
namespace datapage {
inline constexpr std::size_t TypeOffset = 0;
inline constexpr std::size_t FreeSpaceOffset = 2;
inline constexpr std::size_t OwnerOffset = 4;
inline constexpr std::size_t UnknownOffset = 8;
inline constexpr std::size_t RowCountOffset = 12;
inline constexpr std::size_t SlotSize = 2;
inline constexpr std::uint16_t SlotOffsetMask = 0x1FFF;
inline constexpr std::uint16_t PointerFlag = 0x4000;
inline constexpr std::uint16_t NotRowFlag = 0x8000;
} // namespace datapage
inline constexpr std::uint32_t LongValueOwner = 0x4C41564C; // "LVAL" read little-endian

struct RowSlot {
    std::uint16_t start = 0; // offset in the page
    std::uint16_t end = 0;   // one past the row's last byte
    bool pointer = false;    // 0x4000: overflow pointer (or deleted, with `notRow`)
    bool notRow = false;     // 0x8000: deleted or an overflow image
    // True for a slot that is its table's row: holds the row itself or points at its image.
    bool isTableRow() const { return !notRow; }
    bool isDeleted() const { return notRow && pointer; }
};

class DataPage {
public:
    static constexpr std::size_t HeaderSize = 14;

    // Checks the page type and every slot (start inside the row area, start <= end);
    // FormatError naming the page otherwise.
    DataPage(PageData bytes, std::uint32_t number);

    std::uint32_t number() const { return number_; }
    const PageData& bytes() const { return bytes_; }
    std::uint16_t freeSpace() const { return freeSpace_; }
    std::uint32_t owner() const { return owner_; }
    std::uint32_t unknown() const { return unknown_; } // +8, written back as read
    const std::vector<RowSlot>& rowSlots() const { return slots_; }
    // The bytes of row `row`; FormatError when the page has no such slot.
    std::span<const std::uint8_t> row(std::size_t row) const;

private:
    PageData bytes_;
    std::uint32_t number_;
    std::uint16_t freeSpace_ = 0;
    std::uint32_t owner_ = 0;
    std::uint32_t unknown_ = 0;
    std::vector<RowSlot> slots_;
};

// Reads and checks page `number` as a data page.
DataPage readDataPage(const PageFile& file, std::uint32_t number);

} // namespace engine::jet4
