// The kernel driver's rules for changes, as user space and the simulated machine apply them too:
// each line of rules.txt is one case, "RULE ARGUMENTS -> EXPECTED" (hex numbers).
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "kernel/qrxvxd_rules.h"
#include "testing/TestSupport.h"

namespace {

uint64_t Hex(std::istream& in) {
    std::string word;
    in >> word;
    return std::stoull(word, nullptr, 16);
}

std::string Value(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Outcome(int err, uint64_t value) {
    switch (err) {
    case 0:
        return Value(value);
    case -ERANGE:
        return "ERANGE";
    case -EPERM:
        return "EPERM";
    case -EBUSY:
        return "EBUSY";
    case -EINVAL:
        return "EINVAL";
    }
    return "error " + std::to_string(err);
}

// The machine's facts come first in the rules that need them: RAMTOP (MiB, hex) FLAGS.
qrxvxd_machine Machine(std::istream& in) {
    qrxvxd_machine m{};
    m.ram_top_mb = static_cast<uint32_t>(Hex(in));
    m.flags = static_cast<uint32_t>(Hex(in));
    return m;
}

std::string Apply(const std::string& rule, std::istream& in) {
    __u64 merged = 0;
    if (rule == "efer") {
        const uint64_t now = Hex(in);
        return Value(qrxvxd_efer_merge(now, Hex(in)));
    }
    if (rule == "whcr") { // MODEL STEPPING RAMTOP FLAGS NOW WANTED
        const uint32_t model = static_cast<uint32_t>(Hex(in));
        const uint32_t stepping = static_cast<uint32_t>(Hex(in));
        const qrxvxd_machine m = Machine(in);
        const uint64_t now = Hex(in), wanted = Hex(in);
        qrxvxd_whcr_layout layout{};
        int err = qrxvxd_whcr_layout_of(model, stepping, &layout);
        if (err == 0)
            err = qrxvxd_whcr_merge(&m, &layout, now, wanted, &merged);
        return Outcome(err, merged);
    }
    if (rule == "uwccr") { // RAMTOP FLAGS NOW WANTED: the value to write is the wanted one
        const qrxvxd_machine m = Machine(in);
        const uint64_t now = Hex(in), wanted = Hex(in);
        return Outcome(qrxvxd_uwccr_check(&m, now, wanted), wanted);
    }
    if (rule == "epmr") {
        const uint64_t now = Hex(in), wanted = Hex(in);
        const int err = qrxvxd_epmr_merge(now, wanted, &merged);
        return Outcome(err, merged);
    }
    if (rule == "pmopen")
        return qrxvxd_pm_open(Hex(in)) ? "open" : "closed";
    if (rule == "port") {
        const uint32_t port = static_cast<uint32_t>(Hex(in));
        return Outcome(qrxvxd_port_check(port), port);
    }
    if (rule == "portvalue") {
        const uint32_t now = static_cast<uint32_t>(Hex(in));
        return Value(qrxvxd_port_value(now, static_cast<uint32_t>(Hex(in))));
    }
    return "unknown rule " + rule;
}

TEST(Rules, EveryCaseOfTheTableGivesItsOutcome) {
    for (const ArrowRow& row : ReadArrowTable(QRX_RULES_TABLE)) {
        std::istringstream args(row.input);
        std::string rule;
        args >> rule;
        EXPECT_EQ(Apply(rule, args), row.expected) << row.line;
    }
}

} // namespace
