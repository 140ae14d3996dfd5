// A driver module whose close entry reports failure, so the console program's "Unable to unload
// VXD." path can be run. It answers every request with success and simulates no processor.
#include "platform/DeviceModule.h"

#define QRX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_context;
}

QRX_EXPORT void* qrx_module_open(void) {
    return &g_context;
}

QRX_EXPORT int qrx_module_control(void*, uint32_t, const void*, uint32_t, void*, uint32_t,
                                  uint32_t* bytesReturned) {
    if (bytesReturned)
        *bytesReturned = 0;
    return 1;
}

QRX_EXPORT int qrx_module_close(void*) {
    return 0;
}
