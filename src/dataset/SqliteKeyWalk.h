// A keyed run's searches of a text key, answered by walking the key's index forward.
//
// A keyed run searches the table once per row for the first record (by rowid) of the row's key.
// Rows of a log come in time order, and so do the records a table holds from an earlier load of
// the same log: the record a row looks for is most often at, or a step or two after, the index
// entry the row before found. A search by itself costs SQLite a descent of the index from its
// root and a statement's start and end; one statement left open over the index answers such a
// search with those few steps.
//
// The walk is a statement over the records whose key is at least a sought key, in the index's
// order (key bytes, then rowid), giving each record's rowid, key and columns. Its current entry
// is the first whose key is at least the last key sought. A search for a key not below that one
// steps forward to the first entry at least as large (at most kMaxSteps steps, else the walk
// starts again at the key); a search for a smaller key starts the walk again. The entry reached
// answers the search as the search by equality does: when its key has the sought bytes it is
// the first record of that key, else the table holds none.
//
// A walk that starts again costs more than the search by equality (it reads the whole record,
// and steps that did not reach the key were spent for nothing). So the walk watches its own
// luck: when more than half of kProbe searches had to start it again (keys in no order, or
// writes in between that end it), the next kRest searches go by equality.
//
// The table keeps the walk only inside its own write transaction (so no other connection writes
// meanwhile) and only while the index is as the walk read it: every write moves the table's
// serial on, and only an update that writes neither the key nor the rowid carries the walk over
// to the new serial (Carry). The current entry's columns are what the record holds until a
// write, so an update of that record that would store exactly what it holds need not run.
// The statement is reset (Stop) before every transaction's end.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/DataSet.h"

struct sqlite3_stmt;

namespace qel {

class TSqliteKeyWalk {
  public:
    // Steps a search may take from the current entry before the walk starts again instead.
    static constexpr int kMaxSteps = 4;
    // The searches watched at a time, and those that go by equality after a run of bad luck.
    static constexpr int kProbe = 64;
    static constexpr int kRest = 1024;
    // The walk's columns: the rowid, then every field in field order (the key among them).
    static constexpr int kFirstField = 1;
    // Compare's answer for an entry whose key is no text (a blob, or a value the column's
    // affinity should not have let in): the walk cannot tell where it stands.
    static constexpr int kIncomparable = 2;

    // The statement on its current entry, nullptr when stopped.
    sqlite3_stmt* Statement() const { return s_; }
    // The key field walked, -1 when stopped.
    int Field() const { return field_; }
    // Whether the walk is over the key field `field` and still holds at the table's `serial`.
    bool Holds(int field, std::uint64_t serial) const {
        return s_ != nullptr && field_ == field && serial_ == serial;
    }
    // Whether the next search should try the walk (false while it rests); counts it.
    bool Worthwhile() {
        if (rest_ == 0) return true;
        --rest_;
        return false;
    }
    // A search tried the walk; `restarted`: it had to start the walk again.
    void Tried(bool restarted) {
        ++probed_;
        if (restarted) ++restarts_;
        if (probed_ < kProbe) return;
        if (restarts_ * 2 > kProbe) rest_ = kRest;
        probed_ = restarts_ = 0;
    }
    // Whether a search for `key` may go on from the current entry (it is not below the last key
    // sought). Byte order, shorter first, as SQLite's BINARY collation.
    bool MayGoOnTo(const std::string& key) const { return key.compare(sought_) >= 0; }
    // Whether the current entry is record `id` and its columns are as the record holds them
    // (nothing was written since it was read).
    bool StandsOnRecordAsRead(TRecordId id) const;

    // The walk now runs statement `s`, whose first step is taken next.
    void Started(sqlite3_stmt* s, int field, std::uint64_t serial) {
        s_ = s;
        field_ = field;
        serial_ = serial;
    }
    // After a step of the statement (`atEnd`: it had no further entry).
    void Stepped(bool atEnd);
    // The key a search has just been answered for.
    void Sought(const std::string& key) { sought_.assign(key); }
    // The walk holds at `serial` too: what was written since the last serial moved no entry.
    // `wrote`: a record was changed, which may be the current entry's.
    void Carry(std::uint64_t serial, bool wrote) {
        serial_ = serial;
        if (wrote) asRead_ = false;
    }

    // The current entry's key against `key`: below (< 0), the same bytes (0), above (> 0, also
    // at the end), or kIncomparable.
    int Compare(const std::string& key) const;
    // Resets the statement (its read ends) and forgets the position.
    void Stop() noexcept;

  private:
    sqlite3_stmt* s_ = nullptr;
    int field_ = -1;
    std::uint64_t serial_ = 0;
    bool atEnd_ = false;
    bool asRead_ = false;
    // The current entry's key as the statement gives it (valid until its next step).
    bool keyIsText_ = false;
    const char* key_ = nullptr;
    std::size_t keySize_ = 0;
    std::string sought_;  // buffer kept between searches
    int probed_ = 0;      // searches watched in this probe
    int restarts_ = 0;    // of which started the walk again
    int rest_ = 0;        // searches still to go by equality
};

}  // namespace qel
