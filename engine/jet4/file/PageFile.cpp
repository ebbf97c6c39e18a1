#include "engine/jet4/file/PageFile.h"

#include "engine/jet4/file/DiskOperations.h"
#include "engine/jet4/file/FileLock.h"
#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/file/SpillFile.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace engine::jet4 {

// The state of an open outermost level and the levels inside it.
struct PageFile::Writing {
    struct Level {
        std::uint32_t pageCount = 0; // pages when the level began; later ones it added itself
        std::uint64_t spillEnd = 0;  // where its before-images begin in the spill file
        // Each page it changed that existed when it began -> that page's bytes then, in the spill
        // file. The outermost level keeps none: its rollback drops the whole copy.
        std::unordered_map<std::uint32_t, std::uint64_t> saved;
    };

    std::string target; // the database's real path (symbolic links followed)
    std::uint32_t originalPageCount = 0;
    std::uint64_t originalSize = 0;
    std::unique_ptr<ReplacementCopy> copy; // from the first change on
    std::unique_ptr<SpillFile> spill;      // from the first change inside an inner level on
    std::vector<Level> levels;
    std::exception_ptr failure; // the disk failure that abandoned the transaction
};

PageFile::PageFile(const std::string& path) : path_(path) {
    if (const int error = sys::openForReading(path, file_))
        throw std::system_error(error, std::generic_category(), "cannot open " + path);
    if (const int error = sys::identityOf(file_, identity_)) {
        sys::close(file_);
        throw std::system_error(error, std::generic_category(), "cannot examine " + path);
    }
    fileSize_ = identity_.size;
    // Page numbers are 32-bit on disk (24-bit in row pointers), so a larger count cannot occur
    // in a real file; clamp rather than wrap.
    const std::uint64_t pages = fileSize_ / PageSize;
    pageCount_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(pages, std::numeric_limits<std::uint32_t>::max() - 1));
}

PageFile::~PageFile() {
    if (writing_) {
        abandon();
        endWriting();
    }
    sys::close(file_);
}

// ---- reading ----

PageData PageFile::page(std::uint32_t number) const {
    std::lock_guard lock(mutex_);
    if (const auto changed = dirty_.find(number); changed != dirty_.end())
        return changed->second;
    if (const auto found = cached_.find(number); found != cached_.end()) {
        recent_.splice(recent_.begin(), recent_, found->second);
        return found->second->second;
    }
    PageData data = load(number);
    remember(number, data);
    return data;
}

PageData PageFile::load(std::uint32_t number) const {
    if (number >= pageCount_)
        throw FormatError(number, "page is past the end of the file (" +
                                      std::to_string(pageCount_) + " pages)");
    // Once a level has changed something, the copy holds every page as the level sees it but
    // those waiting in dirty_, which page() returns before it gets here.
    const sys::NativeFile file = writing_ && writing_->copy ? writing_->copy->file() : file_;
    auto data = std::make_shared<std::array<std::uint8_t, PageSize>>();
    std::size_t got = 0;
    if (const int error =
            sys::readAt(file, data->data(), PageSize, std::uint64_t{number} * PageSize, got))
        throw std::system_error(error, std::generic_category(), "cannot read " + path_);
    if (got < PageSize)
        throw FormatError(number, "the file ends inside the page");
    return data;
}

void PageFile::remember(std::uint32_t number, PageData data) const {
    if (const auto found = cached_.find(number); found != cached_.end()) {
        found->second->second = std::move(data);
        recent_.splice(recent_.begin(), recent_, found->second);
        return;
    }
    recent_.emplace_front(number, std::move(data));
    cached_[number] = recent_.begin();
    if (recent_.size() > CachedPages) {
        cached_.erase(recent_.back().first);
        recent_.pop_back();
    }
}

void PageFile::forgetCachedPages() const {
    cached_.clear();
    recent_.clear();
}

// ---- levels ----

int PageFile::levels() const {
    return writing_ ? static_cast<int>(writing_->levels.size()) : 0;
}

void PageFile::beginLevel() {
    std::lock_guard lock(mutex_);
    if (levels() >= MaxLevels)
        throw std::logic_error("more than " + std::to_string(MaxLevels) +
                               " nested transaction levels");
    if (writing_) {
        writing_->levels.push_back({pageCount_, writing_->spill ? writing_->spill->end() : 0, {}});
        return;
    }
    startWriting();
}

void PageFile::startWriting() {
    if (fileSize_ % PageSize != 0)
        throw FormatError(FormatError::NoPage,
                          path_ + " does not end on a page boundary; it is not written");
    std::string target;
    if (const int error = sys::canonical(path_, target))
        throw std::system_error(error, std::generic_category(), "cannot find " + path_);
    const std::string folder = sys::folderOf(target);
    if (const int error = sys::mayWrite(target))
        throw std::system_error(error, std::generic_category(), "cannot write " + target);
    if (const int error = sys::mayWriteIn(folder))
        throw std::system_error(error, std::generic_category(), "cannot write in " + folder);
    // Access's locks are looked for before this file takes its own: on NFS the writer's lock is
    // itself a byte-range lock, which the look would then find.
    requireNotInUse(target);
    lockForWriting(file_, target);
    try {
        // Checked under the lock: pages read before may be stale if another writer committed
        // between the open and now. Leftovers are removed only then, when no other writer of
        // ours can be building a copy of this file.
        requireUnchanged(target, identity_);
        ReplacementCopy::removeLeftovers(target);
    } catch (...) {
        unlock(file_);
        throw;
    }
    writing_ = std::make_unique<Writing>();
    writing_->target = target;
    writing_->originalPageCount = pageCount_;
    writing_->originalSize = fileSize_;
    writing_->levels.push_back({pageCount_, 0, {}});
}

void PageFile::commitLevel() {
    std::lock_guard lock(mutex_);
    if (!writing_)
        throw std::logic_error("no transaction level is open to commit");
    Writing& w = *writing_;
    if (w.failure) {
        const std::exception_ptr failure = w.failure;
        w.levels.pop_back();
        if (w.levels.empty())
            endWriting();
        std::rethrow_exception(failure);
    }
    if (w.levels.size() > 1) {
        // The inner level's waiting pages are the level around's changes from now on.
        const Writing::Level inner = std::move(w.levels.back());
        w.levels.pop_back();
        if (w.levels.size() == 1) {
            // Only inner levels roll back page by page; the spill file's content is spent.
            if (w.spill)
                w.spill->rewind(0);
            return;
        }
        // The level around keeps its own before-image of a page when it has one (it is older);
        // it needs none for a page it added itself.
        Writing::Level& outer = w.levels.back();
        for (const auto& [number, at] : inner.saved)
            if (number < outer.pageCount)
                outer.saved.emplace(number, at);
        return;
    }
    if (!w.copy) {
        endWriting(); // nothing was changed: nothing to write
        return;
    }
    sys::NativeFile placed = sys::NoFile;
    try {
        flushChanges();
        placed = w.copy->replace([&] {
            requireUnchanged(w.target, identity_);
            requireNotInUse(w.target, false);
        });
    } catch (...) {
        abandon();
        endWriting();
        throw;
    }
    // The file at the path is now the copy: read it from here on, and know it as it is now.
    if (sys::identityOf(placed, identity_) != 0)
        identity_ = FileIdentity{};
    const sys::NativeFile replaced = file_;
    file_ = placed;
    fileSize_ = std::uint64_t{pageCount_} * PageSize;
    // The lock on the replaced file is released only now: a writer that opened the path before
    // the rename and takes it next finds the file changed and refuses.
    unlock(replaced);
    sys::close(replaced);
    writing_.reset();
}

void PageFile::rollbackLevel() {
    std::lock_guard lock(mutex_);
    if (!writing_)
        throw std::logic_error("no transaction level is open to roll back");
    Writing& w = *writing_;
    if (w.levels.size() == 1) {
        abandon();
        endWriting();
        return;
    }
    const Writing::Level inner = std::move(w.levels.back());
    w.levels.pop_back();
    if (w.failure)
        return;
    try {
        SpillFile::Page before{};
        for (const auto& [number, at] : inner.saved) {
            w.spill->get(at, before);
            disk::writeAt(w.copy->file(), before.data(), PageSize, std::uint64_t{number} * PageSize,
                          "write", w.copy->path());
            dirty_.erase(number);
        }
        // Pages the level added go with it; the other waiting pages are the outer levels'
        // changes, which this level did not touch.
        std::erase_if(dirty_, [&](const auto& page) { return page.first >= inner.pageCount; });
        if (pageCount_ > inner.pageCount)
            w.copy->truncate(std::uint64_t{inner.pageCount} * PageSize);
        if (w.spill)
            w.spill->rewind(inner.spillEnd);
        pageCount_ = inner.pageCount;
        fileSize_ = std::uint64_t{pageCount_} * PageSize;
        forgetCachedPages();
    } catch (...) {
        // The copy is now neither what the level around saw nor what this one made.
        w.failure = std::current_exception();
        abandon();
    }
}

// ---- changes ----

void PageFile::write(std::uint32_t number, const std::array<std::uint8_t, PageSize>& bytes) {
    std::lock_guard lock(mutex_);
    if (!writing_)
        throw std::logic_error("a page is written only inside a transaction level");
    if (number >= pageCount_)
        throw std::out_of_range("page " + std::to_string(number) + " is past the end of " + path_ +
                                " (" + std::to_string(pageCount_) + " pages)");
    if (writing_->failure)
        std::rethrow_exception(writing_->failure);
    change(number, bytes);
}

void PageFile::change(std::uint32_t number, const std::array<std::uint8_t, PageSize>& bytes) {
    // Any failure abandons the whole transaction: the copy can no longer be trusted.
    try {
        prepareChange(number);
        dirty_[number] = std::make_shared<const std::array<std::uint8_t, PageSize>>(bytes);
        if (const auto cached = cached_.find(number); cached != cached_.end()) {
            recent_.erase(cached->second);
            cached_.erase(cached);
        }
        if (dirty_.size() >= DirtyPages)
            flushChanges();
    } catch (...) {
        writing_->failure = std::current_exception();
        abandon();
        throw;
    }
}

void PageFile::flushChanges() {
    if (dirty_.empty())
        return;
    std::vector<std::uint32_t> numbers;
    numbers.reserve(dirty_.size());
    for (const auto& page : dirty_)
        numbers.push_back(page.first);
    std::sort(numbers.begin(), numbers.end());
    for (const std::uint32_t number : numbers)
        disk::writeAt(writing_->copy->file(), dirty_.at(number)->data(), PageSize,
                      std::uint64_t{number} * PageSize, "write", writing_->copy->path());
    // The written pages stay at hand: the last ones added are the likeliest to be read next.
    for (const std::uint32_t number : numbers)
        remember(number, dirty_.at(number));
    dirty_.clear();
}

std::uint32_t PageFile::append(const std::array<std::uint8_t, PageSize>& bytes) {
    std::lock_guard lock(mutex_);
    if (!writing_)
        throw std::logic_error("a page is added only inside a transaction level");
    if (pageCount_ >= std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::out_of_range(path_ + " has as many pages as page numbers allow");
    if (writing_->failure)
        std::rethrow_exception(writing_->failure);
    const std::uint32_t number = pageCount_;
    change(number, bytes);
    pageCount_ = number + 1;
    fileSize_ = std::uint64_t{pageCount_} * PageSize;
    return number;
}

void PageFile::prepareChange(std::uint32_t number) {
    Writing& w = *writing_;
    if (!w.copy) {
        w.copy = std::make_unique<ReplacementCopy>(w.target, file_, w.originalSize);
    }
    Writing::Level& level = w.levels.back();
    if (w.levels.size() < 2 || number >= level.pageCount || level.saved.contains(number))
        return;
    // The page's bytes as the level found them go to the spill file before the copy changes, so
    // a failure in between leaves the copy as the level around knows it.
    if (!w.spill)
        w.spill = std::make_unique<SpillFile>(w.target);
    SpillFile::Page before{};
    if (const auto changed = dirty_.find(number); changed != dirty_.end())
        before = *changed->second;
    else
        disk::readAt(w.copy->file(), before.data(), PageSize, std::uint64_t{number} * PageSize,
                     w.copy->path());
    level.saved.emplace(number, w.spill->put(before));
}

void PageFile::abandon() {
    Writing& w = *writing_;
    w.copy.reset(); // removed while the lock is still held, so no next writer's copy is hit
    w.spill.reset();
    for (Writing::Level& level : w.levels)
        level = {w.originalPageCount, 0, {}};
    pageCount_ = w.originalPageCount;
    fileSize_ = w.originalSize;
    dirty_.clear();
    forgetCachedPages();
}

void PageFile::endWriting() {
    writing_.reset(); // the copy, if still there, is removed before the lock goes
    unlock(file_);
}

} // namespace engine::jet4
