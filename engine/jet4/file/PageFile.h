#pragma once
// An Access 2000-2003 file as a sequence of 4096-byte pages, read on demand at their offsets. A
// small cache keeps the most recently used pages, so memory stays the same whatever the size of the
// file.
//
// Pages are changed only inside transaction levels, and nothing reaches the database before the
// outermost level commits. The first change of the outermost level makes a copy of the database
// beside it (AtomicFile.h); every change is written into that copy, and the commit renames the
// copy over the database in one step. Changed pages wait in memory (at most DirtyPages of them)
// and go into the copy together, in page order, when there are that many or the outermost level
// commits, so a page changed many times in a row costs one write. An inner level keeps the pages
// it must put back on rollback in a spill file (SpillFile.h), with only a map from page to place
// in memory. While a level is open this file holds the writer's lock (FileLock.h), so no other
// writer of ours can begin.

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/jet4/file/AtomicFile.h"

namespace engine::jet4 {

using PageData = std::shared_ptr<const std::array<std::uint8_t, 4096>>;

class PageFile {
public:
    static constexpr std::size_t PageSize = 4096;
    // How many pages stay in memory; a page handed out stays valid while its PageData is held.
    static constexpr std::size_t CachedPages = 64;
    // How many changed pages wait in memory before they are written into the copy.
    static constexpr std::size_t DirtyPages = 256;
    // How deep transaction levels nest.
    static constexpr int MaxLevels = 5;

    // Opens `path` read-only; std::system_error when it cannot be opened or examined.
    explicit PageFile(const std::string& path);
    // Ends any open level as a rollback would: the database keeps its bytes.
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t fileSize() const { return fileSize_; }
    // Whole pages the current level sees; a partial page at the end does not count.
    std::uint32_t pageCount() const { return pageCount_; }

    // The bytes of page `number` as the current level sees them; FormatError for a page at or past
    // the end or a short read, std::system_error for an I/O failure. Safe to call from several
    // threads; the calls below are made from one thread while no other call runs.
    PageData page(std::uint32_t number) const;

    // Open transaction levels, 0 to MaxLevels.
    int levels() const;
    // Opens a level inside those open. The outermost one first checks that the file may be
    // written: FormatError when it does not end on a page boundary, std::system_error (EACCES,
    // EROFS...) when it or its folder is not writable, InUseError when Access (a live lock file, a
    // byte-range lock on the database) or another writer of ours holds it, FileChangedError when
    // the file is no longer the one opened. It then holds the writer's lock until it ends and
    // removes what a crashed writer left beside the file. std::logic_error past MaxLevels.
    void beginLevel();
    // Ends the innermost level keeping its changes: an inner one folds them into the level around
    // it; the outermost one puts them all in the file at once (the file is then either exactly as
    // before, when this raises, or the whole new content) and releases the lock. Raises, ending
    // the level with nothing written: std::system_error for a failed disk operation (ENOSPC, EIO,
    // EFBIG...), now or during the level; FileChangedError or InUseError when the file was replaced
    // or changed, or Access opened it, since the level began. std::logic_error with no level open.
    void commitLevel();
    // Ends the innermost level undoing exactly its changes; the outermost one leaves the file as
    // it was and releases the lock. Raises only std::logic_error with no level open: a disk
    // failure while restoring pages abandons the whole transaction instead (see write()).
    void rollbackLevel();

    // Replaces page `number` (< pageCount()) / adds a page at the end and returns its number.
    // std::logic_error outside a level, std::out_of_range for a page past the end. A failed disk
    // operation (here, or in a later write, append or commit that puts the waiting pages in the
    // copy) raises std::system_error and abandons the transaction: every level's changes are
    // dropped (reads see the file again), and until the outermost level ends, further changes and
    // every commitLevel() raise that same error while rollbackLevel() ends levels quietly.
    void write(std::uint32_t number, const std::array<std::uint8_t, PageSize>& bytes);
    std::uint32_t append(const std::array<std::uint8_t, PageSize>& bytes);

private:
    struct Writing;

    PageData load(std::uint32_t number) const;
    void remember(std::uint32_t number, PageData data) const;
    void forgetCachedPages() const;
    void startWriting();
    void prepareChange(std::uint32_t number);
    // Keeps `bytes` as page `number`'s new content (its before-image saved first where a level
    // needs it), writing the waiting pages into the copy when there are too many; a failure
    // abandons the transaction and is raised.
    void change(std::uint32_t number, const std::array<std::uint8_t, PageSize>& bytes);
    // Writes every waiting page into the copy, in page order; raises what the disk raises.
    void flushChanges();
    void abandon();
    void endWriting();

    std::string path_;
    sys::NativeFile file_ = sys::NoFile;
    std::uint64_t fileSize_ = 0;
    std::uint32_t pageCount_ = 0;
    FileIdentity identity_; // of the file as opened (or as last committed)
    std::unique_ptr<Writing> writing_;

    mutable std::mutex mutex_;
    mutable std::list<std::pair<std::uint32_t, PageData>> recent_; // most recent first
    mutable std::unordered_map<std::uint32_t, decltype(recent_)::iterator> cached_;
    // Changed pages not yet in the copy (read before the cache and the copy).
    std::unordered_map<std::uint32_t, PageData> dirty_;
};

} // namespace engine::jet4
