// Evaluation ahead of the row loop on a second thread.
//
// While the row loop writes one row, a helper thread reads, splits and evaluates the rows after
// it into a ring of slots; the loop then takes a row's values from its slot instead of
// evaluating them. Only work that no one can observe moves to the helper: reading source rows
// (which the run never changes), fetching bound plain names, trimming, empty text as null, the
// conversions that read nothing but their own plan (text, integer and Boolean fields) and
// `DashNull`. Every event, counter, write and error stays on the calling thread in its order.
// The component checks before every row that nothing the helper relies on has changed (a
// handler may change settings or assign handlers at any time); when something has, the helper
// is stopped, what it worked out is thrown away and the run goes on evaluating on its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Variant.h"
#include "engine/QelConvert.h"

namespace qel {

// The rows of a source as another thread reads them: by position, without the source's own
// run state, from data the run does not change while it loops.
class TQelRowReader {
  public:
    virtual ~TQelRowReader() = default;
    // Loads the row at `position` (0 is the run's first row, as FirstRow and NextRow count);
    // false when the run has no such row.
    virtual bool LoadRow(std::int64_t position) = 0;
    // The value of bound name `handle` for the loaded row, as GetBoundSourceValue gives it.
    virtual void ReadBound(int handle, std::string& out) = 0;
};

// What the helper does to one value of a row, fixed when it starts.
struct TQelAheadValue {
    int Handle = -1;            // the source's binding of the entry's plain name
    bool Convert = false;       // the entry has a destination field
    bool NumericField = false;  // for DashNull
    TQelFieldConversion Plan;   // the field's conversion (text, integer or Boolean only)
};

// The settings the helper's work follows, fixed when it starts.
struct TQelAheadRules {
    std::vector<TQelAheadValue> Values;  // one per RowValues entry, in order
    std::uint8_t TrimSpaces = 0;         // a TQelTrimSpaces
    bool DashNull = false;
    char DecimalSeparator = '.';  // the process-wide one, which the integer test reads
};

// The helper thread and its ring of evaluated rows.
class TQelAhead {
  public:
    // Starts the helper at row `first`.
    TQelAhead(std::unique_ptr<TQelRowReader> reader, TQelAheadRules rules, std::int64_t first);
    ~TQelAhead();  // stops the helper
    TQelAhead(const TQelAhead&) = delete;
    TQelAhead& operator=(const TQelAhead&) = delete;

    // The values of row `position`, once the helper has them; nullptr when it has not got that
    // row (it is past the source's end, or not the next row in order, or the helper failed).
    std::vector<Variant>* Take(std::int64_t position);
    // Gives the slot of the row last taken back to the helper.
    void Release();
    const TQelAheadRules& Rules() const { return rules_; }

  private:
    static constexpr std::uint64_t kSlots = 256;  // a power of two
    struct Slot {
        std::vector<Variant> Values;
    };

    void Run() noexcept;
    void Evaluate(Slot& slot);

    std::unique_ptr<TQelRowReader> reader_;
    TQelAheadRules rules_;
    std::int64_t first_;
    std::vector<Slot> ring_;
    // Rows the helper has filled and rows the loop has given back, counted from `first_`.
    std::atomic<std::uint64_t> produced_{0};
    std::atomic<std::uint64_t> consumed_{0};
    std::atomic<bool> ended_{false};  // the helper has filled its last row (or failed)
    std::atomic<bool> stop_{false};
    // A thread that finds nothing to do says so and sleeps on its bell; the other rings it.
    std::atomic<bool> loopWaiting_{false};
    std::atomic<bool> helperWaiting_{false};
    std::atomic<std::uint32_t> loopBell_{0};
    std::atomic<std::uint32_t> helperBell_{0};
    std::uint64_t taken_ = 0;  // the loop's next row, counted from `first_`
    std::thread thread_;
};

}  // namespace qel
