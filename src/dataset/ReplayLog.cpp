#include "dataset/ReplayLog.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qel {

namespace {

constexpr char kNotAssigned = '\xFF';

template <typename T>
T Unpack(const char* in, std::size_t& pos) {
    T v;
    std::memcpy(&v, in + pos, sizeof v);
    pos += sizeof v;
    return v;
}

}  // namespace

void TReplayLog::Add(TWriteKind kind, TRecordId id, const std::vector<Variant>* values,
                     const TFieldFlags* assigned) {
    const std::size_t n = values == nullptr ? 0 : values->size();
    writes_.push_back({kind, static_cast<std::uint32_t>(n), id, size_});
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
    char* out = Extend(bytes);
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

char* TReplayLog::Extend(std::size_t bytes) {
    if (size_ + bytes > capacity_) {
        const std::size_t capacity =
            std::max(size_ + bytes, std::max<std::size_t>(capacity_ * 2, 4096));
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(grown.get(), values_.get(), size_);
        values_ = std::move(grown);
        capacity_ = capacity;
    }
    char* out = values_.get() + size_;
    size_ += bytes;
    return out;
}

void TReplayLog::Clear() {
    writes_.clear();
    size_ = 0;
    replayable_ = true;
}

void TReplayLog::Truncate(std::size_t size) {
    if (size >= writes_.size()) return;
    size_ = writes_[size].First;
    writes_.resize(size);
}

void TReplayLog::Get(std::size_t index, TWrite& out) const {
    const Entry& w = writes_[index];
    out.Kind = w.Kind;
    out.Id = w.Id;
    out.Values.assign(w.Fields, Variant());
    out.Assigned.assign(w.Fields, 0);
    const char* values = values_.get();
    std::size_t pos = w.First;
    for (std::size_t i = 0; i < w.Fields; ++i) {
        const char kind = values[pos++];
        if (kind == kNotAssigned) continue;
        out.Assigned[i] = 1;
        Variant& value = out.Values[i];
        switch (static_cast<Variant::Kind>(kind)) {
            case Variant::vkNull:
                value = Variant::Null();
                break;
            case Variant::vkInteger:
                value = Variant(Unpack<std::int32_t>(values, pos));
                break;
            case Variant::vkReal:
                value = Variant(Unpack<double>(values, pos));
                break;
            case Variant::vkDateTime:
                value = Variant::FromDateTime(Unpack<double>(values, pos));
                break;
            case Variant::vkBoolean:
                value = Variant(values[pos++] != 0);
                break;
            case Variant::vkText: {
                const auto size = Unpack<std::size_t>(values, pos);
                value = Variant(std::string_view(values + pos, size));
                pos += size;
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace qel
