// The counting pass over a source, in two halves at once for a large file.
#include <atomic>
#include <exception>
#include <limits>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "core/TextUtil.h"
#include "text/ByteInput.h"
#include "text/TextReader.h"

namespace qel {

namespace {

// How far past the middle the first separator is looked for.
constexpr std::size_t kSearch = std::size_t{1} << 20;

// The records of the second half, counted on the helper thread.
struct THalf {
    std::int64_t Records = 0;
    std::int64_t NotBlank = 0;
    std::uint64_t Position = 0;
    bool ToTheEnd = false;
    std::exception_ptr Failure;
};

// The offset just past the first whole separator at or after `from`, reading `input` from
// there; 0 when none is within kSearch bytes.
std::uint64_t SeparatorAfter(TByteInput& input, std::uint64_t from, std::string_view separator) {
    std::vector<char> bytes(kSearch);
    std::size_t have = 0;
    while (have < bytes.size()) {
        const std::size_t got = input.Read(bytes.data() + have, bytes.size() - have);
        if (got == 0) break;
        have += got;
    }
    const std::size_t at = std::string_view(bytes.data(), have).find(separator);
    if (at == std::string_view::npos) return 0;
    return from + at + separator.size();
}

}  // namespace

TRecordCount CountRecords(TByteInput& input, TRecordStream& stream, TRecordKeeper& keeper,
                          const TRecordRules& rules, std::size_t chunkSize, std::string& headerLine,
                          std::uint64_t halvesFrom) {
    std::string_view record;
    bool more = true;
    std::uint64_t split = 0;
    THalf half;
    std::atomic<bool> stop{false};
    std::thread helper;
    struct Joiner {
        std::thread& thread;
        std::atomic<bool>& stop;
        ~Joiner() {
            stop.store(true, std::memory_order_relaxed);
            if (thread.joinable()) thread.join();
        }
    } joiner{helper, stop};

    bool first = true;
    while (!keeper.Done() && (more = stream.Next(record))) {
        keeper.Offer(record, &headerLine);
        if (first) {
            // After the first record, since only then does a gzip source know it passes its
            // bytes through.
            first = false;
            const std::uint64_t size = input.KnownSize();
            const std::uint64_t origin = stream.RecordStart();
            if (rules.RowLast == std::numeric_limits<std::int32_t>::max() &&
                SeparatorUsable(rules.Separator) && size > origin && size - origin >= halvesFrom) {
                const std::uint64_t middle = origin + (size - origin) / 2;
                std::unique_ptr<TByteInput> probe = input.ShareFrom(middle);
                if (probe) split = SeparatorAfter(*probe, middle, rules.Separator);
                std::unique_ptr<TByteInput> part = split ? input.ShareFrom(split) : nullptr;
                if (part == nullptr) split = 0;
                if (split != 0) {
                    helper = std::thread(
                        [&half, &stop, &rules, chunkSize, split, part = std::move(part)] {
                            try {
                                TRecordStream second(*part, rules.Separator, rules.Qualifier,
                                                     rules.Delimiter, chunkSize, split);
                                std::string_view r;
                                bool going = true;
                                while (!stop.load(std::memory_order_relaxed) &&
                                       (going = second.Next(r))) {
                                    ++half.Records;
                                    if (!IsBlank(r)) ++half.NotBlank;
                                }
                                half.Position = second.Position();
                                half.ToTheEnd = !going;
                            } catch (...) {
                                half.Failure = std::current_exception();
                            }
                        });
                }
            }
        }
        if (split != 0 && stream.Position() >= split) break;
    }
    if (split != 0) {
        // The halves meet when a record of the first ends right where the second starts, and
        // every record after it is kept unless blank (its numbers are past RowFirst and the
        // header's).
        const bool meet = more && stream.Position() == split &&
                          keeper.Numbered() >= std::int64_t{rules.RowFirst} - 1 &&
                          keeper.Numbered() >= rules.RowFieldNames;
        if (!meet) stop.store(true, std::memory_order_relaxed);
        helper.join();
        if (meet) {
            if (half.Failure) std::rethrow_exception(half.Failure);
            if (half.ToTheEnd) {
                return {keeper.Kept() + (rules.SkipEmptyRow ? half.NotBlank : half.Records),
                        half.Position, true};
            }
        }
        // Counted on alone from where the first half stopped.
        while (!keeper.Done() && (more = stream.Next(record))) keeper.Offer(record, &headerLine);
    }
    return {keeper.Kept(), stream.Position(), !more};
}

}  // namespace qel
