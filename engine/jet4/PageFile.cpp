#include "engine/jet4/PageFile.h"

#include "engine/jet4/FormatError.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace engine::jet4 {

PageFile::PageFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + path);
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        throw std::system_error(error, std::generic_category(), "cannot examine " + path);
    }
    fileSize_ = static_cast<std::uint64_t>(info.st_size);
    // Page numbers are 32-bit on disk (24-bit in row pointers), so a larger count cannot occur
    // in a real file; clamp rather than wrap.
    const std::uint64_t pages = fileSize_ / PageSize;
    pageCount_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(pages, std::numeric_limits<std::uint32_t>::max() - 1));
}

PageFile::~PageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

PageData PageFile::page(std::uint32_t number) const {
    std::lock_guard lock(mutex_);
    if (const auto found = cached_.find(number); found != cached_.end()) {
        recent_.splice(recent_.begin(), recent_, found->second);
        return found->second->second;
    }
    PageData data = load(number);
    recent_.emplace_front(number, data);
    cached_[number] = recent_.begin();
    if (recent_.size() > CachedPages) {
        cached_.erase(recent_.back().first);
        recent_.pop_back();
    }
    return data;
}

PageData PageFile::load(std::uint32_t number) const {
    if (number >= pageCount_)
        throw FormatError(number, "page is past the end of the file (" +
                                      std::to_string(pageCount_) + " pages)");
    auto data = std::make_shared<std::array<std::uint8_t, PageSize>>();
    std::size_t done = 0;
    const auto start = static_cast<off_t>(std::uint64_t{number} * PageSize);
    while (done < PageSize) {
        const ssize_t got =
            ::pread(fd_, data->data() + done, PageSize - done, start + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "cannot read " + path_);
        }
        if (got == 0)
            throw FormatError(number, "the file ends inside the page");
        done += static_cast<std::size_t>(got);
    }
    return data;
}

} // namespace engine::jet4
