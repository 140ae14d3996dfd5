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
// Optional: answers CPUID for a simulated processor. Returns QRX_CPUID_ANSWERED when it answered,
// QRX_CPUID_UNANSWERED when its processor could not be asked (the host's instruction must not
// answer for it either), or 0 to leave CPUID to the processor's own instruction.
typedef int (*QrxModuleCpuidFn)(void* context, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
#define QRX_CPUID_ANSWERED 1
#define QRX_CPUID_UNANSWERED (-1)
// Optional: a 32-bit port output made by the module (on its simulated processor, or through a
// kernel driver). QRX_PORT_MADE, QRX_PORT_REFUSED when the module took the output but could not
// make it, or 0 to leave it to the host's port access.
typedef int (*QrxModuleOutPortFn)(void* context, uint16_t port, uint32_t value);
#define QRX_PORT_MADE 1
#define QRX_PORT_REFUSED (-1)

#define QRX_MODULE_OPEN "qrx_module_open"
#define QRX_MODULE_CONTROL "qrx_module_control"
#define QRX_MODULE_CLOSE "qrx_module_close"
#define QRX_MODULE_CPUID "qrx_module_cpuid"
#define QRX_MODULE_OUTPORT "qrx_module_outport"

#ifdef __cplusplus
}
#endif
