// wintweak: the driver link. Opens and closes the driver module qrxvxd.vxd that lies beside the
// program and wraps its six control requests and the multiplier's port output, which on the real
// processor is a request to the kernel driver too. No other unit talks to the driver.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Device.h"

// The one driver handle: InvalidDeviceHandle until LoadDriver, and still the old value after
// UnloadDriver has closed it.
extern DeviceHandle DriverHandle;

// Request codes of the driver.
enum DriverRequest : uint32_t {
    RequestReadMsr = 1,
    RequestWriteMsr = 2,
    RequestMeasureClock = 3,
    RequestReadCr0 = 4,
    RequestSetL1Cache = 5,
    RequestSetL2Cache = 6,
    RequestReadMachine = 8,
};

// What the driver knows about the machine around the processor: installed memory, whether
// 15-16 MB is memory, who holds the ranges and the multiplier, and the display adapters'
// memory windows. Fields as the driver answers them (section flags as the kernel driver's).
struct DisplayWindowTp {
    uint32_t Base = 0;
    uint32_t Size = 0; // bytes
};
struct MachineTp {
    uint32_t RamTopMB = 0;
    uint32_t Flags = 0;
    uint32_t WindowCount = 0; // at most 4
    DisplayWindowTp Windows[4];
};
constexpr uint32_t MachineHoleIsRam = 1u << 0;
constexpr uint32_t MachineMtrrKernel = 1u << 1;
constexpr uint32_t MachineRange0Kernel = 1u << 2;
constexpr uint32_t MachineRange1Kernel = 1u << 3;
constexpr uint32_t MachineCpufreq = 1u << 4;

// The device name LoadDriver opens for a program directory (with its trailing separator).
std::string DriverDeviceName(const std::string& programDirectory);

bool LoadDriver();
bool UnloadDriver();

// Every request returns true exactly when the driver reported success. Outputs are zeroed
// first, so after a failure the caller sees zeros. 64-bit registers travel as high, low halves.
bool ReadMsr(uint32_t index, uint32_t& high, uint32_t& low);
bool WriteMsr(uint32_t index, uint32_t high, uint32_t low);
bool MeasureClock(uint32_t interval, uint32_t& elapsed, uint32_t& cycles);
bool ReadCr0(uint32_t& value);
bool SetL1Cache(bool enable);
bool SetL2Cache(bool enable);
// Request 8. False when the driver does not know the machine (the simulated machine without a
// memory map, an older kernel driver); that is no failed request, since knowing is optional.
bool ReadMachine(MachineTp& machine);
// One 32-bit output to an I/O port (the processor seam's); true when it was made.
bool PortOutput(uint16_t port, uint32_t value);

// Which processor the driver module drives, or would drive if it were opened now:
// "simulated processor", "real processor at /dev/qrxvxd" or "no processor: QRX_DRIVER=...".
std::string DrivenProcessor();

// The requests (the port output among them) that failed since LoadDriver: "3 driver requests
// failed; first: WriteMsr C0000085", or empty when none failed. A real processor can refuse what
// the simulated one allows, and no caller stops for a failed request, so the programs that report
// to scripts (qrxclwin, qrx /Q) tell from this whether everything was applied.
std::string FailedRequestSummary();
