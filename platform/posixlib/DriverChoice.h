// DriverChoice: which processor the driver module drives, the simulated one or the real one
// through the kernel driver. The module follows it when it is opened, and the programs show it,
// so both read the same rule from the same environment.
#pragma once

#include <string>

namespace qrxposix {

enum class DriverKind {
    Simulated, // the simulated machine of the state file (simulator/)
    Hardware,  // the real processor, through the kernel driver's device
    Unknown,   // QRX_DRIVER holds neither of the two values: nothing may be driven
};

struct DriverChoice {
    DriverKind kind = DriverKind::Simulated;
    std::string devicePath; // the kernel driver's device: $QRX_KERNEL_DEVICE, else /dev/qrxvxd
    std::string value;      // QRX_DRIVER as given (empty when unset)
};

// QRX_DRIVER=simulated or =hardware decide; unset or empty: the kernel driver when its device
// path exists (whatever it is: opening it then says what is wrong with it), else the simulated
// machine.
DriverChoice ChooseDriver();

// What a program shows: "simulated processor", "real processor at /dev/qrxvxd", or
// "no processor: QRX_DRIVER=VALUE" (control characters shown as \xNN).
std::string DescribeDriverChoice(const DriverChoice& choice);

} // namespace qrxposix
