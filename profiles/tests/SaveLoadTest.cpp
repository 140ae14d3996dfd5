// Tests of the profile store: what a save writes and under which conditions, loads that are all
// or nothing, the version marker, profile names, and the stored file byte for byte.
#include "profiles/SaveLoad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>

#include "platform/Registry.h"
#include "testing/RecordedMessages.h"
#include "testing/TestSupport.h"

namespace {

std::string ConfigDir() {
    return TestDir() + "/config/quorix";
}

std::string RegFile() {
    return ConfigDir() + "/registry.reg";
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

void WriteRegFile(const std::string& text) {
    ASSERT_EQ(std::system(("mkdir -p '" + ConfigDir() + "'").c_str()), 0);
    WriteFile(RegFile(), text);
}

// A registry file holding one profile with the given value lines.
void WriteProfileFile(const std::string& name, const std::string& values) {
    WriteRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\" + name +
                 "]\n" + values);
}

std::vector<std::string> ValueNames(const std::string& profile) {
    Registry reg;
    std::vector<std::string> names;
    if (reg.OpenKey(std::string(ProfilesKeyPath) + "\\" + profile, false))
        reg.GetValueNames(names);
    return names;
}

// A record of a processor with every feature, each field off its default.
SettingsTp EveryFeature() {
    SettingsTp s;
    s.WA.WASupported = true;
    s.WA.WAEnabled = true;
    s.WA.WALimit = 64;
    s.WA.WA1516MB = true;
    s.WC.WCSupported = true;
    s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    s.WC.MTRR1 = {true, 0x80000000u, 0x80000000u, SizeTp::_2GB, MemoryTypeTp::Uncached};
    s.L1Supported = true;
    s.L1CacheEnabled = false;
    s.L2Supported = true;
    s.L2CacheEnabled = true;
    s.WriteOrderingSupported = true;
    s.WriteOrderingType = WriteOrderingTp::SEWBED;
    s.DataPrefetchSupported = true;
    s.DataPrefetchEnabled = true;
    s.CPU.MultiplierKnown = s.CPU.MultiplierSupported = true;
    s.CPU.Multiplier = 7;
    return s;
}

// A record whose every stored field holds a value no profile in these tests stores, so a load
// that touches a field shows.
SettingsTp Sentinel() {
    SettingsTp s;
    s.WA = {-8, 4092, true, true, false};
    s.WC.MTRR0 = {false, 0x1234000, 0x4000000, SizeTp::_64MB, MemoryTypeTp::Uncached};
    s.WC.MTRR1 = {false, 0x5678000, 0x8000000, SizeTp::_128MB, MemoryTypeTp::WriteCombined};
    s.L1CacheEnabled = true;
    s.L2CacheEnabled = true;
    s.DataPrefetchEnabled = false;
    s.WriteOrderingType = WriteOrderingTp::GEWBED;
    s.CPU.Multiplier = 2;
    return s;
}

std::string Golden(const std::string& name) {
    return std::string(QRX_GOLDEN_DIR) + "/" + name;
}

class ProfileStore : public testing::Test {
protected:
    void SetUp() override { ClearRecordedMessages(); }
};

} // namespace

// A feature nobody read or gave is left out of a profile, as an unsupported one is; a load gives
// every feature the profile holds, so none of them is unread afterwards.
TEST_F(ProfileStore, UnreadFeaturesAreNotStoredAndLoadedOnesAreGiven) {
    SettingsTp unread = EveryFeature();
    unread.WA.WAUnread = unread.WC.MTRR1.Unread = unread.CPU.MultiplierUnread = true;
    unread.L1Unread = unread.L2Unread = unread.WriteOrderingUnread = true;
    unread.DataPrefetchUnread = true;
    ASSERT_TRUE(SaveProfile("Unread", unread));
    std::vector<std::string> names = ValueNames("Unread");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"MTRR0Enabled", "MTRR0MemoryType", "MTRR0Size",
                                               "MTRR0Start"}));
    ASSERT_TRUE(SaveProfile("Given", EveryFeature()));
    ASSERT_TRUE(LoadProfile("Given", unread));
    EXPECT_EQ(unread, EveryFeature());
}

TEST(Words, EveryCodeHasItsWordAndOnlyExactWordsConvertBack) {
    const std::pair<MemoryTypeTp, const char*> memoryTypes[] = {
        {MemoryTypeTp::NoEffect, "NoEffect"},
        {MemoryTypeTp::Uncached, "Uncached"},
        {MemoryTypeTp::WriteCombined, "WriteCombined"},
    };
    for (const auto& [code, word] : memoryTypes) {
        EXPECT_EQ(MemoryTypeToText(code), word);
        MemoryTypeTp back = static_cast<MemoryTypeTp>(9);
        EXPECT_TRUE(TextToMemoryType(word, back));
        EXPECT_EQ(back, code);
    }
    const std::pair<WriteOrderingTp, const char*> orderings[] = {
        {WriteOrderingTp::GEWBED, "GEWBED"},
        {WriteOrderingTp::SEWBED, "SEWBED"},
        {WriteOrderingTp::EWBEStrong, "EWBEStrong"},
    };
    for (const auto& [code, word] : orderings) {
        EXPECT_EQ(WriteOrderingToText(code), word);
        WriteOrderingTp back = static_cast<WriteOrderingTp>(9);
        EXPECT_TRUE(TextToWriteOrdering(word, back));
        EXPECT_EQ(back, code);
    }
    for (int code : {3, 255}) {
        EXPECT_EQ(MemoryTypeToText(static_cast<MemoryTypeTp>(code)), "unknown");
        EXPECT_EQ(WriteOrderingToText(static_cast<WriteOrderingTp>(code)), "unknown");
    }
    const char* multipliers[] = {"2.0", "3.0", "3.5", "4.0", "4.5", "5.0", "5.5", "6.0"};
    for (uint8_t i = 0; i < 8; ++i) {
        uint8_t index = 99;
        EXPECT_TRUE(TextToMultiplier(multipliers[i], index)) << multipliers[i];
        EXPECT_EQ(index, i);
    }

    // Not words: the output is left exactly as it was.
    for (const char* text : {"", "unknown", "noeffect", "NOEFFECT", "Uncached ", " Uncached", "1",
                             "gewbed", "EWBEstrong", "2.5", "2", "6.00", "5,5", "7.0"}) {
        MemoryTypeTp memoryType = static_cast<MemoryTypeTp>(9);
        WriteOrderingTp ordering = static_cast<WriteOrderingTp>(9);
        uint8_t index = 99;
        const bool isMemoryType = TextToMemoryType(text, memoryType);
        const bool isOrdering = TextToWriteOrdering(text, ordering);
        const bool isMultiplier = TextToMultiplier(text, index);
        EXPECT_FALSE(isMemoryType || isOrdering || isMultiplier) << '"' << text << '"';
        EXPECT_EQ(static_cast<int>(memoryType), 9);
        EXPECT_EQ(static_cast<int>(ordering), 9);
        EXPECT_EQ(index, 99);
    }
}

TEST_F(ProfileStore, SaveWritesTheSupportedValuesInTheirOrderAndOnlyUnderTheirConditions) {
    struct Case {
        const char* name;
        std::function<void(SettingsTp&)> setup;
        std::vector<std::string> values;
    } cases[] = {
        {"Nothing", [](SettingsTp& s) { s = SettingsTp(); }, {}},
        {"WAOff",
         [](SettingsTp& s) {
             s = SettingsTp();
             s.WA.WASupported = true;
         },
         {"WAEnabled"}},
        {"WAOn",
         [](SettingsTp& s) {
             s = SettingsTp();
             s.WA.WASupported = s.WA.WAEnabled = true;
         },
         {"WAEnabled", "WALimit", "WA1516MB"}},
        {"Range1Only",
         [](SettingsTp& s) {
             s.WC.MTRR0.Enabled = false;
             s.WA.WASupported = false;
             s.L1Supported = s.L2Supported = s.DataPrefetchSupported = false;
             s.WriteOrderingSupported = s.CPU.MultiplierSupported = false;
         },
         {"MTRR0Enabled", "MTRR1Enabled", "MTRR1Start", "MTRR1Size", "MTRR1MemoryType"}},
        {"L1Only",
         [](SettingsTp& s) {
             s = SettingsTp();
             s.L1Supported = true;
         },
         {"L1CacheEnabled"}},
        {"Everything",
         [](SettingsTp&) {},
         {"WAEnabled", "WALimit", "WA1516MB", "MTRR0Enabled", "MTRR0Start", "MTRR0Size",
          "MTRR0MemoryType", "MTRR1Enabled", "MTRR1Start", "MTRR1Size", "MTRR1MemoryType",
          "L1CacheEnabled", "L2CacheEnabled", "DataPrefetchEnabled", "WriteOrderingType",
          "Multiplier"}},
        {"NoWCButRangesEnabled",
         [](SettingsTp& s) { s.WC.WCSupported = false; },
         {"WAEnabled", "WALimit", "WA1516MB", "L1CacheEnabled", "L2CacheEnabled",
          "DataPrefetchEnabled", "WriteOrderingType", "Multiplier"}},
    };
    for (const Case& c : cases) {
        SettingsTp s = EveryFeature();
        c.setup(s);
        EXPECT_TRUE(SaveProfile(c.name, s)) << c.name;
        EXPECT_TRUE(ProfileExists(c.name)) << c.name;
        EXPECT_EQ(ValueNames(c.name), c.values) << c.name;
    }
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(ProfileStore, ValuesAreStoredWithTheirRegistryTypesAndWords) {
    SettingsTp s = EveryFeature();
    s.WA.WALimit = -4; // a 32-bit pattern, stored as it is
    ASSERT_TRUE(SaveProfile("Typed", s));
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(std::string(ProfilesKeyPath) + "\\Typed", false));
    RegistryValue v;
    ASSERT_TRUE(reg.GetValue("WAEnabled", v));
    EXPECT_EQ(v, (RegistryValue{RegistryValueType::DWord, std::string("\1\0\0\0", 4)}));
    ASSERT_TRUE(reg.GetValue("MTRR0Size", v));
    EXPECT_EQ(v, (RegistryValue{RegistryValueType::String, std::string("_128kB\0", 7)}));
    EXPECT_EQ(reg.ReadDWord("WALimit"), 0xFFFFFFFCu);
    EXPECT_EQ(reg.ReadDWord("MTRR1Start"), 0x80000000u);
    EXPECT_EQ(reg.ReadString("MTRR1Size"), "_2GB");
    EXPECT_EQ(reg.ReadString("MTRR0MemoryType"), "WriteCombined");
    EXPECT_EQ(reg.ReadString("MTRR1MemoryType"), "Uncached");
    EXPECT_EQ(reg.ReadDWord("L1CacheEnabled"), 0u);
    EXPECT_EQ(reg.ReadString("WriteOrderingType"), "SEWBED");
    EXPECT_EQ(reg.ReadString("Multiplier"), "6.0");

    // Codes outside their tables are written as "unknown", which no load accepts.
    s.WC.MTRR0.Size = static_cast<SizeTp>(16);
    s.WC.MTRR1.MemoryType = static_cast<MemoryTypeTp>(3);
    s.WriteOrderingType = static_cast<WriteOrderingTp>(7);
    s.CPU.Multiplier = 8;
    ASSERT_TRUE(SaveProfile("Typed", s));
    for (const char* name : {"MTRR0Size", "MTRR1MemoryType", "WriteOrderingType", "Multiplier"})
        EXPECT_EQ(reg.ReadString(name), "unknown") << name;
    SettingsTp loaded = Sentinel();
    EXPECT_FALSE(LoadProfile("Typed", loaded));
    EXPECT_EQ(loaded, Sentinel());
}

TEST_F(ProfileStore, LoadGivesBackEverythingSavedAndKeepsWhatAProfileDoesNotHold) {
    const SettingsTp saved = EveryFeature();
    ASSERT_TRUE(SaveProfile("All", saved));
    SettingsTp loaded = Sentinel();
    loaded.CPU.Name = "Something else";
    loaded.L2Supported = false; // values are read whatever the processor supports
    ASSERT_TRUE(LoadProfile("all", loaded));
    SettingsTp expected = saved;
    expected.CPU = Sentinel().CPU; // the processor description is not stored...
    expected.CPU.Name = "Something else";
    expected.CPU.Multiplier = saved.CPU.Multiplier; // ...but its multiplier is
    expected.WA.WASupported = Sentinel().WA.WASupported;
    expected.WA.WAMaxLimit = Sentinel().WA.WAMaxLimit;
    expected.WC.WCSupported = Sentinel().WC.WCSupported;
    expected.L1Supported = expected.L2Supported = expected.DataPrefetchSupported =
        expected.WriteOrderingSupported = false;
    EXPECT_EQ(loaded, expected);
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(ProfileStore, AbsentValuesLeaveTheirFieldsAndDisabledGroupsKeepTheirDetails) {
    struct Case {
        const char* values;
        std::function<void(SettingsTp&)> change; // what the load changes in Sentinel()
    } cases[] = {
        // A profile saved on a processor without write allocation has no "WAEnabled".
        {"\"L1CacheEnabled\"=dword:00000000\n", [](SettingsTp& s) { s.L1CacheEnabled = false; }},
        {"\"L2CacheEnabled\"=dword:00000000\n", [](SettingsTp& s) { s.L2CacheEnabled = false; }},
        {"", [](SettingsTp&) {}},
        // Disabled: the limit and the 15-16 MB flag stay, even when the key still holds them.
        {"\"WAEnabled\"=dword:0\n\"WALimit\"=dword:40\n\"WA1516MB\"=dword:0\n",
         [](SettingsTp& s) { s.WA.WAEnabled = false; }},
        {"\"WAEnabled\"=dword:2\n\"WALimit\"=dword:ffffffff\n\"WA1516MB\"=dword:0\n",
         [](SettingsTp& s) {
             s.WA.WAEnabled = true;
             s.WA.WALimit = -1;
             s.WA.WA1516MB = false;
         }},
        {"\"MTRR0Enabled\"=dword:0\n\"MTRR0Start\"=dword:0\n\"MTRR0Size\"=\"_1MB\"\n",
         [](SettingsTp& s) { s.WC.MTRR0.Enabled = false; }},
        {"\"MTRR1Enabled\"=dword:1\n\"MTRR1Start\"=dword:0\n\"MTRR1Size\"=\"_4GB\"\n"
         "\"MTRR1MemoryType\"=\"NoEffect\"\n",
         [](SettingsTp& s) {
             s.WC.MTRR1 = {true, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
         }},
        {"\"MTRR0Enabled\"=dword:1\n\"MTRR0Start\"=dword:fffe0000\n\"MTRR0Size\"=\"_128kB\"\n"
         "\"MTRR0MemoryType\"=hex(2):55,6e,63,61,63,68,65,64,00\n", // REG_EXPAND_SZ reads too
         [](SettingsTp& s) {
             s.WC.MTRR0 = {true, 0xFFFE0000u, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
         }},
        {"\"WriteOrderingType\"=\"EWBEStrong\"\n\"Multiplier\"=\"3.5\"\n",
         [](SettingsTp& s) {
             s.WriteOrderingType = WriteOrderingTp::EWBEStrong;
             s.CPU.Multiplier = 2;
         }},
        // Values nobody reads are ignored.
        {"\"Comment\"=\"hello\"\n\"WA1516MB\"=\"not read\"\n", [](SettingsTp&) {}},
    };
    for (const Case& c : cases) {
        WriteProfileFile("P", c.values);
        ClearRecordedMessages();
        SettingsTp loaded = Sentinel();
        SettingsTp expected = Sentinel();
        c.change(expected);
        EXPECT_TRUE(LoadProfile("P", loaded)) << c.values;
        EXPECT_EQ(loaded, expected) << c.values;
        EXPECT_TRUE(RecordedMessages().empty()) << c.values;
    }
}

TEST_F(ProfileStore, ALoadWithAMissingOrMalformedValueChangesNoFieldAtAll) {
    const char* const cases[] = {
        // Read before the failure, and still not applied.
        "\"WAEnabled\"=dword:1\n\"WALimit\"=dword:40\n\"WA1516MB\"=dword:1\n"
        "\"MTRR0Enabled\"=dword:1\n\"MTRR0Start\"=dword:a0000\n"
        "\"MTRR0MemoryType\"=\"Uncached\"\n\"L1CacheEnabled\"=dword:0\n",
        "\"WAEnabled\"=dword:1\n\"WA1516MB\"=dword:1\n",
        "\"WAEnabled\"=dword:1\n\"WALimit\"=dword:40\n",
        "\"MTRR1Enabled\"=dword:1\n\"MTRR1Size\"=\"_4MB\"\n\"MTRR1MemoryType\"=\"Uncached\"\n",
        "\"MTRR1Enabled\"=dword:1\n\"MTRR1Start\"=dword:0\n\"MTRR1Size\"=\"_4MB\"\n",
        "\"Multiplier\"=\"2.5\"\n",
        "\"Multiplier\"=\"unknown\"\n",
        "\"MTRR0Enabled\"=dword:1\n\"MTRR0Start\"=dword:0\n\"MTRR0Size\"=\"4MB\"\n"
        "\"MTRR0MemoryType\"=\"Uncached\"\n",
        "\"MTRR0Enabled\"=dword:1\n\"MTRR0Start\"=dword:0\n\"MTRR0Size\"=\"_4mb\"\n"
        "\"MTRR0MemoryType\"=\"Uncached\"\n",
        "\"MTRR1Enabled\"=dword:1\n\"MTRR1Start\"=dword:0\n\"MTRR1Size\"=\"_4MB\"\n"
        "\"MTRR1MemoryType\"=\"uncached\"\n",
        "\"MTRR1Enabled\"=dword:1\n\"MTRR1Start\"=dword:0\n\"MTRR1Size\"=\"unknown\"\n"
        "\"MTRR1MemoryType\"=\"Uncached\"\n",
        "\"WriteOrderingType\"=\"unknown\"\n\"L2CacheEnabled\"=dword:0\n",
        "\"WriteOrderingType\"=\"\"\n",
        "\"WriteOrderingType\"=hex(1):\n", // no data at all reads as the empty text
        "\"Multiplier\"=hex:\n",           // whatever its type
    };
    for (const char* values : cases) {
        WriteProfileFile("Bad", values);
        ClearRecordedMessages();
        SettingsTp loaded = Sentinel();
        EXPECT_FALSE(LoadProfile("Bad", loaded)) << values;
        EXPECT_EQ(loaded, Sentinel()) << values;
        EXPECT_TRUE(RecordedMessages().empty()) << values; // the caller adds its own message
    }
}

TEST_F(ProfileStore, AValueOfTheWrongTypeEndsTheLoadWithTheRegistryErrorAndChangesNothing) {
    struct Case {
        const char* values;
        const char* error;
    } cases[] = {
        {"\"WAEnabled\"=\"1\"\n", "Invalid data type for 'WAEnabled'"},
        {"\"WAEnabled\"=\"abc\"\n", "Invalid data type for 'WAEnabled'"}, // fits: 4 bytes
        {"\"WAEnabled\"=\"\"\n", "Invalid data type for 'WAEnabled'"},
        {"\"WAEnabled\"=\"a text that does not fit into four bytes\"\n",
         "Failed to get data for 'WAEnabled'"},
        {"\"L1CacheEnabled\"=dword:0\n\"WAEnabled\"=dword:1\n\"WALimit\"=\"64\"\n"
         "\"WA1516MB\"=dword:1\n",
         "Invalid data type for 'WALimit'"},
        {"\"MTRR0Enabled\"=dword:1\n\"MTRR0Start\"=dword:0\n\"MTRR0Size\"=dword:5\n",
         "Invalid data type for 'MTRR0Size'"},
        {"\"Multiplier\"=dword:5\n", "Invalid data type for 'Multiplier'"},
        {"\"L2CacheEnabled\"=hex:01,00,00,00\n", "Invalid data type for 'L2CacheEnabled'"},
        {"\"DataPrefetchEnabled\"=hex(4):01,00\n", "Failed to get data for 'DataPrefetchEnabled'"},
    };
    for (const auto& c : cases) {
        WriteProfileFile("Typed", c.values);
        SettingsTp loaded = Sentinel();
        try {
            LoadProfile("Typed", loaded);
            ADD_FAILURE() << c.values;
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        EXPECT_EQ(loaded, Sentinel()) << c.values;
    }
    // The load's registry handle was let go on the way out: the next operation is not blocked.
    EXPECT_TRUE(SaveProfile("Typed", EveryFeature()));
    // The same goes for the version marker.
    WriteRegFile("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n\"Version\"=dword:51\n");
    EXPECT_FALSE(StoredVersionMissing());
    try {
        ReadStoredVersion();
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid data type for 'Version'");
    }
}

TEST_F(ProfileStore, SavingOverAProfileKeepsTheValuesItDoesNotWrite) {
    SettingsTp s = EveryFeature();
    ASSERT_TRUE(SaveProfile("Fast", s));
    s.WA.WAEnabled = false;
    s.WA.WALimit = 8;
    s.WC.MTRR1.Enabled = false;
    s.WA.WASupported = true;
    s.L2Supported = false;
    s.L2CacheEnabled = false;
    ASSERT_TRUE(SaveProfile("FAST", s)); // the same key: names ignore case
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(std::string(ProfilesKeyPath) + "\\fast", false));
    EXPECT_EQ(reg.CurrentPath(), std::string(ProfilesKeyPath) + "\\Fast"); // first case kept
    EXPECT_EQ(reg.ReadDWord("WAEnabled"), 0u);
    EXPECT_EQ(reg.ReadDWord("WALimit"), 64u); // old, kept
    EXPECT_EQ(reg.ReadDWord("WA1516MB"), 1u); // old, kept
    EXPECT_EQ(reg.ReadDWord("MTRR1Enabled"), 0u);
    EXPECT_EQ(reg.ReadString("MTRR1Size"), "_2GB"); // old, kept
    EXPECT_EQ(reg.ReadDWord("L2CacheEnabled"), 1u); // not written this time

    // The load follows the governing values and does not apply the stale details.
    SettingsTp loaded = Sentinel();
    ASSERT_TRUE(LoadProfile("Fast", loaded));
    EXPECT_FALSE(loaded.WA.WAEnabled);
    EXPECT_EQ(loaded.WA.WALimit, Sentinel().WA.WALimit);
    EXPECT_FALSE(loaded.WC.MTRR1.Enabled);
    EXPECT_EQ(loaded.WC.MTRR1.Size, Sentinel().WC.MTRR1.Size);
    EXPECT_TRUE(loaded.L2CacheEnabled);

    std::vector<std::string> names;
    GetProfileNames(names);
    EXPECT_EQ(names, std::vector<std::string>{"Fast"});
}

TEST_F(ProfileStore, NamesAreCheckedBeforeAnythingIsTouched) {
    const SettingsTp s = EveryFeature();
    struct Case {
        std::string name;
        const char* message;
    } cases[] = {
        {"", "Empty profile name.(Load profile)"}, {"a\\b", "Invalid profile name."},
        {"\\", "Invalid profile name."},           {"\\Profiles", "Invalid profile name."},
        {"trailing\\", "Invalid profile name."},
    };
    for (const Case& c : cases) {
        ClearRecordedMessages();
        EXPECT_FALSE(SaveProfile(c.name, s)) << c.name;
        SettingsTp loaded = Sentinel();
        EXPECT_FALSE(LoadProfile(c.name, loaded)) << c.name;
        EXPECT_EQ(loaded, Sentinel());
        EXPECT_EQ(RecordedErrors(), (std::vector<std::string>{c.message, c.message})) << c.name;
        EXPECT_FALSE(Exists(RegFile())) << c.name; // not even the profiles key
    }
    // A name the file cannot hold as a key name is no profile name either.
    ClearRecordedMessages();
    EXPECT_FALSE(SaveProfile("two\nlines", s));
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Invalid profile name."});
    std::vector<std::string> names;
    GetProfileNames(names);
    EXPECT_TRUE(names.empty());
}

TEST_F(ProfileStore, NoMessageIsShownWhileTheRegistryIsHeld) {
    // A message box waits for the user; meanwhile other programs, and this one, must be free to
    // change the registry.
    ASSERT_TRUE(SaveProfile("Fast", EveryFeature()));
    std::vector<std::string> blocked;
    SetMessageObserver([&](const RecordedMessage& m) {
        try {
            Registry other;
            other.OpenKey("\\Probe", true);
            other.WriteString("Shown", m.text);
        } catch (const std::exception& e) {
            blocked.push_back(m.text + ": " + e.what());
        }
    });
    const std::function<void()> operations[] = {
        [] { SaveProfile("", EveryFeature()); },
        [] { SaveProfile("a\\b", EveryFeature()); },
        [] { SaveProfile("two\nlines", EveryFeature()); },
        [] {
            SettingsTp s = Sentinel();
            LoadProfile("Missing", s);
        },
        [] {
            SettingsTp s = Sentinel();
            LoadProfile("a\\b", s);
        },
        [] { DeleteProfile("a\\b"); },
    };
    for (const auto& operation : operations)
        operation();
    SetMessageObserver(nullptr);
    EXPECT_EQ(RecordedErrors().size(), std::size(operations));
    EXPECT_EQ(blocked, std::vector<std::string>{});
}

TEST_F(ProfileStore, ANestedNameNeitherLoadsNorDeletesNorExistsAndTheOuterKeyStays) {
    // A file written by an older program that stored "a\b" as a nested key.
    WriteRegFile("REGEDIT4\n\n"
                 "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\a]\n"
                 "\"L1CacheEnabled\"=dword:0\n\n"
                 "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\a\\b]\n"
                 "\"L2CacheEnabled\"=dword:0\n");
    const std::string before = ReadFile(RegFile());
    SettingsTp loaded = Sentinel();
    EXPECT_FALSE(LoadProfile("a\\b", loaded));
    EXPECT_EQ(loaded, Sentinel());
    EXPECT_FALSE(DeleteProfile("a\\b"));
    EXPECT_FALSE(ProfileExists("a\\b"));
    EXPECT_EQ(RecordedErrors(),
              (std::vector<std::string>{"Invalid profile name.", "Invalid profile name."}));
    EXPECT_EQ(ReadFile(RegFile()), before);

    // An empty name would address the profiles key itself: deleting it must not take every
    // profile with it.
    ClearRecordedMessages();
    EXPECT_FALSE(DeleteProfile(""));
    EXPECT_FALSE(ProfileExists(""));
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Invalid profile name."});
    EXPECT_EQ(ReadFile(RegFile()), before);
    EXPECT_TRUE(ProfileExists("a"));
}

TEST_F(ProfileStore, DeletingAndListing) {
    const SettingsTp s = EveryFeature();
    for (const char* name : {"Zulu", "alpha", "Startup_Settings", "Debug1", "debug0", "A_B", "AB"})
        ASSERT_TRUE(SaveProfile(name, s));
    std::vector<std::string> names{"stale entry"};
    GetProfileNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"AB", "alpha", "A_B", "debug0", "Debug1",
                                               "Startup_Settings", "Zulu"}));

    EXPECT_TRUE(DeleteProfile("DEBUG1"));
    EXPECT_FALSE(ProfileExists("Debug1"));
    EXPECT_TRUE(DeleteProfile("Debug1")); // already gone: true, and nothing is shown
    EXPECT_TRUE(DeleteProfile("Never saved"));
    EXPECT_TRUE(RecordedMessages().empty());
    GetProfileNames(names);
    EXPECT_EQ(names.size(), 6u);

    SettingsTp loaded = Sentinel();
    EXPECT_FALSE(LoadProfile("Debug1", loaded));
    EXPECT_FALSE(LoadProfile("Tab\there", loaded));
    EXPECT_EQ(RecordedErrors(), (std::vector<std::string>{"Key Debug1 does not exist.",
                                                          "Key Tab\\x09here does not exist."}));
    EXPECT_EQ(loaded, Sentinel());

    // A deletion the registry refuses is reported and the profile stays.
    ClearRecordedMessages();
    ASSERT_EQ(
        std::system(("rm -f '" + RegFile() + ".lock' && mkdir '" + RegFile() + ".lock'").c_str()),
        0);
    EXPECT_FALSE(DeleteProfile("Zulu"));
    EXPECT_EQ(RecordedErrors(), std::vector<std::string>{"Error deleting profile: Zulu"});
    EXPECT_TRUE(ProfileExists("Zulu"));
}

TEST_F(ProfileStore, ListingTestingAndDeletingCreateTheProfilesKeyButTheVersionCreatesNothing) {
    EXPECT_TRUE(StoredVersionMissing());
    EXPECT_EQ(ReadStoredVersion(), "");
    EXPECT_FALSE(Exists(RegFile()));

    const std::string profilesOnly = "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
                                     "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold]\n\n"
                                     "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n\n"
                                     "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles]\n\n";
    const std::function<void()> creators[] = {
        [] {
            std::vector<std::string> names;
            GetProfileNames(names);
        },
        [] { EXPECT_FALSE(ProfileExists("x")); },
        [] { EXPECT_TRUE(DeleteProfile("x")); },
    };
    for (const auto& create : creators) {
        std::remove(RegFile().c_str());
        create();
        EXPECT_EQ(ReadFile(RegFile()), profilesOnly);
    }
    // The program key now exists, still without a version.
    EXPECT_TRUE(StoredVersionMissing());
    EXPECT_EQ(ReadStoredVersion(), "");
    EXPECT_EQ(ReadFile(RegFile()), profilesOnly);

    WriteStoredVersion();
    EXPECT_FALSE(StoredVersionMissing());
    EXPECT_EQ(ReadStoredVersion(), "0.81");
    std::remove(RegFile().c_str());
    WriteStoredVersion(); // creates the program key
    EXPECT_EQ(ReadFile(RegFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
                                   "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold]\n\n"
                                   "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n"
                                   "\"Version\"=\"0.81\"\n\n");
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(ProfileStore, RegistryErrorsReachTheCallerAndADamagedFileStaysAsItIs) {
    ASSERT_TRUE(SaveProfile("Fast", EveryFeature()));
    // A write the registry refuses ends the save with the registry's error.
    ASSERT_EQ(
        std::system(("rm -f '" + RegFile() + ".lock' && mkdir '" + RegFile() + ".lock'").c_str()),
        0);
    const std::string before = ReadFile(RegFile());
    try {
        SaveProfile("Fast", EveryFeature());
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'WAEnabled'");
    }
    try {
        WriteStoredVersion();
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'Version'");
    }
    EXPECT_EQ(ReadFile(RegFile()), before);
    ASSERT_EQ(std::system(("rmdir '" + RegFile() + ".lock'").c_str()), 0);

    // A file that cannot be parsed: every operation says where, none writes.
    const std::string damaged = before + "[HKEY_CURRENT_USER\\X]\n\"v\"=dword:nothex\n";
    WriteFile(RegFile(), damaged);
    const std::function<void()> operations[] = {
        [] {
            SettingsTp s = Sentinel();
            LoadProfile("Fast", s);
        },
        [] { SaveProfile("New", EveryFeature()); },
        [] { DeleteProfile("Fast"); },
        [] { ProfileExists("Fast"); },
        [] {
            std::vector<std::string> names;
            GetProfileNames(names);
        },
        [] { ReadStoredVersion(); },
        [] { StoredVersionMissing(); },
        [] { WriteStoredVersion(); },
    };
    const std::string line =
        "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 2) + ":";
    for (const auto& operation : operations) {
        try {
            operation();
            ADD_FAILURE();
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable);
            EXPECT_NE(std::string(e.what()).find(RegFile()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(line), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(ReadFile(RegFile()), damaged);
}

TEST_F(ProfileStore, ASequenceOfSavesWritesTheReferenceFileByteForByte) {
    WriteStoredVersion();
    ASSERT_TRUE(SaveProfile("Fast", EveryFeature()));

    SettingsTp k6 = SettingsTp(); // an early K6: write allocation and L1 only
    k6.WA = {508, 508, false, true, true};
    k6.L1Supported = true;
    ASSERT_TRUE(SaveProfile("Startup_Settings", k6));

    SettingsTp unknown = SettingsTp(); // a processor that is not a K6: the L1 switch only
    unknown.L1Supported = true;
    unknown.L1CacheEnabled = false;
    ASSERT_TRUE(SaveProfile("Debug0", unknown));

    SettingsTp slower = EveryFeature();
    slower.WA.WAEnabled = false;
    slower.WC.MTRR0.Enabled = false;
    slower.WC.MTRR1 = {true, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
    slower.CPU.Multiplier = 0;
    slower.WriteOrderingType = WriteOrderingTp::GEWBED;
    ASSERT_TRUE(SaveProfile("fast", slower));

    ASSERT_TRUE(SaveProfile("Debug1", EveryFeature()));
    ASSERT_TRUE(DeleteProfile("DEBUG1"));
    ASSERT_TRUE(SaveProfile("with \"quotes\" & spaces", unknown));

    const std::string written = ReadFile(RegFile());
    if (std::getenv("QRX_UPDATE_GOLDEN"))
        WriteFile(Golden("profiles.reg"), written);
    EXPECT_EQ(written, ReadFile(Golden("profiles.reg")));
}

TEST_F(ProfileStore, AProfileExportedByTheWindowsRegistryEditorLoads) {
    const std::string exported = ReadFile(Golden("handwritten.reg"));
    ASSERT_NE(exported.find("\r\n"), std::string::npos) << "the reference file lost its CRLF";
    WriteRegFile(exported);
    EXPECT_EQ(ReadStoredVersion(), "0.81");
    EXPECT_TRUE(ProfileExists("FROMWINDOWS"));
    SettingsTp loaded = Sentinel();
    ASSERT_TRUE(LoadProfile("fromwindows", loaded));
    SettingsTp expected = Sentinel();
    expected.WA.WAEnabled = true;
    expected.WA.WALimit = 124;
    expected.WA.WA1516MB = false;
    expected.WC.MTRR0 = {true, 0xE0000000u, 0x800000, SizeTp::_8MB, MemoryTypeTp::WriteCombined};
    expected.WC.MTRR1.Enabled = false;
    expected.L1CacheEnabled = true;
    expected.L2CacheEnabled = false;
    expected.DataPrefetchEnabled = true;
    expected.WriteOrderingType = WriteOrderingTp::GEWBED;
    expected.CPU.Multiplier = 4;
    EXPECT_EQ(loaded, expected);
    EXPECT_TRUE(RecordedMessages().empty());
    // The file is only read: it keeps its CRLF until something is written.
    EXPECT_EQ(ReadFile(RegFile()), exported);
}

TEST_F(ProfileStore, ASaveThatCannotBeWrittenLeavesTheProfileAsItWas) {
    SettingsTp old = EveryFeature();
    old.WA.WAEnabled = false;
    ASSERT_TRUE(SaveProfile("Fast", old));
    const std::string before = ReadFile(RegFile());
    {
        // Writes of files beyond this size fail (root is not exempt).
        rlimit saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = before.size() + 40; // room for a value or two, not for all
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveProfile("Fast", EveryFeature());
            ADD_FAILURE();
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), "Failed to set data for 'WAEnabled'");
        }
        setrlimit(RLIMIT_FSIZE, &saved);
    }
    EXPECT_EQ(ReadFile(RegFile()), before);
    SettingsTp loaded = Sentinel();
    ASSERT_TRUE(LoadProfile("Fast", loaded));
    EXPECT_FALSE(loaded.WA.WAEnabled);
}
