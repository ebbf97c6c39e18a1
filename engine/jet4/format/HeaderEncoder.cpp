#include "engine/jet4/format/HeaderEncoder.h"

#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/Header.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace engine::jet4 {

namespace {

// Offsets of Header.h's table (kept beside the reader's; the tests read every page 0 written
// here back with readHeader).
constexpr std::uint8_t Magic[] = {0x00, 0x01, 0x00, 0x00};
constexpr char JetSignature[] = "Standard Jet DB"; // 16 bytes with its terminating zero
constexpr std::size_t SignatureOffset = 0x04;
constexpr std::size_t VersionOffset = 0x14;
constexpr std::uint8_t Jet4Version = 1;

constexpr std::size_t MaskedOffset = 0x18;
constexpr std::size_t MaskedSize = 128;

constexpr std::size_t FixedFieldsOffset = 0x18;
constexpr std::uint32_t FixedFields[] = {0x0100, 0x0101, 2, 3, 4, 5};
constexpr std::size_t CodePageOffset = 0x3C;
constexpr std::size_t DatabaseKeyOffset = 0x3E;
constexpr std::size_t PasswordOffset = 0x42;
constexpr std::size_t PasswordSize = 40;
constexpr std::size_t EngineBuildOffset = 0x6A;
constexpr std::size_t SortOrderOffset = 0x6E;
constexpr std::size_t SortVersionOffset = 0x71;
constexpr std::size_t CreatedOffset = 0x72;

constexpr std::size_t FormatStampOffset = 0x98;
constexpr std::uint32_t FormatStamp = 0x0654;
constexpr char FormatVersion[] = "4.0";
constexpr std::size_t FormatVersionOffset = 0x9C;

constexpr std::size_t EntryTableOffset = 0xE00;
constexpr std::size_t EntryTableEntries = 256;

} // namespace

PageImage encodeHeader(const NewHeader& header) {
    PageImage page{};
    std::copy(std::begin(Magic), std::end(Magic), page.begin());
    std::memcpy(page.data() + SignatureOffset, JetSignature, sizeof JetSignature);
    putU8(page, VersionOffset, Jet4Version);

    for (std::size_t i = 0; i < std::size(FixedFields); ++i)
        putU32(page, FixedFieldsOffset + 4 * i, FixedFields[i]);
    putU16(page, CodePageOffset, header.codePage);
    putU32(page, DatabaseKeyOffset, 0);
    // An empty password is stored as its mask alone: the creation date's whole days, repeated.
    const double days = header.created;
    const auto dayNumber =
        std::isfinite(days) && std::fabs(days) < 2147483647.0 ? static_cast<std::int32_t>(days) : 0;
    for (std::size_t i = 0; i < PasswordSize; i += 4)
        putU32(page, PasswordOffset + i, static_cast<std::uint32_t>(dayNumber));
    putU16(page, EngineBuildOffset, header.engineBuild);
    putU16(page, SortOrderOffset, header.sortOrder);
    putU8(page, SortVersionOffset, header.sortVersion);
    putU64(page, CreatedOffset, std::bit_cast<std::uint64_t>(header.created));
    applyHeaderMask(std::span(page).subspan(MaskedOffset, MaskedSize));

    putU32(page, FormatStampOffset, FormatStamp);
    std::memcpy(page.data() + FormatVersionOffset, FormatVersion, sizeof FormatVersion);
    for (std::size_t i = 0; i < EntryTableEntries; ++i)
        putU16(page, EntryTableOffset + 2 * i, i == 0 ? 0x0101 : 0x0100);
    return page;
}

} // namespace engine::jet4
