// Tests of the start-up registration: the log-on start entry that runs qrxclwin with the
// settings, and the profile "Startup_Settings" saved beside it.
#include "profiles/SaveLoad.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "cmdline/BuildCommandLine.h"
#include "platform/Registry.h"
#include "testing/RecordedMessages.h"
#include "testing/TestSupport.h"

namespace {

// A record as a K6-III+ gives it, without needing the processor: every feature supported.
SettingsTp K63Plus() {
    SettingsTp s;
    s.L1Supported = true;
    s.WA.WASupported = true;
    s.WA.WAMaxLimit = 4092;
    s.WA.WAEnabled = true;
    s.WA.WALimit = 64;
    s.WC.WCSupported = true;
    s.WC.MTRR0.Enabled = true;
    s.WC.MTRR0.Start = 0xE0000000;
    s.WC.MTRR0.Size = SizeTp::_4MB;
    s.WC.MTRR0.SizeBytes = SizeToBytes(SizeTp::_4MB);
    s.WC.MTRR0.MemoryType = MemoryTypeTp::WriteCombined;
    s.CPU.MultiplierSupported = true;
    s.CPU.MultiplierKnown = true;
    s.CPU.Multiplier = 6;
    s.L2Supported = true;
    s.L2CacheEnabled = true;
    s.WriteOrderingSupported = true;
    s.WriteOrderingType = WriteOrderingTp::SEWBED;
    s.DataPrefetchSupported = true;
    s.DataPrefetchEnabled = true;
    return s;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const size_t end = text.find(' ', at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::string EntryFile() {
    return TestDir() + "/config/autostart/Quorix.desktop";
}

class Startup : public testing::Test {
protected:
    void SetUp() override { ClearRecordedMessages(); }
};

TEST_F(Startup, TheCommandIsTheConsoleProgramBesideThisOneWithTheParameterText) {
    const SettingsTp s = K63Plus();
    const LogonCommand command = AutoApplyCommand(s);
    EXPECT_EQ(command.program, OutputDir() + "qrxclwin");
    EXPECT_EQ(command.arguments, Words(BuildCommandLine(s)));
    EXPECT_EQ(command.arguments.front(), "/WA");
    EXPECT_EQ(command.arguments.back(), "1") << "the write-ordering digit of SEWBED";

    SettingsTp unknown; // only the L1 switch: its group ends in a blank, which is no parameter
    unknown.L1Supported = true;
    EXPECT_EQ(AutoApplyCommand(unknown).arguments, (std::vector<std::string>{"/L1", "1"}));
}

TEST_F(Startup, RegisteringWritesTheEntryAndSavesTheStartupProfile) {
    EXPECT_FALSE(AutoApplyRegistered());
    const SettingsTp s = K63Plus();
    SetAutoApply(true, s);
    EXPECT_TRUE(AutoApplyRegistered());
    LogonCommand entry;
    ASSERT_TRUE(ReadLogonStart("Quorix", entry));
    EXPECT_EQ(entry, AutoApplyCommand(s));

    ASSERT_TRUE(ProfileExists("Startup_Settings"));
    SettingsTp loaded = K63Plus();
    loaded.L2CacheEnabled = false;
    loaded.CPU.Multiplier = 0;
    loaded.WriteOrderingType = WriteOrderingTp::GEWBED;
    ASSERT_TRUE(LoadProfile("Startup_Settings", loaded));
    EXPECT_EQ(loaded, s);
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

TEST_F(Startup, RegisteringAgainReplacesTheCommandAndTheProfile) {
    SettingsTp first = K63Plus();
    SetAutoApply(true, first);
    SettingsTp second = first;
    second.L1CacheEnabled = false;
    second.CPU.Multiplier = 2;
    SetAutoApply(true, second);
    LogonCommand entry;
    ASSERT_TRUE(ReadLogonStart("Quorix", entry));
    EXPECT_EQ(entry, AutoApplyCommand(second));
    SettingsTp loaded = first;
    ASSERT_TRUE(LoadProfile("Startup_Settings", loaded));
    EXPECT_EQ(loaded, second);
}

TEST_F(Startup, UnregisteringRemovesOnlyTheEntryAndTwiceIsHarmless) {
    SetAutoApply(true, K63Plus());
    SetAutoApply(false, K63Plus());
    EXPECT_FALSE(AutoApplyRegistered());
    EXPECT_TRUE(ProfileExists("Startup_Settings")) << "the caller deletes the profile";
    SetAutoApply(false, K63Plus());
    EXPECT_FALSE(AutoApplyRegistered());
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{});
}

TEST_F(Startup, UnregisteringWhenNothingIsRegisteredWritesNothing) {
    SetAutoApply(false, K63Plus());
    EXPECT_FALSE(AutoApplyRegistered());
    struct stat st;
    EXPECT_NE(stat((TestDir() + "/config/autostart").c_str(), &st), 0);
    EXPECT_NE(stat((TestDir() + "/config/quorix/registry.reg").c_str(), &st), 0);
}

// An entry that cannot be written reaches the caller as the registry's "set data" error, with the
// file and the reason underneath; the profile was saved before.
TEST_F(Startup, AnEntryThatCannotBeWrittenIsTheSetDataError) {
    ASSERT_EQ(mkdir((TestDir() + "/config").c_str(), 0700), 0);
    WriteFile(TestDir() + "/config/autostart", "a file where the folder belongs");
    try {
        SetAutoApply(true, K63Plus());
        FAIL() << "no error";
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'Quorix'");
        EXPECT_EQ(e.Kind(), RegistryErrorKind::SetDataFailed);
        EXPECT_NE(e.Cause().find(TestDir() + "/config/autostart"), std::string::npos) << e.Cause();
    }
    EXPECT_FALSE(AutoApplyRegistered());
    EXPECT_TRUE(ProfileExists("Startup_Settings"));
}

TEST_F(Startup, AFailedReplacementKeepsTheOldEntry) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser (the seam's own test covers it)";
    SetAutoApply(true, K63Plus());
    const std::string before = ReadFile(EntryFile());
    ASSERT_EQ(chmod((TestDir() + "/config/autostart").c_str(), 0500), 0);
    SettingsTp other = K63Plus();
    other.L1CacheEnabled = false;
    EXPECT_THROW(SetAutoApply(true, other), RegistryError);
    EXPECT_THROW(SetAutoApply(false, other), RegistryError);
    chmod((TestDir() + "/config/autostart").c_str(), 0700);
    EXPECT_EQ(ReadFile(EntryFile()), before);
    EXPECT_TRUE(AutoApplyRegistered());
}

// The program directory comes from the running program, so this test runs a copy of this test
// program from a folder whose path holds blanks; the copy registers and hands the entry back.
TEST_F(Startup, AnEntryForAProgramFolderWithBlanksValidatesAndSplitsIntoPathAndParameters) {
    if (const char* out = std::getenv("QRX_STARTUP_ENTRY_OUT")) {
        SetAutoApply(true, K63Plus());
        WriteFile(out, ReadFile(EntryFile()));
        return;
    }
    const std::string folder = TestDir() + "/Program Files/Quorix (0.81) $x/";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    const std::string copy = folder + "qrx_profiles_tests";
    WriteFile(copy, ReadFile(OutputDir() + "qrx_profiles_tests"));
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    const std::string entryOut = TestDir() + "/entry.desktop";
    const testing::TestInfo* self = testing::UnitTest::GetInstance()->current_test_info();
    const ProcessResult child = RunProgram(
        copy, {"--gtest_filter=" + std::string(self->test_suite_name()) + "." + self->name()},
        {"QRX_STARTUP_ENTRY_OUT=" + entryOut});
    ASSERT_EQ(child.exitStatus, 0) << child.out << child.err;
    const std::string entry = ReadFile(entryOut);
    ASSERT_FALSE(entry.empty());

    const size_t at = entry.find("\nExec=");
    ASSERT_NE(at, std::string::npos) << entry;
    const std::string exec = entry.substr(at + 6, entry.find('\n', at + 6) - at - 6);
    LogonCommand command;
    ASSERT_TRUE(ParseDesktopExecValue(exec, command)) << exec;
    EXPECT_EQ(command.program, folder + "qrxclwin");
    EXPECT_EQ(command.arguments, Words(BuildCommandLine(K63Plus())));
    EXPECT_EQ(exec.front(), '"') << "the program path is quoted: " << exec;

    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed (scripts/install-deps installs it)";
    const ProcessResult v = RunProgram("/usr/bin/desktop-file-validate", {entryOut});
    EXPECT_EQ(v.exitStatus, 0) << v.out << v.err;
    EXPECT_EQ(v.out + v.err, "");
}

} // namespace
