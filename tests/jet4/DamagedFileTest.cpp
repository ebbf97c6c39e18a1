// Damaged copies of sample databases, written to a temporary folder: reading them must end in a
// FormatError naming the fault, never a crash, a read past a buffer or an endless loop.

#include "engine/jet4/Catalog.h"
#include "engine/jet4/DataPage.h"
#include "engine/jet4/FormatError.h"
#include "engine/jet4/Header.h"
#include "engine/jet4/IndexPage.h"
#include "engine/jet4/TableDefinition.h"
#include "engine/jet4/TableScan.h"
#include "support/JetSamples.h"
#include "support/TempDir.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace engine::jet4;

namespace {

constexpr std::size_t Page = PageFile::PageSize;

// Everything a caller reads: header, catalog, every table's definition and rows, every index's
// pages from the root down and along each level.
void readEverything(const std::string& path) {
    const PageFile file(path);
    readHeader(file);
    for (const CatalogEntry& entry : readCatalog(file)) {
        if (entry.type != CatalogEntry::TableType)
            continue;
        const auto definition = readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
        scanRows(file, definition, [](RowLocation, const std::vector<Value>&) { return true; });
        for (const PhysicalIndex& index : definition.physicalIndexes) {
            std::set<std::uint32_t> seen;
            for (std::uint32_t level = index.rootPage; level != 0;) {
                IndexPage page = readIndexPage(file, level);
                level = page.leaf || page.entries.empty() ? 0 : page.entries.front().child;
                while (page.next != 0 && seen.insert(page.next).second)
                    page = readIndexPage(file, page.next);
            }
        }
    }
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

std::uint32_t userTablePage(const PageFile& file, const std::string& name) {
    for (const CatalogEntry& entry : readCatalog(file))
        if (entry.name == name)
            return static_cast<std::uint32_t>(entry.id);
    throw std::runtime_error("no table " + name);
}

struct Damage {
    const char* what;
    const char* sample;
    // Damages `bytes`, the sample's content; `file` is the undamaged sample, to find places.
    std::function<void(const PageFile& file, std::string& bytes)> apply;
};

const std::vector<Damage>& damages() {
    static const std::vector<Damage> list = {
        {"a table definition continues past the end of the file", "testV2000.mdb",
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table2"));
             put32(bytes, definition.pages[0] * Page + 4, 0x00FFFFFF);
         }},
        {"a table definition chain loops", "testV2000.mdb",
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table2"));
             put32(bytes, definition.pages[1] * Page + 4, definition.pages[0]);
         }},
        {"a long-value chain loops", "test2V2000.mdb",
         [](const PageFile& file, std::string& bytes) {
             // Point the first row that links on to another long-value row at itself.
             const auto isLongValuePage = [&](std::uint32_t n) {
                 return n != 0 && n < file.pageCount() && (*file.page(n))[0] == DataPageType &&
                        readDataPage(file, n).owner() == LongValueOwner;
             };
             for (std::uint32_t n = 1; n < file.pageCount(); ++n) {
                 if (!isLongValuePage(n))
                     continue;
                 const DataPage page = readDataPage(file, n);
                 for (std::size_t r = 0; r < page.rowSlots().size(); ++r) {
                     const auto row = page.row(r);
                     if (row.size() <= 4)
                         continue;
                     const std::uint32_t next = row[0] | row[1] << 8 | row[2] << 16 | row[3] << 24;
                     if (isLongValuePage(next >> 8)) {
                         put32(bytes, n * Page + page.rowSlots()[r].start,
                               n << 8 | static_cast<std::uint32_t>(r));
                         return;
                     }
                 }
             }
             FAIL() << "the sample has no chained long value";
         }},
        {"a row starts past its page", "delTestV2000.mdb",
         [](const PageFile&, std::string& bytes) {
             bytes.at(31 * Page + DataPage::HeaderSize) = '\xFF';
             bytes.at(31 * Page + DataPage::HeaderSize + 1) = '\x1F';
         }},
        {"a data page of another table in a table's map", "delTestV2000.mdb",
         [](const PageFile&, std::string& bytes) { put32(bytes, 31 * Page + 4, 2); }},
        {"an index page of the wrong type", "compIndexTestV2000.mdb",
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table1"));
             bytes.at(definition.physicalIndexes.at(0).rootPage * Page) = 0x07;
         }},
        {"the file is cut short", "test2V2000.mdb",
         [](const PageFile&, std::string& bytes) { bytes.resize(12 * Page + 100); }},
        {"the header is not Jet 4", "empty.mdb",
         [](const PageFile&, std::string& bytes) { bytes.at(0x14) = 0; }},
    };
    return list;
}

} // namespace

TEST(Jet4DamagedFile, EveryDamageRaisesFormatError) {
    REQUIRE_JET_SAMPLES();
    const testsupport::TempDir folder;
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.what);
        const std::string original = (*testsupport::jetSamplesFolder() / damage.sample).string();
        ASSERT_NO_THROW(readEverything(original));
        std::string bytes = testsupport::fileBytes(original);
        damage.apply(PageFile(original), bytes);
        const std::string copy = folder.file("damaged.mdb");
        testsupport::writeFileBytes(copy, bytes);
        EXPECT_THROW(readEverything(copy), FormatError);
    }
}

TEST(Jet4DamagedFile, PasswordBytesChangedReadAsPasswordSet) {
    REQUIRE_JET_SAMPLES();
    const testsupport::TempDir folder;
    const std::string original = (*testsupport::jetSamplesFolder() / "empty.mdb").string();
    std::string bytes = testsupport::fileBytes(original);
    bytes.at(0x42) ^= 0x5A; // any change inside the masked password field
    testsupport::writeFileBytes(folder.file("locked.mdb"), bytes);
    EXPECT_FALSE(readHeader(PageFile(original)).passwordSet);
    EXPECT_TRUE(readHeader(PageFile(folder.file("locked.mdb"))).passwordSet);
}

TEST(Jet4DamagedFile, MissingFileRaisesSystemError) {
    EXPECT_THROW(PageFile("/nonexistent/folder/file.mdb"), std::system_error);
}
