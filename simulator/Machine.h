// Machine: the simulated AMD K6-family processor as a plain record, its presets, and the
// requests it answers (the driver's control requests, CPUID and the power-management port).
// Everything here is pure: the state file and its lock live in StateStore.h, its text in
// StateText.h.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

// Model-specific registers the K6 family knows.
constexpr uint32_t MsrEfer = 0xC0000080u;
constexpr uint32_t MsrWhcr = 0xC0000082u;
constexpr uint32_t MsrUwccr = 0xC0000085u;
constexpr uint32_t MsrEpmr = 0xC0000086u;
constexpr uint32_t MsrPsor = 0xC0000087u;

constexpr uint32_t Cr0ResetValue = 0x8005003Bu;
constexpr uint32_t Cr0CacheDisable = 1u << 30;
constexpr uint32_t EferL2Disable = 1u << 4;

// What CPUID tells about the processor.
struct SimIdentity {
    std::string vendor;                           // exactly 12 characters
    uint32_t family = 0, model = 0, stepping = 0; // 0..15 each
    uint32_t maxLeaf = 1;                         // highest standard leaf (CPUID 0 EAX)
    bool tsc = true;                              // CPUID 1 EDX bit 4
};
bool operator==(const SimIdentity& a, const SimIdentity& b);
std::ostream& operator<<(std::ostream& out, const SimIdentity& id);

// What the kernel driver would know about the machine around the processor (request 8). A
// machine without one answers as it always did: request 8 fails and no write is refused.
constexpr size_t MaxDisplayWindows = 4;
struct SimWindow {
    uint32_t base = 0;
    uint32_t size = 0; // bytes
};
struct SimMemoryMap {
    bool present = false;
    uint32_t ramMb = 0;             // installed memory below 4 GiB, MiB
    bool holeIsRam = true;          // 15-16 MiB is memory, not a chipset's ISA hole
    std::vector<SimWindow> windows; // display memory windows, at most MaxDisplayWindows
};
bool operator==(const SimWindow& a, const SimWindow& b);
bool operator==(const SimMemoryMap& a, const SimMemoryMap& b);
constexpr uint32_t MaxRamMb = 4096;

// The whole simulated machine, as the state file keeps it.
struct SimMachine {
    std::string preset; // a preset name, or "custom"
    SimIdentity id;
    uint32_t busMhz = 100;
    uint32_t cr0 = Cr0ResetValue;
    std::map<uint32_t, uint64_t> msrs; // exactly the registers this processor has
    uint32_t port = 0;                 // last value stored at the power-management base + 8
    std::set<uint32_t> failing;        // request codes that fail
    SimMemoryMap memory;
};
bool operator==(const SimMachine& a, const SimMachine& b);
std::ostream& operator<<(std::ostream& out, const SimMachine& m);

struct SimPreset {
    const char* name;
    SimIdentity id;
    uint32_t fixedMhz; // core clock when the multiplier cannot be read (not model 13)
    uint32_t bootCode; // PSOR multiplier code after reset
    const char* brand; // CPUID 80000002h..80000004h
    const char* description;
};

const std::vector<SimPreset>& SimPresets();
const SimPreset* FindPreset(const std::string& name); // nullptr when unknown
constexpr const char* DefaultPreset = "k6-3+";
constexpr const char* CustomPreset = "custom";

// Request codes of the driver.
enum SimRequest : uint32_t {
    SimReadMsr = 1,
    SimWriteMsr = 2,
    SimMeasureClock = 3,
    SimReadCr0 = 4,
    SimSetL1Cache = 5,
    SimSetL2Cache = 6,
    SimReadMachine = 8,
};
constexpr uint32_t SimMachineAnswerSize = 48; // request 8's answer
const char* RequestName(uint32_t code);       // nullptr for an unknown code

// Identity rules.
bool IsAmd(const SimIdentity& id);
bool IsCxtCore(const SimIdentity& id); // model 8 stepping 8..15, model 9, model 13
bool HasMsr(const SimIdentity& id, uint32_t index);
std::vector<uint32_t> MsrsOf(const SimIdentity& id); // ascending
bool UsesK6WhcrLayout(const SimIdentity& id);        // models 6, 7 and 8 stepping 0..7

// A freshly reset machine: reset values, no faults. The log is the caller's business.
SimMachine ResetMachine(const SimPreset& preset);
SimMachine ResetCustom(const SimIdentity& id);

// The multiplier of a 3-bit code, in tenths (45 for 4.5).
uint32_t MultiplierTenths(uint32_t code);
// Core clock in kHz: bus x multiplier on model 13, the preset's fixed clock otherwise.
uint64_t CoreKHz(const SimMachine& m);
uint32_t FixedMhz(const SimMachine& m); // 0 on model 13, where the multiplier decides

// The outcome of one request: success, whether the machine changed, and its log line (empty for
// request 8 on a machine without a memory map, which leaves the log as it always was).
struct SimOutcome {
    bool ok = false;
    bool changed = false;
    std::string logLine;
};

// The size text of the memory map: "4MB", "640KB", "1GB" (decimal, either case); false for
// anything else, for zero and beyond 4 GiB.
bool ParseWindowSize(const std::string& text, uint64_t& bytes);
// A size as that text, in the largest unit that divides it ("4MB").
std::string WindowSizeText(uint64_t bytes);
// The map as qrxsim memory shows it, one line.
std::string DescribeMemoryMap(const SimMemoryMap& map);

// One control request with its raw buffers. The output (and bytesReturned) is written only on
// success. Checks the fault list first.
SimOutcome SimControl(SimMachine& m, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned);

// CPUID with sub-leaf 0 (no K6-family leaf has sub-leaves). Always answers.
SimOutcome SimCpuid(const SimMachine& m, uint32_t leaf, uint32_t regs[4]);

// One 32-bit output to an I/O port.
SimOutcome SimOutPort(SimMachine& m, uint16_t port, uint32_t value);

// Direct access for qrxsim get/set: false when the processor has no such register.
bool GetMsr(const SimMachine& m, uint32_t index, uint64_t& value);
bool SetMsr(SimMachine& m, uint32_t index, uint64_t value);

// The multi-line description shown by qrxsim show (without the file and log lines).
std::string DescribeMachine(const SimMachine& m);
