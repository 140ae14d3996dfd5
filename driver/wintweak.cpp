// wintweak: the driver link. Builds the device name, opens the driver module and packs the six
// requests into their fixed little-endian buffers.
#include "driver/wintweak.h"

#include <cstring>
#include <iterator>
#include <vector>

#include "common/General.h"
#include "platform/Processor.h"
#include "platform/posixlib/DriverChoice.h"

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

struct Failures {
    int count = 0;
    std::string first; // as the simulator's request log names a request: "WriteMsr C0000085"
};
Failures failures;

// Every failed request and port output passes here once.
void NoteFailure(const std::string& request) {
    if (failures.count++ == 0)
        failures.first = request;
}

// A request's name and what it was about: the register, interval or switch of its input.
std::string RequestText(uint32_t code, const unsigned char* in, uint32_t inSize) {
    static const char* const Names[] = {"ReadMsr", "WriteMsr",   "MeasureClock",
                                        "ReadCr0", "SetL1Cache", "SetL2Cache"};
    std::string text = code >= 1 && code <= std::size(Names)
                           ? std::string(Names[code - 1])
                           : "Request " + IntToText(static_cast<int32_t>(code));
    if (inSize >= 4) {
        const uint32_t first = GetU32(in, 0);
        const bool isSwitch = code == RequestSetL1Cache || code == RequestSetL2Cache;
        text += " " + (isSwitch ? IntToText(static_cast<int32_t>(first)) : DWordToHex(first));
    }
    return text;
}

bool Request(uint32_t code, const unsigned char* in, uint32_t inSize, unsigned char* out,
             uint32_t outSize) {
    if (out)
        std::memset(out, 0, outSize);
    uint32_t returned = 0; // not examined: the buffers have fixed sizes
    const bool ok = DeviceControl(DriverHandle, code, in, inSize, out, outSize, &returned);
    if (!ok)
        NoteFailure(RequestText(code, in, inSize));
    return ok;
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
    failures = Failures{};
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

bool ReadMachine(MachineTp& machine) {
    unsigned char out[48] = {};
    uint32_t returned = 0;
    machine = MachineTp{};
    if (!DeviceControl(DriverHandle, RequestReadMachine, nullptr, 0, out, sizeof out, &returned))
        return false;
    MachineTp answer;
    answer.RamTopMB = GetU32(out, 0);
    answer.Flags = GetU32(out, 4);
    // A count beyond the four slots would read past them; the slots are all there is.
    answer.WindowCount = GetU32(out, 8) < 4 ? GetU32(out, 8) : 4;
    for (uint32_t i = 0; i < answer.WindowCount; ++i) {
        answer.Windows[i].Base = GetU32(out, 16 + 8 * i);
        answer.Windows[i].Size = GetU32(out, 20 + 8 * i);
    }
    machine = answer;
    return true;
}

bool PortOutput(uint16_t port, uint32_t value) {
    const bool ok = OutPort32(port, value);
    if (!ok)
        NoteFailure("Out " + WordToHex(port));
    return ok;
}

std::string DrivenProcessor() {
    return qrxposix::DescribeDriverChoice(qrxposix::ChooseDriver());
}

std::string FailedRequestSummary() {
    if (failures.count == 0)
        return "";
    return IntToText(failures.count) +
           (failures.count == 1 ? " driver request failed" : " driver requests failed") +
           "; first: " + failures.first;
}
