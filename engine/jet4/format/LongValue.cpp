#include "engine/jet4/format/LongValue.h"

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/DataPage.h"

#include <set>
#include <utility>

namespace engine::jet4 {

namespace {

using namespace longvalue;

// The long-value row `pointer` designates, checked to be on a long-value page.
std::pair<DataPage, std::span<const std::uint8_t>>
longValueRow(const PageFile& file, std::uint32_t pointer, std::uint32_t from) {
    const RowLocation where = rowLocationFromPointer(pointer);
    if (where.page == 0 || where.page >= file.pageCount())
        throw FormatError(from, "long value points at page " + std::to_string(where.page) +
                                    ", outside the file");
    DataPage page = readDataPage(file, where.page);
    if (page.owner() != LongValueOwner)
        throw FormatError(where.page, "long value points at a data page that is not a "
                                      "long-value page");
    const auto bytes = page.row(where.row);
    return {std::move(page), bytes};
}

} // namespace

std::string readLongValue(const PageFile& file, std::span<const std::uint8_t> field,
                          std::uint32_t page) {
    const ByteView header(field, page, "long value header");
    const std::uint32_t word = header.u32(LengthOffset);
    const std::uint32_t length = word & LengthMask;
    const std::uint32_t pointer = header.u32(PointerOffset);
    header.u32(LongValueHeaderSize - 4); // the whole header must be there

    if (word & InlineFlag) {
        const auto value = header.span(LongValueHeaderSize, length);
        return {value.begin(), value.end()};
    }
    if (word & SingleRowFlag) {
        const auto [holder, row] = longValueRow(file, pointer, page);
        if (row.size() < length)
            throw FormatError(holder.number(), "long value of " + std::to_string(length) +
                                                   " bytes is longer than its row");
        return {row.begin(), row.begin() + length};
    }

    // A chain can only be as long as the rows it visits; a row seen twice means a loop.
    std::string value;
    std::set<std::uint32_t> seen;
    std::uint32_t next = pointer;
    std::uint32_t current = page;
    while (value.size() < length) {
        if (next == 0)
            throw FormatError(current, "long value chain ends after " +
                                           std::to_string(value.size()) + " of " +
                                           std::to_string(length) + " bytes");
        if (!seen.insert(next).second)
            throw FormatError(current,
                              "long value chain loops back to page " + std::to_string(next >> 8));
        const auto [holder, row] = longValueRow(file, next, current);
        const ByteView part(row, holder.number(), "long value row");
        next = part.u32(ChainNextOffset);
        const auto data = part.span(ChainDataOffset, row.size() - ChainDataOffset);
        value.append(data.begin(), data.end());
        current = holder.number();
    }
    if (value.size() > length)
        value.resize(length);
    return value;
}

} // namespace engine::jet4
