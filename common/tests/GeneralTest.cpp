// Tests of the General helpers: the conversions every register display and parameter uses.
#include "common/General.h"

#include <gtest/gtest.h>

#include <climits>

TEST(Hex, FixedWidthUpperCaseOutput) {
    struct Case {
        uint32_t value;
        const char* word;
        const char* dword;
    } cases[] = {
        {0, "0000", "00000000"},           {2560, "0A00", "00000A00"},
        {65535, "FFFF", "0000FFFF"},       {655360, "0000", "000A0000"},
        {0xFFFFFFFFu, "FFFF", "FFFFFFFF"}, {0xC0000082u, "0082", "C0000082"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WordToHex(static_cast<uint16_t>(c.value)), c.word) << c.value;
        EXPECT_EQ(DWordToHex(c.value), c.dword) << c.value;
    }
}

TEST(Hex, InputAcceptsEitherCaseAndReportsFirstBadPosition) {
    struct Case {
        const char* text;
        uint32_t result;
        int32_t error;
    } cases[] = {
        {"", 0, 0},
        {"a0000", 655360, 0},
        {"A0000", 655360, 0},
        {"ffffffff", 0xFFFFFFFFu, 0},
        {"123456789", 0x23456789u, 0}, // the leading digit is shifted out
        {"0x10", 2, 1},
        {" 1", 1, 1},
        {"12G4", 3, 1},
        {"-1", 1, 1},
        {"00000000", 0, 0},
    };
    for (const Case& c : cases) {
        int32_t error = -7;
        EXPECT_EQ(HexToInt(c.text, error), c.result) << '"' << c.text << '"';
        EXPECT_EQ(error, c.error) << '"' << c.text << '"';
    }
}

TEST(Text, UpperCasingTouchesOnlyAsciiLetters) {
    EXPECT_EQ(MakeUpper("/wa:on 15-16mb"), "/WA:ON 15-16MB");
    EXPECT_EQ(MakeUpper(std::string("\xe9z\xff", 3)), std::string("\xe9Z\xff", 3));
}

TEST(Text, VisibleTextShowsEveryControlCharacterAndKeepsAllElse) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"/WA 64 - B\xc3\xbcro \xe2\x82\xac", "/WA 64 - B\xc3\xbcro \xe2\x82\xac"}, // UTF-8 kept
        {"B\xfcro \x80", "B\xfcro \\x80"}, // a Windows-1252 letter kept, a raw C1 byte shown
        {std::string("\x1b[2J\x07\t\r\n\x7f\0", 10), "\\x1B[2J\\x07\\x09\\x0D\\x0A\\x7F\\x00"},
        {"\xc2\x9b"
         "1m \xc2\x85 \xc2\xa0",
         "\\x9B1m \\x85 \xc2\xa0"},        // C1 in UTF-8; NBSP kept
        {"\xe2\x82", "\xe2\\x82"},         // a cut character: its bytes one by one
        {"\xed\xa0\x80", "\xed\xa0\\x80"}, // a surrogate is no UTF-8
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VisibleText(c.text), c.shown) << c.text;
}

TEST(Text, StripLeadingZerosKeepsOneCharacter) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"0005", "5"},    {"0000", "0"}, {"00A0", "A0"},
                 {"A000", "A000"}, {"", ""},      {"0", "0"}};
    for (const Case& c : cases)
        EXPECT_EQ(StripLeadingZeros(c.in), c.out) << c.in;
}

TEST(Bits, ExtractBitsTakesEitherOrderAndWholeWord) {
    struct Case {
        uint32_t value;
        uint16_t a, b;
        uint32_t result;
    } cases[] = {
        {0x10, 4, 4, 1},          {0xEF, 4, 4, 0},          {0xABCD, 0, 3, 0xD},
        {0xFE, 1, 7, 0x7F},       {0xFE, 7, 1, 0x7F},       {0xDEADBEEF, 0, 31, 0xDEADBEEF},
        {0x80000000u, 31, 31, 1}, {0xC0000000u, 31, 30, 3}, {0x00FFF000, 12, 23, 0xFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractBits(c.value, c.a, c.b), c.result) << c.value << " " << c.a << " " << c.b;
}

TEST(Text, DecimalAndDigits) {
    EXPECT_EQ(IntToText(-1), "-1");
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToText(INT32_MAX), "2147483647");
    EXPECT_EQ(BoolToDigit(true), "1");
    EXPECT_EQ(BoolToDigit(false), "0");
}

TEST(Directory, KeepsTrailingSeparatorOrIsEmpty) {
    EXPECT_EQ(DirectoryOfPath("/opt/quorix/qrx"), "/opt/quorix/");
    EXPECT_EQ(DirectoryOfPath("/qrx"), "/");
    EXPECT_EQ(DirectoryOfPath("qrx"), "");
    EXPECT_EQ(DirectoryOfPath("/a dir/with blanks/qrx"), "/a dir/with blanks/");
}

TEST(Directory, ProgramDirectoryIsTheTestsOwnFolder) {
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
}
