#include "platform/FileNames.h"

#include "automation/Utf8.h"

namespace platform {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// True when `text` holds \xHH at `at`.
bool escapeAt(std::string_view text, std::size_t at) {
    return at + 3 < text.size() && text[at] == '\\' && text[at + 1] == 'x' &&
           hexValue(text[at + 2]) >= 0 && hexValue(text[at + 3]) >= 0;
}

void appendEscape(std::string& out, unsigned char byte) {
    out += "\\x";
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 0x0F];
}

// Well-formed UTF-8 kept, other bytes escaped; with `forFileName`, control characters and
// backslashes that start an escape as well.
std::string readable(const std::string& bytes, bool forFileName) {
    std::string out;
    out.reserve(bytes.size());
    const std::string_view text(bytes);
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        char32_t c = 0;
        const std::size_t length = automation::decodeUtf8(text.substr(at), c);
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
        if (length == 0 || (forFileName && (control || escapeAt(text, at)))) {
            appendEscape(out, byte);
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

} // namespace

std::string displayFileName(const std::string& bytes) {
#ifdef _WIN32
    return bytes;
#else
    return readable(bytes, true);
#endif
}

std::string readableText(const std::string& bytes) {
    return readable(bytes, false);
}

std::string fileNameBytes(const std::string& text) {
#ifdef _WIN32
    return text;
#else
    const std::string_view in(text);
    std::string out;
    out.reserve(in.size());
    for (std::size_t at = 0; at < in.size();) {
        if (escapeAt(in, at)) {
            out += static_cast<char>(hexValue(in[at + 2]) * 16 + hexValue(in[at + 3]));
            at += 4;
        } else {
            out += in[at++];
        }
    }
    return out;
#endif
}

std::filesystem::path fileSystemPath(const std::string& name) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
    return std::filesystem::path(name);
#endif
}

std::string heldName(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
#else
    return path.string();
#endif
}

} // namespace platform
