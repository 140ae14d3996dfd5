// Identification against every simulated processor: name, identity, the features offered, the
// installed handlers, and what identification reads back.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "EngineTestSupport.h"
#include "testing/RecordedMessages.h"

namespace {

enum class WA { None, K6, CXT };
constexpr uint8_t AnyMultiplier = 255;

struct Features {
    WA wa;
    bool ranges, multiplier, l2, writeOrdering, prefetch;
};

const Features L1OnlyFeatures = {WA::None, false, false, false, false, false};
const Features K6Features = {WA::K6, false, false, false, false, false};
const Features K62CxtFeatures = {WA::CXT, true, false, false, true, true};
const Features K63Features = {WA::CXT, true, false, true, true, true};
const Features Model13Features = {WA::CXT, true, true, true, true, true};

struct IdentifyCase {
    std::vector<std::string> reset; // arguments of "qrxsim reset"
    std::string vendor;
    std::string name;
    bool idValid;
    int family, model, stepping;
    bool tsc;
    Features features;
    uint8_t bootMultiplier; // AnyMultiplier: not checked
};

const IdentifyCase Cases[] = {
    {{"k6"}, "AuthenticAMD", "AMD-K6(tm)", true, 5, 6, 2, true, K6Features, 0},
    {{"k6-7"}, "AuthenticAMD", "AMD-K6(tm)", true, 5, 7, 0, true, K6Features, 0},
    {{"k6-2"}, "AuthenticAMD", "AMD-K6(tm)-2", true, 5, 8, 0, true, K6Features, 0},
    {{"k6-2-cxt"}, "AuthenticAMD", "AMD-K6(tm)-2", true, 5, 8, 12, true, K62CxtFeatures, 0},
    {{"k6-3"}, "AuthenticAMD", "AMD-K6(tm)-III", true, 5, 9, 1, true, K63Features, 0},
    {{"k6-3+"}, "AuthenticAMD", "AMD-K6(tm)-III+", true, 5, 13, 0, true, Model13Features, 5},
    {{"k6-2+"}, "AuthenticAMD", "AMD-K6(tm)-2+", true, 5, 13, 4, true, Model13Features, 6},
    {{"k6-d9"}, "AuthenticAMD", "Unknown CPU", true, 5, 13, 9, true, Model13Features, 5},
    {{"amd-5-10"}, "AuthenticAMD", "Unknown CPU", true, 5, 10, 0, true, L1OnlyFeatures, 0},
    {{"athlon"}, "AuthenticAMD", "Unknown CPU", true, 6, 4, 2, true, L1OnlyFeatures, 0},
    {{"intel"}, "GenuineIntel", "Unknown CPU", false, 0, 0, 0, true, L1OnlyFeatures, 0},
    // The steppings on either side of the CXT core, and the other models outside the table.
    {{"custom", "AuthenticAMD", "5", "8", "7"},
     "AuthenticAMD",
     "AMD-K6(tm)-2",
     true,
     5,
     8,
     7,
     true,
     K6Features,
     0},
    {{"custom", "AuthenticAMD", "5", "8", "8"},
     "AuthenticAMD",
     "AMD-K6(tm)-2",
     true,
     5,
     8,
     8,
     true,
     K62CxtFeatures,
     0},
    {{"custom", "AuthenticAMD", "5", "13", "3"},
     "AuthenticAMD",
     "AMD-K6(tm)-III+",
     true,
     5,
     13,
     3,
     true,
     Model13Features,
     AnyMultiplier},
    {{"custom", "AuthenticAMD", "5", "13", "7"},
     "AuthenticAMD",
     "AMD-K6(tm)-2+",
     true,
     5,
     13,
     7,
     true,
     Model13Features,
     AnyMultiplier},
    {{"custom", "AuthenticAMD", "5", "13", "8"},
     "AuthenticAMD",
     "Unknown CPU",
     true,
     5,
     13,
     8,
     true,
     Model13Features,
     AnyMultiplier},
    {{"custom", "AuthenticAMD", "5", "11", "0"},
     "AuthenticAMD",
     "Unknown CPU",
     true,
     5,
     11,
     0,
     true,
     L1OnlyFeatures,
     0},
    {{"custom", "AuthenticAMD", "5", "12", "0"},
     "AuthenticAMD",
     "Unknown CPU",
     true,
     5,
     12,
     0,
     true,
     L1OnlyFeatures,
     0},
    {{"custom", "AuthenticAMD", "5", "5", "0"},
     "AuthenticAMD",
     "Unknown CPU",
     true,
     5,
     5,
     0,
     true,
     L1OnlyFeatures,
     0},
    // Only the exact vendor string counts as AMD.
    {{"custom", "AuthenticAmd", "5", "9", "1"},
     "AuthenticAmd",
     "Unknown CPU",
     false,
     0,
     0,
     0,
     true,
     L1OnlyFeatures,
     0},
    // No time-stamp counter.
    {{"custom", "AuthenticAMD", "5", "9", "1", "1", "0"},
     "AuthenticAMD",
     "AMD-K6(tm)-III",
     true,
     5,
     9,
     1,
     false,
     K63Features,
     0},
};

std::string Describe(const std::vector<std::string>& args) {
    std::string text = "qrxsim reset";
    for (const std::string& a : args)
        text += " " + a;
    return text;
}

// What GetAllSettings asks of the processor for these features, in feature order.
std::vector<std::string> ExpectedReads(const Features& f) {
    std::vector<std::string> r;
    if (f.wa != WA::None)
        r.push_back("ReadMsr C0000082");
    if (f.ranges)
        r.push_back("ReadMsr C0000085");
    if (f.multiplier)
        r.push_back("ReadMsr C0000087");
    r.push_back("ReadCr0");
    if (f.l2)
        r.push_back("ReadMsr C0000080");
    if (f.writeOrdering)
        r.push_back("ReadMsr C0000080");
    if (f.prefetch)
        r.push_back("ReadMsr C0000080");
    return r;
}

class Identify : public SimulatedCpu {};

} // namespace

TEST_F(Identify, EveryProcessorGetsItsNameIdentityFeaturesAndHandlers) {
    for (const IdentifyCase& c : Cases) {
        SCOPED_TRACE(Describe(c.reset));
        ASSERT_NO_FATAL_FAILURE(Reset(c.reset));
        SettingsTp s;
        IdentifyCPU(s);

        EXPECT_EQ(s.CPU.Name, c.name);
        EXPECT_EQ(std::string(s.CPU.VendorID.begin(), s.CPU.VendorID.end()), c.vendor);
        EXPECT_EQ(s.CPU.VendorUnknown, c.vendor != "AuthenticAMD");
        EXPECT_EQ(s.CPU.IDValid, c.idValid);
        EXPECT_EQ(s.CPU.Family, c.family);
        EXPECT_EQ(s.CPU.Model, c.model);
        EXPECT_EQ(s.CPU.Stepping, c.stepping);
        EXPECT_EQ(s.CPU.HasTSC, c.tsc);

        const Features& f = c.features;
        EXPECT_TRUE(s.L1Supported);
        EXPECT_EQ(s.SetL1Proc, SetL1);
        EXPECT_EQ(s.GetL1Proc, GetL1);
        EXPECT_EQ(s.WA.WASupported, f.wa != WA::None);
        EXPECT_EQ(s.SetWAProc, f.wa == WA::K6    ? SetWAK6
                               : f.wa == WA::CXT ? SetWACXT
                                                 : SetWADefault);
        EXPECT_EQ(s.GetWAProc, f.wa == WA::K6    ? GetWAK6
                               : f.wa == WA::CXT ? GetWACXT
                                                 : GetWADefault);
        EXPECT_EQ(s.WA.WAMaxLimit, f.wa == WA::K6 ? 508 : f.wa == WA::CXT ? 4092 : 0);
        EXPECT_EQ(s.WC.WCSupported, f.ranges);
        EXPECT_EQ(s.SetWCProc, f.ranges ? SetWC : SetWCDefault);
        EXPECT_EQ(s.GetWCProc, f.ranges ? GetWC : GetWCDefault);
        EXPECT_EQ(s.CPU.MultiplierKnown, f.multiplier);
        EXPECT_EQ(s.CPU.MultiplierSupported, f.multiplier);
        EXPECT_EQ(s.SetMultiplierProc, f.multiplier ? SetMultiplier : SetMultiplierDefault);
        EXPECT_EQ(s.GetMultiplierProc, f.multiplier ? GetMultiplier : GetMultiplierDefault);
        EXPECT_EQ(s.L2Supported, f.l2);
        EXPECT_EQ(s.SetL2Proc, f.l2 ? SetL2 : SetL2Default);
        EXPECT_EQ(s.GetL2Proc, f.l2 ? GetL2 : GetL2Default);
        EXPECT_EQ(s.WriteOrderingSupported, f.writeOrdering);
        EXPECT_EQ(s.SetWriteOrderingProc,
                  f.writeOrdering ? SetWriteOrdering : SetWriteOrderingDefault);
        EXPECT_EQ(s.GetWriteOrderingProc,
                  f.writeOrdering ? GetWriteOrdering : GetWriteOrderingDefault);
        EXPECT_EQ(s.DataPrefetchSupported, f.prefetch);
        EXPECT_EQ(s.SetDataPrefetchProc, f.prefetch ? SetDataPrefetch : SetDataPrefetchDefault);
        EXPECT_EQ(s.GetDataPrefetchProc, f.prefetch ? GetDataPrefetch : GetDataPrefetchDefault);

        // The record holds the freshly reset machine's state: caches on, nothing allocated or
        // ranged, the CXT core's prefetch bit set, the boot multiplier.
        EXPECT_TRUE(s.L1CacheEnabled);
        EXPECT_EQ(s.L2CacheEnabled, f.l2);
        EXPECT_FALSE(s.WA.WAEnabled);
        EXPECT_FALSE(s.WC.MTRR0.Enabled);
        EXPECT_FALSE(s.WC.MTRR1.Enabled);
        EXPECT_EQ(s.DataPrefetchEnabled, f.prefetch);
        if (f.multiplier && c.bootMultiplier != AnyMultiplier) {
            EXPECT_EQ(s.CPU.Multiplier, c.bootMultiplier);
        }

        // CPUID leaf 0, leaf 1, then for a known vendor leaf 1 again; then one read per
        // supported feature in feature order, and never a stray default handler.
        std::vector<std::string> expected{"Cpuid 00000000", "Cpuid 00000001"};
        if (c.vendor == "AuthenticAMD")
            expected.push_back("Cpuid 00000001");
        for (const std::string& r : ExpectedReads(f))
            expected.push_back(r);
        EXPECT_EQ(SimRequests(), expected);
        EXPECT_TRUE(RecordedMessages().empty());
    }
}

TEST_F(Identify, HighestStandardLeafZeroInstallsOnlyL1AndReadsNothingBack) {
    ASSERT_NO_FATAL_FAILURE(Reset("amd-leaf0"));
    Sim({"set", "CR0", "C005003B"}); // L1 off: a read back would show it
    SettingsTp s;
    IdentifyCPU(s);

    SettingsTp expected;
    expected.CPU.VendorUnknown = false;
    expected.CPU.VendorID = {'A', 'u', 't', 'h', 'e', 'n', 't', 'i', 'c', 'A', 'M', 'D'};
    expected.CPU.HasTSC = true;
    expected.L1Supported = true;
    expected.L1Unread = true; // nothing read it, so no apply may write it
    expected.SetL1Proc = SetL1;
    expected.GetL1Proc = GetL1;
    EXPECT_EQ(s, expected);
    EXPECT_EQ(SimRequests(), (std::vector<std::string>{"Cpuid 00000000", "Cpuid 00000001"}));
}

// A processor that cannot be asked (its state file became a folder) is unread, not unknown, and
// the host's processor does not answer in its place.
TEST_F(Identify, AProcessorThatCannotBeAskedIsUnreadNotUnknown) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    const std::string state = std::getenv("QRX_SIM_STATE"), away = state + ".away";
    ASSERT_EQ(std::rename(state.c_str(), away.c_str()), 0);
    ASSERT_EQ(mkdir(state.c_str(), 0700), 0);
    SettingsTp s;
    IdentifyCPU(s);
    EXPECT_EQ(rmdir(state.c_str()) | std::rename(away.c_str(), state.c_str()), 0);
    EXPECT_TRUE(s.CPU.IdentityUnread);
    EXPECT_EQ(s.CPU.Name, "Unknown CPU");
    EXPECT_FALSE(s.L1Supported || s.CPU.IDValid);
}

TEST_F(Identify, HighestLeafCountsOnlyForAmdAndOnlyItsLowSixteenBits) {
    struct Case {
        std::vector<std::string> reset;
        bool amd, tsc;
        std::vector<std::string> requests;
    } cases[] = {
        // Bits 31..16 of the answer are not part of the highest leaf.
        {{"custom", "AuthenticAMD", "5", "9", "1", "65536", "0"},
         true,
         false,
         {"Cpuid 00000000", "Cpuid 00000001"}},
        // Another vendor skips the leaf test and still gets its L1 state read back; leaf 1 is
        // asked whatever the highest leaf says.
        {{"custom", "GenuineIntel", "6", "8", "3", "0", "1"},
         false,
         true,
         {"Cpuid 00000000", "Cpuid 00000001", "ReadCr0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c.reset));
        ASSERT_NO_FATAL_FAILURE(Reset(c.reset));
        Sim({"set", "CR0", "C005003B"}); // L1 off
        SettingsTp s;
        IdentifyCPU(s);

        EXPECT_EQ(s.CPU.VendorUnknown, !c.amd);
        EXPECT_FALSE(s.CPU.IDValid);
        EXPECT_EQ(s.CPU.Family, 0);
        EXPECT_EQ(s.CPU.HasTSC, c.tsc);
        EXPECT_EQ(s.CPU.Name, "Unknown CPU");
        EXPECT_TRUE(s.L1Supported);
        EXPECT_FALSE(s.WA.WASupported);
        EXPECT_FALSE(s.WC.WCSupported);
        EXPECT_FALSE(s.CPU.MultiplierSupported);
        EXPECT_FALSE(s.L2Supported);
        EXPECT_EQ(s.L1CacheEnabled, c.amd) << "read back only when identification went on";
        EXPECT_EQ(SimRequests(), c.requests);
    }
}

TEST_F(Identify, ReidentifyingReplacesEverythingOfTheOldRecord) {
    // The debug window identifies records that already held another profile's values.
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SettingsTp s;
    IdentifyCPU(s);
    ASSERT_NO_FATAL_FAILURE(Reset("intel"));
    IdentifyCPU(s);

    SettingsTp fresh;
    IdentifyCPU(fresh);
    EXPECT_EQ(s, fresh);
    EXPECT_FALSE(s.WA.WASupported);
    EXPECT_EQ(s.SetWAProc, SetWADefault);
}

TEST(Defaults, SetDefaultsResetsValuesAndNonL1SlotsButKeepsTheL1Slots) {
    SettingsTp s;
    s.CPU.Name = "AMD-K6(tm)-III";
    s.CPU.Family = 5;
    s.WA = {100, 4092, true, true, true};
    s.WC.WCSupported = true;
    s.WC.MTRR1 = {true, 0x400000, 0x400000, SizeTp::_4MB, MemoryTypeTp::Uncached};
    s.L1Supported = true;
    s.L1CacheEnabled = false;
    s.WriteOrderingType = WriteOrderingTp::GEWBED;
    s.SetWAProc = SetWACXT;
    s.GetDataPrefetchProc = GetDataPrefetch;
    s.SetL1Proc = SetL1;
    s.GetL1Proc = GetL1;
    SetDefaults(s);

    SettingsTp expected;
    expected.SetL1Proc = SetL1;
    expected.GetL1Proc = GetL1;
    EXPECT_EQ(s, expected);
    EXPECT_EQ(s.CPU.Name, "Unknown CPU");
    EXPECT_EQ(s.WC.MTRR0.SizeBytes, 0x20000u);
    EXPECT_EQ(s.WriteOrderingType, WriteOrderingTp::EWBEStrong);
    EXPECT_TRUE(s.L1CacheEnabled);
}

TEST(Defaults, EachDefaultHandlerOnlyReportsItsOwnName) {
    ClearRecordedMessages();
    WATp wa{100, 508, true, true, true};
    WCTp wc;
    uint8_t index = 3;
    bool a = true, b = true;
    WriteOrderingTp wo = WriteOrderingTp::SEWBED;
    SetWADefault(wa);
    GetWADefault(wa);
    SetWCDefault(wc);
    GetWCDefault(wc);
    SetMultiplierDefault(index);
    GetMultiplierDefault(index);
    SetL2Default(a, b);
    GetL2Default(a, b);
    SetWriteOrderingDefault(a, wo);
    GetWriteOrderingDefault(a, wo);
    SetDataPrefetchDefault(a, b);
    GetDataPrefetchDefault(a, b);
    EXPECT_EQ(
        RecordedErrors(),
        (std::vector<std::string>{
            "SetWADefault executed.", "GetWADefault executed.", "SetWCDefault executed.",
            "GetWCDefault executed.", "SetMultiplierDefault executed.",
            "GetMultiplierDefault executed.", "SetL2Default executed.", "GetL2Default executed.",
            "SetWriteOrderingDefault executed.", "GetWriteOrderingDefault executed.",
            "SetDataPrefetchDefault executed.", "GetDataPrefetchDefault executed."}));
    // The getters leave their arguments alone.
    EXPECT_EQ(wa, (WATp{100, 508, true, true, true}));
    EXPECT_EQ(wc, WCTp{});
    EXPECT_EQ(index, 3);
    EXPECT_TRUE(a && b);
    EXPECT_EQ(wo, WriteOrderingTp::SEWBED);
}

TEST(Records, PrinterNamesFieldsAndHandlers) {
    SettingsTp s;
    s.CPU.Name = "AMD-K6(tm)-2+";
    s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    s.SetWAProc = SetWACXT;
    std::ostringstream text;
    text << s;
    const std::string printed = text.str();
    for (const char* part : {"Name \"AMD-K6(tm)-2+\"", "VendorID \"\\x00", "Start 0x000A0000",
                             "Size _128kB(0)", "MemoryType WriteCombined",
                             "WriteOrderingType EWBEStrong", "SetWACXT", "GetWADefault", "nil"}) {
        EXPECT_NE(printed.find(part), std::string::npos) << part << " missing in " << printed;
    }
}
