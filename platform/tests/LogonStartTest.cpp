// Tests of the log-on start seam: Exec quoting, the entry file, and replacement that never loses
// the old entry.
#include "platform/LogonStart.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace {

std::string Autostart() {
    return TestDir() + "/config/autostart";
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

bool ToolPresent(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ExecLine(const std::string& content) {
    const size_t at = content.find("\nExec=");
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + 6;
    return content.substr(start, content.find('\n', start) - start);
}

struct ExecCase {
    const char* what;
    LogonCommand command;
    std::string exec;
};

const ExecCase ExecCases[] = {
    {"plain words stay bare",
     {"/usr/bin/qrxclwin", {"/WA", "64", "0", "/WO", "0"}},
     "/usr/bin/qrxclwin /WA 64 0 /WO 0"},
    {"a blank quotes the program path",
     {"/home/u/My Programs/qrxclwin", {"/L1", "1"}},
     "\"/home/u/My Programs/qrxclwin\" /L1 1"},
    // The quoting escapes are backslashes, which the file format's string escapes double again.
    {"dollar, double quote and backtick are escaped inside quotes",
     {"/opt/a$b\"c`d/qrxclwin", {}},
     "\"/opt/a\\\\$b\\\\\"c\\\\`d/qrxclwin\""},
    {"a backslash is escaped for the quoting and again for the file format",
     {"/opt/a\\b/qrxclwin", {}},
     "\"/opt/a\\\\\\\\b/qrxclwin\""},
    {"percent is doubled outside quotes",
     {"/opt/100%/qrxclwin", {"50%"}},
     "/opt/100%%/qrxclwin 50%%"},
    {"percent is doubled inside quotes", {"/opt/a b%/qrxclwin", {}}, "\"/opt/a b%%/qrxclwin\""},
    {"other reserved characters quote the argument",
     {"/p", {"a;b", "~x", "(y)", "#", "*?", "<|>&", "'"}},
     "/p \"a;b\" \"~x\" \"(y)\" \"#\" \"*?\" \"<|>&\" \"'\""},
    {"an empty argument is kept as a pair of quotes", {"/p", {""}}, "/p \"\""},
    {"tab and line feed travel as string escapes inside quotes",
     {"/p", {"a\tb\nc"}},
     "/p \"a\\tb\\nc\""},
    {"non-ASCII text passes unchanged",
     {"/home/J\xc3\xb8rn/qrxclwin", {}},
     "/home/J\xc3\xb8rn/qrxclwin"},
};

TEST(LogonStartExec, QuotesAndEscapesAsTheDesktopEntryRulesRequire) {
    for (const ExecCase& c : ExecCases) {
        std::string exec;
        ASSERT_TRUE(DesktopExecValue(c.command, exec)) << c.what;
        EXPECT_EQ(exec, c.exec) << c.what;
    }
}

TEST(LogonStartExec, ParsingTheWrittenValueGivesBackTheCommand) {
    for (const ExecCase& c : ExecCases) {
        std::string exec;
        ASSERT_TRUE(DesktopExecValue(c.command, exec)) << c.what;
        LogonCommand back;
        ASSERT_TRUE(ParseDesktopExecValue(exec, back)) << c.what << ": " << exec;
        EXPECT_EQ(back, c.command) << c.what;
    }
}

TEST(LogonStartExec, CommandsThatAnEntryCannotCarryAreRefused) {
    const LogonCommand refused[] = {
        {"", {"/L1", "1"}},     {"/p", {std::string("a\0b", 3)}}, {"/p\x01", {}}, {"/p", {"\x7f"}},
        {"/p\xff", {}},         // not UTF-8
        {"/p\xc3", {}},         // cut-off sequence
        {"/p\xc0\xaf", {}},     // overlong form of '/'
        {"/p\xed\xa0\x80", {}}, // surrogate
    };
    for (const LogonCommand& c : refused) {
        std::string exec = "untouched";
        EXPECT_FALSE(DesktopExecValue(c, exec)) << c;
        EXPECT_EQ(exec, "untouched") << c;
    }
}

TEST(LogonStartExec, MalformedExecValuesAreNotParsed) {
    const char* malformed[] = {
        "",                  // no program
        "\"/p unterminated", // quote never closed
        "/p a;b",            // reserved character outside quotes
        "/p %f",             // field code
        "/p 100%",           // lone percent at the end
        "\"/p\"x",           // quoted argument not quoted whole
        "\"/p \\q\"",        // an unknown string escape
        "\"/p \\\\q\"",      // a quoting escape of a character that needs none
        "/p \\",             // dangling string escape
    };
    for (const char* exec : malformed) {
        LogonCommand command;
        EXPECT_FALSE(ParseDesktopExecValue(exec, command)) << exec;
    }
}

TEST(LogonStartFile, LivesInTheAutostartFolderOfTheConfigHome) {
    EXPECT_EQ(LogonStartFile("Quorix"), Autostart() + "/Quorix.desktop");
}

TEST(LogonStartFile, ARelativeConfigHomeIsIgnored) {
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(LogonStartFile("Quorix"), TestDir() + "/.config/autostart/Quorix.desktop");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(LogonStartFile("Quorix"), TestDir() + "/.config/autostart/Quorix.desktop");
}

TEST(LogonStartFile, NamesThatAreNotPlainFileNamesAreRefused) {
    for (const std::string& name : {std::string(), std::string("."), std::string(".."),
                                    std::string("a/b"), std::string("a\0b", 3)}) {
        EXPECT_EQ(LogonStartFile(name), "") << name;
        std::string error;
        EXPECT_FALSE(WriteLogonStart(name, {"/p", {}}, error)) << name;
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(LogonStartExists(name));
    }
    EXPECT_TRUE(FolderEntries(Autostart()).empty());
}

TEST(LogonStartEntry, WriteCreatesTheFoldersAndExactlyThisFile) {
    EXPECT_FALSE(LogonStartExists("Quorix"));
    std::string error;
    ASSERT_TRUE(WriteLogonStart("Quorix", {"/opt/q r/qrxclwin", {"/L1", "1", "/WO", "0"}}, error))
        << error;
    EXPECT_TRUE(LogonStartExists("Quorix"));
    EXPECT_EQ(ReadFile(Autostart() + "/Quorix.desktop"), "[Desktop Entry]\n"
                                                         "Type=Application\n"
                                                         "Name=Quorix\n"
                                                         "TryExec=/opt/q r/qrxclwin\n"
                                                         "Exec=\"/opt/q r/qrxclwin\" /L1 1 /WO 0\n"
                                                         "Terminal=false\n"
                                                         "NoDisplay=true\n");
    EXPECT_EQ(FolderEntries(Autostart()), std::vector<std::string>{"Quorix.desktop"});
    struct stat st;
    ASSERT_EQ(stat((Autostart() + "/Quorix.desktop").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(LogonStartEntry, WriteReplacesTheCommandAndReadGivesItBack) {
    std::string error;
    ASSERT_TRUE(WriteLogonStart("Quorix", {"/a/qrxclwin", {"/L1", "0"}}, error)) << error;
    const LogonCommand second{"/b c/qrxclwin", {"/L2", "1", "/DP", "0"}};
    ASSERT_TRUE(WriteLogonStart("Quorix", second, error)) << error;
    LogonCommand back;
    ASSERT_TRUE(ReadLogonStart("Quorix", back));
    EXPECT_EQ(back, second);
    EXPECT_EQ(FolderEntries(Autostart()), std::vector<std::string>{"Quorix.desktop"});
}

TEST(LogonStartEntry, RemoveDeletesTheEntryAndRemovingNothingSucceeds) {
    std::string error;
    EXPECT_TRUE(RemoveLogonStart("Quorix", error)) << error;
    ASSERT_TRUE(WriteLogonStart("Quorix", {"/a/qrxclwin", {}}, error)) << error;
    ASSERT_TRUE(WriteLogonStart("Other", {"/a/other", {}}, error)) << error;
    EXPECT_TRUE(RemoveLogonStart("Quorix", error)) << error;
    EXPECT_FALSE(LogonStartExists("Quorix"));
    EXPECT_TRUE(LogonStartExists("Other"));
    EXPECT_TRUE(RemoveLogonStart("Quorix", error)) << error;
    LogonCommand back;
    EXPECT_FALSE(ReadLogonStart("Quorix", back));
}

// A file size limit makes the write of the new file fail after the old entry exists; the old
// entry must come through byte for byte and no temporary file may be left behind.
TEST(LogonStartEntry, AFailedWriteKeepsTheOldEntry) {
    std::string error;
    ASSERT_TRUE(WriteLogonStart("Quorix", {"/a/qrxclwin", {"/L1", "1"}}, error)) << error;
    const std::string before = ReadFile(Autostart() + "/Quorix.desktop");

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written =
        WriteLogonStart("Quorix", {"/a/qrxclwin", {"/L1", "0", "/L2", "0", "/DP", "1"}}, error);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(written);
    EXPECT_NE(error.find(Autostart()), std::string::npos) << error;
    EXPECT_EQ(ReadFile(Autostart() + "/Quorix.desktop"), before);
    EXPECT_EQ(FolderEntries(Autostart()), std::vector<std::string>{"Quorix.desktop"});
}

TEST(LogonStartEntry, AFolderThatCannotBeWrittenKeepsTheOldEntry) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    std::string error;
    ASSERT_TRUE(WriteLogonStart("Quorix", {"/a/qrxclwin", {"/L1", "1"}}, error)) << error;
    const std::string before = ReadFile(Autostart() + "/Quorix.desktop");
    ASSERT_EQ(chmod(Autostart().c_str(), 0500), 0);
    EXPECT_FALSE(WriteLogonStart("Quorix", {"/b/qrxclwin", {}}, error));
    EXPECT_FALSE(RemoveLogonStart("Quorix", error));
    chmod(Autostart().c_str(), 0700);
    EXPECT_EQ(ReadFile(Autostart() + "/Quorix.desktop"), before);
}

// Two programs may write the entry at the same moment (the last one wins): neither may fail
// for the other, nor remove the temporary file the other is writing.
TEST(LogonStartEntry, TwoProcessesWritingAtOnceNeverFailEachOther) {
    const char* rounds = std::getenv("QRX_LOGON_WRITE_ROUNDS"); // scripts/logon-write-race
    const int Rounds = rounds ? std::atoi(rounds) : 200;
    const LogonCommand commands[] = {{"/a/qrxclwin", {"/L1", "1"}}, {"/b/qrxclwin", {"/L2", "0"}}};
    std::vector<pid_t> writers;
    for (const LogonCommand& command : commands) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failed = 0;
            std::string error;
            for (int i = 0; i < Rounds; ++i)
                failed += WriteLogonStart("Quorix", command, error) ? 0 : 1;
            if (failed)
                std::fprintf(stderr, "%d of %d writes failed, the last: %s\n", failed, Rounds,
                             error.c_str());
            _exit(failed ? 1 : 0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    LogonCommand back;
    ASSERT_TRUE(ReadLogonStart("Quorix", back));
    EXPECT_TRUE(back == commands[0] || back == commands[1]) << back;
    EXPECT_EQ(FolderEntries(Autostart()), std::vector<std::string>{"Quorix.desktop"});
}

TEST(LogonStartEntry, ANamedPipeInTheEntrysPlaceIsNeitherWaitedForNorReplaced) {
    ASSERT_EQ(std::system(("mkdir -p '" + Autostart() + "'").c_str()), 0);
    const std::string file = Autostart() + "/Quorix.desktop";
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    LogonCommand back;
    EXPECT_FALSE(ReadLogonStart("Quorix", back));
    std::string error;
    EXPECT_FALSE(WriteLogonStart("Quorix", {"/a/qrxclwin", {}}, error));
    EXPECT_EQ(error, "The log-on entry cannot be stored: cannot write " + file +
                         ": it is a named pipe (FIFO), not a regular file.");
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(LogonStartEntry, AConfigHomeThatIsAFileIsReported) {
    WriteFile(TestDir() + "/config", "not a folder");
    std::string error;
    EXPECT_FALSE(WriteLogonStart("Quorix", {"/a/qrxclwin", {}}, error));
    EXPECT_NE(error.find(TestDir() + "/config"), std::string::npos) << error;
}

TEST(LogonStartEntry, PassesDesktopFileValidateWithAwkwardProgramPaths) {
    if (!ToolPresent("desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate is not installed (scripts/install-deps installs it)";
    const std::string paths[] = {"/home/u/My Programs/qrxclwin", "/opt/a$b\"c`d\\e/qrxclwin",
                                 "/opt/100% sure/qrxclwin", "/opt/it's (new); #1/qrxclwin"};
    for (const std::string& path : paths) {
        std::string error;
        ASSERT_TRUE(WriteLogonStart("Quorix", {path, {"/WA", "64", "0", "/WO", "0"}}, error))
            << error;
        const ProcessResult r =
            RunProgram("/usr/bin/desktop-file-validate", {Autostart() + "/Quorix.desktop"});
        EXPECT_EQ(r.exitStatus, 0) << path << "\n" << r.out << r.err;
        EXPECT_EQ(r.out + r.err, "") << path;
    }
}

// The shell's double quotes follow the same escape rules as a desktop entry's quoting, so once
// the file format's "\\" escapes are undone, a line without percent signs or other string escapes
// can be split by the shell independently of our own parser.
TEST(LogonStartEntry, TheShellSplitsTheExecLineIntoTheProgramAndItsArguments) {
    const LogonCommand command{"/home/u/My $HOME `x` \"Programs\"/qrxclwin",
                               {"/MTRR0", "E0000000", "4MB", "W", "/M", "5.5"}};
    std::string error;
    ASSERT_TRUE(WriteLogonStart("Quorix", command, error)) << error;
    const std::string exec = ExecLine(ReadFile(Autostart() + "/Quorix.desktop"));
    ASSERT_FALSE(exec.empty());
    std::string line;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\') {
            ASSERT_EQ(exec[++i], '\\') << exec;
        }
        line += exec[i];
    }
    const ProcessResult r =
        RunProgram("/bin/sh", {"-c", "for a in " + line + "; do printf '%s\\n' \"$a\"; done"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::string expected = command.program + "\n";
    for (const std::string& a : command.arguments)
        expected += a + "\n";
    EXPECT_EQ(r.out, expected);
}

} // namespace
