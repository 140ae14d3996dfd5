// Memory-type ranges: the size vocabulary, the encoding of one range into its register half,
// and the two ranges of UWCCR on the simulated processor.
#include "engine/Tweak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "common/General.h"
#include "testing/RecordedMessages.h"

namespace {

struct SizeRow {
    const char* name;
    uint32_t bytes, mask;
};

// The vocabulary other units store in profiles and parse from the command line.
const SizeRow Sizes[SizeCount] = {
    {"_128kB", 0x20000, 0x7FFF},    {"_256kB", 0x40000, 0x7FFE},
    {"_512kB", 0x80000, 0x7FFC},    {"_1MB", 0x100000, 0x7FF8},
    {"_2MB", 0x200000, 0x7FF0},     {"_4MB", 0x400000, 0x7FE0},
    {"_8MB", 0x800000, 0x7FC0},     {"_16MB", 0x1000000, 0x7F80},
    {"_32MB", 0x2000000, 0x7F00},   {"_64MB", 0x4000000, 0x7E00},
    {"_128MB", 0x8000000, 0x7C00},  {"_256MB", 0x10000000, 0x7800},
    {"_512MB", 0x20000000, 0x7000}, {"_1GB", 0x40000000, 0x6000},
    {"_2GB", 0x80000000, 0x4000},   {"_4GB", 0, 0x0000},
};

MTRRTp Range(bool enabled, uint32_t start, SizeTp size, MemoryTypeTp type) {
    return {enabled, start, SizeToBytes(size), size, type};
}

class RangesOnProcessor : public SimulatedCpu {};

} // namespace

TEST(RangeSizes, NamesBytesAndMasksAgreeBothWays) {
    for (int i = 0; i < SizeCount; ++i) {
        SCOPED_TRACE(Sizes[i].name);
        const SizeTp size = static_cast<SizeTp>(i);
        EXPECT_EQ(SizeToName(size), Sizes[i].name);
        EXPECT_EQ(SizeToBytes(size), Sizes[i].bytes);
        EXPECT_EQ(SizeToMask(size), Sizes[i].mask);
        SizeTp parsed = SizeTp::_2MB;
        EXPECT_TRUE(SizeFromName(Sizes[i].name, parsed));
        EXPECT_EQ(parsed, size);
        SizeTp fromMask = SizeTp::_2MB;
        uint32_t bytes = 12345;
        EXPECT_TRUE(MaskToSize(Sizes[i].mask, fromMask, bytes));
        EXPECT_EQ(fromMask, size);
        EXPECT_EQ(bytes, Sizes[i].bytes);
    }
}

TEST(RangeSizes, OutsideTheTableGivesNothingAndChangesNothing) {
    EXPECT_EQ(SizeToBytes(static_cast<SizeTp>(16)), 0u);
    EXPECT_EQ(SizeToBytes(static_cast<SizeTp>(255)), 0u);
    EXPECT_EQ(SizeToName(static_cast<SizeTp>(16)), "unknown");
    for (const char* text : {"_1mb", "1MB", "_1MB ", "", "_3MB", "_128KB"}) {
        SizeTp size = SizeTp::_8MB;
        EXPECT_FALSE(SizeFromName(text, size)) << text;
        EXPECT_EQ(size, SizeTp::_8MB) << text;
    }
    for (uint32_t mask : {0x7FFDu, 0x0001u, 0x7FF7u, 0x8000u, 0xFFFFu}) {
        SizeTp size = SizeTp::_8MB;
        uint32_t bytes = 12345;
        EXPECT_FALSE(MaskToSize(mask, size, bytes)) << mask;
        EXPECT_EQ(size, SizeTp::_8MB);
        EXPECT_EQ(bytes, 12345u);
    }
}

TEST(RangeEncoding, AlignedRangesEncodeBitForBitMisalignedOnesAreRefused) {
    struct Case {
        const char* what;
        MTRRTp range;
        bool ok;
        uint32_t half;
    } cases[] = {
        {"write-combined 128 kB at A0000h",
         Range(true, 0xA0000, SizeTp::_128kB, MemoryTypeTp::WriteCombined), true, 0x000BFFFE},
        {"uncached 1 MB at 1 MB", Range(true, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached), true,
         0x0011FFE1},
        {"2 MB at 1 MB is misaligned", Range(true, 0x100000, SizeTp::_2MB, MemoryTypeTp::Uncached),
         false, 0},
        {"4 GB at 0", Range(true, 0, SizeTp::_4GB, MemoryTypeTp::WriteCombined), true, 0x2},
        {"4 GB anywhere else", Range(true, 0x20000, SizeTp::_4GB, MemoryTypeTp::Uncached), false,
         0},
        {"4 GB at 0 without effect is all zero",
         Range(true, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect), true, 0},
        {"start bits below 128 kB", Range(true, 0x400010, SizeTp::_4MB, MemoryTypeTp::Uncached),
         false, 0},
        {"2 GB at 2 GB", Range(false, 0x80000000, SizeTp::_2GB, MemoryTypeTp::NoEffect), true,
         0x80010000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t half = 0xDEADBEEF;
        EXPECT_EQ(EncodeRange(c.range, half), c.ok);
        EXPECT_EQ(half, c.ok ? c.half : 0xDEADBEEF);
    }
}

TEST(RangeEncoding, HalvesDecodeIntoRangesAndBadMasksAreReported) {
    struct Case {
        uint32_t half;
        MTRRTp expected; // decoded from a range that held _16MB before
        const char* message;
    } cases[] = {
        {0x00000000, {false, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect}, nullptr},
        {0x000BFFFE,
         {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined},
         nullptr},
        {0x0011FFE3, {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached}, nullptr},
        {0xE001C000,
         {true, 0xE0000000, 0x20000000, SizeTp::_512MB, MemoryTypeTp::NoEffect},
         nullptr},
        {0x0041FFF6,
         {true, 0, 0, SizeTp::_16MB, MemoryTypeTp::NoEffect},
         "Invalid size mask in MTRR: 0041FFF6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DWordToHex(c.half));
        ClearRecordedMessages();
        MTRRTp range{false, 0x12340000, 0x1000000, SizeTp::_16MB, MemoryTypeTp::Uncached};
        DecodeRange(c.half, range);
        EXPECT_EQ(range, c.expected);
        EXPECT_EQ(RecordedErrors(),
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
}

TEST_F(RangesOnProcessor, SetterWritesBothRangesWholeWithoutReading) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3"));
    SimSetMsr(MsrUWCCR, 0xFFFFFFFF, 0xFFFFFFFF);
    WCTp wc;
    wc.WCSupported = true;
    wc.MTRR0 = Range(true, 0xA0000, SizeTp::_128kB, MemoryTypeTp::WriteCombined);
    wc.MTRR1 = Range(true, 0x400000, SizeTp::_4MB, MemoryTypeTp::Uncached);
    const WCTp given = wc;
    SetWC(wc);
    EXPECT_EQ(SimLog(), std::vector<std::string>{"WriteMsr C0000085 0041FF81 000BFFFE"});
    EXPECT_EQ(wc, given);

    WCTp read;
    GetWC(read);
    EXPECT_EQ(read.MTRR0, given.MTRR0);
    EXPECT_EQ(read.MTRR1, given.MTRR1);
    EXPECT_FALSE(read.WCSupported) << "WCSupported belongs to identification";
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(RangesOnProcessor, UnusedRangesAreWrittenAsZeroAndReadBackAsUnused) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3+"));
    SimSetMsr(MsrUWCCR, 0x0041FF81, 0x000BFFFE);
    WCTp wc;
    wc.MTRR0 = Range(false, 0x123456, SizeTp::_2MB, MemoryTypeTp::Uncached); // misaligned, unused
    wc.MTRR1 = Range(false, 0x400000, SizeTp::_4MB, MemoryTypeTp::WriteCombined);
    SetWC(wc);
    EXPECT_EQ(SimGet("C0000085"), "0000000000000000");

    WCTp read;
    read.MTRR0 = Range(true, 0xA0000, SizeTp::_128kB, MemoryTypeTp::WriteCombined);
    read.MTRR1 = read.MTRR0;
    GetWC(read);
    const MTRRTp unused{false, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
    EXPECT_EQ(read.MTRR0, unused);
    EXPECT_EQ(read.MTRR1, unused);
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(RangesOnProcessor, AnyMisalignedRangeLeavesTheRegisterUntouched) {
    const MTRRTp good = Range(true, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached);
    const MTRRTp bad = Range(true, 0x100000, SizeTp::_2MB, MemoryTypeTp::WriteCombined);
    const std::string msg0 = "The base address of MTRR0 must be range-size aligned.";
    const std::string msg1 = "The base address of MTRR1 must be range-size aligned.";
    struct Case {
        MTRRTp r0, r1;
        std::vector<std::string> messages;
    } cases[] = {
        {bad, bad, {msg0, msg1}},
        {bad, good, {msg0}},
        {good, bad, {msg1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.messages.size() == 2 ? "both" : c.messages[0]);
        ASSERT_NO_FATAL_FAILURE(Reset("k6-2-cxt"));
        SimSetMsr(MsrUWCCR, 0x0041FF81, 0x000BFFFE);
        WCTp wc;
        wc.WCSupported = true;
        wc.MTRR0 = c.r0;
        wc.MTRR1 = c.r1;
        SetWC(wc);
        EXPECT_EQ(RecordedErrors(), c.messages);
        EXPECT_TRUE(SimLog().empty());
        EXPECT_EQ(SimGet("C0000085"), "0041FF81000BFFFE");
    }
}

TEST_F(RangesOnProcessor, GetterReportsBadMasksHighHalfFirst) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3"));
    SimSetMsr(MsrUWCCR, 0x0041FFF6, 0x000A0007);
    WCTp wc;
    GetWC(wc);
    EXPECT_EQ(RecordedErrors(), (std::vector<std::string>{"Invalid size mask in MTRR: 0041FFF6",
                                                          "Invalid size mask in MTRR: 000A0007"}));
    const MTRRTp zeroed{true, 0, 0, SizeTp::_128kB, MemoryTypeTp::NoEffect};
    EXPECT_EQ(wc.MTRR0, zeroed);
    EXPECT_EQ(wc.MTRR1, zeroed);
}

TEST_F(RangesOnProcessor, FailedReadDecodesAsTwoUnusedRanges) {
    ASSERT_NO_FATAL_FAILURE(Reset("k6-3"));
    SimSetMsr(MsrUWCCR, 0x0041FF81, 0x000BFFFE);
    Sim({"fail", "1"});
    WCTp wc;
    wc.MTRR0 = Range(true, 0xA0000, SizeTp::_128kB, MemoryTypeTp::WriteCombined);
    GetWC(wc);
    const MTRRTp unused{false, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
    EXPECT_EQ(wc.MTRR0, unused);
    EXPECT_EQ(wc.MTRR1, unused);
    EXPECT_TRUE(RecordedMessages().empty());
}
