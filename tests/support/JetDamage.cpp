#include "support/JetDamage.h"

#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexPage.h"

#include <gtest/gtest.h>

#include <bit>
#include <stdexcept>

namespace testsupport {

using namespace engine::jet4;

namespace {

constexpr std::size_t Page = PageFile::PageSize;
constexpr std::size_t EntryBitmap = 27, EntryBitmapSize = 453, FirstEntry = 480;

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

} // namespace

std::uint32_t firstIndexLeaf(const PageFile& file, const std::string& table) {
    const auto definition = readTableDefinition(file, userTablePage(file, table));
    std::uint32_t page = definition.physicalIndexes.at(0).rootPage;
    for (IndexPage index = readIndexPage(file, page); !index.leaf;
         index = readIndexPage(file, page))
        page = index.entries.at(0).child;
    return page;
}

const std::vector<JetDamage>& jetDamages() {
    static const std::vector<JetDamage> list = {
        {"a table definition continues past the end of the file", "testV2000.mdb",
         "table-definition", true, true,
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table2"));
             put32(bytes, definition.pages[0] * Page + 4, 0x00FFFFFF);
         }},
        {"a table definition chain loops", "testV2000.mdb", "table-definition", true, true,
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table2"));
             put32(bytes, definition.pages[1] * Page + 4, definition.pages[0]);
         }},
        {"a long-value chain loops", "test2V2000.mdb", "long-value", true, true,
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
        {"a row starts past its page", "delTestV2000.mdb", "data-page", true, true,
         [](const PageFile&, std::string& bytes) {
             bytes.at(31 * Page + DataPage::HeaderSize) = '\xFF';
             bytes.at(31 * Page + DataPage::HeaderSize + 1) = '\x1F';
         }},
        {"a data page of another table in a table's map", "delTestV2000.mdb", "page-owner", true,
         true, [](const PageFile&, std::string& bytes) { put32(bytes, 31 * Page + 4, 2); }},
        {"an index page of the wrong type", "compIndexTestV2000.mdb", "index-page", true, false,
         [](const PageFile& file, std::string& bytes) {
             const auto definition = readTableDefinition(file, userTablePage(file, "Table1"));
             bytes.at(definition.physicalIndexes.at(0).rootPage * Page) = 0x07;
         }},
        {"the file is cut short", "test2V2000.mdb", "file-truncated", true, true,
         [](const PageFile&, std::string& bytes) { bytes.resize(12 * Page + 100); }},
        {"the header is not Jet 4", "empty.mdb", "", true, true,
         [](const PageFile&, std::string& bytes) { bytes.at(0x14) = 0; }},
        {"an index entry's key byte changed", "compIndexTestV2000.mdb", "index-key-mismatch", false,
         false,
         [](const PageFile& file, std::string& bytes) {
             // The byte after the first entry's flag: the first byte of its value.
             bytes.at(firstIndexLeaf(file, "Table1") * Page + FirstEntry + 1) ^= 0x01;
         }},
        {"a leaf entry removed", "compIndexTestV2000.mdb", "index-entry-missing", false, false,
         [](const PageFile& file, std::string& bytes) {
             // Clearing the last entry's end mark leaves the leaf without that entry.
             const std::size_t bitmap = firstIndexLeaf(file, "Table1") * Page + EntryBitmap;
             for (std::size_t i = EntryBitmapSize; i-- > 0;)
                 if (bytes.at(bitmap + i) != 0) {
                     auto byte = static_cast<unsigned char>(bytes[bitmap + i]);
                     byte &= static_cast<unsigned char>(~(0x80u >> std::countl_zero(byte)));
                     bytes[bitmap + i] = static_cast<char>(byte);
                     return;
                 }
             FAIL() << "the leaf has no entries";
         }},
        {"a usage-map bit cleared", "delTestV2000.mdb", "usage-map", false, false,
         [](const PageFile& file, std::string& bytes) {
             // The owned-pages map of the table with rows on page 31 loses that page.
             for (const CatalogEntry& entry : readCatalog(file)) {
                 if (!isUserTable(entry))
                     continue;
                 const auto definition =
                     readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
                 const UsageMap map = readUsageMap(file, definition.ownedPages);
                 if (map.kind != UsageMapKind::Inline || map.pages.empty())
                     continue;
                 const DataPage holder = readDataPage(file, map.location.page);
                 const std::uint32_t page = map.pages.front();
                 const std::size_t bit = page - map.firstPage;
                 const std::size_t at = map.location.page * Page +
                                        holder.rowSlots().at(map.location.row).start + 5 + bit / 8;
                 bytes.at(at) &= static_cast<char>(~(1u << (bit % 8)));
                 return;
             }
             FAIL() << "no user table with an inline map";
         }},
    };
    return list;
}

} // namespace testsupport
