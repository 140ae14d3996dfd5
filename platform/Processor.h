// Processor seam: the two things the programs do on the processor themselves.
// When the loaded driver module simulates a processor it answers both; the module that drives the
// real processor leaves CPUID to the instruction and makes the port output through the kernel
// driver. Without either, the host's CPUID instruction runs, and the port is written through the
// kernel's port access (which needs privileges).
#pragma once

#include <cstdint>

struct CpuidResult {
    uint32_t eax, ebx, ecx, edx;
    // False when the driver module's processor could not be asked: the registers are zero, and
    // the host's processor did not answer in its place.
    bool answered = true;
};

CpuidResult ExecuteCpuidInstruction(uint32_t leaf, uint32_t subleaf = 0);

// True when the output was made; false when it was refused (by the kernel driver, or for want of
// the privilege) or the host has no ports.
bool OutPort32(uint16_t port, uint32_t value);
