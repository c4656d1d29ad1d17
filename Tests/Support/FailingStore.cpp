#include "Support/FailingStore.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace FailingStore {
namespace {

std::mutex gMutex;
std::string gPrefix;
std::atomic<Fault> gFault{Fault::None};
std::atomic<int> gRefusals{0};
sqlite3_vfs* gBase = nullptr;
sqlite3_vfs gVfs;
sqlite3_io_methods gMethods;

// Our file: its name (SQLite keeps it until the close), then the system
// layer's own file.
struct File {
    sqlite3_file base;  // pMethods = &gMethods
    const char* name;
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* cast(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

bool watched(sqlite3_file* f) {
    const char* name = cast(f)->name;
    std::lock_guard lock(gMutex);
    return name && !gPrefix.empty() && std::strncmp(name, gPrefix.c_str(), gPrefix.size()) == 0;
}

// The error the fault gives this operation of a watched file, or SQLITE_OK.
int refused(sqlite3_file* f, bool write) {
    const Fault fault = gFault.load();
    if (fault == Fault::None || !watched(f)) return SQLITE_OK;
    int rc = SQLITE_OK;
    if (fault == Fault::DiskFull && write) rc = SQLITE_FULL;
    if (fault == Fault::ReadError) rc = write ? SQLITE_IOERR_WRITE : SQLITE_IOERR_READ;
    if (rc != SQLITE_OK) ++gRefusals;
    return rc;
}

int xClose(sqlite3_file* f) {
    sqlite3_file* inner = cast(f)->inner();
    return inner->pMethods ? inner->pMethods->xClose(inner) : SQLITE_OK;
}
int xRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    if (int rc = refused(f, false)) return rc;
    return cast(f)->inner()->pMethods->xRead(cast(f)->inner(), buffer, amount, offset);
}
int xWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (int rc = refused(f, true)) return rc;
    return cast(f)->inner()->pMethods->xWrite(cast(f)->inner(), buffer, amount, offset);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    if (int rc = refused(f, true)) return rc;
    return cast(f)->inner()->pMethods->xTruncate(cast(f)->inner(), size);
}
int xSync(sqlite3_file* f, int flags) {
    if (int rc = refused(f, true)) return rc;
    return cast(f)->inner()->pMethods->xSync(cast(f)->inner(), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) { return cast(f)->inner()->pMethods->xFileSize(cast(f)->inner(), size); }
int xLock(sqlite3_file* f, int level) { return cast(f)->inner()->pMethods->xLock(cast(f)->inner(), level); }
int xUnlock(sqlite3_file* f, int level) { return cast(f)->inner()->pMethods->xUnlock(cast(f)->inner(), level); }
int xCheckReservedLock(sqlite3_file* f, int* out) {
    return cast(f)->inner()->pMethods->xCheckReservedLock(cast(f)->inner(), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
    return cast(f)->inner()->pMethods->xFileControl(cast(f)->inner(), op, arg);
}
int xSectorSize(sqlite3_file* f) { return cast(f)->inner()->pMethods->xSectorSize(cast(f)->inner()); }
int xDeviceCharacteristics(sqlite3_file* f) {
    return cast(f)->inner()->pMethods->xDeviceCharacteristics(cast(f)->inner());
}
int xShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return cast(f)->inner()->pMethods->xShmMap(cast(f)->inner(), page, size, extend, out);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) {
    // Pages a connection keeps in its cache are read without the file; a
    // read transaction of the log always takes a read lock first.
    if ((flags & SQLITE_SHM_LOCK) && (flags & SQLITE_SHM_SHARED))
        if (int rc = refused(f, false)) return rc;
    return cast(f)->inner()->pMethods->xShmLock(cast(f)->inner(), offset, n, flags);
}
void xShmBarrier(sqlite3_file* f) { cast(f)->inner()->pMethods->xShmBarrier(cast(f)->inner()); }
int xShmUnmap(sqlite3_file* f, int deleteFlag) { return cast(f)->inner()->pMethods->xShmUnmap(cast(f)->inner(), deleteFlag); }
int xFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    // Memory-mapped reads would pass the fault by: none while it is on.
    if (gFault.load() == Fault::ReadError && watched(f)) {
        *out = nullptr;
        return SQLITE_OK;
    }
    return cast(f)->inner()->pMethods->xFetch(cast(f)->inner(), offset, amount, out);
}
int xUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    return cast(f)->inner()->pMethods->xUnfetch(cast(f)->inner(), offset, p);
}

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    File* file = cast(f);
    file->base.pMethods = nullptr;
    sqlite3_file* inner = file->inner();
    std::memset(inner, 0, static_cast<size_t>(gBase->szOsFile));
    int rc = gBase->xOpen(gBase, name, inner, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (inner->pMethods) inner->pMethods->xClose(inner);
        return rc;
    }
    file->name = name;
    file->base.pMethods = &gMethods;
    return SQLITE_OK;
}

}  // namespace

void install() {
    std::lock_guard lock(gMutex);
    if (gBase) return;
    gBase = sqlite3_vfs_find(nullptr);
    gVfs = *gBase;
    gVfs.zName = "vostrelle-failing-store";
    gVfs.szOsFile = static_cast<int>(sizeof(File)) + gBase->szOsFile;
    gVfs.xOpen = xOpen;
    gVfs.pNext = nullptr;
    gMethods = sqlite3_io_methods{3,           xClose,     xRead,       xWrite,       xTruncate,
                                  xSync,       xFileSize,  xLock,       xUnlock,      xCheckReservedLock,
                                  xFileControl, xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock,
                                  xShmBarrier, xShmUnmap,  xFetch,      xUnfetch};
    sqlite3_vfs_register(&gVfs, 1);
}

Scope::Scope(std::string pathPrefix, Fault fault) {
    std::lock_guard lock(gMutex);
    gPrefix = std::move(pathPrefix);
    gFault = fault;
}

Scope::~Scope() { gFault = Fault::None; }

int refusals() { return gRefusals.load(); }

}  // namespace FailingStore
