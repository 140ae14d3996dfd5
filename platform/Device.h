// Device seam: open a device by name, send it control requests, close it.
// On POSIX the device name "\\.\" + path names a driver module file: opening loads the module
// (dlopen) and calls its open entry; a request calls its control entry; closing calls its close
// entry and unloads it. The module file itself is never deleted.
#pragma once

#include <cstdint>
#include <string>

using DeviceHandle = uint32_t;
constexpr DeviceHandle InvalidDeviceHandle = 0xFFFFFFFFu;

// The flag that asks for the driver to be unloaded when its last handle closes.
constexpr uint32_t DeviceDeleteOnClose = 0x04000000u;

// Opens the device; InvalidDeviceHandle when the module is missing or refuses the open.
DeviceHandle OpenDevice(const std::string& deviceName, uint32_t flags);

// Sends one synchronous request. True exactly when the device reported success.
bool DeviceControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize, uint32_t* bytesReturned);

// Closes the handle; true on success. An invalid or already closed handle gives false.
bool CloseDevice(DeviceHandle handle);

// Converts path (zero-terminated, in a buffer of bufferSize bytes) in place to its short form.
// There are no short names on this platform: it always fails, leaving the buffer untouched,
// and returns 0.
uint32_t ShortPathName(char* buffer, uint32_t bufferSize);

// The processor seam asks the open driver modules first: the most recently opened one that
// exports the optional CPUID (or port output) entry and answers it. A module that takes CPUID
// may also fail to answer it, when its processor cannot be asked.
enum class ModuleCpuid { NotTaken, Answered, Unanswered };
ModuleCpuid DeviceModuleCpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
// For the port output a module that takes it may also refuse it.
enum class ModulePortOutput { NotTaken, Made, Refused };
ModulePortOutput DeviceModuleOutPort(uint16_t port, uint32_t value);
