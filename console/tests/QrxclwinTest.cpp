// Integration tests of the console program: the built qrxclwin runs with the driver module beside
// it on the simulated processor; its output is compared byte for byte, with its exit status and
// what the simulated processor saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "testing/TestSupport.h"

namespace {

const std::string Banner = "Quorix 0.81 - AMD K6-family processor features, console version "
                           "(simulated processor)\n"
                           "Applies the processor settings given as command-line parameters.\n"
                           "\n";
const std::string Help = "This is a command-line only version of QRX.\n"
                         "For command-line parameters look in the helpfile.\n";

std::string Joined(const std::vector<std::string>& parameters) {
    std::string text;
    for (const std::string& p : parameters)
        text += (text.empty() ? "" : " ") + ("[" + p + "]");
    return text;
}

void Copy(const std::string& from, const std::string& to, mode_t mode) {
    WriteFile(to, ReadFile(from));
    ASSERT_EQ(chmod(to.c_str(), mode), 0) << to;
}

// A folder of its own holding a copy of the program and, when given, a module as qrxvxd.vxd.
std::string Install(const std::string& folder, const std::string& module) {
    const std::string dir = TestDir() + "/" + folder + "/";
    for (size_t at = TestDir().size() + 1; at < dir.size(); ++at)
        if (dir[at] == '/')
            mkdir(dir.substr(0, at).c_str(), 0755);
    Copy(OutputDir() + "qrxclwin", dir + "qrxclwin", 0755);
    if (!module.empty())
        Copy(OutputDir() + module, dir + "qrxvxd.vxd", 0644);
    return dir + "qrxclwin";
}

// Whether text is pattern, where "*" stands for any text (and nothing else is special in ours).
bool Matches(const std::string& text, const std::string& pattern) {
    return fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

struct ProgramRun {
    std::vector<std::string> parameters;
    ProcessResult result;
    std::vector<std::string> log;
};

class Qrxclwin : public testing::Test {
protected:
    void SetUp() override { Sim({"reset", "k6-3+"}); }
    ProgramRun Start(const std::vector<std::string>& parameters, const std::string& preset = "") {
        if (!preset.empty())
            Sim({"reset", preset});
        Sim({"log", "clear"});
        ProgramRun run{parameters, RunProgram("qrxclwin", parameters), {}};
        run.log = SplitLines(Sim({"log"}));
        return run;
    }
};

TEST_F(Qrxclwin, WithoutParametersShowsTheBannerAndTheHelpLinesAndTouchesNothing) {
    const ProgramRun run = Start({});
    EXPECT_EQ(run.result.out, Banner + Help);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.exitStatus, 0);
    EXPECT_EQ(run.log, std::vector<std::string>{});
}

TEST_F(Qrxclwin, WithoutTheModuleShowsOnlyTheBannerAndTheLoadErrorAndFails) {
    const std::string program = Install("bare", "");
    for (const std::vector<std::string>& parameters :
         {std::vector<std::string>{}, std::vector<std::string>{"/L1", "0"},
          std::vector<std::string>{"/bogus"}}) {
        const ProcessResult r = RunProgram(program, parameters);
        EXPECT_EQ(r.out, Banner + "Error: Unable to load VXD.\n") << Joined(parameters);
        EXPECT_EQ(r.exitStatus, 1) << Joined(parameters);
    }
}

TEST_F(Qrxclwin, ADriverThatCannotBeClosedIsTheLastLineAndFails) {
    const std::string program = Install("closefail", "qrxclosefail.vxd");
    ProcessResult r = RunProgram(program, {});
    EXPECT_EQ(r.out, Banner + Help + "Error: Unable to unload VXD.\n");
    EXPECT_EQ(r.exitStatus, 1);
    r = RunProgram(program, {"/DEBUG"});
    EXPECT_EQ(r.out, Banner + "Error: Unable to unload VXD.\n");
    EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(Qrxclwin, RunsFromAFolderWhosePathHoldsBlanks) {
    const std::string program = Install("my programs/quorix 0.81", "qrxvxd.vxd");
    Sim({"log", "clear"});
    const ProcessResult r = RunProgram(program, {"/L1", "0"});
    EXPECT_EQ(r.out, Banner);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(SimGet("CR0"), "C005003B");
}

// The console program's copy of the command line has no profile options: "/L" and "/Q" are
// unknown commands there, and a refused command line reaches no driver request at all.
// Opening a named pipe in the request log's place would wait for a reader for ever.
TEST_F(Qrxclwin, WhatIsNoFileInTheRequestLogsPlaceIsNamedAndTheRunEnds) {
    const std::string log = std::string(std::getenv("QRX_SIM_STATE")) + ".log";
    struct Case {
        const char* what;
        int (*put)(const char*);
    } cases[] = {
        {"a named pipe (FIFO)", [](const char* path) { return mkfifo(path, 0600); }},
        {"a folder", [](const char* path) { return mkdir(path, 0700); }},
    };
    for (const Case& c : cases) {
        std::remove(log.c_str());
        ASSERT_EQ(c.put(log.c_str()), 0);
        const ProcessResult r = RunProgram("qrxclwin", {"/L1", "1"});
        EXPECT_NE(r.err.find("qrxvxd.vxd: the request log \"" + log + "\" cannot be used: it is " +
                             c.what + ", not a regular file"),
                  std::string::npos)
            << r.err;
        ASSERT_EQ(std::remove(log.c_str()), 0);
    }
}

TEST_F(Qrxclwin, ARefusedCommandLineShowsOneErrorLineMakesNoRequestAndFails) {
    const struct {
        std::vector<std::string> parameters;
        std::string line;
    } cases[] = {
        {{"/Q"}, "Error: Unknown command: /Q"},
        {{"/q", "/L1", "0"}, "Error: Unknown command: /q"},
        {{"/L", "Fast"}, "Error: Unknown command: /L"},
        {{"/L1", "0", "/l", "Fast"}, "Error: Unknown command: /l"},
        {{"/L1", "0", "0"}, "Error: Unknown command: 0"},
        {{"/L1"}, "Error: /L1: 0 or 1 expected."},
        {{"/WO", "3"}, "Error: /WO: 0 or 1 or 2 expected."},
        {{"/M", "2.5"}, "Error: Not a valid multiplier value: 2.5"},
        {{"/wa", "12345678", "0"}, "Error: Not a valid WA limit: 12345678"},
        {{"/MTRR0", "e0000000", "3mb", "w"}, "Error: /MTRR: invalid size: 3mb"},
        {{"/MTRR1", "0", "4MB"}, "Error: /MTRR: invalid memory type: "},
        // A quoted parameter reaches the terminal with its control characters shown.
        {{"\x1b[2J\x1b]0;title\x07"}, "Error: Unknown command: \\x1B[2J\\x1B]0;title\\x07"},
        {{"/M", "5\x9b"}, "Error: Not a valid multiplier value: 5\\x9B"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Start(c.parameters);
        SCOPED_TRACE(Joined(c.parameters));
        EXPECT_EQ(run.result.out, Banner + c.line + "\n");
        EXPECT_EQ(run.result.exitStatus, 1);
        EXPECT_EQ(run.log, std::vector<std::string>{});
    }
}

TEST_F(Qrxclwin, DebugAloneIsAcceptedAndTouchesNothing) {
    const ProgramRun run = Start({"/debug"});
    EXPECT_EQ(run.result.out, Banner);
    EXPECT_EQ(run.result.exitStatus, 0);
    EXPECT_EQ(run.log, std::vector<std::string>{});
}

TEST_F(Qrxclwin, ALimitAboveTheMaximumIsRefusedAfterReadingAndNothingIsWritten) {
    const struct {
        std::string preset;
        std::vector<std::string> parameters;
        std::string line;
    } cases[] = {
        {"k6-2", {"/L1", "0", "/WA", "600", "1"}, "Error: WA limit is maximum 508MB."},
        {"k6-3+", {"/WA", "4093", "0", "/M", "2"}, "Error: WA limit is maximum 4092MB."},
        {"intel", {"/WA", "4", "0"}, "Error: WA limit is maximum 0MB."},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Start(c.parameters, c.preset);
        SCOPED_TRACE(c.preset + " " + Joined(c.parameters));
        EXPECT_EQ(run.result.out, Banner + c.line + "\n");
        EXPECT_EQ(run.result.exitStatus, 1);
        EXPECT_FALSE(run.log.empty()) << "the processor was identified";
        EXPECT_EQ(MachineWrites(run.log), std::vector<std::string>{});
    }
}

// One application after the last parameter, in the engine's feature order, with every supported
// feature written (unnamed ones get back what was read), on several processors.
TEST_F(Qrxclwin, AppliesEverySupportedFeatureOnceInFeatureOrder) {
    const struct {
        std::string preset;
        std::vector<std::string> parameters;
        std::vector<std::string> writes;
        std::vector<std::pair<std::string, std::string>> registers;
    } cases[] = {
        {"k6-3+",
         {"/dp", "0",     "/WO", "2",      "/L2",      "0",   "/L1", "0",   "/M", "5.5", "/MTRR1",
          "0",   "128kB", "N",   "/MTRR0", "E0000000", "4MB", "W",   "/WA", "64", "1"},
         {"WriteMsr C0000082 00000000 04010000", "WriteMsr C0000085 0001FFFC E001FF82",
          "WriteMsr C0000086 00000000 0000FFF1", "Out FFF8 00096260",
          "WriteMsr C0000086 00000000 00000000", "SetL1Cache 0", "SetL2Cache 0",
          "WriteMsr C0000080 00000000 0000001A", "WriteMsr C0000080 00000000 00000018"},
         {{"C0000082", "0000000004010000"},
          {"C0000085", "0001FFFCE001FF82"},
          {"C0000087", "0000000000000003"},
          {"C0000086", "0000000000000000"},
          {"CR0", "C005003B"},
          {"C0000080", "0000000000000018"}}},
        {"k6",
         {"/WA", "508", "1", "/M", "6", "/L2", "0"},
         {"WriteMsr C0000082 00000000 000000FF", "SetL1Cache 1"},
         {{"C0000082", "00000000000000FF"}, {"CR0", "8005003B"}}},
        {"k6-2",
         {"/L1", "0"},
         {"WriteMsr C0000082 00000000 00000000", "SetL1Cache 0"},
         {{"CR0", "C005003B"}}},
        {"k6-2-cxt",
         {"/WO", "1", "/DP", "0", "/WA", "6", "0"},
         {"WriteMsr C0000082 00000000 00400000", "WriteMsr C0000085 00000000 00000000",
          "SetL1Cache 1", "WriteMsr C0000080 00000000 00000006",
          "WriteMsr C0000080 00000000 00000004"},
         {{"C0000082", "0000000000400000"}, {"C0000080", "0000000000000004"}}},
        {"k6-2+",
         {"/M", "3.0", "/mtrr0", "a0000", "128kb", "w"},
         {"WriteMsr C0000082 00000000 00000000", "WriteMsr C0000085 00000000 000BFFFE",
          "WriteMsr C0000086 00000000 0000FFF1", "Out FFF8 000962A0",
          "WriteMsr C0000086 00000000 00000000", "SetL1Cache 1", "SetL2Cache 1",
          "WriteMsr C0000080 00000000 00000002", "WriteMsr C0000080 00000000 00000002"},
         {{"C0000085", "00000000000BFFFE"}, {"C0000087", "0000000000000045"}}},
        {"intel", {"/L1", "0", "/DP", "1"}, {"SetL1Cache 0"}, {{"CR0", "C005003B"}}},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Start(c.parameters, c.preset);
        SCOPED_TRACE(c.preset + " " + Joined(c.parameters));
        EXPECT_EQ(run.result.out, Banner);
        EXPECT_EQ(run.result.exitStatus, 0);
        EXPECT_EQ(MachineWrites(run.log), c.writes);
        for (const auto& [reg, value] : c.registers)
            EXPECT_EQ(SimGet(reg), value) << reg;
    }
}

// An engine message while applying is an error line too: the exit status says so, while the
// features the engine did not refuse are still applied.
TEST_F(Qrxclwin, AnEngineMessageWhileApplyingFailsTheRunButTheRestIsApplied) {
    const ProgramRun run = Start(
        {"/MTRR0", "100000", "2MB", "W", "/MTRR1", "400000", "4gb", "n", "/L1", "0", "/WO", "2"});
    EXPECT_EQ(run.result.out, Banner +
                                  "Error: The base address of MTRR0 must be range-size aligned.\n"
                                  "Error: The base address of MTRR1 must be range-size aligned.\n");
    EXPECT_EQ(run.result.exitStatus, 1);
    EXPECT_EQ(SimGet("C0000085"), "0000000000000000");
    EXPECT_EQ(SimGet("CR0"), "C005003B");
    EXPECT_EQ(SimGet("C0000080"), "000000000000000A");
}

// QRX_DRIVER chooses the processor and the banner's first line names it; unset or empty, the
// kernel driver's device decides by existing. Where the real processor is chosen and its device
// cannot be used, the run is the one without a driver, and one line on standard error says why
// and what to do. Nothing of it reaches the simulated processor.
TEST_F(Qrxclwin, TheDriverChoiceIsNamedInTheBannerAndARealProcessorThatCannotBeUsedIsNoDriver) {
    const std::string regular = TestDir() + "/regular-file";
    WriteFile(regular, "not a device\n");
    const std::string missing = TestDir() + "/missing";
    const std::string loadIt = "load the kernel driver (modprobe qrxvxd, or insmod qrxvxd.ko) "
                               "and leave QRX_KERNEL_DEVICE unset, or set QRX_DRIVER=simulated "
                               "for the simulated processor\n";
    const std::string notADevice =
        "qrxvxd.vxd: " + regular +
        " is not a character device, so not the kernel driver's: " + loadIt;
    const struct {
        std::string driver; // "-" for unset
        std::string device;
        std::string processor; // as the banner names it
        std::string err;       // empty: the simulated processor was driven; "*" stands for any text
    } cases[] = {
        {"simulated", regular, "simulated processor", ""},
        {"-", missing, "simulated processor", ""},
        {"", missing, "simulated processor", ""},
        {"-", regular, "real processor at " + regular, notADevice},
        {"", regular, "real processor at " + regular, notADevice},
        {"hardware", missing, "real processor at " + missing,
         "qrxvxd.vxd: " + missing + " does not exist: " + loadIt},
        {"hardware", regular, "real processor at " + regular, notADevice},
        {"hardware", "/dev/null", "real processor at /dev/null",
         // The reason is the system's (an emulator running a 32-bit build gives its own).
         "qrxvxd.vxd: /dev/null is not the kernel driver's device (it refused a request: *): " +
             loadIt},
        {"Hardware", missing, "no processor: QRX_DRIVER=Hardware",
         "qrxvxd.vxd: QRX_DRIVER=Hardware is no choice: set it to simulated (the simulated "
         "processor) or hardware (the real one, through the kernel driver)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("QRX_DRIVER=" + c.driver + " QRX_KERNEL_DEVICE=" + c.device);
        Sim({"reset", "k6-3+"});
        Sim({"log", "clear"});
        const ProcessResult r =
            RunProgram("qrxclwin", {"/L1", "0"},
                       {c.driver == "-" ? "QRX_DRIVER" : "QRX_DRIVER=" + c.driver,
                        "QRX_KERNEL_DEVICE=" + c.device});
        const std::string banner = "Quorix 0.81 - AMD K6-family processor features, console "
                                   "version (" +
                                   c.processor + ")\n" + Banner.substr(Banner.find('\n') + 1);
        EXPECT_EQ(r.out, banner + (c.err.empty() ? "" : "Error: Unable to load VXD.\n"));
        EXPECT_TRUE(Matches(r.err, c.err)) << r.err;
        EXPECT_EQ(r.exitStatus, c.err.empty() ? 0 : 1);
        EXPECT_EQ(SimGet("CR0"), c.err.empty() ? "C005003B" : "8005003B");
        if (!c.err.empty()) {
            EXPECT_EQ(SimLog(), std::vector<std::string>{});
        }
    }
}

// A failed driver request shows no message on standard output (no caller tests one), yet a
// setting it carried was not applied: the exit status says so, and one line on standard error
// counts the failures and names the first. Requests that did not fail are still applied.
TEST_F(Qrxclwin, FailedDriverRequestsFailTheRunWithOneLineOnStandardError) {
    const struct {
        std::string failing;
        std::vector<std::string> parameters;
        std::string err; // "*" stands for any text
        int status;
        std::string cr0; // afterwards: the L1 switch is applied unless its own request failed
    } cases[] = {
        {"5",
         {"/L1", "0", "/WO", "2"},
         "qrxclwin: 1 driver request failed; first: SetL1Cache 0\n",
         1,
         "8005003B"},
        {"2",
         {"/L1", "0", "/WO", "2"},
         "qrxclwin: * driver requests failed; first: WriteMsr C0000082\n",
         1,
         "C005003B"},
        {"1",
         {"/L1", "1"},
         "qrxclwin: * driver requests failed; first: ReadMsr *\n",
         1,
         "8005003B"},
        // Without parameters nothing is read or written, so nothing can fail.
        {"1", {}, "", 0, "8005003B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("fail " + c.failing + ": " + Joined(c.parameters));
        Sim({"reset", "k6-3+"});
        Sim({"fail", c.failing});
        const ProgramRun run = Start(c.parameters);
        EXPECT_EQ(run.result.out, Banner + (c.parameters.empty() ? Help : ""));
        EXPECT_EQ(run.result.exitStatus, c.status);
        const std::string& err = run.result.err;
        EXPECT_TRUE(Matches(err, c.err)) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.status) << err;
        EXPECT_EQ(SimGet("CR0"), c.cr0);
    }
}

// A value that a failed read left, or that nothing read, is never written; a value the
// parameters give still is. The other features are written as they were read.
TEST_F(Qrxclwin, WritesNoValueThatNothingReadOnlyWhatTheParametersGive) {
    const struct {
        std::string preset, failing;
        std::vector<std::string> parameters;
        std::vector<std::string> writes;
    } cases[] = {
        // Every register read fails: both ranges stay, and so does the L2 cache that was off.
        {"k6-3", "1", {"/L1", "1"}, {"SetL1Cache 1"}},
        // Nor is the other range written from zeros when one is given.
        {"k6-3",
         "1",
         {"/MTRR0", "E0000000", "4MB", "W", "/L2", "0"},
         {"SetL1Cache 1", "SetL2Cache 0"}},
        // Control register 0 cannot be read: the L1 switch is left alone unless named.
        {"k6-2", "4", {"/WA", "8", "0"}, {"WriteMsr C0000082 00000000 00000004"}},
        {"k6-2", "4", {"/L1", "0"}, {"WriteMsr C0000082 00000000 00000000", "SetL1Cache 0"}},
        // Highest standard leaf 0: nothing is read, so only what is named is written.
        {"amd-leaf0", "", {"/L2", "0"}, {}},
        {"amd-leaf0", "", {"/L1", "0"}, {"SetL1Cache 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset + " failing " + c.failing + " " + Joined(c.parameters));
        Sim({"reset", c.preset});
        if (c.preset == "k6-3") {
            Sim({"set", "C0000085", "0041FF81000BFFFE"}); // both ranges in use
            Sim({"set", "C0000080", "12"});               // L2 off
        }
        Sim(c.failing.empty() ? std::vector<std::string>{"fail"}
                              : std::vector<std::string>{"fail", c.failing});
        const ProgramRun run = Start(c.parameters);
        EXPECT_EQ(MachineWrites(run.log), c.writes);
    }
}

} // namespace
