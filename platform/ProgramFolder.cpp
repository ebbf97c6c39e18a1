#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace platform {

std::string programFolder() {
    // The kernel's link to the executable gives the folder's exact bytes, whatever their
    // encoding; Qt's answer is text, which cannot hold a name that is not UTF-8.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return exe.parent_path().string() + "/";
    if (QCoreApplication::instance())
        return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + "/";
    return "./";
}

} // namespace platform
