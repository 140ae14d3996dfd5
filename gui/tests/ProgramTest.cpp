// The program block of qrx, run as the built program with the module beside it: the silent
// paths and their exit statuses, the early exits, and the window path. Every box is written to
// standard output (QRX_DIALOG_LOG=-) instead of waiting for a user.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "GuiTestSupport.h"
#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"
#include "testing/TestSupport.h"

namespace {
const std::vector<std::string> BoxLog = {"QRX_DIALOG_LOG=-"};

std::string ErrorBox(const std::string& message) {
    return "Box\tError\terror\tQuorix:\\r\\n" + message + "\n";
}

SettingsTp ReadProcessor() {
    SettingsTp s;
    EXPECT_TRUE(LoadDriver());
    IdentifyCPU(s);
    UnloadDriver();
    return s;
}

class Program : public testing::Test {
protected:
    void SetUp() override { ResetSimulator("k6-3+"); }
};

TEST_F(Program, SilentApplyEndsWithoutWindowAndStatusZero) {
    const ProcessResult r = RunProgram("qrx", {"/Q", "/WA", "64", "1"}, BoxLog);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const SettingsTp s = ReadProcessor();
    EXPECT_TRUE(s.WA.WAEnabled);
    EXPECT_EQ(s.WA.WALimit, 64);
    EXPECT_TRUE(s.WA.WA1516MB);
}

TEST_F(Program, SilentPathAppliesAStoredProfile) {
    SettingsTp s = ReadProcessor();
    s.L2CacheEnabled = false;
    s.DataPrefetchEnabled = !s.DataPrefetchEnabled;
    ASSERT_TRUE(SaveProfile("Quiet", s));
    const ProcessResult r = RunProgram("qrx", {"/L", "quiet", "/Q"}, BoxLog);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const SettingsTp now = ReadProcessor();
    EXPECT_FALSE(now.L2CacheEnabled);
    EXPECT_EQ(now.DataPrefetchEnabled, s.DataPrefetchEnabled);
}

// A driver request that fails leaves a setting unapplied: the silent path exits 1 and names it on
// standard error, with no box (none of the system's messages is about it).
TEST_F(Program, SilentApplyWithAFailedRequestExitsOneWithOneLineOnStandardError) {
    Sim({"fail", "5"});
    const ProcessResult r = RunProgram("qrx", {"/Q", "/L1", "0"}, BoxLog);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qrx: 1 driver request failed; first: SetL1Cache 0\n");
}

// The real program with its real message boxes, each closed by a user's click on its button:
// the plugin loaded into it presses the button and writes one line per box to standard output.
ProcessResult RunWithRealBoxes(const std::string& program, const std::vector<std::string>& args) {
    return RunProgram(program, args,
                      {"QT_PLUGIN_PATH=" + OutputDir() + "testplugins",
                       "QT_QPA_GENERIC_PLUGINS=qrxboxcloser", "QRX_DIALOG_LOG="});
}

// The line of an error box of the GUI program's messages.
std::string ShownError(const std::string& message) {
    return "Box\tError\terror\tQuorix:\\n" + message + "\n";
}

// Every path that ends without the window exits 1 after an error box, 0 otherwise, and none
// ends by a signal once its box was closed.
TEST_F(Program, EndingWithoutWindowExitsOneExactlyWhenAnErrorWasShown) {
    // Without the plugin nobody would close the boxes.
    ASSERT_TRUE(std::ifstream(OutputDir() + "testplugins/generic/libqrxboxcloser.so"));
    const std::string alone = TestDir() + "/alone/qrx";
    const std::string copy =
        "mkdir -p '" + TestDir() + "/alone' && cp '" + OutputDir() + "qrx' '" + alone + "'";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    const std::string damaged = "not a line of a registry file\n";
    const std::string newer = "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n\"Version\"=\"0.9\"\n";
    struct Case {
        const char* preset;
        const char* args;
        std::string box; // the start of the one box shown; empty for none
        std::string program = "qrx";
        std::string registry = ""; // the registry file's keys and values; empty for no file
    };
    const Case cases[] = {
        {"k6-3+", "/Q", ""},
        {"k6-3+", "/Q /DEBUG", ""},
        {"k6-3+", "/bogus", ShownError("Unknown command: /bogus")},
        {"k6-3+", "/L1", ShownError("/L1: 0 or 1 expected.")},
        {"k6-3+", "/L nosuch /Q", ShownError("Error loading profile. Profile: NOSUCH")},
        {"k6-3+", "/M 2.5", ShownError("Not a valid multiplier value: 2.5")},
        {"k6-3+", "/WA 9999 0", ShownError("WA limit is maximum 4092MB.")},
        {"k6", "/WA 600 0 /Q", ShownError("WA limit is maximum 508MB.")},
        // The engine refuses a misaligned range while applying.
        {"k6-3+", "/MTRR0 100000 4MB W /Q",
         ShownError("The base address of MTRR0 must be range-size aligned.")},
        {"k6-3+", "", ShownError("Unable to load VXD."), alone},
        {"k6-3+", "/L Name /Q",
         "Box\tApplication Error\terror\tException RegistryError.\\nThe registry file ", "qrx",
         damaged},
        {"k6-3+", "", ShownError("Found registry information of newer version of QRX. Exiting."),
         "qrx", newer},
    };
    for (const Case& c : cases) {
        ResetSimulator(c.preset);
        std::remove(RegistryFilePath().c_str());
        if (!c.registry.empty())
            WriteRegistryFile(c.registry);
        const ProcessResult r = RunWithRealBoxes(c.program, SplitWords(c.args));
        const std::string what = c.program + " " + c.args;
        EXPECT_EQ(r.exitStatus, c.box.empty() ? 0 : 1) << what << "\n" << r.err;
        EXPECT_EQ(r.out.substr(0, c.box.size()), c.box) << what;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), c.box.empty() ? 0 : 1)
            << what << ": " << r.out;
    }
}

TEST_F(Program, RefusedParameterTouchesNeitherProcessorNorRegistry) {
    ClearSimulatorLog();
    const ProcessResult r = RunProgram("qrx", {"/WA", "64"}, BoxLog);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, ErrorBox("/WA: value for WA 15-16MB expected."));
    EXPECT_EQ(SimulatorLog(), std::vector<std::string>());
    EXPECT_TRUE(StoredVersionMissing());
}

TEST_F(Program, WithoutTheModuleOneBoxAndNothingElse) {
    // A copy of the program in a folder without qrxvxd.vxd.
    const std::string folder = TestDir() + "/alone";
    const std::string copy =
        "mkdir -p '" + folder + "' && cp '" + OutputDir() + "qrx' '" + folder + "/'";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"/Q", "/WA", "64", "1"}}) {
        ClearSimulatorLog();
        const ProcessResult r = RunProgram(folder + "/qrx", args, BoxLog);
        EXPECT_EQ(r.out, ErrorBox("Unable to load VXD."));
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(SimulatorLog(), std::vector<std::string>());
    }
}

// Started through a link in another folder, as from bin/ after installation, the program finds
// its driver module and its help file beside itself, and F1 on a control shows that control's
// topic. The probe plugin presses F1 in the real program.
TEST_F(Program, StartedThroughALinkFindsItsModuleAndHelpBesideItself) {
    const std::string folder = TestDir() + "/bin";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink((OutputDir() + "qrx").c_str(), (folder + "/qrx").c_str()), 0);
    const ProcessResult r = RunProgram(folder + "/qrx", {},
                                       {"QT_PLUGIN_PATH=" + OutputDir() + "testplugins",
                                        "QT_QPA_GENERIC_PLUGINS=qrxprobe",
                                        "QRX_PROBE=help EnableWACheck; close", "QRX_DIALOG_LOG=-"});
    EXPECT_EQ(r.out, "Window\tQuorix\nHelp\tEnableWACheck\tEnable write allocation\n");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

TEST_F(Program, RegistryErrorBeforeTheLoopShowsApplicationErrorAndExitsOne) {
    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Typed]\n"
                      "\"WAEnabled\"=\"yes\"\n");
    ClearSimulatorLog();
    const ProcessResult r = RunProgram("qrx", {"/L", "Typed", "/Q"}, BoxLog);
    EXPECT_EQ(r.exitStatus, 1);
    ASSERT_EQ(r.out.rfind("Box\tApplication Error\terror\t", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("WAEnabled"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    for (const std::string& line : SimulatorLog())
        EXPECT_EQ(line.rfind("WriteMsr", 0), std::string::npos) << line;
}

TEST_F(Program, NewerStoredVersionEndsWithoutWindowAndExitsOne) {
    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n\"Version\"=\"0.9\"\n");
    const ProcessResult r = RunProgram("qrx", {}, BoxLog);
    EXPECT_EQ(r.out, ErrorBox("Found registry information of newer version of QRX. Exiting."));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(ReadStoredVersion(), "0.9");
}

// Starts qrx, reads its box log until the main window is shown, then ends it. Returns the log
// up to and including the window line ("" when the program ended without showing it).
std::string RunUntilWindow(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0)
        return "";
    const std::string path = OutputDir() + "qrx";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        setenv("QRX_DIALOG_LOG", "-", 1);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string log;
    char c;
    while (read(out[0], &c, 1) == 1) {
        log += c;
        if (c == '\n' && log.find("Window\t") != std::string::npos)
            break;
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    return log.find("Window\t") == std::string::npos ? "" : log;
}

TEST_F(Program, WithoutParametersOrWithSettingsButNoQTheWindowOpens) {
    EXPECT_EQ(RunUntilWindow({}), "Window\tQuorix\n");
    EXPECT_EQ(ReadStoredVersion(), "0.81");
    EXPECT_EQ(RunUntilWindow({"/DEBUG"}), "Window\tQuorix\n");
    EXPECT_EQ(RunUntilWindow({"/L1", "0"}), "Window\tQuorix\n");
    EXPECT_FALSE(ReadProcessor().L1CacheEnabled) << "applied before the window opened";
}
} // namespace
