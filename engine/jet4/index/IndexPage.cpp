#include "engine/jet4/index/IndexPage.h"

#include "engine/jet4/format/Bytes.h"

namespace engine::jet4 {

namespace {

using namespace indexpage;

} // namespace

IndexPage readIndexPageHeader(const PageData& data, std::uint32_t number) {
    const ByteView view(*data, number, "index page");
    const std::uint8_t type = view.u8(TypeOffset);
    if (type != IndexLeafPageType && type != IndexNodePageType)
        view.fail("page type is " + std::to_string(type) + ", not an index page");
    IndexPage page;
    page.number = number;
    page.leaf = type == IndexLeafPageType;
    page.freeSpace = view.u16(FreeSpaceOffset);
    page.owner = view.u32(OwnerOffset);
    page.prev = view.u32(PrevOffset);
    page.next = view.u32(NextOffset);
    page.tail = view.u32(TailOffset);
    page.unknown = view.u8(UnknownOffset);
    page.prefixLength = view.u16(PrefixOffset);
    return page;
}

void forEachIndexEntry(const PageData& data, std::uint32_t number,
                       const std::function<void(std::span<const std::uint8_t>)>& visit) {
    const IndexPage page = readIndexPageHeader(data, number);
    const ByteView view(*data, number, "index page");
    const std::size_t pointers = RowPointerSize + (page.leaf ? 0 : ChildPointerSize);
    std::vector<std::uint8_t> entry;
    std::size_t prefix = 0;
    bool first = true;
    std::size_t start = FirstEntryOffset;
    const auto bitmap = view.span(BitmapOffset, BitmapSize);
    for (std::size_t bit = 0; bit < BitmapSize * 8; ++bit) {
        if ((bitmap[bit / 8] >> (bit % 8) & 1) == 0)
            continue;
        const std::size_t end = FirstEntryOffset + bit;
        if (end > PageFile::PageSize)
            view.fail("an entry ends at " + std::to_string(end) + ", past the page");
        if (end <= start)
            view.fail("an entry ends at " + std::to_string(end) + " before it starts");
        const auto stored = view.span(start, end - start);
        if (first) {
            if (page.prefixLength > stored.size())
                view.fail("shared prefix of " + std::to_string(page.prefixLength) +
                          " bytes is longer than the first entry");
            prefix = page.prefixLength;
            entry.assign(stored.begin(), stored.end());
            first = false;
        } else {
            // The first entry's prefix stays at the front of the buffer.
            entry.resize(prefix);
            entry.insert(entry.end(), stored.begin(), stored.end());
        }
        if (entry.size() < pointers)
            view.fail("entry at " + std::to_string(start) + " is too short for its pointers");
        visit(entry);
        start = end;
    }
}

IndexPage readIndexPage(const PageFile& file, std::uint32_t number) {
    const PageData data = file.page(number);
    IndexPage page = readIndexPageHeader(data, number);
    const std::size_t pointers = RowPointerSize + (page.leaf ? 0 : ChildPointerSize);
    forEachIndexEntry(data, number, [&](std::span<const std::uint8_t> full) {
        const ByteView entryView(full, number, "index entry");
        const std::size_t keySize = full.size() - pointers;
        IndexEntry entry;
        entry.row = {entryView.be24(keySize), entryView.u8(keySize + 3)};
        if (!page.leaf)
            entry.child = entryView.be32(keySize + RowPointerSize);
        entry.key.assign(reinterpret_cast<const char*>(full.data()), keySize);
        page.entries.push_back(std::move(entry));
    });
    return page;
}

} // namespace engine::jet4
