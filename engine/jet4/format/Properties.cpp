#include "engine/jet4/format/Properties.h"

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/Value.h"

#include <algorithm>
#include <cstring>

namespace engine::jet4 {

namespace {

using namespace properties;

std::string readName(const ByteView& view, std::size_t& pos) {
    const std::uint16_t length = view.u16(pos);
    const std::string name = utf8FromUtf16(utf16FromBytes(view.span(pos + 2, length), view.page()));
    pos += 2 + std::size_t{length};
    return name;
}

std::pair<std::string, std::vector<Property>> readValues(const ByteView& chunk,
                                                         const std::vector<std::string>& names) {
    std::pair<std::string, std::vector<Property>> map;
    const std::uint32_t blockLength = chunk.u32(0);
    if (blockLength < 4 || blockLength > chunk.size())
        chunk.fail("name block length " + std::to_string(blockLength) + " does not fit");
    if (blockLength > NameBlockHeaderSize) {
        std::size_t pos = 4;
        map.first = readName(chunk.sub(0, blockLength, "property name block"), pos);
    }
    for (std::size_t pos = blockLength; pos < chunk.size();) {
        const std::uint16_t length = chunk.u16(pos);
        if (length < ValueHeaderSize)
            chunk.fail("value length " + std::to_string(length) + " is too short");
        const ByteView value = chunk.sub(pos, length, "property value");
        const std::uint16_t nameIndex = value.u16(ValueNameIndexOffset);
        if (nameIndex >= names.size())
            value.fail("name index " + std::to_string(nameIndex) + " of " +
                       std::to_string(names.size()) + " names");
        const auto bytes = value.span(ValueHeaderSize, value.u16(ValueLengthOffset));
        map.second.push_back({names[nameIndex], value.u8(ValueTypeOffset),
                              std::string(bytes.begin(), bytes.end()), value.u8(ValueDdlOffset)});
        pos += length;
    }
    return map;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

} // namespace

PropertyMaps readProperties(std::span<const std::uint8_t> blob) {
    const ByteView view(blob, FormatError::NoPage, "property blob");
    if (std::memcmp(view.span(0, sizeof Signature).data(), Signature, sizeof Signature) != 0)
        view.fail("it does not start with MR2");

    PropertyMaps maps;
    std::vector<std::string> names;
    for (std::size_t pos = sizeof Signature; pos < view.size();) {
        const std::uint32_t length = view.u32(pos);
        if (length < ChunkHeaderSize || length > view.size() - pos)
            view.fail("chunk at " + std::to_string(pos) + " has length " + std::to_string(length));
        const std::uint16_t kind = view.u16(pos + 4);
        const ByteView chunk =
            view.sub(pos + ChunkHeaderSize, length - ChunkHeaderSize, "property chunk");
        if (kind == NamesChunk) {
            for (std::size_t at = 0; at < chunk.size();)
                names.push_back(readName(chunk, at));
        } else if (kind == TableChunk) {
            maps.table = readValues(chunk, names).second;
            maps.tableChunkPosition = maps.columns.size();
        } else if (kind == ColumnChunk) {
            maps.columns.push_back(readValues(chunk, names));
        }
        pos += length;
    }
    maps.names = std::move(names);
    return maps;
}

std::optional<bool> boolProperty(const std::vector<Property>& properties, std::string_view name) {
    for (const Property& p : properties)
        if (equalsIgnoringCase(p.name, name)) {
            if (p.type != static_cast<std::uint8_t>(ColumnType::Boolean) || p.value.empty())
                return std::nullopt;
            return p.value[0] != 0;
        }
    return std::nullopt;
}

} // namespace engine::jet4
