// "/L" as the GUI program's composition root installs it, with the profile store behind it: a
// stored profile laid over the working record at its place among the parameters, and how a
// profile that is missing or does not load stops the command line before anything is applied.
#include <cstdlib>
#include <functional>

#include "cmdline/tests/CmdlineTestSupport.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"

namespace {

class ApplyPass : public OnProcessor {
protected:
    void SetUp() override {
        OnProcessor::SetUp();
        InstallProfileSwitches(ProfileExists, LoadProfile);
    }
    void TearDown() override {
        InstallProfileSwitches(nullptr, nullptr);
        OnProcessor::TearDown();
    }
};

SettingsTp IdentifiedWith(const std::function<void(SettingsTp&)>& change) {
    SettingsTp s;
    IdentifyCPU(s);
    change(s);
    return s;
}

TEST_F(ApplyPass, AProfilePutsItsValuesOverTheRecordAtItsPosition) {
    ASSERT_TRUE(SaveProfile("Fast", IdentifiedWith([](SettingsTp& s) {
                                s.WA.WAEnabled = true;
                                s.WA.WALimit = 128;
                                s.WA.WA1516MB = true;
                                s.L1CacheEnabled = false;
                                s.DataPrefetchEnabled = false;
                                s.WriteOrderingType = WriteOrderingTp::GEWBED;
                            })));
    SettingsTp base;
    IdentifyCPU(base);
    SettingsTp working = base;
    bool showWindow = true;
    // before "/L": overridden by the profile; after it: overriding the profile
    SetParameterList({"/WA", "64", "0", "/WO", "1", "/L", "fast", "/DP", "1"});
    ASSERT_TRUE(ValidateCommandLine());
    ASSERT_TRUE(ApplyParametersToRecord(working, showWindow));
    SettingsTp expected = base;
    expected.WA.WAEnabled = true;
    expected.WA.WALimit = 128;
    expected.WA.WA1516MB = true;
    expected.L1CacheEnabled = false;
    expected.DataPrefetchEnabled = true;
    expected.WriteOrderingType = WriteOrderingTp::GEWBED;
    EXPECT_EQ(working, expected);
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

TEST_F(ApplyPass, AProfileIsLookedUpByItsNameCutTo80Characters) {
    const std::string name(80, 'P');
    ASSERT_TRUE(SaveProfile(name, IdentifiedWith([](SettingsTp& s) { s.L1CacheEnabled = false; })));
    SetParameterList({"/L", std::string(80, 'p') + "-and-more", "/Q"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
    EXPECT_EQ(SimWrites().size(), 9u) << "every feature of the K6-III+ is written";
    EXPECT_EQ(SimGet("CR0"), "C005003B");
}

TEST_F(ApplyPass, AMissingProfileIsReportedOnceUpperCasedAndNothingIsWritten) {
    SetParameterList({"/L1", "0", "/L", "NoSuch", "/L2", "0"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Error loading profile. Profile: NOSUCH"});
    EXPECT_EQ(SimWrites(), std::vector<std::string>{});
    EXPECT_FALSE(ProfileExists("NoSuch")) << "looking a profile up creates none";
}

TEST_F(ApplyPass, AMissingProfileNameIsQuotedWithItsControlCharactersShown) {
    SetParameterList({"/L", "\x1b]0;x\x07"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(),
              std::vector<std::string>{"Error loading profile. Profile: \\x1B]0;X\\x07"});
}

TEST_F(ApplyPass, AnEmptyProfileNameIsOneMissingProfile) {
    SetParameterList({"/L", ""});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Error loading profile. Profile: "});
    EXPECT_EQ(SimWrites(), std::vector<std::string>{});
}

TEST_F(ApplyPass, AProfileThatDoesNotLoadIsReportedAndNothingIsWritten) {
    ASSERT_TRUE(SaveProfile("Broken", IdentifiedWith([](SettingsTp&) {})));
    const std::string file = TestDir() + "/config/quorix/registry.reg";
    std::string registry = ReadFile(file);
    const size_t at = registry.find("\"Multiplier\"=\"");
    ASSERT_NE(at, std::string::npos) << registry;
    registry.replace(at, std::string("\"Multiplier\"=\"5.0\"").size(), "\"Multiplier\"=\"2.5\"");
    WriteFile(file, registry);

    SetParameterList({"/L", "broken"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Error loading profile. Profile: BROKEN"});
    EXPECT_EQ(SimWrites(), std::vector<std::string>{});
}

// A value of the wrong registry type is the registry's own error: it passes out to the program's
// general error display, and nothing has been applied by then.
TEST_F(ApplyPass, ARegistryErrorWhileLoadingPassesOutAndNothingIsApplied) {
    const std::string folder = TestDir() + "/config/quorix";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    WriteFile(folder + "/registry.reg",
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Odd]\n"
              "\"WAEnabled\"=\"yes\"\n\n");
    SetParameterList({"/L1", "0", "/L", "Odd"});
    EXPECT_THROW(ProcessCommandLine(), RegistryError);
    EXPECT_EQ(SimWrites(), std::vector<std::string>{});
}

TEST_F(ApplyPass, LoadNamedProfileIsFalseWithoutAMessageForAMissingProfile) {
    SettingsTp s;
    IdentifyCPU(s);
    const SettingsTp before = s;
    EXPECT_FALSE(LoadNamedProfile("Absent", s));
    EXPECT_EQ(s, before);
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

} // namespace
