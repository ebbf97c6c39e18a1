#include "engine/FileProbe.h"

#include "engine/EngineErrors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

std::vector<unsigned char> probeDatabaseFile(const std::string& path, std::size_t count) {
    const std::string name = quoted(path);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        if (path.empty() || errno == ENOENT || errno == ENOTDIR)
            raise(errors::FileNotFound, "Не удается найти файл " + name + ".");
        raise(errors::CannotOpenFile,
              "Не удается открыть файл " + name + ": " + std::strerror(errno) + ".");
    }
    if (!S_ISREG(info.st_mode))
        raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + name + ".");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        raise(errors::CannotOpenFile,
              "Не удается открыть файл " + name + ": " + std::strerror(errno) + ".");
    std::vector<unsigned char> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::read(fd, bytes.data() + got, count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            raise(errors::CannotOpenFile,
                  "Не удается открыть файл " + name + ": " + std::strerror(error) + ".");
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

} // namespace engine
