// qrxvxd.vxd: the driver module that simulates a K6-family machine. Every entry runs one
// locked transaction on the shared state file, so all processes with the driver open see one
// machine, and logs itself in the request log.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/DeviceModule.h"
#include "simulator/StateStore.h"

#define QRX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ModuleContext {
    std::mutex mutex; // one request at a time per handle, even from several threads
    std::unique_ptr<SimStore> store;
    std::string lastReport;
};

// A broken state file is the user's to mend, so say so on standard error; but only once per
// distinct problem, not on every request of a program that goes on regardless.
void Report(ModuleContext* context, const std::string& message) {
    if (context && context->lastReport == message)
        return;
    if (context)
        context->lastReport = message;
    std::fprintf(stderr, "qrxvxd.vxd: %s\n", message.c_str());
}

ModuleContext* ContextOf(void* context) {
    return static_cast<ModuleContext*>(context);
}

} // namespace

QRX_EXPORT void* qrx_module_open(void) {
    try {
        auto context = std::make_unique<ModuleContext>();
        context->store = std::make_unique<SimStore>(SimStatePath());
        // Creates a missing machine and refuses the open when the file is damaged.
        context->store->Transact([](SimMachine&, std::vector<std::string>&) { return false; });
        return context.release();
    } catch (const std::exception& e) {
        Report(nullptr, e.what());
        return nullptr;
    }
}

QRX_EXPORT int qrx_module_control(void* handle, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    std::lock_guard<std::mutex> guard(context->mutex);
    // The answer goes to a local buffer first: the caller's buffer is written only when the
    // request succeeded and its effect is safely stored.
    unsigned char result[8] = {};
    uint32_t returned = 0;
    SimOutcome outcome;
    try {
        context->store->Transact([&](SimMachine& m, std::vector<std::string>& log) {
            outcome = SimControl(m, code, in, inSize, out ? result : nullptr,
                                 outSize < sizeof result ? outSize : sizeof result, &returned);
            log.push_back(outcome.logLine);
            return outcome.ok && outcome.changed;
        });
    } catch (const std::exception& e) {
        Report(context, e.what());
        return 0;
    }
    context->lastReport.clear();
    if (!outcome.ok)
        return 0;
    if (out && returned)
        std::memcpy(out, result, returned);
    if (bytesReturned)
        *bytesReturned = returned;
    return 1;
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
    uint32_t answer[4] = {};
    try {
        context->store->Transact([&](SimMachine& m, std::vector<std::string>& log) {
            log.push_back(SimCpuid(m, leaf, answer).logLine);
            return false;
        });
        context->lastReport.clear();
    } catch (const std::exception& e) {
        // Still the simulated processor that answers: one that cannot be read says nothing,
        // rather than letting the host's own processor speak for it.
        Report(context, e.what());
        std::memset(answer, 0, sizeof answer);
    }
    std::memcpy(regs, answer, sizeof answer);
    return 1;
}

QRX_EXPORT int qrx_module_outport(void* handle, uint16_t port, uint32_t value) {
    ModuleContext* context = ContextOf(handle);
    if (!context)
        return 0;
    std::lock_guard<std::mutex> guard(context->mutex);
    try {
        context->store->Transact([&](SimMachine& m, std::vector<std::string>& log) {
            const SimOutcome outcome = SimOutPort(m, port, value);
            log.push_back(outcome.logLine);
            return outcome.changed;
        });
        context->lastReport.clear();
    } catch (const std::exception& e) {
        Report(context, e.what());
    }
    return 1;
}

static_assert(std::is_same_v<decltype(&qrx_module_open), QrxModuleOpenFn>);
static_assert(std::is_same_v<decltype(&qrx_module_control), QrxModuleControlFn>);
static_assert(std::is_same_v<decltype(&qrx_module_close), QrxModuleCloseFn>);
static_assert(std::is_same_v<decltype(&qrx_module_cpuid), QrxModuleCpuidFn>);
static_assert(std::is_same_v<decltype(&qrx_module_outport), QrxModuleOutPortFn>);
