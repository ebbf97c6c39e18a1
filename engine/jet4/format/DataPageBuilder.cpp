#include "engine/jet4/format/DataPageBuilder.h"

#include "engine/jet4/format/EncoderBytes.h"

#include <stdexcept>

namespace engine::jet4 {

using namespace datapage;

namespace {

constexpr std::size_t PageFlagOffset = 1;
constexpr std::uint8_t PageFlag = 0x01;
constexpr std::size_t PointerSize = 4;
constexpr std::size_t MaxRows = 255; // a row pointer has one byte for the row

} // namespace

std::uint32_t rowPointer(RowLocation location) {
    return location.page << 8 | location.row;
}

std::size_t DataPageBuilder::used() const {
    std::size_t size = DataPage::HeaderSize + SlotSize * rows_.size();
    for (const Row& row : rows_)
        size += row.bytes.size();
    return size;
}

std::size_t DataPageBuilder::freeSpace() const {
    return PageFile::PageSize - used();
}

bool DataPageBuilder::fits(std::size_t size) const {
    return rows_.size() < MaxRows && size + SlotSize <= freeSpace();
}

std::uint8_t DataPageBuilder::addRow(std::string_view bytes, bool pointer, bool notRow) {
    if (!fits(bytes.size()))
        throw std::length_error("a row of " + std::to_string(bytes.size()) +
                                " bytes does not fit the page");
    rows_.push_back({std::string(bytes), pointer, notRow});
    return static_cast<std::uint8_t>(rows_.size() - 1);
}

void DataPageBuilder::deleteRow(std::size_t slot) {
    Row& row = rows_.at(slot);
    row.bytes.clear();
    row.pointer = row.notRow = true;
}

void DataPageBuilder::pointTo(std::size_t slot, RowLocation image) {
    Row& row = rows_.at(slot);
    if (row.bytes.size() < PointerSize)
        row.bytes.resize(PointerSize, '\0');
    putU32(writable(row.bytes), 0, rowPointer(image));
    row.pointer = true;
    row.notRow = false;
}

PageImage DataPageBuilder::image() const {
    PageImage page{};
    putU8(page, TypeOffset, DataPageType);
    putU8(page, PageFlagOffset, PageFlag);
    putU16(page, FreeSpaceOffset, static_cast<std::uint16_t>(freeSpace()));
    putU32(page, OwnerOffset, owner_);
    putU32(page, UnknownOffset, unknown_);
    putU16(page, RowCountOffset, static_cast<std::uint16_t>(rows_.size()));
    std::size_t end = PageFile::PageSize;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        const std::size_t start = end - row.bytes.size();
        std::copy(row.bytes.begin(), row.bytes.end(),
                  page.begin() + static_cast<std::ptrdiff_t>(start));
        const auto slot = static_cast<std::uint16_t>(start | (row.pointer ? PointerFlag : 0) |
                                                     (row.notRow ? NotRowFlag : 0));
        putU16(page, DataPage::HeaderSize + SlotSize * i, slot);
        end = start;
    }
    return page;
}

} // namespace engine::jet4
