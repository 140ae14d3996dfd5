// The start-up chain end to end: settings registered as the log-on entry, the machine "restarted"
// (reset), and the entry's command run as the desktop would run it, restore the settings.
#include <gtest/gtest.h>

#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "profiles/SaveLoad.h"
#include "testing/TestSupport.h"

namespace {

void Sim(const std::vector<std::string>& args) {
    const ProcessResult r = RunProgram("qrxsim", args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
}

std::string Get(const std::string& reg) {
    const ProcessResult r = RunProgram("qrxsim", {"get", reg});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

TEST(LogonEntry, RunningTheRegisteredCommandAfterARestartRestoresTheSettings) {
    // Every simulated processor, so each combination of supported features makes the trip.
    for (const char* preset : {"k6", "k6-7", "k6-2", "k6-2-cxt", "k6-3", "k6-3+", "k6-2+", "k6-d9",
                               "amd-5-10", "athlon", "intel", "amd-leaf0"}) {
        SCOPED_TRACE(preset);
        Sim({"reset", preset});
        ASSERT_TRUE(LoadDriver());
        SettingsTp wanted;
        IdentifyCPU(wanted);
        wanted.WA.WAEnabled = true;
        wanted.WA.WALimit = 128;
        wanted.WA.WA1516MB = true;
        wanted.WC.MTRR0 = {true, 0xE0000000, SizeToBytes(SizeTp::_4MB), SizeTp::_4MB,
                           MemoryTypeTp::WriteCombined};
        wanted.CPU.Multiplier = 7;
        wanted.L1CacheEnabled = false;
        wanted.L1Unread = false; // given, also where identification read nothing
        wanted.L2CacheEnabled = false;
        wanted.WriteOrderingType = WriteOrderingTp::GEWBED;
        wanted.DataPrefetchEnabled = false;
        SetAutoApply(true, wanted);
        ASSERT_TRUE(UnloadDriver());

        Sim({"reset", preset});
        LogonCommand command;
        ASSERT_TRUE(ReadLogonStart("Quorix", command));
        const ProcessResult run = RunProgram(command.program, command.arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.out;
        EXPECT_EQ(run.out.find("Error"), std::string::npos) << run.out;

        ASSERT_TRUE(LoadDriver());
        SettingsTp after;
        IdentifyCPU(after);
        ASSERT_TRUE(UnloadDriver());
        // What the processor holds is what was registered, for every feature it supports.
        SettingsTp expected = wanted;
        if (!wanted.WA.WASupported)
            expected.WA = after.WA;
        if (!wanted.WC.WCSupported)
            expected.WC = after.WC;
        if (!wanted.CPU.MultiplierSupported)
            expected.CPU.Multiplier = after.CPU.Multiplier;
        if (!wanted.L2Supported)
            expected.L2CacheEnabled = after.L2CacheEnabled;
        if (!wanted.WriteOrderingSupported)
            expected.WriteOrderingType = after.WriteOrderingType;
        if (!wanted.DataPrefetchSupported)
            expected.DataPrefetchEnabled = after.DataPrefetchEnabled;
        // An AMD processor whose highest standard leaf is 0 is identified without reading
        // anything back, so its L1 switch is checked in the register itself, as on every other.
        expected.L1CacheEnabled = after.L1CacheEnabled;
        expected.L1Unread = after.L1Unread;
        EXPECT_EQ(after, expected) << testing::PrintToString(command);
        EXPECT_EQ(Get("CR0"), "C005003B") << "L1 cache off (bit 30 set)";
    }
}

} // namespace
