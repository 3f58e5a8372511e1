// Evaluation ahead of the row loop on a second thread.
//
// While the row loop writes one row, a helper thread reads the rows after it from the source,
// splits and evaluates them into a bounded ring of slots; the loop then takes a row's record
// and values from its slot instead of reading and evaluating them. Only work that no one can
// observe moves to the helper: reading source records (with the reading rules the run fixed
// when it opened the source), fetching bound plain names, trimming, empty text as null, the
// conversions that read nothing but their own plan (text, integer and Boolean fields) and
// `DashNull`. Every event, counter, write and error stays on the calling thread in its order.
// The component checks before every row that nothing the helper relies on has changed (a
// handler may change settings or assign handlers at any time); when something has, the helper
// is stopped, the values it worked out are thrown away and the run goes on evaluating on its
// own. The records it read stay: the source takes them from the stopped helper before it reads
// on from where the helper left off.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Variant.h"
#include "engine/QelConvert.h"

namespace qel {

// A row the helper read: the source's record and what was worked out for it.
struct TQelAheadRow {
    std::string Record;
    std::int64_t Start = 0;  // the record's offsets in the source, as the source counts them
    std::int64_t End = 0;
    bool Evaluated = false;  // Values holds the row's values (false when evaluating failed)
    std::vector<Variant> Values;
    // The destination's record as the row's add would set its fields, one value per field;
    // ready only when every mapped value is one the field stores unchanged.
    std::vector<Variant> Fields;
    bool FieldsReady = false;
};

// The rows of a source as the helper thread reads them: in order, from the reading state the
// source lent it for as long as the helper runs.
class TQelRowReader {
  public:
    virtual ~TQelRowReader() = default;
    // Reads the next row's record into row.Record, row.Start and row.End; false when the run
    // has no further row. An error raised here is raised by the loop when it asks for the row.
    virtual bool ReadRow(TQelAheadRow& row) = 0;
    // The value of bound name `handle` for the row last read, as GetBoundSourceValue gives it.
    virtual void ReadBound(int handle, std::string& out) = 0;
};

// What the helper does to one value of a row, fixed when it starts.
struct TQelAheadValue {
    int Handle = -1;            // the source's binding of the entry's plain name
    bool Convert = false;       // the entry has a destination field
    bool NumericField = false;  // for DashNull
    TQelFieldConversion Plan;   // the field's conversion (text, integer or Boolean only)
};

// A field that the write of a row sets, in the order the mapping entries set them.
struct TQelAheadField {
    // What the field stores unchanged: text for a text field, a whole number for an integer
    // field, a truth value for a Boolean field.
    enum TStores : std::uint8_t { fsText, fsInteger, fsBoolean };
    std::size_t Value = 0;  // the RowValues entry
    std::size_t Field = 0;  // the field's index
    TStores Stores = fsText;
};

// The settings the helper's work follows, fixed when it starts.
struct TQelAheadRules {
    std::vector<TQelAheadValue> Values;  // one per RowValues entry, in order
    // The fields an add sets (none: no record is prepared), and how many the destination has.
    std::vector<TQelAheadField> Fields;
    std::size_t FieldCount = 0;
    std::uint8_t TrimSpaces = 0;  // a TQelTrimSpaces
    bool DashNull = false;
    char DecimalSeparator = '.';  // the process-wide one, which the integer test reads
};

// The helper thread and its ring of rows read ahead.
class TQelAhead {
  public:
    // Starts the helper; the first row it reads is row `first` of the loop.
    TQelAhead(std::unique_ptr<TQelRowReader> reader, TQelAheadRules rules, std::int64_t first);
    ~TQelAhead();  // stops the helper
    TQelAhead(const TQelAhead&) = delete;
    TQelAhead& operator=(const TQelAhead&) = delete;

    // Row `position` of the loop, waiting for the helper while it runs; the rows before it are
    // given back to the helper. nullptr when the helper did not read that row (the source has
    // no more rows, reading failed, or it was stopped before), or it was already given back.
    TQelAheadRow* Row(std::int64_t position);
    // Stops the helper (it finishes the row in hand). The rows it read stay for Row.
    void Stop() noexcept;
    bool Running() const { return thread_.joinable(); }
    // What reading raised in the helper, once it has ended; null when nothing did.
    std::exception_ptr ReadFailure() const { return readFailure_; }

  private:
    static constexpr std::uint64_t kSlots = 256;  // a power of two
    // The helper waits also while the records in the ring hold this many bytes (long records).
    static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;
    // The loop gives slots back this many at a time (and before it waits for the helper).
    static constexpr std::uint64_t kGiveBack = 32;
    // A loop that waits for the helper is woken when this many more rows are ready (or the
    // helper stops or finds the ring full), not at every row: when the helper is the slower
    // thread, a wake-up per row would cost two system calls a row.
    static constexpr std::uint64_t kWakeBatch = 32;

    void Run() noexcept;
    void Evaluate(TQelAheadRow& row);
    void PrepareFields(TQelAheadRow& row) const;
    bool Full(std::uint64_t n) const;
    // Whether a helper that found the ring full at row n may go on: half of the ring (and of its
    // bytes) given back. Waking it only then keeps the two threads from handing over one row at a
    // time, which costs a sleep and a wake-up per row once the helper is ahead.
    bool Resumable(std::uint64_t n) const;
    // Waits until the helper has filled row `index` (from `first_`); false when it never will.
    bool WaitFor(std::uint64_t index);
    // Gives the slots the loop has taken back to the helper, waking it when it waits for them.
    void GiveBack();

    std::unique_ptr<TQelRowReader> reader_;
    TQelAheadRules rules_;
    std::int64_t first_;
    std::vector<TQelAheadRow> ring_;
    std::vector<std::size_t> sizes_;  // the record bytes of each slot, as the helper filled it
    // What each thread tells the other sits on a cache line of its own, written by one thread
    // only, so that the two cores do not pass the same line back and forth on every row.
    // Rows the helper has filled and the bytes of their records, counted from `first_`:
    alignas(64) std::atomic<std::uint64_t> produced_{0};
    std::atomic<std::uint64_t> bytesIn_{0};
    // Rows and record bytes the loop has given back:
    alignas(64) std::atomic<std::uint64_t> consumed_{0};
    std::atomic<std::uint64_t> bytesOut_{0};
    alignas(64) std::atomic<bool> ended_{false};  // the helper has read its last row (or failed)
    std::atomic<bool> stop_{false};
    // A thread that finds nothing to do says so and sleeps on its bell; the other rings it.
    alignas(64) std::atomic<bool> loopWaiting_{false};
    std::atomic<std::uint32_t> loopBell_{0};
    std::atomic<std::uint64_t> loopWakeAt_{0};  // the rows filled at which the loop is woken
    alignas(64) std::atomic<bool> helperWaiting_{false};
    std::atomic<std::uint32_t> helperBell_{0};
    std::exception_ptr readFailure_;  // written by the helper before ended_
    // The loop's own: its oldest row not done with, the rows and bytes it has given back, and
    // the rows it last saw filled (from `first_`).
    alignas(64) std::uint64_t taken_ = 0;
    std::uint64_t givenBack_ = 0;
    std::uint64_t bytesTaken_ = 0;
    std::uint64_t seenProduced_ = 0;
    std::thread thread_;
};

}  // namespace qel
