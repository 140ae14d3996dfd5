// Tests of the apply pass: how each switch changes the working record, the refusals that only the
// apply pass can meet, and one application after the last parameter. "/L" with the profile store
// behind it is tested with the store (profiles/tests/ProfileSwitchTest.cpp).
#include "CmdlineTestSupport.h"

#include <functional>

namespace {

struct Change {
    std::vector<std::string> parameters;
    std::function<void(SettingsTp&)> expect;
};

const Change Changes[] = {
    {{"/wa", "64", "1"},
     [](SettingsTp& s) {
         s.WA.WALimit = 64;
         s.WA.WA1516MB = true;
         s.WA.WAEnabled = true;
     }},
    {{"/WA", "0064", "0"},
     [](SettingsTp& s) {
         s.WA.WALimit = 64;
         s.WA.WA1516MB = false;
         s.WA.WAEnabled = true;
     }},
    {{"/WA", "0", "1"},
     [](SettingsTp& s) {
         s.WA.WALimit = 0;
         s.WA.WA1516MB = true;
         s.WA.WAEnabled = true;
     }},
    {{"/WA", "4092", "0"},
     [](SettingsTp& s) {
         s.WA.WALimit = 4092;
         s.WA.WAEnabled = true;
     }},
    {{"/L1", "0"}, [](SettingsTp& s) { s.L1CacheEnabled = false; }},
    {{"/L1", "0", "/l1", "1"}, [](SettingsTp& s) { s.L1CacheEnabled = true; }},
    {{"/L2", "0"}, [](SettingsTp& s) { s.L2CacheEnabled = false; }},
    {{"/DP", "0"}, [](SettingsTp& s) { s.DataPrefetchEnabled = false; }},
    {{"/WO", "0"}, [](SettingsTp& s) { s.WriteOrderingType = WriteOrderingTp::EWBEStrong; }},
    {{"/WO", "1"}, [](SettingsTp& s) { s.WriteOrderingType = WriteOrderingTp::SEWBED; }},
    {{"/WO", "2"}, [](SettingsTp& s) { s.WriteOrderingType = WriteOrderingTp::GEWBED; }},
    {{"/M", "2"}, [](SettingsTp& s) { s.CPU.Multiplier = 0; }},
    {{"/M", "2.0"}, [](SettingsTp& s) { s.CPU.Multiplier = 0; }},
    {{"/M", "3"}, [](SettingsTp& s) { s.CPU.Multiplier = 1; }},
    {{"/M", "3.0"}, [](SettingsTp& s) { s.CPU.Multiplier = 1; }},
    {{"/M", "3.5"}, [](SettingsTp& s) { s.CPU.Multiplier = 2; }},
    {{"/M", "4"}, [](SettingsTp& s) { s.CPU.Multiplier = 3; }},
    {{"/M", "4.0"}, [](SettingsTp& s) { s.CPU.Multiplier = 3; }},
    {{"/M", "4.5"}, [](SettingsTp& s) { s.CPU.Multiplier = 4; }},
    {{"/m", "5"}, [](SettingsTp& s) { s.CPU.Multiplier = 5; }},
    {{"/M", "5.0"}, [](SettingsTp& s) { s.CPU.Multiplier = 5; }},
    {{"/M", "5.5"}, [](SettingsTp& s) { s.CPU.Multiplier = 6; }},
    {{"/M", "6"}, [](SettingsTp& s) { s.CPU.Multiplier = 7; }},
    {{"/M", "6.0"}, [](SettingsTp& s) { s.CPU.Multiplier = 7; }},
    {{"/mtrr0", "e0000000", "4mb", "w"},
     [](SettingsTp& s) {
         s.WC.MTRR0 = Range(0xE0000000, SizeTp::_4MB, MemoryTypeTp::WriteCombined);
     }},
    {{"/MTRR1", "A0000", "128kb", "u"},
     [](SettingsTp& s) { s.WC.MTRR1 = Range(0xA0000, SizeTp::_128kB, MemoryTypeTp::Uncached); }},
    {{"/MTRR1", "0", "128kB", "N"},
     [](SettingsTp& s) { s.WC.MTRR1 = Range(0, SizeTp::_128kB, MemoryTypeTp::NoEffect); }},
    {{"/MTRR0", "0", "4gb", "N"},
     [](SettingsTp& s) {
         s.WC.MTRR0 = Range(0, SizeTp::_4GB, MemoryTypeTp::NoEffect);
         EXPECT_EQ(s.WC.MTRR0.SizeBytes, 0u);
     }},
    {{"/MTRR0", "FFFE0000", "2GB", "W"},
     [](SettingsTp& s) {
         s.WC.MTRR0 = Range(0xFFFE0000, SizeTp::_2GB, MemoryTypeTp::WriteCombined);
     }},
    // a later switch for the same field overrides an earlier one
    {{"/MTRR0", "1", "128KB", "N", "/MTRR0", "400000", "256kB", "W"},
     [](SettingsTp& s) {
         s.WC.MTRR0 = Range(0x400000, SizeTp::_256kB, MemoryTypeTp::WriteCombined);
     }},
    {{"/WO", "2", "/M", "3", "/WO", "1", "/M", "6.0"},
     [](SettingsTp& s) {
         s.WriteOrderingType = WriteOrderingTp::SEWBED;
         s.CPU.Multiplier = 7;
     }},
    {{"/DEBUG"}, [](SettingsTp&) {}},
};

class ApplyPass : public OnProcessor {};

TEST_F(ApplyPass, EachSwitchChangesItsFieldsOfTheWorkingRecordAndNothingElse) {
    SettingsTp base;
    IdentifyCPU(base);
    for (const Change& c : Changes) {
        SCOPED_TRACE(Joined(c.parameters));
        SettingsTp expected = base;
        c.expect(expected);
        SettingsTp working = base;
        bool showWindow = true;
        SetParameterList(c.parameters);
        ASSERT_TRUE(ValidateCommandLine());
        EXPECT_TRUE(ApplyParametersToRecord(working, showWindow));
        EXPECT_EQ(working, expected);
        EXPECT_TRUE(showWindow);
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
    }
}

TEST_F(ApplyPass, DebugSetsDebugModeAndQuietEndsWithoutTouchingTheProcessor) {
    SetParameterList({"/DEBUG", "/Q"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_TRUE(DebugMode);
    EXPECT_EQ(SimLog(), std::vector<std::string>{});
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

TEST_F(ApplyPass, DebugAloneShowsTheWindowAndTouchesNothing) {
    SetParameterList({"/debug"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_TRUE(DebugMode);
    EXPECT_EQ(SimLog(), std::vector<std::string>{});
}

TEST_F(ApplyPass, NoParametersDoNothingAtAll) {
    SetParameterList(std::vector<std::string>{});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_FALSE(DebugMode);
    EXPECT_EQ(SimLog(), std::vector<std::string>{});
}

// Only the apply pass knows the processor's write-allocation maximum. Its refusal comes after
// identification (the processor is read) but before anything is written.
TEST_F(ApplyPass, ALimitAboveTheMaximumIsRefusedAndNothingIsWritten) {
    struct Case {
        std::string preset;
        std::vector<std::string> parameters;
        std::string message;
    } cases[] = {
        {"k6-2", {"/L1", "0", "/WA", "600", "1"}, "WA limit is maximum 508MB."},
        {"k6", {"/WA", "509", "0", "/L1", "0"}, "WA limit is maximum 508MB."},
        {"k6-3+", {"/DP", "0", "/WA", "4093", "0"}, "WA limit is maximum 4092MB."},
        {"k6-3", {"/WA", "9999999", "0"}, "WA limit is maximum 4092MB."},
        {"intel", {"/L1", "0", "/WA", "1", "0"}, "WA limit is maximum 0MB."},
        {"athlon", {"/WA", "4", "1"}, "WA limit is maximum 0MB."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preset + " " + Joined(c.parameters));
        Reset(c.preset);
        SetParameterList(c.parameters);
        EXPECT_FALSE(ProcessCommandLine());
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{c.message});
        EXPECT_EQ(SimWrites(), std::vector<std::string>{});
        EXPECT_NE(SimLog(), std::vector<std::string>{}) << "the processor was identified";
    }
}

// The apply pass repeats the value conversions as its own safety net; on a list that skipped
// validation each one must stop the pass with its own message, quoting raw or normalised text.
TEST_F(ApplyPass, ItsOwnConversionChecksStopAnUnvalidatedListWithTheirMessage) {
    const struct {
        std::vector<std::string> parameters;
        std::string message;
    } cases[] = {
        {{"/WA", "6a", "0"}, "6a is not a valid value."},
        {{"/wa", "99999999999", "1"}, "99999999999 is not a valid value."},
        {{"/WA", "-4", "0"}, "-4 is not a valid value."},
        {{"/WA"}, " is not a valid value."},
        {{"/MTRR0", "e000000g", "4MB", "W"}, "Internal error. This is not a hex value: E000000G"},
        {{"/mtrr1", "0", "3mb", "w"}, "Internal error. This is not a valid WC size: 3MB"},
        {{"/MTRR1", "0", "_4mb", "W"}, "Internal error. This is not a valid WC size: _4MB"},
        {{"/MTRR0", "0"}, "Internal error. This is not a valid WC size: "},
        {{"/L1", "1", "bogus"}, "Internal error parsing the command line. Last parameter: BOGUS"},
        {{std::string(100, 'z')},
         "Internal error parsing the command line. Last parameter: " + std::string(80, 'Z')},
    };
    SettingsTp base;
    IdentifyCPU(base);
    for (const auto& c : cases) {
        SCOPED_TRACE(Joined(c.parameters));
        ClearRecordedMessages();
        SettingsTp working = base;
        bool showWindow = true;
        SetParameterList(c.parameters);
        EXPECT_FALSE(ApplyParametersToRecord(working, showWindow));
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{c.message});
    }
}

TEST_F(ApplyPass, ALimitOfZeroPassesOnAProcessorWithoutWriteAllocation) {
    Reset("intel");
    SetParameterList({"/WA", "0", "1", "/L1", "0"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
    EXPECT_EQ(SimWrites(), std::vector<std::string>{"SetL1Cache 0"});
}

// Every supported feature is written once, after the last parameter and in the engine's
// feature order, whatever order the parameters came in; unnamed features get back what was read.
TEST_F(ApplyPass, AppliesOnceAfterTheLastParameterInFeatureOrder) {
    SetParameterList({"/dp",    "0",        "/WO", "2",      "/L2", "0",     "/L1",
                      "0",      "/M",       "5.5", "/MTRR1", "0",   "128kB", "N",
                      "/MTRR0", "E0000000", "4MB", "W",      "/WA", "64",    "1"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
    EXPECT_EQ(SimWrites(), (std::vector<std::string>{
                               "WriteMsr C0000082 00000000 04010000",
                               "WriteMsr C0000085 0001FFFC E001FF82",
                               "WriteMsr C0000086 00000000 0000FFF1",
                               "Out FFF8 00096260",
                               "WriteMsr C0000086 00000000 00000000",
                               "SetL1Cache 0",
                               "SetL2Cache 0",
                               "WriteMsr C0000080 00000000 0000001A",
                               "WriteMsr C0000080 00000000 00000018",
                           }));
    EXPECT_EQ(SimGet("C0000082"), "0000000004010000");
    EXPECT_EQ(SimGet("C0000085"), "0001FFFCE001FF82");
    EXPECT_EQ(SimGet("C0000087").substr(13), "003"); // multiplier code 3: 5.5
    EXPECT_EQ(SimGet("C0000080"), "0000000000000018");
    EXPECT_EQ(SimGet("CR0"), "C005003B");
}

TEST_F(ApplyPass, SwitchesForUnsupportedFeaturesAreAcceptedAndLeftAlone) {
    Reset("k6");
    SetParameterList({"/M", "5.5", "/L2", "0", "/WO", "2", "/DP", "1", "/MTRR0", "E0000000", "4MB",
                      "W", "/WA", "8", "0"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
    EXPECT_EQ(SimWrites(),
              (std::vector<std::string>{"WriteMsr C0000082 00000000 00000004", "SetL1Cache 1"}));
}

// The parsers agree; the engine still checks alignment and refuses only the ranges.
TEST_F(ApplyPass, AMisalignedRangePassesBothPassesAndTheEngineRefusesIt) {
    SetParameterList({"/MTRR0", "100000", "2MB", "W", "/L1", "0"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(),
              std::vector<std::string>{"The base address of MTRR0 must be range-size aligned."});
    EXPECT_EQ(SimGet("C0000085"), "0000000000000000");
    EXPECT_EQ(SimGet("CR0"), "C005003B");
}

} // namespace
