#include "platform/ProgramFolder.h"

#include <QCoreApplication>

#include <filesystem>
#include <system_error>

namespace platform {

std::string programFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath().toStdString() + "/";
    // Before the application object exists Qt cannot answer; the kernel's link to the executable
    // can.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return exe.parent_path().string() + "/";
}

} // namespace platform
