// The window's import of a large access log against the same import without a window.
//
//   qel_bench_app [--lines=N] [benchmark flags]
//
// Both import N generated lines (default 1,000,000) into a fresh "log.db" with the window's
// settings and handlers. "Window" presses Import Start on TfrmMain with the Qt window system
// (progress dialog, grid, pumping every 200 rows); "Headless" runs the same TQelFromText set
// up the same way under the headless window system. Each runs three times; the end prints
// both mean times and their ratio.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "AccessLogGenerator.h"
#include "app/Main.h"
#include "dataset/SqliteTable.h"
#include "text/Qel2TXT.h"
#include "ui/QtWindowSystem.h"

namespace qel {
namespace {

long g_lines = 1'000'000;
std::string g_dir;  // program directory with its trailing separator

class TQuietWindowSystem : public TQtWindowSystem {
  protected:
    void ShowBox(TBoxKind, const std::string&, const std::string&) override {}
};

void FreshTable() {
    std::remove((g_dir + "log.db").c_str());
    TSqliteTable::CreateTable(g_dir + "log.db", "log",
                              {{"Host", ftString},
                               {"DateTime", ftString},
                               {"URL", ftString},
                               {"Code", ftInteger},
                               {"Size", ftInteger},
                               {"Ref", ftString}});
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Window(benchmark::State& state) {
    TQuietWindowSystem ws;
    TWindowSystem* previous = SetWindowSystem(&ws);
    for (auto _ : state) {
        FreshTable();
        TfrmMain form(g_dir);
        form.show();
        QApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        form.btnImport->click();
        state.SetIterationTime(Seconds(start));
        if (form.QelFromText1.Statistic().TotalAdded() != g_lines) state.SkipWithError("rows lost");
    }
    SetWindowSystem(previous == &ws ? nullptr : previous);
}

void Headless(benchmark::State& state) {
    THeadlessWindowSystem ws;
    TWindowSystem* previous = SetWindowSystem(&ws);
    for (auto _ : state) {
        FreshTable();
        TSqliteTable table;
        table.SetDatabaseName(g_dir);
        table.SetTableName("log.db");
        table.Open();
        TQelFromText q;
        q.SetDataSet(&table);
        TQelDataFormats& f = q.DataFormats();
        f.SetDateSeparator('/');
        f.SetThousandSeparator(static_cast<char>(160));
        f.SetDecimalSeparator(',');
        f.SetUseRegionalSettings(false);
        q.OnGetCellParams = [](TQelBaseComponent&, TField* field, Variant& v) {
            if (!field || field->DataType() != ftInteger || !v.IsText()) return;
            if (v.TextValue().empty())
                v = Variant(std::int32_t{0});
            else if (v.TextValue() == "-")
                v = Variant::Null();
        };
        q.OnAfterRecordEvent = [&table](TQelBaseComponent& s, bool&) {
            if (s.Statistic().TotalImported() / 200 == 1) table.FlushBuffers();
        };
        q.SetOptions(q.Options().Exclude(soUseAnimatedControl));
        q.Statistic().SetUpdateStep(200);
        for (const char* line : {"Host=Field1", "DateTime=Field4", "URL=Field6", "Code=Field7",
                                 "Size=Field8", "Ref=Field9"})
            q.Mappings().Add(line);
        q.SetSourceFileName(g_dir + "log.txt");
        q.SetFieldDelimiterCustom(' ');
        q.SetTextQualifier(tqQuot);
        q.SetRecordSeparator(rsLF);
        const auto start = std::chrono::steady_clock::now();
        q.Execute();
        state.SetIterationTime(Seconds(start));
        if (q.Statistic().TotalAdded() != g_lines) state.SkipWithError("rows lost");
        table.Close();
    }
    SetWindowSystem(previous == &ws ? nullptr : previous);
}

// Collects the time of every repetition to print the means and their ratio at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
  public:
    struct Sums {
        double real = 0, cpu = 0;
        int count = 0;
    };
    std::map<std::string, Sums> runs;
    void ReportRuns(const std::vector<Run>& reported) override {
        ConsoleReporter::ReportRuns(reported);
        for (const Run& r : reported) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            Sums& s = runs[r.run_name.function_name];
            s.real += r.real_accumulated_time / static_cast<double>(r.iterations);
            s.cpu += r.cpu_accumulated_time / static_cast<double>(r.iterations);
            ++s.count;
        }
    }
    // Mean seconds per run: elapsed (wall clock) or CPU time of the process.
    double Mean(const std::string& name, bool cpu = false) const {
        auto it = runs.find(name);
        if (it == runs.end() || it->second.count == 0) return 0;
        return (cpu ? it->second.cpu : it->second.real) / it->second.count;
    }
};

}  // namespace
}  // namespace qel

int main(int argc, char** argv) {
    qel::TSqliteTable::ConfigureProcess();  // before SQLite is used, as in the programs
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--lines=", 8) == 0) qel::g_lines = std::atol(argv[i] + 8);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(qel::FormFont());
    QTemporaryDir dir;
    qel::g_dir = dir.path().toStdString() + "/";
    {
        std::ofstream out(qel::g_dir + "log.txt", std::ios::binary);
        qel::AccessLogGenerator gen(7);
        std::string chunk;
        for (long i = 0; i < qel::g_lines; ++i) {
            gen.AppendLine(chunk);
            if (chunk.size() > (1u << 20)) out << chunk, chunk.clear();
        }
        out << chunk;
    }
    std::printf("log.txt: %ld lines, platform %s\n", qel::g_lines,
                qPrintable(QApplication::platformName()));

    for (auto [name, fn] :
         {std::pair{"Headless", &qel::Headless}, std::pair{"Window", &qel::Window}}) {
        benchmark::RegisterBenchmark(name, fn)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(false);
    }
    benchmark::Initialize(&argc, argv);
    qel::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double headless = reporter.Mean("Headless"), window = reporter.Mean("Window");
    const double headlessCpu = reporter.Mean("Headless", true),
                 windowCpu = reporter.Mean("Window", true);
    if (headless > 0 && window > 0) {
        std::printf(
            "\n                       elapsed      CPU (includes preparing the table)\n"
            "import without window: %7.0f ms %7.0f ms\n"
            "import with window:    %7.0f ms %7.0f ms\n"
            "ratio window/headless: %7.3f    %7.3f    (limit 1.15 on elapsed time)\n",
            headless * 1000, headlessCpu * 1000, window * 1000, windowCpu * 1000, window / headless,
            headlessCpu > 0 ? windowCpu / headlessCpu : 0.0);
    }
    return 0;
}
