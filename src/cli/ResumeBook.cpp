#include "cli/ResumeBook.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "core/Errors.h"
#include "core/TextUtil.h"
#include "text/ByteInput.h"

namespace qel::cli {

namespace {

constexpr const char* kCreate =
    "CREATE TABLE IF NOT EXISTS qel_resume (device INTEGER NOT NULL, inode INTEGER NOT NULL, "
    "first_line TEXT NOT NULL, name TEXT NOT NULL, offset INTEGER NOT NULL, lines INTEGER NOT "
    "NULL, loaded TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP, PRIMARY KEY (first_line, device, "
    "inode))";

// The first line is read as far as this; a longer first line is known by this much of it.
constexpr std::size_t kFirstLineMax = 64 * 1024;

std::string HexHash(const std::string& bytes) {
    // FNV-1a, 64 bits: enough to tell the files of one log apart; it is no security measure.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

struct TStmt {
    sqlite3_stmt* s = nullptr;
    TStmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
            throw EDatabaseError(Format("Cannot use the resume table: %s", sqlite3_errmsg(db)));
    }
    ~TStmt() { sqlite3_finalize(s); }
    TStmt(const TStmt&) = delete;
    TStmt& operator=(const TStmt&) = delete;
};

}  // namespace

TFileIdentity IdentifyFile(const std::string& fileName) {
    TFileIdentity id;
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) throw EFOpenError(Format(msg::kFOpenError, fileName));
    id.Device = static_cast<std::int64_t>(st.st_dev);
    id.Inode = static_cast<std::int64_t>(st.st_ino);
    id.Size = static_cast<std::int64_t>(st.st_size);

    std::unique_ptr<TByteInput> plain = OpenFileInput(fileName);
    char magic[2] = {};
    id.Compressed = plain->Read(magic, 2) == 2 && magic[0] == '\x1f' && magic[1] == '\x8b';
    plain->Rewind();
    std::unique_ptr<TByteInput> in = Decompressed(std::move(plain), cmAuto, fileName);
    std::string first;
    char buffer[4096];
    while (first.size() < kFirstLineMax) {
        const std::size_t n = in->Read(buffer, sizeof buffer);
        if (n == 0) break;
        first.append(buffer, n);
        const std::size_t eol = first.find('\n');
        if (eol != std::string::npos) {
            first.resize(eol);
            break;
        }
    }
    if (first.size() > kFirstLineMax) first.resize(kFirstLineMax);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    in->Finish();
    if (!first.empty()) id.FirstLineHash = HexHash(first);
    return id;
}

TResumeBook::TResumeBook(sqlite3* db) : db_(db) {
    char* message = nullptr;
    if (sqlite3_exec(db_, kCreate, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw EDatabaseError(Format("Cannot create the resume table: %s", text));
    }
}

TResumePoint TResumeBook::Find(const TFileIdentity& file) const {
    TResumePoint point;
    if (file.FirstLineHash.empty()) return point;
    // The same file (device and inode) first; else a copy of it under another inode, as a
    // rotated and compressed log is: the one loaded furthest.
    TStmt q(db_,
            "SELECT offset, lines FROM qel_resume WHERE first_line = ?1 "
            "ORDER BY (device = ?2 AND inode = ?3) DESC, offset DESC LIMIT 1");
    sqlite3_bind_text(q.s, 1, file.FirstLineHash.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(q.s, 2, file.Device);
    sqlite3_bind_int64(q.s, 3, file.Inode);
    if (sqlite3_step(q.s) == SQLITE_ROW) {
        point.Offset = sqlite3_column_int64(q.s, 0);
        point.Lines = sqlite3_column_int64(q.s, 1);
    }
    // A plain file shorter than what was loaded of it was truncated or replaced: from its start.
    if (!file.Compressed && point.Offset > file.Size) point = TResumePoint{};
    return point;
}

void TResumeBook::Record(const TFileIdentity& file, const std::string& name,
                         const TResumePoint& point) {
    if (file.FirstLineHash.empty()) return;
    TStmt q(db_,
            "INSERT INTO qel_resume (device, inode, first_line, name, offset, lines) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (first_line, device, inode) DO UPDATE "
            "SET name = excluded.name, offset = excluded.offset, lines = excluded.lines, "
            "loaded = CURRENT_TIMESTAMP");
    sqlite3_bind_int64(q.s, 1, file.Device);
    sqlite3_bind_int64(q.s, 2, file.Inode);
    sqlite3_bind_text(q.s, 3, file.FirstLineHash.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(q.s, 4, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(q.s, 5, point.Offset);
    sqlite3_bind_int64(q.s, 6, point.Lines);
    if (sqlite3_step(q.s) != SQLITE_DONE)
        throw EDatabaseError(Format("Cannot write the resume table: %s", sqlite3_errmsg(db_)));
}

}  // namespace qel::cli
