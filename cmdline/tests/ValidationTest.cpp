// Tests of the validation pass: every refusal with its exact text, what it quotes, and that a
// refused command line never reaches the processor.
#include "CmdlineTestSupport.h"

namespace {

struct Refusal {
    std::vector<std::string> parameters;
    std::string message;
};

const std::string Long100(100, 'x');

const Refusal Refusals[] = {
    // "/L" (this is the GUI program's copy of the unit)
    {{"/L"}, "No profile specified."},
    {{"/L", "/L1", "1"}, "No profile specified."},
    {{"/l", "my\\profile"}, "Invalid profile name."},
    // the three on/off switches
    {{"/L1"}, "/L1: 0 or 1 expected."},
    {{"/L1", "/L2", "1"}, "/L1: 0 or 1 expected."},
    {{"/L1", "2"}, "/L1: 0 or 1 expected."},
    {{"/l2", "on"}, "/L2: 0 or 1 expected."},
    {{"/L2", "01"}, "/L2: 0 or 1 expected."},
    {{"/DP"}, "/DP: 0 or 1 expected."},
    {{"/dp", ""}, "/DP: 0 or 1 expected."},
    // write ordering
    {{"/WO"}, "/WO: 0 or 1 or 2 expected."},
    {{"/WO", "3"}, "/WO: 0 or 1 or 2 expected."},
    // multiplier: a switch where the value is due is "no value"; anything else is quoted
    // normalised (upper-cased, cut to 80 characters)
    {{"/M"}, "/M: value expected."},
    {{"/M", "/L1", "1"}, "/M: value expected."},
    {{"/M", "2.5"}, "Not a valid multiplier value: 2.5"},
    {{"/m", "4x"}, "Not a valid multiplier value: 4X"},
    {{"/M", "4.00"}, "Not a valid multiplier value: 4.00"},
    {{"/M", ""}, "Not a valid multiplier value: "},
    {{"/M", Long100}, "Not a valid multiplier value: " + std::string(80, 'X')},
    // write allocation
    {{"/WA"}, "/WA: WA limit expected."},
    {{"/WA", "/L1", "1"}, "/WA: WA limit expected."},
    {{"/WA", "12345678", "0"}, "Not a valid WA limit: 12345678"},
    {{"/wa", "6a", "0"}, "Not a valid WA limit: 6A"},
    {{"/WA", "-4", "0"}, "Not a valid WA limit: -4"},
    {{"/WA", "", "0"}, "Not a valid WA limit: "},
    {{"/WA", "64"}, "/WA: value for WA 15-16MB expected."},
    {{"/WA", "64", "/DP", "1"}, "/WA: value for WA 15-16MB expected."},
    {{"/WA", "64", "2"}, "/WA: 0 or 1 expected"},
    // ranges: the size and the type are quoted raw, and missing ones quote nothing
    {{"/MTRR0"}, "/MTRR: start address expected."},
    {{"/MTRR0", "123456789", "4MB", "W"}, "/MTRR: start address expected."},
    {{"/MTRR1", "G0000000", "4MB", "W"}, "/MTRR: start address expected."},
    {{"/MTRR1", "", "4MB", "W"}, "/MTRR: start address expected."},
    {{"/MTRR0", "E0000000"}, "/MTRR: invalid size: "},
    {{"/MTRR0", "E0000000", "3mb", "W"}, "/MTRR: invalid size: 3mb"},
    {{"/MTRR0", "E0000000", "_4MB", "W"}, "/MTRR: invalid size: _4MB"},
    {{"/MTRR1", "0", "/L1", "1"}, "/MTRR: invalid size: /L1"},
    {{"/MTRR0", "E0000000", "4MB"}, "/MTRR: invalid memory type: "},
    {{"/mtrr1", "E0000000", "4mb", "x"}, "/MTRR: invalid memory type: x"},
    {{"/MTRR1", "E0000000", "4MB", "wc"}, "/MTRR: invalid memory type: wc"},
    // anything where a switch is due, quoted raw and whole
    {{"1"}, "Unknown command: 1"},
    {{"/L1", "1", "1"}, "Unknown command: 1"},
    {{"/foo"}, "Unknown command: /foo"},
    {{"/wax", "64", "0"}, "Unknown command: /wax"},
    {{"/L1x", "1"}, "Unknown command: /L1x"},
    {{"/MTRR", "0", "4MB", "W"}, "Unknown command: /MTRR"},
    {{"/debug2"}, "Unknown command: /debug2"},
    {{""}, "Unknown command: "},
    {{"/M", "4", Long100}, "Unknown command: " + Long100},
    // the first error ends the pass; later ones are not looked at
    {{"/L1", "2", "/foo", "/WO", "7"}, "/L1: 0 or 1 expected."},
    {{"/DEBUG", "/Q", "/WO", "1", "bad"}, "Unknown command: bad"},
};

class Validation : public OnProcessor {};

TEST_F(Validation, EachRefusalShowsItsOneMessageAndTouchesNothing) {
    for (const Refusal& r : Refusals) {
        SCOPED_TRACE(Joined(r.parameters));
        Sim({"log", "clear"});
        ClearRecordedMessages();
        SetParameterList(r.parameters);
        EXPECT_FALSE(ValidateCommandLine());
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{r.message});
        ClearRecordedMessages();
        EXPECT_FALSE(ProcessCommandLine());
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{r.message});
        EXPECT_EQ(SimLog(), std::vector<std::string>{}) << "no driver request at all";
        EXPECT_FALSE(DebugMode);
    }
}

TEST(ValidationAccepts, SwitchesAndValueWordsInAnyCaseAndOrderAnyNumberOfTimes) {
    const std::vector<std::vector<std::string>> accepted = {
        {},
        {"/DEBUG"},
        {"/q"},
        {"/Debug", "/Q", "/debug"},
        {"/wa", "64", "1"},
        {"/WA", "0064", "0"},
        {"/WA", "9999999", "1"},
        {"/WA", "0", "1"},
        {"/l1", "0", "/L1", "1", "/l2", "1", "/dp", "0"},
        {"/WO", "0", "/wo", "2", "/WO", "1"},
        {"/m", "2"},
        {"/M", "2.0"},
        {"/M", "3"},
        {"/M", "3.0"},
        {"/M", "3.5"},
        {"/M", "4"},
        {"/M", "4.0"},
        {"/M", "4.5"},
        {"/M", "5"},
        {"/M", "5.0"},
        {"/M", "5.5"},
        {"/M", "6"},
        {"/M", "6.0"},
        {"/mtrr0", "e0000000", "4mb", "w", "/MTRR1", "0", "128kB", "N"},
        {"/MTRR1", "a", "4GB", "u"},
        {"/MTRR0", "FFFFFFFF", "2gb", "W"},
        {"/L", "Fast"},
        {"/L", "two words"},
        {"/L", ""},
        {"/L", "Fast", "/L1", "0", "/Q"},
    };
    for (const std::vector<std::string>& parameters : accepted) {
        ClearRecordedMessages();
        SetParameterList(parameters);
        EXPECT_TRUE(ValidateCommandLine()) << Joined(parameters);
        EXPECT_EQ(RecordedErrors(), std::vector<std::string>{}) << Joined(parameters);
    }
}

TEST(ValueChecks, AcceptExactlyTheirWords) {
    struct Check {
        bool (*check)(const std::string&);
        const char* name;
        std::vector<std::string> yes, no;
    };
    const Check checks[] = {
        {StartsWithSlash, "StartsWithSlash", {"/", "/L1", "//"}, {"", "L1", " /L1", "\\L1"}},
        {ContainsBackslash, "ContainsBackslash", {"\\", "a\\b", "ab\\"}, {"", "a/b", "ab"}},
        {IsWALimitText,
         "IsWALimitText",
         {"0", "64", "0064", "9999999", "0000000"},
         {"", "12345678", "6A", "-4", "+4", " 4", "4 "}},
        {IsStartAddressText,
         "IsStartAddressText",
         {"0", "A", "E0000000", "FFFFFFFF", "00000000", "0123ABCD"},
         {"", "123456789", "G", "e0000000", "0x10", " 1"}},
        {IsZeroOrOne, "IsZeroOrOne", {"0", "1"}, {"", "2", "00", "01", "10"}},
        {IsZeroOneOrTwo, "IsZeroOneOrTwo", {"0", "1", "2"}, {"", "3", "02", "-1"}},
        {IsMultiplierText,
         "IsMultiplierText",
         {"2", "2.0", "3", "3.0", "3.5", "4", "4.0", "4.5", "5", "5.0", "5.5", "6", "6.0"},
         {"", "2.5", "1", "7", "6.5", "4.00", "4.", "04", "2,0"}},
        {IsSizeText,
         "IsSizeText",
         {"128KB", "256KB", "512KB", "1MB", "2MB", "4MB", "8MB", "16MB", "32MB", "64MB", "128MB",
          "256MB", "512MB", "1GB", "2GB", "4GB"},
         {"", "128kB", "64KB", "3MB", "8GB", "_4MB", "4M", "4 MB", "UNKNOWN", "NKNOWN"}},
        {IsMemoryTypeText, "IsMemoryTypeText", {"W", "U", "N"}, {"", "w", "WC", "X", "NN"}},
    };
    for (const Check& c : checks) {
        for (const std::string& t : c.yes)
            EXPECT_TRUE(c.check(t)) << c.name << "(\"" << t << "\")";
        for (const std::string& t : c.no)
            EXPECT_FALSE(c.check(t)) << c.name << "(\"" << t << "\")";
    }
}

TEST(ParameterList, IsOneBasedRawAndEmptyBeyondTheCount) {
    const char* argv[] = {"/usr/bin/qrxclwin", "/wa", "64 1", ""};
    SetParameterList(4, argv);
    EXPECT_EQ(ParameterCount(), 3);
    EXPECT_EQ(ParameterAt(0), "");
    EXPECT_EQ(ParameterAt(1), "/wa");
    EXPECT_EQ(ParameterAt(2), "64 1");
    EXPECT_EQ(ParameterAt(3), "");
    EXPECT_EQ(ParameterAt(4), "");
    EXPECT_EQ(NormalisedParameter(1), "/WA");
}

TEST(ParameterList, NormalisingUpperCasesOnlyAsciiLettersAndCutsAt80) {
    const std::string umlaut = "\xc3\xa4"; // a-umlaut in UTF-8 stays as it is
    SetParameterList({"abc-xyz_" + umlaut, std::string(79, 'a') + "bc", std::string(80, 'q')});
    EXPECT_EQ(NormalisedParameter(1), "ABC-XYZ_" + umlaut);
    EXPECT_EQ(NormalisedParameter(2), std::string(79, 'A') + "B");
    EXPECT_EQ(NormalisedParameter(3), std::string(80, 'Q'));
}

TEST(SettingSwitch, AnyParameterCountsValuesIncludedAndOnlyWholeSwitches) {
    struct Case {
        std::vector<std::string> parameters;
        bool expected;
    } cases[] = {
        {{}, false},        {{"/DEBUG"}, false}, {{"/DEBUG", "/Q"}, false}, {{"/wa"}, true},
        {{"/L"}, true}, // the GUI program's copy: a profile is settings
        {{"/l1"}, true},    {{"/L2"}, true},     {{"/Dp"}, true},           {{"/m"}, true},
        {{"/mtrr0"}, true}, {{"/MTRR1"}, true},  {{"/wo"}, true},           {{"x", "/WO"}, true},
        {{"/MTRR"}, false}, {{"/L3"}, false},    {{"WA"}, false},
    };
    for (const Case& c : cases) {
        SetParameterList(c.parameters);
        EXPECT_EQ(HasSettingSwitch(), c.expected) << Joined(c.parameters);
    }
}

} // namespace
