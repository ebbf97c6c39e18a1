#include "engine/jet4/format/Header.h"

#include "engine/jet4/format/Bytes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace engine::jet4 {

namespace {

constexpr std::uint8_t Magic[] = {0x00, 0x01, 0x00, 0x00};
constexpr char JetSignature[] = "Standard Jet DB"; // followed by its terminating zero
constexpr char AceSignature[] = "Standard ACE DB";
constexpr std::size_t SignatureOffset = 0x04;
constexpr std::size_t SignatureSize = 16;
constexpr std::size_t VersionOffset = 0x14;
constexpr std::uint8_t Jet3Version = 0;
constexpr std::uint8_t Jet4Version = 1;

constexpr std::size_t MaskedOffset = 0x18;
constexpr std::size_t MaskedSize = 128;
constexpr std::array<std::uint8_t, 4> MaskKey = {0xC7, 0xDA, 0x39, 0x6B};

constexpr std::size_t CodePageOffset = 0x3C;
constexpr std::size_t DatabaseKeyOffset = 0x3E;
constexpr std::size_t PasswordOffset = 0x42;
constexpr std::size_t PasswordSize = 40;
constexpr std::size_t SortOrderOffset = 0x6E;
constexpr std::size_t SortVersionOffset = 0x71;
constexpr std::size_t CreatedOffset = 0x72;

bool signatureIs(std::span<const std::uint8_t> bytes, const char (&signature)[SignatureSize]) {
    return std::memcmp(bytes.data() + SignatureOffset, signature, SignatureSize) == 0;
}

} // namespace

void applyHeaderMask(std::span<std::uint8_t> data) {
    std::array<std::uint8_t, 256> state;
    for (std::size_t i = 0; i < state.size(); ++i)
        state[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < state.size(); ++i) {
        j = static_cast<std::uint8_t>(j + state[i] + MaskKey[i % MaskKey.size()]);
        std::swap(state[i], state[j]);
    }
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (std::uint8_t& byte : data) {
        a = static_cast<std::uint8_t>(a + 1);
        b = static_cast<std::uint8_t>(b + state[a]);
        std::swap(state[a], state[b]);
        byte ^= state[static_cast<std::uint8_t>(state[a] + state[b])];
    }
}

FileFormat sniffFormat(std::span<const std::uint8_t> firstBytes) {
    if (firstBytes.size() <= VersionOffset ||
        !std::equal(std::begin(Magic), std::end(Magic), firstBytes.begin()))
        return FileFormat::NotJet;
    const std::uint8_t version = firstBytes[VersionOffset];
    if (signatureIs(firstBytes, AceSignature))
        return FileFormat::Ace;
    if (!signatureIs(firstBytes, JetSignature))
        return FileFormat::NotJet;
    if (version == Jet3Version)
        return FileFormat::Jet3;
    return version == Jet4Version ? FileFormat::Jet4 : FileFormat::Ace;
}

DatabaseHeader readHeader(const PageFile& file) {
    const PageData page = file.page(0);
    if (sniffFormat(*page) != FileFormat::Jet4)
        throw FormatError(0, "not an Access 2000-2003 (Jet 4) database header");

    std::array<std::uint8_t, PageFile::PageSize> plain = *page;
    applyHeaderMask(std::span(plain).subspan(MaskedOffset, MaskedSize));
    const ByteView view(plain, 0, "database header");

    DatabaseHeader header;
    header.version = view.u8(VersionOffset);
    header.codePage = view.u16(CodePageOffset);
    header.databaseKey = view.u32(DatabaseKeyOffset);
    header.sortOrder = view.u16(SortOrderOffset);
    header.sortVersion = view.u8(SortVersionOffset);
    header.created = view.f64(CreatedOffset);

    // The password is masked once more with the creation date's day number; a non-zero byte
    // left after removing that mask means a password is set.
    const double days = header.created;
    const auto dayNumber =
        std::isfinite(days) && std::fabs(days) < 2147483647.0 ? static_cast<std::int32_t>(days) : 0;
    const auto dayBits = static_cast<std::uint32_t>(dayNumber);
    const auto password = view.span(PasswordOffset, PasswordSize);
    for (std::size_t i = 0; i < password.size(); ++i) {
        const auto mask = static_cast<std::uint8_t>(dayBits >> (8 * (i % 4)));
        if ((password[i] ^ mask) != 0)
            header.passwordSet = true;
    }
    return header;
}

} // namespace engine::jet4
