// Round trip of profiles on every simulated processor: a record identified on the processor,
// edited and saved, then loaded into a freshly identified record, gives back every stored field.
#include "profiles/SaveLoad.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "driver/wintweak.h"
#include "testing/RecordedMessages.h"
#include "testing/TestSupport.h"

namespace {

std::vector<std::string> Presets() {
    const ProcessResult r = RunProgram("qrxsim", {"presets"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        if (words >> name)
            names.push_back(name);
    }
    return names;
}

// What a profile saved from `from` puts into `into` when loaded: the fields of the supported
// features, the details of a group only while the group is enabled; a stored value is given, so
// its feature is no longer unread.
void ApplyStoredFields(const SettingsTp& from, SettingsTp& into) {
    if (from.WA.WASupported) {
        into.WA.WAUnread = false;
        into.WA.WAEnabled = from.WA.WAEnabled;
        if (from.WA.WAEnabled) {
            into.WA.WALimit = from.WA.WALimit;
            into.WA.WA1516MB = from.WA.WA1516MB;
        }
    }
    if (from.WC.WCSupported) {
        for (auto [src, dst] : {std::pair{&from.WC.MTRR0, &into.WC.MTRR0},
                                std::pair{&from.WC.MTRR1, &into.WC.MTRR1}}) {
            dst->Enabled = src->Enabled;
            dst->Unread = false;
            if (src->Enabled)
                *dst = *src;
        }
    }
    if (from.L1Supported) {
        into.L1CacheEnabled = from.L1CacheEnabled;
        into.L1Unread = false;
    }
    if (from.L2Supported) {
        into.L2CacheEnabled = from.L2CacheEnabled;
        into.L2Unread = false;
    }
    if (from.DataPrefetchSupported) {
        into.DataPrefetchEnabled = from.DataPrefetchEnabled;
        into.DataPrefetchUnread = false;
    }
    if (from.WriteOrderingSupported) {
        into.WriteOrderingType = from.WriteOrderingType;
        into.WriteOrderingUnread = false;
    }
    if (from.CPU.MultiplierSupported) {
        into.CPU.Multiplier = from.CPU.Multiplier;
        into.CPU.MultiplierUnread = false;
    }
}

const std::pair<const char*, std::function<void(SettingsTp&)>> Edits[] = {
    {"everything on",
     [](SettingsTp& s) {
         s.WA.WAEnabled = true;
         s.WA.WALimit = 100;
         s.WA.WA1516MB = true;
         s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
         s.WC.MTRR1 = {true, 0x80000000u, 0x80000000u, SizeTp::_2GB, MemoryTypeTp::Uncached};
         s.L1CacheEnabled = false;
         s.L1Unread = false; // given, also where nothing read it
         s.L2CacheEnabled = !s.L2CacheEnabled;
         s.DataPrefetchEnabled = !s.DataPrefetchEnabled;
         s.WriteOrderingType = WriteOrderingTp::SEWBED;
         s.CPU.Multiplier = 6;
     }},
    {"everything off",
     [](SettingsTp& s) {
         s.WA.WAEnabled = false;
         s.WA.WALimit = 40; // not stored while disabled
         s.WC.MTRR0 = {false, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached};
         s.WC.MTRR1 = {true, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
         s.L1CacheEnabled = true;
         s.L1Unread = false;
         s.L2CacheEnabled = false;
         s.DataPrefetchEnabled = false;
         s.WriteOrderingType = WriteOrderingTp::GEWBED;
         s.CPU.Multiplier = 0;
     }},
};

} // namespace

TEST(ProfileRoundTrip, EveryStoredFieldComesBackOnEverySimulatedProcessor) {
    const std::vector<std::string> presets = Presets();
    ASSERT_GE(presets.size(), 12u);
    ASSERT_EQ(RunProgram("qrxsim", {"reset"}).exitStatus, 0);
    ASSERT_TRUE(LoadDriver()) << "the driver module qrxvxd.vxd did not load";
    for (const std::string& preset : presets) {
        ASSERT_EQ(RunProgram("qrxsim", {"reset", preset}).exitStatus, 0) << preset;
        for (const auto& [editName, edit] : Edits) {
            SCOPED_TRACE(preset + ", " + editName);
            ClearRecordedMessages();
            ASSERT_TRUE(DeleteProfile("RoundTrip"));
            SettingsTp edited;
            IdentifyCPU(edited);
            edit(edited);
            ASSERT_TRUE(SaveProfile("RoundTrip", edited));

            SettingsTp loaded;
            IdentifyCPU(loaded);
            SettingsTp expected = loaded;
            ApplyStoredFields(edited, expected);
            ASSERT_TRUE(LoadProfile("RoundTrip", loaded));
            EXPECT_EQ(loaded, expected);
            EXPECT_TRUE(RecordedMessages().empty());
        }
    }
    UnloadDriver();
}
