// Tweak: the processor feature engine. The settings record, processor identification, and per
// feature the encoding between the record and the processor's registers.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "driver/wintweak.h"

// Model-specific registers the engine reads and writes.
constexpr uint32_t MsrEFER = 0xC0000080;  // extended features: L2 switch, write ordering, prefetch
constexpr uint32_t MsrWHCR = 0xC0000082;  // write allocation
constexpr uint32_t MsrUWCCR = 0xC0000085; // the two memory-type ranges
constexpr uint32_t MsrEPMR = 0xC0000086;  // opens the power-management I/O block
constexpr uint32_t MsrPSOR = 0xC0000087;  // read-only processor state, current multiplier code

// The power-management block is opened at this base; the multiplier is written to base + 8.
constexpr uint32_t PowerManagementBase = 0xFFF0;
constexpr uint16_t MultiplierPort = 0xFFF8;

// Range sizes, index = log2(size / 128 kB). The enumerator names are the text forms used in
// profiles and on the command line.
enum class SizeTp : uint8_t {
    _128kB = 0,
    _256kB = 1,
    _512kB = 2,
    _1MB = 3,
    _2MB = 4,
    _4MB = 5,
    _8MB = 6,
    _16MB = 7,
    _32MB = 8,
    _64MB = 9,
    _128MB = 10,
    _256MB = 11,
    _512MB = 12,
    _1GB = 13,
    _2GB = 14,
    _4GB = 15,
};
constexpr int SizeCount = 16;

enum class MemoryTypeTp : uint8_t {
    NoEffect = 0,
    Uncached = 1,
    WriteCombined = 2,
};

enum class WriteOrderingTp : uint8_t {
    GEWBED = 0,
    SEWBED = 1,
    EWBEStrong = 2,
};

// Multiplier indices 0..7 order the ratios "2.0" to "6.0" from lowest to highest.
constexpr int MultiplierCount = 8;

// Values nobody knows. A failed read leaves the zeros of its cleared buffer in the record, and
// a feature that identification installed but never read back holds only its default; neither
// is the processor's state. Each feature therefore carries an Unread flag beside its value:
// GetAllSettings sets it when the feature's read fails and clears it when the read succeeds,
// and whoever gives the feature a value (the command line, a profile, the window) clears it.
// An apply leaves an unread feature alone, and neither a profile nor the parameter text holds
// it, so a value no one read or gave never reaches the processor, now or at the next log-on.
// A record put together by hand counts as given: the flags are false by default, and only
// identification and a failed read set them.

struct CPUTp {
    std::string Name = "Unknown CPU";
    bool VendorUnknown = true;
    std::array<char, 12> VendorID{}; // CPUID vendor string, not terminated
    uint8_t Family = 0;
    uint8_t Model = 0;
    uint8_t Stepping = 0;
    bool IDValid = false;
    // Identification could not ask the processor (its first CPUID went unanswered): nothing
    // about it is known, and no setting can be applied.
    bool IdentityUnread = false;
    bool HasTSC = false;
    bool MultiplierKnown = false;
    bool MultiplierSupported = false;
    uint8_t Multiplier = 0; // index 0..7; meaningful only while MultiplierSupported
    bool MultiplierUnread = false;
};

struct WATp {
    int32_t WALimit = 0;    // MB
    int32_t WAMaxLimit = 0; // MB
    bool WA1516MB = false;
    bool WASupported = false;
    bool WAEnabled = false;
    bool WAUnread = false;
};

struct MTRRTp {
    bool Enabled = false;
    uint32_t Start = 0;
    uint32_t SizeBytes = 0x20000; // 0 stands for 4 GB
    SizeTp Size = SizeTp::_128kB;
    MemoryTypeTp MemoryType = MemoryTypeTp::NoEffect;
    // Per range, although one register holds both: a user who gives one range while the read
    // failed must not have the other written from zeros.
    bool Unread = false;
};

struct WCTp {
    bool WCSupported = false;
    MTRRTp MTRR0;
    MTRRTp MTRR1;
};

// Handler slots: plain function pointers, so a copied record works exactly like the original.
// Setters receive values and never change the caller's record; getters fill only their fields
// and return whether the processor answered their read (their fields then hold its state).
// The L2, write-ordering and data-prefetch handlers receive the pair (Supported, value) of the
// record and use only the value.
using SetMultiplierProcTp = void (*)(uint8_t index);
using GetMultiplierProcTp = bool (*)(uint8_t& index);
using SetWAProcTp = void (*)(WATp wa);
using GetWAProcTp = bool (*)(WATp& wa);
using SetWCProcTp = void (*)(WCTp wc);
using GetWCProcTp = bool (*)(WCTp& wc);
using SetL1ProcTp = void (*)(bool enabled);
using GetL1ProcTp = bool (*)(bool& enabled);
using SetL2ProcTp = void (*)(bool l2Supported, bool l2CacheEnabled);
using GetL2ProcTp = bool (*)(bool& l2Supported, bool& l2CacheEnabled);
using SetWriteOrderingProcTp = void (*)(bool writeOrderingSupported,
                                        WriteOrderingTp writeOrderingType);
using GetWriteOrderingProcTp = bool (*)(bool& writeOrderingSupported,
                                        WriteOrderingTp& writeOrderingType);
using SetDataPrefetchProcTp = void (*)(bool dataPrefetchSupported, bool dataPrefetchEnabled);
using GetDataPrefetchProcTp = bool (*)(bool& dataPrefetchSupported, bool& dataPrefetchEnabled);

// Default handlers: each only reports "<its name> executed." through ShowError. The engine gates
// every handler call by the feature's Supported flag, so one of these running shows a stray call.
// The getters read nothing and say so.
void SetWADefault(WATp wa);
bool GetWADefault(WATp& wa);
void SetWCDefault(WCTp wc);
bool GetWCDefault(WCTp& wc);
void SetMultiplierDefault(uint8_t index);
bool GetMultiplierDefault(uint8_t& index);
void SetL2Default(bool l2Supported, bool l2CacheEnabled);
bool GetL2Default(bool& l2Supported, bool& l2CacheEnabled);
void SetWriteOrderingDefault(bool writeOrderingSupported, WriteOrderingTp writeOrderingType);
bool GetWriteOrderingDefault(bool& writeOrderingSupported, WriteOrderingTp& writeOrderingType);
void SetDataPrefetchDefault(bool dataPrefetchSupported, bool dataPrefetchEnabled);
bool GetDataPrefetchDefault(bool& dataPrefetchSupported, bool& dataPrefetchEnabled);

// The settings record, the currency between all units. A value-initialised record holds the
// defaults of SetDefaults, with empty L1 slots (IdentifyCPU always fills those).
struct SettingsTp {
    CPUTp CPU;
    WCTp WC;
    WATp WA;
    bool L1Supported = false;
    bool L1CacheEnabled = true;
    bool L1Unread = false;
    bool L2Supported = false;
    bool L2CacheEnabled = false;
    bool L2Unread = false;
    bool WriteOrderingSupported = false;
    WriteOrderingTp WriteOrderingType = WriteOrderingTp::EWBEStrong;
    bool WriteOrderingUnread = false;
    bool DataPrefetchSupported = false;
    bool DataPrefetchEnabled = false;
    bool DataPrefetchUnread = false;
    SetMultiplierProcTp SetMultiplierProc = SetMultiplierDefault;
    GetMultiplierProcTp GetMultiplierProc = GetMultiplierDefault;
    SetWAProcTp SetWAProc = SetWADefault;
    GetWAProcTp GetWAProc = GetWADefault;
    SetWCProcTp SetWCProc = SetWCDefault;
    GetWCProcTp GetWCProc = GetWCDefault;
    SetL1ProcTp SetL1Proc = nullptr;
    GetL1ProcTp GetL1Proc = nullptr;
    SetL2ProcTp SetL2Proc = SetL2Default;
    GetL2ProcTp GetL2Proc = GetL2Default;
    SetWriteOrderingProcTp SetWriteOrderingProc = SetWriteOrderingDefault;
    GetWriteOrderingProcTp GetWriteOrderingProc = GetWriteOrderingDefault;
    SetDataPrefetchProcTp SetDataPrefetchProc = SetDataPrefetchDefault;
    GetDataPrefetchProcTp GetDataPrefetchProc = GetDataPrefetchDefault;
};

bool operator==(const CPUTp& a, const CPUTp& b);
bool operator==(const WATp& a, const WATp& b);
bool operator==(const MTRRTp& a, const MTRRTp& b);
bool operator==(const WCTp& a, const WCTp& b);
bool operator==(const SettingsTp& a, const SettingsTp& b);
inline bool operator!=(const CPUTp& a, const CPUTp& b) {
    return !(a == b);
}
inline bool operator!=(const WATp& a, const WATp& b) {
    return !(a == b);
}
inline bool operator!=(const MTRRTp& a, const MTRRTp& b) {
    return !(a == b);
}
inline bool operator!=(const WCTp& a, const WCTp& b) {
    return !(a == b);
}
inline bool operator!=(const SettingsTp& a, const SettingsTp& b) {
    return !(a == b);
}

std::ostream& operator<<(std::ostream& os, SizeTp size);
std::ostream& operator<<(std::ostream& os, MemoryTypeTp type);
std::ostream& operator<<(std::ostream& os, WriteOrderingTp type);
std::ostream& operator<<(std::ostream& os, const CPUTp& cpu);
std::ostream& operator<<(std::ostream& os, const WATp& wa);
std::ostream& operator<<(std::ostream& os, const MTRRTp& range);
std::ostream& operator<<(std::ostream& os, const WCTp& wc);
std::ostream& operator<<(std::ostream& os, const SettingsTp& settings);

// --- Settings model and identification ---

// Every field to its default and the default handlers into the twelve non-L1 slots; the L1
// slots are left as they are.
void SetDefaults(SettingsTp& settings);
// Identifies the processor, installs the handlers its model supports and reads its current
// state into the record.
void IdentifyCPU(SettingsTp& settings);
// CPUID with EAX = leaf and ECX = 0; false (all registers zero) when the driver module's
// processor could not be asked.
bool ExecuteCPUID(uint32_t leaf, uint32_t& eax, uint32_t& ebx, uint32_t& ecx, uint32_t& edx);

// --- Write allocation (WHCR), K6 and CXT register layouts ---

void SetWAK6(WATp wa);
bool GetWAK6(WATp& wa);
void SetWACXT(WATp wa);
bool GetWACXT(WATp& wa);

// --- Memory-type ranges (UWCCR) ---

// 128 kB shifted left by the index; 0 for _4GB and for any value outside 0..15.
uint32_t SizeToBytes(SizeTp size);
// Exact, case-sensitive match with "_128kB" .. "_4GB"; size is left alone when false.
bool SizeFromName(const std::string& text, SizeTp& size);
// "_128kB" .. "_4GB"; "unknown" outside 0..15.
std::string SizeToName(SizeTp size);
// The 15-bit register mask of a size.
uint32_t SizeToMask(SizeTp size);
// Sets both outputs for one of the sixteen masks; any other mask gives false and sets nothing.
bool MaskToSize(uint32_t mask, SizeTp& size, uint32_t& sizeBytes);
// One register half into a range; a half with an invalid mask is reported and zeroed.
void DecodeRange(uint32_t half, MTRRTp& r);
// A range into its register half; false (and half untouched) when the start is not aligned.
bool EncodeRange(const MTRRTp& r, uint32_t& half);
// Writes UWCCR whole. A range marked unread keeps what the register holds now (read just
// before), and nothing is written when that read fails or neither range has a value to write.
void SetWC(WCTp wc);
bool GetWC(WCTp& wc);

// --- Clock multiplier (PSOR, EPMR, port FFF8h) ---

// "2.0" .. "6.0"; "unknown" for any other index.
std::string MultiplierToText(uint8_t index);
// The processor's 3-bit code of an index; 0 for an index outside 0..7.
uint8_t MultiplierToCode(uint8_t index);
// The index of a 3-bit code (only bits 2..0 count).
uint8_t CodeToMultiplier(uint8_t code);
void SetMultiplier(uint8_t index);
bool GetMultiplier(uint8_t& index);

// --- L1 and L2 cache, write ordering, data prefetch ---

void SetL1(bool enabled);
bool GetL1(bool& enabled);
void SetL2(bool l2Supported, bool l2CacheEnabled);
bool GetL2(bool& l2Supported, bool& l2CacheEnabled);
void SetWriteOrdering(bool writeOrderingSupported, WriteOrderingTp writeOrderingType);
bool GetWriteOrdering(bool& writeOrderingSupported, WriteOrderingTp& writeOrderingType);
void SetDataPrefetch(bool dataPrefetchSupported, bool dataPrefetchEnabled);
bool GetDataPrefetch(bool& dataPrefetchSupported, bool& dataPrefetchEnabled);

// --- Reading and applying all settings ---

// Reads every supported feature into the record, in the fixed feature order, and marks each as
// unread or not by whether its read succeeded.
void GetAllSettings(SettingsTp& settings);
// Writes every supported feature from a private copy of the record, in the fixed feature order,
// except those marked unread; a refused feature shows its message and the rest are still
// applied.
void SetAllSettings(SettingsTp settings);

// --- The machine around the processor (the driver's request 8) ---

// One line per fact: the installed memory, whether 15-16 MB is memory, each display window, and
// whoever else holds a range or the multiplier.
std::vector<std::string> MachineFacts(const MachineTp& machine);
// Each setting of the record that the driver would refuse on this machine, one message per
// problem, in the fixed feature order. Only what SetAllSettings would write counts: supported
// features that are not unread; a range only where it differs from uwccrNow, the register's
// current value.
std::vector<std::string> RefusedSettings(const SettingsTp& settings, const MachineTp& machine,
                                         uint64_t uwccrNow);
// Before the first write: asks the driver what it knows of the machine and reports the refused
// settings through ShowError, one message each, or with oneMessage all in one (a window shows
// one box, not a row of them). True when nothing would be refused, and when the machine is not
// known, so a driver without the facts behaves as before.
bool CheckSettingsForMachine(const SettingsTp& settings, bool oneMessage = false);

// What a suggestion changed in the record.
struct SuggestionTp {
    bool WA = false;     // write allocation on, limit at the installed memory
    bool Range0 = false; // range 0 write combined over the largest display window
};
// Lays the settings suited to this machine over the record: write allocation on with the limit
// at the installed memory (in the layout's 4-MB unit, at most its maximum) and 15-16 MB taking
// part only when it is memory; range 0 write combined over the largest block the processor can
// express inside the largest display window. Nothing else changes. Features the processor lacks,
// and a range someone else holds, are left alone.
SuggestionTp SuggestSettings(const MachineTp& machine, SettingsTp& settings);
