// Processor seam: the two things the programs do on the processor themselves.
// When the loaded driver module simulates a processor it answers both; otherwise the host's
// CPUID instruction runs, and the port is written through the kernel's port access (which needs
// privileges; a refusal is not reported).
#pragma once

#include <cstdint>

struct CpuidResult {
    uint32_t eax, ebx, ecx, edx;
};

CpuidResult ExecuteCpuidInstruction(uint32_t leaf, uint32_t subleaf = 0);

void OutPort32(uint16_t port, uint32_t value);
