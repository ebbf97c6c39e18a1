#include "engine/jet4/file/SpillFile.h"

#include "engine/jet4/file/DiskOperations.h"

namespace engine::jet4 {

SpillFile::SpillFile(const std::string& target) {
    path_ = "a spill file in " + sys::folderOf(target);
    int error = disk::step("create");
    if (error == 0)
        error = sys::openSpill(target, file_, path_);
    if (error != 0)
        disk::fail(error, "create", path_);
}

SpillFile::~SpillFile() {
    sys::close(file_);
}

std::uint64_t SpillFile::put(const Page& page) {
    disk::writeAt(file_, page.data(), page.size(), end_, "spill", path_);
    const std::uint64_t at = end_;
    end_ += page.size();
    return at;
}

std::uint64_t SpillFile::append(std::span<const std::uint8_t> bytes) {
    disk::writeAt(file_, bytes.data(), bytes.size(), end_, "spill", path_);
    const std::uint64_t at = end_;
    end_ += bytes.size();
    return at;
}

void SpillFile::read(std::uint64_t offset, std::span<std::uint8_t> to) const {
    disk::readAt(file_, to.data(), to.size(), offset, path_);
}

void SpillFile::get(std::uint64_t offset, Page& page) const {
    disk::readAt(file_, page.data(), page.size(), offset, path_);
}

} // namespace engine::jet4
