#include "engine/jet4/format/DataPage.h"

#include "engine/jet4/format/Bytes.h"

#include <array>
#include <optional>

namespace engine::jet4 {

namespace {

using namespace datapage;

} // namespace

DataPage::DataPage(PageData bytes, std::uint32_t number)
    : bytes_(std::move(bytes)), number_(number) {
    const ByteView view(*bytes_, number, "data page");
    if (view.u8(TypeOffset) != DataPageType)
        view.fail("page type is " + std::to_string(view.u8(TypeOffset)) + ", not a data page");
    freeSpace_ = view.u16(FreeSpaceOffset);
    owner_ = view.u32(OwnerOffset);
    unknown_ = view.u32(UnknownOffset);
    const std::uint16_t count = view.u16(RowCountOffset);
    const std::size_t rowArea = HeaderSize + std::size_t{count} * SlotSize;
    if (rowArea > PageFile::PageSize)
        view.fail("row count " + std::to_string(count) + " does not fit the page");

    slots_.reserve(count);
    std::size_t end = PageFile::PageSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t raw = view.u16(HeaderSize + i * SlotSize);
        RowSlot slot;
        slot.start = raw & SlotOffsetMask;
        slot.end = static_cast<std::uint16_t>(end);
        slot.pointer = (raw & PointerFlag) != 0;
        slot.notRow = (raw & NotRowFlag) != 0;
        if (slot.start < rowArea || slot.start > slot.end)
            view.fail("row " + std::to_string(i) + " starts at " + std::to_string(slot.start) +
                      ", outside " + std::to_string(rowArea) + ".." + std::to_string(slot.end));
        slots_.push_back(slot);
        end = slot.start;
    }
}

std::span<const std::uint8_t> DataPage::row(std::size_t row) const {
    if (row >= slots_.size())
        throw FormatError(number_, "data page has no row " + std::to_string(row) + " (" +
                                       std::to_string(slots_.size()) + " rows)");
    const RowSlot& slot = slots_[row];
    return std::span(*bytes_).subspan(slot.start, slot.end - slot.start);
}

DataPage readDataPage(const PageFile& file, std::uint32_t number) {
    PageData bytes = file.page(number);
    // Rows are placed one at a time, each reading the same few pages several times: a page whose
    // bytes are those already checked (the same bytes in memory, held here, so they cannot have
    // been reused for another page) is not checked again.
    constexpr std::size_t Remembered = 4;
    thread_local std::array<std::optional<DataPage>, Remembered> checked;
    thread_local std::size_t next = 0;
    for (const std::optional<DataPage>& page : checked)
        if (page && page->number() == number && page->bytes() == bytes)
            return *page;
    DataPage page(std::move(bytes), number);
    checked[next++ % Remembered] = page;
    return page;
}

} // namespace engine::jet4
