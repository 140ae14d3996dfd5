// qrxvxd.vxd: the driver module that the programs load. When it is opened it picks its backend
// by QRX_DRIVER (platform/posixlib/DriverChoice.h): the simulated machine or the real processor
// through the kernel driver. Its entry points only route to that backend, one request at a time.
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/DeviceModule.h"
#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/DriverChoice.h"
#include "vxd/Backend.h"

#define QRX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ModuleContext {
    std::mutex mutex; // one request at a time per handle, even from several threads
    std::unique_ptr<Backend> backend;
};

ModuleContext* ContextOf(void* context) {
    return static_cast<ModuleContext*>(context);
}

std::unique_ptr<Backend> OpenChosenBackend() {
    const qrxposix::DriverChoice choice = qrxposix::ChooseDriver();
    switch (choice.kind) {
    case qrxposix::DriverKind::Simulated:
        return OpenSimulatedBackend();
    case qrxposix::DriverKind::Hardware:
        return OpenKernelBackend(choice.devicePath);
    case qrxposix::DriverKind::Unknown:
        break;
    }
    ReportProblem("QRX_DRIVER=" + qrxposix::VisibleControls(choice.value) +
                  " is no choice: set it to simulated (the simulated processor) or hardware (the "
                  "real one, through the kernel driver)");
    return nullptr;
}

} // namespace

// Problems name files and paths from the environment, which may hold anything: the terminal gets
// their control characters as text.
void ReportProblem(const std::string& message) {
    std::fprintf(stderr, "qrxvxd.vxd: %s\n", qrxposix::VisibleControls(message).c_str());
}

QRX_EXPORT void* qrx_module_open(void) {
    try {
        auto context = std::make_unique<ModuleContext>();
        context->backend = OpenChosenBackend();
        return context->backend ? context.release() : nullptr;
    } catch (const std::exception& e) {
        ReportProblem(e.what());
        return nullptr;
    }
}

QRX_EXPORT int qrx_module_control(void* handle, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    std::lock_guard<std::mutex> guard(context->mutex);
    try {
        return context->backend->Control(code, in, inSize, out, outSize, bytesReturned) ? 1 : 0;
    } catch (const std::exception& e) {
        ReportProblem(e.what());
        return 0;
    }
}

QRX_EXPORT int qrx_module_close(void* handle) {
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    delete context;
    return 1;
}

QRX_EXPORT int qrx_module_cpuid(void* handle, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    (void)subleaf; // no leaf of this family has sub-leaves
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    std::lock_guard<std::mutex> guard(context->mutex);
    try {
        return context->backend->Cpuid(leaf, regs);
    } catch (const std::exception& e) {
        ReportProblem(e.what());
        return QRX_CPUID_UNANSWERED;
    }
}

QRX_EXPORT int qrx_module_outport(void* handle, uint16_t port, uint32_t value) {
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    std::lock_guard<std::mutex> guard(context->mutex);
    try {
        return context->backend->OutPort(port, value) ? QRX_PORT_MADE : QRX_PORT_REFUSED;
    } catch (const std::exception& e) {
        ReportProblem(e.what());
        return QRX_PORT_REFUSED;
    }
}

static_assert(std::is_same_v<decltype(&qrx_module_open), QrxModuleOpenFn>);
static_assert(std::is_same_v<decltype(&qrx_module_control), QrxModuleControlFn>);
static_assert(std::is_same_v<decltype(&qrx_module_close), QrxModuleCloseFn>);
static_assert(std::is_same_v<decltype(&qrx_module_cpuid), QrxModuleCpuidFn>);
static_assert(std::is_same_v<decltype(&qrx_module_outport), QrxModuleOutPortFn>);
