#pragma once
// The pages an inner transaction level must put back if it is rolled back, kept on disk so memory
// stays the same however many pages a level changes. A file in the database's folder that the
// system removes when it is closed, whatever ends the process (sys::openSpill). The index builder
// keeps its sorted runs and its finished leaves in one the same way.

#include "engine/jet4/file/SystemFiles.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace engine::jet4 {

class SpillFile {
public:
    using Page = std::array<std::uint8_t, 4096>;

    // Creates the file beside the database at `target`; std::system_error when it cannot.
    explicit SpillFile(const std::string& target);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Stores `page` at the end and returns where; std::system_error on failure (ENOSPC...).
    std::uint64_t put(const Page& page);
    // The page stored at `offset`; std::system_error on failure.
    void get(std::uint64_t offset, Page& page) const;
    // Stores `bytes` at the end (any length, not only whole pages) and returns where;
    // std::system_error on failure.
    std::uint64_t append(std::span<const std::uint8_t> bytes);
    // The bytes stored at `offset`, as many as `to` holds; std::system_error on failure.
    void read(std::uint64_t offset, std::span<std::uint8_t> to) const;
    // Where the next put() goes; rewind() to an earlier end lets it reuse the space after it.
    std::uint64_t end() const { return end_; }
    void rewind(std::uint64_t end) { end_ = end; }

private:
    std::string path_;
    sys::NativeFile file_ = sys::NoFile;
    std::uint64_t end_ = 0;
};

} // namespace engine::jet4
