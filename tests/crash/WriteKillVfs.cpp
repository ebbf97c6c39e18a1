#include "WriteKillVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace crashtest {

namespace {

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;
sqlite3_io_methods methods;
std::atomic<long> operations{0};
long target = 0;

// The shim's file: the ordinary layer's file follows it in the same allocation.
struct File {
    sqlite3_file base;
};

sqlite3_file* inner(sqlite3_file* f) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<File*>(f) + 1);
}

void changing() {
    if (++operations == target)
        std::raise(SIGKILL);
}

int close(sqlite3_file* f) {
    return inner(f)->pMethods->xClose(inner(f));
}
int read(sqlite3_file* f, void* buf, int n, sqlite3_int64 at) {
    return inner(f)->pMethods->xRead(inner(f), buf, n, at);
}
int write(sqlite3_file* f, const void* buf, int n, sqlite3_int64 at) {
    changing();
    return inner(f)->pMethods->xWrite(inner(f), buf, n, at);
}
int truncate(sqlite3_file* f, sqlite3_int64 size) {
    changing();
    return inner(f)->pMethods->xTruncate(inner(f), size);
}
int sync(sqlite3_file* f, int flags) {
    changing();
    return inner(f)->pMethods->xSync(inner(f), flags);
}
int fileSize(sqlite3_file* f, sqlite3_int64* size) {
    return inner(f)->pMethods->xFileSize(inner(f), size);
}
int lock(sqlite3_file* f, int level) {
    return inner(f)->pMethods->xLock(inner(f), level);
}
int unlock(sqlite3_file* f, int level) {
    return inner(f)->pMethods->xUnlock(inner(f), level);
}
int checkReservedLock(sqlite3_file* f, int* out) {
    return inner(f)->pMethods->xCheckReservedLock(inner(f), out);
}
int fileControl(sqlite3_file* f, int op, void* arg) {
    return inner(f)->pMethods->xFileControl(inner(f), op, arg);
}
int sectorSize(sqlite3_file* f) {
    return inner(f)->pMethods->xSectorSize(inner(f));
}
int deviceCharacteristics(sqlite3_file* f) {
    return inner(f)->pMethods->xDeviceCharacteristics(inner(f));
}

int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    int rc = real->xOpen(real, name, inner(f), flags, outFlags);
    // Version 1 methods only: no shared memory or memory mapping, which rollback journals need
    // neither of.
    f->pMethods = inner(f)->pMethods ? &methods : nullptr;
    return rc;
}
int remove(sqlite3_vfs*, const char* name, int syncDir) {
    changing();
    return real->xDelete(real, name, syncDir);
}

} // namespace

void installWriteKillVfs(long killAt) {
    target = killAt;
    if (real)
        return;
    real = sqlite3_vfs_find(nullptr);
    shim = *real;
    shim.iVersion = 1;
    shim.zName = "write-kill";
    shim.szOsFile = static_cast<int>(sizeof(File)) + real->szOsFile;
    shim.xOpen = open;
    shim.xDelete = remove;
    std::memset(&methods, 0, sizeof methods);
    methods.iVersion = 1;
    methods.xClose = close;
    methods.xRead = read;
    methods.xWrite = write;
    methods.xTruncate = truncate;
    methods.xSync = sync;
    methods.xFileSize = fileSize;
    methods.xLock = lock;
    methods.xUnlock = unlock;
    methods.xCheckReservedLock = checkReservedLock;
    methods.xFileControl = fileControl;
    methods.xSectorSize = sectorSize;
    methods.xDeviceCharacteristics = deviceCharacteristics;
    sqlite3_vfs_register(&shim, 1);
}

long diskOperations() {
    return operations;
}

} // namespace crashtest
