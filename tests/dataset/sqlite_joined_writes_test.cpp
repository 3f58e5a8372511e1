// The layer that joins SQLite's consecutive writes: the system must see what it sees without the
// layer, in the same order, only with runs of consecutive writes to one file made one write.
// The test records the system calls SQLite's own file layer makes (through its table of system
// calls, and fsync/fdatasync interposed here) for one seeded sequence of transactions, once
// through the system layer and once through the joining layer, and compares the two.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../common/TempDir.h"
#include "dataset/SqliteJoinedWrites.h"

namespace {

// One system call on a file of the test: o open, c close, r read, w write, s sync, t truncate,
// l a lock (fcntl), f the size asked (fstat), u unlink.
struct TCall {
    char Kind;
    std::string File;  // "t.db", "t.db-journal", ...; "dir" for the folder
    long long Offset;  // the offset, the size, or the lock's type and start
    long long Length;
    std::string Bytes;  // what was written or read
};

std::vector<TCall>* gCalls = nullptr;
std::map<int, std::string> gNames;

std::string Named(int fd) {
    auto it = gNames.find(fd);
    return it == gNames.end() ? std::string() : it->second;
}
void Note(char kind, int fd, long long offset, long long length, std::string bytes = {}) {
    if (gCalls == nullptr) return;
    const std::string name = Named(fd);
    if (!name.empty()) gCalls->push_back({kind, name, offset, length, std::move(bytes)});
}

}  // namespace

// SQLite's system layer syncs with these, which are not in its table of system calls.
extern "C" int fdatasync(int fd) {
    Note('s', fd, 0, 0);
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}
extern "C" int fsync(int fd) {
    Note('s', fd, 0, 0);
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace qel::test {
namespace {

using TOpen = int (*)(const char*, int, int);
using TClose = int (*)(int);
using TPread = ssize_t (*)(int, void*, size_t, off_t);
using TPwrite = ssize_t (*)(int, const void*, size_t, off_t);
using TTruncate = int (*)(int, off_t);
using TFcntl = int (*)(int, int, ...);
using TUnlink = int (*)(const char*);
using TFstat = int (*)(int, struct stat*);

struct TSystem {
    TOpen Open = nullptr;
    TClose Close = nullptr;
    TPread Pread = nullptr, Pread64 = nullptr;
    TPwrite Pwrite = nullptr, Pwrite64 = nullptr;
    TTruncate Truncate = nullptr;
    TFcntl Fcntl = nullptr;
    TUnlink Unlink = nullptr;
    TFstat Fstat = nullptr;
} gSystem;

std::string Base(const char* path) {
    const std::string p(path);
    const std::string name = p.substr(p.find_last_of('/') + 1);
    return name.rfind("t.db", 0) == 0 ? name : "dir";
}

int HookOpen(const char* path, int flags, int mode) {
    const int fd = gSystem.Open(path, flags, mode);
    if (fd >= 0 && gCalls != nullptr) {
        gNames[fd] = Base(path);
        Note('o', fd, 0, 0);
    }
    return fd;
}
int HookClose(int fd) {
    Note('c', fd, 0, 0);
    gNames.erase(fd);
    return gSystem.Close(fd);
}
ssize_t Read(TPread real, int fd, void* buffer, size_t size, off_t offset) {
    const ssize_t got = real(fd, buffer, size, offset);
    Note('r', fd, offset, got, got > 0 ? std::string(static_cast<char*>(buffer), got) : "");
    return got;
}
ssize_t HookPread(int fd, void* b, size_t n, off_t o) {
    return Read(gSystem.Pread, fd, b, n, o);
}
ssize_t HookPread64(int fd, void* b, size_t n, off_t o) {
    return Read(gSystem.Pread64, fd, b, n, o);
}
ssize_t Write(TPwrite real, int fd, const void* data, size_t size, off_t offset) {
    const ssize_t put = real(fd, data, size, offset);
    Note('w', fd, offset, put, put > 0 ? std::string(static_cast<const char*>(data), put) : "");
    return put;
}
ssize_t HookPwrite(int fd, const void* d, size_t n, off_t o) {
    return Write(gSystem.Pwrite, fd, d, n, o);
}
ssize_t HookPwrite64(int fd, const void* d, size_t n, off_t o) {
    return Write(gSystem.Pwrite64, fd, d, n, o);
}
int HookTruncate(int fd, off_t size) {
    Note('t', fd, size, 0);
    return gSystem.Truncate(fd, size);
}
int HookFcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (cmd == F_SETLK || cmd == F_SETLKW || cmd == F_GETLK) {
        const auto* lock = static_cast<const struct flock*>(arg);
        Note('l', fd, lock->l_type * 1000000 + lock->l_start, lock->l_len);
    }
    return gSystem.Fcntl(fd, cmd, arg);
}
int HookUnlink(const char* path) {
    if (gCalls != nullptr) gCalls->push_back({'u', Base(path), 0, 0, {}});
    return gSystem.Unlink(path);
}
int HookFstat(int fd, struct stat* st) {
    const int rc = gSystem.Fstat(fd, st);
    Note('f', fd, rc == 0 ? st->st_size : -1, 0);
    return rc;
}

// Records the system calls of the default layer while it lives.
class TRecording {
  public:
    explicit TRecording(std::vector<TCall>& calls) : unix_(sqlite3_vfs_find(nullptr)) {
        Hook("open", reinterpret_cast<void**>(&gSystem.Open), HookOpen);
        Hook("close", reinterpret_cast<void**>(&gSystem.Close), HookClose);
        Hook("pread", reinterpret_cast<void**>(&gSystem.Pread), HookPread);
        Hook("pread64", reinterpret_cast<void**>(&gSystem.Pread64), HookPread64);
        Hook("pwrite", reinterpret_cast<void**>(&gSystem.Pwrite), HookPwrite);
        Hook("pwrite64", reinterpret_cast<void**>(&gSystem.Pwrite64), HookPwrite64);
        Hook("ftruncate", reinterpret_cast<void**>(&gSystem.Truncate), HookTruncate);
        Hook("fcntl", reinterpret_cast<void**>(&gSystem.Fcntl), HookFcntl);
        Hook("unlink", reinterpret_cast<void**>(&gSystem.Unlink), HookUnlink);
        Hook("fstat", reinterpret_cast<void**>(&gSystem.Fstat), HookFstat);
        gNames.clear();
        gCalls = &calls;
    }
    ~TRecording() {
        gCalls = nullptr;
        for (const char* name : hooked_) unix_->xSetSystemCall(unix_, name, nullptr);
    }

  private:
    template <typename F>
    void Hook(const char* name, void** real, F hook) {
        sqlite3_syscall_ptr current = unix_->xGetSystemCall(unix_, name);
        if (current == nullptr) return;
        *real = reinterpret_cast<void*>(current);
        unix_->xSetSystemCall(unix_, name, reinterpret_cast<sqlite3_syscall_ptr>(hook));
        hooked_.push_back(name);
    }
    sqlite3_vfs* unix_;
    std::vector<const char*> hooked_;
};

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    ASSERT_EQ(rc, SQLITE_OK) << sql << ": " << (error ? error : "");
}

// What `sql` answers on `file` opened through the system layer: a line a row, values by "|".
std::string RowsSeen(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    std::string seen;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, sql,
            [](void* out, int n, char** values, char**) {
                for (int i = 0; i < n; ++i)
                    *static_cast<std::string*>(out) += (i ? "|" : "") + std::string(values[i]);
                *static_cast<std::string*>(out) += "\n";
                return 0;
            },
            &seen, nullptr);
    }
    sqlite3_close(db);
    return seen;
}

struct TWorkload {
    const char* Name;
    const char* JournalMode;
    const char* Synchronous;
    int PageSize;
};
void PrintTo(const TWorkload& w, std::ostream* os) {
    *os << w.Name;
}

// One seeded sequence of transactions on t.db in `dir`, through the layer `vfs` (nullptr: the
// default): records of every size (overflow pages), updates and deletes, a cache of a few pages
// so that changed pages spill before the commit, statements rolled back to a savepoint, and
// transactions committed or rolled back.
void RunWorkload(const TWorkload& w, const std::string& dir, const char* vfs, unsigned seed) {
    // SQLite's journal and WAL headers hold random numbers: both runs draw the same.
    sqlite3_test_control(SQLITE_TESTCTRL_PRNG_SEED, static_cast<int>(seed), nullptr);
    sqlite3* db = nullptr;
    const std::string file = dir + "/t.db";
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs),
              SQLITE_OK);
    Exec(db, "PRAGMA page_size = " + std::to_string(w.PageSize));
    Exec(db, std::string("PRAGMA journal_mode = ") + w.JournalMode);
    Exec(db, std::string("PRAGMA synchronous = ") + w.Synchronous);
    Exec(db, "PRAGMA cache_size = 8");
    Exec(db, "CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB, w TEXT)");
    Exec(db, "CREATE INDEX t_w ON t (w)");
    std::mt19937 random(seed);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t (v, w) VALUES (?1, ?2)", -1, &insert, nullptr);
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db, "UPDATE t SET v = ?1, w = ?2 WHERE k = ?3", -1, &update, nullptr);
    long long next = 1;
    std::string bytes;
    for (int tx = 0; tx < 24; ++tx) {
        Exec(db, "BEGIN");
        const int ops = 1 + below(80);
        for (int op = 0; op < ops; ++op) {
            const int size = below(10) == 0 ? below(4 * w.PageSize) : below(300);
            bytes.resize(static_cast<std::size_t>(size));
            for (char& c : bytes) c = static_cast<char>(random());
            const std::string text = std::to_string(random() % 1000);
            switch (below(6)) {
                case 0:
                case 1:
                case 2:
                    sqlite3_bind_blob(insert, 1, bytes.data(), size, SQLITE_TRANSIENT);
                    sqlite3_bind_text(insert, 2, text.c_str(), -1, SQLITE_TRANSIENT);
                    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
                    sqlite3_reset(insert);
                    ++next;
                    break;
                case 3:
                    sqlite3_bind_blob(update, 1, bytes.data(), size, SQLITE_TRANSIENT);
                    sqlite3_bind_text(update, 2, text.c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_int64(update, 3, 1 + below(static_cast<int>(next)));
                    ASSERT_EQ(sqlite3_step(update), SQLITE_DONE);
                    sqlite3_reset(update);
                    break;
                case 4:
                    Exec(db, "DELETE FROM t WHERE k = " + std::to_string(1 + below(next)));
                    break;
                default:
                    Exec(db, "SAVEPOINT s");
                    Exec(db, "DELETE FROM t WHERE k % 7 = " + std::to_string(below(7)));
                    Exec(db, "ROLLBACK TO s");
                    Exec(db, "RELEASE s");
                    break;
            }
        }
        Exec(db, below(5) == 0 ? "ROLLBACK" : "COMMIT");
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(update);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Describe(const TCall& c) {
    return std::string(1, c.Kind) + " " + c.File + " " + std::to_string(c.Offset) + " " +
           std::to_string(c.Length);
}

class JoinedWrites : public ::testing::TestWithParam<TWorkload> {};

TEST_P(JoinedWrites, TheSystemSeesTheSameCallsWithRunsOfWritesJoined) {
    const TWorkload& w = GetParam();
    ASSERT_NE(SqliteJoinedWritesVfs(), nullptr);
    for (unsigned seed = 1; seed <= 2; ++seed) {
        TempDir plainDir, joinedDir;
        std::vector<TCall> plain, joined;
        {
            TRecording recording(plain);
            RunWorkload(w, plainDir.Path().string(), nullptr, seed);
        }
        {
            TRecording recording(joined);
            RunWorkload(w, joinedDir.Path().string(), SqliteJoinedWritesVfs(), seed);
        }
        if (HasFatalFailure()) return;
        EXPECT_EQ(FileBytes(plainDir.File("t.db")), FileBytes(joinedDir.File("t.db")));

        // Every call but a write is made as it was, in the same order; each write is a run of
        // the plain calls' writes, to one file and each starting where the one before ended,
        // made before any later call that makes the order count. Only a read, a size or a
        // close of another file may come between the run's last write and the joined one.
        std::size_t p = 0;  // the next plain call not yet matched
        int plainWrites = 0, joinedWrites = 0, syncs = 0;
        for (const TCall& c : plain) plainWrites += c.Kind == 'w';
        for (const TCall& c : plain) syncs += c.Kind == 's';
        std::size_t writeAt = 0;  // the next plain write to match
        auto nextWrite = [&] {
            while (writeAt < plain.size() && plain[writeAt].Kind != 'w') ++writeAt;
        };
        for (const TCall& j : joined) {
            if (j.Kind != 'w') {
                while (p < plain.size() && plain[p].Kind == 'w') ++p;
                ASSERT_LT(p, plain.size()) << "an extra call: " << Describe(j);
                const TCall& c = plain[p];
                ASSERT_EQ(Describe(j), Describe(c)) << "call " << p << " (seed " << seed << ")";
                ASSERT_EQ(j.Bytes, c.Bytes) << Describe(j) << " (seed " << seed << ")";
                ++p;
                continue;
            }
            ++joinedWrites;
            // The run of plain writes this write joins.
            nextWrite();
            ASSERT_LT(writeAt, plain.size()) << "an extra write: " << Describe(j);
            std::string run;
            long long at = j.Offset;
            std::size_t last = writeAt;
            while (run.size() < j.Bytes.size()) {
                nextWrite();
                ASSERT_LT(writeAt, plain.size()) << Describe(j);
                const TCall& c = plain[writeAt];
                ASSERT_EQ(c.File, j.File) << "write " << writeAt << " (seed " << seed << ")";
                ASSERT_EQ(c.Offset, at) << "write " << writeAt << " (seed " << seed << ")";
                run += c.Bytes;
                at += c.Length;
                last = writeAt++;
            }
            ASSERT_EQ(run, j.Bytes) << Describe(j);
            // Every call the plain run made before the run's last write has been made already:
            // the joined write does not come early.
            for (std::size_t k = p; k < last; ++k) {
                ASSERT_EQ(plain[k].Kind, 'w')
                    << "written after " << Describe(plain[k]) << " (seed " << seed << ")";
            }
            // Calls matched since the run's last write must be harmless to pass.
            for (std::size_t k = last + 1; k < p; ++k) {
                const TCall& c = plain[k];
                if (c.Kind == 'w') continue;
                const bool passable =
                    (c.Kind == 'r' || c.Kind == 'f' || c.Kind == 'c') && c.File != j.File;
                ASSERT_TRUE(passable)
                    << "written after " << Describe(c) << " (seed " << seed << ")";
            }
        }
        while (p < plain.size() && plain[p].Kind == 'w') ++p;
        EXPECT_EQ(p, plain.size()) << "calls missing";
        nextWrite();
        EXPECT_EQ(writeAt, plain.size()) << "writes missing";

        ASSERT_GT(plainWrites, 100);  // the recording saw the system layer's calls
        if (std::string(w.Synchronous) != "OFF") {
            EXPECT_GT(syncs, 0);
        }
        // Pages of a quarter of the joined bytes or less are joined (the rollback journal's
        // three writes a page, and pages written in order). With a cache of a few pages and
        // changes all over the table, most writes stand alone: a load in order joins far
        // more (the benchmark counts them).
        if (std::string(w.JournalMode) != "WAL" && w.PageSize * 4 <= kJoinedBytes) {
            EXPECT_LT(joinedWrites, plainWrites);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layer, JoinedWrites,
                         ::testing::Values(TWorkload{"Delete4096", "DELETE", "FULL", 4096},
                                           TWorkload{"Delete1024Normal", "DELETE", "NORMAL", 1024},
                                           TWorkload{"Truncate65536", "TRUNCATE", "FULL", 65536},
                                           TWorkload{"Persist4096Off", "PERSIST", "OFF", 4096},
                                           TWorkload{"Memory4096", "MEMORY", "FULL", 4096},
                                           TWorkload{"Wal4096", "WAL", "NORMAL", 4096}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The file may not grow past a limit (as on a full disk) while a transaction writes through the
// layer: the transaction fails, and the file holds what was committed before, intact, whatever
// file reached the limit first and whatever a held write was joined with.
struct TFullDisk {
    const char* Name;
    const char* JournalMode;
    int PagesOver;  // the limit, in pages past the committed file's size
};
void PrintTo(const TFullDisk& c, std::ostream* os) {
    *os << c.Name;
}

class JoinedWritesOnAFullDisk : public ::testing::TestWithParam<TFullDisk> {};

TEST_P(JoinedWritesOnAFullDisk, TheTransactionFailsAndTheCommittedRowsStay) {
    const TFullDisk& c = GetParam();
    ASSERT_NE(SqliteJoinedWritesVfs(), nullptr);
    TempDir dir;
    const std::string file = dir.File("t.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              SqliteJoinedWritesVfs()),
              SQLITE_OK);
    Exec(db, std::string("PRAGMA journal_mode = ") + c.JournalMode);
    Exec(db, "PRAGMA cache_size = 8");
    Exec(db, "CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB)");
    Exec(db,
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
         "INSERT INTO t (v) SELECT zeroblob(i * 7) FROM n");
    const std::string committed = "300|316050";

    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(file) + c.PagesOver * 4096);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    // Updates all over the table (journaled pages) and new pages, more than the cache holds.
    int rc = sqlite3_exec(db,
                          "BEGIN; UPDATE t SET v = zeroblob(length(v) + 1); "
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i "
                          "< 2000) INSERT INTO t (v) SELECT zeroblob(1000) FROM n; COMMIT",
                          nullptr, nullptr, nullptr);
    EXPECT_NE(rc, SQLITE_OK);
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    // The connection goes on: a later transaction is stored.
    Exec(db, "INSERT INTO t (v) VALUES (x'01')");
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);

    // A connection of the system layer reads the file as committed.
    EXPECT_EQ(RowsSeen(file,
                       "PRAGMA integrity_check; SELECT count(*), sum(length(v)) FROM t WHERE k <= "
                       "300; SELECT count(*) FROM t WHERE k > 300"),
              "ok\n" + committed + "\n1\n");
}

INSTANTIATE_TEST_SUITE_P(
    Layer, JoinedWritesOnAFullDisk,
    ::testing::Values(TFullDisk{"DeleteAtOnce", "DELETE", 0}, TFullDisk{"Delete3", "DELETE", 3},
                      TFullDisk{"Delete40", "DELETE", 40}, TFullDisk{"Truncate17", "TRUNCATE", 17},
                      TFullDisk{"Persist9", "PERSIST", 9}, TFullDisk{"Persist0", "PERSIST", 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// The share of the file's pages in [begin, end) that the system holds in its cache.
double CachedShare(const std::string& path, off_t begin, off_t end) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    const off_t size = std::filesystem::file_size(path);
    void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return -1;
    const long page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> cached(static_cast<size_t>((size + page - 1) / page));
    const int rc = ::mincore(map, static_cast<size_t>(size), cached.data());
    ::munmap(map, static_cast<size_t>(size));
    if (rc != 0) return -1;
    int in = 0, all = 0;
    for (off_t p = begin / page; p < std::min(end, size) / page; ++p, ++all)
        in += cached[static_cast<size_t>(p)] & 1;
    return all == 0 ? -1 : static_cast<double>(in) / all;
}

// Reads the file a page at a time, without read-ahead, into the system's cache.
void CacheByPages(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    char page[4096];
    for (off_t at = 0; ::pread(fd, page, sizeof page, at) > 0; at += sizeof page) {
    }
    ::close(fd);
}

// A synced write leaves the system's cache, a page that was only read stays in it, and the
// file reads back as written.
TEST(JoinedWritesCache, PagesASyncMadeDurableLeaveTheCacheAndOthersStay) {
    ASSERT_NE(SqliteJoinedWritesVfs(), nullptr);
    TempDir dir;
    struct statfs fs {};
    ASSERT_EQ(::statfs(dir.Path().c_str(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC) GTEST_SKIP() << "the cache is the only copy of a tmpfs file";
    const std::string file = dir.File("t.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              SqliteJoinedWritesVfs()),
              SQLITE_OK);
    Exec(db, "PRAGMA page_size = 4096");
    Exec(db, "CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB)");
    // 2,000 records of a page each, in one transaction: 8 MB.
    Exec(db,
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
         "INSERT INTO t (v) SELECT randomblob(3900) FROM n");
    const off_t size = std::filesystem::file_size(file);
    EXPECT_LT(CachedShare(file, 64 * 1024, size), 0.02);

    // Read back whole, then the records of the first 900 pages rewritten in one transaction:
    // the second half, not written, stays cached. (The file is read a page at a time, without
    // read-ahead: the system caches what it reads ahead in blocks of up to megabytes, and may keep
    // a block that a range covers only in part.)
    CacheByPages(file);
    EXPECT_GT(CachedShare(file, 64 * 1024, size), 0.9);
    Exec(db, "UPDATE t SET v = randomblob(3900) WHERE k <= 900");
    EXPECT_LT(CachedShare(file, 64 * 1024, 850 * 4096), 0.05);
    EXPECT_GT(CachedShare(file, size / 2, size), 0.9);
    // The header, which SQLite reads at the start of every transaction, stays.
    EXPECT_EQ(CachedShare(file, 0, 4096), 1.0);

    // A transaction of a few pages stays cached until enough was written to be worth the calls.
    CacheByPages(file);
    Exec(db, "UPDATE t SET v = randomblob(3900) WHERE k BETWEEN 1500 AND 1510");
    EXPECT_GT(CachedShare(file, 1480 * 4096, 1540 * 4096), 0.95);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);

    EXPECT_EQ(RowsSeen(file, "PRAGMA integrity_check; SELECT count(*), sum(length(v)) FROM t"),
              "ok\n2000|7800000\n");
}

}  // namespace
}  // namespace qel::test
