// The start-up chain end to end: settings registered as the log-on entry, the machine "restarted"
// (reset), and the entry's command run as the desktop would run it, restore the settings.
#include <gtest/gtest.h>

#include "common/tests/support/TestSupport.h"
#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "profiles/SaveLoad.h"

namespace {

void Sim(const std::vector<std::string>& args) {
    const ProcessResult r = RunProgram("qrxsim", args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
}

TEST(LogonEntry, RunningTheRegisteredCommandAfterARestartRestoresTheSettings) {
    for (const char* preset : {"k6-3+", "k6-2-cxt", "k6"}) {
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
        EXPECT_EQ(after, expected);
    }
}

} // namespace
