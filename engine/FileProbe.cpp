#include "engine/FileProbe.h"

#include "engine/EngineErrors.h"
#include "engine/jet4/file/SystemFiles.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace engine {

namespace sys = jet4::sys;

std::vector<unsigned char> probeDatabaseFile(const std::string& path, std::size_t count) {
    const std::string name = quoted(path);
    const auto cannotOpen = [&](int error) {
        raise(errors::CannotOpenFile, "Не удается открыть файл " + name + ": " +
                                          std::generic_category().message(error) + ".");
    };
    bool regular = false;
    const int error = path.empty() ? ENOENT : sys::isRegularFile(path, regular);
    if (error == ENOENT || error == ENOTDIR)
        raise(errors::FileNotFound, "Не удается найти файл " + name + ".");
    if (error != 0)
        cannotOpen(error);
    if (!regular)
        raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + name + ".");
    sys::NativeFile file = sys::NoFile;
    if (const int openError = sys::openForReading(path, file))
        cannotOpen(openError);
    std::vector<unsigned char> bytes(count);
    std::size_t got = 0;
    const int readError = sys::readAt(file, bytes.data(), count, 0, got);
    sys::close(file);
    if (readError != 0)
        cannotOpen(readError);
    bytes.resize(got);
    return bytes;
}

bool startsLikeSqlite(std::span<const unsigned char> header) {
    static constexpr char magic[] = "SQLite format 3"; // with its terminating zero: 16 bytes
    return header.size() >= sizeof magic && std::memcmp(header.data(), magic, sizeof magic) == 0;
}

} // namespace engine
