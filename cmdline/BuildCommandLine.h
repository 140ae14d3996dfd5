// BuildCommandLine: the parameter text that the command-line parser reads back into the same
// settings; the clipboard copy and the log-on start command use it.
#pragma once

#include <string>

#include "engine/Tweak.h"

// Groups in a fixed order (write allocation, L1, L2, data prefetch, the two ranges, multiplier,
// write ordering), one per supported feature; every switch and value is followed by one blank,
// except the write-ordering digit, which ends the text. No supported feature gives "".
std::string BuildCommandLine(const SettingsTp& settings);

// The parameters of a suggestion (SuggestSettings): the write-allocation group and range 0's
// group, each only when the suggestion set it, without a trailing blank; "" for none.
std::string BuildSuggestedParameters(const SettingsTp& settings, const SuggestionTp& suggestion);
