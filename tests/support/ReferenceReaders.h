#pragma once
// Two independent readers of Access files, used by tests as judges of the project's own reader:
// npm mdb-reader (through Node and tests/tools/mdb-reader-dump.mjs) and Debian's mdbtools. Both
// dumps come as JSON Lines in the form the project's checker prints with --dump:
//
//   {"table":"Name","row":{"Column":value,...}}
//
// one line per row of every user table (system and linked tables left out), tables in catalog
// order, rows in storage order, columns in table order, compact, keys in that order, strings
// escaped as JavaScript's JSON.stringify escapes them. Values:
//   text, memo            string
//   byte, integer, long   integer
//   single                shortest decimal that reads back as the same float32
//   double                shortest decimal that reads back as the same double
//   currency              string with exactly four decimals ("12.3400", "-0.5000")
//   boolean               true / false
//   datetime              "YYYY-MM-DDTHH:MM:SS": days since 1899-12-30, the fraction a positive
//                         time of day even for negative days, rounded to the nearest second
//   binary, ole           base64
//   GUID                  "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
//   numeric               decimal string with the column's scale ("12.50")
//   Null                  null
// Numbers are laid out as JavaScript prints them: plain digits from 1e-7 up to 1e21, otherwise
// "1e+21" / "1.5e-7"; -0 prints as 0 (see jsNumberText).
//
// The mdb-reader dump is exact. The mdbtools dump is exact but for these quirks of mdbtools 1.0,
// which a comparison must allow for (mdbtoolsDisagreements does, and nothing else):
//   - singles are printed with 8 significant digits and doubles with 16, so a value that needs
//     more reads back as a neighbour: a value agrees when printing it the same way gives the same
//     number;
//   - a datetime before 1899-12-31 (a negative day count) or after 4637-11-26 (over a million
//     days) comes out as "1900-01-00T00:00:00";
//   - text and memo values stop at the first U+0000;
//   - an empty text, memo, binary or OLE value comes out as Null (mdb-export takes a value of
//     length 0 for Null);
// GUIDs lacking their fourth dash in mdbtools 1.0 are mended here and need no allowance.
// Neither reader handles a row written before columns were added to its table (the row holds
// fewer columns than the table; the added columns are Null in it): both read the added columns'
// Null bits past the row's own mask, and where such a bit happens to be set, read the value from
// bytes of other columns. mdb-reader then writes a datetime as "invalid" (or a wrong date), and
// mdbtools as "1900-01-00T00:00:00"; on the samples this happens in
// ru/kadetviti272+diplom+0b31d08+db.mdb, table user, column dBirsday, rows with id 2, 3 and 4
// (Null in Access). A test comparing the project's dump with either judge must allow for it.
// mdb-schema's quirks: a primary key's name is not printed (ReferenceIndex::name is empty); an
// index whose definition mdbtools misreads comes with no columns (testIndexPropertiesV2000.mdb,
// TableIgnoreNulls2 and the _temp tables after it). Relationships are not read.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Why the reference readers cannot run (node, the mdb-reader module, or mdbtools missing), or
// nothing when they can. The mdb-reader module is looked for in the node_modules folder named by
// PATCH16_NODE_MODULES, else in node/node_modules of the build folder, where ./test installs it.
std::optional<std::string> referenceToolsMissing();

// The file's rows read by npm mdb-reader, one JSON line each. Throws std::runtime_error when
// mdb-reader cannot read the file.
std::vector<std::string> mdbReaderDump(const std::filesystem::path& file);

// The file's rows read by mdbtools (mdb-tables, mdb-schema and mdb-export), one JSON line each,
// in the same form. Throws std::runtime_error when mdbtools cannot read the file.
std::vector<std::string> mdbtoolsDump(const std::filesystem::path& file);

struct ReferenceColumn {
    std::string name;
    std::string type; // as mdb-schema prints it for Access: "Text (50)", "Long Integer", ...
    bool notNull = false;
};

struct ReferenceIndex {
    std::string name; // empty for the primary key, whose name mdbtools does not print
    std::vector<std::string> columns;
    bool unique = false;
    bool primary = false;
};

struct ReferenceTable {
    std::string name;
    std::vector<ReferenceColumn> columns;
    std::vector<ReferenceIndex> indexes;

    const ReferenceColumn* column(std::string_view name) const;
};

struct ReferenceSchema {
    std::vector<ReferenceTable> tables; // in catalog order

    const ReferenceTable* table(std::string_view name) const;
};

// The user tables of the file as mdb-schema reads them. Throws std::runtime_error when mdbtools
// cannot read the file.
ReferenceSchema mdbSchema(const std::filesystem::path& file);

// Compares a dump with mdbtools' dump of the same file, line by line, allowing only for the
// mdbtools quirks listed above (schema is mdbSchema of the file, for the column types). Returns
// one description per disagreement; empty when the two agree.
std::vector<std::string> mdbtoolsDisagreements(const std::vector<std::string>& mdbtools,
                                               const std::vector<std::string>& other,
                                               const ReferenceSchema& schema);

// A number as JavaScript's Number.prototype.toString writes it: the shortest decimal that reads
// back as the same double.
std::string jsNumberText(double value);

// A single as the dumps write it: the shortest decimal that reads back as the same float32, laid
// out as jsNumberText lays out numbers.
std::string jsSingleText(float value);

} // namespace testsupport
