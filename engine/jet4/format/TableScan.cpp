#include "engine/jet4/format/TableScan.h"

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/UsageMap.h"

#include <set>

namespace engine::jet4 {

namespace {

constexpr std::size_t OverflowPointerOffset = 0;

DataPage tablePage(const PageFile& file, const TableDefinition& definition, std::uint32_t number,
                   std::uint32_t from) {
    if (number == 0 || number >= file.pageCount())
        throw FormatError(from, "table " + std::to_string(definition.page) + " refers to page " +
                                    std::to_string(number) + ", outside the file");
    DataPage page = readDataPage(file, number);
    if (page.owner() != definition.page)
        throw FormatError(number, "data page belongs to table " + std::to_string(page.owner()) +
                                      ", not to table " + std::to_string(definition.page));
    return page;
}

} // namespace

void scanRowImages(const PageFile& file, const TableDefinition& definition,
                   const RowImageVisitor& visit) {
    const UsageMap owned = readUsageMap(file, definition.ownedPages);
    for (const std::uint32_t number : owned.pages) {
        const DataPage page = tablePage(file, definition, number, owned.location.page);
        for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
            if (!page.rowSlots()[slot].isTableRow())
                continue;
            const RowLocation location{number, static_cast<std::uint8_t>(slot)};
            if (!page.rowSlots()[slot].pointer) {
                if (!visit(location, page.row(slot), number))
                    return;
                continue;
            }
            // Follow the overflow pointers to the image, which carries no pointer flag.
            std::set<std::pair<std::uint32_t, std::uint8_t>> seen{{number, location.row}};
            DataPage holder = page;
            std::uint8_t row = location.row;
            while (holder.rowSlots()[row].pointer) {
                const ByteView pointer(holder.row(row), holder.number(), "overflow pointer");
                const RowLocation target =
                    rowLocationFromPointer(pointer.u32(OverflowPointerOffset));
                if (!seen.insert({target.page, target.row}).second)
                    throw FormatError(holder.number(),
                                      "overflow pointer of row " + std::to_string(row) + " loops");
                holder = tablePage(file, definition, target.page, holder.number());
                if (target.row >= holder.rowSlots().size())
                    throw FormatError(target.page, "overflow pointer names row " +
                                                       std::to_string(target.row) +
                                                       " of a page with " +
                                                       std::to_string(holder.rowSlots().size()));
                row = target.row;
            }
            if (!visit(location, holder.row(row), holder.number()))
                return;
        }
    }
}

void scanRows(const PageFile& file, const TableDefinition& definition, const RowVisitor& visit,
              const std::vector<bool>& wanted) {
    scanRowImages(
        file, definition,
        [&](RowLocation location, std::span<const std::uint8_t> image, std::uint32_t page) {
            return visit(location, decodeRow(file, definition, image, page, wanted));
        });
}

} // namespace engine::jet4
