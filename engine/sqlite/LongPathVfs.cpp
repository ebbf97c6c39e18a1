#include "engine/sqlite/LongPathVfs.h"

#include <sqlite3.h>

#include <cstring>

namespace engine {

namespace {

// Keeps FolderPrefix paths as they are, which SQLite would otherwise resolve back to the long
// path; every other path is the default layer's.
int folderFullPathname(sqlite3_vfs*, const char* path, int size, char* out) {
    sqlite3_vfs* standard = sqlite3_vfs_find(nullptr);
    if (std::strncmp(path, FolderPrefix, std::strlen(FolderPrefix)) != 0)
        return standard->xFullPathname(standard, path, size, out);
    if (std::strlen(path) >= static_cast<std::size_t>(size))
        return SQLITE_CANTOPEN;
    std::strcpy(out, path);
    return SQLITE_OK;
}

} // namespace

const char* folderVfs() {
    static sqlite3_vfs vfs;
    static const bool registered = [] {
        vfs = *sqlite3_vfs_find(nullptr);
        vfs.pNext = nullptr;
        vfs.zName = "patch16-folder";
        vfs.xFullPathname = folderFullPathname;
        return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    }();
    return registered ? vfs.zName : nullptr;
}

} // namespace engine
