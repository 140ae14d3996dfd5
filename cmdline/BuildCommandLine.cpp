// BuildCommandLine: settings record to parameter text.
#include "cmdline/BuildCommandLine.h"

#include "common/General.h"

namespace {

// "N ", "U ", "W "; an unknown code gives no letter (and no blank), so the parser refuses the
// text instead of reading a wrong type.
std::string MemoryTypeValue(MemoryTypeTp type) {
    switch (type) {
    case MemoryTypeTp::NoEffect:
        return "N ";
    case MemoryTypeTp::Uncached:
        return "U ";
    case MemoryTypeTp::WriteCombined:
        return "W ";
    }
    return std::string();
}

// The digit after "/WO" counts the other way round from the mode: 0 is the strongest ordering.
std::string WriteOrderingDigit(WriteOrderingTp type) {
    switch (type) {
    case WriteOrderingTp::GEWBED:
        return "2";
    case WriteOrderingTp::SEWBED:
        return "1";
    case WriteOrderingTp::EWBEStrong:
        return "0";
    }
    return std::string();
}

std::string RangeGroup(const char* name, const MTRRTp& range) {
    return std::string(name) + " " + DWordToHex(range.Start) + " " +
           SizeToName(range.Size).substr(1) + " " + MemoryTypeValue(range.MemoryType);
}

} // namespace

std::string BuildCommandLine(const SettingsTp& settings) {
    std::string text;
    if (settings.WA.WASupported)
        text +=
            "/WA " + IntToText(settings.WA.WALimit) + " " + BoolToDigit(settings.WA.WA1516MB) + " ";
    if (settings.L1Supported)
        text += "/L1 " + BoolToDigit(settings.L1CacheEnabled) + " ";
    if (settings.L2Supported)
        text += "/L2 " + BoolToDigit(settings.L2CacheEnabled) + " ";
    if (settings.DataPrefetchSupported)
        text += "/DP " + BoolToDigit(settings.DataPrefetchEnabled) + " ";
    if (settings.WC.WCSupported)
        text += RangeGroup("/MTRR0", settings.WC.MTRR0) + RangeGroup("/MTRR1", settings.WC.MTRR1);
    if (settings.CPU.MultiplierSupported)
        text += "/M " + MultiplierToText(settings.CPU.Multiplier) + " ";
    if (settings.WriteOrderingSupported)
        text += "/WO " + WriteOrderingDigit(settings.WriteOrderingType);
    return text;
}
