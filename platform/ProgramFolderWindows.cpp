#if defined(_WIN32)
#include "platform/ProgramFolder.h"

#include "engine/jet4/file/SystemFiles.h"

#include <windows.h>

namespace platform {

std::string programFolder() {
    // The executable's full name, in a buffer grown until it fits (a path may be far longer
    // than MAX_PATH).
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0)
            return ".\\";
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        name.resize(name.size() * 2);
    }
    return engine::jet4::sys::narrow(name.substr(0, name.find_last_of(L"\\/") + 1));
}

} // namespace platform

#endif
