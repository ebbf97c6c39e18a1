// The engine's one rule for case: Unicode simple case folding of UTF-8 text, bytes of other
// encodings kept as they are.

#include "automation/CaseFold.h"
#include "automation/Dispatcher.h"

#include <QChar>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using automation::compareFolded;
using automation::foldCase;
using automation::sameName;

TEST(CaseFold, EveryCodePointFoldsAsUnicodeSimpleFoldingSays) {
    // Qt carries the same Unicode version's tables; a newer Qt may know mappings for characters
    // added since, so there only the mappings the engine knows are compared.
    const bool sameVersion = QChar::currentUnicodeVersion() == QChar::Unicode_14_0;
    std::vector<std::string> differences;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (!sameVersion && foldCase(c) == c)
            continue;
        if (foldCase(c) != QChar::toCaseFolded(c) && differences.size() < 10)
            differences.push_back(std::to_string(c) + " -> " + std::to_string(foldCase(c)));
    }
    EXPECT_TRUE(differences.empty()) << differences.front();
}

TEST(CaseFold, NamesMatchWithoutRegardToCaseInAnyAlphabet) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"LogDoc", "LOGDOC", true},
        {"ТОВАРЫ", "товары", true},
        {"Ёлка", "ёЛКА", true},
        {"Їжак Ґанок", "їЖАК ґАНОК", true}, // Ukrainian letters beyond the Russian ones
        {"ΣΟΦΊΑ", "σοφία", true},           // Greek, accents included
        {"ς", "Σ", true},                   // final sigma
        {"ԱՐԵՎ", "արեվ", true},             // Armenian
        {"Kelvin", "kelvin", true},         // the Kelvin sign is a K
        {"ſum", "SUM", true},               // long s, a shorter byte form
        {"ẞ", "ß", true},
        {"Straße", "STRASSE", false}, // simple folding never expands ß
        {"İ", "i", false},            // only Turkish folding joins these
        {"e", "é", false},
        {"товар", "товары", false},
        {"\xD2\xEE\xE2\xE0\xF0", "\xD2\xEE\xE2\xE0\xF0", true},  // Windows-1251 bytes: as they are
        {"\xD2\xEE\xE2\xE0\xF0", "\xF2\xEE\xE2\xE0\xF0", false}, // no folding of foreign bytes
        {"\xD0", "\xD0\x90", false},                             // a cut sequence is no letter
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameName(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(compareFolded(c.a, c.b) == 0, c.same) << c.a << " / " << c.b;
        EXPECT_EQ(foldCase(c.a) == foldCase(c.b), c.same) << c.a << " / " << c.b;
    }
}

TEST(CaseFold, TextOrdersByItsFoldedCodePoints) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"ПАТЧ", "патч", 0}, {"а", "Б", -1},          {"Я", "а", 1}, {"patch15", "PATCH16", -1},
        {"z", "а", -1},      {"Товар", "товары", -1}, {"", "a", -1}, {"\xFF", "я", 1},
    };
    for (const auto& c : cases) {
        const int got = compareFolded(c.a, c.b);
        EXPECT_EQ((got > 0) - (got < 0), c.order) << c.a << " / " << c.b;
        EXPECT_EQ((got > 0) - (got < 0),
                  -((compareFolded(c.b, c.a) > 0) - (compareFolded(c.b, c.a) < 0)));
    }
}
