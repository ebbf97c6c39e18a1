#include "engine/jet4/SpillFile.h"

#include "engine/jet4/DiskOperations.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace engine::jet4 {

SpillFile::SpillFile(const std::string& target) {
    const std::filesystem::path database(target);
    const std::string folder = database.parent_path().string();
    path_ = "a spill file in " + folder;
    if (const int error = disk::step("create"))
        disk::fail(error, "create", path_);
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        disk::fail(errno, "create", path_);
    // Without O_TMPFILE a name exists between the open and the unlink; a crash in that instant
    // leaves it, named so the next writer removes it.
    std::string name = ".";
    name += database.filename().string();
    name += ".patch16-undo";
    const std::string named = (database.parent_path() / name).string();
    fd_ = ::open(named.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        disk::fail(errno, "create", named);
    ::unlink(named.c_str());
}

SpillFile::~SpillFile() {
    ::close(fd_);
}

std::uint64_t SpillFile::put(const Page& page) {
    disk::writeAt(fd_, page.data(), page.size(), end_, "spill", path_);
    const std::uint64_t at = end_;
    end_ += page.size();
    return at;
}

std::uint64_t SpillFile::append(std::span<const std::uint8_t> bytes) {
    disk::writeAt(fd_, bytes.data(), bytes.size(), end_, "spill", path_);
    const std::uint64_t at = end_;
    end_ += bytes.size();
    return at;
}

void SpillFile::read(std::uint64_t offset, std::span<std::uint8_t> to) const {
    disk::readAt(fd_, to.data(), to.size(), offset, path_);
}

void SpillFile::get(std::uint64_t offset, Page& page) const {
    disk::readAt(fd_, page.data(), page.size(), offset, path_);
}

} // namespace engine::jet4
