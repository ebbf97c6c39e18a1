#pragma once
// Page 0 of an Access file: the format signature, the Jet version and the database-wide settings.
//
//   offset  size  field
//   0x00    4     00 01 00 00
//   0x04    16    "Standard Jet DB\0" (Access 97-2003) or "Standard ACE DB\0" (2007 and later)
//   0x14    1     version: 0 = Jet 3 (Access 97), 1 = Jet 4 (2000-2003), 2 and up = ACE
//   0x18    128   area masked with RC4 under the key C7 DA 39 6B; after unmasking:
//   0x3C    2       code page
//   0x3E    4       database key (non-zero when the file is encoded)
//   0x42    40      database password, UTF-16, additionally XORed with the 4 bytes of the
//                   creation date's whole number of days (int32 LE), repeated
//   0x6E    2       default text sort order (1033 = "General")
//   0x71    1       its version
//   0x72    8       creation date (double, days since 1899-12-30)

#include "engine/jet4/file/PageFile.h"

#include <cstdint>
#include <span>

namespace engine::jet4 {

enum class FileFormat { Jet3, Jet4, Ace, NotJet };

// The format a file claims in its first bytes (at least 0x15 of them; fewer give NotJet), so a
// caller can refuse a format before reading further.
FileFormat sniffFormat(std::span<const std::uint8_t> firstBytes);

struct DatabaseHeader {
    std::uint8_t version = 0; // 1 for Jet 4
    std::uint16_t codePage = 0;
    std::uint16_t sortOrder = 0; // 1033 = General
    std::uint16_t sortVersion = 0;
    std::uint32_t databaseKey = 0; // non-zero: the pages are encoded
    bool passwordSet = false;
    double created = 0; // days since 1899-12-30
};

// XORs the RC4 keystream of the header's fixed key over `data` (the area from 0x18): the same
// operation masks and unmasks.
void applyHeaderMask(std::span<std::uint8_t> data);

// Reads page 0; FormatError (page 0) unless it is a Jet 4 header.
DatabaseHeader readHeader(const PageFile& file);

} // namespace engine::jet4
