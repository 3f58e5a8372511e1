// Evaluations per second of typical mapping and load-condition texts, with a handler that
// answers names as the import engine does. "Kept" reuses one parser per text (the engine's way);
// "Fresh" parses the text for every evaluation.
#include <benchmark/benchmark.h>

#include <string>

#include "expr/QelPars.h"

namespace qel {
namespace {

void Resolve(TQelParser&, const std::string& name, const Variant*, int argCount, Variant& value,
             bool& done) {
    if (name == "Field1") {
        value = Variant("GET /index.html HTTP/1.0");
    } else if (name == "Code") {
        value = Variant("200");
    } else if (name == "Size") {
        value = Variant("1043");
    }
    done = argCount == 0;
}

const char* const kTexts[] = {"Field1", "UPPER(SUBSTR(Field1, 1, 3))",
                              "(Code = 200) AND (Size > 0)"};

void BM_Kept(benchmark::State& state) {
    TQelParser parser;
    parser.SetOnEvaluate(Resolve);
    parser.SetText(kTexts[state.range(0)]);
    Variant v;
    for (auto _ : state) {
        parser.GetValue(v);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(kTexts[state.range(0)]);
}

void BM_Fresh(benchmark::State& state) {
    Variant v;
    for (auto _ : state) {
        TQelParser parser;
        parser.SetOnEvaluate(Resolve);
        parser.SetText(kTexts[state.range(0)]);
        parser.GetValue(v);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(kTexts[state.range(0)]);
}

void BM_DateTimeFromString(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            DateTimeFromString("25/Dec/2003:10:15:42", "DD/MMM/YYYY:HH:NN:SS", '/', ':'));
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Kept)->DenseRange(0, 2);
BENCHMARK(BM_Fresh)->DenseRange(0, 2);
BENCHMARK(BM_DateTimeFromString);

}  // namespace
}  // namespace qel

BENCHMARK_MAIN();
