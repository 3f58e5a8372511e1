// How text values are read as dates, times, numbers and Booleans when they are bound for typed
// destination fields. Owned by the import component; copied with Assign and refreshed from the
// process-wide regional settings.
#pragma once

#include <cstdint>
#include <string>

#include "core/Component.h"

namespace qel {

// The order of the month, day and year parts of a date pattern.
enum TQelDateOrder : std::uint8_t { doMDY, doDMY, doYMD, doYDM, doDYM, doMYD };

class TQelDataFormats : public TPersistent {
  public:
    // Starts from the regional settings; BooleanTrue / BooleanFalse start empty (the component
    // sets them to "True" / "False" after creating this object).
    TQelDataFormats();

    const char* ClassName() const override { return "TQelDataFormats"; }

    // Another TQelDataFormats: copies all twelve properties. Anything else: the inherited
    // behaviour ("Cannot assign a %s to a %s").
    void Assign(const TPersistent& source) override;

    // Reads the separators, currency text and year / zero style from DefaultFormatSettings().
    // DateOrder becomes doMDY and CustomDateTimeFormat empty; BooleanTrue, BooleanFalse and
    // UseRegionalSettings are left alone.
    void RefreshFromRegionalSettings();

    // "HH:NN:SS" with TimeSeparator between the parts (nothing when it is character 0).
    std::string TimePattern() const;
    // CustomDateTimeFormat in upper case when set; otherwise the three date parts in DateOrder
    // with DateSeparator between them, one space, then TimePattern().
    std::string DatePattern() const;

    // Bumped by every setter (and by Assign / the regional refresh), so that a caller that
    // caches something derived from these formats can tell that it is stale.
    std::uint64_t Version() const { return version_; }

    TQelDateOrder DateOrder() const { return dateOrder_; }
    void SetDateOrder(TQelDateOrder v) {
        dateOrder_ = v;
        ++version_;
    }
    char DateSeparator() const { return dateSeparator_; }
    void SetDateSeparator(char v) {
        dateSeparator_ = v;
        ++version_;
    }
    char TimeSeparator() const { return timeSeparator_; }
    void SetTimeSeparator(char v) {
        timeSeparator_ = v;
        ++version_;
    }
    bool FourDigitYear() const { return fourDigitYear_; }
    void SetFourDigitYear(bool v) {
        fourDigitYear_ = v;
        ++version_;
    }
    bool LeadingZerosInDate() const { return leadingZerosInDate_; }
    void SetLeadingZerosInDate(bool v) {
        leadingZerosInDate_ = v;
        ++version_;
    }
    const std::string& CustomDateTimeFormat() const { return customDateTimeFormat_; }
    void SetCustomDateTimeFormat(std::string v) {
        customDateTimeFormat_ = std::move(v);
        ++version_;
    }
    char ThousandSeparator() const { return thousandSeparator_; }
    void SetThousandSeparator(char v) {
        thousandSeparator_ = v;
        ++version_;
    }
    char DecimalSeparator() const { return decimalSeparator_; }
    void SetDecimalSeparator(char v) {
        decimalSeparator_ = v;
        ++version_;
    }
    const std::string& CurrencyString() const { return currencyString_; }
    void SetCurrencyString(std::string v) {
        currencyString_ = std::move(v);
        ++version_;
    }
    const std::string& BooleanTrue() const { return booleanTrue_; }
    void SetBooleanTrue(std::string v) {
        booleanTrue_ = std::move(v);
        ++version_;
    }
    const std::string& BooleanFalse() const { return booleanFalse_; }
    void SetBooleanFalse(std::string v) {
        booleanFalse_ = std::move(v);
        ++version_;
    }
    bool UseRegionalSettings() const { return useRegionalSettings_; }
    void SetUseRegionalSettings(bool v) {
        useRegionalSettings_ = v;
        ++version_;
    }

  private:
    TQelDateOrder dateOrder_ = doMDY;
    char dateSeparator_ = '/';
    char timeSeparator_ = ':';
    bool fourDigitYear_ = true;
    bool leadingZerosInDate_ = false;
    std::string customDateTimeFormat_;
    char thousandSeparator_ = ',';
    char decimalSeparator_ = '.';
    std::string currencyString_;
    std::string booleanTrue_;
    std::string booleanFalse_;
    bool useRegionalSettings_ = false;
    std::uint64_t version_ = 0;
};

}  // namespace qel
