// Cutting the records of a byte input a chunk at a time.
//
// The fast cutter runs over the bytes at hand. A record it ends at a separator is final: the
// cutter decides on the bytes before the record's end only. A record that runs to the end of
// the bytes at hand may go on in the bytes not yet read; it is cut again from its start once
// more bytes are in (the read then is at least as long as the record so far, so a long record
// costs a bounded number of passes over its bytes). Only the end marks (#26, #27) that trail
// the whole input are removed, so a record whose separator ends with such a mark waits, too,
// until a byte that is no mark follows.
#include <algorithm>
#include <cstring>

#include "text/ByteInput.h"
#include "text/TextReader.h"

namespace qel {

TRecordStream::TRecordStream(TByteInput& input, std::string_view separator, char qualifier,
                             char delimiter, std::size_t chunkSize, std::uint64_t origin,
                             std::uint64_t limit, bool limitEnds)
    : input_(input),
      separator_(separator),
      qualifier_(qualifier),
      delimiter_(delimiter),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)),
      origin_(origin),
      limit_(limit),
      limitEnds_(limitEnds),
      base_(origin),
      recordStart_(origin),
      recordEnd_(origin),
      position_(origin) {
    Cut(0);
}

void TRecordStream::Cut(std::size_t from) {
    cutFrom_ = from;
    const std::string_view text(buffers_[current_].data() + from, size_ - from);
    cutter_ = TRecordCutter(text, separator_, qualifier_, delimiter_);
}

bool TRecordStream::Next(std::string_view& record) {
    for (;;) {
        TRecordRange r;
        if (!cutter_.Next(r)) {
            if (ended_) {
                position_ = origin_ + read_;
                return false;
            }
            Refill(size_);
            continue;
        }
        const std::size_t start = cutFrom_ + r.Offset;
        const std::size_t end = cutFrom_ + cutter_.Position();
        const bool toTheEnd = start + r.Length == size_;
        if (ended_ && endedShort_ && toTheEnd) {
            // The input stopped short of its limit within this record: it was cut off.
            position_ = base_ + start;
            return false;
        }
        if (!ended_ && (toTheEnd || end > solidEnd_)) {
            Refill(start);
            continue;
        }
        record = std::string_view(buffers_[current_].data() + start, r.Length);
        recordStart_ = base_ + start;
        recordEnd_ = base_ + end;
        position_ = recordEnd_;
        return true;
    }
}

void TRecordStream::Refill(std::size_t keepFrom) {
    std::vector<char>& here = buffers_[current_];
    if (size_ < here.size()) {
        // Room left behind the bytes at hand: read into it, so that an input that fits in
        // the buffer is held whole (and Restart can serve a second pass).
        cutFrom_ = keepFrom;
    } else {
        // Move the unfinished record to the front of a buffer (the other one when the last
        // record is pinned in this one), growing it for a long record.
        const std::size_t keep = size_ - keepFrom;
        const int target = pinned_ == current_ ? 1 - current_ : current_;
        std::vector<char>& to = buffers_[target];
        const std::size_t room = std::max({chunkSize_ / 2, keep, std::size_t{1}});
        const std::size_t wanted = keep + std::max(chunkSize_, keep);
        if (target == current_) {
            if (keep > 0 && keepFrom > 0) std::memmove(to.data(), to.data() + keepFrom, keep);
            if (to.size() < keep + room) to.resize(wanted);
        } else {
            if (to.size() < keep + room) {
                to.clear();
                to.resize(wanted);
            }
            if (keep > 0) std::memcpy(to.data(), here.data() + keepFrom, keep);
        }
        dropped_ = dropped_ || keepFrom > 0;
        base_ += keepFrom;
        current_ = target;
        size_ = keep;
        cutFrom_ = 0;
    }
    std::vector<char>& buffer = buffers_[current_];
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - size_, limit_ - read_));
    const std::size_t got = want > 0 ? input_.Read(buffer.data() + size_, want) : 0;
    read_ += got;
    size_ += got;
    bool strip = false;
    if (got == 0 && want > 0) {
        ended_ = true;
        strip = true;
        endedShort_ = limit_ != std::numeric_limits<std::uint64_t>::max();
    } else if (read_ == limit_) {
        ended_ = true;
        strip = limitEnds_;
    }
    const std::size_t solid =
        std::max(cutFrom_, StripEndMarks(std::string_view(buffer.data(), size_)).size());
    if (strip) size_ = solid;
    solidEnd_ = solid;
    Cut(cutFrom_);
}

bool TRecordStream::Restart() {
    if (dropped_) return false;
    recordStart_ = recordEnd_ = position_ = origin_;
    Cut(0);
    return true;
}

}  // namespace qel
