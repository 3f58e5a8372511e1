// The kept records of a source and reading them from a file or a stream.
#include "core/Errors.h"
#include "text/TextReader.h"

namespace qel {

std::string_view TTextLines::operator[](int index) const {
    if (index < 0 || index >= Count()) throw EListError(Format(msg::kListIndexError, index));
    const TRecordRange& r = ranges_[static_cast<std::size_t>(index)];
    return buffer_.View().substr(r.Offset, r.Length);
}

void TTextLines::Clear() {
    ranges_.clear();
    ranges_.shrink_to_fit();
    buffer_.Clear();
}

void TTextLines::Compact() {
    std::size_t used = 0;
    for (const TRecordRange& r : ranges_) used += r.Length;
    if (used >= buffer_.Size() / 2) return;
    std::string packed;
    packed.reserve(used);
    const std::string_view all = buffer_.View();
    for (TRecordRange& r : ranges_) {
        const std::size_t offset = packed.size();
        packed.append(all.substr(r.Offset, r.Length));
        r.Offset = offset;
    }
    buffer_.Assign(packed);
}

void ReadLines(const TRecordRules& rules, std::string& headerLine, std::istream& stream,
               TTextLines& lines) {
    lines.Clear();
    lines.Buffer().LoadStream(stream);
    ReadRecords(lines.Buffer().View(), rules, headerLine, lines.Ranges());
    lines.Compact();
}

void ReadLines(const TRecordRules& rules, std::string& headerLine, const std::string& fileName,
               TTextLines& lines) {
    lines.Clear();
    lines.Buffer().LoadFile(fileName);
    ReadRecords(lines.Buffer().View(), rules, headerLine, lines.Ranges());
    lines.Compact();
}

}  // namespace qel
