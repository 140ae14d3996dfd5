// Tests of the qrxsim tool: its commands and outputs, usage errors, and a damaged state file.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "simulator/StateStore.h"
#include "simulator/tests/support/SimTestSupport.h"

namespace {

std::string StatePath() {
    return std::getenv("QRX_SIM_STATE");
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(Qrxsim, RangeWrittenWithSetIsShownDecodedAndReadBack) {
    Sim({"reset", "k6-3+"});
    Sim({"set", "C0000085", "00000000000BFFFE"});
    const std::string show = Sim({"show"});
    EXPECT_TRUE(Contains(show, "range 0: start 000A0000, 128 kB, write-combined")) << show;
    EXPECT_TRUE(Contains(show, "range 1: not in use")) << show;
    EXPECT_EQ(Sim({"get", "C0000085"}), "00000000000BFFFE\n");
}

// qrxsim never speaks for the real processor: its usage and show say so, and show says which
// processor the programs drive now when it is not this one.
TEST(Qrxsim, SaysItShowsTheSimulatedProcessorAndWhichOneTheProgramsDrive) {
    Sim({"reset", "k6-3+"});
    const std::string device = std::getenv("QRX_KERNEL_DEVICE");
    const std::string simulated = "The simulated processor, not the real one.\nState file:  ";
    const struct {
        std::string driver, start;
    } cases[] = {
        {"QRX_DRIVER=simulated", simulated},
        {"QRX_DRIVER", simulated}, // unset, and the test home holds no kernel driver's device
        {"QRX_DRIVER=hardware",
         "The simulated processor, not the real one.\nThe programs drive the real processor at " +
             device + " now; with QRX_DRIVER=simulated they drive this one.\nState file:  "},
    };
    for (const auto& c : cases) {
        const ProcessResult r = RunProgram("qrxsim", {"show"}, {c.driver});
        EXPECT_EQ(r.out.substr(0, c.start.size()), c.start) << c.driver;
    }
    EXPECT_TRUE(Contains(RunProgram("qrxsim", {}).err, "never the real one"));
}

TEST(Qrxsim, GetPrintsFixedWidthUpperCaseHex) {
    Sim({"reset", "k6-2+"});
    struct Case {
        const char* reg;
        const char* out;
    } cases[] = {
        {"CR0", "8005003B\n"},
        {"cr0", "8005003B\n"},
        {"PORT", "00000000\n"},
        {"C0000087", "0000000000000043\n"},
        {"c0000080", "0000000000000002\n"},
        {"psor", "0000000000000043\n"},
        {"EPMR", "0000000000000000\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Sim({"get", c.reg}), c.out) << c.reg;
    Sim({"set", "cr0", "c005003b"});
    Sim({"set", "PORT", "962C0"});
    Sim({"set", "EFER", "1f"});
    EXPECT_EQ(Sim({"get", "CR0"}), "C005003B\n");
    EXPECT_EQ(Sim({"get", "PORT"}), "000962C0\n");
    EXPECT_EQ(Sim({"get", "C0000080"}), "000000000000001F\n");
}

TEST(Qrxsim, SetBypassesFaultsAndTheLogAndStoresEvenReadOnlyRegisters) {
    Sim({"reset", "k6-3"});
    Sim({"fail", "1", "2"});
    Sim({"set", "C0000087", "FFFFFFFFFFFFFFFF"});
    EXPECT_EQ(SimGet("C0000087"), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Sim({"log"}), "");
    EXPECT_TRUE(Contains(Sim({"show"}), "Failing:     1 (ReadMsr), 2 (WriteMsr)"));
    Sim({"fail"});
    EXPECT_TRUE(Contains(Sim({"show"}), "Failing:     no request"));
}

TEST(Qrxsim, ResetGivesFreshValuesEmptyLogAndNoFaults) {
    Sim({"reset", "k6-3+"});
    Sim({"set", "C0000082", "FFC10000"});
    Sim({"fail", "5"});
    WriteFile(StatePath() + ".log", "ReadCr0 -> 8005003B\n");
    EXPECT_EQ(Sim({"log"}), "ReadCr0 -> 8005003B\n");
    Sim({"reset"});
    EXPECT_EQ(SimGet("C0000082"), "0000000000000000");
    EXPECT_EQ(Sim({"log"}), "");
    EXPECT_TRUE(Contains(Sim({"show"}), "Failing:     no request"));
    EXPECT_TRUE(Contains(Sim({"show"}), "Machine:     k6-3+"));
}

TEST(Qrxsim, ResetCustomTakesAnyIdentity) {
    Sim({"reset", "custom", "AuthenticAMD", "5", "8", "9"});
    const std::string show = Sim({"show"});
    EXPECT_TRUE(Contains(show, "AuthenticAMD, family 5, model 8, stepping 9; highest standard "
                               "leaf 1; time-stamp counter yes"))
        << show;
    EXPECT_EQ(SimGet("C0000087"), "0000000000000191");
    Sim({"reset", "custom", "CyrixInstead", "6", "0", "1", "0", "0"});
    const std::string other = Sim({"show"});
    EXPECT_TRUE(Contains(other, "CyrixInstead, family 6, model 0, stepping 1; highest standard "
                                "leaf 0; time-stamp counter no"))
        << other;
    EXPECT_TRUE(Contains(other, "EFER   C0000080  not present")) << other;
}

// Scripts split these lines on single blanks, as they do the log's, so the fields are never
// padded into columns.
TEST(Qrxsim, PresetsListsOneLinePerPresetWithItsIdentity) {
    const char* expected[] = {
        "k6 AuthenticAMD 5 6 2 ",        "k6-7 AuthenticAMD 5 7 0 ",
        "k6-2 AuthenticAMD 5 8 0 ",      "k6-2-cxt AuthenticAMD 5 8 12 ",
        "k6-3 AuthenticAMD 5 9 1 ",      "k6-3+ AuthenticAMD 5 13 0 ",
        "k6-2+ AuthenticAMD 5 13 4 ",    "k6-d9 AuthenticAMD 5 13 9 ",
        "amd-5-10 AuthenticAMD 5 10 0 ", "athlon AuthenticAMD 6 4 2 ",
        "intel GenuineIntel 6 8 3 ",     "amd-leaf0 AuthenticAMD 5 13 0 ",
    };
    std::vector<std::string> lines;
    std::istringstream in(Sim({"presets"}));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].compare(0, std::strlen(expected[i]), expected[i]), 0) << lines[i];
        const std::string description =
            lines[i].substr(std::min(lines[i].size(), std::strlen(expected[i])));
        EXPECT_FALSE(description.empty()) << lines[i];
        EXPECT_NE(description.front(), ' ') << lines[i];
    }
}

TEST(Qrxsim, StateOptionNamesAnotherMachine) {
    const std::string other = TestDir() + "/other/machine";
    Sim({"reset", "k6"});
    Sim({"--state", other, "reset", "intel"});
    EXPECT_TRUE(Contains(Sim({"show", "--state", other}), "GenuineIntel"));
    EXPECT_TRUE(Contains(Sim({"--state=" + other, "show"}), "GenuineIntel"));
    EXPECT_TRUE(Contains(Sim({"show"}), "Machine:     k6 "));
}

TEST(Qrxsim, BadUsageExitsWithTwoAndSaysWhy) {
    Sim({"reset", "k6"});
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"reset", "k7"}, "unknown preset \"k7\""},
        {{"reset", "\x1b[2J\x9b"}, "unknown preset \"\\x1B[2J\\x9B\""},
        {{"reset", "k6", "k6-2"}, "reset takes one preset name"},
        {{"reset", "custom", "AuthenticAMD", "5", "8"}, "reset custom needs"},
        {{"reset", "custom", "AMD", "5", "8", "0"}, "the vendor must be 12 printable"},
        {{"reset", "custom", "AuthenticAMD", "16", "8", "0"}, "FAMILY must be"},
        {{"reset", "custom", "AuthenticAMD", "5", "8", "0", "1", "2"}, "TSC must be"},
        {{"get"}, "get needs REG"},
        {{"get", "XYZ"}, "\"XYZ\" is not a register"},
        {{"get", "C0000085"}, "the simulated k6 (AuthenticAMD 5/6/2) has no register C0000085"},
        {{"set", "UWCCR", "1"}, "the simulated k6 (AuthenticAMD 5/6/2) has no register C0000085"},
        {{"set", "C0000082"}, "set needs REG VALUE"},
        {{"set", "C0000082", "12345678123456789"}, "VALUE must be up to 16"},
        {{"set", "CR0", "123456789"}, "VALUE must be up to 8"},
        {{"set", "C0000082", "0x12"}, "VALUE must be"},
        {{"fail", "7"}, "request codes are 1 to 6"},
        {{"fail", "0"}, "request codes are 1 to 6"},
        {{"fail", "one"}, "request codes are 1 to 6"},
        {{"log", "all"}, "log takes nothing or \"clear\""},
        {{"show", "all"}, "show takes no arguments"},
        {{"presets", "k6"}, "presets takes no arguments"},
        {{"--state"}, "--state needs a FILE"},
    };
    const std::string before = ReadFile(StatePath());
    for (const Case& c : cases) {
        const ProcessResult r = RunProgram("qrxsim", c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.message;
        EXPECT_TRUE(Contains(r.err, std::string("qrxsim: ") + c.message)) << r.err;
        EXPECT_EQ(Contains(r.err, "usage: qrxsim"), !Contains(c.message, "has no register"))
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(ReadFile(StatePath()), before) << "a refused command changed the machine";
}

// Bad usage is told apart from a state file that cannot be used: a command line that does not
// pass is exit 2 even when the state file is out of reach, and creates nothing on the way.
TEST(Qrxsim, BadUsageComesBeforeTheStateFile) {
    const std::string blocker = TestDir() + "/not-a-folder";
    WriteFile(blocker, "");
    const std::string unusable = blocker + "/machine";
    const std::string fresh = TestDir() + "/fresh/machine";
    const std::vector<std::vector<std::string>> commands = {
        {"frobnicate"}, {"reset", "k7"},     {"reset", "custom", "AMD", "5", "8", "0"},
        {"get", "XYZ"}, {"set", "CR0", "G"}, {"fail", "7"},
        {"log", "all"}, {"show", "all"},
    };
    for (const std::string& state : {unusable, fresh}) {
        for (std::vector<std::string> args : commands) {
            args.insert(args.begin(), {"--state", state});
            const ProcessResult r = RunProgram("qrxsim", args);
            EXPECT_EQ(r.exitStatus, 2) << args[2] << ": " << r.err;
            EXPECT_TRUE(Contains(r.err, "usage: qrxsim")) << r.err;
        }
    }
    struct stat st;
    EXPECT_NE(stat((TestDir() + "/fresh").c_str(), &st), 0) << "bad usage created the folder";
    // The same state file with a good command is the state file's problem: exit 1.
    const ProcessResult r = RunProgram("qrxsim", {"--state", unusable, "show"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(Contains(r.err, "choose another")) << r.err;
}

TEST(Qrxsim, DamagedStateFileIsNamedWithTheRemedyAndResetMendsIt) {
    WriteFile(StatePath(), "format 1\npreset k6\nvendor AuthenticAMD\nfamily five\n");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"show"}, {"get", "CR0"}, {"log"}, {"fail", "1"}}) {
        const ProcessResult r = RunProgram("qrxsim", args);
        EXPECT_EQ(r.exitStatus, 1) << args[0];
        EXPECT_TRUE(Contains(r.err, "\"" + StatePath() + "\" is damaged (line 4: family must be"))
            << r.err;
        EXPECT_TRUE(Contains(r.err, "run \"qrxsim reset\"")) << r.err;
    }
    EXPECT_EQ(ReadFile(StatePath()), "format 1\npreset k6\nvendor AuthenticAMD\nfamily five\n");
    Sim({"reset", "k6-2"});
    EXPECT_TRUE(Contains(Sim({"show"}), "Machine:     k6-2 "));
}

// Something other than a file in the state file's place is not mended by a reset: every
// command, reset included, says what is there and what to do, and leaves it alone.
TEST(Qrxsim, AFolderInTheStateFilesPlaceIsNamedAndLeftAlone) {
    const std::string folder = TestDir() + "/machine-folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::vector<std::vector<std::string>> commands = {
        {"show"}, {"get", "CR0"}, {"set", "CR0", "0"}, {"fail", "1"},
        {"log"},  {"reset"},      {"reset", "k6"},
    };
    for (std::vector<std::string> args : commands) {
        args.insert(args.begin(), {"--state", folder});
        const ProcessResult r = RunProgram("qrxsim", args);
        EXPECT_EQ(r.exitStatus, 1) << args[2];
        EXPECT_TRUE(Contains(r.err, "\"" + folder +
                                        "\" cannot be used: it is a folder, not a regular "
                                        "file; remove it"))
            << args[2] << ": " << r.err;
    }
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(Qrxsim, WhatIsNoFileInTheRequestLogsPlaceIsNamedWithoutWaiting) {
    const std::string log = StatePath() + ".log";
    struct Case {
        const char* what;
        std::function<int()> put;
    } cases[] = {
        {"a named pipe (FIFO)", [&] { return mkfifo(log.c_str(), 0600); }},
        {"a folder", [&] { return mkdir(log.c_str(), 0700); }},
    };
    for (const Case& c : cases) {
        Sim({"reset"});
        std::remove(log.c_str());
        ASSERT_EQ(c.put(), 0);
        const ProcessResult r = RunProgram("qrxsim", {"log"});
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.err, "qrxsim: the request log \"" + log + "\" cannot be used: it is " + c.what +
                             ", not a regular file; remove it, or choose another state file "
                             "with --state or QRX_SIM_STATE\n");
        ASSERT_EQ(std::remove(log.c_str()), 0);
    }
}

TEST(Qrxsim, AKilledWritersTemporaryFileIsGoneAfterTheNextRequest) {
    Sim({"reset"});
    // What a writer killed between writing and renaming leaves beside the state file.
    WriteFile(StatePath() + ".tmp", "format 1\npreset k6\n");
    EXPECT_EQ(Sim({"get", "CR0"}), "8005003B\n");
    struct stat st;
    EXPECT_NE(lstat((StatePath() + ".tmp").c_str(), &st), 0);
}

// A program stopped (or hung) while it holds the machine's lock must not stop every other.
TEST(Qrxsim, AProgramStoppedHoldingTheLockMakesOthersFailAfterTheWait) {
    Sim({"reset"});
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        SimStore(StatePath()).Transact([](SimMachine&, std::vector<std::string>&) {
            raise(SIGSTOP);
            return false;
        });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
    ASSERT_TRUE(WIFSTOPPED(status));
    const ProcessResult r = RunProgram("qrxsim", {"get", "CR0"});
    kill(holder, SIGKILL);
    waitpid(holder, &status, 0);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "qrxsim: the simulated processor's state file \"" + StatePath() +
                         "\" is held by another program (its lock \"" + StatePath() +
                         ".lock\" stayed taken for 5 seconds); let that program finish, or end "
                         "it, and try again\n");
}

TEST(Qrxsim, MissingStateFileIsCreatedAsK63Plus) {
    EXPECT_EQ(SimGet("C0000087"), "0000000000000001");
    EXPECT_TRUE(Contains(ReadFile(StatePath()), "preset k6-3+\n"));
}

TEST(Qrxsim, ShowDecodesEveryFieldAnOwnerReads) {
    Sim({"reset", "k6-2+"});
    Sim({"set", "WHCR", "0000000001010000"});
    Sim({"set", "EFER", "1A"});
    Sim({"set", "EPMR", "FFF1"});
    Sim({"set", "CR0", "C005003B"});
    const std::string show = Sim({"show"});
    for (const char* part :
         {"Clock:       550 MHz (100 MHz bus x 5.5)", "L1 cache off (bit 30 = 1)",
          "L2 cache off (bit 4 = 1)", "write ordering: No Write Ordering",
          "data prefetch on (bit 1)", "write allocation on, limit 16 MB",
          "15-16 MB range write-allocated (bit 16)", "multiplier 5.5x (code 011)",
          "enabled at I/O FFF0 (multiplier port FFF8)", "stepping 4 (bits 7..4)",
          "Log:         0 lines"})
        EXPECT_TRUE(Contains(show, part)) << "missing \"" << part << "\" in\n" << show;
}
