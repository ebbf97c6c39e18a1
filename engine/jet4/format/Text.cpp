#include "engine/jet4/format/Text.h"

#include "engine/jet4/file/FormatError.h"

namespace engine::jet4 {

namespace {

constexpr std::uint8_t CompressionMarker[] = {0xFF, 0xFE};
constexpr std::uint8_t RunSwitch = 0x00;
constexpr char32_t Replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendUnits(std::u16string& out, std::span<const std::uint8_t> bytes, std::uint32_t page) {
    if (bytes.size() % 2 != 0)
        throw FormatError(page, "UTF-16 text has an odd number of bytes (" +
                                    std::to_string(bytes.size()) + ")");
    const std::size_t at = out.size();
    out.resize(at + bytes.size() / 2);
    char16_t* to = out.data() + at;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        *to++ = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
}

} // namespace

std::string utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) +
                                (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, Replacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string utf16FromBytes(std::span<const std::uint8_t> bytes, std::uint32_t page) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    appendUnits(out, bytes, page);
    return out;
}

std::u16string decodeStoredText(std::span<const std::uint8_t> bytes, std::uint32_t page) {
    std::u16string out;
    decodeStoredText(bytes, page, out);
    return out;
}

void decodeStoredText(std::span<const std::uint8_t> bytes, std::uint32_t page,
                      std::u16string& out) {
    out.clear();
    const bool compressed = bytes.size() >= sizeof CompressionMarker &&
                            bytes[0] == CompressionMarker[0] && bytes[1] == CompressionMarker[1];
    if (!compressed) {
        appendUnits(out, bytes, page);
        return;
    }
    // At most one unit per byte; the one-byte runs are written straight into that room.
    out.resize(bytes.size());
    std::size_t size = 0;
    bool oneByteRun = true;
    std::size_t runStart = sizeof CompressionMarker;
    const auto flush = [&](std::size_t runEnd) {
        const std::size_t length = runEnd - runStart;
        if (oneByteRun) {
            for (std::size_t i = runStart; i < runEnd; ++i)
                out[size++] = static_cast<char16_t>(bytes[i]);
            return;
        }
        if (length % 2 != 0)
            throw FormatError(page, "UTF-16 text has an odd number of bytes (" +
                                        std::to_string(length) + ")");
        for (std::size_t i = runStart; i < runEnd; i += 2)
            out[size++] = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    };
    for (std::size_t i = runStart; i < bytes.size(); ++i) {
        if (bytes[i] != RunSwitch)
            continue;
        flush(i);
        oneByteRun = !oneByteRun;
        runStart = i + 1;
    }
    flush(bytes.size());
    out.resize(size);
}

} // namespace engine::jet4
