#include "engine/jet4/file/DiskOperations.h"

#include <cerrno>
#include <system_error>

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

void disk::writeAt(sys::NativeFile file, const std::uint8_t* data, std::size_t size,
                   std::uint64_t offset, std::string_view operation, const std::string& path) {
    int error = step(operation);
    if (error == 0)
        error = sys::writeAt(file, data, size, offset);
    if (error != 0)
        fail(error, operation, path);
}

void disk::readAt(sys::NativeFile file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                  const std::string& path) {
    std::size_t got = 0;
    if (const int error = sys::readAt(file, data, size, offset, got))
        fail(error, "read", path);
    if (got < size)
        fail(EIO, "read (the file ends early)", path);
}

} // namespace engine::jet4
