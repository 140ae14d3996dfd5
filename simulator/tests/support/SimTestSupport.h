// Helpers for the simulator's tests: one request with typed buffers, and qrxsim runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/Machine.h"
#include "testing/TestSupport.h"

// What a failed request must leave in the output buffer: whatever was there before.
constexpr uint32_t Untouched = 0xA5A5A5A5u;

struct Answer {
    bool ok = false;
    std::vector<uint32_t> out; // the output words after the call
    std::string log;
};

inline Answer Request(SimMachine& m, uint32_t code, const std::vector<uint32_t>& in,
                      size_t outWords) {
    Answer a;
    a.out.assign(outWords, Untouched);
    uint32_t returned = 0;
    const SimOutcome o = SimControl(
        m, code, in.empty() ? nullptr : in.data(), static_cast<uint32_t>(in.size() * 4),
        outWords ? a.out.data() : nullptr, static_cast<uint32_t>(outWords * 4), &returned);
    a.ok = o.ok;
    a.log = o.logLine;
    if (o.ok) {
        EXPECT_EQ(returned, outWords * 4);
    }
    return a;
}

inline SimMachine Preset(const std::string& name) {
    const SimPreset* p = FindPreset(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? ResetMachine(*p) : SimMachine{};
}
