// Tables, fields and indexes through the object model: the SQLite objects they become, their
// properties read back as written (also after reopening), and the rules for removing and
// duplicating them, with the error list the connection shows.

#include "EngineFixture.h"

using automation::Variant;

TEST_F(EngineTest, AppendedFieldsGetCanonicalDeclaredTypes) {
    makeSample();
    Variant db = open();
    Variant table = db.get("TableDefs", {"supgood"});
    struct Case {
        const char* name;
        int type;
        int size; // 0: not written
        const char* declared;
    };
    const Case cases[] = {{"SertBlank", 10, 10, "TEXT(10)"},
                          {"SertIssue", 10, 120, "TEXT(120)"},
                          {"MinValue", 5, 0, "CURRENCY"},
                          {"SertStart", 8, 0, "DATETIME"},
                          {"Flag", 1, 0, "BIT"},
                          {"Small", 3, 0, "SHORT"},
                          {"Note", 12, 0, "LONGTEXT"},
                          {"Ratio", 6, 0, "REAL"}};
    for (const Case& c : cases) {
        Variant f = table.call("CreateField", {c.name, c.type});
        if (c.size)
            f.put("Size", c.size);
        f.put("Required", false);
        table.get("Fields").call("Append", {f});
    }
    db.call("Close");
    std::vector<std::string> columns = columnsOf("Supgood");
    ASSERT_EQ(columns.size(), 3 + std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(columns[3 + i], std::string(cases[i].name) + ":" + cases[i].declared + ":0");
}

TEST_F(EngineTest, FieldAndIndexPropertiesReadBackAsWrittenAfterReopen) {
    makeSample();
    Variant db = open();
    Variant table = db.get("TableDefs", {"Supgood"});
    Variant f = table.call("CreateField", {"SertNum", 10});
    f.put("Size", 30);
    f.put("AllowZeroLength", true);
    f.put("Required", true);
    table.get("Fields").call("Append", {f});

    Variant index = table.call("CreateIndex", {"SupGood_PK"});
    index.put("Primary", true);
    index.put("Unique", false);
    index.put("Required", true);
    index.put("IgnoreNulls", true);
    index.put("Clustered", true);
    for (const char* column : {"VN", "good"})
        index.get("Fields").call("Append", {index.call("CreateField", {column})});
    table.get("Indexes").call("Append", {index});
    db.call("Close");
    db.clear();

    // The index is a plain SQLite index over the table's own spelling of the columns.
    EXPECT_EQ(indexesOf("Supgood"), std::vector<std::string>{"SupGood_PK:1:Vn,Good"});
    db = open();
    Variant reread = db.get("TableDefs", {"SUPGOOD"});
    Variant field = reread.get("Fields", {"sertnum"});
    EXPECT_EQ(field.get("Type").toInt(), 10);
    EXPECT_EQ(field.get("Size").toInt(), 30);
    EXPECT_TRUE(field.get("AllowZeroLength").toBool());
    EXPECT_TRUE(field.get("Required").toBool());
    EXPECT_FALSE(reread.get("Fields", {"Good"}).get("Required").toBool());
    Variant key = reread.get("Indexes", {"supgood_pk"});
    for (const char* flag : {"Primary", "Unique", "Required", "IgnoreNulls", "Clustered"})
        EXPECT_TRUE(key.get(flag).toBool()) << flag;
    EXPECT_EQ(key.get("Fields").get("Count").toInt(), 2);
    EXPECT_EQ(key.get("Fields", {0}).get("Name").toText(), "Vn");
    EXPECT_EQ(db.get("TableDefs").get("Count").toInt(), 2); // the engine's own table is hidden
}

TEST_F(EngineTest, PropertiesBecomeReadOnlyOnceAppended) {
    makeSample();
    Variant db = open();
    Variant table = db.get("TableDefs", {"Supgood"});
    Variant f = table.call("CreateField", {"SertGet", 10, 100});
    table.get("Fields").call("Append", {f});
    Variant index = table.call("CreateIndex", {"SupGood_I_Vn"});
    index.get("Fields").call("Append", {index.call("CreateField", {"Vn"})});
    table.get("Indexes").call("Append", {index});

    const std::vector<std::pair<Variant, const char*>> writes = {
        {f, "Size"},       {f, "Required"},    {f, "AllowZeroLength"}, {f, "Name"},
        {index, "Unique"}, {index, "Primary"}, {index, "Clustered"}};
    for (const auto& [object, property] : writes) {
        SCOPED_TRACE(property);
        EXPECT_EQ(errorNumber([&] {
                      object.put(property,
                                 std::string(property) == "Name" ? Variant("x") : Variant(true));
                  }),
                  3219);
    }
    EXPECT_EQ(f.get("Size").toInt(), 100);
    EXPECT_EQ(errorNumber([&] { table.get("Fields").call("Append", {f}); }), 3367);
}

TEST_F(EngineTest, DropColumnRules) {
    makeSample();
    Variant db = open();
    Variant table = db.get("TableDefs", {"Supgood"});
    Variant index = table.call("CreateIndex", {"SupGood_I_Good"});
    index.get("Fields").call("Append", {index.call("CreateField", {"Good"})});
    table.get("Indexes").call("Append", {index});

    Variant fields = table.get("Fields");
    EXPECT_EQ(errorNumber([&] { fields.call("Delete", {"Good"}); }), 3280);
    EXPECT_EQ(errorNumber([&] { fields.call("Delete", {"Missing"}); }), 3265);
    EXPECT_EQ(dbEngine.get("Errors", {0}).get("Source").toText(), "DAO.Fields");
    EXPECT_NE(dbEngine.get("Errors", {0}).get("Description").toText().find("Missing"),
              std::string::npos);
    EXPECT_EQ(errorNumber([&] { db.get("TableDefs", {"Nowhere"}); }), 3265);
    fields.call("Delete", {"certificat"});
    EXPECT_EQ(fields.get("Count").toInt(), 2);
    db.call("Close");
    EXPECT_EQ(columnsOf("Supgood"), (std::vector<std::string>{"Vn:TEXT(10):1", "Good:LONG:0"}));
}

TEST_F(EngineTest, DuplicateIndexFillsErrorListAndChangesNothing) {
    makeSample();
    Variant db = open();
    auto createIndex = [&](const std::string& table, const std::string& name, bool primary) {
        Variant t = db.get("TableDefs", {table});
        Variant index = t.call("CreateIndex", {name});
        index.put("Primary", primary);
        index.get("Fields").call("Append", {index.call("CreateField", {"Vn"})});
        t.get("Indexes").call("Append", {index});
    };
    createIndex("Supgood", "SupGood_I_Vn", false);
    // Index names are per database in SQLite: another table's index of that name clashes too.
    for (const char* table : {"Supgood", "param"}) {
        SCOPED_TRACE(table);
        try {
            createIndex(table == std::string("param") ? "Supgood" : table, "supgood_i_vn", false);
            ADD_FAILURE() << "duplicate index accepted";
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), 3284);
            EXPECT_EQ(e.source(), "DAO.Indexes");
        }
        Variant errors = dbEngine.call("Errors");
        errors.call("Refresh");
        ASSERT_EQ(errors.get("Count").toInt(), 1);
        Variant entry = errors.get("Item", {0});
        EXPECT_EQ(entry.get("Number").toInt(), 3284);
        EXPECT_EQ(entry.get("Source").toText(), "DAO.Indexes");
        EXPECT_NE(entry.get("Description").toText().find("supgood_i_vn"), std::string::npos);
        EXPECT_EQ(errors.get("Count").toInt(), 1); // reading changed nothing
    }
    createIndex("Supgood", "SupGood_PK", true);
    EXPECT_EQ(errorNumber([&] { createIndex("Supgood", "SupGood_PK2", true); }), 3283);
    Variant t = db.get("TableDefs", {"Supgood"});
    Variant index = t.call("CreateIndex", {"Bad"});
    index.get("Fields").call("Append", {index.call("CreateField", {"NoSuchColumn"})});
    EXPECT_EQ(errorNumber([&] { t.get("Indexes").call("Append", {index}); }), 3265);
    EXPECT_NE(dbEngine.get("Errors", {0}).get("Description").toText().find("NoSuchColumn"),
              std::string::npos);
    Variant empty = t.call("CreateIndex", {"Empty"});
    EXPECT_EQ(errorNumber([&] { t.get("Indexes").call("Append", {empty}); }), 3264);
    db.call("Close");
    EXPECT_EQ(indexesOf("Supgood"),
              (std::vector<std::string>{"SupGood_I_Vn:0:Vn", "SupGood_PK:1:Vn"}));
}

TEST_F(EngineTest, NewTableWithFieldsAndPrimaryKeyIsCreatedWhole) {
    makeSample();
    Variant db = open();
    Variant t = db.call("CreateTableDef", {"LogDoc"});
    Variant vn = t.call("CreateField", {"Vn", 10, 10});
    vn.put("Required", true);
    t.get("Fields").call("Append", {vn});
    t.get("Fields").call("Append", {t.call("CreateField", {"Owner", 3})});
    EXPECT_EQ(errorNumber([&] {
                  t.get("Fields").call("Append", {t.call("CreateField", {"VN", 4})});
              }),
              3191);
    Variant key = t.call("CreateIndex", {"LogDoc_PK_VN"});
    key.put("Primary", true);
    key.get("Fields").call("Append", {key.call("CreateField", {"VN"})});
    t.get("Indexes").call("Append", {key});
    db.get("TableDefs").call("Append", {t});
    EXPECT_EQ(errorNumber([&] { db.get("TableDefs").call("Append", {t}); }), 3367);
    Variant again = db.call("CreateTableDef", {"logdoc"});
    again.get("Fields").call("Append", {again.call("CreateField", {"A", 4})});
    EXPECT_EQ(errorNumber([&] { db.get("TableDefs").call("Append", {again}); }), 3010);
    EXPECT_EQ(db.get("TableDefs", {"LOGDOC"}).get("RecordCount").toInt(), 0);
    db.get("TableDefs").call("Delete", {"Supgood"});
    db.call("Close");
    EXPECT_EQ(columnsOf("LogDoc"), (std::vector<std::string>{"Vn:TEXT(10):1", "Owner:SHORT:0"}));
    EXPECT_EQ(indexesOf("LogDoc"), std::vector<std::string>{"LogDoc_PK_VN:1:Vn"});
    EXPECT_FALSE(tableInFile("Supgood"));
}
