#pragma once
// Every operation the Jet 4 writer makes that changes something on disk (a file created, bytes
// written, an owner or mode set, a flush, a rename, a removal) goes through disk::step() first. In
// the program step() does nothing; a test installs a hook there to count the operations, to make
// the n-th fail as the system would, or to end the process just before it.

#include "engine/jet4/file/SystemFiles.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace engine::jet4 {

// Called before each disk operation with its name ("create", "copy", "chown", "chmod", "write",
// "spill", "truncate", "fsync", "rename", "fsync folder", "unlink") and its serial, 1 for the first
// since the hook was installed. Returns 0 to let the operation run, or an errno value to make it
// fail with that error instead.
using DiskHook = std::function<int(std::string_view operation, long serial)>;

// Installs `hook` for the whole process and restarts the serial; an empty hook removes it. For
// tests; not to be called while another thread writes.
void setDiskHook(DiskHook hook);

namespace disk {

// Runs the hook for `operation`: the errno value it asks for, 0 when none is installed.
int step(std::string_view operation);

// std::system_error for `error`, saying which operation failed on which file.
[[noreturn]] void fail(int error, std::string_view operation, const std::string& path);

// Writes all `size` bytes at `offset` (one step named `operation`); std::system_error on failure,
// a short write that makes no progress counted as ENOSPC.
void writeAt(sys::NativeFile file, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
             std::string_view operation, const std::string& path);

// Reads all `size` bytes at `offset`; std::system_error on failure, EIO when the file ends first.
void readAt(sys::NativeFile file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
            const std::string& path);

} // namespace disk
} // namespace engine::jet4
