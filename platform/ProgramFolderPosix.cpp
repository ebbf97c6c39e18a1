#if !defined(_WIN32)
#include "platform/ProgramFolder.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string programFolder() {
    // The kernel's link to the executable gives the folder's exact bytes, whatever their
    // encoding.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return exe.parent_path().string() + "/";
    return "./";
}

} // namespace platform

#endif
