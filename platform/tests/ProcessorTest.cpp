// Tests of the processor seam: an open simulating module answers CPUID and the port output;
// without one the host's processor answers.
#include "platform/Processor.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/Device.h"
#include "testing/TestSupport.h"

namespace {

std::string Vendor(const CpuidResult& r) {
    char text[13] = {};
    std::memcpy(text, &r.ebx, 4);
    std::memcpy(text + 4, &r.edx, 4);
    std::memcpy(text + 8, &r.ecx, 4);
    return text;
}

DeviceHandle OpenModule(const std::string& file) {
    return OpenDevice("\\\\.\\" + OutputDir() + file, DeviceDeleteOnClose);
}

} // namespace

TEST(Cpuid, TheOpenSimulatorAnswersAndTheHostAnswersOtherwise) {
    Sim({"reset", "custom", "GenuineTMx86", "5", "4", "3"});
    const CpuidResult host = ExecuteCpuidInstruction(0);
    ASSERT_NE(Vendor(host), "GenuineTMx86");

    const DeviceHandle plain = OpenModule("qrxtestdev.vxd");
    ASSERT_NE(plain, InvalidDeviceHandle);
    EXPECT_EQ(Vendor(ExecuteCpuidInstruction(0)), Vendor(host))
        << "a module without a processor leaves CPUID to the host";

    const DeviceHandle sim = OpenModule("qrxvxd.vxd");
    ASSERT_NE(sim, InvalidDeviceHandle);
    const CpuidResult leaf0 = ExecuteCpuidInstruction(0);
    EXPECT_EQ(Vendor(leaf0), "GenuineTMx86");
    EXPECT_EQ(leaf0.eax, 1u);
    EXPECT_EQ(ExecuteCpuidInstruction(1).eax, 0x543u);
    EXPECT_NE(Sim({"log"}).find("Cpuid 00000001 -> 00000543 00000000 00000000 "),
              std::string::npos);

    EXPECT_TRUE(CloseDevice(sim));
    EXPECT_EQ(Vendor(ExecuteCpuidInstruction(0)), Vendor(host));
    EXPECT_TRUE(CloseDevice(plain));
}

TEST(OutPort, TheSimulatorTakesTheOutputAndChangesTheMultiplier) {
    Sim({"reset", "k6-3+"});
    Sim({"set", "EPMR", "FFF1"});
    const DeviceHandle sim = OpenModule("qrxvxd.vxd");
    ASSERT_NE(sim, InvalidDeviceHandle);
    EXPECT_TRUE(OutPort32(0xFFF8, 0x962C0));
    EXPECT_EQ(Sim({"get", "PSOR"}), "0000000000000006\n");
    EXPECT_EQ(Sim({"get", "PORT"}), "000962C0\n");
    EXPECT_EQ(Sim({"log"}), "Out FFF8 000962C0\n");
    EXPECT_TRUE(CloseDevice(sim));
}
