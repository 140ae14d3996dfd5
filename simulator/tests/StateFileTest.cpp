// Tests of the state file: its path rule, its text form, damage handling, and one machine
// shared by every store and process on the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "simulator/StateStore.h"
#include "simulator/StateText.h"
#include "simulator/tests/support/SimTestSupport.h"

namespace {

// Sets (or with nullptr unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

std::string StateIn(const std::string& name) {
    return TestDir() + "/" + name + "/simulated-cpu";
}

ino_t InodeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

const char K63PlusState[] =
    "# Quorix simulated processor. Change it with qrxsim; a hand edit must keep this form.\n"
    "format 1\n"
    "preset k6-3+\n"
    "vendor AuthenticAMD\n"
    "family 5\n"
    "model 13\n"
    "stepping 0\n"
    "maxleaf 1\n"
    "tsc 1\n"
    "bus 100\n"
    "cr0 8005003B\n"
    "port 00000000\n"
    "msr C0000080 0000000000000002\n"
    "msr C0000082 0000000000000000\n"
    "msr C0000085 0000000000000000\n"
    "msr C0000086 0000000000000000\n"
    "msr C0000087 0000000000000001\n"
    "fail\n";

} // namespace

TEST(StatePath, ExplicitThenEnvironmentThenXdgStateHomeThenHome) {
    struct Case {
        const char* explicitPath;
        const char* simState;
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/x/explicit", "/y/env", "/z", "/h", "/x/explicit"},
        {"", "/y/env", "/z", "/h", "/y/env"},
        {"", "", "/z", "/h", "/z/quorix/simulated-cpu"},
        {"", nullptr, "/z", "/h", "/z/quorix/simulated-cpu"},
        {"", nullptr, nullptr, "/h", "/h/.local/state/quorix/simulated-cpu"},
        {"", nullptr, "relative/dir", "/h", "/h/.local/state/quorix/simulated-cpu"},
    };
    for (const Case& c : cases) {
        ScopedEnv sim("QRX_SIM_STATE", c.simState);
        ScopedEnv xdg("XDG_STATE_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(SimStatePath(c.explicitPath), c.expected);
    }
}

TEST(StateText, DefaultMachineIsWrittenInItsFixedForm) {
    EXPECT_EQ(FormatState(Preset("k6-3+")), K63PlusState);
}

TEST(StateText, EveryPresetAndACustomMachineReadBackUnchanged) {
    std::vector<SimMachine> machines;
    for (const SimPreset& p : SimPresets())
        machines.push_back(ResetMachine(p));
    SimMachine custom = ResetCustom({"CyrixInstead", 5, 9, 3, 7, false});
    custom.failing = {1, 4, 6};
    custom.cr0 = 0xC005003B;
    custom.port = 0x962C0;
    custom.busMhz = 66;
    machines.push_back(custom);
    for (const SimMachine& m : machines) {
        SimMachine read;
        std::string error;
        ASSERT_TRUE(ParseState(FormatState(m), read, error)) << error;
        EXPECT_EQ(read, m);
    }
}

TEST(StateText, HandEditsWithOtherCaseCrLfAndCommentsAreRead) {
    const std::string text = "format 1\r\npreset k6\r\n# a comment\r\nvendor AuthenticAMD\r\n"
                             "family 5\r\nmodel 6\r\nstepping 2\r\nmaxleaf 1\r\ntsc 1\r\n"
                             "bus 100\r\ncr0 c005003b\r\nport 0\r\n\r\n"
                             "msr c0000082 fe\r\nmsr C0000080 0\r\n";
    SimMachine m;
    std::string error;
    ASSERT_TRUE(ParseState(text, m, error)) << error;
    EXPECT_EQ(m.cr0, 0xC005003Bu);
    EXPECT_EQ(m.msrs.at(MsrWhcr), 0xFEu);
    EXPECT_TRUE(m.failing.empty());
}

TEST(StateText, DamageIsRefusedWithTheLineAndTheReason) {
    const std::string good = K63PlusState;
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Case {
        std::string text, error;
    } cases[] = {
        {"", "\"format\" is missing"},
        {good.substr(0, good.size() / 2), "\" is missing"},
        {replace("format 1", "format 2"), "line 2: unknown format"},
        {replace("preset k6-3+", "preset k7"), "line 3: unknown preset"},
        {replace("AuthenticAMD", "AuthenticAM"), "line 4: the vendor"},
        {replace("family 5", "family 16"), "line 5: family must be"},
        {replace("stepping 0", "stepping -1"), "line 7: stepping must be"},
        {replace("maxleaf 1", "maxleaf 4294967296"), "line 8: maxleaf"},
        {replace("tsc 1", "tsc yes"), "line 9: tsc must be 0 or 1"},
        {replace("bus 100", "bus 0"), "line 10: bus must be"},
        {replace("cr0 8005003B", "cr0 18005003B"), "line 11: cr0 must be"},
        {replace("port 00000000", "port 0000000G"), "line 12: port must be"},
        {replace("msr C0000085 0000000000000000", "msr C0000085"), "line 15: expected \"msr"},
        {replace("msr C0000085 0000000000000000\n", ""), "register C0000085 is missing"},
        {replace("msr C0000086", "msr C0000081"), "register C0000086 is missing"},
        {replace("msr C0000086", "msr C0000085"), "line 16: register C0000085 appears twice"},
        {replace("fail", "fail 1 7"), "line 18: fail lists request codes"},
        {replace("bus 100", "bus 100\nbus 66"), "line 11: \"bus\" appears twice"},
        {replace("bus 100", "speed 100"), "line 10: unknown entry \"speed\""},
        {replace("model 13", "model 13 14"), "line 6: model must be"},
        {replace("port 0", std::string("port \0", 6)), "line 12: contains a zero byte"},
        {replace("bus 100", "\x1B[2J\xFF 100"), "line 10: unknown entry \"?[2J?\""},
        {replace("bus 100", std::string(5000, 'x')),
         "line 10: unknown entry \"" + std::string(24, 'x') + "...\""},
    };
    for (const Case& c : cases) {
        SimMachine m;
        std::string error;
        EXPECT_FALSE(ParseState(c.text, m, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos)
            << "expected \"" << c.error << "\", got \"" << error << "\"";
    }
}

TEST(Store, MissingFileIsCreatedAsTheDefaultPresetInNewFolders) {
    const std::string path = TestDir() + "/new/deeper/simulated-cpu";
    SimStore store(path);
    SimMachine seen;
    store.Transact([&](SimMachine& m, std::vector<std::string>&) {
        seen = m;
        return false;
    });
    EXPECT_EQ(seen, Preset("k6-3+"));
    EXPECT_EQ(ReadFile(path), K63PlusState);
    EXPECT_TRUE(store.ReadLog().empty());
}

TEST(Store, ANewStateFileFollowsTheUmaskAndAnOldOneKeepsItsMode) {
    struct Case {
        mode_t mask;
        mode_t existing; // 0: no file yet
        mode_t expected;
    } cases[] = {{022, 0, 0644}, {077, 0, 0600}, {077, 0664, 0664}};
    for (const Case& c : cases) {
        const std::string path = StateIn("umask-" + std::to_string(&c - cases));
        if (c.existing) {
            SimStore(path).Transact([](SimMachine&, std::vector<std::string>&) { return false; });
            ASSERT_EQ(chmod(path.c_str(), c.existing), 0);
        }
        const mode_t old = umask(c.mask);
        SimStore(path).Transact([](SimMachine& m, std::vector<std::string>&) {
            m.port = 1;
            return true;
        });
        umask(old);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.expected) << std::oct << c.mask << " " << c.existing;
    }
}

TEST(Store, ALinkedStateFileIsWrittenInItsTargetAndALinkToNothingIsNamed) {
    const std::string target = StateIn("elsewhere"), link = TestDir() + "/linked-cpu";
    SimStore(target).Transact([](SimMachine&, std::vector<std::string>&) { return false; });
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    SimStore(link).Replace(Preset("k6"));
    EXPECT_EQ(ReadFile(target), FormatState(Preset("k6")));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    ASSERT_EQ(unlink(target.c_str()), 0);
    try {
        SimStore(link).Transact([](SimMachine&, std::vector<std::string>&) { return false; });
        FAIL() << "a link to nothing was followed";
    } catch (const SimStateError& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + link + "\" cannot be used: it is a link to " +
                                             target + ", which does not exist"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_NE(stat(target.c_str(), &st), 0);
}

TEST(Store, DamagedFileGivesAnErrorNamingItAndTheRemedyAndIsKept) {
    const std::string path = StateIn("damaged");
    {
        SimStore(path).Transact([](SimMachine&, std::vector<std::string>&) { return false; });
    }
    WriteFile(path, "format 1\npreset k6-3+\ngarbage here\n");
    SimStore store(path);
    try {
        store.Transact([](SimMachine& m, std::vector<std::string>&) {
            m.port = 1;
            return true;
        });
        FAIL() << "a damaged state file was accepted";
    } catch (const SimStateError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
        EXPECT_NE(message.find("line 3: unknown entry \"garbage\""), std::string::npos) << message;
        EXPECT_NE(message.find("qrxsim reset"), std::string::npos) << message;
    }
    EXPECT_THROW(store.ReadLog(), SimStateError);
    EXPECT_EQ(ReadFile(path), "format 1\npreset k6-3+\ngarbage here\n");

    store.Replace(Preset("k6"));
    SimMachine seen;
    store.Transact([&](SimMachine& m, std::vector<std::string>&) {
        seen = m;
        return false;
    });
    EXPECT_EQ(seen, Preset("k6"));
}

TEST(Store, TwoStoresOnOneFileSeeEachOthersChangesAndHandEdits) {
    const std::string path = StateIn("shared");
    SimStore a(path), b(path);
    a.Transact([](SimMachine& m, std::vector<std::string>& log) {
        m.port = 0x1234;
        log.push_back("from a");
        return true;
    });
    uint32_t seen = 0;
    b.Transact([&](SimMachine& m, std::vector<std::string>& log) {
        seen = m.port;
        m.port = 0x5678;
        log.push_back("from b");
        return true;
    });
    EXPECT_EQ(seen, 0x1234u);
    a.Transact([&](SimMachine& m, std::vector<std::string>&) {
        seen = m.port;
        return false;
    });
    EXPECT_EQ(seen, 0x5678u);
    EXPECT_EQ(a.ReadLog(), (std::vector<std::string>{"from a", "from b"}));

    // An edit in place (same inode, other size) is noticed too.
    std::string text = ReadFile(path);
    text.replace(text.find("port 00005678"), 13, "port 9");
    WriteFile(path, text);
    b.Transact([&](SimMachine& m, std::vector<std::string>&) {
        seen = m.port;
        return false;
    });
    EXPECT_EQ(seen, 9u);
}

// Another process's change must be seen even when the file's inode, size and time stamp come
// out as before: renames reuse freed inodes, and time stamps only move every few milliseconds.
TEST(Store, AChangeThatKeepsTheFilesInodeSizeAndTimeIsStillSeen) {
    struct Case {
        const char* what;
        const char* from;
        const char* to;
        std::function<bool(const SimMachine&)> seen;
    } cases[] = {
        {"CR0 switched", "cr0 8005003B", "cr0 C005003B",
         [](const SimMachine& m) { return m.cr0 == 0xC005003Bu; }},
        {"a register written", "msr C0000082 0000000000000000", "msr C0000082 00000000FE000000",
         [](const SimMachine& m) { return m.msrs.at(MsrWhcr) == 0xFE000000u; }},
        {"a fault injected", "fail\n", "fail 4\n",
         [](const SimMachine& m) { return m.failing.count(4) == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = StateIn(std::string("sametime-") + std::to_string(&c - cases));
        SimStore store(path);
        store.Transact([](SimMachine&, std::vector<std::string>&) { return false; });
        struct stat before;
        ASSERT_EQ(stat(path.c_str(), &before), 0);

        const std::string original = ReadFile(path);
        std::string text = original;
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, std::strlen(c.from), c.to);
        // Keep the size: shorten the comment line by what the change added.
        const size_t grown = text.size() - original.size();
        text.erase(text.find('\n') - grown, grown);
        WriteFile(path, text);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        struct stat after;
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        ASSERT_EQ(after.st_ino, before.st_ino);
        ASSERT_EQ(after.st_size, before.st_size);

        SimMachine m;
        store.Transact([&](SimMachine& current, std::vector<std::string>&) {
            m = current;
            return false;
        });
        EXPECT_TRUE(c.seen(m)) << m;
    }
}

TEST(Store, ARequestThatChangesNothingDoesNotRewriteTheFile) {
    const std::string path = StateIn("quiet");
    SimStore store(path);
    store.Transact([](SimMachine&, std::vector<std::string>&) { return false; });
    const ino_t before = InodeOf(path);
    store.Transact([](SimMachine&, std::vector<std::string>& log) {
        log.push_back("ReadCr0 -> 8005003B");
        return false;
    });
    store.Transact([](SimMachine&, std::vector<std::string>&) { return true; }); // same values
    EXPECT_EQ(InodeOf(path), before);
    store.Transact([](SimMachine& m, std::vector<std::string>&) {
        m.cr0 = 0;
        return true;
    });
    EXPECT_NE(InodeOf(path), before) << "a change is written to a new file and renamed";
}

// The children reach one machine as it is and through two links.
TEST(Store, ProcessesUpdatingAtOnceLoseNoChange) {
    const std::string path = StateIn("race");
    {
        SimStore(path).Transact([](SimMachine&, std::vector<std::string>&) { return false; });
    }
    constexpr int Children = 3, Rounds = 150;
    const std::string paths[Children] = {path, path + "-link", TestDir() + "/link-b"};
    ASSERT_EQ(symlink(path.c_str(), paths[1].c_str()), 0);
    ASSERT_EQ(symlink(path.c_str(), paths[2].c_str()), 0);
    std::vector<pid_t> pids;
    for (int c = 0; c < Children; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                SimStore store(paths[c]);
                for (int i = 0; i < Rounds; ++i)
                    store.Transact([&](SimMachine& m, std::vector<std::string>& log) {
                        ++m.port;
                        log.push_back("child " + std::to_string(c));
                        return true;
                    });
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SimStore store(path);
    uint32_t port = 0;
    store.Transact([&](SimMachine& m, std::vector<std::string>&) {
        port = m.port;
        return false;
    });
    EXPECT_EQ(port, uint32_t{Children * Rounds});
    EXPECT_EQ(store.ReadLog().size(), size_t{Children * Rounds});
}

// A program killed between logging a change and storing it left the state's mark: the next
// request takes the change's lines back, and the mark goes.
TEST(Store, TheLinesOfAChangeAKilledProgramNeverStoredAreTakenBack) {
    const std::string path = StateIn("killed");
    SimStore(path).Transact([](SimMachine&, std::vector<std::string>& log) {
        log.push_back("ReadCr0 -> 8005003B");
        return false;
    });
    const std::string logged = ReadFile(SimLogPath(path));
    WriteFile(path, ReadFile(path) + "# log-pending " + std::to_string(logged.size()) + "\n");
    WriteFile(SimLogPath(path), logged + "SetL1Cache 0\n");
    EXPECT_EQ(SimStore(path).ReadLog(), std::vector<std::string>{"ReadCr0 -> 8005003B"});
    EXPECT_EQ(ReadFile(path).find("# log-pending"), std::string::npos);
}

TEST(Store, LogIsTrimmedButKeepsItsNewestTenThousandLinesInOrder) {
    SimStore store(StateIn("log"));
    constexpr int Total = 32000, Batch = 1000;
    auto line = [](int n) {
        // As long as the longest real log line, so trimming happens within the test's reach.
        return "Cpuid 80000002 -> 2D444D41 74284B36 492D296D " + std::to_string(10000000 + n);
    };
    for (int start = 0; start < Total; start += Batch)
        store.Transact([&](SimMachine&, std::vector<std::string>& log) {
            for (int n = start; n < start + Batch; ++n)
                log.push_back(line(n));
            return false;
        });
    const std::vector<std::string> log = store.ReadLog();
    ASSERT_GE(log.size(), SimLogKeepLines);
    EXPECT_LT(log.size(), size_t{Total}) << "the log was never trimmed";
    const int first = Total - static_cast<int>(log.size());
    for (size_t i = 0; i < log.size(); ++i)
        ASSERT_EQ(log[i], line(first + static_cast<int>(i))) << i;

    store.ClearLog();
    EXPECT_TRUE(store.ReadLog().empty());
}

TEST(Store, ARequestIsStoredWithItsLogLineOrNotAtAll) {
    const std::string path = StateIn("all-or-nothing");
    const std::string logPath = SimLogPath(path);
    SimStore store(path);
    auto portIs = [&](uint32_t value) {
        store.Transact([&](SimMachine& m, std::vector<std::string>&) {
            m.port = value;
            return true;
        });
    };
    portIs(1);
    const std::string state = ReadFile(path);

    // The log line cannot be written: the machine is not written either.
    ASSERT_EQ(mkdir(logPath.c_str(), 0755), 0);
    EXPECT_THROW(store.Transact([](SimMachine& m, std::vector<std::string>& log) {
        m.port = 2;
        log.push_back("Out FFF8 00000002");
        return true;
    }),
                 SimStateError);
    EXPECT_EQ(ReadFile(path), state);
    ASSERT_EQ(rmdir(logPath.c_str()), 0);

    // The machine cannot be written: its line is taken back.
    WriteFile(logPath, "ReadCr0 -> 8005003B\n");
    EXPECT_THROW(store.Transact([&](SimMachine& m, std::vector<std::string>& log) {
        m.port = 3;
        log.push_back("Out FFF8 00000003");
        EXPECT_EQ(unlink(path.c_str()), 0);
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
        return true;
    }),
                 SimStateError);
    EXPECT_EQ(ReadFile(logPath), "ReadCr0 -> 8005003B\n");
}

TEST(Store, ADamagedLogIsReadOnlyAtItsTailAndCutBackToIt) {
    // Far larger than any log of ours, without a line end: a hole, so the test writes nothing
    // of it, but a reader of the whole file would still read and keep every byte.
    constexpr off_t Huge = off_t{200} << 20;
    const struct {
        const char* name;
        off_t garbage;    // bytes without a line end at the start
        std::string rest; // what follows them
        std::vector<std::string> shown;
    } cases[] = {
        {"a huge log with no line end", Huge, "", {}},
        {"a huge log ending in lines", Huge, "\nReadCr0 -> 8005003B\n", {"ReadCr0 -> 8005003B"}},
        {"a log ending inside a line", 0, "ReadCr0 -> 800", {"ReadCr0 -> 800"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = StateIn(std::string("damaged-log-") + c.name);
        SimStore store(path);
        store.Transact([](SimMachine&, std::vector<std::string>&) { return false; });
        {
            const int fd = open(SimLogPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, c.garbage), 0);
            ASSERT_EQ(pwrite(fd, c.rest.data(), c.rest.size(), c.garbage),
                      static_cast<ssize_t>(c.rest.size()));
            close(fd);
        }
        EXPECT_EQ(store.ReadLog(), c.shown);
        store.Transact([](SimMachine&, std::vector<std::string>& log) {
            log.push_back("SetL1Cache 1");
            return false;
        });
        std::vector<std::string> expected = c.shown;
        expected.push_back("SetL1Cache 1");
        EXPECT_EQ(store.ReadLog(), expected);
        struct stat st;
        ASSERT_EQ(stat(SimLogPath(path).c_str(), &st), 0);
        EXPECT_LT(st.st_size, off_t{4} << 20) << "the log was not cut back";
    }
}
