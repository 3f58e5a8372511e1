// The error types of the system. Every error is an Exception carrying its exact message text;
// subclasses only say which family an error belongs to, so callers can catch by kind.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

namespace qel {

// printf-style formatting of the message templates ("Property %s wasn't specified.").
// std::string arguments are passed as C strings.
namespace detail {
template <typename T>
decltype(auto) FormatArg(const T& v) {
    if constexpr (std::is_same_v<T, std::string>) {
        return v.c_str();
    } else {
        return v;
    }
}
}  // namespace detail

template <typename... Args>
std::string Format(const char* tmpl, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return tmpl;
    } else {
        int n = std::snprintf(nullptr, 0, tmpl, detail::FormatArg(args)...);
        if (n <= 0) return {};
        std::string out(static_cast<std::size_t>(n), '\0');
        std::snprintf(out.data(), out.size() + 1, tmpl, detail::FormatArg(args)...);
        return out;
    }
}

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    virtual const char* ClassName() const noexcept { return "Exception"; }

  private:
    std::string message_;
};

#define QEL_DECLARE_ERROR(Name, Base)                                     \
    class Name : public Base {                                            \
      public:                                                             \
        using Base::Base;                                                 \
        const char* ClassName() const noexcept override { return #Name; } \
    };

QEL_DECLARE_ERROR(EConvertError, Exception)     // text that is not a number or date
QEL_DECLARE_ERROR(EVariantError, Exception)     // variant conversions and operations
QEL_DECLARE_ERROR(EListError, Exception)        // index out of a list's bounds
QEL_DECLARE_ERROR(EComponentError, Exception)   // component names, ownership
QEL_DECLARE_ERROR(EInvalidCast, Exception)      // "Invalid class typecast"
QEL_DECLARE_ERROR(EInOutError, Exception)       // files and streams
QEL_DECLARE_ERROR(EFOpenError, EInOutError)     // "Cannot open file %s"
QEL_DECLARE_ERROR(EMathError, Exception)        // arithmetic
QEL_DECLARE_ERROR(EZeroDivide, EMathError)      // floating-point division by zero
QEL_DECLARE_ERROR(EDivByZero, EMathError)       // integer division by zero
QEL_DECLARE_ERROR(EInvalidOp, EMathError)       // invalid floating-point operation
QEL_DECLARE_ERROR(EOverflow, EMathError)        // integer out of range
QEL_DECLARE_ERROR(EPropertyError, Exception)    // "%s property out of range"
QEL_DECLARE_ERROR(EDatabaseError, Exception)    // dataset and table engine failures
QEL_DECLARE_ERROR(EExpressionError, Exception)  // parse, compile and calculate errors
QEL_DECLARE_ERROR(EImportError, Exception)      // import component checks

#undef QEL_DECLARE_ERROR

// The framework's own message texts (the system's texts; used exactly as written).
namespace msg {
inline constexpr const char* kInvalidVarCast = "Invalid variant type conversion";
inline constexpr const char* kInvalidVarOp = "Invalid variant operation";
inline constexpr const char* kListIndexError = "List index out of bounds (%d)";
inline constexpr const char* kVarArrayBounds = "Variant or safe array index out of bounds";
inline constexpr const char* kAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* kFOpenError = "Cannot open file %s";
inline constexpr const char* kPropertyOutOfRange = "%s property out of range";
inline constexpr const char* kInvalidCast = "Invalid class typecast";
inline constexpr const char* kInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* kInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* kInvalidDate = "'%s' is not a valid date";
inline constexpr const char* kDateEncodeError = "Invalid argument to date encode";
inline constexpr const char* kTimeEncodeError = "Invalid argument to time encode";
inline constexpr const char* kDivByZero = "Division by zero";
inline constexpr const char* kZeroDivide = "Floating point division by zero";
inline constexpr const char* kInvalidOp = "Invalid floating point operation";
inline constexpr const char* kIntOverflow = "Integer overflow";
inline constexpr const char* kDuplicateName = "A component named %s already exists";
inline constexpr const char* kInvalidFieldValue = "Invalid value for field '%s'";
inline constexpr const char* kEmptyDataSet = "Cannot perform this operation on an empty dataset";
}  // namespace msg

// Raises EListError "List index out of bounds (<index>)". Out of line, so that the bounds
// checks below stay small where they are inlined.
[[noreturn]] void ListIndexError(int index);

// The bounds check of every indexed list: index must lie in 0..count-1. A list that inserts
// at its end checks against count + 1.
inline void CheckListIndex(int index, int count) {
    if (index < 0 || index >= count) [[unlikely]]
        ListIndexError(index);
}

}  // namespace qel
