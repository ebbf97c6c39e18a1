// The proof that the project reads every Access-made sample file as the independent readers do:
// the checker finds each file sound, its dump holds the rows Jackcess, npm mdb-reader and mdbtools
// hold, and the engine's object model describes the tables, fields and indexes mdb-schema
// describes.
//
// Jackcess reads each row where Access keeps it, as the project does: its rows equal our dump's,
// line for line. Where it and the other two disagree, it decides.
//
// Both judges read every slot flagged 0x8000 alone as a row. Where Access moved a row's image
// again and left the old image behind (no overflow pointer leads to it any more), the judges list
// that abandoned image as an extra row, which Access and this project do not. The test finds those
// images itself from the file's pages and allows each judge exactly those extra rows, at the place
// the judge lists them; every other row must be the same row in the same place.

#include "automation/Error.h"
#include "automation/Registry.h"
#include "engine/Registration.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "support/Jackcess.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "tools/check/JsonLines.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>

using namespace testsupport;
namespace j = engine::jet4;
using automation::Variant;

namespace {

#define REQUIRE_REFERENCE_TOOLS()                                                                  \
    do {                                                                                           \
        if (const auto missing = referenceToolsMissing())                                          \
            GTEST_SKIP() << *missing;                                                              \
    } while (false)

using Lines = std::vector<std::string>;

struct CheckerRun {
    int exitCode = -1; // -1 when the program crashed or could not start
    std::string out, err;
};

// Runs the checker's own program, as the operator does.
CheckerRun runChecker(const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromUtf8(PATCH16_CHECK_PROGRAM), arguments);
    process.waitForFinished(-1);
    CheckerRun run;
    if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

Lines splitLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

QString argument(const std::filesystem::path& file) {
    return QFile::decodeName(file.c_str());
}

// A value in the dump's form (see tools/check/JsonLines.h).
std::string jsonValue(const j::Value& v) {
    using K = j::Value::Kind;
    switch (v.kind) {
    case K::Null:
        return "null";
    case K::Boolean:
        return v.integer ? "true" : "false";
    case K::Integer:
        return std::to_string(v.integer);
    case K::Currency:
        return check::jsonString(check::currencyText(v.integer));
    case K::Single:
        return check::jsonNumber(v.real, true);
    case K::Double:
        return check::jsonNumber(v.real);
    case K::DateTime: {
        const std::string text = check::dateTimeText(v.real);
        return check::jsonString(text.empty() ? "invalid" : text);
    }
    case K::Text:
        return check::jsonString(j::utf8FromUtf16(v.text));
    case K::Binary:
        return check::jsonString(check::base64(v.bytes));
    case K::Guid:
        return check::jsonString(j::guidText(v.bytes));
    case K::Numeric:
        return check::jsonString(j::numericText(v));
    }
    return "null";
}

// Where the JSON value starting at `at` of `line` ends (a string, or a bare number or word);
// npos when there is none.
std::size_t valueEnd(std::string_view line, std::size_t at) {
    if (at >= line.size())
        return std::string_view::npos;
    if (line[at] != '"')
        return line.find_first_of(",}", at);
    for (std::size_t i = at + 1; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '"')
            return i + 1;
    }
    return std::string_view::npos;
}

// An abandoned overflow image as a judge should list it: the row its bytes hold. Columns numbered
// at or above the image's own column count are Null in it, but the judges read their Null bits
// past the image's mask and may then read a value from other columns' bytes (ReferenceReaders.h);
// in those columns alone the judge's value is taken as it is.
struct AbandonedImage {
    struct Column {
        std::string key;   // ,"name":
        std::string value; // as Access holds it
        bool misread = false;
    };
    std::string prefix; // {"table":"name","row":{
    std::vector<Column> columns;

    std::string lineFor(std::string_view judge) const {
        std::string line = prefix;
        std::size_t at = judge.starts_with(prefix) ? prefix.size() : std::string_view::npos;
        for (const auto& column : columns) {
            line += column.key;
            at = at != std::string_view::npos && judge.substr(at).starts_with(column.key)
                     ? at + column.key.size()
                     : std::string_view::npos;
            const std::size_t end = valueEnd(judge, at);
            line += column.misread && end != std::string_view::npos
                        ? std::string(judge.substr(at, end - at))
                        : column.value;
            at = end;
        }
        return line + "}}";
    }
};

// One row of a table as the judges list it: a row of our dump (by its place there) or an
// abandoned image.
struct JudgedRow {
    std::size_t ours = 0;
    std::optional<AbandonedImage> image;
};

struct TableLayout {
    std::string name;
    std::string linePrefix; // {"table":"name","row":
    std::size_t ownRows = 0;
    std::vector<JudgedRow> judged;
};

std::uint32_t u32(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4)
        throw std::runtime_error("an overflow pointer row is shorter than 4 bytes");
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Every user table of the file, read from its pages: the rows our dump lists (slots holding a row
// or an overflow pointer, in page and slot order) and the order the judges list rows in (every
// slot not flagged 0x4000 in turn, an overflowed row where its image lies).
std::vector<TableLayout> tableLayouts(const std::filesystem::path& path) {
    const j::PageFile file(path.string());
    std::vector<TableLayout> layouts;
    for (const auto& entry : j::readCatalog(file)) {
        if (!j::isUserTable(entry))
            continue;
        const auto definition =
            j::readTableDefinition(file, static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
        TableLayout layout;
        layout.name = entry.name;
        layout.linePrefix = "{\"table\":" + check::jsonString(entry.name) + ",\"row\":";
        std::vector<j::DataPage> pages;
        for (const auto number : j::readUsageMap(file, definition.ownedPages).pages)
            pages.push_back(j::readDataPage(file, number));
        std::map<std::pair<std::uint32_t, std::uint8_t>, std::size_t> imageOf;
        std::map<std::pair<std::uint32_t, std::uint8_t>, std::size_t> ours;
        for (const auto& page : pages)
            for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
                if (!page.rowSlots()[slot].isTableRow())
                    continue;
                ours[{page.number(), static_cast<std::uint8_t>(slot)}] = layout.ownRows;
                if (page.rowSlots()[slot].pointer) {
                    const auto target = j::rowLocationFromPointer(u32(page.row(slot)));
                    imageOf[{target.page, target.row}] = layout.ownRows;
                }
                ++layout.ownRows;
            }
        std::vector<std::size_t> order(definition.columns.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return definition.columns[a].number < definition.columns[b].number;
        });
        std::size_t imagesFound = 0;
        for (const auto& page : pages)
            for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
                const auto& flags = page.rowSlots()[slot];
                const std::pair key{page.number(), static_cast<std::uint8_t>(slot)};
                if (flags.pointer)
                    continue;
                if (!flags.notRow) {
                    layout.judged.push_back({ours.at(key), {}});
                } else if (const auto image = imageOf.find(key); image != imageOf.end()) {
                    layout.judged.push_back({image->second, {}});
                    ++imagesFound;
                } else {
                    const auto bytes = page.row(slot);
                    const auto values = j::decodeRow(file, definition, bytes, page.number());
                    const unsigned columnCount = bytes[0] | bytes[1] << 8;
                    AbandonedImage abandoned{layout.linePrefix + "{", {}};
                    for (const std::size_t i : order)
                        abandoned.columns.push_back(
                            {(abandoned.columns.empty() ? "" : ",") +
                                 check::jsonString(definition.columns[i].name) + ":",
                             jsonValue(values[i]), definition.columns[i].number >= columnCount});
                    layout.judged.push_back({0, std::move(abandoned)});
                }
            }
        EXPECT_EQ(imagesFound, imageOf.size())
            << "table " << entry.name << ": overflow pointers lead to slots that are no images";
        layouts.push_back(std::move(layout));
    }
    return layouts;
}

// The lines of `dump` that belong to `layout`'s table, in their order; every line taken is
// counted in `taken`.
Lines tableLines(const Lines& dump, const TableLayout& layout, std::size_t& taken) {
    Lines lines;
    for (const auto& line : dump)
        if (line.starts_with(layout.linePrefix))
            lines.push_back(line);
    taken += lines.size();
    return lines;
}

// Our rows of a table arranged as `judge` (a judge's rows of it) should list them, abandoned
// images included; empty, with a failure, when our dump does not hold the table's rows.
Lines asJudged(const TableLayout& layout, const Lines& ours, const Lines& judge) {
    if (ours.size() != layout.ownRows) {
        ADD_FAILURE() << "table " << layout.name << ": the dump holds " << ours.size()
                      << " rows, its pages " << layout.ownRows;
        return {};
    }
    Lines arranged;
    for (const auto& row : layout.judged)
        arranged.push_back(row.image ? row.image->lineFor(arranged.size() < judge.size()
                                                              ? judge[arranged.size()]
                                                              : std::string())
                                     : ours[row.ours]);
    return arranged;
}

struct Dumps {
    Lines ours;
    std::vector<TableLayout> layouts;
};

// Our dump of `file`, from the checker's program, and the file's table layouts.
std::optional<Dumps> ourDump(const std::filesystem::path& file) {
    const auto run = runChecker({"--dump", argument(file)});
    if (run.exitCode != 0) {
        ADD_FAILURE() << "patch16-check --dump exited " << run.exitCode << ": " << run.err;
        return std::nullopt;
    }
    return Dumps{splitLines(run.out), tableLayouts(file)};
}

// Compares our dump with a judge's, table by table, through `compare` (given the judge's rows of
// the table and ours arranged as the judge lists them); every line of both dumps must belong to a
// user table.
template <typename Compare>
void compareTables(const Dumps& dumps, const Lines& judge, const Compare& compare) {
    std::size_t takenOurs = 0, takenJudge = 0;
    for (const auto& layout : dumps.layouts) {
        SCOPED_TRACE("table " + layout.name);
        const Lines judged = tableLines(judge, layout, takenJudge);
        compare(judged, asJudged(layout, tableLines(dumps.ours, layout, takenOurs), judged));
    }
    EXPECT_EQ(takenOurs, dumps.ours.size()) << "our dump holds lines of no user table";
    EXPECT_EQ(takenJudge, judge.size()) << "the judge's dump holds lines of no user table";
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines)
        text += "  " + line + "\n";
    return text;
}

TEST(SampleProof, CheckerFindsEverySampleSound) {
    REQUIRE_JET_SAMPLES();
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto run = runChecker({argument(file)});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        const Lines lines = splitLines(run.out);
        EXPECT_TRUE(!lines.empty() && lines.back() == "sound") << run.out;
    }
}

TEST(SampleProof, DumpEqualsJackcessRows) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_JACKCESS();
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto run = runChecker({"--dump", argument(file)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // Jackcess lists the tables by name, our dump in catalog order: rows are compared in
        // their order within each table.
        const auto byTable = [](Lines lines) {
            std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
                return a.substr(0, a.find(",\"row\":")) < b.substr(0, b.find(",\"row\":"));
            });
            return lines;
        };
        const Lines ours = byTable(splitLines(run.out));
        const Lines judge = byTable(jackcessRows(file));
        EXPECT_EQ(ours.size(), judge.size());
        for (std::size_t i = 0; i < std::min(ours.size(), judge.size()); ++i)
            if (ours[i] != judge[i]) {
                ADD_FAILURE() << "line " << i + 1 << "\nJackcess: " << judge[i]
                              << "\nours:     " << ours[i];
                break;
            }
    }
}

TEST(SampleProof, DumpEqualsMdbReaderButForAbandonedImages) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_REFERENCE_TOOLS();
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto dumps = ourDump(file);
        if (!dumps)
            continue;
        compareTables(*dumps, mdbReaderDump(file), [](const Lines& judge, const Lines& ours) {
            EXPECT_EQ(ours.size(), judge.size());
            for (std::size_t i = 0; i < std::min(ours.size(), judge.size()); ++i)
                EXPECT_EQ(ours[i], judge[i]) << "row " << i + 1;
        });
    }
}

TEST(SampleProof, DumpAgreesWithMdbtoolsButForItsQuirks) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_REFERENCE_TOOLS();
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto dumps = ourDump(file);
        if (!dumps)
            continue;
        const auto schema = mdbSchema(file);
        compareTables(*dumps, mdbtoolsDump(file), [&](const Lines& judge, const Lines& ours) {
            const auto problems = mdbtoolsDisagreements(judge, ours, schema);
            EXPECT_TRUE(problems.empty()) << joined(problems);
        });
    }
}

// The engine's type code for an Access type as mdb-schema names it, and for text the size in
// characters it gives (0 otherwise); code 0 for a name not known here.
std::pair<int, int> engineType(const std::string& type) {
    static const std::pair<const char*, int> codes[] = {
        {"Boolean", 1},         {"Byte", 2},       {"Integer", 3}, {"Long Integer", 4},
        {"Currency", 5},        {"Single", 6},     {"Double", 7},  {"DateTime", 8},
        {"Binary", 9},          {"Text (", 10},    {"OLE", 11},    {"Memo/Hyperlink", 12},
        {"Replication ID", 15}, {"Numeric (", 20},
    };
    for (const auto& [name, code] : codes) {
        const std::string_view prefix(name);
        if (type == prefix ||
            (type.starts_with(prefix) && (prefix.ends_with('(') || type[prefix.size()] == ' ')))
            return {code, code == 10 ? std::stoi(type.substr(prefix.size())) : 0};
    }
    return {0, 0};
}

// The names of the members of an engine collection, in its order.
Lines memberNames(const Variant& collection) {
    Lines names;
    const int count = collection.get("Count").toInt();
    for (int i = 0; i < count; ++i)
        names.push_back(collection.get("Item", {std::int32_t{i}}).get("Name").toText());
    return names;
}

// A table's logical indexes as the file holds them, and how many physical indexes it has.
struct FileIndexes {
    std::vector<j::LogicalIndex> logical;
    std::uint32_t physicalCount = 0;

    const j::LogicalIndex* named(const std::string& name) const {
        const auto it = std::ranges::find(logical, name, &j::LogicalIndex::name);
        return it == logical.end() ? nullptr : &*it;
    }

    // The physical index whose columns and uniqueness mdb-schema prints under `index`. The file
    // names each logical index's physical index in the logical index itself, but mdbtools pairs
    // physical index i with the logical index numbered i that is not a foreign key; where no
    // logical index is numbered i it loses its place among the definitions, and prints nothing
    // trustworthy for the physical indexes from there on.
    std::optional<std::uint32_t> describedUnder(const j::LogicalIndex& index) const {
        for (std::uint32_t i = 0; i < physicalCount; ++i) {
            const auto paired = std::ranges::find_if(logical, [&](const j::LogicalIndex& l) {
                return l.type != j::LogicalIndex::ForeignKeyType && l.number == i;
            });
            if (paired == logical.end())
                return std::nullopt;
            if (&*paired == &index)
                return i;
        }
        return std::nullopt;
    }
};

// The indexes of every user table of the file, by table name, read from its definitions.
std::map<std::string, FileIndexes> fileIndexes(const std::filesystem::path& path) {
    const j::PageFile file(path.string());
    std::map<std::string, FileIndexes> indexes;
    for (const auto& entry : j::readCatalog(file))
        if (j::isUserTable(entry)) {
            const auto definition =
                j::readTableDefinition(file, static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
            indexes[entry.name] = {definition.logicalIndexes, definition.physicalIndexCount};
        }
    return indexes;
}

// Checks one table of the engine's object model against mdb-schema's description of it.
// mdb-schema's quirks allowed for, each only where it applies:
//   - it prints NOT NULL for every Boolean column (a Yes/No value is never Null in the file),
//     whatever the column's Required property, so Required is compared for other columns only;
//   - it prints no primary key's name, so the primary key is matched by being primary;
//   - it leaves out foreign-key indexes (those that serve relationships), which the engine lists;
//   - it pairs logical and physical indexes by number (FileIndexes::describedUnder): under an
//     index it prints the columns and uniqueness of the physical index it paired with the index,
//     which are compared with those of the engine's index that uses that physical index; where
//     it paired none (in the delColTest, testIndexCodes and testIndexProperties samples) the
//     columns and uniqueness it prints (none, or garbage) are not compared;
//   - for a descending key column it prints "`Name` DESC", which mdbSchema's parsing leaves as
//     "Name` DES" (index CD_AGENTE of the compIndexTest samples, its last key column).
void compareTable(const Variant& table, const ReferenceTable& reference, const FileIndexes& file) {
    const Variant fields = table.get("Fields");
    ASSERT_EQ(fields.get("Count").toInt(), static_cast<int>(reference.columns.size()));
    for (std::size_t i = 0; i < reference.columns.size(); ++i) {
        const auto& column = reference.columns[i];
        SCOPED_TRACE("column " + column.name + " " + column.type);
        const auto [code, size] = engineType(column.type);
        ASSERT_NE(code, 0) << "no engine type known for mdb-schema's " << column.type;
        const Variant field = fields.get("Item", {static_cast<std::int32_t>(i)});
        EXPECT_EQ(field.get("Name").toText(), column.name);
        EXPECT_EQ(field.get("Type").toInt(), code);
        if (code == 10) {
            EXPECT_EQ(field.get("Size").toInt(), size);
        }
        if (code != 1) {
            EXPECT_EQ(field.get("Required").toBool(), column.notNull);
        }
    }
    const Variant indexes = table.get("Indexes");
    Lines matched;
    for (const auto& index : reference.indexes) {
        SCOPED_TRACE("index " + (index.primary ? std::string("(primary key)") : index.name));
        std::optional<Variant> found;
        for (int i = 0; i < indexes.get("Count").toInt(); ++i) {
            const Variant candidate = indexes.get("Item", {std::int32_t{i}});
            if (index.primary ? candidate.get("Primary").toBool()
                              : candidate.get("Name").toText() == index.name)
                found = candidate;
        }
        const auto* logical = found ? file.named(found->get("Name").toText()) : nullptr;
        if (!logical) {
            ADD_FAILURE() << "the engine or the file lacks this index";
            continue;
        }
        matched.push_back(logical->name);
        EXPECT_EQ(found->get("Primary").toBool(), index.primary);
        const auto physical = file.describedUnder(*logical);
        if (!physical)
            continue;
        const auto user =
            std::ranges::find(file.logical, *physical, &j::LogicalIndex::physicalIndex);
        if (user == file.logical.end()) {
            ADD_FAILURE() << "no index uses physical index " << *physical;
            continue;
        }
        const Variant described = indexes.get("Item", {user->name});
        Lines columns = index.columns;
        if (!columns.empty() && columns.back().ends_with("` DES"))
            columns.back().resize(columns.back().size() - 5);
        EXPECT_EQ(memberNames(described.get("Fields")), columns);
        // mdb-schema prints no uniqueness for a primary key (mdbSchema takes it as unique),
        // which holds only for the primary key's own physical index.
        if (!index.primary || *physical == logical->physicalIndex) {
            EXPECT_EQ(described.get("Unique").toBool(), index.unique);
        }
    }
    for (const auto& name : memberNames(indexes)) {
        const auto* logical = file.named(name);
        EXPECT_TRUE(std::ranges::count(matched, name) == 1 ||
                    (std::ranges::count(matched, name) == 0 && logical &&
                     logical->type == j::LogicalIndex::ForeignKeyType))
            << "the engine's index " << name << " is not mdb-schema's";
    }
}

TEST(SampleProof, ObjectModelMatchesMdbSchema) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_REFERENCE_TOOLS();
    engine::registerEngine();
    const Variant dbEngine = automation::createOleObject(engine::ProgId);
    const Variant workspace = dbEngine.get("Workspaces", {std::int32_t{0}});
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto schema = mdbSchema(file);
        const auto indexes = fileIndexes(file);
        try {
            const Variant db = workspace.call("OpenDatabase", {file.string()});
            Lines names;
            for (const auto& table : schema.tables)
                names.push_back(table.name);
            EXPECT_EQ(memberNames(db.get("TableDefs")), names);
            for (const auto& table : schema.tables) {
                SCOPED_TRACE("table " + table.name);
                compareTable(db.get("TableDefs", {table.name}), table, indexes.at(table.name));
            }
            db.call("Close");
        } catch (const automation::Error& e) {
            ADD_FAILURE() << "engine error " << e.number() << ": " << e.what();
        }
    }
}

} // namespace
