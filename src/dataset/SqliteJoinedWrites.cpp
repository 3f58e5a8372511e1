// The file layer that joins consecutive writes (SqliteJoinedWrites.h).
#include "dataset/SqliteJoinedWrites.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace qel {

namespace {

// What a database file had written since it was last synced, so that the system may drop those
// pages from its cache once a sync made them durable. A run that loads gigabytes would otherwise
// leave them all in the cache, and each new page the cache takes is memory the system must find
// (on a virtual machine whose host takes back idle memory, a new page costs several times its
// copy). Dropped, the pages' memory serves the next writes. Only clean pages are dropped, so no
// byte is lost; a page read again later comes from the disk.
class TWrittenSinceSync {
  public:
    // A write of `amount` bytes at `offset`. Writes in ascending order (SQLite writes a
    // transaction's pages by number) join into one range; past kMaxRanges, writes are not
    // noted and their pages stay cached.
    void Add(sqlite3_int64 offset, int amount) noexcept {
        const sqlite3_int64 end = offset + amount;
        if (end <= kKeptBytes) return;
        offset = std::max(offset, kKeptBytes);
        bytes_ += end - offset;
        if (!ranges_.empty() && offset <= ranges_.back().second && end >= ranges_.back().first) {
            ranges_.back().first = std::min(ranges_.back().first, offset);
            ranges_.back().second = std::max(ranges_.back().second, end);
            return;
        }
        if (ranges_.size() >= kMaxRanges) return;
        try {
            ranges_.emplace_back(offset, end);
        } catch (const std::bad_alloc&) {
        }
    }

    // After a sync of the file open as `fd`: lets the system drop the pages written, once
    // there are enough of them to be worth the calls (the loader's first rows commit one by
    // one, a page or two each).
    void Synced(int fd) noexcept {
        if (bytes_ < kDropBytes) return;
        for (const auto& [begin, end] : ranges_)
            posix_fadvise(fd, begin, end - begin, POSIX_FADV_DONTNEED);
        ranges_.clear();
        bytes_ = 0;
    }

  private:
    // The file's first bytes stay cached: SQLite reads the header's change counter at the start
    // of every transaction.
    static constexpr sqlite3_int64 kKeptBytes = 64 * 1024;
    static constexpr sqlite3_int64 kDropBytes = 1024 * 1024;
    static constexpr std::size_t kMaxRanges = 4096;

    std::vector<std::pair<sqlite3_int64, sqlite3_int64>> ranges_;  // [begin, end)
    sqlite3_int64 bytes_ = 0;
};

// A file opened through the layer: SQLite's header, the held bytes, then the system layer's own
// file object, which SQLite allocates with ours (szOsFile).
struct TJoinedFile {
    sqlite3_file Base;     // its methods are the layer's
    sqlite3_file* Real;    // the system layer's file, just after this object
    bool Joins;            // a database file or rollback journal: writes may be held back
    char* Held;            // kJoinedBytes, allocated at the first held write
    int HeldBytes;         // bytes held back
    sqlite3_int64 HeldAt;  // the file offset they go to
    // A database file open for writing: the system layer's descriptor of it, to let go of
    // cached pages by, and what it wrote since its last sync (-1 and nullptr for other files).
    int DropFd;
    TWrittenSinceSync* Written;
};

constexpr int kRealOffset = (sizeof(TJoinedFile) + 7) / 8 * 8;

sqlite3_vfs* gSystem = nullptr;  // the layer underneath
sqlite3_vfs gLayer{};

// The one file that holds writes back, if any. Written under gHeldLock; read without it only to
// see that a file holds nothing.
std::mutex gHeldLock;
std::atomic<TJoinedFile*> gHolder{nullptr};

TJoinedFile* Joined(sqlite3_file* file) {
    return reinterpret_cast<TJoinedFile*>(file);
}

// Writes what `f` holds back. The caller holds gHeldLock. The bytes are let go whether the write
// succeeds or not: a failed write is reported once, as SQLite's own failed write would be.
int WriteHeld(TJoinedFile* f) {
    if (gHolder.load(std::memory_order_relaxed) == f)
        gHolder.store(nullptr, std::memory_order_relaxed);
    if (f->HeldBytes == 0) return SQLITE_OK;
    const int bytes = f->HeldBytes;
    f->HeldBytes = 0;
    return f->Real->pMethods->xWrite(f->Real, f->Held, bytes, f->HeldAt);
}

// Writes what any file holds back: before whatever makes the order of writes count.
int WriteAllHeld() {
    if (gHolder.load(std::memory_order_acquire) == nullptr) return SQLITE_OK;
    std::lock_guard<std::mutex> lock(gHeldLock);
    TJoinedFile* holder = gHolder.load(std::memory_order_relaxed);
    return holder != nullptr ? WriteHeld(holder) : SQLITE_OK;
}

// Writes what `f` itself holds back: before it is read, measured or mapped.
int WriteOwnHeld(TJoinedFile* f) {
    if (gHolder.load(std::memory_order_acquire) != f) return SQLITE_OK;
    std::lock_guard<std::mutex> lock(gHeldLock);
    return gHolder.load(std::memory_order_relaxed) == f ? WriteHeld(f) : SQLITE_OK;
}

// Calls the system file's method `call` once what any file holds back is written (All), or
// what this file holds (Own); a failed held write fails the call instead.
template <typename Call>
int AfterAllHeld(sqlite3_file* file, Call call) {
    const int rc = WriteAllHeld();
    return rc != SQLITE_OK ? rc : call(Joined(file)->Real);
}
template <typename Call>
int AfterOwnHeld(sqlite3_file* file, Call call) {
    const int rc = WriteOwnHeld(Joined(file));
    return rc != SQLITE_OK ? rc : call(Joined(file)->Real);
}

// --- the file's methods

int Close(sqlite3_file* file) {
    TJoinedFile* f = Joined(file);
    // Closing gives up the file's locks: what any file holds goes first.
    const int held = WriteAllHeld();
    const int rc = f->Real->pMethods->xClose(f->Real);
    sqlite3_free(f->Held);
    f->Held = nullptr;
    delete f->Written;
    f->Written = nullptr;
    return held != SQLITE_OK ? held : rc;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    return AfterOwnHeld(file, [&](sqlite3_file* real) {
        return real->pMethods->xRead(real, buffer, amount, offset);
    });
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    TJoinedFile* f = Joined(file);
    if (f->Written != nullptr) f->Written->Add(offset, amount);
    if (!f->Joins) {
        return AfterAllHeld(file, [&](sqlite3_file* real) {
            return real->pMethods->xWrite(real, data, amount, offset);
        });
    }
    std::lock_guard<std::mutex> lock(gHeldLock);
    TJoinedFile* holder = gHolder.load(std::memory_order_relaxed);
    if (holder != nullptr && holder != f) {
        // Another file's writes come first, as SQLite made them.
        const int rc = WriteHeld(holder);
        if (rc != SQLITE_OK) return rc;
    }
    if (f->HeldBytes > 0 && offset == f->HeldAt + f->HeldBytes &&
        amount <= kJoinedBytes - f->HeldBytes) {
        std::memcpy(f->Held + f->HeldBytes, data, static_cast<std::size_t>(amount));
        f->HeldBytes += amount;
        return SQLITE_OK;
    }
    const int rc = WriteHeld(f);
    if (rc != SQLITE_OK) return rc;
    if (amount >= kJoinedBytes) return f->Real->pMethods->xWrite(f->Real, data, amount, offset);
    if (f->Held == nullptr) f->Held = static_cast<char*>(sqlite3_malloc(kJoinedBytes));
    if (f->Held == nullptr) return f->Real->pMethods->xWrite(f->Real, data, amount, offset);
    std::memcpy(f->Held, data, static_cast<std::size_t>(amount));
    f->HeldBytes = amount;
    f->HeldAt = offset;
    gHolder.store(f, std::memory_order_release);
    return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return AfterAllHeld(file,
                        [&](sqlite3_file* real) { return real->pMethods->xTruncate(real, size); });
}

int Sync(sqlite3_file* file, int flags) {
    TJoinedFile* f = Joined(file);
    const int rc =
        AfterAllHeld(file, [&](sqlite3_file* real) { return real->pMethods->xSync(real, flags); });
    if (rc == SQLITE_OK && f->Written != nullptr) f->Written->Synced(f->DropFd);
    return rc;
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return AfterOwnHeld(file,
                        [&](sqlite3_file* real) { return real->pMethods->xFileSize(real, size); });
}

int Lock(sqlite3_file* file, int level) {
    return AfterAllHeld(file,
                        [&](sqlite3_file* real) { return real->pMethods->xLock(real, level); });
}

int Unlock(sqlite3_file* file, int level) {
    return AfterAllHeld(file,
                        [&](sqlite3_file* real) { return real->pMethods->xUnlock(real, level); });
}

int CheckReservedLock(sqlite3_file* file, int* out) {
    return AfterAllHeld(
        file, [&](sqlite3_file* real) { return real->pMethods->xCheckReservedLock(real, out); });
}

// No file control changes what the file holds in a way the held bytes could come before (a
// size hint only extends the file, and only with a chunk size set), and SQLite ignores the
// answer to some of them: nothing is written here whose failure could go unseen. It runs under
// the lock, as another thread's call may be writing what this file holds meanwhile.
int FileControl(sqlite3_file* file, int op, void* arg) {
    std::lock_guard<std::mutex> lock(gHeldLock);
    return Joined(file)->Real->pMethods->xFileControl(Joined(file)->Real, op, arg);
}

int SectorSize(sqlite3_file* file) {
    return Joined(file)->Real->pMethods->xSectorSize(Joined(file)->Real);
}

int DeviceCharacteristics(sqlite3_file* file) {
    return Joined(file)->Real->pMethods->xDeviceCharacteristics(Joined(file)->Real);
}

// A database in WAL mode writes its own pages only when it checkpoints, under the WAL's shared
// memory, which other connections read: its writes are never held back. A file that holds some
// from before the switch writes them first.
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    TJoinedFile* f = Joined(file);
    const int rc = WriteOwnHeld(f);
    if (rc != SQLITE_OK) return rc;
    f->Joins = false;
    return f->Real->pMethods->xShmMap(f->Real, region, size, extend, out);
}

int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return Joined(file)->Real->pMethods->xShmLock(Joined(file)->Real, offset, n, flags);
}

void ShmBarrier(sqlite3_file* file) {
    Joined(file)->Real->pMethods->xShmBarrier(Joined(file)->Real);
}

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return Joined(file)->Real->pMethods->xShmUnmap(Joined(file)->Real, deleteFlag);
}

int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    return AfterOwnHeld(file, [&](sqlite3_file* real) {
        return real->pMethods->xFetch(real, offset, amount, out);
    });
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return Joined(file)->Real->pMethods->xUnfetch(Joined(file)->Real, offset, page);
}

// The methods for a system file of each version (1: files, 2: shared memory, 3: mapping): the
// layer offers what the file underneath has.
const sqlite3_io_methods kMethods[3] = {
    {1, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl,
     SectorSize, DeviceCharacteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {2, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl,
     SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, nullptr, nullptr},
    {3, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl,
     SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch},
};

// The descriptor the system layer opened `name` as, or -1 when it cannot be told for sure. SQLite
// has no call that gives it; its unix layer keeps it after three pointers at the start of its
// file object, and the number found there counts only when it is open on the very file `name`
// is. The layer never closes it: a second descriptor of its own would not do, as closing any
// descriptor of a file gives up every lock the process holds on it, other connections' too.
int SystemDescriptor(const sqlite3_file* real, const char* name) {
    if (std::strncmp(gSystem->zName, "unix", 4) != 0 ||
        gSystem->szOsFile < static_cast<int>(3 * sizeof(void*) + sizeof(int)))
        return -1;
    int fd = -1;
    std::memcpy(&fd, reinterpret_cast<const char*>(real) + 3 * sizeof(void*), sizeof fd);
    struct stat opened {};
    struct stat named {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || ::stat(name, &named) != 0) return -1;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino ? fd : -1;
}

// --- the layer's methods: opening, deleting and asking for files write what is held first;
// the rest is the system layer's.

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    TJoinedFile* f = Joined(file);
    f->Base.pMethods = nullptr;
    f->Real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset);
    f->Joins = (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL)) != 0;
    f->Held = nullptr;
    f->HeldBytes = 0;
    f->HeldAt = 0;
    f->DropFd = -1;
    f->Written = nullptr;
    int rc = WriteAllHeld();
    if (rc != SQLITE_OK) return rc;
    std::memset(f->Real, 0, static_cast<std::size_t>(gSystem->szOsFile));
    rc = gSystem->xOpen(gSystem, name, f->Real, flags, outFlags);
    if (f->Real->pMethods == nullptr) return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
    if (rc != SQLITE_OK) {
        // A file SQLite is told failed to open is never closed by it.
        f->Real->pMethods->xClose(f->Real);
        return rc;
    }
    // Without the system layer's descriptor (or the memory to note writes in) a database file
    // keeps its pages cached, as any other file does.
    if ((flags & SQLITE_OPEN_MAIN_DB) != 0 && (flags & SQLITE_OPEN_READWRITE) != 0 &&
        name != nullptr) {
        f->DropFd = SystemDescriptor(f->Real, name);
        if (f->DropFd >= 0) f->Written = new (std::nothrow) TWrittenSinceSync;
    }
    const int version = std::clamp(f->Real->pMethods->iVersion, 1, 3);
    f->Base.pMethods = &kMethods[version - 1];
    return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    const int rc = WriteAllHeld();
    if (rc != SQLITE_OK) return rc;
    return gSystem->xDelete(gSystem, name, syncDir);
}

int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
    const int rc = WriteAllHeld();
    if (rc != SQLITE_OK) return rc;
    return gSystem->xAccess(gSystem, name, flags, out);
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return gSystem->xFullPathname(gSystem, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) {
    return gSystem->xDlOpen(gSystem, name);
}
void DlError(sqlite3_vfs*, int size, char* out) {
    gSystem->xDlError(gSystem, size, out);
}
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return gSystem->xDlSym(gSystem, handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) {
    gSystem->xDlClose(gSystem, handle);
}
int Randomness(sqlite3_vfs*, int size, char* out) {
    return gSystem->xRandomness(gSystem, size, out);
}
int Sleep(sqlite3_vfs*, int microseconds) {
    return gSystem->xSleep(gSystem, microseconds);
}
int CurrentTime(sqlite3_vfs*, double* out) {
    return gSystem->xCurrentTime(gSystem, out);
}
int GetLastError(sqlite3_vfs*, int size, char* out) {
    return gSystem->xGetLastError ? gSystem->xGetLastError(gSystem, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return gSystem->xCurrentTimeInt64(gSystem, out);
}
int SetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
    return gSystem->xSetSystemCall(gSystem, name, call);
}
sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs*, const char* name) {
    return gSystem->xGetSystemCall(gSystem, name);
}
const char* NextSystemCall(sqlite3_vfs*, const char* name) {
    return gSystem->xNextSystemCall(gSystem, name);
}

const char* Register() {
    if (sqlite3_initialize() != SQLITE_OK) return nullptr;
    gSystem = sqlite3_vfs_find(nullptr);
    if (gSystem == nullptr) return nullptr;
    gLayer.iVersion = std::min(gSystem->iVersion, 3);
    gLayer.szOsFile = kRealOffset + gSystem->szOsFile;
    gLayer.mxPathname = gSystem->mxPathname;
    gLayer.zName = kSqliteJoinedWritesVfs;
    gLayer.xOpen = Open;
    gLayer.xDelete = Delete;
    gLayer.xAccess = Access;
    gLayer.xFullPathname = FullPathname;
    gLayer.xDlOpen = gSystem->xDlOpen ? DlOpen : nullptr;
    gLayer.xDlError = gSystem->xDlError ? DlError : nullptr;
    gLayer.xDlSym = gSystem->xDlSym ? DlSym : nullptr;
    gLayer.xDlClose = gSystem->xDlClose ? DlClose : nullptr;
    gLayer.xRandomness = Randomness;
    gLayer.xSleep = Sleep;
    gLayer.xCurrentTime = CurrentTime;
    gLayer.xGetLastError = GetLastError;
    if (gLayer.iVersion >= 2 && gSystem->xCurrentTimeInt64)
        gLayer.xCurrentTimeInt64 = CurrentTimeInt64;
    if (gLayer.iVersion >= 3) {
        gLayer.xSetSystemCall = gSystem->xSetSystemCall ? SetSystemCall : nullptr;
        gLayer.xGetSystemCall = gSystem->xGetSystemCall ? GetSystemCall : nullptr;
        gLayer.xNextSystemCall = gSystem->xNextSystemCall ? NextSystemCall : nullptr;
    }
    return sqlite3_vfs_register(&gLayer, 0) == SQLITE_OK ? kSqliteJoinedWritesVfs : nullptr;
}

}  // namespace

const char* SqliteJoinedWritesVfs() {
    static const char* const name = Register();
    return name;
}

}  // namespace qel
