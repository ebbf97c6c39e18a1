#include "engine/jet4/index/TextKey.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace engine::jet4 {

namespace {

using Kind = GeneralCharCode::Kind;

// Marks a sort position that none of the characters we encode takes (other scripts' letters
// sit there), so that each run below can list its characters in sort order, one per code.
constexpr char16_t kGap = u'□';

// Characters whose codes are consecutive: the character at index i of `chars` has the codes
// `lead` (when not 0) and then `first + i`. Each run lists part of the General order.
struct Run {
    std::uint8_t lead;
    std::uint8_t first;
    std::u16string_view chars;
};

constexpr std::array kRuns{
    // Space and the punctuation that sorts before the digits (0x2B leads the symbol run).
    Run{0, 0x07, u" □!\"□#□$□%□&□(□)□*□,□.□/□:□;□?□@[□\\]□+□<□=□>"},
    Run{0, 0x36, u"0□1□2□3□4□5□6□7□8□9"},
    // Latin letters; a-z take the codes of A-Z (case is not part of a General key).
    Run{0, 0x4A, u"A□BC□D□E□F□G□H□I□JK□L□M□N□O□P□QR□S□T□U□V□W□XY□Z"},
    // The no-break space and the format controls: a second kind of blank.
    Run{0x08, 0x02, u"\u00A0\t\n\v\f\r"},
    Run{0x2B, 0x02, u"^_□□□`□{□|□}□~¡¦¨¯´¸¿"},
    Run{0x33, 0x04, u"±«□»□×÷"},
    Run{0x34, 0xA6, u"¢£¤¥§©¬®°µ¶·"},
    Run{0x37, 0x12, u"¼□□□½□□□¾"},
    // Cyrillic capitals in the General order (lower case folds onto them): the Russian
    // alphabet with the Ukrainian, Belarusian, Serbian and Macedonian letters in between.
    Run{0x79, 0x2F, u"АБВГД□ЂЕЄЖЗЅИІЇЙЈКЛЉМНЊОПРСТЋ□УЎ□ФХЦЧЏШЩЪЫЬЭЮЯ"},
};

// The accent codes that international characters add to the tail.
enum Mark : std::uint8_t {
    Ordinal = 0x03, // ª º
    Acute = 0x0E,
    Grave = 0x0F,
    Circumflex = 0x12,
    Diaeresis = 0x13,
    Tilde = 0x19,
    Ring = 0x1A,
    Cedilla = 0x1C,
    Stroke = 0x21, // Ø
    Eth = 0x68,    // Ð sorts as D
};

struct Decomposed {
    char16_t base; // 0: not a letter with an accent
    std::uint8_t mark;
};

// U+00C0-U+00DF; U+00E0-U+00FF are their lower-case forms, except ÷ and ÿ.
constexpr std::array<Decomposed, 32> kLatin1Accented{{
    {u'A', Grave},
    {u'A', Acute},
    {u'A', Circumflex},
    {u'A', Tilde}, // À Á Â Ã
    {u'A', Diaeresis},
    {u'A', Ring},
    {0, 0},
    {u'C', Cedilla}, // Ä Å Æ Ç
    {u'E', Grave},
    {u'E', Acute},
    {u'E', Circumflex},
    {u'E', Diaeresis}, // È É Ê Ë
    {u'I', Grave},
    {u'I', Acute},
    {u'I', Circumflex},
    {u'I', Diaeresis}, // Ì Í Î Ï
    {u'D', Eth},
    {u'N', Tilde},
    {u'O', Grave},
    {u'O', Acute}, // Ð Ñ Ò Ó
    {u'O', Circumflex},
    {u'O', Tilde},
    {u'O', Diaeresis},
    {0, 0}, // Ô Õ Ö ×
    {u'O', Stroke},
    {u'U', Grave},
    {u'U', Acute},
    {u'U', Circumflex}, // Ø Ù Ú Û
    {u'U', Diaeresis},
    {u'Y', Acute},
    {0, 0},
    {0, 0}, // Ü Ý Þ ß
}};

// Folds the lower-case letters we encode onto the capitals whose codes they share.
char16_t foldCase(char16_t unit) {
    if (unit >= u'a' && unit <= u'z')
        return unit - 0x20;
    if (unit >= 0x0430 && unit <= 0x044F)
        return unit - 0x20;
    if (unit >= 0x0450 && unit <= 0x045F)
        return unit - 0x50;
    return unit;
}

std::optional<std::string> runCodes(char16_t unit) {
    if (unit == kGap)
        return std::nullopt;
    for (const Run& run : kRuns) {
        const auto at = run.chars.find(unit);
        if (at == std::u16string_view::npos)
            continue;
        std::string codes;
        if (run.lead != 0)
            codes += static_cast<char>(run.lead);
        codes += static_cast<char>(run.first + at);
        return codes;
    }
    return std::nullopt;
}

// Codes of a string of letters that all come from the runs (ligatures sort as two letters).
std::string lettersCodes(std::u16string_view letters) {
    std::string codes;
    for (char16_t letter : letters)
        codes += *runCodes(letter);
    return codes;
}

GeneralCharCode plain(std::string codes) {
    return {Kind::Plain, std::move(codes), 0};
}

GeneralCharCode international(char16_t base, std::uint8_t mark) {
    return {Kind::International, *runCodes(base), mark};
}

GeneralCharCode unprintable(std::uint8_t code) {
    return {Kind::Unprintable, {}, code};
}

} // namespace

std::optional<GeneralCharCode> generalCharCode(char16_t unit) {
    if (unit == 0)
        return GeneralCharCode{Kind::Ignored, {}, 0};
    // Control characters sort as absent; they are numbered in order from 3, skipping the five
    // format controls (tab to carriage return) that are blanks.
    if (unit >= 0x01 && unit <= 0x08)
        return unprintable(static_cast<std::uint8_t>(unit + 2));
    if (unit >= 0x0E && unit <= 0x1F)
        return unprintable(static_cast<std::uint8_t>(unit - 3));
    if (unit >= 0x7F && unit <= 0x9F)
        return unprintable(static_cast<std::uint8_t>(unit - 0x62));
    // The apostrophe and the hyphens sort as absent too, so "co-op" sorts next to "coop".
    switch (unit) {
    case u'\'':
        return unprintable(0x80);
    case u'-':
        return unprintable(0x82);
    case 0x00AD: // soft hyphen
        return unprintable(0x83);

    // Superscript digits sort exactly as the digits.
    case u'¹':
        return plain(*runCodes(u'1'));
    case u'²':
        return plain(*runCodes(u'2'));
    case u'³':
        return plain(*runCodes(u'3'));

    // Ligatures and ß sort as the letters they stand for, with nothing in the tail.
    case u'Æ':
    case u'æ':
        return plain(lettersCodes(u"AE"));
    case u'Þ':
    case u'þ':
        return plain(lettersCodes(u"TH"));
    case u'ß':
        return plain(lettersCodes(u"SS"));

    case u'ª':
        return international(u'A', Ordinal);
    case u'º':
        return international(u'O', Ordinal);
    case u'ÿ':
        return international(u'Y', Diaeresis);

    // The Cyrillic letters that are a base letter with an accent (ї, й and ў are letters of
    // their own in this order).
    case u'Ё':
    case u'ё':
        return international(u'Е', Diaeresis);
    case u'Ѓ':
    case u'ѓ':
        return international(u'Г', Acute);
    case u'Ќ':
    case u'ќ':
        return international(u'К', Acute);
    default:
        break;
    }
    if (unit >= 0x00C0 && unit <= 0x00FF) {
        const Decomposed& letter = kLatin1Accented[unit & 0x1F];
        if (letter.base != 0)
            return international(letter.base, letter.mark);
    }
    if (auto codes = runCodes(foldCase(unit)))
        return plain(std::move(*codes));
    return std::nullopt;
}

namespace {

// A unit's code packed for the key encoder's table: the codes inline, no allocation.
constexpr std::size_t MaxCodes = 4; // a ligature's two letters, each with a lead code
struct PackedCode {
    enum Sort : std::uint8_t { Unknown, Plain, International, Unprintable, Ignored };
    Sort sort = Unknown;
    std::uint8_t size = 0; // bytes of `codes` used
    std::uint8_t extra = 0;
    char codes[MaxCodes] = {};
};

PackedCode packed(const std::optional<GeneralCharCode>& code) {
    PackedCode out;
    if (!code)
        return out;
    if (code->codes.size() > MaxCodes)
        throw std::logic_error("a General sort code longer than the key encoder's table allows");
    switch (code->kind) {
    case Kind::Plain:
        out.sort = PackedCode::Plain;
        break;
    case Kind::International:
        out.sort = PackedCode::International;
        break;
    case Kind::Unprintable:
        out.sort = PackedCode::Unprintable;
        break;
    case Kind::Ignored:
        out.sort = PackedCode::Ignored;
        break;
    }
    out.size = static_cast<std::uint8_t>(code->codes.size());
    out.extra = code->extra;
    std::copy(code->codes.begin(), code->codes.end(), out.codes);
    return out;
}

// The codes of Latin and Cyrillic units, worked out once: an index is built from every row's
// text, and generalCharCode looks a unit up in the runs one by one.
constexpr char16_t Tabled = 0x0500;

const std::array<PackedCode, Tabled>& packedTable() {
    static const std::array<PackedCode, Tabled> table = [] {
        std::array<PackedCode, Tabled> codes{};
        for (char16_t unit = 0; unit < Tabled; ++unit)
            codes[unit] = packed(generalCharCode(unit));
        return codes;
    }();
    return table;
}

} // namespace

std::optional<std::string> generalTextKey(std::u16string_view text) {
    std::string key;
    if (!appendGeneralTextKey(text, key))
        return std::nullopt;
    return key;
}

bool appendGeneralTextKey(std::u16string_view text, std::string& key) {
    // Keys cover at most 255 units (the longest Text value; longer Memo text is cut).
    text = text.substr(0, std::min<std::size_t>(text.size(), 255));
    // Trailing spaces are dropped before the text is encoded, as jackcess writes the keys of
    // files Access then reads.
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);

    std::string accents;      // one byte per character up to the last accented one
    std::string unprintables; // position mark, 0x06, code for each unprintable character
    std::size_t position = 0; // characters that have written codes so far
    const std::array<PackedCode, Tabled>& table = packedTable();
    // Room for the most codes a unit can have, each unit's codes copied whole into it.
    const std::size_t start = key.size();
    key.resize(start + text.size() * MaxCodes);
    char* out = key.data() + start;
    for (char16_t unit : text) {
        const PackedCode code = unit < Tabled ? table[unit] : packed(generalCharCode(unit));
        switch (code.sort) {
        case PackedCode::Unknown:
            key.resize(start);
            return false;
        case PackedCode::Plain:
            std::memcpy(out, code.codes, MaxCodes);
            out += code.size;
            ++position;
            break;
        case PackedCode::International:
            std::memcpy(out, code.codes, MaxCodes);
            out += code.size;
            // Characters without an accent stand as 0x02 before an accented one.
            accents.append(position - accents.size(), '\x02');
            accents += static_cast<char>(code.extra);
            ++position;
            break;
        case PackedCode::Unprintable: {
            const unsigned mark = 0x8000u | (7u + 4u * position);
            unprintables += static_cast<char>(mark >> 8);
            unprintables += static_cast<char>(mark & 0xFF);
            unprintables += '\x06';
            unprintables += static_cast<char>(code.extra);
            break;
        }
        case PackedCode::Ignored:
            break;
        }
    }
    key.resize(static_cast<std::size_t>(out - key.data()));
    key += '\x01';
    key += accents;
    if (!unprintables.empty()) {
        key += "\x01\x01\x01";
        key += unprintables;
    }
    key += '\0';
    return true;
}

} // namespace engine::jet4
