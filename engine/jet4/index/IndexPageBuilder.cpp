#include "engine/jet4/index/IndexPageBuilder.h"

#include "engine/jet4/format/EncoderBytes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace engine::jet4 {

using namespace indexpage;

namespace {

constexpr std::size_t PageFlagOffset = 1;
constexpr std::uint8_t PageFlag = 0x01;
constexpr std::size_t EntryArea = PageFile::PageSize - FirstEntryOffset;

std::size_t commonPrefix(const std::string& a, const std::string& b) {
    const auto [end, unused] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return static_cast<std::size_t>(end - a.begin());
}

// Bytes the entries take on a page: the first in full, the others without the shared prefix.
std::size_t storedSize(const std::vector<std::string>& entries, std::size_t prefix) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < entries.size(); ++i)
        size += entries[i].size() - (i == 0 ? 0 : prefix);
    return size;
}

} // namespace

std::string indexEntryBytes(const IndexEntry& entry, bool leaf) {
    std::string out = entry.key;
    const std::size_t at = out.size();
    out.resize(at + RowPointerSize + (leaf ? 0 : ChildPointerSize));
    const auto bytes = writable(out);
    putBe24(bytes, at, entry.row.page);
    putU8(bytes, at + 3, entry.row.row);
    if (!leaf)
        putBe32(bytes, at + RowPointerSize, entry.child);
    return out;
}

std::size_t sharedPrefixLength(std::span<const IndexEntry> entries, bool leaf) {
    if (entries.size() < 2)
        return 0;
    const std::string first = indexEntryBytes(entries.front(), leaf);
    std::size_t prefix = first.size();
    for (const IndexEntry& entry : entries.subspan(1))
        prefix = std::min(prefix, commonPrefix(first, indexEntryBytes(entry, leaf)));
    return prefix;
}

std::size_t indexEntriesThatFit(std::span<const IndexEntry> entries, bool leaf) {
    // Entries are in key order, so the prefix all of them share is the one the first and the
    // last share; adding an entry can only shorten it.
    std::vector<std::string> taken;
    std::size_t prefix = 0;
    for (const IndexEntry& entry : entries) {
        taken.push_back(indexEntryBytes(entry, leaf));
        prefix = taken.size() == 1 ? taken[0].size()
                                   : std::min(prefix, commonPrefix(taken[0], taken.back()));
        if (storedSize(taken, taken.size() == 1 ? 0 : prefix) > EntryArea)
            return taken.size() - 1;
    }
    return taken.size();
}

PageImage buildIndexPage(const IndexPage& page, std::span<const IndexEntry> entries) {
    std::string packed;
    std::vector<std::size_t> ends;
    ends.reserve(entries.size());
    for (const IndexEntry& entry : entries) {
        packed += indexEntryBytes(entry, page.leaf);
        ends.push_back(packed.size());
    }
    return buildIndexPage(page, packed, ends);
}

PageImage buildIndexPage(const IndexPage& page, std::string_view packed,
                         std::span<const std::size_t> ends) {
    const std::size_t prefix = page.prefixLength;
    // Every entry must start with the first one's `prefix` bytes (a lone entry shares none).
    if (prefix > 0) {
        bool shared = ends.size() >= 2 && ends[0] >= prefix;
        for (std::size_t i = 1; shared && i < ends.size(); ++i)
            shared = ends[i] - ends[i - 1] >= prefix &&
                     packed.compare(ends[i - 1], prefix, packed, 0, prefix) == 0;
        if (!shared)
            throw std::invalid_argument("index entries do not share a prefix of " +
                                        std::to_string(prefix) + " bytes");
    }
    const std::size_t size = ends.empty() ? 0 : ends.back() - (ends.size() - 1) * prefix;
    if (size > EntryArea)
        throw std::invalid_argument(std::to_string(ends.size()) +
                                    " index entries do not fit one page");

    PageImage image{};
    putU8(image, TypeOffset, page.leaf ? IndexLeafPageType : IndexNodePageType);
    putU8(image, PageFlagOffset, PageFlag);
    putU32(image, OwnerOffset, page.owner);
    putU32(image, PrevOffset, page.prev);
    putU32(image, NextOffset, page.next);
    putU32(image, TailOffset, page.tail);
    putU16(image, PrefixOffset, static_cast<std::uint16_t>(prefix));
    putU8(image, UnknownOffset, page.unknown);
    std::size_t end = FirstEntryOffset;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const std::size_t skip = i == 0 ? 0 : prefix;
        const std::size_t length = ends[i] - begin - skip;
        std::memcpy(image.data() + end, packed.data() + begin + skip, length);
        end += length;
        begin = ends[i];
        const std::size_t bit = end - FirstEntryOffset;
        image[BitmapOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    putU16(image, FreeSpaceOffset, static_cast<std::uint16_t>(PageFile::PageSize - end));
    return image;
}

} // namespace engine::jet4
