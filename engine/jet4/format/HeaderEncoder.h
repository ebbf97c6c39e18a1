#pragma once
// Page 0 written for a new database: the writing side of Header.h, whose table of offsets it
// follows. Besides the fields the reader takes, it writes what Access's own new files hold:
//
//   offset  size  field (after unmasking the area 0x18-0x97)
//   0x18    36    00 01 00 00, 01 01 00 00, then the numbers 2, 3, 4, 5 (4 bytes each), zeros:
//                 the same in every Jet 4 file examined
//   0x42    40    no password: only the creation-date mask (see Header.h) over zeros
//   0x6A    2     build of the Jet engine that wrote the file (Jet 4.0 SP8: 8618)
//   0x98    4     0x0654, then "4.0\0": the same in every Jet 4 file
//   0xE00   512   256 two-byte entries: 01 01, then 00 01 in every other one, in every new file

#include "engine/jet4/format/TableDefinitionEncoder.h"

#include <cstdint>

namespace engine::jet4 {

struct NewHeader {
    std::uint16_t codePage = 1252;
    std::uint16_t sortOrder = 1033; // General
    std::uint8_t sortVersion = 0;
    double created = 0; // days since 1899-12-30
    std::uint16_t engineBuild = 8618;
};

// Page 0 of a Jet 4 database without password or encoding, masked as readHeader expects.
PageImage encodeHeader(const NewHeader& header);

} // namespace engine::jet4
