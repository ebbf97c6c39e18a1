#pragma once
// Reading UTF-8 one code point at a time, strictly: a sequence counts only when it is
// well-formed (no overlong forms, no surrogates, nothing past U+10FFFF), so bytes from other
// encodings are told apart from text and can be kept as the bytes they are.

#include <cstddef>
#include <string_view>

namespace automation {

// The length (1 to 4) of the well-formed UTF-8 sequence at the start of `text`, with its code
// point in `c`; 0 when `text` is empty or its first byte starts no well-formed sequence.
inline std::size_t decodeUtf8(std::string_view text, char32_t& c) {
    if (text.empty())
        return 0;
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // shorter forms are overlong
        else if (lead == 0xED)
            high = 0x9F; // U+D800..U+DFFF are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    char32_t value = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    c = value;
    return length;
}

} // namespace automation
