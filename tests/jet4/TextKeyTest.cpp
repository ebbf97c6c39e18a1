// Text keys in the General sort order: every character the encoder knows agrees with the published
// General code tables, and whole keys are laid out as Access lays them out.

#include "engine/jet4/index/TextKey.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using engine::jet4::GeneralCharCode;
using engine::jet4::generalCharCode;
using engine::jet4::generalTextKey;

namespace {

std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned value : values)
        out += static_cast<char>(value);
    return out;
}

std::string hexBytes(const std::string& text) {
    std::ostringstream out;
    for (unsigned char byte : text)
        out << "0123456789ABCDEF"[byte >> 4] << "0123456789ABCDEF"[byte & 15] << ' ';
    return out.str();
}

// One line of a code table in its own notation: kind letter, then hex codes (a leading zero
// may be left out), for international characters ",extra".
std::string tableNotation(const GeneralCharCode& code) {
    auto hex = [](const std::string& codes) {
        std::ostringstream out;
        out << std::uppercase << std::hex;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const unsigned byte = static_cast<unsigned char>(codes[i]);
            if (i > 0 && byte < 16)
                out << '0';
            out << byte;
        }
        return out.str();
    };
    std::ostringstream out;
    out << std::uppercase << std::hex;
    switch (code.kind) {
    case GeneralCharCode::Kind::Plain:
        return "S" + hex(code.codes);
    case GeneralCharCode::Kind::International:
        out << "I" << hex(code.codes) << ',' << unsigned(code.extra);
        return out.str();
    case GeneralCharCode::Kind::Unprintable:
        out << "U" << unsigned(code.extra);
        return out.str();
    case GeneralCharCode::Kind::Ignored:
        return "X";
    }
    return "?";
}

} // namespace

TEST(TextKey, EveryEncodedCharacterMatchesTheGeneralCodeTables) {
    REQUIRE_JET_SAMPLES();
    const auto folder = *testsupport::jetSamplesFolder() / "collation";
    std::vector<std::string> lines;
    for (const char* name : {"index_codes_genleg.txt", "index_codes_ext_genleg.txt"}) {
        std::ifstream in(folder / name);
        ASSERT_TRUE(in) << name;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find_last_not_of("\r") + 1));
    }
    ASSERT_GT(lines.size(), 0x500u);

    int covered = 0;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const auto code = generalCharCode(static_cast<char16_t>(unit));
        if (!code)
            continue;
        ASSERT_LT(unit, lines.size()) << std::hex << unit;
        EXPECT_EQ(tableNotation(*code), lines[unit]) << "U+" << std::hex << unit;
        ++covered;
    }
    // All of U+0000-U+00FF, and the Cyrillic letters U+0401-U+045F but the three Jet ignores.
    EXPECT_EQ(covered, 256 + 92);
}

struct TextCase {
    const char* what;
    std::u16string text;
    std::string key;
};

// Test names and messages show what a case is about, not its bytes.
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.what;
}

class TextKeyCases : public testing::TestWithParam<TextCase> {};

TEST_P(TextKeyCases, EncodesAsAccessDoes) {
    const auto key = generalTextKey(GetParam().text);
    ASSERT_TRUE(key);
    EXPECT_EQ(hexBytes(*key), hexBytes(GetParam().key));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TextKeyCases,
    testing::Values(
        TextCase{"digits", u"0129", bytes({0x36, 0x38, 0x3A, 0x48, 0x01, 0x00})},
        TextCase{"Latin letters without case", u"aZ", bytes({0x4A, 0x78, 0x01, 0x00})},
        TextCase{"Cyrillic without case", u"ИвАн",
                 bytes({0x79, 0x3B, 0x79, 0x31, 0x79, 0x2F, 0x79, 0x44, 0x01, 0x00})},
        TextCase{"Ukrainian і", u"і", bytes({0x79, 0x3C, 0x01, 0x00})},
        TextCase{"ё is е with a diaeresis in the tail", u"Алёна",
                 bytes({0x79, 0x2F, 0x79, 0x41, 0x79, 0x36, 0x79, 0x44, 0x79, 0x2F, 0x01, 0x02,
                        0x02, 0x13, 0x00})},
        TextCase{"accents stop at the last accented letter", u"éa",
                 bytes({0x51, 0x4A, 0x01, 0x0E, 0x00})},
        TextCase{"ligature as two letters", u"Æ", bytes({0x4A, 0x51, 0x01, 0x00})},
        TextCase{"punctuation and space", u"a b.", bytes({0x4A, 0x07, 0x4C, 0x1C, 0x01, 0x00})},
        TextCase{
            "apostrophe as a position in the tail", u"AA'AA",
            bytes({0x4A, 0x4A, 0x4A, 0x4A, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0F, 0x06, 0x80, 0x00})},
        TextCase{"accent and hyphen", u"é-a",
                 bytes({0x51, 0x4A, 0x01, 0x0E, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00})},
        TextCase{"NUL leaves no trace", std::u16string(u"A\0B", 3),
                 bytes({0x4A, 0x4C, 0x01, 0x00})},
        TextCase{"empty text", u"", bytes({0x01, 0x00})},
        TextCase{"trailing spaces dropped", u"AB  ", bytes({0x4A, 0x4C, 0x01, 0x00})},
        TextCase{"cut to 255 units", std::u16string(300, u'A'),
                 std::string(255, '\x4A') + bytes({0x01, 0x00})}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(TextKey, RefusesTextItCannotEncodeWithCertainty) {
    // Greek, Chinese and a Cyrillic letter Jet does not know.
    for (std::u16string_view text : {u"αβ", u"汉", u"Ѐ"})
        EXPECT_FALSE(generalTextKey(text)) << text.size();
}
