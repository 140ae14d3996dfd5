// Tests of the driver module qrxvxd.vxd with its simulated backend, loaded through the device seam
// as the programs load it: its requests and buffers, one machine shared by handles and processes,
// and a damaged file. The choice of the backend is tested through the programs
// (console/tests/QrxclwinTest.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Device.h"
#include "platform/Processor.h"
#include "simulator/tests/support/SimTestSupport.h"

namespace {

std::string ModuleName() {
    return "\\\\.\\" + OutputDir() + "qrxvxd.vxd";
}

std::string StatePath() {
    return std::getenv("QRX_SIM_STATE");
}

class Module : public testing::Test {
protected:
    void SetUp() override {
        Sim({"reset", "k6-3+"});
        handle = OpenDevice(ModuleName(), DeviceDeleteOnClose);
        ASSERT_NE(handle, InvalidDeviceHandle);
    }
    void TearDown() override {
        if (handle != InvalidDeviceHandle)
            CloseDevice(handle);
    }

    // One request with 32-bit words in and out; out keeps Untouched where nothing was written.
    bool Send(uint32_t code, std::vector<uint32_t> in, std::vector<uint32_t>& out,
              DeviceHandle h = 0) {
        uint32_t returned = 0;
        return DeviceControl(h ? h : handle, code, in.empty() ? nullptr : in.data(),
                             static_cast<uint32_t>(in.size() * 4),
                             out.empty() ? nullptr : out.data(),
                             static_cast<uint32_t>(out.size() * 4), &returned);
    }

    uint64_t ReadMsrVia(DeviceHandle h, uint32_t index) {
        std::vector<uint32_t> out(2, Untouched);
        EXPECT_TRUE(Send(1, {index}, out, h));
        return uint64_t{out[0]} << 32 | out[1];
    }

    DeviceHandle handle = InvalidDeviceHandle;
};

} // namespace

TEST_F(Module, EveryRequestAnswersWithItsBufferLayoutAndIsLogged) {
    Sim({"log", "clear"});
    std::vector<uint32_t> none, two(2, Untouched), one(1, Untouched);
    ASSERT_TRUE(Send(2, {0xC0000085, 0x00000000, 0x000BFFFE}, none));
    ASSERT_TRUE(Send(1, {0xC0000085}, two));
    EXPECT_EQ(two, (std::vector<uint32_t>{0x00000000, 0x000BFFFE}));
    ASSERT_TRUE(Send(3, {50}, two));
    EXPECT_EQ(two, (std::vector<uint32_t>{50, 500u * 1000 * 50}));
    ASSERT_TRUE(Send(4, {}, one));
    EXPECT_EQ(one[0], 0x8005003Bu);
    ASSERT_TRUE(Send(5, {0}, none));
    ASSERT_TRUE(Send(6, {0}, none));
    ASSERT_TRUE(Send(4, {}, one));
    EXPECT_EQ(one[0], 0xC005003Bu);
    EXPECT_FALSE(Send(2, {0xC0000087, 0, 3}, none));
    EXPECT_EQ(Sim({"log"}), "WriteMsr C0000085 00000000 000BFFFE\n"
                            "ReadMsr C0000085 -> 00000000 000BFFFE\n"
                            "MeasureClock 00000032 -> 00000032 017D7840\n"
                            "ReadCr0 -> 8005003B\n"
                            "SetL1Cache 0\n"
                            "SetL2Cache 0\n"
                            "ReadCr0 -> C005003B\n"
                            "WriteMsr C0000087 00000000 00000003 -> FAIL\n");
    EXPECT_EQ(SimGet("EFER"), "0000000000000012");
}

TEST_F(Module, FailedRequestsLeaveTheOutputBufferUntouched) {
    Sim({"fail", "1", "3", "4"});
    std::vector<uint32_t> two(2, Untouched), one(1, Untouched);
    EXPECT_FALSE(Send(1, {0xC0000080}, two));
    EXPECT_FALSE(Send(3, {50}, two));
    EXPECT_EQ(two, (std::vector<uint32_t>{Untouched, Untouched}));
    EXPECT_FALSE(Send(4, {}, one));
    EXPECT_EQ(one[0], Untouched);
    Sim({"fail"});
    EXPECT_TRUE(Send(4, {}, one));
    EXPECT_EQ(one[0], 0x8005003Bu);
}

TEST_F(Module, TwoHandlesAndQrxsimShareOneMachine) {
    const DeviceHandle second = OpenDevice(ModuleName(), DeviceDeleteOnClose);
    ASSERT_NE(second, InvalidDeviceHandle);
    ASSERT_NE(second, handle);
    std::vector<uint32_t> none;
    ASSERT_TRUE(Send(2, {0xC0000082, 0x11111111, 0x22222222}, none));
    EXPECT_EQ(ReadMsrVia(second, 0xC0000082), 0x1111111122222222u);
    Sim({"set", "C0000082", "3333333344444444"});
    EXPECT_EQ(ReadMsrVia(handle, 0xC0000082), 0x3333333344444444u);
    EXPECT_TRUE(CloseDevice(second));
    EXPECT_EQ(ReadMsrVia(handle, 0xC0000082), 0x3333333344444444u);
}

TEST_F(Module, AnotherProcessSeesEveryWriteAtOnce) {
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child writes a value, then waits for the parent's write and reports what it sees.
        const DeviceHandle h = OpenDevice(ModuleName(), DeviceDeleteOnClose);
        const uint32_t request[3] = {0xC0000085, 0xAAAA0000, 0x000BFFFE};
        bool ok = h != InvalidDeviceHandle && DeviceControl(h, 2, request, 12, nullptr, 0, nullptr);
        char token = ok ? 'w' : 'x';
        ok = write(toParent[1], &token, 1) == 1 && read(toChild[0], &token, 1) == 1;
        const uint32_t index = 0xC0000085;
        uint32_t out[2] = {};
        ok = ok && DeviceControl(h, 1, &index, 4, out, 8, nullptr);
        token = ok && out[0] == 0xBBBB0000u ? 'r' : 'x';
        ok = write(toParent[1], &token, 1) == 1;
        CloseDevice(h);
        _exit(ok ? 0 : 1);
    }
    char token = 0;
    ASSERT_EQ(read(toParent[0], &token, 1), 1);
    ASSERT_EQ(token, 'w');
    EXPECT_EQ(ReadMsrVia(handle, 0xC0000085), 0xAAAA0000000BFFFEu);
    std::vector<uint32_t> none;
    ASSERT_TRUE(Send(2, {0xC0000085, 0xBBBB0000, 0}, none));
    ASSERT_EQ(write(toChild[1], &token, 1), 1);
    ASSERT_EQ(read(toParent[0], &token, 1), 1);
    EXPECT_EQ(token, 'r') << "the child did not see the parent's write";
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Module, DamageAfterOpenFailsRequestsUntilReset) {
    WriteFile(StatePath(), "format 1\nthis is not a machine\n");
    std::vector<uint32_t> one(1, Untouched);
    EXPECT_FALSE(Send(4, {}, one));
    EXPECT_EQ(one[0], Untouched);
    const CpuidResult r = ExecuteCpuidInstruction(0);
    EXPECT_EQ(r.eax | r.ebx | r.ecx | r.edx, 0u)
        << "a machine that cannot be read answers CPUID with nothing, not the host's values";
    EXPECT_FALSE(OutPort32(0xFFF8, 0x962C0)) << "nor takes a port output (nor lets the host)";
    Sim({"reset", "k6"});
    EXPECT_TRUE(Send(4, {}, one));
    EXPECT_EQ(one[0], 0x8005003Bu);
}

TEST_F(Module, ARequestThatCannotBeLoggedFailsAndHasNoEffect) {
    const std::string log = StatePath() + ".log";
    ASSERT_EQ(unlink(log.c_str()), 0);
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    std::vector<uint32_t> none;
    EXPECT_FALSE(Send(5, {1}, none)) << "L1 switched off without a log line";
    ASSERT_EQ(rmdir(log.c_str()), 0);
    EXPECT_EQ(SimGet("CR0"), "8005003B");
}

TEST(ModuleOpen, UnusableFilesRefuseTheOpenWithAClearMessage) {
    const std::string state = StatePath(), log = state + ".log";
    const struct {
        const char* name;
        std::function<void()> spoil;
        std::vector<std::string> told;
    } cases[] = {
        {"a damaged state file",
         [&] { WriteFile(state, "format 1\npreset k6\nvendor Authentic AMD\n"); },
         {"\"" + state + "\" is damaged", "line 3", "qrxsim reset"}},
        // No request could be logged, so none could succeed.
        {"a folder in the request log's place",
         [&] { ASSERT_EQ(mkdir(log.c_str(), 0755), 0); },
         {"the request log \"" + log + "\" cannot be used: it is a folder"}},
        {"a FIFO in the request log's place",
         [&] { ASSERT_EQ(mkfifo(log.c_str(), 0644), 0); },
         {"the request log \"" + log + "\" cannot be used: it is a named pipe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim({"reset"});
        c.spoil();
        const std::string errFile = TestDir() + "/stderr.txt";
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 2);
            const DeviceHandle h = OpenDevice(ModuleName(), DeviceDeleteOnClose);
            _exit(h == InvalidDeviceHandle ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the open was not refused";
        const std::string message = ReadFile(errFile);
        EXPECT_EQ(message.rfind("qrxvxd.vxd: ", 0), 0u) << message;
        for (const std::string& part : c.told)
            EXPECT_NE(message.find(part), std::string::npos) << message;
        std::remove(log.c_str());
    }
}

TEST(ModuleOpen, MissingStateIsCreatedAsK63Plus) {
    const DeviceHandle h = OpenDevice(ModuleName(), DeviceDeleteOnClose);
    ASSERT_NE(h, InvalidDeviceHandle);
    EXPECT_EQ(ExecuteCpuidInstruction(1).eax, 0x5D0u);
    EXPECT_TRUE(CloseDevice(h));
    EXPECT_NE(ReadFile(std::getenv("QRX_SIM_STATE")).find("preset k6-3+\n"), std::string::npos);
}
