// Tests of the registry stand-in: the REGEDIT4 file it reads and writes, its key and value
// semantics, its typed errors and its refusal to touch a file it cannot parse.
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <pwd.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace {

std::string ConfigDir() {
    return TestDir() + "/config/quorix";
}

std::string RegFile() {
    return ConfigDir() + "/registry.reg";
}

void WriteRegFile(const std::string& text) {
    ASSERT_EQ(std::system(("mkdir -p '" + ConfigDir() + "'").c_str()), 0);
    WriteFile(RegFile(), text);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

RegistryValue DWordValue(uint32_t v) {
    return {RegistryValueType::DWord,
            std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                        static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)}};
}

RegistryValue Bytes(uint32_t type, std::initializer_list<int> bytes) {
    RegistryValue v{static_cast<RegistryValueType>(type), std::string()};
    for (int b : bytes)
        v.Data += static_cast<char>(b);
    return v;
}

// What a value of the open key holds, or a marker when it is absent.
RegistryValue ValueOf(Registry& reg, const std::string& name) {
    RegistryValue v{static_cast<RegistryValueType>(0xDEAD), "absent"};
    reg.GetValue(name, v);
    return v;
}

} // namespace

TEST(RegistryFile, ReadsWhatTheRegistryEditorExportsInEitherHexCaseAndWithCrlf) {
    const std::string text =
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "\r\n"
        "; exported by hand\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Fast]\r\n"
        "\"WAEnabled\"=dword:00000001\r\n"
        "\"WALimit\"=dword:0000003C\r\n"
        "\"Mask\"=DWORD:fFfF\r\n"
        "\"MTRR0Size\"=\"_4MB\"\r\n"
        "\"Quoted\"=\"a \\\"b\\\" c:\\\\dir\"\r\n"
        "@=\"default\"\r\n"
        "  \"Spaced\" = \"x\"   \r\n"
        "\"Path\"=hex(2):25,00\r\n"
        "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10,11,12,13,14,15,\\\r\n"
        "  16,17,18,19,1a,1B\r\n"
        "\"Multi\"=HEX(7):61,00,00,\r\n"
        "\"Nothing\"=hex:\r\n"
        "\r\n"
        "[hkey_current_user\\software\\TAMSVOLD\\qrx]\r\n"
        "\"Version\"=\"0.81\"\r\n";
    const std::string expected =
        "REGEDIT4\n"
        "\n"
        "[HKEY_CURRENT_USER\\SOFTWARE]\n"
        "\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold]\n"
        "\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n"
        "\"Version\"=\"0.81\"\n"
        "\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles]\n"
        "\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Fast]\n"
        "\"WAEnabled\"=dword:00000001\n"
        "\"WALimit\"=dword:0000003c\n"
        "\"Mask\"=dword:0000ffff\n"
        "\"MTRR0Size\"=\"_4MB\"\n"
        "\"Quoted\"=\"a \\\"b\\\" c:\\\\dir\"\n"
        "@=\"default\"\n"
        "\"Spaced\"=\"x\"\n"
        "\"Path\"=hex(2):25,00\n"
        "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
        "  16,17,18,19,1a,1b\n"
        "\"Multi\"=hex(7):61,00,00\n"
        "\"Nothing\"=hex:\n"
        "\n";
    EXPECT_EQ(CanonicalRegistryText(text, "in.reg"), expected);
    EXPECT_EQ(CanonicalRegistryText(expected, "in.reg"), expected);
}

TEST(RegistryFile, KeysAreMergedAndOrderedWithoutRegardToCaseAndValuesKeepTheirOrder) {
    const std::string text = "REGEDIT4\n"
                             "[HKEY_CURRENT_USER\\K\\b]\n"
                             "[HKEY_CURRENT_USER\\K\\A_B]\n"
                             "[HKEY_CURRENT_USER\\K\\Zeta]\n"
                             "[HKEY_CURRENT_USER\\K\\AB]\n"
                             "[HKEY_CURRENT_USER\\K\\_x]\n"
                             "[HKEY_CURRENT_USER\\K\\alpha]\n"
                             "\"z\"=dword:1\n"
                             "\"a\"=dword:2\n"
                             "\"Z\"=dword:3\n" // the same value: last one wins, first place kept
                             "[HKEY_CURRENT_USER\\K\\B]\n"
                             "\"in b\"=\"\"\n"
                             "[HKEY_CURRENT_USER\\K\\a]\n";
    const std::string expected = "REGEDIT4\n\n"
                                 "[HKEY_CURRENT_USER\\K]\n\n"
                                 "[HKEY_CURRENT_USER\\K\\a]\n\n"
                                 "[HKEY_CURRENT_USER\\K\\AB]\n\n"
                                 "[HKEY_CURRENT_USER\\K\\alpha]\n"
                                 "\"z\"=dword:00000003\n"
                                 "\"a\"=dword:00000002\n\n"
                                 "[HKEY_CURRENT_USER\\K\\A_B]\n\n"
                                 "[HKEY_CURRENT_USER\\K\\b]\n"
                                 "\"in b\"=\"\"\n\n"
                                 "[HKEY_CURRENT_USER\\K\\Zeta]\n\n"
                                 "[HKEY_CURRENT_USER\\K\\_x]\n\n";
    EXPECT_EQ(CanonicalRegistryText(text, "in.reg"), expected);
}

TEST(RegistryFile, ValuesTheQuotedFormCannotHoldAreWrittenAsHexAndReadBack) {
    WriteRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    const std::string twoLines = "line 1\r\nline 2";
    const std::string withNul("a\0b", 3);
    const std::string longText(40, 'x');
    reg.WriteString("Lines", twoLines);
    reg.WriteString("Nul", withNul);
    reg.WriteExpandString("Expand", "%HOME%");
    reg.WriteString("Long", longText);
    reg.WriteDWord("Max", 0xFFFFFFFFu);
    const std::string file = ReadFile(RegFile());
    EXPECT_EQ(file, "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n"
                    "\"Lines\"=hex(1):6c,69,6e,65,20,31,0d,0a,6c,69,6e,65,20,32,00\n"
                    "\"Nul\"=hex(1):61,00,62,00\n"
                    "\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"
                    "\"Long\"=\"" +
                        longText +
                        "\"\n"
                        "\"Max\"=dword:ffffffff\n\n");
    EXPECT_EQ(CanonicalRegistryText(file, "x"), file);
    EXPECT_EQ(reg.ReadString("Lines"), twoLines);
    EXPECT_EQ(reg.ReadString("Nul"), "a"); // a string ends at its first NUL
    EXPECT_EQ(reg.ReadString("Expand"), "%HOME%");
    EXPECT_EQ(reg.ReadDWord("Max"), 0xFFFFFFFFu);
}

TEST(RegistryFile, LongHexDataWrapsLikeTheRegistryEditorAndReadsBackWhole) {
    RegistryValue blob{RegistryValueType::Binary, std::string()};
    for (int i = 0; i < 60; ++i)
        blob.Data += static_cast<char>(i * 7);
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Blob\"=hex:";
    for (size_t i = 0; i < blob.Data.size(); ++i)
        text += (i ? "," : "") + std::string(1, "0123456789abcdef"[(blob.Data[i] >> 4) & 15]) +
                "0123456789abcdef"[blob.Data[i] & 15];
    text += "\n\n";
    const std::string canonical = CanonicalRegistryText(text, "x");
    size_t lines = 0, longest = 0, start = 0;
    for (size_t nl; (nl = canonical.find('\n', start)) != std::string::npos; start = nl + 1) {
        ++lines;
        longest = std::max(longest, nl - start);
    }
    EXPECT_LE(longest, 80u);
    EXPECT_EQ(lines, 7u); // header, blank, key, three blob lines, blank
    EXPECT_EQ(CanonicalRegistryText(canonical, "x"), canonical);
    WriteRegFile(canonical);
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_EQ(ValueOf(reg, "Blob"), blob);
}

TEST(RegistryFile, HexLinesBreakWhereTheRegistryEditorBreaksThem) {
    // A line ends once a byte and its comma bring it to 77 columns; the last byte never wraps.
    struct Case {
        const char* name; // "" is the default value
        uint32_t type;
        size_t bytes;
        std::vector<size_t> perLine; // bytes on each line of the value
    } cases[] = {
        {"A", 3, 50, {23, 25, 2}},  // "A"=hex: is 8 columns: 23 bytes reach 77
        {"AB", 3, 50, {23, 25, 2}}, // 9 columns: 23 bytes reach 78
        {"ABC", 3, 24, {23, 1}},    // 10 columns: 23 bytes reach 79
        {"ABC", 3, 23, {23}},       // ...but as the last byte the 23rd stays on the line
        {"ABCD", 3, 22, {22}},      // 11 columns: 22 bytes and no comma end at 76
        {"ABCD", 3, 23, {22, 1}},   // the 22nd byte's comma reaches 77
        {"", 3, 48, {24, 24}},      // @=hex: is 6 columns
        {"P", 2, 27, {22, 5}},      // "P"=hex(2): is 11 columns
        {"P", 3, 1, {1}},
        {"P", 3, 0, {0}},
        {"A", 3, 23 + 25, {23, 25}}, // the last full line carries no backslash
    };
    for (const Case& c : cases) {
        RegistryValue value{static_cast<RegistryValueType>(c.type), std::string()};
        for (size_t i = 0; i < c.bytes; ++i)
            value.Data += static_cast<char>(0xA0 + i % 16);
        std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n";
        text += (c.name[0] ? "\"" + std::string(c.name) + "\"=" : std::string("@=")) +
                (c.type == 3 ? std::string("hex:") : "hex(" + std::to_string(c.type) + "):");
        for (size_t i = 0; i < c.bytes; ++i)
            text += (i ? "," : "") + std::string("a") + "0123456789abcdef"[i % 16];
        text += "\n\n";
        const std::string canonical = CanonicalRegistryText(text, "x");
        std::vector<size_t> perLine;
        size_t start = canonical.find(']') + 2;
        for (size_t nl; (nl = canonical.find('\n', start)) != std::string::npos && nl > start;
             start = nl + 1) {
            const std::string line = canonical.substr(start, nl - start);
            EXPECT_LE(line.size(), 80u) << line;
            const size_t data = perLine.empty() ? line.find(':') + 1 : 2;
            perLine.push_back(line.size() > data ? (line.size() - data + 1) / 3 : 0);
            EXPECT_EQ(line.back() == '\\', canonical[nl + 1] == ' ') << line;
        }
        EXPECT_EQ(perLine, c.perLine) << c.name << " " << c.bytes;
        WriteRegFile(canonical);
        Registry reg;
        ASSERT_TRUE(reg.OpenKey("\\K", false));
        EXPECT_EQ(ValueOf(reg, c.name), value) << c.name << " " << c.bytes;
    }
}

// The text in UTF-16, as later registry editors export it.
std::string Utf16(const std::string& text, bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : text)
        out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

TEST(RegistryFile, AFileThatCannotBeParsedIsReportedWithItsNameAndLine) {
    const std::string versionFive = "Windows Registry Editor Version 5.00\r\n\r\n";
    struct Case {
        std::string text;
        int line;
        const char* cause;
    } cases[] = {
        {"[HKEY_CURRENT_USER\\A]\n", 1, "does not begin with the line REGEDIT4"},
        {versionFive, 1,
         "a \"Windows Registry Editor Version 5.00\" file, not REGEDIT4. The file is left "
         "unchanged; export it again as REGEDIT4"},
        {Utf16(versionFive, false, true), 1,
         "in UTF-16, as the registry editor writes \"Windows Registry Editor Version 5.00\" "
         "files, not REGEDIT4. The file is left unchanged; export it again as REGEDIT4 "
         "(\"Win9x/NT4 Registration Files\" in the registry editor), or convert it with iconv -f "
         "UTF-16 -t WINDOWS-1252 and change its first line to REGEDIT4."},
        {Utf16(versionFive, false, false), 1, "iconv -f UTF-16LE "},
        {Utf16("REGEDIT4\n", true, false), 1, "iconv -f UTF-16BE "},
        {Utf16("REGEDIT4\n", true, true), 1, "iconv -f UTF-16 "},
        {"REGEDIT4\n\n\"a\"=dword:1\n", 3, "before the first key"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", 2, "not under HKEY_CURRENT_USER"},
        {"REGEDIT4\n[-HKEY_CURRENT_USER\\A]\n", 2, "key deletion"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n", 2, "empty"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A\\]\n", 2, "empty"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A] x\n", 2, "must end with"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=-\n", 3, "value deletion"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"c:\\dir\"\n", 3, "backslash"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"open\n", 3, "no closing quote"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\" y\n", 3, "follows the closing quote"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\" dword:1\n", 3, "\"=\""},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:123456789\n", 3, "dword:"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:12g4\n", 3, "dword:"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:\n", 3, "dword:"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,123\n", 3, "\"123\""},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,,02\n", 3, "\"\""},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex(zz):01\n", 3, "hex(N)"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex(2)01\n", 3, "hex(N)"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,\\\n", 3, "past the end"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=str:x\n", 3, "none of"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,\\\n  02,\\\n  zz\n\"b\"=1\n", 3,
         "\"zz\""},
        {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\r\n\r\nnonsense\r\n", 5, "neither a key"},
    };
    for (const Case& c : cases) {
        try {
            CanonicalRegistryText(c.text, "/some/where/registry.reg");
            ADD_FAILURE() << "parsed: " << c.text;
        } catch (const RegistryError& e) {
            const std::string what = e.what();
            EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable);
            EXPECT_NE(what.find("/some/where/registry.reg"), std::string::npos) << what;
            EXPECT_NE(what.find("line " + std::to_string(c.line) + ":"), std::string::npos) << what;
            EXPECT_NE(what.find(c.cause), std::string::npos) << what;
        }
    }
}

TEST(RegistryFile, LivesInTheUsersConfigFolder) {
    struct Case {
        const char* xdg; // null: unset
        const char* home;
        const char* file;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/quorix/registry.reg"},
        {nullptr, "/home/u", "/home/u/.config/quorix/registry.reg"},
        {"", "/home/u", "/home/u/.config/quorix/registry.reg"},
        {"relative/cfg", "/home/u", "/home/u/.config/quorix/registry.reg"},
    };
    for (const Case& c : cases) {
        if (c.xdg)
            setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        setenv("HOME", c.home, 1);
        EXPECT_EQ(RegistryFilePath(), c.file) << (c.xdg ? c.xdg : "(unset)");
    }
    // A relative HOME is no home either: the password database names it.
    setenv("HOME", "relative/home", 1);
    EXPECT_EQ(RegistryFilePath(),
              std::string(getpwuid(getuid())->pw_dir) + "/.config/quorix/registry.reg");
}

TEST(Registry, NamesAreMatchedWithoutRegardToCaseAndKeepTheirFirstCase) {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vendor", true));
    EXPECT_EQ(reg.CurrentPath(), "\\Software\\Vendor");
    reg.WriteDWord("Count", 1);
    reg.WriteString("Other", "x");
    reg.WriteDWord("COUNT", 2);

    Registry other;
    ASSERT_TRUE(other.OpenKey("\\SOFTWARE\\vendor", false));
    EXPECT_EQ(other.CurrentPath(), "\\Software\\Vendor");
    EXPECT_TRUE(other.ValueExists("count"));
    EXPECT_EQ(other.ReadDWord("cOuNt"), 2u);
    std::vector<std::string> names;
    other.GetValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Count", "Other"}));
    ASSERT_TRUE(other.OpenKey("\\software", false));
    other.GetKeyNames(names);
    EXPECT_EQ(names, std::vector<std::string>{"Vendor"});
    EXPECT_TRUE(other.KeyExists("\\SOFTWARE\\VENDOR"));
}

TEST(Registry, SubkeysEnumerateInCaseInsensitiveAlphabeticalOrder) {
    Registry reg;
    for (const char* name : {"b", "A_B", "Zeta", "AB", "_x", "alpha", "a", "A", "C", "10", "9"})
        ASSERT_TRUE(reg.OpenKey(std::string("\\List\\") + name, true)) << name;
    ASSERT_TRUE(reg.OpenKey("\\List", false));
    std::vector<std::string> names;
    reg.GetKeyNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"10", "9", "a", "AB", "alpha", "A_B", "b", "C",
                                               "Zeta", "_x"}));
}

TEST(Registry, PathsAreAbsoluteWithALeadingBackslashAndOtherwiseFromTheOpenKey) {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("Top", true)); // no key open: from the root
    EXPECT_EQ(reg.CurrentPath(), "\\Top");
    ASSERT_TRUE(reg.OpenKey("Mid\\Low", true));
    EXPECT_EQ(reg.CurrentPath(), "\\Top\\Mid\\Low");
    EXPECT_TRUE(reg.KeyExists("\\Top\\Mid"));
    EXPECT_FALSE(reg.KeyExists("Mid")); // relative to \Top\Mid\Low
    EXPECT_TRUE(reg.KeyExists(""));     // the open key itself
    ASSERT_TRUE(reg.OpenKey("\\", false));
    EXPECT_EQ(reg.CurrentPath(), "\\");
    EXPECT_TRUE(reg.KeyExists("Top\\Mid\\Low"));

    // Not key paths: refused, the open key stays, nothing is created.
    const std::string before = ReadFile(RegFile());
    ASSERT_TRUE(reg.OpenKey("\\Top", false));
    for (const std::string& bad :
         {std::string("a\\\\b"), std::string("a\\"), std::string("\\\\"), std::string("x\ny"),
          std::string("x\ry"), std::string("n\0l", 3)}) {
        EXPECT_FALSE(reg.OpenKey(bad, true)) << bad;
        EXPECT_FALSE(reg.KeyExists(bad)) << bad;
        EXPECT_FALSE(reg.DeleteKey(bad)) << bad;
        EXPECT_EQ(reg.CurrentPath(), "\\Top");
    }
    EXPECT_FALSE(reg.OpenKey("\\Absent", false));
    EXPECT_EQ(reg.CurrentPath(), "\\Top");
    EXPECT_EQ(ReadFile(RegFile()), before);
}

TEST(Registry, TypedReadsCheckTypeAndSizeAndNameTheValue) {
    WriteRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n"
                 "\"Dword\"=dword:0000002a\n"
                 "\"Zero\"=dword:00000000\n"
                 "\"Text\"=\"1\"\n"
                 "\"Expand\"=hex(2):25,50,25,00\n"
                 "\"EmptyText\"=hex(1):\n"
                 "\"Short\"=hex(4):01,02\n"
                 "\"Long\"=hex(4):01,02,03,04,05,06,07,08\n"
                 "\"Binary\"=hex:01,00,00,00\n"
                 "\"FitsNot\"=\"abcd\"\n"
                 "\"LongBinary\"=hex:01,00,00,00,00\n"
                 "\"NoBytes\"=hex:\n"
                 "\"NoDword\"=hex(4):\n"
                 "@=dword:00000007\n");
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_EQ(reg.ReadDWord("Dword"), 42u);
    EXPECT_TRUE(reg.ReadBool("Dword")); // any non-zero is true
    EXPECT_FALSE(reg.ReadBool("Zero"));
    EXPECT_EQ(reg.ReadString("Text"), "1");
    EXPECT_EQ(reg.ReadString("Expand"), "%P%");
    EXPECT_EQ(reg.ReadString("EmptyText"), "");
    // No data is the empty text, whatever the type says.
    EXPECT_EQ(reg.ReadString("NoBytes"), "");
    EXPECT_EQ(reg.ReadString("NoDword"), "");
    EXPECT_EQ(reg.ReadDWord(""), 7u);

    struct Case {
        const char* name;
        std::function<void(Registry&)> read;
        RegistryErrorKind kind;
        const char* text;
    } cases[] = {
        {"Text", [](Registry& r) { r.ReadDWord("Text"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'Text'"},
        {"Text", [](Registry& r) { r.ReadBool("Text"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'Text'"},
        {"Binary", [](Registry& r) { r.ReadDWord("Binary"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'Binary'"},
        {"Dword", [](Registry& r) { r.ReadString("Dword"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'Dword'"},
        {"Binary", [](Registry& r) { r.ReadString("Binary"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'Binary'"},
        {"Absent", [](Registry& r) { r.ReadDWord("Absent"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'Absent'"},
        {"Absent", [](Registry& r) { r.ReadString("Absent"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'Absent'"},
        {"Short", [](Registry& r) { r.ReadDWord("Short"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'Short'"},
        {"Long", [](Registry& r) { r.ReadBool("Long"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'Long'"},
        // More than an integer's 4 bytes fails before the type is looked at.
        {"FitsNot", [](Registry& r) { r.ReadDWord("FitsNot"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'FitsNot'"},
        {"LongBinary", [](Registry& r) { r.ReadBool("LongBinary"); },
         RegistryErrorKind::GetDataFailed, "Failed to get data for 'LongBinary'"},
        {"NoBytes", [](Registry& r) { r.ReadDWord("NoBytes"); }, RegistryErrorKind::InvalidDataType,
         "Invalid data type for 'NoBytes'"},
        {"NoDword", [](Registry& r) { r.ReadDWord("NoDword"); }, RegistryErrorKind::GetDataFailed,
         "Failed to get data for 'NoDword'"},
    };
    for (const Case& c : cases) {
        try {
            c.read(reg);
            ADD_FAILURE() << c.text;
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.Kind(), c.kind) << c.text;
            EXPECT_EQ(std::string(e.what()), c.text);
            EXPECT_EQ(e.ValueName(), c.name);
        }
    }
}

TEST(Registry, WritesAreRefusedWithTheValueNameWhenTheyCannotBeStored) {
    Registry reg;
    auto expectRefused = [&](const std::function<void()>& write, const std::string& name) {
        try {
            write();
            ADD_FAILURE() << name;
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.Kind(), RegistryErrorKind::SetDataFailed);
            EXPECT_EQ(std::string(e.what()), "Failed to set data for '" + name + "'");
            EXPECT_EQ(e.ValueName(), name);
        }
    };
    // No key open.
    expectRefused([&] { reg.WriteDWord("Loose", 1); }, "Loose");
    EXPECT_FALSE(Exists(RegFile()));

    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteString("Kept", "old");
    const std::string before = ReadFile(RegFile());
    // A value name the file cannot hold.
    expectRefused([&] { reg.WriteString("two\nlines", "x"); }, "two\nlines");
    // The file cannot be written: the lock file's place is taken by a folder.
    ASSERT_EQ(unlink((RegFile() + ".lock").c_str()), 0);
    ASSERT_EQ(mkdir((RegFile() + ".lock").c_str(), 0700), 0);
    expectRefused([&] { reg.WriteString("Kept", "new"); }, "Kept");
    try {
        reg.WriteBool("Flag", true);
        ADD_FAILURE() << "written";
    } catch (const RegistryError& e) {
        EXPECT_NE(e.Cause().find(RegFile() + ".lock"), std::string::npos) << e.Cause();
    }
    EXPECT_FALSE(reg.DeleteValue("Kept"));
    EXPECT_FALSE(reg.DeleteKey("\\K"));
    EXPECT_THROW(reg.OpenKey("\\New", true), RegistryError);
    EXPECT_EQ(ReadFile(RegFile()), before);
    ASSERT_EQ(rmdir((RegFile() + ".lock").c_str()), 0);

    // The open key was deleted through another handle: writing does not bring it back.
    Registry other;
    ASSERT_TRUE(other.DeleteKey("\\K"));
    expectRefused([&] { reg.WriteDWord("After", 1); }, "After");
    EXPECT_FALSE(other.KeyExists("\\K"));
    EXPECT_FALSE(reg.ValueExists("Kept"));
}

TEST(Registry, ValuesOfEveryTypeSurviveOtherChangesUntouched) {
    const std::string original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n"
                                 "\"None\"=hex(0):\n"
                                 "\"Binary\"=hex:de,ad,be,ef\n"
                                 "\"Multi\"=hex(7):61,00,62,00,00\n"
                                 "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"
                                 "\"Odd\"=hex(7fffffff):ff\n"
                                 "\"DwordBE\"=hex(5):00,00,00,01\n"
                                 "\"Expand\"=hex(2):25,00\n\n";
    WriteRegFile(original);
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    reg.WriteDWord("New", 5);
    ASSERT_TRUE(reg.OpenKey("\\Other", true));
    reg.WriteString("x", "y");
    EXPECT_EQ(ReadFile(RegFile()), original.substr(0, original.size() - 1) +
                                       "\"New\"=dword:00000005\n\n"
                                       "[HKEY_CURRENT_USER\\Other]\n\"x\"=\"y\"\n\n");
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_EQ(ValueOf(reg, "Qword"), Bytes(0xb, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(ValueOf(reg, "Odd"), Bytes(0x7fffffff, {0xff}));
    EXPECT_EQ(ValueOf(reg, "None"), Bytes(0, {}));
    EXPECT_EQ(ValueOf(reg, "New"), DWordValue(5));
}

TEST(Registry, DeletingKeysAndValues) {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\P\\One\\Inner", true));
    reg.WriteDWord("v", 1);
    ASSERT_TRUE(reg.OpenKey("\\P\\Two", true));
    reg.WriteDWord("a", 1);
    reg.WriteDWord("b", 2);

    EXPECT_TRUE(reg.DeleteValue("A"));
    EXPECT_FALSE(reg.DeleteValue("a"));
    EXPECT_FALSE(reg.ValueExists("a"));
    EXPECT_TRUE(reg.ValueExists("b"));

    EXPECT_FALSE(reg.DeleteKey(""));   // never the open key by accident
    EXPECT_FALSE(reg.DeleteKey("\\")); // nor the root
    EXPECT_TRUE(reg.KeyExists("\\P\\Two"));
    EXPECT_TRUE(reg.DeleteKey("\\p\\one")); // with everything below it
    EXPECT_FALSE(reg.KeyExists("\\P\\One\\Inner"));
    EXPECT_FALSE(reg.DeleteKey("\\P\\One"));
    EXPECT_TRUE(reg.KeyExists("\\P\\Two"));
    EXPECT_EQ(ReadFile(RegFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\P]\n\n"
                                   "[HKEY_CURRENT_USER\\P\\Two]\n\"b\"=dword:00000002\n\n");
}

TEST(Registry, ReadingNeverCreatesTheFileOrAKey) {
    Registry reg;
    EXPECT_FALSE(reg.OpenKey("\\SOFTWARE\\Tamsvold\\QRX", false));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE"));
    EXPECT_FALSE(reg.ValueExists("Version"));
    std::vector<std::string> names{"stale"};
    reg.GetKeyNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(Exists(ConfigDir()));

    // An empty file holds nothing that could be lost: it reads as an empty registry.
    WriteRegFile("");
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE"));
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE", true));
    EXPECT_EQ(ReadFile(RegFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE]\n\n");
}

// What a damaged file's message quotes from it reaches a terminal as text.
TEST(Registry, AParseErrorShowsTheFilesControlCharactersAsText) {
    const struct {
        std::string line;
        const char* shown;
    } cases[] = {
        {"\"v\"=hex:1b,\x1b[2J", "value \"v\" holds \"\\x1B[2J\", which is not a byte in hex"},
        {"\"\x9b"
         "31m\"=dword:xyz",
         "value \"\\x9B31m\" needs 1 to 8 hex digits after dword:"},
    };
    for (const auto& c : cases) {
        WriteRegFile("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n" + c.line + "\n");
        try {
            Registry().OpenKey("\\K", false);
            ADD_FAILURE() << c.shown;
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find(c.shown), std::string::npos) << e.what();
        }
    }
}

TEST(Registry, AFileThatCannotBeParsedIsNeverTouchedAndEveryOperationSaysWhere) {
    const std::string damaged = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"Kept\"=dword:1\r\n"
                                "\"Bad\"=dword:xyz\r\n";
    WriteRegFile(damaged);
    struct Case {
        const char* what;
        std::function<void(Registry&)> op;
    } cases[] = {
        {"open", [](Registry& r) { r.OpenKey("\\A", false); }},
        {"create", [](Registry& r) { r.OpenKey("\\B", true); }},
        {"exists", [](Registry& r) { r.KeyExists("\\A"); }},
        {"delete key", [](Registry& r) { r.DeleteKey("\\A"); }},
    };
    for (const Case& c : cases) {
        Registry reg;
        try {
            c.op(reg);
            ADD_FAILURE() << c.what;
        } catch (const RegistryError& e) {
            const std::string what = e.what();
            EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable) << c.what;
            EXPECT_NE(what.find(RegFile()), std::string::npos) << what;
            EXPECT_NE(what.find("line 5:"), std::string::npos) << what;
        }
    }
    // A handle opened before the damage: its value operations fail the same way.
    WriteRegFile("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n");
    Registry open;
    ASSERT_TRUE(open.OpenKey("\\A", false));
    WriteRegFile(damaged);
    EXPECT_THROW(open.WriteDWord("Kept", 2), RegistryError);
    EXPECT_THROW(open.DeleteValue("Kept"), RegistryError);
    EXPECT_THROW(open.ReadDWord("Kept"), RegistryError);
    EXPECT_THROW(open.ValueExists("Kept"), RegistryError);
    std::vector<std::string> names;
    EXPECT_THROW(open.GetKeyNames(names), RegistryError);

    EXPECT_EQ(ReadFile(RegFile()), damaged);
    EXPECT_EQ(FilesIn(ConfigDir()), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST(Registry, ChangesReplaceTheFileWholeAndLeaveNoTemporaryFilesBehind) {
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteDWord("a", 1);
    EXPECT_EQ(FilesIn(ConfigDir()), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    struct stat st;
    ASSERT_EQ(stat(ConfigDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u); // a folder we create is the user's own
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    const ino_t before = st.st_ino;

    // A writer killed between writing its temporary file and renaming it left this behind; the
    // next writer, holding the lock, knows it is stale.
    WriteFile(RegFile() + ".tmp", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Half");
    ASSERT_EQ(chmod(RegFile().c_str(), 0644), 0);
    reg.WriteDWord("b", 2);
    EXPECT_EQ(FilesIn(ConfigDir()), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    EXPECT_NE(st.st_ino, before); // renamed over, not rewritten in place
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // Writing what is already there changes nothing on disk.
    reg.WriteDWord("b", 2);
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    const ino_t after = st.st_ino;
    EXPECT_TRUE(reg.OpenKey("\\K", true));
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, after);
}

namespace {
// A key line naming a key `depth` levels below the root, every level called name.
std::string NestedKeyLine(size_t depth, const std::string& name) {
    std::string line = "[HKEY_CURRENT_USER";
    for (size_t i = 0; i < depth; ++i)
        line += "\\" + name;
    return line + "]\n";
}
} // namespace

TEST(Registry, KeysNestAtMost512LevelsDeepInAtMostAHundredThousandKeys) {
    std::string manyKeys = "REGEDIT4\n";
    for (int i = 0; i <= 100000; ++i)
        manyKeys += "[HKEY_CURRENT_USER\\K" + std::to_string(i) + "]\n";
    struct Case {
        const char* what;
        std::string text;
        int line;
        const char* cause;
    } cases[] = {
        {"513 levels", "REGEDIT4\n" + NestedKeyLine(513, "k"), 2, "nested deeper than 512 levels"},
        {"a million levels", "REGEDIT4\n\n" + NestedKeyLine(1000000, "k"), 3,
         "nested deeper than 512 levels"},
        {"100,001 keys", manyKeys, 100002, "more than 100000 keys"},
    };
    for (const Case& c : cases) {
        WriteRegFile(c.text);
        try {
            Registry().OpenKey("\\New", true);
            ADD_FAILURE() << c.what;
        } catch (const RegistryError& e) {
            const std::string what = e.what();
            EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable) << c.what;
            EXPECT_NE(what.find(RegFile() + " cannot be read: line " + std::to_string(c.line) +
                                ": the " + (c.line == 100002 ? "file holds " : "key is ") +
                                c.cause),
                      std::string::npos)
                << what;
        }
        EXPECT_TRUE(ReadFile(RegFile()) == c.text) << c.what;
    }

    // 512 levels load and are written back; no key is created deeper.
    WriteRegFile("REGEDIT4\n" + NestedKeyLine(512, "k"));
    std::string deepest;
    for (int i = 0; i < 512; ++i)
        deepest += "\\k";
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(deepest, false));
    reg.WriteDWord("v", 1);
    EXPECT_EQ(reg.ReadDWord("v"), 1u);
    EXPECT_FALSE(reg.OpenKey("deeper", true));
    EXPECT_FALSE(reg.KeyExists(deepest + "\\deeper"));
}

// Looking each value up among all before it would take minutes here (the test's time limit).
TEST(Registry, AKeyWithTwoHundredThousandValuesIsReadInLinearTime) {
    std::string text = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n";
    for (int i = 0; i < 200000; ++i)
        text += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    WriteRegFile(text);
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_EQ(reg.ReadDWord("V7"), 7u);
    EXPECT_EQ(reg.ReadDWord("v199999"), 9u);
}

TEST(Registry, ATreeWhoseTextWouldOutgrowTheFileLimitIsNotWritten) {
    // Half a megabyte names a key 512 levels deep; written with every key's whole path it would
    // take 128 MB.
    const std::string name(1000, 'n');
    WriteRegFile("REGEDIT4\n" + NestedKeyLine(512, name));
    const std::string before = ReadFile(RegFile());
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\" + name, false));
    try {
        reg.WriteDWord("v", 1);
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'v'");
        EXPECT_NE(e.Cause().find(RegFile() + ": it would grow past 4 MiB"), std::string::npos)
            << e.Cause();
    }
    EXPECT_TRUE(ReadFile(RegFile()) == before);
}

TEST(Registry, WhatIsNoRegistryFileIsNamedAndLeftAloneWithoutWaiting) {
    struct Case {
        const char* what;
        std::function<void()> put;
        const char* cause;
    } cases[] = {
        {"a named pipe", [] { ASSERT_EQ(mkfifo(RegFile().c_str(), 0600), 0); },
         "it is a named pipe (FIFO), not a regular file. The file is left unchanged; move it away"},
        {"a folder", [] { ASSERT_EQ(mkdir(RegFile().c_str(), 0700), 0); },
         "it is a folder, not a regular file"},
        {"an endless device", [] { ASSERT_EQ(symlink("/dev/zero", RegFile().c_str()), 0); },
         "it is a character device, not a regular file"},
        {"a dangling link", [] { ASSERT_EQ(symlink("absent.reg", RegFile().c_str()), 0); },
         "it is a link to " /* the folder */},
        {"a file over the limit",
         [] { WriteRegFile("REGEDIT4\n;" + std::string(4 * 1024 * 1024, 'x') + "\n"); },
         "it holds more than 4 MiB, far more than a registry of profiles takes"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(
            std::system(("rm -rf '" + ConfigDir() + "' && mkdir -p '" + ConfigDir() + "'").c_str()),
            0);
        c.put();
        struct stat before;
        ASSERT_EQ(lstat(RegFile().c_str(), &before), 0);
        for (bool write : {false, true}) {
            try {
                Registry reg;
                write ? reg.OpenKey("\\New", true) : reg.KeyExists("\\New");
                ADD_FAILURE() << c.what;
            } catch (const RegistryError& e) {
                EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable);
                EXPECT_NE(std::string(e.what()).find("The registry file " + RegFile() +
                                                     " cannot be read: " + c.cause),
                          std::string::npos)
                    << e.what();
            }
        }
        struct stat after;
        ASSERT_EQ(lstat(RegFile().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
    }
}

TEST(Registry, ALinkedFileIsSavedAndLockedBesideItsTargetAndTheLinkStays) {
    const std::string dotfiles = TestDir() + "/dotfiles";
    ASSERT_EQ(std::system(("mkdir -p '" + dotfiles + "' '" + ConfigDir() + "'").c_str()), 0);
    WriteFile(dotfiles + "/registry.reg", "REGEDIT4\n");
    ASSERT_EQ(symlink("../../dotfiles/registry.reg", RegFile().c_str()), 0);
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteDWord("v", 1);
    EXPECT_EQ(ReadFile(dotfiles + "/registry.reg"),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=dword:00000001\n\n");
    struct stat st;
    ASSERT_EQ(lstat(RegFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(FilesIn(dotfiles), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_EQ(FilesIn(ConfigDir()), std::set<std::string>{"registry.reg"});
}

// A program stopped (or hung) while it holds the lock must not stop every other program too.
TEST(Registry, AWriterStoppedHoldingTheLockMakesOthersFailAfterTheWait) {
    WriteRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=dword:00000001\n");
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        Registry reg;
        reg.BeginUpdate();
        raise(SIGSTOP);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
    ASSERT_TRUE(WIFSTOPPED(status));

    const auto start = std::chrono::steady_clock::now();
    const std::string held = "The registry file " + RegFile() +
                             " is held by another program (its lock " + RegFile() +
                             ".lock stayed taken for 5 seconds); let that program finish, or end "
                             "it, and try again.";
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false)); // reading takes no lock
    try {
        reg.WriteDWord("v", 2);
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable);
        EXPECT_EQ(std::string(e.what()), held);
    }
    // An update still reads the file once, so a profile loads; its changes fail the same way.
    reg.BeginUpdate();
    EXPECT_EQ(reg.ReadDWord("v"), 1u);
    EXPECT_THROW(reg.WriteDWord("v", 3), RegistryError);
    reg.EndUpdate();
    // The program waited for that holder once, not once per write.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds{8});

    kill(holder, SIGKILL);
    waitpid(holder, &status, 0);
    reg.WriteDWord("v", 4);
    EXPECT_EQ(reg.ReadDWord("v"), 4u);
}

// Two programs saving through two links to one file share its lock: nothing fails, nothing is
// lost.
TEST(Registry, TwoWritersThroughTwoLinksLoseNothing) {
    const char* rounds = std::getenv("QRX_REGISTRY_WRITE_ROUNDS"); // scripts/link-write-race
    const int Rounds = rounds ? std::atoi(rounds) : 60;
    const std::string dotfiles = TestDir() + "/dotfiles", links[] = {RegFile(), TestDir() + "/b"};
    ASSERT_EQ(std::system(("mkdir -p '" + dotfiles + "' '" + ConfigDir() + "'").c_str()), 0);
    WriteFile(dotfiles + "/registry.reg", "REGEDIT4\n");
    std::vector<pid_t> writers;
    for (const std::string& link : links) {
        ASSERT_EQ(symlink((dotfiles + "/registry.reg").c_str(), link.c_str()), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failed = 0;
            Registry reg(link);
            for (int i = 0; i < Rounds; ++i) {
                try {
                    reg.OpenKey("\\K", true);
                    reg.WriteDWord(link.substr(link.size() - 1) + std::to_string(i), 1);
                } catch (const RegistryError& e) {
                    failed += std::fprintf(stderr, "%s\n", e.what()) > 0;
                }
            }
            _exit(failed ? 1 : 0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Registry reg(links[1]);
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    std::vector<std::string> names;
    reg.GetValueNames(names);
    EXPECT_EQ(names.size(), size_t(2 * Rounds));
}

namespace {
// Makes writes of regular files beyond `bytes` fail (EFBIG, our writers ignore SIGXFSZ) while it
// lives; root is not exempt.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_;
};
} // namespace

TEST(Registry, AWriteThatCannotBeCompletedKeepsTheOldFileWhole) {
    WriteRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Old\"=dword:00000001\n\n");
    const std::string before = ReadFile(RegFile());
    Registry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    {
        FileSizeLimit limit(before.size() + 20);
        try {
            reg.WriteString("Big", std::string(100, 'x'));
            ADD_FAILURE();
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), "Failed to set data for 'Big'");
            EXPECT_NE(e.Cause().find(RegFile()), std::string::npos) << e.Cause();
        }
        // In an update the failure shows at its end, naming the update's first value.
        reg.BeginUpdate();
        reg.WriteDWord("First", 1);
        reg.WriteString("Big", std::string(100, 'x'));
        try {
            reg.EndUpdate();
            ADD_FAILURE();
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), "Failed to set data for 'First'");
        }
    }
    EXPECT_EQ(ReadFile(RegFile()), before);
    EXPECT_EQ(FilesIn(ConfigDir()), (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    reg.WriteString("Big", "fits now");
    EXPECT_EQ(reg.ReadString("Big"), "fits now");
}

TEST(Registry, AnUpdateIsWrittenWholeAtItsEndOrNotAtAll) {
    Registry writer;
    writer.BeginUpdate();
    ASSERT_TRUE(writer.OpenKey("\\Group", true));
    writer.WriteDWord("a", 1);
    writer.WriteString("b", "two");
    EXPECT_TRUE(writer.DeleteValue("a"));
    writer.WriteDWord("a", 3);
    // The handle sees its own changes; nobody else sees any of them yet.
    EXPECT_EQ(writer.ReadDWord("a"), 3u);
    EXPECT_TRUE(writer.KeyExists("\\Group"));
    Registry reader;
    EXPECT_FALSE(reader.KeyExists("\\Group"));
    // Another handle of the same program must not write now: it would wait for the lock forever.
    EXPECT_THROW(reader.OpenKey("\\Other", true), std::logic_error);
    EXPECT_THROW(reader.BeginUpdate(), std::logic_error);
    writer.EndUpdate();
    EXPECT_EQ(ReadFile(RegFile()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Group]\n\"b\"=\"two\"\n\"a\"=dword:00000003\n\n");

    // An error passing through drops the update's changes and frees the lock.
    try {
        Registry cut;
        cut.BeginUpdate();
        ASSERT_TRUE(cut.OpenKey("\\Group", false));
        cut.WriteDWord("a", 4);
        cut.ReadDWord("b"); // a text: throws
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid data type for 'b'");
    }
    ASSERT_TRUE(reader.OpenKey("\\Group", false));
    EXPECT_EQ(reader.ReadDWord("a"), 3u);
    reader.WriteDWord("a", 5); // the lock is free again

    // An update that changes nothing writes nothing.
    struct stat st;
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    writer.BeginUpdate();
    ASSERT_TRUE(writer.OpenKey("\\Group", true));
    writer.WriteDWord("a", 5);
    writer.EndUpdate();
    ASSERT_EQ(stat(RegFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode);

    // A damaged file: the update does not even begin.
    WriteRegFile("REGEDIT4\n\"v\"=dword:1\n");
    try {
        writer.BeginUpdate();
        ADD_FAILURE();
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.Kind(), RegistryErrorKind::FileUnusable);
        EXPECT_NE(std::string(e.what()).find("line 2:"), std::string::npos) << e.what();
    }
}
