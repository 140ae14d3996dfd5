// Clock multiplier: the ratio vocabulary, and on the simulated K6-2+/K6-III+ the exact request
// sequence of a change (EPMR open, port write, EPMR restore) and the read-back from PSOR.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "common/General.h"
#include "testing/RecordedMessages.h"

namespace {

struct RatioRow {
    const char* text;
    uint8_t code;
    uint32_t port;
};

const RatioRow Ratios[MultiplierCount] = {
    {"2.0", 4, 0x96280}, {"3.0", 5, 0x962A0}, {"3.5", 7, 0x962E0}, {"4.0", 2, 0x96240},
    {"4.5", 0, 0x96200}, {"5.0", 1, 0x96220}, {"5.5", 3, 0x96260}, {"6.0", 6, 0x962C0},
};

class MultiplierOnProcessor : public SimulatedCpu {};

} // namespace

TEST(MultiplierVocabulary, IndexTextAndCodeAgreeBothWays) {
    for (uint8_t i = 0; i < MultiplierCount; ++i) {
        SCOPED_TRACE(Ratios[i].text);
        EXPECT_EQ(MultiplierToText(i), Ratios[i].text);
        EXPECT_EQ(MultiplierToCode(i), Ratios[i].code);
        EXPECT_EQ(CodeToMultiplier(Ratios[i].code), i);
    }
    EXPECT_EQ(MultiplierToText(8), "unknown");
    EXPECT_EQ(MultiplierToText(255), "unknown");
    EXPECT_EQ(MultiplierToCode(8), 0);
}

TEST_F(MultiplierOnProcessor, ChangeOpensThePortWritesTheCodeAndRestoresEpmr) {
    for (uint8_t i = 0; i < MultiplierCount; ++i) {
        SCOPED_TRACE(Ratios[i].text);
        ASSERT_NO_FATAL_FAILURE(Reset(i % 2 ? "k6-2+" : "k6-3+"));
        // An EPMR value of its own, so the restore is visible.
        SimSetMsr(MsrEPMR, 0x00000007, 0x00001230);
        SetMultiplier(i);
        EXPECT_EQ(SimLog(), (std::vector<std::string>{
                                "ReadMsr C0000086 -> 00000007 00001230",
                                "WriteMsr C0000086 00000000 0000FFF1",
                                "Out FFF8 " + DWordToHex(Ratios[i].port),
                                "WriteMsr C0000086 00000007 00001230",
                            }));
        EXPECT_EQ(SimGet("C0000086"), "0000000700001230");
        EXPECT_EQ(SimGet("PORT"), DWordToHex(Ratios[i].port));

        uint8_t index = 99;
        GetMultiplier(index);
        EXPECT_EQ(index, i);
    }
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(MultiplierOnProcessor, IndexOutsideTheTableIsWrittenAsCodeZero) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SetMultiplier(8);
    EXPECT_EQ(SimGet("PORT"), "00096200");
    uint8_t index = 99;
    GetMultiplier(index);
    EXPECT_EQ(index, 4); // 4.5
}

TEST_F(MultiplierOnProcessor, FailedEpmrReadChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SimSetMsr(MsrEPMR, 0, 0x00001230);
    const std::string psor = SimGet("C0000087");
    Sim({"fail", "1"});
    SetMultiplier(7);
    EXPECT_EQ(SimRequests(), std::vector<std::string>{"ReadMsr C0000086"});
    Sim({"fail"});
    EXPECT_EQ(SimGet("C0000086"), "0000000000001230");
    EXPECT_EQ(SimGet("C0000087"), psor);
}

TEST_F(MultiplierOnProcessor, FailedEpmrOpenSendsNoCommandToThePort) {
    // With the block not opened, port FFF8h may belong to another device.
    ASSERT_NO_FATAL_FAILURE(Reset("k6-2+"));
    SimSetMsr(MsrEPMR, 0, 0x00001230);
    const std::string psor = SimGet("C0000087");
    Sim({"fail", "2"});
    SetMultiplier(7);
    EXPECT_EQ(SimRequests(), (std::vector<std::string>{"ReadMsr C0000086", "WriteMsr C0000086",
                                                       "WriteMsr C0000086"}));
    EXPECT_EQ(SimLog().back(), "WriteMsr C0000086 00000000 00001230 -> FAIL")
        << "the old EPMR value is still offered back";
    Sim({"fail"});
    EXPECT_EQ(SimGet("PORT"), "00000000");
    EXPECT_EQ(SimGet("C0000087"), psor);
}

TEST_F(MultiplierOnProcessor, GetterDecodesPsorBitsTwoToZero) {
    struct Case {
        uint32_t psorLow;
        uint8_t index;
    } cases[] = {{0x00000014, 0}, {0x00000017, 2}, {0x000001F8, 4}, {0xFFFFFFF9, 5}};
    ASSERT_NO_FATAL_FAILURE(Reset("k6-2+"));
    for (const Case& c : cases) {
        SCOPED_TRACE(DWordToHex(c.psorLow));
        SimSetMsr(MsrPSOR, 0, c.psorLow);
        uint8_t index = 99;
        GetMultiplier(index);
        EXPECT_EQ(index, c.index);
    }
}
