#include "engine/jet4/DiskOperations.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace engine::jet4 {

namespace {
DiskHook installed;
long serial = 0;
} // namespace

void setDiskHook(DiskHook hook) {
    installed = std::move(hook);
    serial = 0;
}

int disk::step(std::string_view operation) {
    if (!installed)
        return 0;
    return installed(operation, ++serial);
}

void disk::fail(int error, std::string_view operation, const std::string& path) {
    throw std::system_error(error, std::generic_category(),
                            std::string(operation) + " failed on " + path);
}

void disk::writeAt(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
                   std::string_view operation, const std::string& path) {
    if (const int error = step(operation))
        fail(error, operation, path);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            fail(errno, operation, path);
        if (put == 0)
            fail(ENOSPC, operation, path);
        done += static_cast<std::size_t>(put);
    }
}

void disk::readAt(int fd, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                  const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(errno, "read", path);
        if (got == 0)
            fail(EIO, "read (the file ends early)", path);
        done += static_cast<std::size_t>(got);
    }
}

} // namespace engine::jet4
