// Cutting a text into records and keeping those of the row range.
#include <algorithm>
#include <cstring>

#include "core/TextUtil.h"
#include "text/TextReader.h"

namespace qel {

std::string_view StripEndMarks(std::string_view text) {
    while (!text.empty() && (text.back() == '\x1A' || text.back() == '\x1B')) {
        text.remove_suffix(1);
    }
    return text;
}

TRecordCutter::TRecordCutter(std::string_view text, std::string_view separator, char qualifier,
                             char delimiter)
    : text_(text.data()),
      size_(text.size()),
      separator_(separator),
      qualifier_(qualifier),
      delimiter_(delimiter),
      separatorUsable_(!separator.empty() && separator.find('\0') == separator.npos),
      scanning_(separatorUsable_ &&
                (qualifier == '\0' || separator.find(qualifier) == separator.npos)) {}

bool TRecordCutter::SeparatorAt(std::size_t p) const {
    const std::size_t k = separator_.size();
    if (!separatorUsable_ || p >= size_ || size_ - p < k) return false;
    return k == 1 ? text_[p] == separator_[0] : std::memcmp(text_ + p, separator_.data(), k) == 0;
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

// The next position at or after `from` where the whole separator stands, or the text size.
std::size_t TRecordCutter::FindSeparator(std::size_t from) {
    for (;;) {
        if (!separatorKnown_ || nextSeparator_ < from) {
            const void* hit =
                from < size_ ? std::memchr(text_ + from, separator_[0], size_ - from) : nullptr;
            nextSeparator_ =
                hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_) : size_;
            separatorKnown_ = true;
        }
        if (nextSeparator_ >= size_ || separator_.size() == 1 || SeparatorAt(nextSeparator_)) {
            return nextSeparator_;
        }
        from = nextSeparator_ + 1;
    }
}

std::size_t TRecordCutter::FindQualifier(std::size_t from) {
    if (!qualifierKnown_ || nextQualifier_ < from) {
        const void* hit =
            from < size_ ? std::memchr(text_ + from, qualifier_, size_ - from) : nullptr;
        nextQualifier_ =
            hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_) : size_;
        qualifierKnown_ = true;
    }
    return nextQualifier_;
}

// Jumps between the separator's first byte and the qualifier. The separator holds no qualifier,
// so inside a quoted stretch it can only count right after a qualifier, and only qualifiers
// need to be visited there. A record that starts with the qualifier is entered as if that
// qualifier had just been met.
bool TRecordCutter::NextScanning(TRecordRange& record) {
    const std::size_t r = pos_;
    const bool hasQualifier = qualifier_ != '\0';
    bool inQuote = false;
    std::size_t p = r;
    for (;;) {
        std::size_t q;
        if (inQuote) {
            q = FindQualifier(p);
            if (q >= size_) break;
        } else {
            const std::size_t s = FindSeparator(p);
            q = hasQualifier ? FindQualifier(p) : size_;
            if (s < q) {
                record = {r, s - r};
                pos_ = s + separator_.size();
                return true;
            }
            if (q >= size_) break;
        }
        // A qualifier at q: a separator right after it counts, quoted stretch or not.
        if (SeparatorAt(q + 1)) {
            record = {r, q + 1 - r};
            pos_ = q + 1 + separator_.size();
            return true;
        }
        if (!inQuote) {
            inQuote = true;
        } else if (delimiter_ == '\0' || (q + 1 < size_ && text_[q + 1] == delimiter_)) {
            inQuote = false;
        }
        p = q + 1;
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
