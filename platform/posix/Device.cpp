// Device seam, POSIX: a device name "\\.\" + path names a driver module file that is loaded
// with dlopen; handles are small numbers into a table of open modules.
#include "platform/Device.h"

#include <dlfcn.h>
#include <map>
#include <mutex>

#include "platform/DeviceModule.h"

namespace {

struct OpenModule {
    void* library = nullptr;
    void* context = nullptr;
    QrxModuleControlFn control = nullptr;
    QrxModuleCloseFn close = nullptr;
    QrxModuleCpuidFn cpuid = nullptr;
    QrxModuleOutPortFn outPort = nullptr;
};

const char DevicePrefix[] = "\\\\.\\";

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}

// Handles are never reused, so a stale handle fails instead of reaching a later device.
std::map<DeviceHandle, OpenModule>& Table() {
    static std::map<DeviceHandle, OpenModule> table;
    return table;
}

DeviceHandle& LastHandle() {
    static DeviceHandle last = 0;
    return last;
}

DeviceHandle NextHandle() {
    DeviceHandle& last = LastHandle();
    do {
        ++last;
    } while (last == 0 || last == InvalidDeviceHandle || Table().count(last));
    return last;
}

template <typename Fn> Fn Symbol(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

} // namespace

DeviceHandle OpenDevice(const std::string& deviceName, uint32_t flags) {
    // Every handle unloads the module when it closes (dlopen counts the loads), which is what
    // the delete-on-close flag asks for; the module file itself is never deleted.
    (void)flags;
    const std::string prefix = DevicePrefix;
    if (deviceName.compare(0, prefix.size(), prefix) != 0 || deviceName.size() == prefix.size())
        return InvalidDeviceHandle;
    std::string path = deviceName.substr(prefix.size());
    // Without a slash dlopen would search the library path instead of naming a file.
    if (path.find('/') == std::string::npos)
        path = "./" + path;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return InvalidDeviceHandle;
    OpenModule module;
    module.library = library;
    const auto open = Symbol<QrxModuleOpenFn>(library, QRX_MODULE_OPEN);
    module.control = Symbol<QrxModuleControlFn>(library, QRX_MODULE_CONTROL);
    module.close = Symbol<QrxModuleCloseFn>(library, QRX_MODULE_CLOSE);
    module.cpuid = Symbol<QrxModuleCpuidFn>(library, QRX_MODULE_CPUID);
    module.outPort = Symbol<QrxModuleOutPortFn>(library, QRX_MODULE_OUTPORT);
    if (!open || !module.control || !module.close) {
        dlclose(library);
        return InvalidDeviceHandle;
    }
    module.context = open();
    if (!module.context) {
        dlclose(library);
        return InvalidDeviceHandle;
    }
    std::lock_guard<std::mutex> guard(TableMutex());
    const DeviceHandle handle = NextHandle();
    Table()[handle] = module;
    return handle;
}

bool DeviceControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize, uint32_t* bytesReturned) {
    // Held across the call, so a close from another thread cannot unload the module under it.
    std::lock_guard<std::mutex> guard(TableMutex());
    const auto it = Table().find(handle);
    if (it == Table().end())
        return false;
    const OpenModule& module = it->second;
    return module.control(module.context, code, in, inSize, out, outSize, bytesReturned) != 0;
}

bool CloseDevice(DeviceHandle handle) {
    std::lock_guard<std::mutex> guard(TableMutex());
    const auto it = Table().find(handle);
    if (it == Table().end())
        return false;
    const OpenModule module = it->second;
    Table().erase(it);
    const bool closed = module.close(module.context) != 0;
    dlclose(module.library);
    return closed;
}

uint32_t ShortPathName(char* buffer, uint32_t bufferSize) {
    (void)buffer;
    (void)bufferSize;
    return 0;
}

ModuleCpuid DeviceModuleCpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    std::lock_guard<std::mutex> guard(TableMutex());
    for (auto it = Table().rbegin(); it != Table().rend(); ++it) {
        const OpenModule& m = it->second;
        const int answer = m.cpuid ? m.cpuid(m.context, leaf, subleaf, regs) : 0;
        if (answer > 0)
            return ModuleCpuid::Answered;
        if (answer < 0)
            return ModuleCpuid::Unanswered;
    }
    return ModuleCpuid::NotTaken;
}

ModulePortOutput DeviceModuleOutPort(uint16_t port, uint32_t value) {
    std::lock_guard<std::mutex> guard(TableMutex());
    for (auto it = Table().rbegin(); it != Table().rend(); ++it) {
        const OpenModule& m = it->second;
        const int answer = m.outPort ? m.outPort(m.context, port, value) : 0;
        if (answer > 0)
            return ModulePortOutput::Made;
        if (answer < 0)
            return ModulePortOutput::Refused;
    }
    return ModulePortOutput::NotTaken;
}
