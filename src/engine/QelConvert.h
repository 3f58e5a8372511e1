// Conversion of source values to the type of the destination field they are bound for, by the
// rules of the component's data formats. The conversion never reports an error: a value it
// cannot convert is passed on as it is and fails, if at all, when it is written to the field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Variant.h"
#include "dataset/DataSet.h"
#include "engine/QelDataFormats.h"

namespace qel {

// The families of destination field types that the conversion tells apart.
enum TQelConversionKind : std::uint8_t {
    ckNone,     // string, byte and blob fields and anything unknown: values pass unchanged
    ckInteger,  // ftSmallint, ftInteger, ftWord, ftAutoInc
    ckFloat,    // ftFloat, ftCurrency, ftBCD
    ckDate,     // ftDate, ftDateTime: read with DatePattern
    ckTime,     // ftTime: read with TimePattern
    ckBoolean,  // ftBoolean
};

TQelConversionKind ConversionKindOf(TFieldType type);

// Everything the conversion of one destination field reads, taken once from the field and the
// data formats so that converting a value builds no pattern and copies no settings.
struct TQelFieldConversion {
    TQelConversionKind Kind = ckNone;
    std::string FieldName;
    std::string Layout;  // DatePattern or TimePattern for date and time fields
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    std::string CurrencyString;
    std::string BooleanTrue;
    std::string BooleanFalse;

    static TQelFieldConversion Make(TFieldType type, std::string fieldName,
                                    const TQelDataFormats& formats);

    // Converts `value` in place. Never raises: when a step fails the value keeps what it held
    // at that point, and the process-wide decimal separator is always put back.
    void Apply(Variant& value) const;
    // Whether the conversion reads nothing but this plan and `processSeparator` (text, integer
    // and Boolean fields): another thread may then convert with ApplyPure.
    bool Pure() const { return Kind == ckNone || Kind == ckInteger || Kind == ckBoolean; }
    // Apply for a Pure plan, with `processSeparator` standing for the process-wide decimal
    // separator that the integer test reads.
    void ApplyPure(Variant& value, char processSeparator) const;
};

// The conversion step in one call (builds the plan each time; for tests and one-off use).
void ConvertFieldValue(TFieldType type, const std::string& fieldName,
                       const TQelDataFormats& formats, Variant& value);

// The float procedure on its own: thousand separators and the first currency text removed, the
// rest read as a float while the process-wide decimal separator is `decimalSeparator`.
Variant ConvertFloatText(const std::string& text, const std::string& fieldName,
                         char decimalSeparator, char thousandSeparator,
                         const std::string& currencyString);

// Conversion plans of the destination fields of a run, kept by field position. A plan is made
// at the first value for its field and made again only when the field or the data formats
// change, so a run converts millions of values without rebuilding patterns.
class TQelConversionCache {
  public:
    // The plan for `field`, the destination field at `position` in the dataset's Fields.
    const TQelFieldConversion& For(int position, const TField& field,
                                   const TQelDataFormats& formats);
    void Clear() { entries_.clear(); }

  private:
    struct Entry {
        std::uint64_t field = 0;  // the field's serial
        const TQelDataFormats* formats = nullptr;
        std::uint64_t version = 0;
        TQelFieldConversion plan;
    };
    std::vector<Entry> entries_;
};

}  // namespace qel
