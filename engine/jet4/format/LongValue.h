#pragma once
// Memo and OLE values. The row holds a 12-byte header; the value itself is either right after it
// or in long-value rows on data pages whose owner field reads "LVAL".
//
//   offset  size  field
//   0       4     length (low 30 bits) | 0x80000000 value follows inline
//                                      | 0x40000000 value is one long-value row
//                                      | neither: value is a chain of long-value rows
//   4       4     row pointer of the (first) long-value row (row in the low byte, page above)
//   8       4     unknown
//   12      ...   inline value
//
// Each row of a chain starts with the row pointer of the next (0 after the last), then a part
// of the value.

#include "engine/jet4/file/PageFile.h"

#include <cstdint>
#include <span>
#include <string>

namespace engine::jet4 {

inline constexpr std::size_t LongValueHeaderSize = 12;

// Offsets and flags of the layout above, shared by the reader and the encoder.
namespace longvalue {
inline constexpr std::size_t LengthOffset = 0;
inline constexpr std::size_t PointerOffset = 4;
inline constexpr std::uint32_t LengthMask = 0x3FFFFFFF;
inline constexpr std::uint32_t InlineFlag = 0x80000000;
inline constexpr std::uint32_t SingleRowFlag = 0x40000000;
inline constexpr std::size_t ChainNextOffset = 0;
inline constexpr std::size_t ChainDataOffset = 4;
} // namespace longvalue

// The stored bytes of the long value whose row field is `field` (found on `page`); FormatError
// for a header that does not fit, a pointer to a missing row, a chain that loops or ends early.
std::string readLongValue(const PageFile& file, std::span<const std::uint8_t> field,
                          std::uint32_t page);

} // namespace engine::jet4
