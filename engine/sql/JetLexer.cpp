#include "engine/sql/JetLexer.h"

#include "engine/sql/JetDate.h"

namespace engine::jet {

namespace {

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool isNamePart(unsigned char c) {
    return isNameStart(c) || isDigit(c);
}

bool wellFormed(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        unsigned min = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i - 1 < extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool hasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

class Lexer {
public:
    explicit Lexer(std::string_view sql) : sql_(sql) {}

    std::vector<Token> run() {
        while (true) {
            while (pos_ < sql_.size() && isBlank(at(pos_)))
                ++pos_;
            if (pos_ >= sql_.size())
                break;
            if (!next())
                break;
        }
        tokens_.push_back({Token::Kind::End, {}, sql_.size()});
        return std::move(tokens_);
    }

private:
    unsigned char at(std::size_t i) const { return static_cast<unsigned char>(sql_[i]); }

    void add(Token::Kind kind, std::string text, std::size_t start) {
        tokens_.push_back({kind, std::move(text), start});
    }

    // Reads one token at pos_; false after an Invalid one, which ends the stream.
    bool next() {
        const std::size_t start = pos_;
        const unsigned char c = at(pos_);
        if (isNameStart(c))
            return word(start);
        if (isDigit(c) || (c == '.' && pos_ + 1 < sql_.size() && isDigit(at(pos_ + 1))))
            return number(start);
        switch (c) {
        case '[':
            return bracketed(start);
        case '"':
        case '\'':
            return quoted(start, static_cast<char>(c));
        case '#':
            return date(start);
        case '<':
        case '>':
            if (pos_ + 1 < sql_.size() &&
                (at(pos_ + 1) == '=' || (c == '<' && at(pos_ + 1) == '>'))) {
                pos_ += 2;
                add(Token::Kind::Symbol, std::string(sql_.substr(start, 2)), start);
                return true;
            }
            [[fallthrough]];
        case '(':
        case ')':
        case ',':
        case ';':
        case '.':
        case '*':
        case '+':
        case '-':
        case '/':
        case '=':
        case '&':
            ++pos_;
            add(Token::Kind::Symbol, std::string(1, static_cast<char>(c)), start);
            return true;
        default:
            return invalid(start);
        }
    }

    bool invalid(std::size_t start) {
        add(Token::Kind::Invalid, std::string(sql_.substr(start)), start);
        pos_ = sql_.size();
        return false;
    }

    bool word(std::size_t start) {
        while (pos_ < sql_.size() && isNamePart(at(pos_)))
            ++pos_;
        const std::string_view text = sql_.substr(start, pos_ - start);
        if (!wellFormed(text))
            return invalid(start);
        add(Token::Kind::Word, std::string(text), start);
        return true;
    }

    bool number(std::size_t start) {
        while (pos_ < sql_.size() && isDigit(at(pos_)))
            ++pos_;
        if (pos_ < sql_.size() && at(pos_) == '.') {
            ++pos_;
            while (pos_ < sql_.size() && isDigit(at(pos_)))
                ++pos_;
        }
        // An exponent only when digits follow, so "1e" stays the number 1 and the name e.
        if (pos_ < sql_.size() && (at(pos_) == 'e' || at(pos_) == 'E')) {
            std::size_t p = pos_ + 1;
            if (p < sql_.size() && (at(p) == '+' || at(p) == '-'))
                ++p;
            if (p < sql_.size() && isDigit(at(p))) {
                while (p < sql_.size() && isDigit(at(p)))
                    ++p;
                pos_ = p;
            }
        }
        add(Token::Kind::Number, std::string(sql_.substr(start, pos_ - start)), start);
        return true;
    }

    bool bracketed(std::size_t start) {
        const std::size_t close = sql_.find(']', start + 1);
        if (close == std::string_view::npos)
            return invalid(start);
        const std::string_view name = sql_.substr(start + 1, close - start - 1);
        if (name.empty() || name.find('[') != std::string_view::npos || hasControl(name) ||
            !wellFormed(name))
            return invalid(start);
        pos_ = close + 1;
        add(Token::Kind::Bracketed, std::string(name), start);
        return true;
    }

    bool quoted(std::size_t start, char quote) {
        std::string text;
        std::size_t p = start + 1;
        while (true) {
            const std::size_t q = sql_.find(quote, p);
            if (q == std::string_view::npos)
                return invalid(start);
            text.append(sql_.substr(p, q - p));
            if (q + 1 < sql_.size() && sql_[q + 1] == quote) {
                text.push_back(quote);
                p = q + 2;
                continue;
            }
            pos_ = q + 1;
            break;
        }
        add(Token::Kind::Text, std::move(text), start);
        return true;
    }

    bool date(std::size_t start) {
        const std::size_t close = sql_.find('#', start + 1);
        if (close == std::string_view::npos)
            return invalid(start);
        auto iso = isoFromJetDate(sql_.substr(start + 1, close - start - 1));
        if (!iso)
            return invalid(start);
        pos_ = close + 1;
        add(Token::Kind::Date, std::move(*iso), start);
        return true;
    }

    std::string_view sql_;
    std::size_t pos_ = 0;
    std::vector<Token> tokens_;
};

} // namespace

std::vector<Token> tokenize(std::string_view sql) {
    return Lexer(sql).run();
}

bool isKeyword(const Token& token, std::string_view keyword) {
    if (token.kind != Token::Kind::Word || token.text.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        char c = token.text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != keyword[i])
            return false;
    }
    return true;
}

// Names reach SQLite and the store as identifiers, so a malformed UTF-8 sequence there would
// give objects no other tool could name; text literals are bound as values and may hold anything.
bool isValidUtf8(std::string_view text) {
    return wellFormed(text);
}

bool isSymbol(const Token& token, std::string_view symbol) {
    return token.kind == Token::Kind::Symbol && token.text == symbol;
}

} // namespace engine::jet
