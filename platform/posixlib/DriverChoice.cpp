// DriverChoice: the rule that picks the simulated or the real processor.
#include "platform/posixlib/DriverChoice.h"

#include <cstdlib>
#include <sys/stat.h>

#include "kernel/qrxvxd.h"
#include "platform/posixlib/Ascii.h"

namespace qrxposix {

namespace {
std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
} // namespace

DriverChoice ChooseDriver() {
    DriverChoice choice;
    choice.value = Variable("QRX_DRIVER");
    choice.devicePath = Variable("QRX_KERNEL_DEVICE");
    if (choice.devicePath.empty())
        choice.devicePath = QRXVXD_DEVICE_PATH;
    if (choice.value == "simulated") {
        choice.kind = DriverKind::Simulated;
    } else if (choice.value == "hardware") {
        choice.kind = DriverKind::Hardware;
    } else if (choice.value.empty()) {
        struct stat st;
        choice.kind = ::stat(choice.devicePath.c_str(), &st) == 0 ? DriverKind::Hardware
                                                                  : DriverKind::Simulated;
    } else {
        choice.kind = DriverKind::Unknown;
    }
    return choice;
}

std::string DescribeDriverChoice(const DriverChoice& choice) {
    switch (choice.kind) {
    case DriverKind::Simulated:
        return "simulated processor";
    case DriverKind::Hardware:
        return "real processor at " + VisibleControls(choice.devicePath);
    case DriverKind::Unknown:
        break;
    }
    return "no processor: QRX_DRIVER=" + VisibleControls(choice.value);
}

} // namespace qrxposix
