// TQelFromText: the text-file source of the import component. It reads a whole delimited or
// fixed-width text file (or a stream) into memory, cuts it into records, keeps the records of
// the row range and the header line, splits the current record into fields, and answers the
// source references "Text", "Field<n>" and "Text<a>-<b>" for the current row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/QelBase.h"
#include "text/TextReader.h"

namespace qel {

class TQelFromText : public TQelBaseComponent {
  public:
    // The SourceKind of a text source.
    static constexpr std::uint8_t kTextSourceKind = 2;

    explicit TQelFromText(TComponent* owner = nullptr);
    const char* ClassName() const override { return "TQelFromText"; }

    // --- Source half of the run --------------------------------------------------------------

    std::string GetDefaultExt() override { return ".TXT"; }
    std::string GetFileFilter() override;
    // The dataset first, then a non-empty SourceFileName (checked also for a stream source).
    bool CheckRequired(std::string& name) override;
    // Reads the source (the run's stream, else SourceFileName) into Lines and HeaderLine.
    // A file that cannot be opened raises EFOpenError "Cannot open file %s".
    void OpenSource() override;
    void CloseSource() override;
    void FirstRow() override { currentRow_ = 0; }
    void NextRow() override { ++currentRow_; }
    bool HasRow() override;
    int RowCount() override { return lines_.Count(); }
    // Loads Lines[CurrentRow] as CurrentLine and, unless Fixed, splits it; then the base step.
    bool ImportRow() override;
    void GetSourceValue(const Variant& name, Variant& value) override;
    // Binds the names GetSourceValue answers. A subclass that answers names its own way (its
    // own GetSourceValue) overrides this too and binds its own names or none (-1).
    int BindSourceName(const std::string& name) override;
    void GetBoundSourceValue(int handle, Variant& value) override;
    // A text of a text source's kind that begins with "Text" is one reference: "Text" or a
    // character range "Text<a>-<b>" (Text12-20 is never a subtraction).
    bool IsWholeReference(const std::string& text) const override;
    void CreateColumns() override;
    void CreateMappings() override;

    // --- Run members ---------------------------------------------------------------------------

    // The kept records of the source (valid between OpenSource and CloseSource).
    const TTextLines& Lines() const { return lines_; }
    int CurrentRow() const { return currentRow_; }
    // The record last loaded by ImportRow; it stays after the source is closed.
    std::string_view CurrentLine() const { return currentLine_; }
    // The fields of CurrentLine in delimited mode; field n is entry n - 1.
    const std::vector<TFieldPosition>& FieldPositions() const { return fieldPositions_; }
    // The record numbered RowFieldNames, as last read; it outlives the run.
    const std::string& HeaderLine() const { return headerLine_; }

    // Cuts `line` into `positions`. Delimited (fixed false): the fields of the line. Fixed: one
    // piece per field of `dataSet`, by the fields' display widths; none without a dataset.
    static void SplitFields(const TDataSet* dataSet, bool fixed, char delimiter,
                            std::vector<TFieldPosition>& positions, std::string_view line,
                            char qualifier);

  private:
    TRecordRules Rules() const;

    TTextLines lines_;
    std::vector<TFieldPosition> fieldPositions_;
    std::vector<TFieldPosition> pieces_;
    // Bound names, parsed for the fixed-width setting they were bound with.
    struct Binding {
        std::string Name;
        TSourceReference Reference;
        bool Fixed = false;
    };
    std::vector<Binding> bindings_;
    std::unordered_map<std::string, int> bindingIndex_;  // by name and fixed-width setting
    std::string headerLine_;
    std::string_view currentLine_;
    std::string lastLine_;  // CurrentLine's copy once the source's buffer is released
    int currentRow_ = 0;
};

}  // namespace qel
