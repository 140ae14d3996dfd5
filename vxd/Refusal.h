// Refusal: the one line that tells the user why the kernel driver refused a change, in the
// user's terms (the limit and the installed memory, the range and the memory it would cover, the
// cpufreq driver and what to do), never an errno.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/qrxvxd.h"

// What the backend learns after a refusal, from the driver and the system.
struct RefusalFacts {
    bool machineKnown = false; // request 8 answered
    qrxvxd_machine machine{};  // its answer
    uint32_t model = 0;        // CPUID family 5 model and stepping
    uint32_t stepping = 0;
    uint64_t registerValue = 0; // the written register's value after the refusal
    std::string cpufreqDriver;  // the cpufreq driver's name, empty when none
    bool lockedDown = false;    // the kernel is locked down against register writes
};

// The line for a request (its code and its input words) that failed with error, or "" when the
// failure is no refusal of a rule (the processor refused, a malformed request).
std::string DescribeRefusal(uint32_t code, const uint32_t* in, int error,
                            const RefusalFacts& facts);
