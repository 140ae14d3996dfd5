// The kernel driver's refusals in the user's words: each line of refusals.txt is one refusal
// and the line the user reads (see the table's head for its columns).
#include <cerrno>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "testing/TestSupport.h"
#include "vxd/Refusal.h"

namespace {

uint64_t Hex(const std::string& word) {
    return std::stoull(word, nullptr, 16);
}

std::string Describe(std::istream& in) {
    static const std::map<std::string, int> errors = {{"EPERM", EPERM},   {"EBADF", EBADF},
                                                      {"ERANGE", ERANGE}, {"EBUSY", EBUSY},
                                                      {"EINVAL", EINVAL}, {"EIO", EIO}};
    std::string code, a, b, c, error, ram, flags, model, stepping, value, cpufreq, locked, base,
        size;
    in >> code >> a >> b >> c >> error >> ram >> flags >> model >> stepping >> value >> cpufreq >>
        locked >> base >> size;
    const uint32_t words[3] = {static_cast<uint32_t>(Hex(a)), static_cast<uint32_t>(Hex(b)),
                               static_cast<uint32_t>(Hex(c))};
    RefusalFacts facts;
    facts.machineKnown = ram != "-";
    facts.machine.ram_top_mb = facts.machineKnown ? std::stoul(ram) : 0;
    facts.machine.flags = static_cast<uint32_t>(Hex(flags));
    facts.machine.window_count = base != "-";
    if (base != "-")
        facts.machine.windows[0] = {static_cast<uint32_t>(Hex(base)),
                                    static_cast<uint32_t>(Hex(size))};
    facts.model = static_cast<uint32_t>(Hex(model));
    facts.stepping = static_cast<uint32_t>(Hex(stepping));
    facts.registerValue = Hex(value);
    facts.cpufreqDriver = cpufreq == "-" ? "" : cpufreq;
    facts.lockedDown = locked == "locked";
    return DescribeRefusal(static_cast<uint32_t>(std::stoul(code)), words, errors.at(error), facts);
}

TEST(Refusal, EveryRefusalOfTheTableReadsAsItsLine) {
    for (const ArrowRow& row : ReadArrowTable(QRX_REFUSALS_TABLE)) {
        std::istringstream fields(row.input);
        EXPECT_EQ(Describe(fields), row.expected == "(none)" ? "" : row.expected) << row.line;
    }
}

} // namespace
