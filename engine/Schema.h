#pragma once
// Descriptions of tables, columns and indexes as the engine's object model and its SQL front
// end pass them to the store.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The engine's field type codes.
enum class FieldType : int {
    Boolean = 1,
    Byte = 2,
    Integer = 3, // 16-bit
    Long = 4,
    Currency = 5,
    Single = 6,
    Double = 7,
    Date = 8,
    Binary = 9,      // size 1 to 255; read from Access files only
    Text = 10,       // size 1 to 255
    LongBinary = 11, // read from Access files only
    Memo = 12,
    Guid = 15,    // read from Access files only
    Decimal = 20, // read from Access files only
};

// True for the codes a new field may take (every code above but those read only).
bool isFieldType(int code);

// Default size of a column of `type` when none is given (Text: 255; others: their byte width).
int defaultSize(FieldType type);

// The declared SQLite type the engine writes for a column: BIT, BYTE, SHORT, LONG, CURRENCY,
// REAL, DOUBLE, DATETIME, TEXT(n), LONGTEXT.
std::string canonicalTypeName(FieldType type, int size);

struct DerivedType {
    FieldType type;
    int size;
};

// The field type and size named by one of the original engine's type names or synonyms in a
// data-definition statement: the canonical names above, TEXT[(n)], CHAR(n), VARCHAR(n), MEMO,
// LONGTEXT, BYTE, SHORT, SMALLINT, LONG, INT, INTEGER, SINGLE, REAL, DOUBLE, FLOAT, CURRENCY,
// MONEY, DATETIME, DATE, BIT, YESNO (case ignored, blanks allowed around the size). Nothing for
// any other text.
std::optional<DerivedType> jetType(std::string_view name);

// The field type (and size, for text) of a column declared as `declared` by any program: the
// canonical names, Jet's names and synonyms (TEXT(n), CHAR(n), VARCHAR(n), MEMO, YESNO, MONEY...)
// and SQLite's usual ones (INTEGER, NUMERIC, BLOB, an empty type...). Never fails: anything
// unknown is taken by SQLite's affinity rules.
DerivedType deriveType(std::string_view declared);

struct ColumnDef {
    std::string name;
    FieldType type = FieldType::Text;
    int size = 0; // 0: defaultSize(type)
    bool required = false;
    bool allowZeroLength = false;
};

struct IndexDef {
    std::string name;
    std::vector<std::string> columns; // key order
    bool primary = false;
    bool unique = false;
    bool required = false;
    bool ignoreNulls = false;
    bool clustered = false;
};

struct TableSchema {
    std::string name;
    std::vector<ColumnDef> columns; // in table order
    std::vector<IndexDef> indexes;  // primary keys included
};

} // namespace engine
