// SELECT as stores that run queries themselves read and evaluate it.

#include "engine/sql/Select.h"
#include "automation/Error.h"
#include "engine/OleDate.h"
#include "engine/sql/JetLexer.h"

#include <gtest/gtest.h>

#include <map>

using automation::Variant;
namespace jet = engine::jet;

namespace {

jet::SelectQuery parse(std::string_view sql) {
    const auto tokens = jet::tokenize(sql);
    return jet::parseSelect(tokens, sql);
}

// One row of a shop's param table, with a column of every kind a condition meets.
const std::map<std::string, Variant> Row = {
    {"ID", Variant("patch")},
    {"Item", Variant("PATCH")},
    {"AValue", Variant("patch15")},
    {"Qty", Variant(3)},
    {"Price", Variant(12.5)},
    {"Done", Variant(true)},
    {"Note", Variant::null()},
    {"Name", Variant("ПАТЧ")},
    {"Made", Variant(*engine::oleDateFromIso("2003-07-30 00:00:00"))},
};

bool selects(std::string_view sql) {
    const jet::SelectQuery q = parse(sql);
    if (!q.where)
        return true;
    for (const auto& name : jet::conditionColumns(*q.where))
        EXPECT_TRUE(Row.count(name)) << name;
    return jet::matches(*q.where, [](const std::string& name) { return Row.at(name); });
}

} // namespace

TEST(Select, ReadsColumnsTableAndConditionWhateverTheSpelling) {
    const jet::SelectQuery all = parse(R"(select * from param where Item="PATCH")");
    EXPECT_EQ(all.table, "param");
    EXPECT_TRUE(all.columns.empty());
    const jet::SelectQuery some = parse("SELECT [ID], param.AValue FROM [param];");
    EXPECT_EQ(some.columns, (std::vector<std::string>{"ID", "AValue"}));
    EXPECT_EQ(some.where, nullptr);
}

TEST(Select, ConditionsFollowTheEnginesComparisonRules) {
    const struct {
        const char* sql;
        bool selected;
    } cases[] = {
        {R"(select * from param where Item="PATCH")", true},
        {R"(select * from param where Item="patch")", true}, // case ignored
        {R"(select * from param where Name="патч")", true},  // in any alphabet
        {R"(select * from param where Name<"пАтчи")", true},
        {R"(select * from param where Name>"ПАТЧ")", false},
        {R"(select * from param where ID<>'patch')", false},
        {"select * from param where Qty = 3 AND Price > 12", true},
        {"select * from param where Qty < 3 OR Price >= 12.5", true},
        {"select * from param where NOT (Qty <= 2)", true},
        {"select * from param where Qty > -1", true},
        {"select * from param where Done = True", true},
        {"select * from param where Done", true},
        {"select * from param where Made = #7/30/2003#", true},
        {"select * from param where Made < #2003-07-30#", false},
        {"select * from param where Note IS NULL", true},
        {"select * from param where Note IS NOT NULL", false},
        // Anything compared with Null is unknown, and unknown selects nothing, even negated.
        {"select * from param where Note = 'x'", false},
        {"select * from param where NOT (Note = 'x')", false},
        {"select * from param where Note = 'x' OR Qty = 3", true},
        {"select * from param where Note = Null", false},
        {"select * from param", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(selects(c.sql), c.selected) << c.sql;
}

TEST(Select, MalformedQueriesAndMismatchedComparisonsAreRefusedWithTheEnginesNumbers) {
    const struct {
        const char* sql;
        long number;
    } cases[] = {
        {"select from param", 3075},
        {"select * param", 3075},
        {"select * from param where", 3075},
        {"select * from param where Qty = ", 3075},
        {"select * from param where (Qty = 3", 3075},
        {"select * from param order by ID", 3075},
        {"select * from param where Qty = 3 ; x", 3075},
        {"select * from param where ID = 3", 3464},
        {"select other.ID from param", 3061},
    };
    for (const auto& c : cases) {
        try {
            selects(c.sql);
            ADD_FAILURE() << c.sql << " was accepted";
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.sql << ": " << e.description();
        }
    }
}
