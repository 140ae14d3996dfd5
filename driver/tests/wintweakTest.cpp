// Tests of the driver link against the simulated processor module beside the test program.
#include "driver/wintweak.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/General.h"
#include "testing/TestSupport.h"

namespace {

class DriverLink : public testing::Test {
protected:
    void SetUp() override {
        Sim({"reset", "k6-2-cxt"});
        ASSERT_TRUE(LoadDriver());
    }
    void TearDown() override { UnloadDriver(); }
};

} // namespace

TEST(DeviceName, PrefixDirectoryAndFileWithoutDoubledSeparator) {
    struct Case {
        std::string directory, expected;
    } cases[] = {
        {"/opt/quorix/", "\\\\.\\/opt/quorix/qrxvxd.vxd"},
        {"/a dir/with blanks/", "\\\\.\\/a dir/with blanks/qrxvxd.vxd"},
        {"", "\\\\.\\qrxvxd.vxd"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DriverDeviceName(c.directory), c.expected);
}

TEST(DeviceName, DirectoryTooLongForTheBufferIsKeptWhole) {
    const std::string longDirectory = "/" + std::string(1500, 'd') + "/";
    EXPECT_EQ(DriverDeviceName(longDirectory), "\\\\.\\" + longDirectory + "qrxvxd.vxd");
}

TEST(DriverLinkClosed, RequestsFailWithZeroedOutputs) {
    // A program that never loaded the driver, whichever tests of this program ran before.
    DriverHandle = InvalidDeviceHandle;
    uint32_t high = 1, low = 2, value = 3, elapsed = 4, cycles = 5;
    EXPECT_FALSE(ReadMsr(0xC0000082, high, low));
    EXPECT_FALSE(ReadCr0(value));
    EXPECT_FALSE(MeasureClock(50, elapsed, cycles));
    EXPECT_EQ(high | low | value | elapsed | cycles, 0u);
    EXPECT_FALSE(WriteMsr(0xC0000082, 0, 0));
    EXPECT_FALSE(SetL1Cache(true));
}

TEST(DriverLinkClosed, UnloadAfterUnloadFailsAndKeepsTheStaleHandle) {
    Sim({"reset", "k6"});
    ASSERT_TRUE(LoadDriver());
    const DeviceHandle opened = DriverHandle;
    EXPECT_TRUE(UnloadDriver());
    EXPECT_EQ(DriverHandle, opened);
    EXPECT_FALSE(UnloadDriver());
}

TEST_F(DriverLink, WriteSendsHighHalfBeforeLowHalf) {
    ASSERT_TRUE(WriteMsr(0xC0000085, 0x12345678, 0x9ABCDEF0));
    EXPECT_EQ(SimGet("C0000085"), "123456789ABCDEF0");
    uint32_t high = 0, low = 0;
    ASSERT_TRUE(ReadMsr(0xC0000085, high, low));
    EXPECT_EQ(high, 0x12345678u);
    EXPECT_EQ(low, 0x9ABCDEF0u);
    EXPECT_NE(Sim({"log"}).find("WriteMsr C0000085 12345678 9ABCDEF0\n"), std::string::npos);
}

TEST_F(DriverLink, FailedRequestsReportFalseAndZeroOutputs) {
    Sim({"set", "C0000082", "00000000000000FE"});
    Sim({"fail", "1", "3", "4"});
    uint32_t high = 7, low = 7, value = 7, elapsed = 7, cycles = 7;
    EXPECT_FALSE(ReadMsr(0xC0000082, high, low));
    EXPECT_FALSE(ReadCr0(value));
    EXPECT_FALSE(MeasureClock(50, elapsed, cycles));
    EXPECT_EQ(high | low | value | elapsed | cycles, 0u);
}

TEST_F(DriverLink, CacheSwitchesSendExactlyOneOrZero) {
    struct Case {
        bool l1, l2;
    } cases[] = {{false, false}, {true, true}, {false, true}, {true, false}};
    for (const Case& c : cases) {
        Sim({"log", "clear"});
        ASSERT_TRUE(SetL1Cache(c.l1));
        ASSERT_TRUE(SetL2Cache(c.l2));
        EXPECT_EQ(Sim({"log"}), std::string("SetL1Cache ") + (c.l1 ? "1" : "0") + "\nSetL2Cache " +
                                    (c.l2 ? "1" : "0") + "\n");
        uint32_t cr0 = 0, high = 0, efer = 0;
        ASSERT_TRUE(ReadCr0(cr0));
        ASSERT_TRUE(ReadMsr(0xC0000080, high, efer));
        EXPECT_EQ(ExtractBits(cr0, 30, 30), c.l1 ? 0u : 1u);
        EXPECT_EQ(ExtractBits(efer, 4, 4), c.l2 ? 0u : 1u);
    }
}

TEST_F(DriverLink, MeasureClockReturnsIntervalAndCycles) {
    uint32_t elapsed = 0, cycles = 0;
    ASSERT_TRUE(MeasureClock(50, elapsed, cycles));
    EXPECT_EQ(elapsed, 50u);
    EXPECT_EQ(cycles, 450u * 1000u * 50u); // the CXT-core K6-2 preset runs at 450 MHz
}

// Every failed request counts, the port output among them, from the last LoadDriver on; the
// first is named as the simulator's log names a request.
TEST_F(DriverLink, FailedRequestsAreCountedSinceLoadingAndTheFirstIsNamed) {
    Sim({"fail", "2", "5"});
    uint32_t cr0 = 0;
    EXPECT_FALSE(WriteMsr(0xC0000085, 0, 0));
    EXPECT_TRUE(ReadCr0(cr0));
    EXPECT_FALSE(SetL1Cache(false));
    EXPECT_EQ(FailedRequestSummary(), "2 driver requests failed; first: WriteMsr C0000085");

    UnloadDriver();
    ASSERT_TRUE(LoadDriver());
    EXPECT_EQ(FailedRequestSummary(), "");
    // A machine that cannot be read takes no port output.
    WriteFile(std::getenv("QRX_SIM_STATE"), "format 1\nthis is not a machine\n");
    EXPECT_FALSE(PortOutput(0xFFF8, 0x962C0));
    EXPECT_EQ(FailedRequestSummary(), "1 driver request failed; first: Out FFF8");
}
