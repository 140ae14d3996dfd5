// The kernel backend: the real processor, through the kernel driver qrxvxd.ko. Requests 1 to 6
// go to its device unchanged, the port output as its request 7; CPUID is the processor's own
// instruction, which needs no driver. The driver applies its rules to every change; a refusal
// becomes one line on standard error in the user's words (vxd/Refusal.h).
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kernel/qrxvxd.h"
#include "kernel/qrxvxd_rules.h"
#include "platform/posixlib/Ascii.h"
#include "vxd/Backend.h"
#include "vxd/Refusal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

// A signal the program handles interrupts a request before it had any effect (the kernel
// driver's lock and clock wait both give way to signals); it is sent again, a few times.
constexpr int Attempts = 5;

int Send(int fd, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    qrxvxd_request request{};
    request.code = code;
    request.in_size = inSize;
    request.out_size = outSize;
    request.in = reinterpret_cast<uintptr_t>(in);
    request.out = reinterpret_cast<uintptr_t>(out);
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (::ioctl(fd, QRXVXD_REQUEST, &request) == 0)
            return 0;
        if (errno != EINTR)
            break;
    }
    return errno;
}

// The first line of a system file, or "" when it cannot be read. Plain reads: a system file
// is short, and the driver module keeps out of the C++ streams' locale machinery.
std::string FirstLine(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return "";
    char text[256];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    const std::string content(text, n > 0 ? static_cast<size_t>(n) : 0);
    return content.substr(0, content.find('\n'));
}

// The multiplier code a port output asks for.
constexpr uint32_t MultiplierCode(uint32_t value) {
    return (value >> 5) & 7;
}

class KernelBackend : public Backend {
public:
    explicit KernelBackend(int fd) : fd_(fd) {}
    ~KernelBackend() override { ::close(fd_); }
    KernelBackend(const KernelBackend&) = delete;
    KernelBackend& operator=(const KernelBackend&) = delete;

    bool Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned) override {
        // The port output has its own entry; nothing else but the driver link's six requests
        // and the machine's facts reaches the kernel through this one.
        if ((code < QRXVXD_READ_MSR || code > QRXVXD_SET_L2_CACHE) && code != QRXVXD_MACHINE)
            return false;
        const int error = Send(fd_, code, in, inSize, out, outSize);
        if (error != 0) {
            Explain(code, static_cast<const uint32_t*>(in), inSize, error);
            return false;
        }
        if (bytesReturned)
            *bytesReturned = outSize;
        return true;
    }

    int Cpuid(uint32_t, uint32_t[4]) override { return 0; }

    bool OutPort(uint16_t port, uint32_t value) override {
        const uint32_t in[2] = {port, value};
        const int error = Send(fd_, QRXVXD_PORT_OUTPUT, in, sizeof in, nullptr, 0);
        if (error == 0)
            return true;
        // Where a cpufreq driver manages the multiplier, writing back the one the processor
        // reports is no change: the programs write it back whenever they apply settings.
        if (error == EBUSY && MultiplierCode(value) == (ReadRegister(QRXVXD_MSR_PSOR) & 7))
            return true;
        Explain(QRXVXD_PORT_OUTPUT, in, sizeof in, error);
        return false;
    }

private:
    uint64_t ReadRegister(uint32_t msr) {
        uint32_t value[2] = {0, 0};
        Send(fd_, QRXVXD_READ_MSR, &msr, sizeof msr, value, sizeof value);
        return (static_cast<uint64_t>(value[0]) << 32) | value[1];
    }

    // Gathers what the refusal needs and reports it, when it was a refusal.
    void Explain(uint32_t code, const uint32_t* in, uint32_t inSize, int error) {
        if (!in || inSize < 4)
            return;
        RefusalFacts facts;
        facts.machineKnown =
            Send(fd_, QRXVXD_MACHINE, nullptr, 0, &facts.machine, sizeof facts.machine) == 0;
#if defined(__i386__) || defined(__x86_64__)
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
            facts.model = (eax >> 4) & 15;
            facts.stepping = eax & 15;
        }
#endif
        if (code == QRXVXD_WRITE_MSR && inSize >= 12)
            facts.registerValue = ReadRegister(in[0]);
        facts.cpufreqDriver = FirstLine("/sys/devices/system/cpu/cpu0/cpufreq/scaling_driver");
        const std::string lockdown = FirstLine("/sys/kernel/security/lockdown");
        facts.lockedDown = !lockdown.empty() && lockdown.find("[none]") == std::string::npos;
        const uint32_t words[3] = {in[0], inSize >= 8 ? in[1] : 0, inSize >= 12 ? in[2] : 0};
        const std::string line = DescribeRefusal(code, words, error, facts);
        if (!line.empty())
            ReportProblem(qrxposix::VisibleControls(line));
    }

    int fd_;
};

// What to do when the device is not the kernel driver's.
std::string LoadTheDriver(const std::string& devicePath) {
    return std::string("load the kernel driver (modprobe qrxvxd, or insmod qrxvxd.ko)") +
           (devicePath == QRXVXD_DEVICE_PATH ? "" : " and leave QRX_KERNEL_DEVICE unset") +
           ", or set QRX_DRIVER=simulated for the simulated processor";
}

} // namespace

std::unique_ptr<Backend> OpenKernelBackend(const std::string& devicePath) {
    const std::string shown = qrxposix::VisibleControls(devicePath);
    struct stat st;
    if (::stat(devicePath.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT)
            ReportProblem(shown + " does not exist: " + LoadTheDriver(devicePath));
        else
            ReportProblem("cannot use " + shown + ": " + std::strerror(error));
        return nullptr;
    }
    if (!S_ISCHR(st.st_mode)) {
        ReportProblem(shown + " is not a character device, so not the kernel driver's: " +
                      LoadTheDriver(devicePath));
        return nullptr;
    }
    // Not blocking: a device that is not ours may wait in its open (a modem line does).
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            ReportProblem("no permission to use " + shown +
                          ": join group quorix (the udev rule 60-qrxvxd.rules gives the "
                          "device to it) and log in again, or run as root");
        else
            ReportProblem("cannot open " + shown + ": " + std::strerror(error));
        return nullptr;
    }
    // Reading CR0 changes nothing and always succeeds on the kernel driver; any other device
    // refuses the request (another driver does not know its number).
    uint32_t cr0 = 0;
    const int error = Send(fd, QRXVXD_READ_CR0, nullptr, 0, &cr0, sizeof cr0);
    if (error != 0) {
        ::close(fd);
        ReportProblem(shown + " is not the kernel driver's device (it refused a request: " +
                      std::strerror(error) + "): " + LoadTheDriver(devicePath));
        return nullptr;
    }
    return std::make_unique<KernelBackend>(fd);
}
