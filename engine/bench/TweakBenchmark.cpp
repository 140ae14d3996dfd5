// Engine benchmarks: the pure range encoding, and one apply-and-read-back of every feature on
// the simulated processor (the path the debug window's timer takes on each tick).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/wintweak.h"
#include "engine/Tweak.h"

namespace {

void BM_EncodeDecodeRange(benchmark::State& state) {
    const MTRRTp range{true, 0x400000, 0x400000, SizeTp::_4MB, MemoryTypeTp::WriteCombined};
    MTRRTp decoded;
    for (auto _ : state) {
        uint32_t half = 0;
        benchmark::DoNotOptimize(EncodeRange(range, half));
        DecodeRange(half, decoded);
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_EncodeDecodeRange);

void BM_ApplyAndReadBackAllSettings(benchmark::State& state) {
    if (!LoadDriver()) {
        state.SkipWithError("the driver module qrxvxd.vxd did not load");
        return;
    }
    SettingsTp settings;
    IdentifyCPU(settings);
    settings.WA.WAEnabled = true;
    settings.WA.WALimit = 64;
    settings.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    for (auto _ : state) {
        settings.CPU.Multiplier = settings.CPU.Multiplier == 5 ? 6 : 5;
        SetAllSettings(settings);
        GetAllSettings(settings);
    }
    UnloadDriver();
}
BENCHMARK(BM_ApplyAndReadBackAllSettings);

} // namespace

int main(int argc, char** argv) {
    // Never touch the user's own simulated machine: a missing state file is created fresh.
    char dir[] = "/tmp/qrx-engine-bench-XXXXXX";
    const bool ownState = std::getenv("QRX_SIM_STATE") == nullptr && mkdtemp(dir) != nullptr;
    if (ownState)
        setenv("QRX_SIM_STATE", (std::string(dir) + "/simulated-cpu").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ownState) {
        const std::string removeDir = std::string("rm -rf '") + dir + "'";
        if (std::system(removeDir.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", dir);
    }
    return 0;
}
