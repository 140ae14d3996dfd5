// Reading and applying all settings on every simulated processor: supported values come back,
// unsupported features are never touched, requests follow the fixed feature order, and a
// refused feature does not stop the others.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "testing/RecordedMessages.h"

namespace {

const char* const Presets[] = {"k6",    "k6-7",  "k6-2",     "k6-2-cxt", "k6-3",  "k6-3+",
                               "k6-2+", "k6-d9", "amd-5-10", "athlon",   "intel", "amd-leaf0"};

// Every value differs from what a freshly reset machine holds, and is given as a user gives it,
// also the L1 state that identification never read on a processor without leaf 1.
void Edit(SettingsTp& s) {
    s.WA.WAEnabled = true;
    s.WA.WALimit = 102; // not a multiple of 4 MB
    s.WA.WA1516MB = true;
    s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    s.WC.MTRR1 = {true, 0x400000, 0x400000, SizeTp::_4MB, MemoryTypeTp::Uncached};
    s.CPU.Multiplier = 7;
    s.L1CacheEnabled = false;
    s.L1Unread = false;
    s.L2CacheEnabled = !s.L2CacheEnabled;
    s.WriteOrderingType = WriteOrderingTp::SEWBED;
    s.DataPrefetchEnabled = !s.DataPrefetchEnabled;
}

std::vector<std::string> ExpectedSetRequests(const SettingsTp& s) {
    std::vector<std::string> r;
    const auto add = [&r](std::initializer_list<const char*> requests) {
        r.insert(r.end(), requests.begin(), requests.end());
    };
    if (s.WA.WASupported)
        add({"ReadMsr C0000082", "WriteMsr C0000082"});
    if (s.WC.WCSupported)
        add({"WriteMsr C0000085"});
    if (s.CPU.MultiplierSupported)
        add({"ReadMsr C0000086", "WriteMsr C0000086", "Out FFF8", "WriteMsr C0000086"});
    add({"SetL1Cache"});
    if (s.L2Supported)
        add({"SetL2Cache"});
    if (s.WriteOrderingSupported)
        add({"ReadMsr C0000080", "WriteMsr C0000080"});
    if (s.DataPrefetchSupported)
        add({"ReadMsr C0000080", "WriteMsr C0000080"});
    return r;
}

class AllSettings : public SimulatedCpu {};

} // namespace

TEST_F(AllSettings, EditedValuesComeBackOnEveryProcessor) {
    for (const char* preset : Presets) {
        SCOPED_TRACE(preset);
        ASSERT_NO_FATAL_FAILURE(Reset(preset));
        SettingsTp s;
        IdentifyCPU(s);
        Edit(s);
        const SettingsTp edited = s;
        Sim({"log", "clear"});

        SetAllSettings(s);
        EXPECT_EQ(s, edited) << "SetAllSettings changed the caller's record";
        EXPECT_EQ(SimRequests(), ExpectedSetRequests(s));

        Sim({"log", "clear"});
        GetAllSettings(s);
        // Supported values read back as written (the limit rounded down to 4 MB); unsupported
        // ones are skipped and keep the edited value.
        SettingsTp expected = edited;
        if (edited.WA.WASupported)
            expected.WA.WALimit = 100;
        EXPECT_EQ(s, expected);
        for (const std::string& request : SimRequests()) {
            EXPECT_NE(request.rfind("Write", 0), 0u) << "GetAllSettings wrote: " << request;
        }
        EXPECT_TRUE(RecordedMessages().empty());
    }
}

TEST_F(AllSettings, DefaultsOnlyRecordDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SettingsTp s;
    SetDefaults(s);
    Edit(s);
    const SettingsTp before = s;
    SetAllSettings(s);
    GetAllSettings(s);
    EXPECT_EQ(s, before);
    EXPECT_TRUE(SimLog().empty());
    EXPECT_TRUE(RecordedMessages().empty()) << "a default handler was reached";
}

TEST_F(AllSettings, RefusedFeaturesReportInOrderAndTheRestIsStillApplied) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SettingsTp s;
    IdentifyCPU(s);
    Edit(s);
    s.WA.WALimit = 4096;
    s.WC.MTRR0.Start = 0xB0000; // not a multiple of 128 kB
    const SettingsTp edited = s;
    Sim({"log", "clear"});

    SetAllSettings(s);
    EXPECT_EQ(RecordedErrors(),
              (std::vector<std::string>{"WALimit > 4092 MB.",
                                        "The base address of MTRR0 must be range-size aligned."}));
    EXPECT_EQ(SimRequests(),
              (std::vector<std::string>{"ReadMsr C0000086", "WriteMsr C0000086", "Out FFF8",
                                        "WriteMsr C0000086", "SetL1Cache", "SetL2Cache",
                                        "ReadMsr C0000080", "WriteMsr C0000080", "ReadMsr C0000080",
                                        "WriteMsr C0000080"}));
    EXPECT_EQ(s, edited);

    GetAllSettings(s);
    EXPECT_FALSE(s.WA.WAEnabled);
    EXPECT_FALSE(s.WC.MTRR0.Enabled);
    EXPECT_EQ(s.CPU.Multiplier, 7);
    EXPECT_FALSE(s.L1CacheEnabled);
    EXPECT_EQ(s.WriteOrderingType, WriteOrderingTp::SEWBED);
}

TEST_F(AllSettings, SwitchingWriteAllocationOffLeavesTheCallersRecord) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6"));
    SettingsTp s;
    IdentifyCPU(s);
    Edit(s);
    s.WA.WAEnabled = false;
    const SettingsTp edited = s;
    SetAllSettings(s);
    EXPECT_EQ(s, edited);
    EXPECT_EQ(s.WA.WALimit, 102);
    EXPECT_TRUE(s.WA.WA1516MB);
    GetAllSettings(s);
    EXPECT_EQ(s.WA.WALimit, 0);
    EXPECT_FALSE(s.WA.WA1516MB);
}

TEST_F(AllSettings, NegativeLimitIsRefusedAndTheOtherFeaturesStillApply) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-2-cxt"));
    SettingsTp s;
    IdentifyCPU(s);
    Edit(s);
    s.WA.WALimit = -8; // a stored profile can hold any 32-bit value
    Sim({"log", "clear"});
    SetAllSettings(s);
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"WALimit < 0 MB."});
    EXPECT_EQ(SimRequests(), (std::vector<std::string>{"WriteMsr C0000085", "SetL1Cache",
                                                       "ReadMsr C0000080", "WriteMsr C0000080",
                                                       "ReadMsr C0000080", "WriteMsr C0000080"}));
}

TEST_F(AllSettings, FailedReadsReportWhatZeroDecodesTo) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SettingsTp s;
    IdentifyCPU(s);
    Edit(s);
    SetAllSettings(s);
    Sim({"fail", "1", "4"});
    GetAllSettings(s);
    EXPECT_EQ(s.WA, (WATp{0, 4092, false, true, false, true}));
    const MTRRTp unused{false, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect, true};
    EXPECT_EQ(s.WC.MTRR0, unused);
    EXPECT_EQ(s.WC.MTRR1, unused);
    EXPECT_EQ(s.CPU.Multiplier, 4); // code 0 is 4.5
    EXPECT_TRUE(s.L1CacheEnabled);
    EXPECT_TRUE(s.L2CacheEnabled);
    EXPECT_EQ(s.WriteOrderingType, WriteOrderingTp::EWBEStrong);
    EXPECT_FALSE(s.DataPrefetchEnabled);
    // None of these is the processor's state, and the record says so.
    EXPECT_TRUE(s.CPU.MultiplierUnread && s.L1Unread && s.L2Unread && s.WriteOrderingUnread &&
                s.DataPrefetchUnread);
    // A read that works again makes the features known again.
    Sim({"fail"});
    GetAllSettings(s);
    EXPECT_FALSE(s.WA.WAUnread || s.WC.MTRR0.Unread || s.WC.MTRR1.Unread ||
                 s.CPU.MultiplierUnread || s.L1Unread || s.L2Unread || s.WriteOrderingUnread ||
                 s.DataPrefetchUnread);
}

// Both ranges share one register. A range given while the other could not be read is written
// beside what the register holds now, and not at all when that cannot be read either.
TEST_F(AllSettings, AGivenRangeWritesTheUnreadOneBackAsTheRegisterHoldsIt) {
    const struct {
        bool readableAtApply;
        const char* uwccr;
    } cases[] = {{true, "0041FF81000BFFFE"}, {false, "0041FF8100000000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readableAtApply);
        ASSERT_NO_FATAL_FAILURE(Reset("k6-3"));
        SimSetMsr(MsrUWCCR, 0x0041FF81, 0); // MTRR1: 4 MB at 4 MB, uncached
        Sim({"fail", "1"});
        SettingsTp s;
        IdentifyCPU(s);
        ASSERT_TRUE(s.WC.MTRR0.Unread && s.WC.MTRR1.Unread);
        SetAllSettings(s);
        EXPECT_EQ(SimGet("C0000085"), "0041FF8100000000") << "written with nothing read";
        if (c.readableAtApply)
            Sim({"fail"});
        s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
        SetAllSettings(s);
        EXPECT_EQ(SimGet("C0000085"), c.uwccr);
    }
}

TEST_F(AllSettings, CopiedRecordWorksLikeTheOriginal) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-2+"));
    SettingsTp original;
    IdentifyCPU(original);
    SettingsTp copy = original;
    Edit(copy);
    SetAllSettings(copy);
    GetAllSettings(original);
    EXPECT_EQ(original.CPU.Multiplier, 7);
    EXPECT_EQ(original.WC.MTRR1, copy.WC.MTRR1);
    EXPECT_EQ(original.WA.WALimit, 100);
}
