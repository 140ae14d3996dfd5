// Tests of the parameter text builder: exact texts, and that the parser reads every text back
// into the same settings on every simulated processor.
#include "cmdline/BuildCommandLine.h"

#include <random>

#include "CmdlineTestSupport.h"

namespace {

// The record of the worked example: write allocation, L1, data prefetch, the ranges and write
// ordering supported; L2 and the multiplier not.
SettingsTp WorkedExample() {
    SettingsTp s;
    s.WA.WASupported = true;
    s.WA.WALimit = 64;
    s.WA.WA1516MB = false;
    s.L1Supported = true;
    s.L1CacheEnabled = true;
    s.DataPrefetchSupported = true;
    s.DataPrefetchEnabled = true;
    s.WC.WCSupported = true;
    s.WC.MTRR0 = Range(0xE0000000, SizeTp::_4MB, MemoryTypeTp::WriteCombined);
    s.WC.MTRR1 = Range(0, SizeTp::_128kB, MemoryTypeTp::NoEffect);
    s.WriteOrderingSupported = true;
    s.WriteOrderingType = WriteOrderingTp::EWBEStrong;
    return s;
}

SettingsTp Everything() {
    SettingsTp s = WorkedExample();
    s.L2Supported = true;
    s.L2CacheEnabled = false;
    s.CPU.MultiplierSupported = true;
    s.CPU.Multiplier = 6;
    return s;
}

struct Built {
    const char* what;
    SettingsTp settings;
    std::string text;
};

std::vector<Built> BuiltCases() {
    std::vector<Built> cases;
    cases.push_back({"worked example", WorkedExample(),
                     "/WA 64 0 /L1 1 /DP 1 /MTRR0 E0000000 4MB W /MTRR1 00000000 128kB N /WO 0"});
    cases.push_back({"every feature", Everything(),
                     "/WA 64 0 /L1 1 /L2 0 /DP 1 /MTRR0 E0000000 4MB W /MTRR1 00000000 128kB N "
                     "/M 5.5 /WO 0"});
    cases.push_back({"nothing supported", SettingsTp(), ""});
    {
        SettingsTp s;
        s.L1Supported = true;
        s.L1CacheEnabled = false;
        cases.push_back({"unknown processor: the L1 group alone, blank kept", s, "/L1 0 "});
    }
    {
        SettingsTp s = WorkedExample();
        s.WC.WCSupported = false;
        cases.push_back({"no ranges: no letters either", s, "/WA 64 0 /L1 1 /DP 1 /WO 0"});
    }
    {
        SettingsTp s = Everything();
        s.WA.WAUnread = s.WC.MTRR0.Unread = s.CPU.MultiplierUnread = true;
        s.L2Unread = s.DataPrefetchUnread = s.WriteOrderingUnread = true;
        cases.push_back({"unread features have no group, a given range still has", s,
                         "/L1 1 /MTRR1 00000000 128kB N "});
    }
    {
        SettingsTp s = WorkedExample();
        s.WA.WAEnabled = false;
        s.WC.MTRR0.Enabled = false;
        s.WC.MTRR1.Enabled = false;
        cases.push_back(
            {"enabled flags are not read", s,
             "/WA 64 0 /L1 1 /DP 1 /MTRR0 E0000000 4MB W /MTRR1 00000000 128kB N /WO 0"});
    }
    {
        SettingsTp s;
        s.WA.WASupported = true;
        s.WA.WALimit = -4;
        s.WA.WA1516MB = true;
        s.WriteOrderingSupported = true;
        s.WriteOrderingType = WriteOrderingTp::GEWBED;
        cases.push_back({"negative limit, GEWBED as 2", s, "/WA -4 1 /WO 2"});
    }
    {
        SettingsTp s;
        s.WriteOrderingSupported = true;
        s.WriteOrderingType = WriteOrderingTp::SEWBED;
        cases.push_back({"SEWBED as 1", s, "/WO 1"});
    }
    {
        SettingsTp s;
        s.WC.WCSupported = true;
        s.WC.MTRR0 = Range(0x80000000, SizeTp::_2GB, MemoryTypeTp::Uncached);
        s.WC.MTRR1 = Range(0x000A0000, SizeTp::_4GB, MemoryTypeTp::WriteCombined);
        cases.push_back(
            {"high start, 2GB, 4GB, U", s, "/MTRR0 80000000 2GB U /MTRR1 000A0000 4GB W "});
    }
    {
        SettingsTp s;
        s.WC.WCSupported = true;
        s.WC.MTRR0 = Range(0x1000, static_cast<SizeTp>(16), static_cast<MemoryTypeTp>(3));
        s.CPU.MultiplierSupported = true;
        s.CPU.Multiplier = 8;
        s.WriteOrderingSupported = true;
        s.WriteOrderingType = static_cast<WriteOrderingTp>(3);
        cases.push_back({"out-of-table codes give texts the parser refuses", s,
                         "/MTRR0 00001000 nknown /MTRR1 00000000 128kB N /M unknown /WO "});
    }
    return cases;
}

TEST(BuildCommandLine, GivesExactlyTheseTexts) {
    for (const Built& c : BuiltCases())
        EXPECT_EQ(BuildCommandLine(c.settings), c.text) << c.what;
}

TEST(BuildCommandLine, OutOfTableTextsAreRefusedByTheParser) {
    const Built c = BuiltCases().back();
    SetParameterList(SplitWords(c.text));
    ClearRecordedMessages();
    EXPECT_FALSE(ValidateCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"/MTRR: invalid size: nknown"});
}

// The values the parser gives back: every supported feature's values, compared field by field.
void ExpectSameSupportedValues(const SettingsTp& got, const SettingsTp& want) {
    if (want.WA.WASupported) {
        EXPECT_EQ(got.WA.WALimit, want.WA.WALimit);
        EXPECT_EQ(got.WA.WA1516MB, want.WA.WA1516MB);
    }
    if (want.L1Supported) {
        EXPECT_EQ(got.L1CacheEnabled, want.L1CacheEnabled);
    }
    if (want.L2Supported) {
        EXPECT_EQ(got.L2CacheEnabled, want.L2CacheEnabled);
    }
    if (want.DataPrefetchSupported) {
        EXPECT_EQ(got.DataPrefetchEnabled, want.DataPrefetchEnabled);
    }
    if (want.WC.WCSupported) {
        for (const auto& pair : {std::make_pair(&got.WC.MTRR0, &want.WC.MTRR0),
                                 std::make_pair(&got.WC.MTRR1, &want.WC.MTRR1)}) {
            EXPECT_EQ(pair.first->Start, pair.second->Start);
            EXPECT_EQ(pair.first->Size, pair.second->Size);
            EXPECT_EQ(pair.first->SizeBytes, SizeToBytes(pair.second->Size));
            EXPECT_EQ(pair.first->MemoryType, pair.second->MemoryType);
            EXPECT_TRUE(pair.first->Enabled);
        }
    }
    if (want.CPU.MultiplierSupported) {
        EXPECT_EQ(got.CPU.Multiplier, want.CPU.Multiplier);
    }
    if (want.WriteOrderingSupported) {
        EXPECT_EQ(got.WriteOrderingType, want.WriteOrderingType);
    }
}

class RoundTrip : public OnProcessor {};

TEST_F(RoundTrip, ParsingTheBuiltTextGivesBackEverySupportedValueOnEveryPreset) {
    const char* presets[] = {"k6",    "k6-7",  "k6-2",     "k6-2-cxt", "k6-3",  "k6-3+",
                             "k6-2+", "k6-d9", "amd-5-10", "athlon",   "intel", "amd-leaf0"};
    std::mt19937 random(20240601);
    auto pick = [&](uint32_t below) { return static_cast<uint32_t>(random() % below); };
    for (const char* preset : presets) {
        Reset(preset);
        SettingsTp identified;
        IdentifyCPU(identified);
        for (int round = 0; round < 40; ++round) {
            SettingsTp edited = identified;
            if (round > 0) { // round 0: the processor's own state as read
                edited.WA.WALimit =
                    static_cast<int32_t>(pick(static_cast<uint32_t>(identified.WA.WAMaxLimit) + 1));
                edited.WA.WA1516MB = pick(2);
                edited.L1CacheEnabled = pick(2);
                edited.L1Unread = false; // given, also where nothing read it
                edited.L2CacheEnabled = pick(2);
                edited.DataPrefetchEnabled = pick(2);
                for (MTRRTp* r : {&edited.WC.MTRR0, &edited.WC.MTRR1}) {
                    r->Start = round % 5 == 0 ? 0x80000000u | static_cast<uint32_t>(random())
                                              : static_cast<uint32_t>(random());
                    r->Size = static_cast<SizeTp>(pick(SizeCount));
                    r->SizeBytes = SizeToBytes(r->Size);
                    r->MemoryType = static_cast<MemoryTypeTp>(pick(3));
                }
                edited.CPU.Multiplier = static_cast<uint8_t>(pick(MultiplierCount));
                edited.WriteOrderingType = static_cast<WriteOrderingTp>(pick(3));
            }
            const std::string text = BuildCommandLine(edited);
            SCOPED_TRACE(std::string(preset) + ": " + text);
            SetParameterList(SplitWords(text));
            ClearRecordedMessages();
            ASSERT_TRUE(ValidateCommandLine()) << testing::PrintToString(RecordedErrors());
            SettingsTp fresh;
            IdentifyCPU(fresh);
            bool showWindow = true;
            ASSERT_TRUE(ApplyParametersToRecord(fresh, showWindow))
                << testing::PrintToString(RecordedErrors());
            ExpectSameSupportedValues(fresh, edited);
            EXPECT_TRUE(showWindow);
        }
    }
}

} // namespace
