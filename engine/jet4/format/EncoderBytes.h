#pragma once
// Little- and big-endian stores into byte buffers, the writing side of ByteView: every encoder
// builds its structures with these.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace engine::jet4 {

inline void putU8(std::span<std::uint8_t> out, std::size_t at, std::uint8_t v) {
    out[at] = v;
}
inline void putU16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putU24(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 3; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putU32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putU64(std::span<std::uint8_t> out, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putBe24(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 3; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * (2 - i)));
}
inline void putBe32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// A growing byte string written field by field.
class ByteAppender {
public:
    void u8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void zeros(std::size_t n) { bytes_.append(n, '\0'); }
    void append(std::string_view bytes) { bytes_ += bytes; }
    void append(std::span<const std::uint8_t> bytes) { bytes_.append(bytes.begin(), bytes.end()); }
    // UTF-16LE code units, no length.
    void utf16(std::u16string_view text) {
        for (const char16_t c : text)
            u16(static_cast<std::uint16_t>(c));
    }
    // A 2-byte byte length, then the UTF-16LE name.
    void name(std::u16string_view text) {
        u16(static_cast<std::uint16_t>(text.size() * 2));
        utf16(text);
    }
    std::size_t size() const { return bytes_.size(); }
    std::string& bytes() { return bytes_; }

private:
    std::string bytes_;
};

inline std::span<std::uint8_t> writable(std::string& s) {
    return {reinterpret_cast<std::uint8_t*>(s.data()), s.size()};
}

} // namespace engine::jet4
