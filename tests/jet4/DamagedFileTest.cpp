// Damaged copies of sample databases, written to a temporary folder: reading them must end in a
// FormatError naming the fault, never a crash, a read past a buffer or an endless loop.

#include "engine/jet4/Catalog.h"
#include "engine/jet4/DataPage.h"
#include "engine/jet4/FormatError.h"
#include "engine/jet4/Header.h"
#include "engine/jet4/IndexPage.h"
#include "engine/jet4/TableDefinition.h"
#include "engine/jet4/TableScan.h"
#include "support/JetDamage.h"
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

} // namespace

TEST(Jet4DamagedFile, EveryDamageRaisesFormatError) {
    REQUIRE_JET_SAMPLES();
    const testsupport::TempDir folder;
    for (const testsupport::JetDamage& damage : testsupport::jetDamages()) {
        if (!damage.readerRefuses)
            continue; // seen only when structures are held against each other
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
