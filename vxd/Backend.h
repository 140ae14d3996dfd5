// Backend: what answers the driver module once it is open. The module picks one when it is opened
// (platform/posixlib/DriverChoice.h): the simulated machine of simulator/, or the real processor
// through the kernel driver qrxvxd.ko. The programs above the module never know which.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DeviceModule.h"

class Backend {
public:
    virtual ~Backend() = default;

    // One control request with the driver link's buffers. True on success; on failure the output
    // buffer is left untouched.
    virtual bool Control(uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) = 0;
    // CPUID with sub-leaf 0: QRX_CPUID_ANSWERED, QRX_CPUID_UNANSWERED, or 0 to leave it to the
    // processor's own instruction (platform/DeviceModule.h).
    virtual int Cpuid(uint32_t leaf, uint32_t regs[4]) = 0;
    // One 32-bit port output; true when it was made.
    virtual bool OutPort(uint16_t port, uint32_t value) = 0;
};

// Each opener says on standard error why it could not open, in one line, and returns null.
std::unique_ptr<Backend> OpenSimulatedBackend();
std::unique_ptr<Backend> OpenKernelBackend(const std::string& devicePath);

// The module's one line on standard error.
void ReportProblem(const std::string& message);
