// The check before writing, on a machine whose facts the test gives: a range is refused only
// where it changes, one someone else holds is named, and write combining over memory is not
// allowed. The cases are in data/held-ranges.txt.
#include <fstream>
#include <sstream>

#include "engine/Tweak.h"
#include "testing/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(MachineCheck, RangesAreRefusedWhereTheyChangeAndWhereTheDriverHoldsThem) {
    std::ifstream table(QRX_HELD_RANGES_TABLE);
    ASSERT_TRUE(table) << QRX_HELD_RANGES_TABLE;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        SCOPED_TRACE(line);
        std::istringstream in(line);
        std::string now, start, size, type, arrow;
        MachineTp machine;
        machine.RamTopMB = 64;
        in >> machine.Flags >> now >> start;
        SettingsTp settings;
        settings.WC.WCSupported = true;
        MTRRTp& range = settings.WC.MTRR0;
        range.Enabled = start != "off";
        if (range.Enabled) {
            in >> size >> type;
            range.Start = static_cast<uint32_t>(std::stoul(start, nullptr, 16));
            ASSERT_TRUE(SizeFromName(size, range.Size));
            range.SizeBytes = SizeToBytes(range.Size);
            range.MemoryType = type == "W" ? MemoryTypeTp::WriteCombined : MemoryTypeTp::Uncached;
        }
        in >> arrow >> std::ws;
        std::string expected;
        std::getline(in, expected);
        const uint64_t uwccr = std::stoull(now, nullptr, 16);
        // Range 1 stays as the register holds it.
        DecodeRange(static_cast<uint32_t>(uwccr >> 32), settings.WC.MTRR1);
        const std::vector<std::string> problems = RefusedSettings(settings, machine, uwccr);
        EXPECT_EQ(problems, expected.empty() ? std::vector<std::string>{}
                                             : std::vector<std::string>{expected});
    }
}

} // namespace
