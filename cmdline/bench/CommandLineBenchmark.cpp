// Benchmark of the command line on the in-process simulated machine: parsing alone, and parsing
// plus identification plus one application of a full parameter set.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "testing/RecordedMessages.h"

namespace {

const std::vector<std::string> FullSet = {
    "/WA", "64", "0",      "/L1",      "1",     "/L2", "1",  "/DP", "1",   "/MTRR0", "E0000000",
    "4MB", "W",  "/MTRR1", "00000000", "128kB", "N",   "/M", "5.5", "/WO", "0"};

// A machine of the benchmark's own, so the user's simulated processor is left alone.
void UsePrivateMachine() {
    char pattern[] = "/tmp/qrx-bench-XXXXXX";
    if (const char* dir = mkdtemp(pattern))
        setenv("QRX_SIM_STATE", (std::string(dir) + "/simulated-cpu").c_str(), 1);
}

void ParseOnly(benchmark::State& state) {
    SettingsTp identified;
    IdentifyCPU(identified);
    SetParameterList(FullSet);
    for (auto _ : state) {
        SettingsTp working = identified;
        bool showWindow = true;
        benchmark::DoNotOptimize(ValidateCommandLine());
        benchmark::DoNotOptimize(ApplyParametersToRecord(working, showWindow));
        benchmark::DoNotOptimize(working);
    }
}
BENCHMARK(ParseOnly);

void ParseAndApply(benchmark::State& state) {
    SetParameterList(FullSet);
    for (auto _ : state) {
        ClearRecordedMessages();
        benchmark::DoNotOptimize(ProcessCommandLine());
    }
    if (!RecordedErrors().empty())
        state.SkipWithError(RecordedErrors().front().c_str());
}
BENCHMARK(ParseAndApply)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    UsePrivateMachine();
    if (!LoadDriver()) {
        std::fprintf(stderr, "qrx_cmdline_benchmark: qrxvxd.vxd not found beside the program\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    UnloadDriver();
    return 0;
}
