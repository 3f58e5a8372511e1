#include "logformat/LogSource.h"

#include "core/TextUtil.h"
#include "engine/QelAhead.h"

namespace qel {

TQelFromLog::TQelFromLog(TComponent* owner) : TQelFromText(owner) {
    // Lines as they are: no qualifier joins two of them, blank ones are kept (and rejected as
    // not fitting), and no line is a header.
    SetRecordSeparator(rsLF);
    SetFieldDelimiter(fdNone);
    SetTextQualifier(tqNone);
    SetOptions(Options().Exclude(soSkipEmptyRow));
    SetRowFieldNames(0);
}

bool TQelFromLog::ImportRow() {
    line_ = CurrentRecord();
    if (format_ == nullptr) throw EImportError("No log format is set");
    if (!format_->Match(line_, values_, reason_)) {
        throw ELogLineError(Format("line %lld: %s", static_cast<long long>(LineNumber()), reason_));
    }
    return TQelFromText::ImportRow();
}

void TQelFromLog::GetSourceValue(const Variant& name, Variant& value) {
    const int column = format_ != nullptr ? format_->ColumnIndex(VarToStr(name)) : -1;
    if (column >= 0 && static_cast<std::size_t>(column) < values_.size()) {
        value = values_[static_cast<std::size_t>(column)];
        return;
    }
    TQelFromText::GetSourceValue(name, value);
}

int TQelFromLog::BindSourceName(const std::string& name) {
    return format_ != nullptr ? format_->ColumnIndex(name) : -1;
}

void TQelFromLog::GetBoundSourceValue(int handle, Variant& value) {
    const auto i = static_cast<std::size_t>(handle);
    value = i < values_.size() ? values_[i] : Variant::Null();
}

std::unique_ptr<TQelRowReader> TQelFromLog::AheadReader(const std::vector<int>&, std::int64_t) {
    return nullptr;
}

void TQelFromLog::CreateMappings() {
    const TDataSet* dataSet = DataSet();
    if (dataSet == nullptr || format_ == nullptr) return;
    for (const logformat::TLogColumn& column : format_->Columns()) {
        for (int i = 0; i < dataSet->FieldCount(); ++i) {
            const std::string& field = dataSet->Fields(i)->FieldName();
            if (SameText(field, column.Name)) {
                Mappings().Add(field + "=[" + column.Name + "]");
                break;
            }
        }
    }
}

}  // namespace qel
