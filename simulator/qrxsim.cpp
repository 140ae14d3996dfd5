// qrxsim: the tool for the simulated processor. Resets it, picks a processor, reads and writes
// its registers, shows the request log and injects faults. Exit 0, 2 for bad usage, 1 when the
// state file cannot be used.
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/DriverChoice.h"
#include "simulator/Machine.h"
#include "simulator/SimText.h"
#include "simulator/StateStore.h"

namespace {

const char UsageText[] =
    "usage: qrxsim [--state FILE] COMMAND\n"
    "Sets up and shows the simulated processor, never the real one.\n"
    "  reset [PRESET]            a freshly reset machine (default k6-3+)\n"
    "  reset custom VENDOR FAMILY MODEL STEPPING [MAXLEAF [TSC]]\n"
    "                            the same for any identity (decimal; TSC 0 or 1)\n"
    "  presets                   list the presets\n"
    "  show                      identity, clock and every register decoded\n"
    "  get REG                   one value in hex: an MSR index (C0000085) or name (EFER,\n"
    "                            WHCR, UWCCR, EPMR, PSOR), CR0, or PORT\n"
    "  set REG VALUE             store a value (hex) directly, bypassing faults and the log\n"
    "  fail [CODE ...]           requests (1..6) that fail from now on; none clears\n"
    "  log                       the request log, oldest first\n"
    "  log clear                 empty the log\n"
    "  memory                    the memory map the driver would know (request 8)\n"
    "  memory MB [hole] [window BASE SIZE]...\n"
    "                            set it: installed MB, 15-16 MB not memory, up to 4\n"
    "                            display windows (hex base, size as 4MB); none removes it\n"
    "The state file is FILE, else $QRX_SIM_STATE, else $XDG_STATE_HOME/quorix/simulated-cpu.\n";

// What show says first: this is the simulated processor, and whether the programs drive it now.
std::string SimulatedNotReal() {
    const qrxposix::DriverChoice choice = qrxposix::ChooseDriver();
    std::string text = "The simulated processor, not the real one.\n";
    if (choice.kind == qrxposix::DriverKind::Hardware)
        text += "The programs drive the " + qrxposix::DescribeDriverChoice(choice) +
                " now; with QRX_DRIVER=simulated they drive this one.\n";
    else if (choice.kind == qrxposix::DriverKind::Unknown)
        text += "The programs drive " + qrxposix::DescribeDriverChoice(choice) +
                " now; with QRX_DRIVER=simulated they drive this one.\n";
    return text;
}

// Bad usage: the message, then the usage text, on standard error.
struct UsageError {
    std::string message;
    bool showUsage = true; // false when the command was well formed but asks the impossible
};

enum class RegKind { Msr, Cr0, Port };
struct RegName {
    RegKind kind;
    uint32_t index;
};

RegName ParseReg(const std::string& text) {
    const std::string upper = qrxposix::UpperAscii(text);
    if (upper == "CR0")
        return {RegKind::Cr0, 0};
    if (upper == "PORT")
        return {RegKind::Port, 0};
    const struct {
        const char* name;
        uint32_t index;
    } names[] = {{"EFER", MsrEfer},
                 {"WHCR", MsrWhcr},
                 {"UWCCR", MsrUwccr},
                 {"EPMR", MsrEpmr},
                 {"PSOR", MsrPsor}};
    for (const auto& n : names)
        if (upper == n.name)
            return {RegKind::Msr, n.index};
    uint64_t index = 0;
    if (!ParseHex(text, 8, index))
        throw UsageError{"\"" + text +
                         "\" is not a register: give an MSR index in hex (C0000085), a register "
                         "name (EFER, WHCR, UWCCR, EPMR, PSOR), CR0 or PORT"};
    return {RegKind::Msr, static_cast<uint32_t>(index)};
}

std::string Describe(const SimMachine& m) {
    return m.preset + " (" + m.id.vendor + " " + std::to_string(m.id.family) + "/" +
           std::to_string(m.id.model) + "/" + std::to_string(m.id.stepping) + ")";
}

uint32_t Decimal(const std::string& text, uint64_t max, const char* what) {
    uint64_t value = 0;
    if (!ParseDecimal(text, max, value))
        throw UsageError{std::string(what) + " must be a decimal number from 0 to " +
                         std::to_string(max) + ", not \"" + text + "\""};
    return static_cast<uint32_t>(value);
}

// "memory MB [hole] [window BASE SIZE]..." or "memory none".
SimMemoryMap MemoryFromArgs(const std::vector<std::string>& args) {
    SimMemoryMap map;
    if (args.size() == 2 && args[1] == "none")
        return map;
    map.present = true;
    map.ramMb = Decimal(args[1], MaxRamMb, "MB");
    if (map.ramMb == 0)
        throw UsageError{"MB must be the installed memory, from 1 to 4096", false};
    size_t i = 2;
    if (i < args.size() && args[i] == "hole") {
        map.holeIsRam = false;
        ++i;
    }
    for (; i < args.size(); i += 3) {
        if (args[i] != "window" || i + 2 >= args.size())
            throw UsageError{"expected \"window BASE SIZE\", not \"" + args[i] + "\"", false};
        uint64_t base = 0, size = 0;
        if (!ParseHex(args[i + 1], 8, base))
            throw UsageError{"BASE must be up to 8 hexadecimal digits, not \"" + args[i + 1] + "\"",
                             false};
        if (!ParseWindowSize(args[i + 2], size))
            throw UsageError{"SIZE must be a number with KB, MB or GB, as 4MB, not \"" +
                                 args[i + 2] + "\"",
                             false};
        if (base + size > 0xFFFFFFFFull + 1 || size > 0xFFFFFFFFull)
            throw UsageError{"window " + Hex8(static_cast<uint32_t>(base)) + " " + args[i + 2] +
                                 " does not end below 4 GB",
                             false};
        if (map.windows.size() == MaxDisplayWindows)
            throw UsageError{"at most 4 display windows", false};
        map.windows.push_back({static_cast<uint32_t>(base), static_cast<uint32_t>(size)});
    }
    return map;
}

SimMachine ResetFromArgs(const std::vector<std::string>& args) {
    if (args.size() == 1)
        return ResetMachine(*FindPreset(DefaultPreset));
    if (args[1] == CustomPreset) {
        if (args.size() < 6 || args.size() > 8)
            throw UsageError{"reset custom needs VENDOR FAMILY MODEL STEPPING [MAXLEAF [TSC]]"};
        SimIdentity id;
        id.vendor = args[2];
        bool printable = id.vendor.size() == 12;
        for (char c : id.vendor)
            printable = printable && c > 0x20 && c < 0x7F;
        if (!printable)
            throw UsageError{"the vendor must be 12 printable characters without blanks, as "
                             "\"AuthenticAMD\", not \"" +
                             args[2] + "\""};
        id.family = Decimal(args[3], 15, "FAMILY");
        id.model = Decimal(args[4], 15, "MODEL");
        id.stepping = Decimal(args[5], 15, "STEPPING");
        if (args.size() > 6)
            id.maxLeaf = Decimal(args[6], 0xFFFFFFFFu, "MAXLEAF");
        if (args.size() > 7)
            id.tsc = Decimal(args[7], 1, "TSC") == 1;
        return ResetCustom(id);
    }
    if (args.size() > 2)
        throw UsageError{"reset takes one preset name"};
    const SimPreset* preset = FindPreset(args[1]);
    if (!preset)
        throw UsageError{"unknown preset \"" + args[1] + "\" (qrxsim presets lists them)"};
    return ResetMachine(*preset);
}

// Single blanks between the fields, as in the log: the line splits on blanks, and everything
// after the stepping is the description.
void PrintPresets() {
    for (const SimPreset& p : SimPresets()) {
        std::printf("%s %s %u %u %u %s\n", p.name, p.id.vendor.c_str(), p.id.family, p.id.model,
                    p.id.stepping, p.description);
    }
}

int Run(const std::string& statePath, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "presets") {
        if (args.size() != 1)
            throw UsageError{"presets takes no arguments"};
        PrintPresets();
        return 0;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(UsageText, stdout);
        return 0;
    }
    // The state file is opened only once the command line has passed: bad usage is exit 2
    // even where the state file could not be used, and leaves no folder or lock file behind.
    std::unique_ptr<SimStore> opened;
    auto store = [&]() -> SimStore& {
        if (!opened)
            opened = std::make_unique<SimStore>(SimStatePath(statePath));
        return *opened;
    };
    if (command == "reset") {
        const SimMachine fresh = ResetFromArgs(args);
        store().Replace(fresh);
        return 0;
    }
    if (command == "show") {
        if (args.size() != 1)
            throw UsageError{"show takes no arguments"};
        SimMachine m;
        store().Transact([&](SimMachine& current, std::vector<std::string>&) {
            m = current;
            return false;
        });
        const size_t lines = store().ReadLog().size();
        // The path and the log come from the environment and from files, which may hold
        // anything; the terminal gets their control characters as text.
        std::cout << SimulatedNotReal()
                  << "State file:  " << qrxposix::VisibleControls(store().Path()) << "\n"
                  << DescribeMachine(m) << "Log:         " << lines
                  << (lines == 1 ? " line" : " lines") << "\n";
        return 0;
    }
    if (command == "get" || command == "set") {
        const size_t want = command == "get" ? 2 : 3;
        if (args.size() != want)
            throw UsageError{command == "get" ? "get needs REG" : "set needs REG VALUE"};
        const RegName reg = ParseReg(args[1]);
        uint64_t value = 0;
        if (command == "set" && !ParseHex(args[2], reg.kind == RegKind::Msr ? 16 : 8, value))
            throw UsageError{"VALUE must be up to " +
                             std::string(reg.kind == RegKind::Msr ? "16" : "8") +
                             " hexadecimal digits, not \"" + args[2] + "\""};
        std::string absent, output;
        store().Transact([&](SimMachine& m, std::vector<std::string>&) {
            uint64_t current = 0;
            switch (reg.kind) {
            case RegKind::Cr0:
                output = Hex8(m.cr0);
                m.cr0 = static_cast<uint32_t>(value);
                break;
            case RegKind::Port:
                output = Hex8(m.port);
                m.port = static_cast<uint32_t>(value);
                break;
            case RegKind::Msr:
                if (!GetMsr(m, reg.index, current)) {
                    absent = Describe(m);
                    return false;
                }
                output = Hex16(current);
                SetMsr(m, reg.index, value);
                break;
            }
            return command == "set";
        });
        if (!absent.empty())
            throw UsageError{"the simulated " + absent + " has no register " + Hex8(reg.index),
                             false};
        if (command == "get")
            std::cout << output << "\n";
        return 0;
    }
    if (command == "fail") {
        std::set<uint32_t> codes;
        for (size_t i = 1; i < args.size(); ++i) {
            uint64_t code = 0;
            if (!ParseDecimal(args[i], 6, code) || code == 0)
                throw UsageError{"request codes are 1 to 6, not \"" + args[i] + "\""};
            codes.insert(static_cast<uint32_t>(code));
        }
        store().Transact([&](SimMachine& m, std::vector<std::string>&) {
            m.failing = codes;
            return true;
        });
        return 0;
    }
    if (command == "memory") {
        if (args.size() == 1) {
            SimMemoryMap map;
            store().Transact([&](SimMachine& m, std::vector<std::string>&) {
                map = m.memory;
                return false;
            });
            std::cout << DescribeMemoryMap(map) << "\n";
            return 0;
        }
        const SimMemoryMap map = MemoryFromArgs(args);
        store().Transact([&](SimMachine& m, std::vector<std::string>&) {
            m.memory = map;
            return true;
        });
        return 0;
    }
    if (command == "log") {
        if (args.size() == 1) {
            for (const std::string& line : store().ReadLog())
                std::cout << qrxposix::VisibleControls(line) << "\n";
            return 0;
        }
        if (args.size() == 2 && args[1] == "clear") {
            store().ClearLog();
            return 0;
        }
        throw UsageError{"log takes nothing or \"clear\""};
    }
    throw UsageError{"unknown command \"" + command + "\""};
}

} // namespace

int main(int argc, char** argv) {
    std::string statePath;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--state") {
            if (i + 1 >= argc || !*argv[i + 1]) {
                std::fprintf(stderr, "qrxsim: --state needs a FILE\n%s", UsageText);
                return 2;
            }
            statePath = argv[++i];
        } else if (arg.compare(0, 8, "--state=") == 0 && arg.size() > 8) {
            statePath = arg.substr(8);
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        std::fprintf(stderr, "qrxsim: no command given\n%s", UsageText);
        return 2;
    }
    // The messages quote arguments and file names as given; their control characters are
    // shown, not sent to the terminal.
    try {
        return Run(statePath, args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qrxsim: %s\n%s", qrxposix::VisibleControls(e.message).c_str(),
                     e.showUsage ? UsageText : "");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrxsim: %s\n", qrxposix::VisibleControls(e.what()).c_str());
        return 1;
    }
}
