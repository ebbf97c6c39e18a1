// Writes arbitrary bytes to a file and opens it as a database: through the store (tables, their
// descriptions and their rows), through the checker, and once through the late-bound object
// model, as the tool does.
// Raised engine errors are expected. A crash, a sanitizer report, a leak or a hang is a finding,
// and so is any change to the file or any file left beside it: opening and reading write nothing.

#include "FuzzSupport.h"

#include "automation/Error.h"
#include "automation/Registry.h"
#include "engine/Registration.h"
#include "engine/Store.h"
#include "engine/sql/JetSql.h"
#include "tools/check/Checker.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace {

using automation::Variant;

constexpr std::int32_t MaxRowsRead = 64; // enough to reach every value kind, short on big tables

fuzz::ScratchDir* dir = nullptr;

// Runs `step`; an engine error ends only that step.
void attempt(const std::function<void()>& step) {
    try {
        step();
    } catch (const automation::Error&) {
    }
}

void readThroughStore(const std::string& path) {
    std::shared_ptr<engine::Store> store = engine::Store::open(path);
    for (const std::string& name : store->tableNames()) {
        attempt([&] { store->table(name); });
        attempt([&] { engine::jet::query(*store, "[" + name + "]"); });
        attempt([&] { engine::jet::query(*store, "SELECT * FROM [" + name + "]"); });
    }
}

void readField(const Variant& field, bool withValue) {
    for (const char* property : {"Name", "Type", "Size", "Required", "AllowZeroLength"})
        attempt([&] { field.get(property); });
    if (withValue)
        attempt([&] { field.get("Value"); });
}

void readTable(const Variant& database, const Variant& tableDef) {
    const std::string name = tableDef.get("Name").toText();
    attempt([&] { tableDef.get("RecordCount"); });
    attempt([&] {
        Variant fields = tableDef.get("Fields");
        for (std::int32_t i = 0; i < fields.get("Count").toInt(); ++i)
            readField(fields.get("Item", {i}), false);
    });
    attempt([&] {
        Variant indexes = tableDef.get("Indexes");
        for (std::int32_t i = 0; i < indexes.get("Count").toInt(); ++i) {
            Variant index = indexes.get("Item", {i});
            for (const char* property :
                 {"Name", "Primary", "Unique", "Required", "IgnoreNulls", "Clustered"})
                index.get(property);
            Variant keys = index.get("Fields");
            for (std::int32_t k = 0; k < keys.get("Count").toInt(); ++k)
                keys.get("Item", {k}).get("Name");
        }
    });
    attempt([&] {
        Variant rows = database.call("OpenRecordset", {Variant(name)});
        rows.get("RecordCount");
        for (std::int32_t n = 0; n < MaxRowsRead && !rows.get("EOF").toBool(); ++n) {
            Variant fields = rows.get("Fields");
            for (std::int32_t i = 0; i < fields.get("Count").toInt(); ++i)
                readField(fields.get("Item", {i}), true);
            rows.call("MoveNext");
        }
        rows.call("Close");
    });
}

void readThroughObjects(const std::string& path) {
    Variant dbEngine = automation::createOleObject(engine::ProgId);
    Variant workspace = dbEngine.get("Workspaces", {std::int32_t{0}});
    attempt([&] {
        Variant database = workspace.call("OpenDatabase", {Variant(path)});
        attempt([&] {
            Variant tableDefs = database.get("TableDefs");
            for (std::int32_t i = 0; i < tableDefs.get("Count").toInt(); ++i)
                readTable(database, tableDefs.get("Item", {i}));
        });
        attempt([&] {
            database.call("OpenRecordset", {Variant("select * from param where Item=\"PATCH\"")});
        });
        database.call("Close");
    });
    attempt([&] { dbEngine.get("Errors").get("Count"); });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static fuzz::ScratchDir shared;
    dir = &shared;
    fuzz::limitEveryConnection();
    engine::registerEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = dir->file("DB.mdb");
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzz::writeFile(path, bytes);
    fuzz::workStarted();

    bool opened = true;
    try {
        readThroughStore(path);
    } catch (const automation::Error&) {
        opened = false;
    }
    if (fuzz::readFile(path) != bytes)
        fuzz::finding(opened ? "reading an opened database changed its file"
                             : "a refused file was changed");
    // The checker reads every structure, the index pages too: it may refuse, never crash.
    try {
        check::checkFile(path);
    } catch (const check::Unreadable&) {
    }
    if (fuzz::readFile(path) != bytes)
        fuzz::finding("checking the file changed it");
    if (opened) {
        readThroughObjects(path);
        if (fuzz::readFile(path) != bytes)
            fuzz::finding("reading through the object model changed the file");
    }
    if (const auto entries = dir->entries(); entries != std::vector<std::string>{"DB.mdb"}) {
        std::string names;
        for (const auto& name : entries)
            names += " " + name;
        fuzz::finding("files were left beside the database:" + names);
    }
    return 0;
}
