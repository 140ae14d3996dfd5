// Engine test support: drives the simulated processor through its qrxsim tool and reads back
// its request log.
#pragma once

#include <gtest/gtest.h>

#include "testing/TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

// Stores a 64-bit MSR value directly (bypassing faults and the log).
void SimSetMsr(uint32_t index, uint32_t high, uint32_t low);
// The low half of an MSR as the simulator holds it.
uint32_t SimMsrLow(uint32_t index);
// The log reduced to what was asked of which register: "ReadMsr C0000082", "WriteMsr C0000080",
// "Out FFF8", "Cpuid 00000001", "ReadCr0", "SetL1Cache", "SetL2Cache", "MeasureClock".
std::vector<std::string> SimRequests();

// Each test works on a freshly reset simulated machine with the driver loaded.
class SimulatedCpu : public testing::Test {
protected:
    void TearDown() override;
    // Resets the machine ("reset" + args), loads the driver if needed, then empties the log and
    // the recorded messages so a test sees only what it caused.
    void Reset(const std::vector<std::string>& resetArgs);
    void Reset(const std::string& preset) { Reset(std::vector<std::string>{preset}); }

private:
    bool loaded_ = false;
};
