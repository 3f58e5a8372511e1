// Conversion of source text for typed destination fields, once per mapped value per row.
// Compares the per-run conversion plans of a run with building the plan for every value.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/FormatSettings.h"
#include "dataset/MemTable.h"
#include "engine/QelConvert.h"
#include "engine/WindowSystem.h"
#include "text/Qel2TXT.h"

namespace qel {
namespace {

struct Sample {
    TFieldType type;
    const char* name;
    const char* text;
};

constexpr Sample kSamples[] = {
    {ftInteger, "Code", "200"},
    {ftFloat, "Size", "$12,345.50"},
    {ftDateTime, "Stamp", "12/25/2003 10:15:42"},
    {ftBoolean, "Ok", "Y"},
    {ftString, "Host", "192.168.10.1"},
};

TQelDataFormats& Formats() {
    static TQelDataFormats f = [] {
        ScopedFormatSettings english(FormatSettings::English());
        TQelDataFormats d;
        d.SetBooleanTrue("True");
        d.SetBooleanFalse("False");
        return d;
    }();
    return f;
}

void BM_ConvertWithRunPlan(benchmark::State& state) {
    const Sample& s = kSamples[state.range(0)];
    TField field(nullptr, TFieldDef{s.name, s.type, 0, false}, 0);
    TQelConversionCache cache;
    const std::string text = s.text;
    for (auto _ : state) {
        Variant v(text);
        cache.For(0, field, Formats()).Apply(v);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(FieldTypeName(s.type));
}

void BM_ConvertBuildingPlanPerValue(benchmark::State& state) {
    const Sample& s = kSamples[state.range(0)];
    const std::string name = s.name;
    const std::string text = s.text;
    for (auto _ : state) {
        Variant v(text);
        ConvertFieldValue(s.type, name, Formats(), v);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(FieldTypeName(s.type));
}

BENCHMARK(BM_ConvertWithRunPlan)->DenseRange(0, 4);
BENCHMARK(BM_ConvertBuildingPlanPerValue)->DenseRange(0, 4);

// A whole run of a delimited file into an in-memory table whose fields are typed (argument 1)
// or all strings (argument 0), so the figures show what the conversion adds to a row.
void BM_RunTypedColumns(benchmark::State& state) {
    const bool typed = state.range(0) != 0;
    constexpr int kRows = 20000;
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("qel_bench_convert_" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < kRows; ++i) {
            out << i << ';' << i % 1000 << '.' << i % 100 << ';' << 1 + i % 12 << '/' << 1 + i % 28
                << "/2003 10:" << 10 + i % 50 << ":00;" << (i % 2 ? 'Y' : 'N') << ";host" << i % 97
                << "\n";
        }
    }
    ScopedFormatSettings english(FormatSettings::English());
    THeadlessWindowSystem ws;
    const TScopedWindowSystem installed(ws);
    TMemTable table;
    table.AddField("Id", typed ? ftInteger : ftString, 20);
    table.AddField("Size", typed ? ftFloat : ftString, 20);
    table.AddField("Stamp", typed ? ftDateTime : ftString, 20);
    table.AddField("Ok", typed ? ftBoolean : ftString, 20);
    table.AddField("Host", ftString, 20);
    table.Open();
    TQelFromText qel;
    qel.SetDataSet(&table);
    qel.SetAnimatedStatus(false);
    qel.SetOptions(TQelOptions{});
    qel.SetFieldDelimiter(fdSemicolon);
    qel.SetRecordSeparator(rsLF);
    qel.SetSourceFileName(file.string());
    qel.Mappings().SetText("Id=Field1\nSize=Field2\nStamp=Field3\nOk=Field4\nHost=Field5\n");
    for (auto _ : state) {
        table.EmptyTable();
        qel.Execute();
        if (qel.Statistic().TotalAdded() != kRows) state.SkipWithError("rows were refused");
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.SetLabel(typed ? "typed fields" : "string fields");
    std::filesystem::remove(file);
}

BENCHMARK(BM_RunTypedColumns)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qel

BENCHMARK_MAIN();
