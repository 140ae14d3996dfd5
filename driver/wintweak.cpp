// wintweak: the driver link. Builds the device name, opens the driver module and packs the six
// requests into their fixed little-endian buffers.
#include "driver/wintweak.h"

#include <cstring>
#include <vector>

#include "common/General.h"

DeviceHandle DriverHandle = InvalidDeviceHandle;

namespace {

const char DevicePrefix[] = "\\\\.\\";
const char DriverFileName[] = "qrxvxd.vxd";
constexpr size_t PathBufferSize = 1024;

void PutU32(unsigned char* buffer, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        buffer[offset + static_cast<size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetU32(const unsigned char* buffer, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | buffer[offset + static_cast<size_t>(i)];
    return value;
}

bool Request(uint32_t code, const unsigned char* in, uint32_t inSize, unsigned char* out,
             uint32_t outSize) {
    if (out)
        std::memset(out, 0, outSize);
    uint32_t returned = 0; // not examined: the buffers have fixed sizes
    return DeviceControl(DriverHandle, code, in, inSize, out, outSize, &returned);
}

// A request that sends one 32-bit word and answers two.
bool OneInTwoOutRequest(uint32_t code, uint32_t value, uint32_t& first, uint32_t& second) {
    unsigned char in[4], out[8];
    PutU32(in, 0, value);
    const bool ok = Request(code, in, sizeof in, out, sizeof out);
    first = GetU32(out, 0);
    second = GetU32(out, 4);
    return ok;
}

} // namespace

std::string DriverDeviceName(const std::string& programDirectory) {
    std::string directory = programDirectory;
    // The short form is asked for in place in a fixed buffer. A directory that does not fit
    // together with its terminating zero is used in its long form rather than cut short, since
    // a truncated path could name a different file.
    if (directory.size() < PathBufferSize) {
        std::vector<char> buffer(PathBufferSize, '\0');
        std::memcpy(buffer.data(), directory.data(), directory.size());
        ShortPathName(buffer.data(), PathBufferSize); // result not examined: long form stays
        directory = std::string(buffer.data());
    }
    return DevicePrefix + directory + DriverFileName;
}

bool LoadDriver() {
    DriverHandle = OpenDevice(DriverDeviceName(ProgramDirectory()), DeviceDeleteOnClose);
    return DriverHandle != InvalidDeviceHandle;
}

bool UnloadDriver() {
    return CloseDevice(DriverHandle);
}

bool ReadMsr(uint32_t index, uint32_t& high, uint32_t& low) {
    return OneInTwoOutRequest(RequestReadMsr, index, high, low);
}

bool WriteMsr(uint32_t index, uint32_t high, uint32_t low) {
    unsigned char in[12];
    PutU32(in, 0, index);
    PutU32(in, 4, high);
    PutU32(in, 8, low);
    return Request(RequestWriteMsr, in, sizeof in, nullptr, 0);
}

bool MeasureClock(uint32_t interval, uint32_t& elapsed, uint32_t& cycles) {
    return OneInTwoOutRequest(RequestMeasureClock, interval, elapsed, cycles);
}

bool ReadCr0(uint32_t& value) {
    unsigned char out[4];
    const bool ok = Request(RequestReadCr0, nullptr, 0, out, sizeof out);
    value = GetU32(out, 0);
    return ok;
}

namespace {
// The switch travels as exactly 1 or 0, never another non-zero Boolean representation.
bool SwitchRequest(uint32_t code, bool enable) {
    unsigned char in[4];
    PutU32(in, 0, enable ? 1u : 0u);
    return Request(code, in, sizeof in, nullptr, 0);
}
} // namespace

bool SetL1Cache(bool enable) {
    return SwitchRequest(RequestSetL1Cache, enable);
}

bool SetL2Cache(bool enable) {
    return SwitchRequest(RequestSetL2Cache, enable);
}
