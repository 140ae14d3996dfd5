// The tests' main: gives each test process a fresh temporary home before any test runs.
#include "testing/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "common/General.h"

extern char** environ;

namespace {
std::string g_testDir;

void RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error)
        std::fprintf(stderr, "could not remove %s: %s\n", path.c_str(), error.message().c_str());
}
} // namespace

namespace {
// The variables that keep a test away from the real home folder and the real processor: the
// simulated machine is chosen outright, and a test that leaves the choice to the rule finds no
// kernel driver's device either, unless it makes one in its own folder.
void SetTestEnvironment() {
    setenv("HOME", g_testDir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_testDir + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (g_testDir + "/state").c_str(), 1);
    setenv("QRX_SIM_STATE", (g_testDir + "/simulated-cpu").c_str(), 1);
    setenv("QRX_DRIVER", "simulated", 1);
    setenv("QRX_KERNEL_DEVICE", (g_testDir + "/no-kernel-device").c_str(), 1);
}

// Every test starts in an empty private home with these variables, whatever the test before it
// left behind, so a test program passes run whole, in any order, as well as one test per
// process.
class FreshHome : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        SetTestEnvironment();
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(g_testDir, error))
            std::filesystem::remove_all(entry.path(), error);
    }
};
} // namespace

const std::string& TestDir() {
    return g_testDir;
}

std::string OutputDir() {
    return ProgramDirectory();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

namespace {
// A 32-bit build (the k6 preset) may run on a machine whose kernel runs no 32-bit programs; its
// programs then run under the user-mode emulator that CMake runs its tests with. The machine's
// own programs (a shell, a validator) run as they are.
std::vector<std::string> EmulatorFor(const std::string& path) {
#ifdef QRX_TEST_EMULATOR
    char ident[5] = {};
    std::ifstream(path, std::ios::binary).read(ident, sizeof ident);
    const bool elf32 = std::string(ident, 4) == "\x7F"
                                                "ELF" &&
                       ident[4] == 1;
    if (elf32)
        return SplitWords(QRX_TEST_EMULATOR);
#else
    (void)path;
#endif
    return {};
}
} // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
    const std::string path =
        program.find('/') == std::string::npos ? OutputDir() + program : program;
    const std::vector<std::string> emulator = EmulatorFor(path);
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        for (const std::string& e : extraEnv) {
            if (e.find('=') == std::string::npos)
                unsetenv(e.c_str());
            else
                putenv(const_cast<char*>(e.c_str()));
        }
        std::vector<char*> argv;
        for (const std::string& word : emulator)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (emulator.empty())
            execv(path.c_str(), argv.data());
        else
            execvp(argv[0], argv.data());
        std::fprintf(stderr, "exec %s: %s\n", path.c_str(), std::strerror(errno));
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string Sim(const std::vector<std::string>& args) {
    const ProcessResult r = RunProgram("qrxsim", args);
    EXPECT_EQ(r.exitStatus, 0) << "qrxsim failed: " << r.err;
    return r.out;
}

std::string SimGet(const std::string& reg) {
    std::string out = Sim({"get", reg});
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::vector<ArrowRow> ReadArrowTable(const std::string& path) {
    std::ifstream table(path);
    EXPECT_TRUE(table) << path;
    std::vector<ArrowRow> rows;
    for (std::string line; std::getline(table, line);) {
        const size_t arrow = line.find(" -> ");
        if (line.empty() || line[0] == '#' || arrow == std::string::npos)
            continue;
        rows.push_back({line, line.substr(0, arrow), line.substr(arrow + 4)});
    }
    EXPECT_FALSE(rows.empty()) << path << " holds no case";
    return rows;
}

std::vector<std::string> SimLog() {
    return SplitLines(Sim({"log"}));
}

std::vector<std::string> MachineWrites(const std::vector<std::string>& log) {
    std::vector<std::string> writes;
    for (const std::string& line : log)
        if (line.rfind("WriteMsr", 0) == 0 || line.rfind("SetL", 0) == 0 ||
            line.rfind("Out", 0) == 0)
            writes.push_back(line);
    return writes;
}

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qrx-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    g_testDir = buffer.data();
    SetTestEnvironment();
    // GUI tests never need a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHome);
    const int result = RUN_ALL_TESTS();
    RemoveTree(g_testDir);
    return result;
}
