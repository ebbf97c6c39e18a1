// Type names and date values: what a declared type means to the engine, and dates kept as
// text in the file but handed out as days since 1899-12-30.

#include "engine/OleDate.h"
#include "engine/Schema.h"

#include <gtest/gtest.h>

using namespace engine;

TEST(Types, DeclaredTypesOfAnyProgramMapToFieldTypes) {
    struct Case {
        const char* declared;
        FieldType type;
        int size;
    };
    const Case cases[] = {
        {"TEXT(10)", FieldType::Text, 10},
        {"text ( 50 )", FieldType::Text, 50},
        {"VARCHAR(20)", FieldType::Text, 20},
        {"CHAR(3)", FieldType::Text, 3},
        {"VARCHAR(1000)", FieldType::Memo, 0},
        {"LONGTEXT", FieldType::Memo, 0},
        {"MEMO", FieldType::Memo, 0},
        {"CLOB", FieldType::Memo, 0},
        {"", FieldType::Memo, 0},
        {"BLOB", FieldType::Memo, 0},
        {"INTEGER", FieldType::Long, 4},
        {"BIGINT", FieldType::Long, 4},
        {"SMALLINT", FieldType::Integer, 2},
        {"SHORT", FieldType::Integer, 2},
        {"BYTE", FieldType::Byte, 1},
        {"YESNO", FieldType::Boolean, 1},
        {"BOOLEAN", FieldType::Boolean, 1},
        {"MONEY", FieldType::Currency, 8},
        {"REAL", FieldType::Single, 4},
        {"FLOAT", FieldType::Double, 8},
        {"DOUBLE PRECISION", FieldType::Double, 8},
        {"NUMERIC(10,2)", FieldType::Double, 8},
        {"DATE", FieldType::Date, 8},
        {"TIMESTAMP", FieldType::Date, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declared);
        DerivedType t = deriveType(c.declared);
        EXPECT_EQ(t.type, c.type);
        EXPECT_EQ(t.size, c.size);
    }
}

TEST(Types, CanonicalNamesReadBackAsTheirOwnType) {
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 10, 12}) {
        auto type = static_cast<FieldType>(code);
        int size = type == FieldType::Text ? 42 : defaultSize(type);
        DerivedType back = deriveType(canonicalTypeName(type, size));
        EXPECT_EQ(back.type, type) << code;
        EXPECT_EQ(back.size, size) << code;
    }
    EXPECT_FALSE(isFieldType(9));
    EXPECT_FALSE(isFieldType(11));
}

TEST(Types, JetTypeRefusesWhatDataDefinitionMayNotSay) {
    for (const char* bad :
         {"TEXT(0)", "TEXT(256)", "TEXT(x)", "LONG(4)", "INTEGER PRIMARY", "BLOB"})
        EXPECT_FALSE(jetType(bad).has_value()) << bad;
    ASSERT_TRUE(jetType("Text").has_value());
    EXPECT_EQ(jetType("Text")->size, 255);
}

TEST(Types, DatesConvertBothWaysAndRefuseNonsense) {
    struct Case {
        const char* iso;
        double days;
    };
    const Case cases[] = {{"1899-12-30 00:00:00", 0.0},
                          {"2003-07-30 12:00:00", 37832.5},
                          {"1900-01-01 06:00:00", 2.25},
                          {"1899-12-29 06:00:00", -1.25},
                          {"2000-02-29 00:00:00", 36585.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.iso);
        ASSERT_TRUE(oleDateFromIso(c.iso).has_value());
        EXPECT_DOUBLE_EQ(*oleDateFromIso(c.iso), c.days);
        EXPECT_EQ(isoFromOleDate(c.days), c.iso);
    }
    EXPECT_DOUBLE_EQ(*oleDateFromIso("2003-07-30"), 37832.0);
    for (const char* bad : {"2003-02-29", "2003-13-01", "2003-07-30 24:00:00", "30.07.2003", "",
                            "2003-07-30 12", "2003-07-30x"})
        EXPECT_FALSE(oleDateFromIso(bad).has_value()) << bad;
}
