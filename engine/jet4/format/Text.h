#pragma once
// Text as Jet 4 stores it. Names in table definitions and property blobs are plain UTF-16LE;
// values of Text and Memo columns are UTF-16LE or the "compressed" form: a 0xFF 0xFE marker, then
// runs of one byte per character (high byte zero) and runs of two bytes per character, each 0x00
// byte switching from one kind of run to the other, starting with one-byte runs.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace engine::jet4 {

// UTF-8 for UTF-16 code units; a lone surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

// Plain UTF-16LE bytes as code units; FormatError (naming `page`) for an odd byte count.
std::u16string utf16FromBytes(std::span<const std::uint8_t> bytes, std::uint32_t page);

// A stored Text or Memo value, compressed or plain; FormatError (naming `page`) when a two-byte
// run or a plain value has an odd byte count.
std::u16string decodeStoredText(std::span<const std::uint8_t> bytes, std::uint32_t page);

// The same into `out`, replacing what it held but keeping its room: a scan that decodes one
// column of every row reuses one string.
void decodeStoredText(std::span<const std::uint8_t> bytes, std::uint32_t page, std::u16string& out);

} // namespace engine::jet4
