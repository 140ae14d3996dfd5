// The kernel backend: the real processor, through the kernel driver qrxvxd.ko. Requests 1 to 6
// go to its device unchanged, the port output as its request 7; CPUID is the processor's own
// instruction, which needs no driver.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kernel/qrxvxd.h"
#include "platform/posixlib/Ascii.h"
#include "vxd/Backend.h"

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

class KernelBackend : public Backend {
public:
    explicit KernelBackend(int fd) : fd_(fd) {}
    ~KernelBackend() override { ::close(fd_); }
    KernelBackend(const KernelBackend&) = delete;
    KernelBackend& operator=(const KernelBackend&) = delete;

    bool Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned) override {
        // The port output has its own entry; nothing else but the driver link's six requests
        // reaches the kernel through this one.
        if (code < QRXVXD_READ_MSR || code > QRXVXD_SET_L2_CACHE)
            return false;
        if (Send(fd_, code, in, inSize, out, outSize) != 0)
            return false;
        if (bytesReturned)
            *bytesReturned = outSize;
        return true;
    }

    int Cpuid(uint32_t, uint32_t[4]) override { return 0; }

    bool OutPort(uint16_t port, uint32_t value) override {
        const uint32_t in[2] = {port, value};
        return Send(fd_, QRXVXD_PORT_OUTPUT, in, sizeof in, nullptr, 0) == 0;
    }

private:
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
