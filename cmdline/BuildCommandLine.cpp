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

// A feature whose state nobody read or gave has no group: the text, applied at every log-on,
// would otherwise write what a failed read left.
std::string BuildCommandLine(const SettingsTp& settings) {
    const SettingsTp& s = settings;
    std::string text;
    if (s.WA.WASupported && !s.WA.WAUnread)
        text += "/WA " + IntToText(s.WA.WALimit) + " " + BoolToDigit(s.WA.WA1516MB) + " ";
    if (s.L1Supported && !s.L1Unread)
        text += "/L1 " + BoolToDigit(s.L1CacheEnabled) + " ";
    if (s.L2Supported && !s.L2Unread)
        text += "/L2 " + BoolToDigit(s.L2CacheEnabled) + " ";
    if (s.DataPrefetchSupported && !s.DataPrefetchUnread)
        text += "/DP " + BoolToDigit(s.DataPrefetchEnabled) + " ";
    if (s.WC.WCSupported && !s.WC.MTRR0.Unread)
        text += RangeGroup("/MTRR0", s.WC.MTRR0);
    if (s.WC.WCSupported && !s.WC.MTRR1.Unread)
        text += RangeGroup("/MTRR1", s.WC.MTRR1);
    if (s.CPU.MultiplierSupported && !s.CPU.MultiplierUnread)
        text += "/M " + MultiplierToText(s.CPU.Multiplier) + " ";
    if (s.WriteOrderingSupported && !s.WriteOrderingUnread)
        text += "/WO " + WriteOrderingDigit(s.WriteOrderingType);
    return text;
}

std::string BuildSuggestedParameters(const SettingsTp& settings, const SuggestionTp& suggestion) {
    std::string text;
    if (suggestion.WA)
        text +=
            "/WA " + IntToText(settings.WA.WALimit) + " " + BoolToDigit(settings.WA.WA1516MB) + " ";
    if (suggestion.Range0)
        text += RangeGroup("/MTRR0", settings.WC.MTRR0);
    if (!text.empty())
        text.pop_back();
    return text;
}
