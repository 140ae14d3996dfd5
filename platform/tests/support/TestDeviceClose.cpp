// The close entry of the device seam's test module (TestDeviceModule.cpp).
#include "TestDeviceModule.h"

#include "platform/DeviceModule.h"

extern "C" __attribute__((visibility("default"))) int qrx_module_close(void* context) {
    return context == &TestDeviceContext;
}
