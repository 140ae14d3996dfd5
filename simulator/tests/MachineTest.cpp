// Tests of the simulated machine's rules: presets, registers, reset values, requests and log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "simulator/Machine.h"
#include "simulator/SimText.h"
#include "simulator/tests/support/SimTestSupport.h"

namespace {

std::string Vendor(const uint32_t regs[4]) {
    char text[13] = {};
    std::memcpy(text, &regs[1], 4);
    std::memcpy(text + 4, &regs[3], 4);
    std::memcpy(text + 8, &regs[2], 4);
    return text;
}

struct PresetCase {
    const char* name;
    const char* vendor;
    uint32_t maxLeaf, signature;
    std::vector<uint32_t> msrs;
    uint64_t efer, psor;
    uint32_t mhz;
};

const uint32_t E = MsrEfer, W = MsrWhcr, U = MsrUwccr, P = MsrPsor, M = MsrEpmr;

const PresetCase PresetCases[] = {
    {"k6", "AuthenticAMD", 1, 0x562, {E, W}, 0, 0, 233},
    {"k6-7", "AuthenticAMD", 1, 0x570, {E, W}, 0, 0, 300},
    {"k6-2", "AuthenticAMD", 1, 0x580, {E, W}, 0, 0, 350},
    {"k6-2-cxt", "AuthenticAMD", 1, 0x58C, {E, W, U, P}, 2, 0x1C0, 450},
    {"k6-3", "AuthenticAMD", 1, 0x591, {E, W, U, P}, 2, 0x010, 450},
    {"k6-3+", "AuthenticAMD", 1, 0x5D0, {E, W, U, M, P}, 2, 0x001, 500},
    {"k6-2+", "AuthenticAMD", 1, 0x5D4, {E, W, U, M, P}, 2, 0x043, 550},
    {"k6-d9", "AuthenticAMD", 1, 0x5D9, {E, W, U, M, P}, 2, 0x091, 500},
    {"amd-5-10", "AuthenticAMD", 1, 0x5A0, {E, W}, 2, 0, 1000},
    {"athlon", "AuthenticAMD", 1, 0x642, {}, 0, 0, 1000},
    {"intel", "GenuineIntel", 2, 0x683, {}, 0, 0, 1000},
    {"amd-leaf0", "AuthenticAMD", 0, 0x5D0, {E, W, U, M, P}, 2, 0x001, 500},
};

} // namespace

TEST(Presets, EveryPresetIsListedOnceAndMatchesItsTable) {
    ASSERT_EQ(SimPresets().size(), std::size(PresetCases));
    for (const PresetCase& c : PresetCases) {
        SCOPED_TRACE(c.name);
        SimMachine m = Preset(c.name);
        uint32_t regs[4];
        SimCpuid(m, 0, regs);
        EXPECT_EQ(Vendor(regs), c.vendor);
        EXPECT_EQ(regs[0], c.maxLeaf);
        SimCpuid(m, 1, regs);
        EXPECT_EQ(regs[0], c.signature);
        EXPECT_EQ(regs[3] & 0x10u, 0x10u) << "every preset has a time-stamp counter";
        EXPECT_EQ(MsrsOf(m.id), c.msrs);
        EXPECT_EQ(m.cr0, 0x8005003Bu);
        EXPECT_TRUE(m.failing.empty());
        uint64_t value = 99;
        if (HasMsr(m.id, MsrEfer)) {
            ASSERT_TRUE(GetMsr(m, MsrEfer, value));
            EXPECT_EQ(value, c.efer);
        }
        if (HasMsr(m.id, MsrPsor)) {
            ASSERT_TRUE(GetMsr(m, MsrPsor, value));
            EXPECT_EQ(value, c.psor);
        }
        for (uint32_t index : {W, U, M})
            if (GetMsr(m, index, value)) {
                EXPECT_EQ(value, 0u) << std::hex << index;
            }
        EXPECT_EQ(CoreKHz(m), uint64_t{c.mhz} * 1000);
    }
}

TEST(Registers, AbsentRegisterFailsEveryAccessAndLeavesTheOutputAlone) {
    for (const PresetCase& c : PresetCases) {
        SCOPED_TRACE(c.name);
        SimMachine m = Preset(c.name);
        for (uint32_t index : {E, W, U, M, P, 0xC0000081u, 0xC0000084u, 0x10u, 0xC0000088u}) {
            const bool present = std::find(c.msrs.begin(), c.msrs.end(), index) != c.msrs.end();
            const Answer read = Request(m, SimReadMsr, {index}, 2);
            EXPECT_EQ(read.ok, present) << std::hex << index;
            if (!present) {
                EXPECT_EQ(read.out, (std::vector<uint32_t>{Untouched, Untouched}));
                EXPECT_EQ(read.log, "ReadMsr " + Hex8(index) + " -> FAIL");
                const SimMachine before = m;
                EXPECT_FALSE(Request(m, SimWriteMsr, {index, 0, 0}, 0).ok);
                EXPECT_EQ(m, before);
            }
        }
    }
}

TEST(Registers, WritesStoreExactlyTheSixtyFourBitsGivenExceptTheGuardedOnes) {
    struct Case {
        uint32_t index, high, low;
        bool ok;
    } cases[] = {
        {MsrWhcr, 0x12345678, 0x9ABCDEF0, true},
        {MsrUwccr, 0xFFFFFFFF, 0x000BFFFE, true},
        {MsrEpmr, 0x00000001, 0x0000FFF1, true},
        {MsrEfer, 0, 0x1F, true},
        {MsrEfer, 0, 0x20, false},
        {MsrEfer, 0x80000000, 0x02, false},
        {MsrEfer, 0, 0xFFFFFFFF, false},
        {MsrPsor, 0, 0x1, false},
        {MsrPsor, 0, 0x3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex8(c.index) + " " + Hex8(c.high) + " " + Hex8(c.low));
        SimMachine m = Preset("k6-3+");
        const SimMachine before = m;
        const Answer write = Request(m, SimWriteMsr, {c.index, c.high, c.low}, 0);
        EXPECT_EQ(write.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(m, before);
            EXPECT_EQ(write.log, "WriteMsr " + Hex8(c.index) + " " + Hex8(c.high) + " " +
                                     Hex8(c.low) + " -> FAIL");
            continue;
        }
        const Answer read = Request(m, SimReadMsr, {c.index}, 2);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.out, (std::vector<uint32_t>{c.high, c.low}));
    }
}

TEST(CacheSwitches, RequestFiveDrivesCr0BitThirtyAndSixDrivesEferBitFour) {
    SimMachine m = Preset("k6-3");
    struct Step {
        uint32_t code, value;
        uint32_t cr0;
        uint64_t efer;
    } steps[] = {
        {SimSetL1Cache, 0, 0xC005003B, 2},    {SimSetL1Cache, 0, 0xC005003B, 2},
        {SimSetL2Cache, 0, 0xC005003B, 0x12}, {SimSetL1Cache, 1, 0x8005003B, 0x12},
        {SimSetL2Cache, 1, 0x8005003B, 2},
    };
    for (const Step& s : steps) {
        ASSERT_TRUE(Request(m, s.code, {s.value}, 0).ok);
        EXPECT_EQ(m.cr0, s.cr0);
        uint64_t efer = 0;
        GetMsr(m, MsrEfer, efer);
        EXPECT_EQ(efer, s.efer);
    }
}

TEST(CacheSwitches, OnlyOneOrZeroIsASwitchAndL2NeedsEfer) {
    SimMachine m = Preset("k6-3");
    const SimMachine before = m;
    EXPECT_FALSE(Request(m, SimSetL1Cache, {2}, 0).ok);
    EXPECT_FALSE(Request(m, SimSetL2Cache, {0xFFFFFFFF}, 0).ok);
    EXPECT_EQ(m, before);
    EXPECT_EQ(Request(m, SimSetL1Cache, {0x100}, 0).log, "SetL1Cache 100 -> FAIL");

    SimMachine intel = Preset("intel");
    EXPECT_TRUE(Request(intel, SimSetL1Cache, {0}, 0).ok) << "every processor has an L1 switch";
    EXPECT_FALSE(Request(intel, SimSetL2Cache, {1}, 0).ok);
}

TEST(Clock, CyclesAreCoreClockTimesIntervalAndFollowTheMultiplierOnModel13) {
    struct Case {
        const char* preset;
        uint32_t psorCode; // 8: leave as reset
        uint32_t interval, elapsed, cycles;
    } cases[] = {
        {"k6", 8, 50, 50, 233u * 1000 * 50},
        {"k6-2-cxt", 8, 50, 50, 450u * 1000 * 50},
        {"k6-3+", 8, 50, 50, 25000000},
        {"k6-2+", 8, 50, 50, 550u * 1000 * 50},
        {"k6-3+", 6, 50, 50, 600u * 1000 * 50},
        {"k6-3+", 4, 10, 10, 200u * 1000 * 10},
        {"k6-3+", 0, 1, 1, 450u * 1000},
        {"intel", 8, 4, 4, 4000000},
        {"k6-3+", 8, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " code " + std::to_string(c.psorCode));
        SimMachine m = Preset(c.preset);
        if (c.psorCode < 8)
            SetMsr(m, MsrPsor, c.psorCode);
        const Answer a = Request(m, SimMeasureClock, {c.interval}, 2);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.out, (std::vector<uint32_t>{c.elapsed, c.cycles}));
    }
}

TEST(Clock, OnlyACountThatDoesNotFitFails) {
    SimMachine m = Preset("intel");
    EXPECT_TRUE(Request(m, SimMeasureClock, {4294}, 2).ok);
    const Answer tooLong = Request(m, SimMeasureClock, {4295}, 2);
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(tooLong.out, (std::vector<uint32_t>{Untouched, Untouched}));
    EXPECT_EQ(tooLong.log, "MeasureClock 000010C7 -> FAIL");
}

// CPUID's time-stamp bit tells the programs whether to measure; the request itself answers by
// the same rule on every machine.
TEST(Clock, AMachineWithoutTheCounterBitAnswersByTheSameRule) {
    struct Case {
        const char* preset;
        uint32_t interval, cycles;
    } cases[] = {
        {"k6-2", 50, 1000u * 1000 * 50}, // a custom machine's fixed clock
        {"k6-3+", 50, 500u * 1000 * 50},
        {"k6-2+", 10, 550u * 1000 * 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preset);
        SimIdentity noTsc = Preset(c.preset).id;
        noTsc.tsc = false;
        SimMachine custom = ResetCustom(noTsc);
        if (c.preset == std::string("k6-2+")) // custom boots with 5.0; give it the K6-2+'s 5.5
            custom.msrs[MsrPsor] = (custom.msrs[MsrPsor] & ~uint64_t{7}) | 3u;
        uint32_t regs[4];
        SimCpuid(custom, 1, regs);
        EXPECT_EQ(regs[3] & 0x10u, 0u);
        const Answer a = Request(custom, SimMeasureClock, {c.interval}, 2);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.out, (std::vector<uint32_t>{c.interval, c.cycles}));
    }
}

TEST(PowerManagementPort, MultiplierChangesOnlyThroughAnEnabledBlockAtBasePlusEight) {
    struct Case {
        const char* what;
        uint64_t epmr;
        uint16_t port;
        uint32_t value;
        uint32_t storedPort;
        uint64_t psor;
    } cases[] = {
        {"enabled at FFF0", 0xFFF1, 0xFFF8, 0x962C0, 0x962C0, 0x006},
        {"code 3", 0xFFF1, 0xFFF8, 0x96260, 0x96260, 0x003},
        {"block disabled", 0xFFF0, 0xFFF8, 0x962C0, 0, 0x001},
        {"other port", 0xFFF1, 0xFFF0, 0x962C0, 0, 0x001},
        {"other base", 0xE001, 0xE008, 0x96280, 0x96280, 0x004},
        {"old base", 0xE001, 0xFFF8, 0x96280, 0, 0x001},
        {"no request bit 9", 0xFFF1, 0xFFF8, 0x960C0, 0x960C0, 0x001},
        {"upper field zero", 0xFFF1, 0xFFF8, 0x002C0, 0x002C0, 0x001},
        {"high half ignored", 0xABCD00000000FFF1ull, 0xFFF8, 0x962E0, 0x962E0, 0x007},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine m = Preset("k6-3+");
        SetMsr(m, MsrEpmr, c.epmr);
        const SimOutcome o = SimOutPort(m, c.port, c.value);
        EXPECT_TRUE(o.ok);
        EXPECT_EQ(o.logLine, "Out " + Hex4(c.port) + " " + Hex8(c.value));
        EXPECT_EQ(m.port, c.storedPort);
        uint64_t psor = 0;
        GetMsr(m, MsrPsor, psor);
        EXPECT_EQ(psor, c.psor);
    }
}

TEST(PowerManagementPort, OutputOnAProcessorWithoutTheBlockChangesNothing) {
    for (const char* name : {"k6", "k6-3", "intel"}) {
        SimMachine m = Preset(name);
        const SimMachine before = m;
        EXPECT_FALSE(SimOutPort(m, 0xFFF8, 0x962C0).changed);
        EXPECT_EQ(m, before);
    }
}

TEST(Faults, AFailingCodeFailsWithoutEffectAndOthersStillWork) {
    SimMachine m = Preset("k6-3+");
    m.failing = {SimWriteMsr, SimReadCr0};
    const SimMachine before = m;
    const Answer write = Request(m, SimWriteMsr, {MsrWhcr, 0, 0xFE}, 0);
    EXPECT_FALSE(write.ok);
    EXPECT_EQ(write.log, "WriteMsr C0000082 00000000 000000FE -> FAIL");
    EXPECT_EQ(m, before);
    const Answer cr0 = Request(m, SimReadCr0, {}, 1);
    EXPECT_FALSE(cr0.ok);
    EXPECT_EQ(cr0.out, std::vector<uint32_t>{Untouched});
    EXPECT_EQ(cr0.log, "ReadCr0 -> FAIL");
    EXPECT_TRUE(Request(m, SimReadMsr, {MsrWhcr}, 2).ok);
    EXPECT_TRUE(Request(m, SimSetL1Cache, {0}, 0).ok);
}

TEST(Log, EveryRequestWritesItsFixedFormatLine) {
    SimMachine m = Preset("k6-2");
    SetMsr(m, MsrWhcr, 0xFE);
    struct Case {
        uint32_t code;
        std::vector<uint32_t> in;
        size_t outWords;
        const char* line;
    } cases[] = {
        {SimReadMsr, {MsrWhcr}, 2, "ReadMsr C0000082 -> 00000000 000000FE"},
        {SimReadMsr, {MsrUwccr}, 2, "ReadMsr C0000085 -> FAIL"},
        {SimWriteMsr, {MsrWhcr, 0, 0xFE}, 0, "WriteMsr C0000082 00000000 000000FE"},
        {SimMeasureClock, {50}, 2, "MeasureClock 00000032 -> 00000032 010B0760"},
        {SimReadCr0, {}, 1, "ReadCr0 -> 8005003B"},
        {SimSetL1Cache, {1}, 0, "SetL1Cache 1"},
        {SimSetL2Cache, {0}, 0, "SetL2Cache 0"},
        {7, {}, 0, "Request 00000007 -> FAIL"},
        {SimReadMsr, {}, 2, "ReadMsr -> FAIL"},
        {SimReadMsr, {MsrWhcr}, 1, "ReadMsr C0000082 -> FAIL"},
        {SimWriteMsr, {MsrWhcr, 0}, 0, "WriteMsr -> FAIL"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Request(m, c.code, c.in, c.outWords).log, c.line);

    uint32_t regs[4];
    EXPECT_EQ(SimCpuid(m, 1, regs).logLine,
              "Cpuid 00000001 -> 00000580 00000000 00000000 008021BF");
    EXPECT_EQ(SimOutPort(m, 0xFFF8, 0x962C0).logLine, "Out FFF8 000962C0");
}

TEST(Cpuid, LeavesBeyondTheKnownOnesAnswerZero) {
    SimMachine m = Preset("k6-3+");
    for (uint32_t leaf : {2u, 0x7FFFFFFFu, 0x80000005u, 0xFFFFFFFFu}) {
        uint32_t regs[4] = {1, 1, 1, 1};
        SimCpuid(m, leaf, regs);
        EXPECT_EQ(regs[0] | regs[1] | regs[2] | regs[3], 0u) << std::hex << leaf;
    }
    uint32_t regs[4];
    SimCpuid(m, 0x80000000u, regs);
    EXPECT_EQ(regs[0], 0x80000004u);
    std::string brand;
    for (uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
        SimCpuid(m, leaf, regs);
        brand.append(reinterpret_cast<const char*>(regs), 16);
    }
    EXPECT_EQ(std::string(brand.c_str()), "AMD-K6(tm)-III Processor");
}

TEST(Custom, IdentityDecidesRegistersAndResetValues) {
    struct Case {
        SimIdentity id;
        std::vector<uint32_t> msrs;
        uint64_t efer;
    } cases[] = {
        {{"AuthenticAMD", 5, 8, 7, 1, true}, {E, W}, 0},
        {{"AuthenticAMD", 5, 8, 8, 1, true}, {E, W, U, P}, 2},
        {{"AuthenticAMD", 5, 5, 0, 1, true}, {}, 0},
        {{"AuthenticAMD", 5, 14, 0, 1, true}, {}, 0},
        {{"authenticamd", 5, 13, 0, 1, true}, {}, 0},
        {{"AuthenticAMD", 4, 13, 0, 1, true}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.id));
        const SimMachine m = ResetCustom(c.id);
        EXPECT_EQ(m.preset, "custom");
        EXPECT_EQ(MsrsOf(m.id), c.msrs);
        uint64_t efer = 0;
        GetMsr(m, MsrEfer, efer);
        EXPECT_EQ(efer, c.efer);
        EXPECT_EQ(CoreKHz(m), 1000000u);
    }
}

TEST(Describe, DecodesRangesLimitsMultiplierAndCaches) {
    struct Case {
        const char* preset;
        uint32_t index;
        uint64_t value;
        std::vector<std::string> expected;
    } cases[] = {
        {"k6-3+",
         MsrUwccr,
         0x000BFFFE,
         {"range 0: start 000A0000, 128 kB, write-combined", "range 1: not in use"}},
        {"k6-3+",
         MsrUwccr,
         0xE001FF0100000000ull,
         {"range 1: start E0000000, 8 MB, uncached", "range 0: not in use"}},
        {"k6-3+", MsrUwccr, 0x00007FF7, {"invalid size mask 1FFD"}},
        {"k6-3+", MsrWhcr, 0x01010000, {"limit 16 MB", "15-16 MB range write-allocated"}},
        {"k6-3+", MsrWhcr, 0xFFC00000, {"limit 4092 MB", "15-16 MB range excluded"}},
        {"k6", MsrWhcr, 0xFE, {"limit 508 MB", "K6 layout"}},
        {"k6", MsrWhcr, 0x01, {"write allocation on, limit 0 MB", "write-allocated (bit 0)"}},
        {"k6-2+", MsrPsor, 0x43, {"multiplier 5.5x", "550 MHz (100 MHz bus x 5.5)"}},
        {"k6-3+", MsrEfer, 0x1A, {"L2 cache off", "No Write Ordering", "data prefetch on"}},
        {"k6-3+", MsrEfer, 0x04, {"L2 cache on", "All except UC/WC", "data prefetch off"}},
        {"k6-3+", MsrEpmr, 0xFFF1, {"enabled at I/O FFF0 (multiplier port FFF8)"}},
    };
    for (const Case& c : cases) {
        SimMachine m = Preset(c.preset);
        ASSERT_TRUE(SetMsr(m, c.index, c.value));
        const std::string text = DescribeMachine(m);
        for (const std::string& e : c.expected)
            EXPECT_NE(text.find(e), std::string::npos) << "missing \"" << e << "\" in\n" << text;
    }
    SimMachine k6 = Preset("k6");
    k6.cr0 |= Cr0CacheDisable;
    const std::string text = DescribeMachine(k6);
    EXPECT_NE(text.find("L1 cache off"), std::string::npos) << text;
    EXPECT_NE(text.find("UWCCR  C0000085  not present"), std::string::npos) << text;
    EXPECT_NE(text.find("233 MHz"), std::string::npos) << text;
}

// With a memory map the machine applies the kernel driver's rules: a refused write changes
// nothing and logs REFUSED, an allowed one stores the caller's bits only; request 8 answers.
TEST(MemoryMap, WritesFollowTheKernelDriversRulesAndRequestEightAnswers) {
    struct Case {
        const char* preset;
        bool holeIsRam;
        uint32_t index, high, low;
        const char* log; // the log line's ending
        uint64_t stored; // the register afterwards
    } cases[] = {
        {"k6-3+", true, MsrWhcr, 0, 0x04010000, "", 0x04010000},
        {"k6-3+", true, MsrWhcr, 0, 0x04400000, " -> REFUSED", 0},
        {"k6-3+", false, MsrWhcr, 0, 0x04010000, " -> REFUSED", 0},
        {"k6-3+", true, MsrWhcr, 0x1, 0x04000001, "", 0x04000000},
        {"k6", true, MsrWhcr, 0, 0x21, "", 0x21},
        {"k6", false, MsrWhcr, 0, 0x21, " -> REFUSED", 0},
        {"k6-3+", true, MsrUwccr, 0, 0x0001FF82, " -> REFUSED", 0},
        {"k6-3+", true, MsrUwccr, 0, 0x000BFFFE, "", 0x000BFFFE},
        {"k6-3+", true, MsrUwccr, 0, 0xE001FF82, "", 0xE001FF82},
        {"k6-3+", true, MsrUwccr, 0, 0x0001FF81, "", 0x0001FF81},
        {"k6-3+", true, MsrEpmr, 0, 0x0000FF01, " -> REFUSED", 0},
        {"k6-3+", true, MsrEfer, 0, 0x1F, "", 0x0E},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + Hex8(c.index) + " " + Hex8(c.low));
        SimMachine m = Preset(c.preset);
        m.memory = {true, 64, c.holeIsRam, {{0xE0000000u, 0x400000u}}};
        const Answer write = Request(m, SimWriteMsr, {c.index, c.high, c.low}, 0);
        EXPECT_EQ(write.log,
                  "WriteMsr " + Hex8(c.index) + " " + Hex8(c.high) + " " + Hex8(c.low) + c.log);
        uint64_t value = 0;
        GetMsr(m, c.index, value);
        EXPECT_EQ(value, c.stored);
    }
    SimMachine m = Preset("k6-3+");
    EXPECT_EQ(Request(m, SimReadMachine, {}, 12).log, "");
    m.memory = {true, 64, false, {{0xE0000000u, 0x400000u}}};
    const Answer facts = Request(m, SimReadMachine, {}, 12);
    EXPECT_EQ(facts.out,
              (std::vector<uint32_t>{64, 0, 1, 0, 0xE0000000u, 0x400000u, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(facts.log, "ReadMachine -> 00000040 00000000 00000001");
}
