#pragma once
// File names are bytes. A Linux name need not be UTF-8: databases copied from Windows archives
// or old shares often carry names in Windows-1251 or CP866 bytes. These turn any name into text
// the operator can read and edit, and that text back into exactly the same bytes.

#include <QString>

#include <string>

namespace platform {

// The name `bytes` as shown in a path field: well-formed UTF-8 as it is; every other byte, every
// control character, and a backslash that would read as an escape written as \xHH (capital hex
// digits). fileNameBytes(displayFileName(b)) == b for any bytes b.
QString displayFileName(const std::string& bytes);

// The bytes a path field's text names: each \xHH (two hex digits, either case) is the byte HH,
// everything else is the text's own UTF-8. A typed or pasted path is therefore taken as it reads.
std::string fileNameBytes(const QString& text);

// Text for a message box: well-formed UTF-8 as it is, any other byte as \xHH, so that a path in
// another encoding stays readable inside a message instead of turning into replacement marks.
QString readableText(const std::string& bytes);

} // namespace platform
