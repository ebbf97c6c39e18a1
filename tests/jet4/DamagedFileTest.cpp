// Damaged copies of sample databases, written to a temporary folder: reading them must end in a
// FormatError naming the fault, never a crash, a read past a buffer or an endless loop.

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/index/IndexPage.h"
#include "engine/jet4/index/IndexTreeCheck.h"
#include "support/JetDamage.h"
#include "support/JetSamples.h"
#include "support/TempDir.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
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

// The walk made before an index's table is first changed: every broken tree is refused with the
// page and the fault, and the undamaged tree passes.
TEST(Jet4DamagedFile, IndexTreeWalkRefusesEveryBrokenTree) {
    REQUIRE_JET_SAMPLES();
    const std::string original =
        (*testsupport::jetSamplesFolder() / "compIndexTestV2000.mdb").string();
    // An index two levels deep: the root, its first leaf, the leaf after it and the last leaf.
    const PageFile sample(original);
    std::optional<std::pair<TableDefinition, std::size_t>> found;
    for (const CatalogEntry& entry : readCatalog(sample)) {
        if (entry.type != CatalogEntry::TableType || found)
            continue;
        const auto definition = readTableDefinition(sample, static_cast<std::uint32_t>(entry.id));
        for (std::size_t i = 0; i < definition.physicalIndexes.size() && !found; ++i) {
            const IndexPage root = readIndexPage(sample, definition.physicalIndexes[i].rootPage);
            if (!root.leaf && readIndexPage(sample, root.entries.at(0).child).leaf)
                found.emplace(definition, i);
        }
    }
    ASSERT_TRUE(found);
    const auto& [definition, position] = *found;
    const PhysicalIndex& index = definition.physicalIndexes[position];
    const std::uint32_t leaf = readIndexPage(sample, index.rootPage).entries[0].child;
    std::uint32_t last = leaf;
    while (readIndexPage(sample, last).next != 0)
        last = readIndexPage(sample, last).next;
    ASSERT_NE(last, leaf);
    const std::size_t second = readIndexPage(sample, leaf).next * Page;
    ASSERT_NO_THROW(verifyIndexTree(sample, definition, index));

    const auto put32 = [](std::string& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.at(at + i) = static_cast<char>(v >> (8 * i));
    };
    // The root's first entry, stored whole: key, row pointer, child.
    const std::size_t rootEntry = index.rootPage * Page + indexpage::FirstEntryOffset;
    const std::size_t rowPointer =
        rootEntry + readIndexPage(sample, index.rootPage).entries[0].key.size();
    const struct {
        const char* fault;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"not an index page", [&](std::string& b) { b.at(second + indexpage::TypeOffset) = 1; }},
        {"as its owner", [&](std::string& b) { put32(b, second + indexpage::OwnerOffset, 3); }},
        {"is not linked to the leaf before it",
         [&](std::string& b) { put32(b, second + indexpage::PrevOffset, 0); }},
        // The second leaf's first entry (stored whole) sorted first: its first byte is a flag.
        {"is not above the one before it",
         [&](std::string& b) { b.at(second + indexpage::FirstEntryOffset) = 0; }},
        // The root's first entry falls below the first leaf's last entry: a search for the
        // keys between would stop short.
        {"lies below the last entry under that page",
         [&](std::string& b) { b.at(rootEntry + 1) = 0; }},
        // It rises past the next leaf's first entry: a search for that one would go astray.
        {"is not below that page's first entry",
         [&](std::string& b) { b.at(rootEntry) = static_cast<char>(0xFF); }},
        {"is reached twice",
         [&](std::string& b) { put32(b, last * Page + indexpage::NextOffset, leaf); }},
    };
    const testsupport::TempDir folder;
    // Access leaves a node entry above what is left in its child after deletions: searches still
    // descend to the right page, so the tree passes.
    {
        std::string bytes = testsupport::fileBytes(original);
        bytes.at(rowPointer + indexpage::RowPointerSize - 1) += 1;
        testsupport::writeFileBytes(folder.file("deleted.mdb"), bytes);
        EXPECT_NO_THROW(verifyIndexTree(PageFile(folder.file("deleted.mdb")), definition, index));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string bytes = testsupport::fileBytes(original);
        c.damage(bytes);
        testsupport::writeFileBytes(folder.file("damaged.mdb"), bytes);
        const PageFile damaged(folder.file("damaged.mdb"));
        try {
            verifyIndexTree(damaged, definition, index);
            ADD_FAILURE() << "the damaged tree passed";
        } catch (const FormatError& error) {
            EXPECT_NE(std::string(error.what()).find(c.fault), std::string::npos) << error.what();
        }
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
