// The machine's facts from end to end: qrxsim sets the memory map, qrxclwin suggests and refuses
// before it writes. machine.txt is a transcript: each "$ " line is run, and what follows it up to
// the next command is its output ("> " lines, qrxclwin without its banner) and "? " exit status.
// "$ writes" lists the writes the simulated machine saw during the last qrxclwin.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "testing/TestSupport.h"

namespace {

constexpr size_t BannerLines = 3;

std::string RunCommand(const std::vector<std::string>& words, std::vector<std::string>& writes) {
    std::vector<std::string> lines;
    int status = 0;
    if (words[0] == "writes") {
        lines = writes;
    } else {
        if (words[0] == "qrxclwin")
            Sim({"log", "clear"});
        const ProcessResult r =
            RunProgram(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
        lines = SplitLines(r.out);
        if (words[0] == "qrxclwin") {
            lines.erase(lines.begin(), lines.begin() + std::min(BannerLines, lines.size()));
            writes = MachineWrites(SimLog());
        }
        for (const std::string& line : SplitLines(r.err))
            lines.push_back(line);
        status = r.exitStatus;
    }
    std::string text;
    for (const std::string& line : lines)
        text += "> " + line + "\n";
    return words[0] == "writes" ? text : text + "? " + std::to_string(status) + "\n";
}

TEST(MachineFacts, TranscriptOfSuggestionsAndRefusals) {
    std::ifstream file(QRX_MACHINE_TRANSCRIPT);
    ASSERT_TRUE(file) << QRX_MACHINE_TRANSCRIPT;
    std::string expected, actual, line;
    std::vector<std::string> writes;
    while (std::getline(file, line)) {
        expected += line + "\n";
        if (line.rfind("$ ", 0) == 0)
            actual += line + "\n" + RunCommand(SplitWords(line.substr(2)), writes);
        else if (line.empty() || line[0] == '#')
            actual += line + "\n";
    }
    EXPECT_EQ(actual, expected);
}

} // namespace
