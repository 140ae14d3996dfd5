// The binary interface a driver module (such as qrxvxd.vxd) exports for the device seam.
// Plain C entry points, looked up with dlsym after the module is loaded.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opens the driver; returns a non-null context, or null when the open is refused.
typedef void* (*QrxModuleOpenFn)(void);
// One control request; returns non-zero on success. Leaves out untouched when it fails.
typedef int (*QrxModuleControlFn)(void* context, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned);
// Closes the context; returns non-zero on success.
typedef int (*QrxModuleCloseFn)(void* context);
// Optional: answers CPUID for a simulated processor. Returns non-zero when it answered.
typedef int (*QrxModuleCpuidFn)(void* context, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
// Optional: performs a 32-bit port output on a simulated processor. Non-zero when handled.
typedef int (*QrxModuleOutPortFn)(void* context, uint16_t port, uint32_t value);

#define QRX_MODULE_OPEN "qrx_module_open"
#define QRX_MODULE_CONTROL "qrx_module_control"
#define QRX_MODULE_CLOSE "qrx_module_close"
#define QRX_MODULE_CPUID "qrx_module_cpuid"
#define QRX_MODULE_OUTPORT "qrx_module_outport"

#ifdef __cplusplus
}
#endif
