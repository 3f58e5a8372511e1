// The one value type of the system: Empty, Null, Integer (int32), Real (double), DateTime (a
// tagged double day count), Boolean, Text (bytes) and Array (a vector of variants, shared
// copy-on-write so copies are cheap and behave as values).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DateTime.h"

namespace qel {

class Variant {
  public:
    enum Kind : std::uint8_t {
        vkEmpty,
        vkNull,
        vkInteger,
        vkReal,
        vkDateTime,
        vkBoolean,
        vkText,
        vkArray
    };
    using Array = std::vector<Variant>;

    Variant() noexcept {}
    Variant(std::int32_t v) noexcept : kind_(vkInteger) { num_.i = v; }
    Variant(double v) noexcept : kind_(vkReal) { num_.d = v; }
    Variant(bool v) noexcept : kind_(vkBoolean) { num_.b = v; }
    Variant(std::string v) : kind_(vkText), text_(std::move(v)) {}
    Variant(std::string_view v) : kind_(vkText), text_(v) {}
    Variant(const char* v) : kind_(vkText), text_(v) {}
    Variant(Array v) : kind_(vkArray), array_(std::make_shared<Array>(std::move(v))) {}

    static Variant Null() noexcept {
        Variant v;
        v.kind_ = vkNull;
        return v;
    }
    static Variant Empty() noexcept { return Variant(); }
    static Variant FromDateTime(TDateTime dt) noexcept {
        Variant v(dt);
        v.kind_ = vkDateTime;
        return v;
    }
    // An array of n Empty elements.
    static Variant ArrayOfSize(std::size_t n) { return Variant(Array(n)); }

    Kind kind() const noexcept { return kind_; }
    bool IsEmpty() const noexcept { return kind_ == vkEmpty; }
    bool IsNull() const noexcept { return kind_ == vkNull; }
    bool IsNullOrEmpty() const noexcept { return kind_ <= vkNull; }
    bool IsText() const noexcept { return kind_ == vkText; }
    bool IsArray() const noexcept { return kind_ == vkArray; }
    bool IsNumeric() const noexcept { return kind_ == vkInteger || kind_ == vkReal; }
    const char* KindName() const noexcept;

    // Direct access to the stored value of the matching kind (no conversion).
    std::int32_t IntegerValue() const noexcept { return num_.i; }
    double RealValue() const noexcept { return num_.d; }  // Real and DateTime
    bool BooleanValue() const noexcept { return num_.b; }
    const std::string& TextValue() const noexcept { return text_; }
    std::string& MutableText() noexcept { return text_; }
    // Makes this the text `s`, reusing the text buffer this value already has: a value that is
    // filled again for every row allocates only while its texts grow.
    void AssignText(std::string_view s) {
        if (kind_ != vkText) {
            array_.reset();
            kind_ = vkText;
        }
        text_.assign(s.data(), s.size());
    }
    // Makes this Empty, keeping the text buffer for a later AssignText.
    void Clear() noexcept {
        kind_ = vkEmpty;
        num_.d = 0;
        text_.clear();
        array_.reset();
    }
    // Exchanges two values, buffers and all, without copying or allocating.
    void Swap(Variant& other) noexcept {
        std::swap(kind_, other.kind_);
        std::swap(num_, other.num_);
        text_.swap(other.text_);
        array_.swap(other.array_);
    }
    // Makes this Null, keeping the text buffer as Clear does.
    void ClearToNull() noexcept {
        Clear();
        kind_ = vkNull;
    }

    // Conversions by the variant rules. They raise EVariantError
    // "Invalid variant type conversion" when the value cannot be converted (Null, Arrays,
    // text that is not a number). Empty converts to 0, 0.0, false and "".
    std::int32_t AsInteger() const;  // Real rounds to nearest, ties to even; true is -1
    double AsReal() const;           // text by the process-wide decimal separator
    bool AsBoolean() const;
    std::string AsText() const;
    TDateTime AsDateTime() const;

    // Array access. Count() is 0 for a value that is not an array.
    std::size_t Count() const noexcept { return kind_ == vkArray ? array_->size() : 0; }
    const Array& Elements() const {
        if (kind_ != vkArray) NotAnArray();
        return *array_;
    }
    Array& MutableElements() {  // copies a shared array first
        if (kind_ != vkArray) NotAnArray();
        if (array_.use_count() > 1) Unshare();
        return *array_;
    }
    const Variant& operator[](std::size_t i) const {
        const Array& a = Elements();
        if (i >= a.size()) IndexOutOfBounds();
        return a[i];
    }
    Variant& operator[](std::size_t i) {
        Array& a = MutableElements();
        if (i >= a.size()) IndexOutOfBounds();
        return a[i];
    }

    // Same kind and same content (Arrays element by element). For tests and bookkeeping; the
    // expression language's comparison rules are a different thing.
    bool SameAs(const Variant& other) const;
    friend bool operator==(const Variant& a, const Variant& b) { return a.SameAs(b); }

  private:
    [[noreturn]] static void NotAnArray();
    [[noreturn]] static void IndexOutOfBounds();
    void Unshare();

    Kind kind_ = vkEmpty;
    union {
        std::int32_t i;
        double d;
        bool b;
    } num_{};
    std::string text_;
    std::shared_ptr<Array> array_;
};

// The value as text with Null and Empty reading as empty text (never raises for those).
std::string VarToStr(const Variant& v);
// Whether the value reads as empty text: Null, Empty or "" (no value, which clears a field).
bool IsEmptyText(const Variant& v);
// An array variant of the given values.
Variant VarArrayOf(std::initializer_list<Variant> values);
// Readable form for test failure messages: "Integer 42", "Text 'abc'".
std::string DebugString(const Variant& v);
void PrintTo(const Variant& v, std::ostream* os);

}  // namespace qel
