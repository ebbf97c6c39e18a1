// Rows inserted, updated and deleted in copies of Access-made tables without indexes: what our
// scan reads back, what the stored row count says, what the checker finds, and what both
// independent readers (npm mdb-reader, mdbtools) see once the level is committed.

#include "engine/jet4/write/RowWriter.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/RowEncoder.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/write/PageAllocator.h"
#include "support/ChildProcess.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "support/TempDir.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace engine::jet4;
using namespace testsupport;

namespace {

using Row = std::vector<Value>;
using Rows = std::map<std::pair<std::uint32_t, int>, Row>; // location -> values

std::pair<std::uint32_t, int> key(RowLocation at) {
    return {at.page, at.row};
}

// A copy of sample `name` in `folder`, writable whatever the sample's rights (on Windows a
// read-only sample gives a read-only copy, whoever runs the tests).
std::string copySample(const TempDir& folder, const std::string& name) {
    const std::string path = folder.file(name);
    std::filesystem::copy_file(*jetSamplesFolder() / name, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return path;
}

TableDefinition table(const PageFile& file, const std::string& name) {
    for (const auto& entry : readCatalog(file))
        if (entry.name == name)
            return readTableDefinition(file, static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
    throw std::runtime_error("no table " + name);
}

Rows scan(const PageFile& file, const TableDefinition& definition) {
    Rows rows;
    scanRows(file, definition, [&](RowLocation at, const Row& values) {
        rows[key(at)] = values;
        return true;
    });
    return rows;
}

// A value in a form that compares as the value does.
std::string show(const Value& v) {
    return std::to_string(static_cast<int>(v.kind)) + "|" + std::to_string(v.integer) + "|" +
           std::to_string(v.real) + "|" + std::string(v.text.begin(), v.text.end()) + "|" + v.bytes;
}

void expectSameRows(const Rows& actual, const Rows& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [at, row] : expected) {
        const auto found = actual.find(at);
        ASSERT_NE(found, actual.end()) << "page " << at.first << " row " << at.second;
        ASSERT_EQ(found->second.size(), row.size());
        for (std::size_t i = 0; i < row.size(); ++i)
            ASSERT_EQ(show(found->second[i]), show(row[i]))
                << "page " << at.first << " row " << at.second << " column " << i;
    }
}

// `length` characters of Cyrillic text (stored two bytes a character) that name `n`.
std::u16string wide(std::size_t n, std::size_t length) {
    std::u16string s;
    for (const char c : std::to_string(n))
        s += static_cast<char16_t>(u'Ж' + (c - '0'));
    while (s.size() < length)
        s += static_cast<char16_t>(u'А' + s.size() % 32);
    return s;
}

struct CheckerRun {
    int status = -1;
    std::vector<std::string> lines; // every line printed
};

CheckerRun runChecker(const std::string& path, bool dump) {
    std::vector<std::string> args{PATCH16_CHECK_PROGRAM};
    if (dump)
        args.emplace_back("--dump");
    args.push_back(path);
    const testsupport::ProcessResult result = testsupport::runProgram(args);
    CheckerRun run;
    run.status = result.status;
    std::string line;
    for (const char c : result.out) {
        if (c != '\n') {
            line += c;
            continue;
        }
        run.lines.push_back(line);
        line.clear();
    }
    return run;
}

// The checker finds no fault but those of indexes (they are rebuilt by others), and both
// independent readers see exactly the rows our dump shows.
void expectEveryReaderAgrees(const std::string& path) {
    const CheckerRun check = runChecker(path, false);
    ASSERT_FALSE(check.lines.empty()) << "the checker did not run";
    EXPECT_TRUE(check.lines.back() == "sound" || check.lines.back().ends_with("fault(s)"))
        << check.lines.back();
    std::vector<std::string> faults;
    for (const auto& line : check.lines)
        if (line.starts_with("FAULT ") && !line.starts_with("FAULT index-"))
            faults.push_back(line);
    EXPECT_EQ(faults, std::vector<std::string>{});

    if (const auto missing = referenceToolsMissing())
        GTEST_SKIP() << *missing;
    // The judges list a moved row where its image lies, we where its own slot is: the same
    // rows, in another order.
    const auto sorted = [](std::vector<std::string> lines) {
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const CheckerRun ours = runChecker(path, true);
    ASSERT_EQ(ours.status, 0);
    const auto dump = sorted(ours.lines);
    EXPECT_EQ(sorted(mdbReaderDump(path)), dump);
    EXPECT_EQ(mdbtoolsDisagreements(sorted(mdbtoolsDump(path)), dump, mdbSchema(path)),
              std::vector<std::string>{});
}

std::uint32_t storedRowCount(const PageFile& file, const TableDefinition& definition) {
    return readTableDefinition(file, definition.page).rowCount;
}

const RowSlot& slotAt(const PageFile& file, RowLocation at, std::vector<DataPage>& keep) {
    keep.push_back(readDataPage(file, at.page));
    return keep.back().rowSlots().at(at.row);
}

std::size_t residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoul(line.substr(6));
    return 0;
}

// Table1 of overflowTestV2000.mdb: nine Text(50) columns, no index, seven rows on three pages,
// two of them moved by Access behind overflow pointers.
constexpr const char* OverflowSample = "overflowTestV2000.mdb";

Row wideRow(std::size_t n) {
    return Row(9, textValue(wide(n, 50)));
}

Row shortRow(std::size_t n) {
    Row row(9, Value{});
    row[0] = textValue(u"r" + std::u16string(1, static_cast<char16_t>(u'0' + n % 10)));
    return row;
}

// A row of Table1 stored in exactly `size` bytes: Cyrillic text (two bytes a character) in the
// first columns, Latin text (compressed, one byte a character) in the last to make up the rest.
Row rowOfSize(const TableDefinition& definition, std::size_t size) {
    for (std::size_t latin = 0; latin <= 50; ++latin)
        for (std::size_t cyrillic = 0; cyrillic <= 8 * 50; ++cyrillic) {
            Row row(9, Value{});
            for (std::size_t c = 0; c * 50 < cyrillic; ++c)
                row[c] =
                    textValue(std::u16string(std::min<std::size_t>(50, cyrillic - c * 50), u'ж'));
            if (latin > 0)
                row[8] = textValue(std::u16string(latin, u'x'));
            const std::size_t bytes = encodeRow(definition, row).size();
            if (bytes == size)
                return row;
            if (bytes > size)
                break;
        }
    throw std::logic_error("no row of Table1 takes " + std::to_string(size) + " bytes");
}

// What a data page has left for another row and its slot, counted from its slots.
std::size_t roomLeft(const PageFile& file, std::uint32_t page) {
    std::size_t used = DataPage::HeaderSize;
    const DataPage data = readDataPage(file, page);
    for (const RowSlot& slot : data.rowSlots())
        used += datapage::SlotSize + (slot.end - slot.start);
    return PageFile::PageSize - used;
}

} // namespace

TEST(RowWriter, InsertedRowsFillNewPagesTheTableMapsAndEveryReaderSeesThem) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, OverflowSample);
    constexpr std::size_t Inserted = 2400; // four to a page: past the 512 pages an inline map holds
    {
        PageFile file(path);
        TableDefinition definition = table(file, "Table1");
        Rows expected = scan(file, definition);
        file.beginLevel();
        RowLocation last;
        for (std::size_t n = 0; n < Inserted; ++n)
            expected[key(last = insertRow(file, definition, wideRow(n)))] = wideRow(n);
        // A page takes rows to its last byte and not one byte further: a row one byte longer
        // than the last page's room goes to a new page, which rows then fill exactly.
        const auto put = [&](const Row& row) {
            const RowLocation at = insertRow(file, definition, row);
            expected[key(at)] = row;
            return at.page;
        };
        const Row filler = rowOfSize(definition, 500);
        const auto fill = [&](std::uint32_t page) { // until a row can take what is left
            while (roomLeft(file, page) > 800)
                ASSERT_EQ(put(filler), page);
        };
        const std::uint32_t full = last.page;
        ASSERT_EQ(readUsageMap(file, definition.freePages).pages.back(), full);
        fill(full);
        const std::uint32_t page =
            put(rowOfSize(definition, roomLeft(file, full) - datapage::SlotSize + 1));
        EXPECT_NE(page, full) << "a row one byte too long went on page " << full;
        fill(page);
        EXPECT_EQ(put(rowOfSize(definition, roomLeft(file, page) - datapage::SlotSize)), page);
        EXPECT_EQ(roomLeft(file, page), 0u);
        EXPECT_EQ(readDataPage(file, page).freeSpace(), 0u);
        EXPECT_NE(put(shortRow(0)), page);
        file.commitLevel();

        expectSameRows(scan(file, definition), expected);
        EXPECT_EQ(storedRowCount(file, definition), expected.size());
        EXPECT_EQ(readUsageMap(file, definition.ownedPages).kind, UsageMapKind::Reference);
        // The free-page map grew with the file and still calls every page past its end free.
        const UsageMap global = readUsageMap(file, GlobalUsageMapPointer);
        const auto pastEnd = std::count_if(global.pages.begin(), global.pages.end(),
                                           [&](std::uint32_t p) { return p >= file.pageCount(); });
        const auto covered = (readDataPage(file, 1).row(0).size() - 5) * 8;
        EXPECT_EQ(static_cast<std::size_t>(pastEnd), covered - file.pageCount());
    }
    expectEveryReaderAgrees(path);
}

TEST(RowWriter, FreePageMapTurnsIntoTheReferenceKindWhenPageOneCannotHoldIt) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    // delColTestV2000.mdb: 31 pages, of which 22 and 27 are free.
    const std::string path = copySample(folder, "delColTestV2000.mdb");
    constexpr std::uint32_t Added = 2 * PagesPerMapPage; // past page 1's room, into a third range
    PageFile file(path);
    file.beginLevel();
    std::vector<std::uint32_t> added;
    for (std::uint32_t n = 0; n < Added; ++n)
        added.push_back(allocatePage(file, PageImage{}));
    file.commitLevel();

    const UsageMap global = readUsageMap(file, GlobalUsageMapPointer);
    ASSERT_EQ(global.kind, UsageMapKind::Reference);
    const std::set<std::uint32_t> free(global.pages.begin(), global.pages.end());
    std::vector<std::uint32_t> freeInFile;
    for (std::uint32_t p = 0; p < file.pageCount(); ++p)
        if (free.count(p))
            freeInFile.push_back(p);
    EXPECT_EQ(freeInFile, (std::vector<std::uint32_t>{22, 27}));
    // Every range up to the end has its map page, and pages past the end are free.
    EXPECT_EQ(global.mapPages.size() - static_cast<std::size_t>(std::count(
                                           global.mapPages.begin(), global.mapPages.end(), 0u)),
              (file.pageCount() + PagesPerMapPage - 1) / PagesPerMapPage);
    EXPECT_TRUE(check::checkFile(path).sound());
    EXPECT_TRUE(free.count(file.pageCount()));
}

// Pages cut off the end of the file while the free-page map still counts them as used, which
// nothing of the database names (as Access and Jackcess leave files): the next page is handed out
// at the end, and the map counts every page past the end free again. For both kinds of the map.
TEST(RowWriter, PagesCutOffTheEndThatTheMapStillCountsAsUsedAreFreeForTheNextPage) {
    REQUIRE_JET_SAMPLES();
    constexpr std::uint32_t Cut = 12;
    for (const std::uint32_t added : {Cut + 3, 2 * PagesPerMapPage}) {
        SCOPED_TRACE(added);
        TempDir folder;
        // delColTestV2000.mdb: 31 pages, of which 22 and 27 are free.
        const std::string path = copySample(folder, "delColTestV2000.mdb");
        std::uint32_t end = 0;
        {
            PageFile file(path);
            file.beginLevel();
            for (std::uint32_t n = 0; n < added; ++n)
                allocatePage(file, PageImage{});
            file.commitLevel();
            end = file.pageCount() - Cut;
        }
        std::filesystem::resize_file(path, std::uintmax_t{end} * PageFile::PageSize);
        PageFile file(path);
        const UsageMap cut = readUsageMap(file, GlobalUsageMapPointer);
        ASSERT_FALSE(std::binary_search(cut.pages.begin(), cut.pages.end(), end));

        file.beginLevel();
        EXPECT_EQ(allocatePage(file, PageImage{}), end);
        EXPECT_EQ(allocatePage(file, PageImage{}), end + 1);
        file.commitLevel();
        const UsageMap global = readUsageMap(file, GlobalUsageMapPointer);
        EXPECT_EQ(global.kind, added > Cut + 3 ? UsageMapKind::Reference : UsageMapKind::Inline);
        const std::set<std::uint32_t> free(global.pages.begin(), global.pages.end());
        std::vector<std::uint32_t> freeInFile;
        for (std::uint32_t p = 0; p < file.pageCount(); ++p)
            if (free.count(p))
                freeInFile.push_back(p);
        EXPECT_EQ(freeInFile, (std::vector<std::uint32_t>{22, 27}));
        for (std::uint32_t p = file.pageCount(); p < end + Cut + 2; ++p)
            EXPECT_TRUE(free.count(p)) << "page " << p << " past the end";
        const check::Report report = check::checkFile(path);
        EXPECT_TRUE(report.sound())
            << report.faults.front().kind << ": " << report.faults.front().detail;
    }
}

TEST(RowWriter, UpdatedRowsKeepTheirLocationAsTheyOutgrowTheirPageAndShrinkBack) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, OverflowSample);
    {
        PageFile file(path);
        TableDefinition definition = table(file, "Table1");
        Rows expected = scan(file, definition);
        const std::uint32_t count = storedRowCount(file, definition);
        file.beginLevel();
        for (const auto& rowMaker : {&wideRow, &shortRow}) {
            std::size_t n = 0;
            for (auto& [at, row] : expected) {
                row = rowMaker(n++);
                updateRow(file, definition, {at.first, static_cast<std::uint8_t>(at.second)}, row);
            }
            expectSameRows(scan(file, definition), expected);
            if (rowMaker == &wideRow) {
                // Seven wide rows need two pages: some rows now point at their image.
                std::vector<DataPage> keep;
                std::size_t moved = 0;
                for (const auto& [at, row] : expected)
                    moved += slotAt(file, {at.first, static_cast<std::uint8_t>(at.second)}, keep)
                                 .pointer;
                EXPECT_GT(moved, 2u);
            }
        }
        file.commitLevel();
        EXPECT_EQ(storedRowCount(file, definition), count);
    }
    expectEveryReaderAgrees(path);
}

// A statement's changes made row after row as the scan meets them, through RowUpdates.
void updateTogether(PageFile& file, TableDefinition& definition,
                    const std::vector<std::pair<std::size_t, Value>>& changes) {
    RowUpdates updates(file, definition, changes);
    scanRows(file, definition, [&](RowLocation at, const Row&) {
        updates.update(at);
        return true;
    });
    updates.finish();
}

RowLocation location(std::pair<std::uint32_t, int> at) {
    return {at.first, static_cast<std::uint8_t>(at.second)};
}

TEST(RowWriter, UpdatingRowsTogetherLeavesThePagesUpdatingThemOneByOneLeaves) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string oneByOne = copySample(folder, OverflowSample);
    {
        // Enough rows for the moved images to fill several pages, every row (Access's too) in
        // this writer's encoding, which columns left alone keep.
        PageFile file(oneByOne);
        TableDefinition definition = table(file, "Table1");
        file.beginLevel();
        for (const auto& [at, row] : scan(file, definition))
            updateRow(file, definition, location(at), row);
        for (std::size_t n = 0; n < 300; ++n)
            insertRow(file, definition, shortRow(n));
        file.commitLevel();
    }
    const std::string together = folder.file("together.mdb");
    std::filesystem::copy_file(oneByOne, together);

    const std::vector<std::vector<std::pair<std::size_t, Value>>> statements = {
        {{3, textValue(wide(1, 50))}}, // rows grow: most leave their page
        {{3, textValue(wide(2, 50))},
         {5, textValue(wide(3, 50))}},                      // images grow again where they are
        {{3, Value{}}, {5, Value{}}, {0, textValue(u"x")}}, // and shrink back
    };
    for (const auto& changes : statements) {
        {
            PageFile file(oneByOne);
            TableDefinition definition = table(file, "Table1");
            file.beginLevel();
            for (auto [at, row] : scan(file, definition)) {
                for (const auto& [i, value] : changes)
                    row[i] = value;
                updateRow(file, definition, location(at), row);
            }
            file.commitLevel();
        }
        {
            PageFile file(together);
            TableDefinition definition = table(file, "Table1");
            file.beginLevel();
            updateTogether(file, definition, changes);
            file.commitLevel();
        }
        ASSERT_EQ(fileBytes(together), fileBytes(oneByOne))
            << "after statement " << &changes - statements.data();
    }
    expectEveryReaderAgrees(together);
}

TEST(RowWriter, DeletedRowsAndTheirImagesVanishForEveryReader) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, OverflowSample);
    {
        PageFile file(path);
        TableDefinition definition = table(file, "Table1");
        Rows expected = scan(file, definition);
        const std::uint32_t count = storedRowCount(file, definition);
        file.beginLevel();
        // Four wide rows fill page 27; the fifth must go elsewhere.
        const RowLocation plain{27, 0}, movedByAccess{27, 2}, movedByUs{27, 1};
        for (const std::uint8_t row : {0, 3, 5, 6, 1})
            updateRow(file, definition, {27, row}, wideRow(row));
        std::vector<DataPage> keep;
        ASSERT_TRUE(slotAt(file, movedByUs, keep).pointer);
        expected = scan(file, definition);
        for (const RowLocation at : {plain, movedByAccess, movedByUs}) {
            deleteRow(file, definition, at);
            expected.erase(key(at));
            const RowSlot& slot = slotAt(file, at, keep);
            EXPECT_TRUE(slot.isDeleted());
            EXPECT_EQ(slot.start, slot.end);
        }
        file.commitLevel();
        expectSameRows(scan(file, definition), expected);
        EXPECT_EQ(storedRowCount(file, definition), count - 3);
    }
    expectEveryReaderAgrees(path);
}

TEST(RowWriter, MemoValuesInTheRowInOneLongValueRowOrInAChainReadBackAndAreFreed) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, "functionsV2000.mdb");
    // t_funcs: id Integer, descr Memo, num Numeric(12,3), date0 DateTime; one row, no index.
    const std::size_t lengths[] = {10, 32, 33, 1000, 2038, 2039, 9000};
    // The long-value rows each length takes: none in the row, one up to a page, then a chain.
    const std::size_t longValueRows[] = {0, 0, 1, 1, 1, 2, 5};
    {
        PageFile file(path);
        TableDefinition definition = table(file, "t_funcs");
        Rows expected = scan(file, definition);
        const Row base = expected.begin()->second;
        file.beginLevel();
        // A row deleted takes every long-value row of its value with it.
        const auto liveLongValueRows = [&] {
            std::size_t live = 0;
            for (const std::uint32_t p :
                 readUsageMap(file, definition.longValueMaps.at(0).ownedPages).pages) {
                const DataPage page = readDataPage(file, p);
                live += static_cast<std::size_t>(
                    std::count_if(page.rowSlots().begin(), page.rowSlots().end(),
                                  [](const RowSlot& slot) { return !slot.isDeleted(); }));
            }
            return live;
        };
        for (std::size_t i = 0; i < std::size(lengths); ++i) {
            Row row = base;
            row[1] = textValue(wide(lengths[i], lengths[i]));
            const std::size_t before = liveLongValueRows();
            const RowLocation at = insertRow(file, definition, row);
            EXPECT_EQ(liveLongValueRows(), before + longValueRows[i]) << lengths[i];
            deleteRow(file, definition, at);
            EXPECT_EQ(liveLongValueRows(), before) << lengths[i] << " characters: not freed";
        }
        std::vector<RowLocation> inserted;
        for (const std::size_t length : lengths) {
            Row row = base;
            row[0].integer = static_cast<std::int64_t>(length);
            row[1] = textValue(wide(length, length));
            inserted.push_back(insertRow(file, definition, row));
            expected[key(inserted.back())] = row;
        }
        expectSameRows(scan(file, definition), expected);
        // Short values become long and long ones short; then every added row goes.
        for (std::size_t i = 0; i < inserted.size(); ++i) {
            Row row = expected[key(inserted[i])];
            row[1] = textValue(wide(i, lengths[inserted.size() - 1 - i]));
            updateRow(file, definition, inserted[i], row);
            expected[key(inserted[i])] = row;
        }
        file.commitLevel();
        expectSameRows(scan(file, definition), expected);
    }
    expectEveryReaderAgrees(path);

    PageFile file(path);
    TableDefinition definition = table(file, "t_funcs");
    file.beginLevel();
    for (const auto& [at, row] : scan(file, definition))
        if (row[0].integer != 1234) // the row Access wrote
            deleteRow(file, definition, {at.first, static_cast<std::uint8_t>(at.second)});
    file.commitLevel();
    EXPECT_EQ(storedRowCount(file, definition), 1u);
    const UsageMap longValuePages = readUsageMap(file, definition.longValueMaps.at(0).ownedPages);
    EXPECT_FALSE(longValuePages.pages.empty());
    for (const std::uint32_t p : longValuePages.pages) {
        const DataPage page = readDataPage(file, p);
        for (const RowSlot& slot : page.rowSlots())
            EXPECT_TRUE(slot.isDeleted()) << "long-value page " << p;
    }
    expectEveryReaderAgrees(path);
}

TEST(RowWriter, UpdatingOtherColumnsLeavesLongValuesWhereTheyAre) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, "functionsV2000.mdb");
    PageFile file(path);
    TableDefinition definition = table(file, "t_funcs"); // id Integer, descr Memo, ...
    Row row = scan(file, definition).begin()->second;
    file.beginLevel();
    for (const std::size_t length : {1000, 9000}) { // one long-value row; a chain
        row[1] = textValue(wide(length, length));
        insertRow(file, definition, row);
    }
    file.commitLevel();
    const Rows before = scan(file, definition);
    const auto longValuePages = [&] {
        std::string bytes;
        for (const std::uint32_t p :
             readUsageMap(file, definition.longValueMaps.at(0).ownedPages).pages)
            bytes.append(reinterpret_cast<const char*>(file.page(p)->data()), PageFile::PageSize);
        return bytes;
    };
    const std::string pagesBefore = longValuePages();

    Value id;
    id.kind = Value::Kind::Integer;
    id.integer = 7;
    file.beginLevel();
    updateTogether(file, definition, {{0, id}});
    file.commitLevel();
    EXPECT_EQ(longValuePages(), pagesBefore);
    Rows expected = before;
    for (auto& [at, values] : expected)
        values[0] = id;
    expectSameRows(scan(file, definition), expected);
}

TEST(RowWriter, RollingBackAnInnerLevelPutsBackEveryByte) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, "functionsV2000.mdb");
    const std::string before = fileBytes(path);
    {
        PageFile file(path);
        TableDefinition definition = table(file, "t_funcs");
        const auto [at, base] = *scan(file, definition).begin();
        const RowLocation first{at.first, static_cast<std::uint8_t>(at.second)};
        file.beginLevel();
        file.beginLevel();
        for (std::size_t n = 0; n < 40; ++n) {
            Row row = base;
            row[1] = textValue(wide(n, 300 * n));
            insertRow(file, definition, row);
        }
        Row grown = base;
        grown[1] = textValue(wide(0, 3000));
        updateRow(file, definition, first, grown);
        deleteRow(file, definition, first);
        file.rollbackLevel();
        file.commitLevel();
    }
    EXPECT_EQ(fileBytes(path), before);
}

TEST(RowWriter, MemoryStaysFlatWhileTheFileGrows) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine, so resident memory tells "
                    "nothing about the writer here";
#endif
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, "functionsV2000.mdb");
    PageFile file(path);
    TableDefinition definition = table(file, "t_funcs");
    Row row = scan(file, definition).begin()->second;
    row[1] = textValue(wide(0, 30000)); // 15 long-value pages a row
    file.beginLevel();
    std::size_t start = 0;
    for (std::size_t n = 0; n < 700; ++n) {
        if (n == 50)
            start = residentKilobytes();
        insertRow(file, definition, row);
    }
    EXPECT_GT(file.pageCount(), 10000u); // about 40 MiB written
    EXPECT_LT(residentKilobytes(), start + 8 * 1024);
    file.commitLevel();
    EXPECT_EQ(storedRowCount(file, definition), 701u);
}

TEST(RowWriter, RefusedRowsLeaveTheFileAsItWas) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, "functionsV2000.mdb");
    const std::string before = fileBytes(path);
    PageFile file(path);
    TableDefinition definition = table(file, "t_funcs");
    const auto [at, base] = *scan(file, definition).begin();
    const RowLocation first{at.first, static_cast<std::uint8_t>(at.second)};
    Row tooFew = base;
    tooFew.pop_back();
    Row memoNotText = base;
    memoNotText[1].kind = Value::Kind::Integer;
    Row shortNumeric = base;
    shortNumeric[2].bytes.pop_back();
    Row longMemoNotText = base; // refused although its long value would be written first
    longMemoNotText[1] = textValue(wide(0, 5000));
    longMemoNotText[0].kind = Value::Kind::Text;
    file.beginLevel();
    for (const Row& row : {tooFew, memoNotText, shortNumeric, longMemoNotText}) {
        EXPECT_THROW(insertRow(file, definition, row), std::invalid_argument);
        EXPECT_THROW(updateRow(file, definition, first, row), std::invalid_argument);
    }
    EXPECT_THROW(updateRow(file, definition, {first.page, 200}, base), std::invalid_argument);
    EXPECT_THROW(deleteRow(file, definition, {2, 0}), std::invalid_argument);
    file.commitLevel();
    EXPECT_EQ(fileBytes(path), before);
}

TEST(RowWriter, TextLongerThanItsColumnIsRefused) {
    REQUIRE_JET_SAMPLES();
    TempDir folder;
    const std::string path = copySample(folder, OverflowSample);
    PageFile file(path);
    TableDefinition definition = table(file, "Table1");
    file.beginLevel();
    EXPECT_NO_THROW(insertRow(file, definition, Row(9, textValue(wide(0, 50)))));
    EXPECT_THROW(insertRow(file, definition, Row(9, textValue(wide(0, 51)))),
                 std::invalid_argument);
    file.rollbackLevel();
}
