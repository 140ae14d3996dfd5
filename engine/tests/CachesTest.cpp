// L1, L2, write ordering and data prefetch on the simulated processor: each EFER write changes
// only its own bits, and nothing is written when the read fails.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "common/General.h"

namespace {

class Caches : public SimulatedCpu {};

} // namespace

TEST_F(Caches, WriteOrderingReplacesBitsThreeToTwoOnly) {
    struct Case {
        uint32_t before;
        WriteOrderingTp write;
        uint32_t after;
    } cases[] = {
        {0x0000000C, WriteOrderingTp::GEWBED, 0x00000008},
        {0x00000008, WriteOrderingTp::SEWBED, 0x00000004},
        {0x0000001B, WriteOrderingTp::EWBEStrong, 0x00000013},
        {0x00000017, WriteOrderingTp::GEWBED, 0x0000001B},
        {0x00000013, WriteOrderingTp::SEWBED, 0x00000017},
        {0x0000000E, static_cast<WriteOrderingTp>(3), 0x00000002},
    };
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    for (const Case& c : cases) {
        SCOPED_TRACE(DWordToHex(c.before));
        SimSetMsr(MsrEFER, 0, c.before);
        SetWriteOrdering(true, c.write);
        EXPECT_EQ(SimMsrLow(MsrEFER), c.after);
    }
}

TEST_F(Caches, WriteOrderingReadsBitsThreeToTwo) {
    struct Case {
        uint32_t efer;
        WriteOrderingTp read;
    } cases[] = {
        {0x00, WriteOrderingTp::EWBEStrong}, {0x04, WriteOrderingTp::SEWBED},
        {0x08, WriteOrderingTp::GEWBED},     {0x0C, WriteOrderingTp::GEWBED},
        {0x13, WriteOrderingTp::EWBEStrong}, {0x17, WriteOrderingTp::SEWBED},
    };
    ASSERT_NO_FATAL_FAILURE(Reset("k6-2-cxt"));
    for (const Case& c : cases) {
        SCOPED_TRACE(DWordToHex(c.efer));
        SimSetMsr(MsrEFER, 0, c.efer);
        bool supported = true;
        WriteOrderingTp type = static_cast<WriteOrderingTp>(7);
        GetWriteOrdering(supported, type);
        EXPECT_EQ(type, c.read);
    }
}

TEST_F(Caches, DataPrefetchChangesBitOneOnly) {
    struct Case {
        uint32_t before;
        bool enable;
        uint32_t after;
    } cases[] = {
        {0x1D, true, 0x1F},  {0x1F, false, 0x1D}, {0x00, true, 0x02},
        {0x02, false, 0x00}, {0x0C, false, 0x0C},
    };
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3"));
    for (const Case& c : cases) {
        SCOPED_TRACE(DWordToHex(c.before));
        SimSetMsr(MsrEFER, 0, c.before);
        SetDataPrefetch(true, c.enable);
        EXPECT_EQ(SimMsrLow(MsrEFER), c.after);
        bool supported = true, enabled = !c.enable;
        GetDataPrefetch(supported, enabled);
        EXPECT_EQ(enabled, c.enable);
    }
}

TEST_F(Caches, SwitchesGoThroughTheDriverAndReadBack) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on);
        Sim({"log", "clear"});
        SetL1(on);
        // Only the value of the pair counts, whatever its Supported half says.
        SetL2(true, on);
        EXPECT_EQ(SimLog(),
                  (std::vector<std::string>{std::string("SetL1Cache ") + (on ? "1" : "0"),
                                            std::string("SetL2Cache ") + (on ? "1" : "0")}));
        bool l1 = !on, supported = true, l2 = !on;
        GetL1(l1);
        GetL2(supported, l2);
        EXPECT_EQ(l1, on);
        EXPECT_EQ(l2, on);
        EXPECT_TRUE(supported);
    }
}

TEST_F(Caches, L1SwitchWorksOnAnyProcessor) {
    ASSERT_NO_FATAL_FAILURE(Reset("intel"));
    SetL1(false);
    bool l1 = true;
    GetL1(l1);
    EXPECT_FALSE(l1);
    EXPECT_EQ(SimGet("CR0"), "C005003B");
}

TEST_F(Caches, FailedEferReadWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SimSetMsr(MsrEFER, 0, 0x00000011); // system-call enable and L2 off: must survive
    Sim({"fail", "1"});
    SetWriteOrdering(true, WriteOrderingTp::GEWBED);
    SetDataPrefetch(true, true);
    EXPECT_EQ(SimRequests(), (std::vector<std::string>{"ReadMsr C0000080", "ReadMsr C0000080"}));
    Sim({"fail"});
    EXPECT_EQ(SimMsrLow(MsrEFER), 0x00000011u);
}
