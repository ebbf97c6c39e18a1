#pragma once
// An Access 2000-2003 file as a sequence of 4096-byte pages, read on demand with pread from a
// descriptor opened read-only. A small cache keeps the most recently used pages, so memory stays
// the same whatever the size of the file. The file is never written.

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace engine::jet4 {

using PageData = std::shared_ptr<const std::array<std::uint8_t, 4096>>;

class PageFile {
public:
    static constexpr std::size_t PageSize = 4096;
    // How many pages stay in memory; a page handed out stays valid while its PageData is held.
    static constexpr std::size_t CachedPages = 64;

    // Opens `path` read-only; std::system_error when it cannot be opened or examined.
    explicit PageFile(const std::string& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t fileSize() const { return fileSize_; }
    // Whole pages in the file; a partial page at the end does not count.
    std::uint32_t pageCount() const { return pageCount_; }

    // The bytes of page `number`; FormatError for a page at or past the end or a short read,
    // std::system_error for an I/O failure. Safe to call from several threads.
    PageData page(std::uint32_t number) const;

private:
    PageData load(std::uint32_t number) const;

    std::string path_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint32_t pageCount_ = 0;

    mutable std::mutex mutex_;
    mutable std::list<std::pair<std::uint32_t, PageData>> recent_; // most recent first
    mutable std::unordered_map<std::uint32_t, decltype(recent_)::iterator> cached_;
};

} // namespace engine::jet4
