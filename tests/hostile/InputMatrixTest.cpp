// The bad-input matrix: files that are no database of ours, Access files, paths of every awkward
// shape, and databases whose content the run does not expect. Each row names what the operator sees
// and what becomes of the database: left byte for byte as it was, unless the run completed.

#include "HostileFixture.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/index/IndexPage.h"
#include "support/JetDamage.h"
#include "support/JetSamples.h"
#include "tools/check/Checker.h"

#include <filesystem>
#include <functional>
#include <iostream>
#include <random>

namespace fs = std::filesystem;
using hostile::HostileTest;
using hostile::Kind;
using testsupport::sqliteExec;
using testsupport::sqliteRows;

namespace {

const tools::SampleOptions Small{6, 10, "patch15", tools::SampleFormat::Sqlite};

// A sample at revision 15 made in `folder`, then changed by `sql` (as another program would),
// then moved to `path`: the engine cannot create files everywhere the run must be able to go.
std::string sampleAt(const testsupport::TempDir& dir, const std::string& path,
                     const std::string& sql = "") {
    const std::string made = dir.file("made.mdb");
    tools::makeSampleDatabase(made, Small);
    if (!sql.empty())
        sqliteExec(made, sql);
    fs::rename(made, path);
    return path;
}

std::string withFile(const testsupport::TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("input.mdb");
    testsupport::writeFileBytes(path, bytes);
    return path;
}

// The first bytes of a sample database.
std::string truncatedSample(const testsupport::TempDir& dir, double fraction) {
    const std::string path = sampleAt(dir, dir.file("whole.mdb"));
    const std::string bytes = testsupport::fileBytes(path);
    fs::remove(path);
    return withFile(dir, bytes.substr(0, static_cast<std::size_t>(bytes.size() * fraction)));
}

// A first page like that of a database of the original platform: its signature and nothing else.
std::string originalPlatformPage() {
    std::string page("\x00\x01\x00\x00Standard Jet DB", 19);
    page.resize(2048, '\0');
    return page;
}

std::string randomBytes() {
    std::mt19937 generator(16);
    std::string bytes(8192, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xff);
    return bytes;
}

// Folders nested until the database's path comes near PATH_MAX (its journal's path still fits).
std::string longFolder(const testsupport::TempDir& dir) {
    std::string folder = dir.path();
    while (folder.size() + 201 + 40 < PATH_MAX)
        folder += "/" + std::string(200, 'd');
    fs::create_directories(folder);
    return folder;
}

enum class Outcome {
    RefusedAtOpen, // the engine cannot open it: the ForceError box, then "Не удалось открыть"
    Refused,   // not at revision 15: one plain message, the button disabled
    Failed,    // the run started and was undone: one error box naming the cause
    Completed, // the database is at revision 16
};

struct Case {
    const char* name;
    std::function<std::string(const testsupport::TempDir&)> make; // returns the path to run on
    Outcome outcome;
    std::string text; // RefusedAtOpen: the error number; Refused: the message; Failed: a
                      // fragment of the error; Completed: a fragment of a box shown, if any
    std::function<void(const std::string&)> completedCheck = {}; // more facts after completion
};

// What is at `path`: a file's bytes, a folder's entries, or nothing.
std::string snapshot(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        std::string entries = "<folder>";
        for (const auto& entry : fs::directory_iterator(path))
            entries += " " + entry.path().filename().string();
        return entries;
    }
    if (!fs::exists(path, ec))
        return "<nothing>";
    return testsupport::fileBytes(path);
}

// Runs the patch through the window on what `c` makes and checks that it ends as `c` expects,
// with nothing lost and nothing left beside the database (no journal, no copy of an Access file).
void expectEndsCleanly(const Case& c, const std::function<hostile::Seen(const std::string&)>& run) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir caseDir;
    const std::string path = c.make(caseDir);
    const std::string before = snapshot(path);
    const std::string folder = fs::path(path).parent_path().string();
    const std::string folderBefore = snapshot(folder);
    const hostile::Seen seen = run(path);
    std::cout << "[ matrix   ] " << c.name << "\n" << hostile::describe(seen.boxes).substr(0, 600);

    EXPECT_EQ(Dao, nullptr); // the connection was released, whatever happened
    EXPECT_EQ(snapshot(folder), folderBefore);
    switch (c.outcome) {
    case Outcome::RefusedAtOpen:
        ASSERT_EQ(seen.boxes.size(), 2u) << hostile::describe(seen.boxes);
        EXPECT_EQ(seen.boxes[0].kind, Kind::MessageBox);
        EXPECT_EQ(seen.boxes[0].caption, "ForceError");
        EXPECT_TRUE(seen.boxes[0].text.starts_with(c.text + " : ")) << seen.boxes[0].text;
        EXPECT_EQ(seen.boxes[1].kind, Kind::Error);
        EXPECT_EQ(seen.boxes[1].text, hostile::CannotOpen + path);
        EXPECT_EQ(seen.meter, "Открытие базы");
        EXPECT_EQ(snapshot(path), before);
        break;
    case Outcome::Refused:
        ASSERT_EQ(seen.boxes.size(), 1u) << hostile::describe(seen.boxes);
        EXPECT_EQ(seen.boxes[0].kind, Kind::Message);
        EXPECT_EQ(seen.boxes[0].text, c.text);
        EXPECT_FALSE(seen.enabledAfter);
        EXPECT_EQ(snapshot(path), before);
        break;
    case Outcome::Failed:
        ASSERT_EQ(seen.boxes.size(), 1u) << hostile::describe(seen.boxes);
        EXPECT_EQ(seen.boxes[0].kind, Kind::Error);
        EXPECT_NE(seen.boxes[0].text.find(c.text), std::string::npos) << seen.boxes[0].text;
        EXPECT_TRUE(seen.boxes[0].text.ends_with(hostile::Unchanged)) << seen.boxes[0].text;
        EXPECT_TRUE(seen.enabledAfter);
        EXPECT_EQ(snapshot(path), before);
        break;
    case Outcome::Completed:
        EXPECT_TRUE(seen.enabledBefore);
        for (const hostile::Box& box : seen.boxes)
            EXPECT_NE(box.kind, Kind::Error) << box.text;
        EXPECT_EQ(seen.boxes.empty(), c.text.empty()) << hostile::describe(seen.boxes);
        if (!c.text.empty() && !seen.boxes.empty()) {
            EXPECT_NE(seen.boxes[0].text.find(c.text), std::string::npos) << seen.boxes[0].text;
        }
        EXPECT_EQ(seen.meter, "Выполнено");
        // SQLite's own API, used to inspect, takes no path as long as the engine does.
        std::string inspected = path;
        if (path.size() > 400) {
            inspected = caseDir.file("inspected.mdb");
            fs::rename(path, inspected);
        }
        EXPECT_EQ(HostileTest::stamp(inspected), "patch16");
        if (c.completedCheck)
            c.completedCheck(inspected);
        break;
    }
}

} // namespace

TEST_F(HostileTest, EveryBadInputEndsCleanlyWithItsMessageAndNothingLost) {
    // A completed run on an ordinary sample, to compare completed runs elsewhere with.
    const std::string reference = sampleAt(dir, dir.file("reference.mdb"));
    ASSERT_TRUE(run(reference).boxes.empty());
    const std::string completedDump = testsupport::sqliteDump(reference);
    fs::remove(reference);
    auto likeReference = [&](const std::string& path) {
        EXPECT_EQ(testsupport::sqliteDump(path), completedDump);
    };

    const Case cases[] = {
        {"empty file", [](auto& d) { return withFile(d, ""); }, Outcome::RefusedAtOpen, "3343"},
        {"random bytes", [](auto& d) { return withFile(d, randomBytes()); }, Outcome::RefusedAtOpen,
         "3343"},
        {"SQLite file cut inside its header", [](auto& d) { return truncatedSample(d, 0.01); },
         Outcome::RefusedAtOpen, "3343"},
        {"SQLite file cut in half", [](auto& d) { return truncatedSample(d, 0.5); },
         Outcome::RefusedAtOpen, "3343"},
        {"first page of a database of the original platform",
         [](auto& d) { return withFile(d, originalPlatformPage()); }, Outcome::RefusedAtOpen,
         "3343"},
        {"folder named like a database",
         [](auto& d) {
             fs::create_directory(d.file("folder.mdb"));
             return d.file("folder.mdb");
         },
         Outcome::RefusedAtOpen, "3343"},
        {"path that does not exist", [](auto& d) { return d.file("absent/shop.mdb"); },
         Outcome::RefusedAtOpen, "3024"},
        {"very long path", [](auto& d) { return sampleAt(d, longFolder(d) + "/shop.mdb"); },
         Outcome::Completed, "", likeReference},
        {"Cyrillic and spaces in the path",
         [](auto& d) {
             fs::create_directory(d.file("Базы данных магазина"));
             return sampleAt(d, d.file("Базы данных магазина/Ворлан плюс.mdb"));
         },
         Outcome::Completed, "", likeReference},
        {"no param table", [](auto& d) { return sampleAt(d, d.file("s.mdb"), "DROP TABLE param"); },
         Outcome::Failed, "param"},
        {"the stamp row twice",
         [](auto& d) {
             return sampleAt(d, d.file("s.mdb"),
                             "INSERT INTO param VALUES ('patch2', 'PATCH', 'patch15')");
         },
         Outcome::Refused, hostile::PreviousNeeded},
        {"a Null stamp",
         [](auto& d) {
             return sampleAt(d, d.file("s.mdb"),
                             "UPDATE param SET AValue = NULL WHERE ID = 'patch'");
         },
         Outcome::Refused, hostile::PreviousNeeded},
        {"no GoodPric", [](auto& d) { return sampleAt(d, d.file("s.mdb"), "DROP TABLE GoodPric"); },
         Outcome::Failed, "GoodPric"},
        {"no Supgood", [](auto& d) { return sampleAt(d, d.file("s.mdb"), "DROP TABLE Supgood"); },
         Outcome::Failed, "Supgood"},
        {"Supgood without Certificat",
         [](auto& d) {
             return sampleAt(d, d.file("s.mdb"), "ALTER TABLE Supgood DROP COLUMN Certificat");
         },
         Outcome::Failed, "Certificat"},
        {"one of the new indexes already present",
         [](auto& d) {
             return sampleAt(d, d.file("s.mdb"), "CREATE INDEX SupGood_I_Vn ON Supgood (Vn)");
         },
         Outcome::Completed, "SupGood_I_Vn",
         [](const std::string& path) {
             EXPECT_EQ(sqliteRows(path, "SELECT count(*) FROM pragma_table_info('Supgood') "
                                        "WHERE name = 'Certificat'"),
                       std::vector<std::string>{"0"});
             EXPECT_EQ(sqliteRows(path, "SELECT name FROM pragma_index_list('Supgood') "
                                        "WHERE name LIKE 'SupGood_I_%' ORDER BY name"),
                       (std::vector<std::string>{"SupGood_I_Good", "SupGood_I_Vn"}));
         }},
        {"LogDoc present",
         [](auto& d) {
             return sampleAt(d, d.file("s.mdb"), "CREATE TABLE LogDoc (Vn TEXT(10) NOT NULL)");
         },
         Outcome::Completed, "",
         [](const std::string& path) {
             // The log tables count as made once LogDoc exists; the rest of the run happens.
             EXPECT_EQ(sqliteRows(path, "SELECT name FROM sqlite_schema WHERE type = 'table' "
                                        "AND name LIKE 'Log%' ORDER BY name"),
                       std::vector<std::string>{"LogDoc"});
             EXPECT_EQ(sqliteRows(path, "SELECT count(*) FROM GoodPric WHERE MinValue = 0"),
                       sqliteRows(path, "SELECT count(*) FROM GoodPric"));
         }},
        {"LogDocU present without LogDoc",
         [](auto& d) { return sampleAt(d, d.file("s.mdb"), "CREATE TABLE LogDocU (ID TEXT(10))"); },
         Outcome::Failed, "LogDocU"},
    };

    for (const Case& c : cases)
        expectEndsCleanly(c, [this](const std::string& path) { return run(path); });
}

// An Access-made database, changed by `change`, copied to where the run will take it.
std::function<std::string(const testsupport::TempDir&)>
accessCopy(const char* sample, std::function<void(std::string&)> change = {}) {
    return [=](const testsupport::TempDir& d) {
        std::string bytes = testsupport::fileBytes((*testsupport::jetSamplesFolder() / sample));
        if (change)
            change(bytes);
        return withFile(d, bytes);
    };
}

TEST_F(HostileTest, AccessFilesEndInAClearMessageWithTheirBytesUntouched) {
    REQUIRE_JET_SAMPLES();
    const Case cases[] = {
        // Read as they are: the run finds no revision stamp and changes nothing.
        {"Access 2000 database without the shop's tables", accessCopy("empty.mdb"), Outcome::Failed,
         "«param»"},
        {"real Russian database", accessCopy("ru/Lopka+programma+bd.mdb"), Outcome::Failed,
         "«param»"},
        {"Access database with a password",
         accessCopy("empty.mdb", [](std::string& b) { b.at(0x42) ^= 0x5A; }),
         Outcome::RefusedAtOpen, "3031"},
        {"Access 97 database", accessCopy("empty.mdb", [](std::string& b) { b.at(0x14) = 0; }),
         Outcome::RefusedAtOpen, "3343"},
        {"Access 2007 database",
         accessCopy("empty.mdb",
                    [](std::string& b) {
                        b.replace(4, 15, "Standard ACE DB");
                        b.at(0x14) = 2;
                    }),
         Outcome::RefusedAtOpen, "3343"},
        {"Access database cut short before its catalog",
         accessCopy("empty.mdb", [](std::string& b) { b.resize(2 * 4096); }),
         Outcome::RefusedAtOpen, "3049"},
        // Its text sorts in sort order 1058, whose keys this system does not write (the shop's
        // tables cannot even be grafted into it): the run finds no stamp and changes nothing.
        {"Access database in sort order 1058", accessCopy("ru/StelmakhAleksandr+Library+db.mdb"),
         Outcome::Failed, "«param»"},
    };
    for (const Case& c : cases)
        expectEndsCleanly(c, [this](const std::string& path) { return run(path); });
}

namespace {

// The bytes of a small shop at revision 15 in an Access 2000-2003 file, made once.
const std::string& accessShopBytes() {
    static const std::string bytes = [] {
        const testsupport::TempDir made;
        tools::makeSampleDatabase(made.file("shop.mdb"),
                                  {6, 10, "patch15", tools::SampleFormat::Jet4});
        return testsupport::fileBytes(made.file("shop.mdb"));
    }();
    return bytes;
}

// That shop, its bytes changed by `change` (given the undamaged file to find places in).
std::function<std::string(const testsupport::TempDir&)>
accessShop(std::function<void(const engine::jet4::PageFile&, std::string&)> change) {
    return [=](const testsupport::TempDir& d) {
        const std::string path = withFile(d, accessShopBytes());
        std::string bytes = accessShopBytes();
        {
            const engine::jet4::PageFile file(path);
            change(file, bytes);
        }
        testsupport::writeFileBytes(path, bytes);
        return path;
    };
}

// Changes the byte at `offset` of the header's masked area from `from` to `to` (the mask is a
// fixed stream XORed over the bytes, so the stored byte changes by the same bits).
std::function<void(const engine::jet4::PageFile&, std::string&)>
headerByte(std::size_t offset, std::uint8_t from, std::uint8_t to) {
    return [=](const engine::jet4::PageFile&, std::string& b) {
        b.at(offset) = static_cast<char>(static_cast<std::uint8_t>(b.at(offset)) ^ from ^ to);
    };
}

} // namespace

// The shop itself in an Access file the run cannot change: each ends with its message, the file
// byte for byte as it was and nothing left beside it.
TEST_F(HostileTest, AccessShopTheRunCannotChangeEndsInAClearMessageWithItsBytesUntouched) {
    using engine::jet4::PageFile;
    constexpr std::size_t Page = PageFile::PageSize;
    const Case cases[] = {
        {"shop with a password", accessShop(headerByte(0x42, 0, 'x')), Outcome::RefusedAtOpen,
         "3031"},
        {"shop as an Access 97 file",
         accessShop([](const PageFile&, std::string& b) { b.at(0x14) = 0; }),
         Outcome::RefusedAtOpen, "3343"},
        {"shop as an Access 2007 file", accessShop([](const PageFile&, std::string& b) {
             b.replace(4, 15, "Standard ACE DB");
             b.at(0x14) = 2;
         }),
         Outcome::RefusedAtOpen, "3343"},
        // 1033 (09 04) made 1058 (22 04): the first new table's text key cannot be written.
        {"shop in sort order 1058", accessShop(headerByte(0x6E, 0x09, 0x22)), Outcome::Failed,
         "порядок сортировки 1058"},
        {"shop cut short before its catalog",
         accessShop([](const PageFile&, std::string& b) { b.resize(2 * Page); }),
         Outcome::RefusedAtOpen, "3049"},
        {"shop cut inside its last page",
         accessShop([](const PageFile&, std::string& b) { b.resize(b.size() - 100); }),
         Outcome::Failed, "повреждена"},
    };
    for (const Case& c : cases)
        expectEndsCleanly(c, [this](const std::string& path) { return run(path); });
}

namespace {

// The checker's faults in the file at `path`, each as "kind: detail".
std::vector<std::string> faultsOf(const std::string& path) {
    std::vector<std::string> faults;
    for (const check::Fault& fault : check::checkFile(path).faults)
        faults.push_back(fault.kind + ": " + fault.detail);
    return faults;
}

} // namespace

// A damaged index of a table the run changes. The engine reads no index page it does not rebuild,
// so it may not notice; whatever it does, the file must not come out worse: either refused and
// byte for byte as it was, or completed with exactly the faults it had.
// A broken tree is refused before a byte is written; a key byte changed in a way that keeps the
// tree's order is found only by the checker's comparison with the rows, and the run, which does
// not rebuild that index, leaves exactly the faults it found.
TEST_F(HostileTest, AccessShopWithADamagedIndexIsNeverMadeWorse) {
    using engine::jet4::PageFile;
    constexpr std::size_t Page = PageFile::PageSize;
    const struct {
        const char* name;
        std::function<void(const PageFile&, std::string&)> damage;
        bool refused;
    } cases[] = {
        {"a data page's type on a leaf of Supgood's key",
         [](const PageFile& file, std::string& b) {
             b.at(testsupport::firstIndexLeaf(file, "Supgood") * Page +
                  engine::jet4::indexpage::TypeOffset) = 0x01;
         },
         true},
        {"a changed key byte in Supgood's key",
         [](const PageFile& file, std::string& b) {
             // The first entry's first key byte, after its flag.
             b.at(testsupport::firstIndexLeaf(file, "Supgood") * Page +
                  engine::jet4::indexpage::FirstEntryOffset + 1) ^= 0x01;
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir caseDir;
        const std::string path = accessShop(c.damage)(caseDir);
        const std::string before = testsupport::fileBytes(path);
        const std::vector<std::string> faults = faultsOf(path);
        ASSERT_FALSE(faults.empty());
        const hostile::Seen seen = run(path);
        std::cout << "[ matrix   ] shop with " << c.name << "\n"
                  << (seen.boxes.empty() ? "(completed, no box)\n" : hostile::describe(seen.boxes));
        EXPECT_EQ(Dao, nullptr);
        EXPECT_EQ(!seen.boxes.empty(), c.refused);
        if (seen.boxes.empty()) {
            EXPECT_EQ(seen.meter, "Выполнено");
            EXPECT_EQ(faultsOf(path), faults);
        } else {
            ASSERT_EQ(seen.boxes.size(), 1u) << hostile::describe(seen.boxes);
            EXPECT_TRUE(seen.boxes[0].text.ends_with(hostile::Unchanged)) << seen.boxes[0].text;
            EXPECT_EQ(testsupport::fileBytes(path), before);
        }
        EXPECT_EQ(snapshot(caseDir.path()), "<folder> input.mdb");
    }
}
