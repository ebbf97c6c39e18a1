#pragma once
// File names as the program holds them (std::string) and as the operator reads them. A Linux name
// is bytes and need not be UTF-8: databases copied from Windows archives or old shares often carry
// names in Windows-1251 or CP866 bytes. These turn any name into text the operator can read and
// edit, and that text back into exactly the same bytes. A Windows name is UTF-16, held as UTF-8:
// it is always text, and its backslashes are separators, so there it is shown as it is.

#include <filesystem>
#include <string>

namespace platform {

// The name `bytes` as shown in a path field: well-formed UTF-8 as it is; every other byte, every
// control character, and a backslash that would read as an escape written as \xHH (capital hex
// digits), UTF-8. fileNameBytes(displayFileName(b)) == b for any bytes b. On Windows: `bytes`.
std::string displayFileName(const std::string& bytes);

// The bytes a path field's text names: each \xHH (two hex digits, either case) is the byte HH,
// everything else is the text's own UTF-8. A typed or pasted path is therefore taken as it reads.
// On Windows: `text`.
std::string fileNameBytes(const std::string& text);

// Text for a message box: well-formed UTF-8 as it is, any other byte as \xHH, so that a path in
// another encoding stays readable inside a message instead of turning into replacement marks.
std::string readableText(const std::string& bytes);

// The file system's path for a name held as above, and back: bytes as they are on Linux, UTF-8
// to and from UTF-16 on Windows.
std::filesystem::path fileSystemPath(const std::string& name);
std::string heldName(const std::filesystem::path& path);

} // namespace platform
