// New, empty Access 2000 databases: the engine and every reader open them and find them sound,
// their catalog is the one Access gives a database it creates, and an existing path is refused.

#include "engine/jet4/write/NewDatabase.h"
#include "engine/Store.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/Properties.h"
#include "engine/jet4/format/TableScan.h"
#include "support/Jackcess.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "support/TempDir.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <system_error>
#include <tuple>

using namespace engine::jet4;
using namespace testsupport;

namespace {

namespace fs = std::filesystem;

struct CatalogRow {
    std::int32_t id = 0;
    std::string parent; // the parent's name, so that files numbering objects apart compare
    std::string name;
    std::int64_t type = 0, flags = 0;
    std::string owner;
    double created = 0;
    std::optional<std::string> lvProp;
};

struct Ace {
    std::string object; // the object's name
    std::string sid;
    std::int64_t rights = 0;
    bool inheritable = false;
    auto operator<=>(const Ace&) const = default;
};

// Everything of a catalog the comparisons look at, read with the project's reader.
struct Catalog {
    std::map<std::string, TableDefinition> systemTables;
    std::vector<CatalogRow> rows;
    std::multiset<Ace> aces;
};

std::map<std::string, Value> cells(const TableDefinition& def, const std::vector<Value>& row) {
    std::map<std::string, Value> out;
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        out[def.columns[i].name] = row[i];
    return out;
}

Catalog readWholeCatalog(const std::string& path) {
    const PageFile file(path);
    Catalog catalog;
    std::map<std::int32_t, std::string> names{{0x0F000000, ""}};
    for (const CatalogEntry& entry : readCatalog(file)) {
        names[entry.id] = entry.name;
        if (entry.type == CatalogEntry::TableType && (entry.flags & CatalogEntry::SystemFlags))
            catalog.systemTables[entry.name] = readTableDefinition(file, entry.id);
    }
    const TableDefinition& objects = catalog.systemTables.at("MSysObjects");
    scanRows(file, objects, [&](RowLocation, const std::vector<Value>& values) {
        auto c = cells(objects, values);
        catalog.rows.push_back(
            {static_cast<std::int32_t>(c["Id"].integer),
             names.at(static_cast<std::int32_t>(c["ParentId"].integer)),
             std::string(c["Name"].text.begin(), c["Name"].text.end()), c["Type"].integer,
             c["Flags"].integer, c["Owner"].bytes, c["DateCreate"].real,
             c["LvProp"].isNull() ? std::nullopt : std::optional(c["LvProp"].bytes)});
        return true;
    });
    const TableDefinition& aces = catalog.systemTables.at("MSysACEs");
    scanRows(file, aces, [&](RowLocation, const std::vector<Value>& values) {
        auto c = cells(aces, values);
        catalog.aces.insert({names.at(static_cast<std::int32_t>(c["ObjectId"].integer)),
                             c["SID"].bytes, c["ACM"].integer, c["FInheritable"].integer != 0});
        return true;
    });
    return catalog;
}

// What a table's definition says about its columns and indexes, without page numbers and the
// bytes Access leaves uninitialised.
std::vector<std::string> shape(const TableDefinition& def) {
    std::vector<std::string> out{"type " + std::to_string(def.tableType) + " columns " +
                                 std::to_string(def.maxColumns) + " slots " +
                                 std::to_string(def.variableSlots)};
    for (const ColumnDefinition& c : def.columns)
        out.push_back("column " + c.name + " type " + std::to_string(int(c.type)) + " number " +
                      std::to_string(c.number) + " slot " + std::to_string(c.variableSlot) +
                      " offset " + std::to_string(c.isFixed() ? c.fixedOffset : 0) + " length " +
                      std::to_string(c.length) + " flags " + std::to_string(c.flags) + "/" +
                      std::to_string(c.extraFlags) + " sort " + std::to_string(c.sortOrder) + "/" +
                      std::to_string(c.sortVersion));
    for (const PhysicalIndex& i : def.physicalIndexes) {
        std::string line =
            "index " + std::to_string(i.number) + " flags " + std::to_string(i.flags) + " keys";
        for (const IndexColumn& k : i.columns)
            line += " " + std::to_string(k.columnNumber) + (k.ascending ? "+" : "-");
        out.push_back(line);
    }
    for (const LogicalIndex& l : def.logicalIndexes)
        out.push_back("logical " + l.name + " number " + std::to_string(l.number) + " on " +
                      std::to_string(l.physicalIndex) + " type " + std::to_string(l.type));
    for (const LongValueMaps& m : def.longValueMaps)
        out.push_back("long values of column " + std::to_string(m.columnNumber));
    return out;
}

auto identity(const CatalogRow& r) {
    return std::tuple(r.id, r.parent, r.name, r.type, r.flags, r.owner);
}

// The new file's catalog rows and permissions, and those of the sample less the objects Access
// adds on its first opening of a database (made after the containers, as the sample's dates
// show).
struct Compared {
    std::vector<
        std::tuple<std::int32_t, std::string, std::string, std::int64_t, std::int64_t, std::string>>
        ours, access;
    std::multiset<Ace> ourAces, accessAces;
};

Compared compare(const Catalog& ours, const Catalog& access) {
    const auto tables = std::find_if(access.rows.begin(), access.rows.end(),
                                     [](const CatalogRow& r) { return r.name == "Tables"; });
    std::set<std::string> later;
    Compared c;
    for (const CatalogRow& r : access.rows) {
        if (r.created > tables->created + 1.0 / 24)
            later.insert(r.name);
        else
            c.access.push_back(identity(r));
    }
    for (const CatalogRow& r : ours.rows)
        c.ours.push_back(identity(r));
    std::sort(c.ours.begin(), c.ours.end());
    std::sort(c.access.begin(), c.access.end());
    c.ourAces = ours.aces;
    for (const Ace& ace : access.aces)
        if (!later.contains(ace.object))
            c.accessAces.insert(ace);
    return c;
}

class NewDatabase : public ::testing::Test {
protected:
    TempDir folder;
    std::string path = folder.file("new.mdb");
};

TEST_F(NewDatabase, OpensEmptyAndEveryReaderFindsItSound) {
    for (const std::uint16_t codePage : {1252, 1251}) {
        SCOPED_TRACE(codePage);
        fs::remove(path);
        createEmptyDatabase(path, codePage, 45000.5);

        const PageFile file(path);
        const DatabaseHeader header = readHeader(file);
        EXPECT_EQ(header.codePage, codePage);
        EXPECT_EQ(header.sortOrder, 1033);
        EXPECT_EQ(header.sortVersion, 0);
        EXPECT_EQ(header.databaseKey, 0u);
        EXPECT_FALSE(header.passwordSet);
        for (const CatalogRow& row : readWholeCatalog(path).rows)
            EXPECT_EQ(row.created, 45000.5) << row.name;

        EXPECT_TRUE(engine::Store::open(path)->tableNames().empty());
        const check::Report report = check::checkFile(path);
        for (const check::Fault& fault : report.faults)
            ADD_FAILURE() << fault.kind << ": " << fault.detail;
        if (!jackcessMissing()) {
            // Jackcess checks the system tables, their indexes and the properties too.
            const JudgeResult judged = jackcessRead(path);
            EXPECT_TRUE(judged.passed()) << judged.output;
        }

        if (referenceToolsMissing())
            continue;
        EXPECT_EQ(mdbReaderDump(path), std::vector<std::string>{});
        EXPECT_EQ(mdbtoolsDump(path), std::vector<std::string>{});
        EXPECT_TRUE(mdbSchema(path).tables.empty());
    }
    if (const auto missing = referenceToolsMissing())
        GTEST_SKIP() << "the independent readers: " << *missing;
}

TEST_F(NewDatabase, CatalogIsTheOneAccessGivesANewDatabase) {
    REQUIRE_JET_SAMPLES();
    createEmptyDatabase(path);
    const Catalog ours = readWholeCatalog(path);

    for (const char* sample : {"empty.mdb", "adox_jet4.mdb"}) {
        SCOPED_TRACE(sample);
        const Catalog access = readWholeCatalog((*jetSamplesFolder() / sample).string());
        for (const char* table : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
            SCOPED_TRACE(table);
            ASSERT_TRUE(ours.systemTables.contains(table));
            ASSERT_TRUE(access.systemTables.contains(table));
            EXPECT_EQ(shape(ours.systemTables.at(table)), shape(access.systemTables.at(table)));
        }
    }

    // The Access 2000 file: the same objects, owners and permissions, and the same properties
    // wherever the new file writes some.
    const Catalog access = readWholeCatalog((*jetSamplesFolder() / "empty.mdb").string());
    std::set<std::string> accessTables;
    for (const auto& [name, def] : access.systemTables)
        accessTables.insert(name);
    EXPECT_EQ(accessTables.erase("MSysAccessObjects"), 1u) << "made by Access on first opening";
    std::set<std::string> ourTables;
    for (const auto& [name, def] : ours.systemTables)
        ourTables.insert(name);
    EXPECT_EQ(ourTables, accessTables);

    const Compared c = compare(ours, access);
    EXPECT_EQ(c.ours, c.access);
    EXPECT_EQ(c.ourAces, c.accessAces);
    for (const CatalogRow& row : ours.rows) {
        if (!row.lvProp)
            continue;
        const auto theirs = std::find_if(access.rows.begin(), access.rows.end(),
                                         [&](const CatalogRow& r) { return r.name == row.name; });
        ASSERT_TRUE(theirs != access.rows.end() && theirs->lvProp) << row.name;
        const auto props = [](const std::string& blob) {
            std::vector<std::tuple<std::string, int, std::string>> out;
            for (const Property& p :
                 readProperties(
                     std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()))
                     .table)
                out.emplace_back(p.name, p.type, p.value);
            return out;
        };
        EXPECT_EQ(props(*row.lvProp), props(*theirs->lvProp)) << row.name;
    }
}

TEST_F(NewDatabase, RefusesAPathThatIsTakenAndLeavesNothingBehind) {
    const std::string file = folder.file("taken.mdb");
    writeFileBytes(file, "not to be touched");
    const std::string directory = folder.file("folder.mdb");
    fs::create_directory(directory);
    const std::string link = folder.file("dangling.mdb");
    // Windows makes symbolic links only for a privileged user (Wine not at all): there the
    // dangling link is tried only when it could be made.
    std::error_code linkError;
    fs::create_symlink(folder.file("nowhere"), link, linkError);
#if !defined(_WIN32)
    ASSERT_FALSE(linkError) << linkError.message();
#endif
    struct Case {
        std::string path;
        int error;
    };
    std::vector<Case> cases{{file, EEXIST}, {directory, EEXIST}};
    if (!linkError)
        cases.push_back({link, EEXIST});
    cases.push_back({folder.file("missing/new.mdb"), ENOENT});
    const auto listing = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
            names.insert(entry.path().string());
        return names;
    };
    const auto before = listing();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            createEmptyDatabase(c.path);
            ADD_FAILURE() << "created";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), c.error) << e.what();
        }
        EXPECT_EQ(listing(), before);
    }
    EXPECT_EQ(fileBytes(file), "not to be touched");
    EXPECT_TRUE(linkError || fs::is_symlink(link));
}

} // namespace
