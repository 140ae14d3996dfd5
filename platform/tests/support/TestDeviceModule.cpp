// A plain device module for the device seam's tests: it echoes its input, fails code 99, and
// refuses the open while QRX_TESTDEV_REFUSE is set. It simulates no processor. Its close entry
// stands in a file of its own, so a module without one is these entries alone.
#include "TestDeviceModule.h"

#include <cstdlib>
#include <cstring>

#include "platform/DeviceModule.h"

#define QRX_EXPORT extern "C" __attribute__((visibility("default")))

int TestDeviceContext;

QRX_EXPORT void* qrx_module_open(void) {
    return std::getenv("QRX_TESTDEV_REFUSE") ? nullptr : &TestDeviceContext;
}

QRX_EXPORT int qrx_module_control(void* context, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (context != &TestDeviceContext || code == 99)
        return 0;
    const uint32_t n = inSize < outSize ? inSize : outSize;
    if (n)
        std::memcpy(out, in, n);
    if (bytesReturned)
        *bytesReturned = n;
    return 1;
}
