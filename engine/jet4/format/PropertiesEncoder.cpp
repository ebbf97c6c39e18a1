#include "engine/jet4/format/PropertiesEncoder.h"

#include "engine/jet4/format/EncoderBytes.h"

#include <algorithm>
#include <stdexcept>

namespace engine::jet4 {

using namespace properties;

namespace {

// UTF-16 for UTF-8 text the reader produced.
std::u16string utf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char32_t code;
        std::size_t length;
        if (c < 0x80) {
            code = c;
            length = 1;
        } else if (c < 0xE0) {
            code = c & 0x1F;
            length = 2;
        } else if (c < 0xF0) {
            code = c & 0x0F;
            length = 3;
        } else {
            code = c & 0x07;
            length = 4;
        }
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

void chunk(ByteAppender& out, std::uint16_t kind, const std::string& content) {
    out.u32(static_cast<std::uint32_t>(ChunkHeaderSize + content.size()));
    out.u16(kind);
    out.append(content);
}

std::string values(std::string_view name, const std::vector<Property>& properties,
                   const std::vector<std::string>& names) {
    ByteAppender out;
    const std::u16string wide = utf16(name);
    out.u32(static_cast<std::uint32_t>(NameBlockHeaderSize + 2 * wide.size()));
    out.name(wide);
    for (const Property& p : properties) {
        const auto at = std::find(names.begin(), names.end(), p.name);
        if (at == names.end())
            throw std::invalid_argument("property " + p.name + " is not in the name list");
        out.u16(static_cast<std::uint16_t>(ValueHeaderSize + p.value.size()));
        out.u8(p.ddl);
        out.u8(p.type);
        out.u16(static_cast<std::uint16_t>(at - names.begin()));
        out.u16(static_cast<std::uint16_t>(p.value.size()));
        out.append(p.value);
    }
    return out.bytes();
}

} // namespace

std::string encodeProperties(const PropertyMaps& maps) {
    std::vector<std::string> names = maps.names;
    if (names.empty()) {
        const auto add = [&](const std::vector<Property>& properties) {
            for (const Property& p : properties)
                if (std::find(names.begin(), names.end(), p.name) == names.end())
                    names.push_back(p.name);
        };
        add(maps.table);
        for (const auto& column : maps.columns)
            add(column.second);
    }
    ByteAppender out;
    out.append(std::string_view(Signature, sizeof Signature));
    ByteAppender list;
    for (const std::string& name : names)
        list.name(utf16(name));
    chunk(out, NamesChunk, list.bytes());
    // The table's chunk goes where it was read, else first when there are table values.
    const std::size_t tableAt =
        maps.tableChunkPosition.value_or(maps.table.empty() ? maps.columns.size() + 1 : 0);
    for (std::size_t i = 0; i <= maps.columns.size(); ++i) {
        if (i == tableAt)
            chunk(out, TableChunk, values("", maps.table, names));
        if (i < maps.columns.size())
            chunk(out, ColumnChunk, values(maps.columns[i].first, maps.columns[i].second, names));
    }
    return out.bytes();
}

} // namespace engine::jet4
