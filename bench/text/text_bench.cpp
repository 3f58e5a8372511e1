// Speed of the text reader on a generated access log of 1,000,000 lines (about 170 MB):
// cutting records, splitting every kept record into fields, and both together, as a large
// import does them. Prints MB/s (10^6 bytes a second).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "AccessLogGenerator.h"
#include "text/ByteInput.h"
#include "text/Qel2TXT.h"
#include "text/TextReader.h"

namespace {

constexpr std::size_t kLines = 1'000'000;

const std::string& AccessLog() {
    static const std::string text = qel::AccessLogGenerator(1).Generate(kLines);
    return text;
}

const std::string& AccessLogCrLf() {
    static const std::string text = [] {
        std::string out;
        out.reserve(AccessLog().size() + kLines);
        for (char c : AccessLog()) {
            if (c == '\n') out += '\r';
            out += c;
        }
        return out;
    }();
    return text;
}

qel::TRecordRules LogRules(std::string_view separator) {
    qel::TRecordRules rules;
    rules.Separator = separator;
    rules.Delimiter = ' ';
    rules.Qualifier = '"';
    rules.RowFieldNames = 0;
    return rules;
}

void SetRate(benchmark::State& state, std::size_t bytes) {
    const double total = static_cast<double>(bytes) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    // Decimal megabytes a second, shown as a plain number.
    state.counters["MB/s"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate,
                                                benchmark::Counter::OneK::kIs1000);
}

void Cut(benchmark::State& state, const std::string& text, std::string_view separator) {
    std::vector<qel::TRecordRange> kept;
    std::string header;
    for (auto _ : state) {
        qel::ReadRecords(text, LogRules(separator), header, kept);
        benchmark::DoNotOptimize(kept.data());
    }
    if (kept.size() != kLines) state.SkipWithError("wrong record count");
    SetRate(state, text.size());
}

void BM_CutRecordsLF(benchmark::State& state) {
    Cut(state, AccessLog(), "\n");
}
void BM_CutRecordsCRLF(benchmark::State& state) {
    Cut(state, AccessLogCrLf(), "\r\n");
}

void BM_SplitFields(benchmark::State& state) {
    const std::string& text = AccessLog();
    std::vector<qel::TRecordRange> kept;
    std::string header;
    qel::ReadRecords(text, LogRules("\n"), header, kept);
    std::vector<qel::TFieldPosition> fields;
    std::size_t bad = 0;
    for (auto _ : state) {
        for (const auto& r : kept) {
            qel::SplitDelimited(std::string_view(text).substr(r.Offset, r.Length), ' ', '"',
                                fields);
            bad += fields.size() != 10;
        }
        benchmark::DoNotOptimize(fields.data());
    }
    if (bad != 0) state.SkipWithError("a generated line did not split into 10 fields");
    SetRate(state, text.size());
}

// What a run does with the source: cut it, then split each kept record and copy out the
// six fields the log loader maps.
void BM_CutSplitAndCopy(benchmark::State& state) {
    const std::string& text = AccessLog();
    std::vector<qel::TRecordRange> kept;
    std::vector<qel::TFieldPosition> fields;
    std::string header;
    std::size_t copied = 0;
    for (auto _ : state) {
        qel::ReadRecords(text, LogRules("\n"), header, kept);
        for (const auto& r : kept) {
            const std::string_view line = std::string_view(text).substr(r.Offset, r.Length);
            qel::SplitDelimited(line, ' ', '"', fields);
            for (const char* ref : {"Field1", "Field4", "Field6", "Field7", "Field8", "Field9"}) {
                copied += qel::ResolveSourceReference(ref, line, false, fields, ' ').size();
            }
        }
    }
    benchmark::DoNotOptimize(copied);
    SetRate(state, text.size());
}

void BM_CutAndSplit(benchmark::State& state) {
    const std::string& text = AccessLog();
    std::vector<qel::TRecordRange> kept;
    std::vector<qel::TFieldPosition> fields;
    std::string header;
    std::size_t count = 0;
    for (auto _ : state) {
        qel::ReadRecords(text, LogRules("\n"), header, kept);
        for (const auto& r : kept) {
            qel::SplitDelimited(std::string_view(text).substr(r.Offset, r.Length), ' ', '"',
                                fields);
            count += fields.size();
        }
    }
    benchmark::DoNotOptimize(count);
    SetRate(state, text.size());
}

void BM_LoadFile(benchmark::State& state) {
    char path[] = "/tmp/qel_bench_log_XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    ::close(fd);
    std::ofstream(path, std::ios::binary) << AccessLog();
    std::vector<char> chunk(qel::TQelFromText::kDefaultReadChunkSize);
    for (auto _ : state) {
        auto input = qel::OpenFileInput(path);
        while (input->Read(chunk.data(), chunk.size()) > 0) benchmark::DoNotOptimize(chunk.data());
    }
    std::remove(path);
    SetRate(state, AccessLog().size());
}

BENCHMARK(BM_CutRecordsLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutRecordsCRLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitFields)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutAndSplit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutSplitAndCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMillisecond);

// The console table, followed by one plain "name: N MB/s" line per benchmark.
class MegabyteReporter : public benchmark::ConsoleReporter {
  public:
    MegabyteReporter() : ConsoleReporter(::isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("MB/s");
            if (it == run.counters.end() || run.error_occurred) continue;
            std::printf("  %s: %.0f MB/s\n", run.benchmark_name().c_str(), it->second.value);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MegabyteReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
