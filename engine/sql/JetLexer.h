#pragma once
// Splits a statement in the original engine's SQL dialect into tokens. Never fails: the first
// character it cannot read (or an unterminated literal, or an impossible date) becomes one
// Invalid token, after which the stream ends, so a parser meets it as an unexpected token once
// it knows what kind of statement it is reading.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet {

struct Token {
    enum class Kind {
        Word,      // bare name or keyword: text as written
        Bracketed, // [name]: text without the brackets
        Text,      // "text" or 'text': text with doubled quotes undone
        Date,      // #date#: text as "YYYY-MM-DD HH:MM:SS"
        Number,    // text as written
        Symbol,    // ( ) , ; . * + - / = < > <= >= <> &
        Invalid,   // text: the rest of the statement from the unreadable character on
        End,
    };
    Kind kind = Kind::End;
    std::string text;
    std::size_t offset = 0; // byte offset in the statement
};

// The tokens of `sql`, always ending with one End token.
std::vector<Token> tokenize(std::string_view sql);

// True when `token` is a bare word equal to `keyword` (given in capitals), ASCII case ignored.
bool isKeyword(const Token& token, std::string_view keyword);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or truncated sequences).
bool isValidUtf8(std::string_view text);

// True when `token` is the symbol `symbol`.
bool isSymbol(const Token& token, std::string_view symbol);

} // namespace engine::jet
