// Tests of the device seam: device names, loading and refusing modules, handles and requests.
#include "platform/Device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace {

const std::string Prefix = "\\\\.\\";

std::string TestModule() {
    return Prefix + OutputDir() + "qrxtestdev.vxd";
}

} // namespace

TEST(OpenDevice, NamesThatDoNotReachAUsableModuleGiveTheInvalidHandle) {
    WriteFile(TestDir() + "/text.vxd", "not a shared object\n");
    const std::string cases[] = {
        "",
        Prefix,
        OutputDir() + "qrxtestdev.vxd",             // no device prefix
        "\\\\?\\" + OutputDir() + "qrxtestdev.vxd", // another prefix
        Prefix + OutputDir() + "missing.vxd",
        Prefix + TestDir() + "/text.vxd",
        Prefix + OutputDir() + "qrxtestdev-noclose.vxd", // lacks an entry point
        Prefix + OutputDir(),                            // a folder
    };
    for (const std::string& name : cases)
        EXPECT_EQ(OpenDevice(name, DeviceDeleteOnClose), InvalidDeviceHandle) << name;
}

TEST(OpenDevice, AModuleThatRefusesTheOpenGivesTheInvalidHandle) {
    setenv("QRX_TESTDEV_REFUSE", "1", 1);
    EXPECT_EQ(OpenDevice(TestModule(), DeviceDeleteOnClose), InvalidDeviceHandle);
    unsetenv("QRX_TESTDEV_REFUSE");
    const DeviceHandle h = OpenDevice(TestModule(), DeviceDeleteOnClose);
    EXPECT_NE(h, InvalidDeviceHandle);
    EXPECT_TRUE(CloseDevice(h));
}

TEST(OpenDevice, APathWithoutFolderNamesAFileInTheCurrentFolderNotALibrary) {
    ASSERT_EQ(chdir(OutputDir().c_str()), 0);
    const DeviceHandle h = OpenDevice(Prefix + "qrxtestdev.vxd", 0);
    EXPECT_NE(h, InvalidDeviceHandle);
    EXPECT_TRUE(CloseDevice(h));
    ASSERT_EQ(chdir(TestDir().c_str()), 0);
    EXPECT_EQ(OpenDevice(Prefix + "qrxtestdev.vxd", 0), InvalidDeviceHandle);
}

TEST(DeviceHandles, AreDistinctSmallNumbersAndDieWithTheirClose) {
    std::set<DeviceHandle> seen;
    std::vector<DeviceHandle> open;
    for (int i = 0; i < 5; ++i) {
        const DeviceHandle h = OpenDevice(TestModule(), DeviceDeleteOnClose);
        ASSERT_NE(h, InvalidDeviceHandle);
        EXPECT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " given twice";
        open.push_back(h);
    }
    const uint32_t in = 7;
    uint32_t out = 0;
    for (DeviceHandle h : open) {
        EXPECT_TRUE(CloseDevice(h));
        EXPECT_FALSE(CloseDevice(h));
        EXPECT_FALSE(DeviceControl(h, 1, &in, 4, &out, 4, nullptr));
    }
    // A handle closed earlier is never given out again, so a stale one cannot reach a new device.
    const DeviceHandle later = OpenDevice(TestModule(), DeviceDeleteOnClose);
    EXPECT_EQ(seen.count(later), 0u);
    EXPECT_TRUE(CloseDevice(later));
    EXPECT_FALSE(CloseDevice(InvalidDeviceHandle));
    EXPECT_FALSE(DeviceControl(InvalidDeviceHandle, 1, &in, 4, &out, 4, nullptr));
}

TEST(DeviceControl, PassesBuffersAndReportsTheModulesResult) {
    const DeviceHandle h = OpenDevice(TestModule(), DeviceDeleteOnClose);
    ASSERT_NE(h, InvalidDeviceHandle);
    const uint32_t in[2] = {0x11223344, 0x55667788};
    uint32_t out[2] = {0, 0};
    uint32_t returned = 0;
    EXPECT_TRUE(DeviceControl(h, 1, in, 8, out, 8, &returned));
    EXPECT_EQ(out[0], in[0]);
    EXPECT_EQ(out[1], in[1]);
    EXPECT_EQ(returned, 8u);
    EXPECT_FALSE(DeviceControl(h, 99, in, 8, out, 8, &returned));
    EXPECT_TRUE(CloseDevice(h));
}

TEST(ShortPathName, AlwaysFailsAndLeavesTheBufferAlone) {
    for (const char* path : {"/usr/local/lib/", "/a dir/with blanks/", ""}) {
        char buffer[1024];
        std::memset(buffer, 'x', sizeof buffer);
        std::strcpy(buffer, path);
        char copy[1024];
        std::memcpy(copy, buffer, sizeof buffer);
        EXPECT_EQ(ShortPathName(buffer, sizeof buffer), 0u);
        EXPECT_EQ(std::memcmp(buffer, copy, sizeof buffer), 0) << path;
    }
}
