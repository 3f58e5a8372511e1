// Cutting a text into records and keeping those of the row range.
#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/TextUtil.h"
#include "text/TextReader.h"

namespace qel {

std::string_view StripEndMarks(std::string_view text) {
    while (!text.empty() && (text.back() == '\x1A' || text.back() == '\x1B')) {
        text.remove_suffix(1);
    }
    return text;
}

std::uint64_t TByteFinder::BlockMask(std::size_t block) const {
    const char* p = text_ + block;
    const std::size_t n = std::min<std::size_t>(64, size_ - block);
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    if (n == 64) {
        const __m128i a = _mm_set1_epi8(first_);
        const __m128i b = _mm_set1_epi8(second_);
        const auto part = [&](int k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b));
            return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hit))} << (16 * k);
        };
        return part(0) | part(1) | part(2) | part(3);
    }
#endif
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] == first_ || p[i] == second_) mask |= std::uint64_t{1} << i;
    }
    return mask;
}

std::size_t TByteFinder::FindBeyond(std::size_t from) {
    if (from >= size_) return size_;
    std::size_t block = from & ~std::size_t{63};
    if (block != block_) {
        block_ = block;
        mask_ = BlockMask(block);
    }
    std::uint64_t m = mask_ & (~std::uint64_t{0} << (from - block));
    for (int empty = 0; m == 0; ++empty) {
        block += 64;
        if (block >= size_) return size_;
        if (empty == 4) {
            // A long stretch without either byte: memchr crosses it faster (when both are one).
            if (first_ == second_) {
                const void* hit = std::memchr(text_ + block, first_, size_ - block);
                if (hit == nullptr) return size_;
                block = static_cast<std::size_t>(static_cast<const char*>(hit) - text_) &
                        ~std::size_t{63};
            }
        }
        block_ = block;
        mask_ = m = BlockMask(block);
    }
    return block + static_cast<std::size_t>(std::countr_zero(m));
}

TRecordCutter::TRecordCutter(std::string_view text, std::string_view separator, char qualifier,
                             char delimiter)
    : text_(text.data()),
      size_(text.size()),
      separator_(separator),
      qualifier_(qualifier),
      delimiter_(delimiter),
      separatorUsable_(SeparatorUsable(separator)),
      scanning_(separatorUsable_ &&
                (qualifier == '\0' || separator.find(qualifier) == separator.npos)) {
    if (scanning_) {
        finder_ = TByteFinder(text_, size_, separator_[0],
                              qualifier_ != '\0' ? qualifier_ : separator_[0]);
    }
}

bool TRecordCutter::MultiByteSeparatorAt(std::size_t p) const {
    return std::memcmp(text_ + p, separator_.data(), separator_.size()) == 0;
}

bool TRecordCutter::Next(TRecordRange& record) {
    if (pos_ >= size_) return false;
    if (!separatorUsable_) {
        record = {pos_, size_ - pos_};
        pos_ = size_;
        return true;
    }
    return scanning_ ? NextScanning(record) : NextStepwise(record);
}

// Character by character, for separators that contain the qualifier.
bool TRecordCutter::NextStepwise(TRecordRange& record) {
    const std::size_t r = pos_;
    const bool hasQualifier = qualifier_ != '\0';
    bool inQuote = hasQualifier && text_[r] == qualifier_;
    std::size_t p = r;
    for (;;) {
        if (p >= size_) {
            record = {r, size_ - r};
            pos_ = size_;
            return true;
        }
        if (SeparatorAt(p) && (!inQuote || (p > 0 && text_[p - 1] == qualifier_))) {
            record = {r, p - r};
            pos_ = p + separator_.size();
            return true;
        }
        ++p;
        if (p < size_ && hasQualifier && text_[p] == qualifier_) {
            if (!inQuote) {
                inQuote = true;
            } else if (delimiter_ == '\0' || (p + 1 < size_ && text_[p + 1] == delimiter_)) {
                inQuote = false;
            }
        }
    }
}

// Jumps between the separator's first byte and the qualifier. The separator holds no qualifier,
// so inside a quoted stretch it can only count right after a qualifier, and only qualifiers
// need to be visited there. A record that starts with the qualifier is entered as if that
// qualifier had just been met.
bool TRecordCutter::NextScanning(TRecordRange& record) {
    const std::size_t r = pos_;
    bool inQuote = false;
    std::size_t p = r;
    for (;;) {
        const std::size_t e = finder_.Find(p);
        if (e >= size_) break;
        p = e + 1;
        if (qualifier_ == '\0' || text_[e] != qualifier_) {
            // The separator's first byte: the separator ends the record outside quotes.
            if (!inQuote && SeparatorAt(e)) {
                record = {r, e - r};
                pos_ = e + separator_.size();
                return true;
            }
            continue;
        }
        // A qualifier: a separator right after it counts, quoted stretch or not.
        if (SeparatorAt(e + 1)) {
            record = {r, e + 1 - r};
            pos_ = e + 1 + separator_.size();
            return true;
        }
        if (!inQuote) {
            inQuote = true;
        } else if (delimiter_ == '\0' || (e + 1 < size_ && text_[e + 1] == delimiter_)) {
            inQuote = false;
        }
    }
    record = {r, size_ - r};
    pos_ = size_;
    return true;
}

TRecordKeeper::TRecordKeeper(const TRecordRules& rules)
    : skipEmpty_(rules.SkipEmptyRow),
      first_(rules.RowFirst),
      last_(rules.RowLast),
      header_(rules.RowFieldNames) {}

bool TRecordKeeper::Offer(std::string_view record, std::string* headerLine) {
    ++number_;
    if (skipEmpty_ && IsBlank(record)) return false;
    if (number_ == header_ && headerLine != nullptr) headerLine->assign(record);
    if (first_ <= number_ && number_ <= last_) {
        ++kept_;
        done_ = kept_ == last_;
        return true;
    }
    done_ = number_ >= last_ && number_ >= header_;
    return false;
}

void ReadRecords(std::string_view text, const TRecordRules& rules, std::string& headerLine,
                 std::vector<TRecordRange>& kept) {
    kept.clear();
    text = StripEndMarks(text);
    TRecordCutter cutter(text, rules.Separator, rules.Qualifier, rules.Delimiter);
    TRecordKeeper keeper(rules);
    TRecordRange record;
    while (!keeper.Done() && cutter.Next(record)) {
        if (keeper.Offer(text.substr(record.Offset, record.Length), &headerLine)) {
            kept.push_back(record);
        }
    }
}

}  // namespace qel
