// Registry reader benchmarks: the two shapes whose reading once grew with the square of their
// size, a key nested deep as the registry writes it (every key's line repeats the path above it)
// and a key with many values.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/RegistryText.h"

namespace {

void BM_ReadDeepKey(benchmark::State& state) {
    std::string text = "REGEDIT4\n\n";
    std::string path = "[HKEY_CURRENT_USER";
    for (int64_t level = 0; level < state.range(0); ++level) {
        path += "\\Key";
        text += path + "]\n\n";
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseRegistryText(text, "bench.reg"));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadDeepKey)->Arg(64)->Arg(512);

void BM_ReadManyValues(benchmark::State& state) {
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Key]\n";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "\"Value" + std::to_string(i) + "\"=dword:00000001\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseRegistryText(text, "bench.reg"));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadManyValues)->Arg(16)->Arg(4096);

} // namespace

BENCHMARK_MAIN();
