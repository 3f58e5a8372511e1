#include "Variant.h"

#include <cmath>
#include <ostream>

#include "Errors.h"
#include "TextUtil.h"

namespace qel {

namespace {
[[noreturn]] void CastError() {
    throw EVariantError(msg::kInvalidVarCast);
}

std::int32_t RoundToInt32(double d) {
    if (!std::isfinite(d)) CastError();
    double r = std::nearbyint(d);  // default rounding mode: to nearest, ties to even
    if (r < -2147483648.0 || r > 2147483647.0) CastError();
    return static_cast<std::int32_t>(r);
}

double TextToReal(const std::string& s) {
    double d;
    if (TryStrToFloat(s, d)) return d;
    std::int32_t i;
    if (TryStrToInt(s, i)) return i;  // "$1F" style integers
    CastError();
}
}  // namespace

const char* Variant::KindName() const noexcept {
    static const char* kNames[] = {"Empty",    "Null",    "Integer", "Real",
                                   "DateTime", "Boolean", "Text",    "Array"};
    return kNames[kind_];
}

std::int32_t Variant::AsInteger() const {
    switch (kind_) {
        case vkEmpty:
            return 0;
        case vkInteger:
            return num_.i;
        case vkReal:
        case vkDateTime:
            return RoundToInt32(num_.d);
        case vkBoolean:
            return num_.b ? -1 : 0;
        case vkText: {
            std::int32_t i;
            if (TryStrToInt(text_, i)) return i;
            return RoundToInt32(TextToReal(text_));
        }
        default:
            CastError();
    }
}

double Variant::AsReal() const {
    switch (kind_) {
        case vkEmpty:
            return 0.0;
        case vkInteger:
            return num_.i;
        case vkReal:
        case vkDateTime:
            return num_.d;
        case vkBoolean:
            return num_.b ? -1.0 : 0.0;
        case vkText:
            return TextToReal(text_);
        default:
            CastError();
    }
}

bool Variant::AsBoolean() const {
    switch (kind_) {
        case vkEmpty:
            return false;
        case vkInteger:
            return num_.i != 0;
        case vkReal:
        case vkDateTime:
            return num_.d != 0.0;
        case vkBoolean:
            return num_.b;
        case vkText: {
            if (SameText(text_, "True")) return true;
            if (SameText(text_, "False")) return false;
            return TextToReal(text_) != 0.0;
        }
        default:
            CastError();
    }
}

std::string Variant::AsText() const {
    switch (kind_) {
        case vkEmpty:
            return {};
        case vkInteger:
            return IntToStr(num_.i);
        case vkReal:
            return FloatToStr(num_.d);
        case vkDateTime:
            return DateTimeToStr(num_.d);
        case vkBoolean:
            return num_.b ? "True" : "False";
        case vkText:
            return text_;
        default:
            CastError();
    }
}

TDateTime Variant::AsDateTime() const {
    switch (kind_) {
        case vkText: {
            TDateTime dt;
            if (TryStrToDate(text_, dt)) return dt;
            return TextToReal(text_);
        }
        default:
            return AsReal();
    }
}

void Variant::NotAnArray() {
    throw EVariantError(msg::kInvalidVarCast);
}

void Variant::IndexOutOfBounds() {
    throw EVariantError(msg::kVarArrayBounds);
}

void Variant::Unshare() {
    array_ = std::make_shared<Array>(*array_);
}

bool Variant::SameAs(const Variant& o) const {
    if (kind_ != o.kind_) return false;
    switch (kind_) {
        case vkEmpty:
        case vkNull:
            return true;
        case vkInteger:
            return num_.i == o.num_.i;
        case vkReal:
        case vkDateTime:
            return num_.d == o.num_.d;
        case vkBoolean:
            return num_.b == o.num_.b;
        case vkText:
            return text_ == o.text_;
        case vkArray:
            return array_ == o.array_ || *array_ == *o.array_;
    }
    return false;
}

std::string VarToStr(const Variant& v) {
    return v.IsNullOrEmpty() ? std::string() : v.AsText();
}

bool IsEmptyText(const Variant& v) {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            return true;
        case Variant::vkText:
            return v.TextValue().empty();
        case Variant::vkInteger:
        case Variant::vkReal:
            return false;
        default:
            return VarToStr(v).empty();
    }
}

Variant VarArrayOf(std::initializer_list<Variant> values) {
    return Variant(Variant::Array(values));
}

std::string DebugString(const Variant& v) {
    switch (v.kind()) {
        case Variant::vkEmpty:
            return "Empty";
        case Variant::vkNull:
            return "Null";
        case Variant::vkInteger:
            return "Integer " + IntToStr(v.IntegerValue());
        case Variant::vkReal:
            return "Real " + FloatToStr(v.RealValue(), '.');
        case Variant::vkDateTime:
            return "DateTime " + DateTimeToIso(v.RealValue(), true, true);
        case Variant::vkBoolean:
            return v.BooleanValue() ? "Boolean True" : "Boolean False";
        case Variant::vkText:
            return "Text '" + v.TextValue() + "'";
        case Variant::vkArray: {
            std::string s = "Array [";
            for (std::size_t i = 0; i < v.Count(); ++i) s += (i ? ", " : "") + DebugString(v[i]);
            return s + "]";
        }
    }
    return "?";
}

void PrintTo(const Variant& v, std::ostream* os) {
    *os << DebugString(v);
}

}  // namespace qel
