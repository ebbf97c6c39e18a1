// The tokens and date literals of the engine's SQL dialect, and the lexer's conduct on input it
// cannot read.

#include "engine/sql/JetLexer.h"
#include "automation/Error.h"
#include "engine/sql/JetDate.h"
#include "engine/sql/JetParser.h"
#include "engine/sql/JetStatement.h"
#include "engine/sqlite/JetTranslate.h"

#include <gtest/gtest.h>

#include <random>

using engine::jet::Token;
using Kind = Token::Kind;

namespace {

struct Expected {
    Kind kind;
    std::string text;
};

std::vector<Expected> lex(std::string_view sql) {
    std::vector<Expected> out;
    for (const auto& token : engine::jet::tokenize(sql))
        out.push_back({token.kind, token.text});
    return out;
}

bool operator==(const Expected& a, const Expected& b) {
    return a.kind == b.kind && a.text == b.text;
}

void PrintTo(const Expected& e, std::ostream* os) {
    *os << "{" << static_cast<int>(e.kind) << ", \"" << e.text << "\"}";
}

} // namespace

TEST(JetLexer, ReadsEveryLiteralAndNameForm) {
    const struct {
        std::string sql;
        std::vector<Expected> tokens;
    } cases[] = {
        {R"(Item="PATCH")", {{Kind::Word, "Item"}, {Kind::Symbol, "="}, {Kind::Text, "PATCH"}}},
        {R"("say ""hi""")", {{Kind::Text, "say \"hi\""}}},
        {"'it''s'", {{Kind::Text, "it's"}}},
        {"''", {{Kind::Text, ""}}},
        {"[Имя поля]", {{Kind::Bracketed, "Имя поля"}}},
        {"Цена_1 = 1.5e3", {{Kind::Word, "Цена_1"}, {Kind::Symbol, "="}, {Kind::Number, "1.5e3"}}},
        {"#7/30/2003#", {{Kind::Date, "2003-07-30 00:00:00"}}},
        {"a<>b<=c>=d&e",
         {{Kind::Word, "a"},
          {Kind::Symbol, "<>"},
          {Kind::Word, "b"},
          {Kind::Symbol, "<="},
          {Kind::Word, "c"},
          {Kind::Symbol, ">="},
          {Kind::Word, "d"},
          {Kind::Symbol, "&"},
          {Kind::Word, "e"}}},
        {"1e", {{Kind::Number, "1"}, {Kind::Word, "e"}}},
        {" \t\r\n", {}},
    };
    for (const auto& c : cases) {
        auto expected = c.tokens;
        expected.push_back({Kind::End, ""});
        EXPECT_EQ(lex(c.sql), expected) << c.sql;
    }
}

TEST(JetLexer, UnreadableInputEndsTheStreamWithOneInvalidToken) {
    const std::string cases[] = {
        "x = \"open", "x = 'open", "[open",
        "[]",         "[a\nb]",    "#13/45/2003#",
        "#7/30",      "x ? 1",     std::string("x\0y", 3),
        "name\xC3",   "[\xFF]",    "a := 1",
        "`x`",        "x | y",
    };
    for (const auto& sql : cases) {
        const auto tokens = engine::jet::tokenize(sql);
        ASSERT_GE(tokens.size(), 2u) << sql;
        EXPECT_EQ(tokens[tokens.size() - 2].kind, Kind::Invalid) << sql;
        EXPECT_EQ(tokens.back().kind, Kind::End) << sql;
    }
}

TEST(JetDate, LiteralsReadAsIsoTextOrNotAtAll) {
    const struct {
        const char* literal;
        const char* iso; // nullptr: refused
    } cases[] = {
        {"7/30/2003", "2003-07-30 00:00:00"},
        {"2003-07-30", "2003-07-30 00:00:00"},
        {" 2003/07/30 10:15:07 ", "2003-07-30 10:15:07"},
        {"7/30/2003 10:15 PM", "2003-07-30 22:15:00"},
        {"7/30/2003 12:05 am", "2003-07-30 00:05:00"},
        {"12:00 PM", "1899-12-30 12:00:00"},
        {"2/29/2004", "2004-02-29 00:00:00"},
        {"1/1/29", "2029-01-01 00:00:00"},
        {"1/1/30", "1930-01-01 00:00:00"},
        {"2/29/2003", nullptr},
        {"13/1/2003", nullptr},
        {"2003-07-30 24:00", nullptr},
        {"7/30/2003 13:00 PM", nullptr},
        {"7/30/2003 10:5", nullptr},
        {"7/30/99999", nullptr},
        {"1/1/0099", nullptr},
        {"", nullptr},
        {"today", nullptr},
    };
    for (const auto& c : cases) {
        const auto iso = engine::jet::isoFromJetDate(c.literal);
        if (c.iso)
            EXPECT_EQ(iso.value_or("refused"), c.iso) << c.literal;
        else
            EXPECT_FALSE(iso.has_value()) << c.literal << " read as " << *iso;
    }
}

// Random statements built from the characters that matter to the dialect: the lexer always ends
// its stream, and the parser and translator either accept a statement or raise the engine's
// error, never anything else.
TEST(JetLexer, ArbitraryBytesOnlyEverYieldTokensOrEngineErrors) {
    using namespace std::string_literals;
    const std::string alphabet = "[]\"'#()<>=&;,.*-/ \n\t\0\x80\xD0\xA6\xFF"s
                                 "aZ09eE:?CREATE TABLE INDEX ALTER DROP SELECT "
                                 "UPDATE INSERT DELETE NOT NULL PRIMARY KEY UNIQUE CONSTRAINT "
                                 "TEXT(10) ON WITH ADD COLUMN";
    std::mt19937 random(20030730);
    for (int round = 0; round < 3000; ++round) {
        std::string sql;
        const int length = static_cast<int>(random() % 80);
        for (int i = 0; i < length; ++i)
            sql += alphabet[random() % alphabet.size()];
        const auto tokens = engine::jet::tokenize(sql);
        ASSERT_EQ(tokens.back().kind, Kind::End);
        for (const auto& token : tokens)
            ASSERT_LE(token.offset, sql.size());
        try {
            if (engine::jet::isDefinition(engine::jet::classify(tokens)))
                engine::jet::parseDefinition(tokens);
            else
                engine::jet::translateData(tokens, sql);
        } catch (const automation::Error&) {
        }
    }
}
