// Test fixtures of the engine suite: a component that serves rows from memory, a destination
// table that records what reaches its store, and a headless window system installed per test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/TextUtil.h"
#include "dataset/MemTable.h"
#include "engine/QelBase.h"
#include "engine/WindowSystem.h"

namespace qel::test {

// Appends to a shared trace.
struct Trace {
    std::vector<std::string> lines;
    void Add(std::string s) { lines.push_back(std::move(s)); }
    // The trace lines that start with one of the prefixes, in order.
    std::vector<std::string> Only(std::initializer_list<std::string_view> prefixes) const {
        std::vector<std::string> out;
        for (const std::string& l : lines) {
            for (std::string_view p : prefixes) {
                if (StartsWith(l, p)) {
                    out.push_back(l);
                    break;
                }
            }
        }
        return out;
    }
};

// A source of rows held in memory. Records are numbered from 1; those within RowFirst..RowLast
// are kept, the way the text source keeps them. "Field<n>" names field n of the current row.
class TMemorySource : public TQelBaseComponent {
  public:
    using TQelBaseComponent::TQelBaseComponent;
    const char* ClassName() const override { return "TMemorySource"; }

    std::vector<std::vector<std::string>> records;
    Trace* trace = nullptr;
    bool failOpen = false;
    std::string seenStream;  // what the run found in SourceStream when the source opened

    void OpenSource() override {
        TQelBaseComponent::OpenSource();
        Log("OpenSource");
        if (failOpen) throw EFOpenError(Format(msg::kFOpenError, SourceFileName()));
        kept_.clear();
        for (std::size_t n = 1; n <= records.size(); ++n) {
            if (static_cast<std::int64_t>(n) >= RowFirst() &&
                static_cast<std::int64_t>(n) <= RowLast())
                kept_.push_back(records[n - 1]);
        }
        seenStream.clear();
        if (std::istream* s = SourceStream()) std::getline(*s, seenStream);
    }
    void CloseSource() override { Log("CloseSource"); }
    void FirstRow() override { current_ = 0; }
    void NextRow() override { ++current_; }
    bool HasRow() override {
        return current_ < kept_.size() &&
               static_cast<std::int64_t>(current_) <= std::int64_t{RowLast()} - RowFirst();
    }
    int RowCount() override { return static_cast<int>(kept_.size()); }
    bool ImportRow() override {
        Log("ImportRow " + std::to_string(current_ + 1));
        return TQelBaseComponent::ImportRow();
    }
    void EvaluateValue(const Variant& expr, int fieldIndex, Variant& result) override {
        Log("Evaluate " + VarToStr(expr) + " @" + std::to_string(CurrentFieldIndex()));
        TQelBaseComponent::EvaluateValue(expr, fieldIndex, result);
    }
    void GetSourceValue(const Variant& name, Variant& value) override {
        const std::string text = VarToStr(name);
        if (StartsWith(text, "Field")) {
            std::int32_t n = 0;
            const auto& row = kept_.at(current_);
            value = TryStrToInt(text.substr(5), n) && n >= 1 && n <= static_cast<int>(row.size())
                        ? Variant(row[static_cast<std::size_t>(n - 1)])
                        : Variant("");
            // A cell that cannot be read: an error of the row before anything is written.
            if (value.IsText() && value.TextValue() == "#boom")
                throw EConvertError("Cannot read #boom");
            return;
        }
        value = name;
    }
    // "Text..." is one reference, as with the text source.
    bool IsWholeReference(const std::string& text) const override {
        return StartsWith(text, "Text");
    }
    void CreateColumns() override {
        Log("CreateColumns");
        TQelBaseComponent::CreateColumns();
    }
    void CreateMappings() override {
        Log("CreateMappings");
        TQelBaseComponent::CreateMappings();
    }

  private:
    void Log(std::string s) {
        if (trace) trace->Add(std::move(s));
    }
    std::vector<std::vector<std::string>> kept_;
    std::size_t current_ = 0;
};

// An in-memory table that logs searches and stores into a trace and can refuse a record.
class TTraceTable : public TMemTable {
  public:
    using TMemTable::TMemTable;
    Trace* trace = nullptr;
    // Raises from the store (a posting error) when it returns a message.
    std::function<std::string(const std::vector<Variant>&)> refuse;
    int locateCalls = 0;
    std::string lastLocateKeys;

    // Gives field `index` another type while the table is open (a new field object).
    void RetypeField(int index, TFieldType type) {
        std::vector<TFieldDef> defs;
        for (int i = 0; i < FieldCount(); ++i) defs.push_back(Fields(i)->Def());
        defs[static_cast<std::size_t>(index)].DataType = type;
        SetFieldDefs(defs);
    }

  protected:
    bool InternalLocate(const std::vector<int>& fieldIndexes, const std::vector<Variant>& values,
                        TLocateOptions options, TRecordId& found) override {
        ++locateCalls;
        Log("Locate");
        return TMemTable::InternalLocate(fieldIndexes, values, options, found);
    }
    TRecordId InternalInsert(const std::vector<Variant>& values,
                             const TFieldFlags& assigned) override {
        Check(values);
        Log("Store insert");
        return TMemTable::InternalInsert(values, assigned);
    }
    void InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                        const TFieldFlags& assigned) override {
        Check(values);
        Log("Store update");
        TMemTable::InternalUpdate(id, values, assigned);
    }
    void InternalDelete(TRecordId id) override {
        Log("Store delete");
        TMemTable::InternalDelete(id);
    }

  private:
    void Check(const std::vector<Variant>& values) {
        if (!refuse) return;
        std::string why = refuse(values);
        if (!why.empty()) throw EDatabaseError(why);
    }
    void Log(std::string s) {
        if (trace) trace->Add(std::move(s));
    }
};

// Every record of a table, one text per record: the fields' texts joined by "|".
inline std::vector<std::string> Dump(TDataSet& ds) {
    std::vector<std::string> out;
    std::vector<std::vector<Variant>> rows;
    ds.ReadRecords(0, ds.RecordCount(), rows);
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (i) line += "|";
            line += r[i].IsNull() ? "<null>" : VarToStr(r[i]);
        }
        out.push_back(line);
    }
    return out;
}

// Installs a fresh headless window system for the test's length.
class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override { installed_.emplace(ws); }
    void TearDown() override { installed_.reset(); }
    THeadlessWindowSystem ws;

  private:
    std::optional<TScopedWindowSystem> installed_;
};

}  // namespace qel::test
