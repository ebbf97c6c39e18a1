#pragma once
// Index keys of text values in the "General" sort order (1033, sort version 0), the order every
// Access 2000-2003 database uses unless another language was chosen when it was created.
//
// A text key is one run of sort codes per character, then 0x01, then (only when some character
// needs them) the "tail" that tells apart strings whose codes are equal: accent marks, and the
// position of characters that sort as if absent. It ends with 0x00.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace engine::jet4 {

// How one UTF-16 unit takes part in a General text key.
struct GeneralCharCode {
    enum class Kind {
        Plain,         // `codes` only: letters, digits, punctuation, symbols
        International, // `codes` of the base letter, plus `extra` (its accent) in the tail
        Unprintable,   // no codes; `extra` and the unit's position go to the tail
        Ignored,       // leaves no trace in the key (U+0000)
    };
    Kind kind = Kind::Plain;
    std::string codes;      // empty for Unprintable
    std::uint8_t extra = 0; // International and Unprintable only
};

// The code of one unit, or nothing when this encoder does not know it with certainty.
std::optional<GeneralCharCode> generalCharCode(char16_t unit);

// The ascending key bytes of a text value (without the 0x7F flag byte that precedes every
// non-NULL key column), or nothing when the text holds a unit we do not know. Text is cut to 255
// units and its trailing spaces dropped first.
std::optional<std::string> generalTextKey(std::u16string_view text);

// The same key appended to `key`; false, with `key` as it was, when generalTextKey gives nothing.
bool appendGeneralTextKey(std::u16string_view text, std::string& key);

} // namespace engine::jet4
