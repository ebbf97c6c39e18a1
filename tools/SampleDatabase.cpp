#include "tools/SampleDatabase.h"

#include "automation/Error.h"
#include "automation/Registry.h"
#include "engine/Registration.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace tools {

using automation::Variant;

namespace {

// CreateDatabase's option for an Access 2000-2003 (Jet 4) file.
constexpr std::int32_t Jet4Version = 64;

// The shop's tables: their columns, then their keys, each a named constraint as the shop's own
// programs made them.
struct ShopTable {
    const char* name;
    const char* columns;
    const char* key;
};
constexpr std::array<ShopTable, 6> kTables = {{
    {"param", "ID TEXT(20) NOT NULL, Item TEXT(20) NULL, AValue TEXT(100) NULL",
     "CONSTRAINT param_PK PRIMARY KEY (ID)"},
    {"Goods",
     "Good TEXT(10) NOT NULL, Name TEXT(100) NOT NULL, Unit TEXT(10) NULL, GroupName TEXT(50) NULL",
     "CONSTRAINT Goods_PK PRIMARY KEY (Good)"},
    {"GoodPric",
     "Good TEXT(10) NOT NULL, DateFrom DATETIME NOT NULL, Price MONEY NULL, PriceOpt MONEY NULL",
     "CONSTRAINT GoodPric_PK PRIMARY KEY (Good, DateFrom)"},
    {"Suppliers",
     "Owner SHORT NOT NULL, Name TEXT(100) NOT NULL, INN TEXT(12) NULL, Address TEXT(200) NULL",
     "CONSTRAINT Suppliers_PK PRIMARY KEY (Owner)"},
    {"Supgood",
     "ID TEXT(10) NOT NULL, Vn TEXT(10) NOT NULL, Owner SHORT NOT NULL, Good TEXT(10) NOT NULL, "
     "DCome DATETIME NOT NULL, HowMany DOUBLE NULL, PriceSupp MONEY NULL, Certificat TEXT(50) NULL",
     "CONSTRAINT SupGood_PK_ID PRIMARY KEY (ID)"},
    {"Docs",
     "Vn TEXT(10) NOT NULL, KindDoc TEXT(3) NOT NULL, DateDoc DATETIME NOT NULL, SumTotal MONEY "
     "NULL, Note MEMO NULL",
     "CONSTRAINT Docs_PK_Vn PRIMARY KEY (Vn)"},
}};

constexpr std::array<std::string_view, 12> kGoodNames = {
    "Молоко «Домик в деревне» 3,2%",
    "Хлеб Бородинский",
    "Сахар-песок",
    "Масло сливочное 82,5%",
    "Чай чёрный 'Беседа'",
    "Кофе молотый",
    "Гречка ядрица",
    "Рис круглозёрный",
    "Соль поваренная",
    "Мука пшеничная в/с",
    "Яйцо куриное С1",
    "Сыр \"Российский\"",
};
constexpr std::array<std::string_view, 4> kUnits = {"шт", "кг", "л", "уп"};
constexpr std::array<std::string_view, 4> kGroups = {"Бакалея", "Молочные продукты", "Хлеб",
                                                     "Напитки"};
constexpr std::array<std::string_view, 5> kSuppliers = {
    "ООО «Тверской хлебозавод»", "ЗАО \"Молочный край\"", "ИП Сидоров А. В.", "ООО «Бакалея-Опт»",
    "ОАО «Чайная компания»"};

// A text literal of the engine's SQL: single quotes, a quote inside doubled.
std::string sqlText(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string code(char prefix, std::int32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%07d", prefix, n);
    return buf;
}

// A date literal of the engine's SQL, some day in 2002-2003.
std::string date(std::int32_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "#%04d-%02d-%02d#", 2002 + (n / 336) % 2, 1 + (n / 28) % 12,
                  1 + n % 28);
    return buf;
}

// A value in 0..range-1 that jumps about as `i` grows, for prices that do not look sorted; 64-bit,
// so row numbers in the millions cannot overflow.
std::int32_t scatter(std::int32_t i, std::int64_t factor, std::int32_t range) {
    return static_cast<std::int32_t>(std::int64_t{i} * factor % range);
}

std::string money(std::int32_t cents) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%02d", cents / 100, cents % 100);
    return buf;
}

// Runs `rows` inserts made by `row`, committing every few thousand so memory stays flat.
template <class RowFn>
void insertRows(const Variant& workspace, const Variant& database, std::int32_t rows, RowFn row) {
    constexpr std::int32_t batch = 5000;
    for (std::int32_t first = 0; first < rows; first += batch) {
        workspace.call("BeginTrans");
        for (std::int32_t i = first; i < rows && i < first + batch; ++i)
            database.call("Execute", {Variant(row(i)), Variant(std::int32_t(128))});
        workspace.call("CommitTrans");
    }
}

void execute(const Variant& database, const std::string& sql) {
    database.call("Execute", {Variant(sql), Variant(std::int32_t(128))});
}

// Writes the shop's tables and rows into `database`. With `keysLast` the keys are added once the
// rows are in, so that each index is built once from all its rows rather than kept in step row by
// row (the Access store rebuilds a table's indexes on every insert).
void fill(const Variant& workspace, const Variant& database, const SampleOptions& o,
          bool keysLast) {
    for (const ShopTable& t : kTables)
        execute(database, std::string("CREATE TABLE ") + t.name + " (" + t.columns +
                              (keysLast ? std::string() : std::string(", ") + t.key) + ")");

    const std::array<std::array<std::string_view, 3>, 5> settings = {{
        {"patch", "PATCH", o.stamp},
        {"firm", "FIRM", "ООО «Ромашка»"},
        {"city", "CITY", "Тверь"},
        {"vat", "VAT", "18"},
        {"curr", "CURRENCY", "руб."},
    }};
    for (const auto& s : settings)
        database.call("Execute",
                      {Variant("INSERT INTO param (ID, Item, AValue) VALUES (" + sqlText(s[0]) +
                               ", " + sqlText(s[1]) + ", " + sqlText(s[2]) + ")")});

    for (std::size_t i = 0; i < kSuppliers.size(); ++i)
        database.call(
            "Execute",
            {Variant("INSERT INTO Suppliers (Owner, Name, INN, Address) VALUES (" +
                     std::to_string(i + 1) + ", " + sqlText(kSuppliers[i]) + ", '69" +
                     std::to_string(10000000 + i * 7919) + "', " +
                     sqlText("г. Тверь, ул. Советская, д. " + std::to_string(i + 3)) + ")")});

    insertRows(workspace, database, o.goods, [](std::int32_t i) {
        std::string name(kGoodNames[i % kGoodNames.size()]);
        if (i >= static_cast<std::int32_t>(kGoodNames.size()))
            name += " №" + std::to_string(i / kGoodNames.size() + 1);
        return "INSERT INTO Goods (Good, Name, Unit, GroupName) VALUES (" + sqlText(code('G', i)) +
               ", " + sqlText(name) + ", " + sqlText(kUnits[i % kUnits.size()]) + ", " +
               sqlText(kGroups[i % kGroups.size()]) + ")";
    });
    insertRows(workspace, database, o.goods, [](std::int32_t i) {
        std::int32_t cents = scatter(i, 7919, 90000) + 1000;
        return "INSERT INTO GoodPric (Good, DateFrom, Price, PriceOpt) VALUES (" +
               sqlText(code('G', i)) + ", " + date(i) + ", " + money(cents) + ", " +
               money(cents - cents / 10) + ")";
    });
    std::int32_t goods = o.goods > 0 ? o.goods : 1;
    insertRows(workspace, database, o.supplies, [&](std::int32_t i) {
        return "INSERT INTO Supgood (ID, Vn, Owner, Good, DCome, HowMany, PriceSupp, Certificat) "
               "VALUES (" +
               sqlText(code('S', i)) + ", " + sqlText(code('V', i / 4)) + ", " +
               std::to_string(1 + i % kSuppliers.size()) + ", " + sqlText(code('G', i % goods)) +
               ", " + date(i) + ", " + std::to_string(1 + i % 50) + ".5, " +
               money(scatter(i, 104729, 80000) + 900) + ", " +
               (i % 3 == 0 ? std::string("NULL") : sqlText("РОСС RU.АЯ" + std::to_string(i))) + ")";
    });
    insertRows(workspace, database, (o.supplies + 3) / 4, [](std::int32_t i) {
        return "INSERT INTO Docs (Vn, KindDoc, DateDoc, SumTotal, Note) VALUES (" +
               sqlText(code('V', i)) + ", 'ПРХ', " + date(i) + ", " + money(5000 + i % 100000) +
               ", " + sqlText("Приход от поставщика") + ")";
    });
    if (keysLast)
        for (const ShopTable& t : kTables)
            execute(database, std::string("ALTER TABLE ") + t.name + " ADD " + t.key);
}

// The engine's workspace, created by its ProgID.
Variant workspaceOfNewEngine() {
    engine::registerEngine();
    Variant engine = automation::createOleObject(engine::ProgId);
    return engine.get("Workspaces", {Variant(std::int32_t(0))});
}

} // namespace

void makeSampleDatabase(const std::string& path, const SampleOptions& options) {
    namespace fs = std::filesystem;
    if (fs::exists(fs::symlink_status(path)))
        throw automation::Error(3204, "База данных «" + path + "» уже существует", "Sample");

    Variant workspace = workspaceOfNewEngine();
    Variant database;
    try {
        const bool jet4 = options.format == SampleFormat::Jet4;
        database = workspace.call("CreateDatabase",
                                  {Variant(path), Variant(std::string(";LANGID=0x0409;CP=1252")),
                                   Variant(std::int32_t(jet4 ? Jet4Version : 0))});
        fill(workspace, database, options, jet4);
        database.call("Close");
    } catch (...) {
        database.clear();
        std::error_code ignored;
        fs::remove(path, ignored);
        throw;
    }
}

void addSampleTables(const std::string& path, const SampleOptions& options) {
    Variant workspace = workspaceOfNewEngine();
    Variant database = workspace.call("OpenDatabase", {Variant(path)});
    workspace.call("BeginTrans");
    try {
        fill(workspace, database, options, true);
        workspace.call("CommitTrans");
    } catch (...) {
        workspace.call("Rollback");
        database.call("Close");
        throw;
    }
    database.call("Close");
}

} // namespace tools
