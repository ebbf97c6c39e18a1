#pragma once
// Bounds-checked reads of little- and big-endian integers from a stretch of a page. Every field
// the reader takes from the file goes through a ByteView, so an offset or a length that runs past
// the structure it belongs to becomes a FormatError naming the structure and the page instead of
// a read past the buffer.

#include "engine/jet4/file/FormatError.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace engine::jet4 {

class ByteView {
public:
    // `structure` names what the bytes are ("table definition", "row") for error messages; it
    // must outlive the view (a string literal).
    ByteView(std::span<const std::uint8_t> bytes, std::uint32_t page, const char* structure)
        : bytes_(bytes), page_(page), structure_(structure) {}

    std::size_t size() const { return bytes_.size(); }
    std::uint32_t page() const { return page_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    std::uint8_t u8(std::size_t offset) const { return *at(offset, 1); }
    std::uint16_t u16(std::size_t offset) const {
        const std::uint8_t* p = at(offset, 2);
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    std::uint32_t u24(std::size_t offset) const {
        const std::uint8_t* p = at(offset, 3);
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    }
    std::uint32_t u32(std::size_t offset) const {
        const std::uint8_t* p = at(offset, 4);
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    }
    std::uint64_t u64(std::size_t offset) const {
        return std::uint64_t{u32(offset)} | std::uint64_t{u32(offset + 4)} << 32;
    }
    // Index pages store row pointers and child pages most significant byte first.
    std::uint32_t be24(std::size_t offset) const {
        const std::uint8_t* p = at(offset, 3);
        return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]};
    }
    std::uint32_t be32(std::size_t offset) const {
        const std::uint8_t* p = at(offset, 4);
        return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
               std::uint32_t{p[3]};
    }
    double f64(std::size_t offset) const {
        const std::uint64_t bits = u64(offset);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // The `length` bytes from `offset`, checked to lie inside the view.
    std::span<const std::uint8_t> span(std::size_t offset, std::size_t length) const {
        return {at(offset, length), length};
    }
    ByteView sub(std::size_t offset, std::size_t length, const char* structure) const {
        return ByteView(span(offset, length), page_, structure);
    }

    // Raises a FormatError about this structure.
    [[noreturn]] void fail(const std::string& what) const {
        throw FormatError(page_, std::string(structure_) + ": " + what);
    }

private:
    const std::uint8_t* at(std::size_t offset, std::size_t length) const {
        if (offset > bytes_.size() || length > bytes_.size() - offset)
            fail(std::to_string(length) + " bytes at offset " + std::to_string(offset) +
                 " run past its end (" + std::to_string(bytes_.size()) + " bytes)");
        return bytes_.data() + offset;
    }

    std::span<const std::uint8_t> bytes_;
    std::uint32_t page_;
    const char* structure_;
};

} // namespace engine::jet4
