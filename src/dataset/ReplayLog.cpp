#include "dataset/ReplayLog.h"

#include <cstring>
#include <string_view>

namespace qel {

namespace {

constexpr char kNotAssigned = '\xFF';

template <typename T>
T Unpack(const std::string& in, std::size_t& pos) {
    T v;
    std::memcpy(&v, in.data() + pos, sizeof v);
    pos += sizeof v;
    return v;
}

}  // namespace

void TReplayLog::Add(TWriteKind kind, TRecordId id, const std::vector<Variant>* values,
                     const TFieldFlags* assigned) {
    const std::size_t n = values == nullptr ? 0 : values->size();
    writes_.push_back({kind, static_cast<std::uint32_t>(n), id, values_.size()});
    if (values == nullptr) return;
    // The record's bytes are counted first and written into the buffer grown once.
    std::size_t bytes = n;  // a kind byte per field
    for (std::size_t i = 0; i < n; ++i) {
        if (!(*assigned)[i]) continue;
        const Variant& v = (*values)[i];
        switch (v.kind()) {
            case Variant::vkInteger:
                bytes += sizeof(std::int32_t);
                break;
            case Variant::vkReal:
            case Variant::vkDateTime:
                bytes += sizeof(double);
                break;
            case Variant::vkBoolean:
                bytes += 1;
                break;
            case Variant::vkText:
                bytes += sizeof(std::size_t) + v.TextValue().size();
                break;
            case Variant::vkArray:
                replayable_ = false;
                break;
            default:
                break;
        }
    }
    const std::size_t first = values_.size();
    values_.resize(first + bytes);
    char* out = values_.data() + first;
    auto put = [&out](const void* p, std::size_t size) {
        std::memcpy(out, p, size);
        out += size;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (!(*assigned)[i]) {
            *out++ = kNotAssigned;
            continue;
        }
        const Variant& v = (*values)[i];
        *out++ = static_cast<char>(v.kind());
        switch (v.kind()) {
            case Variant::vkInteger: {
                const std::int32_t x = v.IntegerValue();
                put(&x, sizeof x);
                break;
            }
            case Variant::vkReal:
            case Variant::vkDateTime: {
                const double x = v.RealValue();
                put(&x, sizeof x);
                break;
            }
            case Variant::vkBoolean:
                *out++ = static_cast<char>(v.BooleanValue());
                break;
            case Variant::vkText: {
                const std::size_t size = v.TextValue().size();
                put(&size, sizeof size);
                put(v.TextValue().data(), size);
                break;
            }
            default:
                break;
        }
    }
}

void TReplayLog::Clear() {
    writes_.clear();
    values_.clear();
    replayable_ = true;
}

void TReplayLog::Truncate(std::size_t size) {
    if (size >= writes_.size()) return;
    values_.resize(writes_[size].First);
    writes_.resize(size);
}

void TReplayLog::Get(std::size_t index, TWrite& out) const {
    const Entry& w = writes_[index];
    out.Kind = w.Kind;
    out.Id = w.Id;
    out.Values.assign(w.Fields, Variant());
    out.Assigned.assign(w.Fields, 0);
    std::size_t pos = w.First;
    for (std::size_t i = 0; i < w.Fields; ++i) {
        const char kind = values_[pos++];
        if (kind == kNotAssigned) continue;
        out.Assigned[i] = 1;
        Variant& value = out.Values[i];
        switch (static_cast<Variant::Kind>(kind)) {
            case Variant::vkNull:
                value = Variant::Null();
                break;
            case Variant::vkInteger:
                value = Variant(Unpack<std::int32_t>(values_, pos));
                break;
            case Variant::vkReal:
                value = Variant(Unpack<double>(values_, pos));
                break;
            case Variant::vkDateTime:
                value = Variant::FromDateTime(Unpack<double>(values_, pos));
                break;
            case Variant::vkBoolean:
                value = Variant(values_[pos++] != 0);
                break;
            case Variant::vkText: {
                const auto size = Unpack<std::size_t>(values_, pos);
                value = Variant(std::string_view(values_).substr(pos, size));
                pos += size;
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace qel
