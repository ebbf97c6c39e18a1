// Every sample database read by this reader and by Debian's mdbtools, an independent reader:
// the user tables must be the same, and every table must give the same rows (compared on the
// integer, boolean and text columns, as a multiset since the two readers order overflow rows
// differently). mdbtools cannot tell an empty text from NULL and stops text at U+0000, so both
// sides are compared that way. It also reads every slot flagged 0x8000 alone as a row, so an
// overflow image left behind when a row moved a second time shows up there as an extra, older
// version of the row: such extra rows are allowed, as many as the table has images that no
// pointer leads to.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "jet4/Mdbtools.h"
#include "support/JetSamples.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

using namespace engine::jet4;
using jet4test::lines;
using jet4test::runTool;

namespace {

bool compared(ColumnType type) {
    switch (type) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Text:
    case ColumnType::Memo:
        return true;
    default:
        return false;
    }
}

// One row as "column=value" pairs in name order; null columns are left out, as mdb-json does.
using Fingerprint = std::map<std::string, std::string>;

std::string joined(const Fingerprint& row) {
    std::string out;
    for (const auto& [name, value] : row)
        out += name + "=" + value + ";";
    return out;
}

std::vector<std::string> ourRows(const PageFile& file, const TableDefinition& definition) {
    std::vector<std::string> rows;
    scanRows(file, definition, [&](RowLocation, const std::vector<Value>& values) {
        Fingerprint row;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const Value& v = values[i];
            if (!compared(definition.columns[i].type) || v.isNull())
                continue;
            if (v.kind == Value::Kind::Text) {
                const auto text = std::u16string_view(v.text).substr(0, v.text.find(u'\0'));
                if (!text.empty())
                    row[definition.columns[i].name] = "t:" + utf8FromUtf16(text);
            } else
                row[definition.columns[i].name] = "n:" + std::to_string(v.integer);
        }
        rows.push_back(joined(row));
        return true;
    });
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::string> mdbtoolsRows(const QString& path, const TableDefinition& definition,
                                      const std::string& table) {
    const auto output = runTool("mdb-json", {path, QString::fromStdString(table)});
    EXPECT_TRUE(output) << "mdb-json failed on " << table;
    std::vector<std::string> rows;
    for (const std::string& line : lines(output.value_or(QByteArray()))) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        Fingerprint row;
        for (const ColumnDefinition& column : definition.columns) {
            const QJsonValue v = object.value(QString::fromStdString(column.name));
            if (!compared(column.type) || v.isUndefined() || v.isNull())
                continue;
            if (v.isString()) {
                if (!v.toString().isEmpty())
                    row[column.name] = "t:" + v.toString().toStdString();
            } else if (v.isBool())
                row[column.name] = std::string("n:") + (v.toBool() ? "1" : "0");
            else
                row[column.name] = "n:" + std::to_string(static_cast<long long>(v.toDouble()));
        }
        rows.push_back(joined(row));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Overflow images (0x8000 alone) on the table's pages that no pointer slot (0x4000 alone) leads
// to: counted from the slot flags, independently of the scan.
std::size_t imagesWithoutPointer(const PageFile& file, const TableDefinition& definition) {
    std::size_t images = 0;
    std::size_t pointers = 0;
    for (const std::uint32_t number : readUsageMap(file, definition.ownedPages).pages) {
        const DataPage page = readDataPage(file, number);
        for (const RowSlot& slot : page.rowSlots()) {
            images += slot.notRow && !slot.pointer;
            pointers += slot.pointer && !slot.notRow;
        }
    }
    return images - std::min(images, pointers);
}

} // namespace

TEST(Jet4Samples, UserTablesAndTheirRowsMatchMdbtools) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_MDBTOOLS();

    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const QString qpath = QString::fromStdString(path.string());
        const PageFile file(path.string());
        std::vector<std::string> ours;
        for (const CatalogEntry& entry : readCatalog(file)) {
            if (!isUserTable(entry))
                continue;
            ours.push_back(entry.name);
            SCOPED_TRACE(entry.name);
            const TableDefinition definition =
                readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
            const auto mine = ourRows(file, definition);
            const auto theirs = mdbtoolsRows(qpath, definition, entry.name);
            const std::size_t stale = imagesWithoutPointer(file, definition);
            if (stale == 0) {
                EXPECT_EQ(mine, theirs);
                continue;
            }
            EXPECT_EQ(mine.size() + stale, theirs.size());
            EXPECT_TRUE(std::includes(theirs.begin(), theirs.end(), mine.begin(), mine.end()));
        }
        std::vector<std::string> listed =
            lines(runTool("mdb-tables", {"-1", qpath}).value_or(QByteArray()));
        std::sort(ours.begin(), ours.end());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(ours, listed);
    }
}
