// Processor seam, POSIX: an open driver module answers first (or refuses the port output);
// else the host's CPUID instruction and the kernel's port access.
#include "platform/Processor.h"

#include "platform/Device.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <sys/io.h>
#define QRX_HOST_X86 1
#endif

CpuidResult ExecuteCpuidInstruction(uint32_t leaf, uint32_t subleaf) {
    uint32_t regs[4] = {};
    switch (DeviceModuleCpuid(leaf, subleaf, regs)) {
    case ModuleCpuid::Answered:
        return {regs[0], regs[1], regs[2], regs[3]};
    case ModuleCpuid::Unanswered:
        return {0, 0, 0, 0, false};
    case ModuleCpuid::NotTaken:
        break;
    }
    CpuidResult r{0, 0, 0, 0};
#ifdef QRX_HOST_X86
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
    return r;
}

bool OutPort32(uint16_t port, uint32_t value) {
    switch (DeviceModuleOutPort(port, value)) {
    case ModulePortOutput::Made:
        return true;
    case ModulePortOutput::Refused:
        return false;
    case ModulePortOutput::NotTaken:
        break;
    }
#ifdef QRX_HOST_X86
    // ioperm reaches only the first 1024 ports; above them the whole I/O privilege level is
    // needed.
    const bool low = port + 4u <= 0x400u;
    if (low ? ioperm(port, 4, 1) != 0 : iopl(3) != 0)
        return false;
    outl(value, port);
    if (low)
        ioperm(port, 4, 0);
    else
        iopl(0);
    return true;
#else
    (void)port;
    (void)value;
    return false;
#endif
}
