#include "engine/jet4/IndexPage.h"

#include "engine/jet4/Bytes.h"

namespace engine::jet4 {

namespace {

using namespace indexpage;

} // namespace

IndexPage readIndexPage(const PageFile& file, std::uint32_t number) {
    const PageData data = file.page(number);
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
    const std::uint16_t prefixLength = view.u16(PrefixOffset);
    page.prefixLength = prefixLength;
    const std::size_t pointers = RowPointerSize + (page.leaf ? 0 : ChildPointerSize);

    std::string prefix;
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
        std::string full;
        if (page.entries.empty()) {
            full.assign(stored.begin(), stored.end());
            if (prefixLength > full.size())
                view.fail("shared prefix of " + std::to_string(prefixLength) +
                          " bytes is longer than the first entry");
            prefix = full.substr(0, prefixLength);
        } else {
            full = prefix;
            full.append(stored.begin(), stored.end());
        }
        if (full.size() < pointers)
            view.fail("entry at " + std::to_string(start) + " is too short for its pointers");
        const ByteView entryView({reinterpret_cast<const std::uint8_t*>(full.data()), full.size()},
                                 number, "index entry");
        const std::size_t keySize = full.size() - pointers;
        IndexEntry entry;
        entry.row = {entryView.be24(keySize), entryView.u8(keySize + 3)};
        if (!page.leaf)
            entry.child = entryView.be32(keySize + RowPointerSize);
        full.resize(keySize);
        entry.key = std::move(full);
        page.entries.push_back(std::move(entry));
        start = end;
    }
    return page;
}

} // namespace engine::jet4
