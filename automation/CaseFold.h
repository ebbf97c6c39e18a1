#pragma once
// Case without regard to alphabet: Unicode simple case folding (the C and S mappings of
// CaseFolding.txt) of UTF-8 text. It is the one rule by which the engine matches the names of
// members and database objects and compares text, in every store: "ТОВАРЫ" and "товары",
// "Straße" and "STRASSE"'s "ẞ" (U+1E9E, which folds to "ß"), "Σ", "σ" and "ς" each match.
// Simple folding maps one code point to one; it never expands "ß" to "ss".
//
// Bytes that are not well-formed UTF-8 (names and values written in other encodings) are kept
// as they are: each matches only itself.

#include <string>
#include <string_view>

namespace automation {

// The simple case fold of the code point `c` (`c` itself when it has none).
char32_t foldCase(char32_t c);

// `text` with every code point folded; bytes that are not well-formed UTF-8 copied unchanged.
std::string foldCase(std::string_view text);

// Orders foldCase(a) against foldCase(b), byte by byte (so by code point where both are text):
// negative, zero or positive. Builds neither string.
int compareFolded(std::string_view a, std::string_view b);

} // namespace automation
