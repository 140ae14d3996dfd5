// Tests of the file rules that the registry, the log-on entry and the simulator share: what
// stands in a file's place, links, the umask, leftovers of killed writers and the bounded lock.
#include "platform/posixlib/Files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/TestSupport.h"

using namespace qrxposix;

namespace {

std::string InTest(const std::string& name) {
    return TestDir() + "/" + name;
}

bool IsLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the umask for one scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
    ~ScopedUmask() { umask(old_); }

private:
    mode_t old_;
};

} // namespace

TEST(Files, WhatIsNoRegularFileIsRefusedUnopenedAndNothingWaits) {
    const std::string file = InTest("f");
    struct Case {
        const char* what;
        std::function<void()> put; // puts something in the file's place
        FileOutcome read;          // ReadRegularFile with a limit of 16 bytes
        FileOutcome append;        // OpenRegularFile for appending, creating
        const char* cause;
    } cases[] = {
        {"a file", [&] { WriteFile(file, "0123456789abcdef"); }, FileOutcome::Regular,
         FileOutcome::Regular, ""},
        {"nothing", [] {}, FileOutcome::Missing, FileOutcome::Regular, ""},
        // Opening a named pipe waits for the other end, for reading and writing alike.
        {"a named pipe", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }, FileOutcome::NotRegular,
         FileOutcome::NotRegular, "it is a named pipe (FIFO), not a"},
        {"a folder", [&] { ASSERT_EQ(mkdir(file.c_str(), 0700), 0); }, FileOutcome::NotRegular,
         FileOutcome::NotRegular, "it is a folder, not a regular file"},
        {"a link to an endless device", [&] { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); },
         FileOutcome::NotRegular, FileOutcome::NotRegular, "it is a character device"},
        {"a dangling link", [&] { ASSERT_EQ(symlink("gone/nowhere", file.c_str()), 0); },
         FileOutcome::DanglingLink, FileOutcome::DanglingLink, "which does not exist"},
        {"a file over the limit", [&] { WriteFile(file, "0123456789abcdefX"); },
         FileOutcome::TooLarge, FileOutcome::Regular, "it holds more than 16 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool reading : {true, false}) {
            ASSERT_EQ(std::system(("rm -rf '" + file + "'").c_str()), 0);
            c.put();
            std::string text, cause;
            int fd = -1;
            const FileOutcome outcome =
                reading ? ReadRegularFile(file, 16, text, cause)
                        : OpenRegularFile(file, O_WRONLY | O_APPEND | O_CREAT, 0600, fd, cause);
            EXPECT_EQ(outcome, reading ? c.read : c.append) << (reading ? "read" : "append");
            if (outcome != FileOutcome::Regular) {
                EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
            }
            if (fd >= 0)
                close(fd);
        }
    }
}

TEST(Files, ReadingTheTailKeepsTheLastBytes) {
    WriteFile(InTest("log"), "line 1\nline 2\nline 3\n");
    std::string text, cause;
    ASSERT_EQ(ReadRegularFileTail(InTest("log"), 8, text, cause), FileOutcome::Regular);
    EXPECT_EQ(text, "\nline 3\n");
    ASSERT_EQ(ReadRegularFileTail(InTest("log"), 100, text, cause), FileOutcome::Regular);
    EXPECT_EQ(text, "line 1\nline 2\nline 3\n");
}

TEST(Files, AReplacedLinkKeepsPointingAtItsTargetWhichGetsTheText) {
    ASSERT_EQ(mkdir(InTest("dotfiles").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(InTest("config").c_str(), 0700), 0);
    const std::string target = InTest("dotfiles/file");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links; // link, what it holds
    } cases[] = {
        {"an absolute link", {{"config/file", target}}},
        {"a relative link", {{"config/file", "../dotfiles/file"}}},
        {"a chain of links", {{"config/file", "second"}, {"config/second", "../dotfiles/file"}}},
    };
    for (Writers writers : {Writers::Locked, Writers::Concurrent})
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            WriteFile(target, "old");
            for (const auto& link : c.links)
                ASSERT_EQ(symlink(link.second.c_str(), InTest(link.first).c_str()), 0);
            std::string cause;
            ASSERT_TRUE(ReplaceFile(InTest("config/file"), "new", 0600, Durability::Unflushed,
                                    writers, cause))
                << cause;
            EXPECT_EQ(ReadFile(target), "new");
            for (const auto& link : c.links) {
                EXPECT_TRUE(IsLink(InTest(link.first))) << link.first;
                ASSERT_EQ(unlink(InTest(link.first).c_str()), 0);
            }
            EXPECT_FALSE(Exists(InTest("config/file.tmp")));
            EXPECT_FALSE(Exists(target + ".tmp"));
        }

    // A link to nothing is refused: creating its target could put the file anywhere.
    ASSERT_EQ(symlink("../dotfiles/absent", InTest("config/file").c_str()), 0);
    std::string cause;
    EXPECT_FALSE(ReplaceFile(InTest("config/file"), "new", 0600, Durability::Unflushed,
                             Writers::Locked, cause));
    EXPECT_NE(cause.find("which does not exist"), std::string::npos) << cause;
    EXPECT_FALSE(Exists(InTest("dotfiles/absent")));
}

TEST(Files, ANewFileFollowsTheUmaskAndAReplacedOneKeepsItsMode) {
    struct Case {
        mode_t mask;
        mode_t existing; // 0: no file yet
        mode_t expected;
    } cases[] = {
        {022, 0, 0644},
        {077, 0, 0600},
        {027, 0, 0640},
        {077, 0664, 0664},
    };
    for (Writers writers : {Writers::Locked, Writers::Concurrent})
        for (const Case& c : cases) {
            const std::string file = InTest("moded");
            std::remove(file.c_str());
            if (c.existing) {
                WriteFile(file, "old");
                ASSERT_EQ(chmod(file.c_str(), c.existing), 0);
            }
            ScopedUmask mask(c.mask);
            std::string cause;
            ASSERT_TRUE(ReplaceFile(file, "new", 0644, Durability::Unflushed, writers, cause))
                << cause;
            EXPECT_EQ(ModeOf(file), c.expected) << std::oct << c.mask << " " << c.existing;
        }
}

TEST(Files, OnlyTemporariesWhoseWriterIsGoneAreRemoved) {
    const std::string file = InTest("entry");
    // A killed writer's temporary: nobody holds its lock any more.
    WriteFile(file + ".tmp-Stale1", "half");
    // A writer at work: it holds the lock on its temporary until it has renamed it.
    WriteFile(file + ".tmp-Busy22", "being written");
    const int busy = open((file + ".tmp-Busy22").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);
    // Not a temporary of ours at all.
    WriteFile(file + ".tmp-mine-too", "kept");
    std::string cause;
    ASSERT_TRUE(ReplaceFile(file, "new", 0644, Durability::Unflushed, Writers::Concurrent, cause))
        << cause;
    EXPECT_FALSE(Exists(file + ".tmp-Stale1"));
    EXPECT_TRUE(Exists(file + ".tmp-Busy22"));
    EXPECT_TRUE(Exists(file + ".tmp-mine-too"));
    close(busy);

    // Under a lock that keeps every other writer out, the one fixed name is stale whenever seen.
    WriteFile(file + ".tmp", "half");
    RemoveLeftoverTemporary(file);
    EXPECT_FALSE(Exists(file + ".tmp"));
}

// The lock lies beside the file that the links lead to; whatever else than a regular file stands
// in its place is refused and left as it was, a link above all (it would have the lock's holder
// create or overwrite a file of whoever placed it).
TEST(Files, TheLockLiesBesideTheTargetAndNothingInItsPlaceIsFollowed) {
    WriteFile(InTest("v"), "precious");
    WriteFile(InTest("data"), "");
    ASSERT_EQ(symlink("data", InTest("alias").c_str()), 0);
    const struct {
        const char* file;
        std::function<int(const std::string&)> put; // into the lock's place
        const char* refusal;                        // null: opened
    } cases[] = {
        {"alias", [](const std::string&) { return 0; }, nullptr},
        {"a", [](const std::string& at) { return symlink("v", at.c_str()); },
         "it is a symbolic link, which is left as it is"},
        {"b", [](const std::string& at) { return symlink("gone", at.c_str()); },
         "it is a symbolic link, which is left as it is"},
        {"c", [](const std::string& at) { return mkdir(at.c_str(), 0700); },
         "it is a folder, not a regular file"},
    };
    for (const auto& c : cases) {
        const std::string expected = InTest(c.refusal ? c.file : "data") + ".lock";
        ASSERT_EQ(c.put(expected), 0) << c.file;
        int fd = -1;
        std::string lockFile, cause;
        EXPECT_EQ(OpenLockFile(InTest(c.file), 0600, fd, lockFile, cause), !c.refusal) << c.file;
        EXPECT_EQ(lockFile, expected);
        EXPECT_EQ(cause, c.refusal ? "cannot open the lock file " + expected + ": " + c.refusal +
                                         "; remove it, and a new lock file takes its place"
                                   : std::string());
        if (fd >= 0)
            close(fd);
    }
    EXPECT_EQ(ReadFile(InTest("v")), "precious");
    EXPECT_FALSE(Exists(InTest("gone")));
}

// A folder that cannot be made leaves none of its parents behind.
TEST(Files, FoldersThatCannotBeMadeLeaveNothingBehind) {
    std::string deep = InTest("made");
    for (int i = 0; i < 30; ++i)
        deep += "/" + std::string(200, 'a');
    std::string failed;
    EXPECT_FALSE(MakeFolders(deep, 0700, failed));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_FALSE(Exists(InTest("made")));
}

TEST(Files, ALockHeldByAnotherIsGivenUpAfterTheWait) {
    const std::string lockFile = InTest("x.lock");
    // flock locks belong to open files, so two opens conflict as two programs would.
    const int holder = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int waiter = open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_EQ(LockExclusive(waiter, std::chrono::milliseconds{30}), LockOutcome::Held);
    EXPECT_EQ(HeldByAnotherProgram("The file x", lockFile),
              "The file x is held by another program (its lock " + lockFile +
                  " stayed taken for 5 seconds); let that program finish, or end it, and try "
                  "again");
    close(holder);
    EXPECT_EQ(LockExclusive(waiter, std::chrono::milliseconds{30}), LockOutcome::Locked);
    close(waiter);
}
