// Write allocation in both WHCR layouts, against the simulated processor: the field bits, the
// bits each layout must keep, the refusals, and no write after a failed read.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "common/General.h"
#include "testing/RecordedMessages.h"

namespace {

enum class Outcome { Written, Refused, ReadFailed };

struct WACase {
    const char* what;
    bool cxt;
    uint32_t highBefore, lowBefore;
    WATp input; // WALimit, WAMaxLimit, WA1516MB, WASupported, WAEnabled
    Outcome outcome;
    uint32_t lowAfter; // when written
    std::string message;
    // What the getter reads afterwards.
    int32_t limit;
    bool hole, enabled;
};

const WACase Cases[] = {
    {"K6 largest limit with the hole keeps bits 31..8 and the high half",
     false,
     0x12345678,
     0xABCDEF00,
     {508, 508, true, true, true},
     Outcome::Written,
     0xABCDEFFF,
     "",
     508,
     true,
     true},
    {"K6 limit above the maximum",
     false,
     0x12345678,
     0xABCDEF00,
     {509, 508, false, true, true},
     Outcome::Refused,
     0,
     "WALimit > 508 MB.",
     0,
     false,
     false},
    {"K6 negative limit",
     false,
     0,
     0x000000FE,
     {-4, 508, false, true, true},
     Outcome::Refused,
     0,
     "WALimit < 0 MB.",
     508,
     false,
     true},
    {"K6 most negative limit",
     false,
     0,
     0,
     {INT32_MIN, 508, true, true, true},
     Outcome::Refused,
     0,
     "WALimit < 0 MB.",
     0,
     false,
     false},
    {"K6 switched off writes limit 0 without the hole",
     false,
     0,
     0xFFFFFFFF,
     {100, 508, true, true, false},
     Outcome::Written,
     0xFFFFFF00,
     "",
     0,
     false,
     false},
    {"K6 switched off ignores a negative limit",
     false,
     0,
     0x000000FE,
     {-4, 508, true, true, false},
     Outcome::Written,
     0x00000000,
     "",
     0,
     false,
     false},
    {"K6 limit 6 is one 4-MB unit and replaces the whole old limit",
     false,
     0,
     0x000000FE,
     {6, 508, false, true, true},
     Outcome::Written,
     0x00000002,
     "",
     4,
     false,
     true},
    {"K6 on with limit 0 and no hole reads back as off",
     false,
     0,
     0x000000FF,
     {0, 508, false, true, true},
     Outcome::Written,
     0x00000000,
     "",
     0,
     false,
     false},
    {"K6 failed read writes nothing",
     false,
     0x0000AAAA,
     0x5500007E,
     {8, 508, true, true, true},
     Outcome::ReadFailed,
     0,
     "",
     252,
     false,
     true},
    {"CXT largest limit keeps bits 21..17, 15..0 and the high half",
     true,
     0xCAFEBABE,
     0x003EFFFF,
     {4092, 4092, false, true, true},
     Outcome::Written,
     0xFFFEFFFF,
     "",
     4092,
     false,
     true},
    {"CXT limit above the maximum",
     true,
     0,
     0,
     {4093, 4092, false, true, true},
     Outcome::Refused,
     0,
     "WALimit > 4092 MB.",
     0,
     false,
     false},
    {"CXT negative limit",
     true,
     0,
     0x06410000,
     {-1, 4092, true, true, true},
     Outcome::Refused,
     0,
     "WALimit < 0 MB.",
     100,
     true,
     true},
    {"CXT limit with the hole over a full register",
     true,
     0,
     0xFFFFFFFF,
     {100, 4092, true, true, true},
     Outcome::Written,
     0x067FFFFF,
     "",
     100,
     true,
     true},
    {"CXT hole alone counts as on",
     true,
     0,
     0,
     {0, 4092, true, true, true},
     Outcome::Written,
     0x00010000,
     "",
     0,
     true,
     true},
    {"CXT failed read writes nothing",
     true,
     0x00000001,
     0x0003FFFF,
     {64, 4092, true, true, true},
     Outcome::ReadFailed,
     0,
     "",
     0,
     true,
     true},
};

class WriteAllocation : public SimulatedCpu {};

} // namespace

TEST_F(WriteAllocation, SetterChangesOnlyItsFieldAndRefusesBadLimits) {
    for (const WACase& c : Cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Reset(c.cxt ? "k6-3" : "k6"));
        SimSetMsr(MsrWHCR, c.highBefore, c.lowBefore);
        if (c.outcome == Outcome::ReadFailed)
            Sim({"fail", "1"});

        const WATp before = c.input;
        (c.cxt ? SetWACXT : SetWAK6)(c.input);

        std::vector<std::string> expectedRequests;
        if (c.outcome != Outcome::Refused)
            expectedRequests.push_back("ReadMsr C0000082");
        if (c.outcome == Outcome::Written)
            expectedRequests.push_back("WriteMsr C0000082");
        EXPECT_EQ(SimRequests(), expectedRequests);
        EXPECT_EQ(RecordedErrors(), c.message.empty() ? std::vector<std::string>{}
                                                      : std::vector<std::string>{c.message});
        const uint32_t lowAfter = c.outcome == Outcome::Written ? c.lowAfter : c.lowBefore;
        EXPECT_EQ(SimGet("C0000082"), DWordToHex(c.highBefore) + DWordToHex(lowAfter));
        EXPECT_EQ(c.input, before);

        Sim({"fail"});
        WATp read{-7, -7, !c.hole, true, !c.enabled};
        (c.cxt ? GetWACXT : GetWAK6)(read);
        const WATp expected{c.limit, c.cxt ? 4092 : 508, c.hole, true, c.enabled};
        EXPECT_EQ(read, expected) << "WASupported belongs to identification, not the getter";
    }
}
