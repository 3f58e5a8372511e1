// The writes of an open write transaction, kept so that they can be written again.
//
// Some failures (a full disk, an I/O error, a size cap on the file) make SQLite take back the
// whole open transaction, not only the write that failed. A table keeps every write of a bulk
// stretch here until the stretch commits; after such a failure it writes them again in a new
// transaction, so only the failing write is lost. The log is storage-neutral: it keeps kinds,
// record ids and values, and the table decides how to write them.
//
// The values of all writes are packed into one buffer (per field a kind byte, or kNotAssigned
// for a field the write left out, then the value's bytes), so keeping a write costs one copy
// of its bytes and no allocation per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSet.h"

namespace qel {

class TReplayLog {
  public:
    enum TWriteKind : char { wkInsert = 'i', wkUpdate = 'u', wkDelete = 'd' };

    // One write as it is read back.
    struct TWrite {
        TWriteKind Kind = wkInsert;
        TRecordId Id = 0;
        std::vector<Variant> Values;  // one per field (an insert or update; empty for a delete)
        TFieldFlags Assigned;         // the fields the write assigned
    };

    // Keeps a write. `values` and `assigned` (one entry per field) are given for an insert or
    // update and are nullptr for a delete.
    void Add(TWriteKind kind, TRecordId id, const std::vector<Variant>* values,
             const TFieldFlags* assigned);
    void Clear();
    // Keeps only the first `size` writes (the others were never written).
    void Truncate(std::size_t size);

    std::size_t Size() const { return writes_.size(); }
    // The bytes the kept values take.
    std::size_t Bytes() const { return size_; }
    // False once a value was kept that cannot be packed (an array); the log is then of no use
    // for writing the transaction again.
    bool Replayable() const { return replayable_; }
    // The write at `index` (0-based, in the order they were kept), unpacked into `out`.
    void Get(std::size_t index, TWrite& out) const;

  private:
    struct Entry {
        TWriteKind Kind;
        std::uint32_t Fields;  // fields packed from First (0 for a delete)
        TRecordId Id;
        std::size_t First;
    };
    // Room for `bytes` more bytes at the end of the values, which grow by them; what was written
    // before stays. The buffer is not cleared when it grows, which a string's resize would do.
    char* Extend(std::size_t bytes);

    std::vector<Entry> writes_;
    std::unique_ptr<char[]> values_;
    std::size_t size_ = 0;      // bytes of values_ in use
    std::size_t capacity_ = 0;  // bytes of values_
    bool replayable_ = true;
};

}  // namespace qel
