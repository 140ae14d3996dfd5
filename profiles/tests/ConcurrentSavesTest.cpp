// The profile store under several processes: saves that run at the same moment lose nothing,
// and a writer killed in the middle of a save leaves a readable file with every finished save.
#include "profiles/SaveLoad.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Registry.h"
#include "testing/TestSupport.h"

namespace {

std::string ConfigDir() {
    return TestDir() + "/config/quorix";
}

std::string RegFile() {
    return ConfigDir() + "/registry.reg";
}

std::string ProfileName(int writer, int i) {
    return "W" + std::to_string(writer) + "_" + std::to_string(i);
}

// A record that differs per profile, so a value landing in the wrong key shows.
SettingsTp RecordFor(int writer, int i) {
    SettingsTp s;
    s.WA.WASupported = s.WA.WAEnabled = true;
    s.WA.WALimit = 4 * i + writer;
    s.WA.WA1516MB = (i % 2) != 0;
    s.L1Supported = true;
    s.L1CacheEnabled = writer == 1;
    return s;
}

// The section the file holds for that profile, exactly.
std::string SectionFor(int writer, int i) {
    char limit[9];
    std::snprintf(limit, sizeof limit, "%08x", 4 * i + writer);
    return "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\" + ProfileName(writer, i) +
           "]\n\"WAEnabled\"=dword:00000001\n\"WALimit\"=dword:" + limit +
           "\n\"WA1516MB\"=dword:0000000" + std::to_string(i % 2) +
           "\n\"L1CacheEnabled\"=dword:0000000" + std::to_string(writer == 1) + "\n\n";
}

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(ConcurrentSaves, TwoProcessesSavingAtTheSameMomentLoseNothing) {
    constexpr int Writers = 2, Profiles = 200;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t writers[Writers];
    for (int w = 0; w < Writers; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            close(start[1]);
            char c;
            (void)!read(start[0], &c, 1); // returns when the parent closes its end: both go
            int failures = 0;
            for (int i = 0; i < Profiles; ++i) {
                try {
                    failures += SaveProfile(ProfileName(w, i), RecordFor(w, i)) ? 0 : 1;
                } catch (...) {
                    ++failures;
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    close(start[0]);
    close(start[1]);
    for (pid_t pid : writers)
        EXPECT_EQ(ExitStatus(pid), 0);

    std::vector<std::string> names;
    GetProfileNames(names);
    EXPECT_EQ(names.size(), static_cast<size_t>(Writers * Profiles));
    const std::string file = ReadFile(RegFile());
    EXPECT_EQ(CanonicalRegistryText(file, RegFile()), file);
    for (int w = 0; w < Writers; ++w)
        for (int i = 0; i < Profiles; ++i)
            EXPECT_NE(file.find(SectionFor(w, i)), std::string::npos) << ProfileName(w, i);
}

TEST(ConcurrentSaves, AWriterKilledInTheMiddleOfSavingLeavesEverySaveThatReturned) {
    std::vector<int> saved;
    int next = 0;
    for (int round = 0; round < 20; ++round) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(report[0]);
            for (int i = next;; ++i) {
                if (!SaveProfile(ProfileName(0, i), RecordFor(0, i)))
                    _exit(1);
                const std::string line = std::to_string(i) + "\n";
                if (write(report[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    _exit(1);
            }
        }
        close(report[1]);
        // Kill after a varying number of finished saves; the writer is then inside the next.
        const size_t wanted = saved.size() + 1 + round % 4;
        std::string pending;
        char buffer[256];
        bool killed = false;
        for (;;) {
            const ssize_t n = read(report[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the writer is gone and everything it reported is read
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                saved.push_back(std::stoi(pending.substr(0, nl)));
                pending.erase(0, nl + 1);
            }
            if (!killed && saved.size() >= wanted) {
                kill(pid, SIGKILL);
                killed = true;
            }
        }
        close(report[0]);
        EXPECT_EQ(ExitStatus(pid), 128 + SIGKILL);
        ASSERT_TRUE(killed) << "the writer ended by itself in round " << round;
        next = saved.back() + 1;
    }

    const std::string file = ReadFile(RegFile());
    ASSERT_NO_THROW(CanonicalRegistryText(file, RegFile()));
    for (int i : saved) {
        SettingsTp loaded;
        ASSERT_TRUE(LoadProfile(ProfileName(0, i), loaded)) << i;
        EXPECT_EQ(loaded.WA.WALimit, 4 * i);
        EXPECT_EQ(loaded.WA.WA1516MB, (i % 2) != 0);
    }
    // Killed writers may leave temporary files; the next writer removes them.
    ASSERT_TRUE(SaveProfile("After", RecordFor(1, 0)));
    EXPECT_EQ(FilesIn(ConfigDir()), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
}
