// What `qel import --resume` remembers of the files it loaded: a small table in the destination
// database (qel_resume) with a row per file, known by its device and inode and by a hash of its
// first line, so that a file renamed by log rotation (same inode) or compressed after it (same
// first line) is recognised under its new name. A row says how far the file was loaded: the
// byte offset just past the last line dealt with (in the decompressed bytes) and that line's
// number. The row is written inside every commit of the run's records (a hook of the SQLite
// table), so a run that is killed, fails or is cancelled leaves a position that matches the
// rows stored, and the next run goes on from there: every line is loaded exactly once.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace qel::cli {

// A file as --resume knows it.
struct TFileIdentity {
    std::int64_t Device = 0;
    std::int64_t Inode = 0;
    std::string FirstLineHash;  // hex digits; empty for an empty file
    std::int64_t Size = 0;      // bytes on disk (compressed for a .gz)
    bool Compressed = false;
};

// How far a file was loaded.
struct TResumePoint {
    std::int64_t Offset = 0;  // decompressed bytes dealt with
    std::int64_t Lines = 0;   // lines dealt with (the next line's number is Lines + 1)
};

// Reads the identity of a file; raises EFOpenError when it cannot be opened.
TFileIdentity IdentifyFile(const std::string& fileName);

class TResumeBook {
  public:
    // Creates the bookkeeping table in the database when it is missing. Raises EDatabaseError.
    explicit TResumeBook(sqlite3* db);

    // Where loading `file` goes on: from its start when the book has no row for it, or when it
    // is shorter than the bytes already loaded (truncated, or replaced by a smaller file).
    TResumePoint Find(const TFileIdentity& file) const;
    // Records that `file` (now called `name`) was loaded up to `point`, on the book's
    // connection, in whatever transaction is open there. Raises EDatabaseError.
    void Record(const TFileIdentity& file, const std::string& name, const TResumePoint& point);

  private:
    sqlite3* db_;
};

}  // namespace qel::cli
