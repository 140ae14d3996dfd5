// Tweak identification: the record's defaults, the CPUID-based identification and the handler
// choice per processor model.
#include "engine/Tweak.h"

#include <cstring>

#include "common/General.h"
#include "common/Messages.h"
#include "platform/Processor.h"

// The default handlers make a call that slipped past a Supported flag visible.
void SetWADefault(WATp) {
    ShowError("SetWADefault executed.");
}
void GetWADefault(WATp&) {
    ShowError("GetWADefault executed.");
}
void SetWCDefault(WCTp) {
    ShowError("SetWCDefault executed.");
}
void GetWCDefault(WCTp&) {
    ShowError("GetWCDefault executed.");
}
void SetMultiplierDefault(uint8_t) {
    ShowError("SetMultiplierDefault executed.");
}
void GetMultiplierDefault(uint8_t&) {
    ShowError("GetMultiplierDefault executed.");
}
void SetL2Default(bool, bool) {
    ShowError("SetL2Default executed.");
}
void GetL2Default(bool&, bool&) {
    ShowError("GetL2Default executed.");
}
void SetWriteOrderingDefault(bool, WriteOrderingTp) {
    ShowError("SetWriteOrderingDefault executed.");
}
void GetWriteOrderingDefault(bool&, WriteOrderingTp&) {
    ShowError("GetWriteOrderingDefault executed.");
}
void SetDataPrefetchDefault(bool, bool) {
    ShowError("SetDataPrefetchDefault executed.");
}
void GetDataPrefetchDefault(bool&, bool&) {
    ShowError("GetDataPrefetchDefault executed.");
}

void SetDefaults(SettingsTp& Settings) {
    // The L1 slots survive: every identified record has them, and a fresh record's are empty.
    const SetL1ProcTp setL1 = Settings.SetL1Proc;
    const GetL1ProcTp getL1 = Settings.GetL1Proc;
    Settings = SettingsTp{};
    Settings.SetL1Proc = setL1;
    Settings.GetL1Proc = getL1;
}

bool ExecuteCPUID(uint32_t Leaf, uint32_t& EAX, uint32_t& EBX, uint32_t& ECX, uint32_t& EDX) {
    const CpuidResult r = ExecuteCpuidInstruction(Leaf, 0);
    EAX = r.eax;
    EBX = r.ebx;
    ECX = r.ecx;
    EDX = r.edx;
    return true;
}

namespace {

enum class WAVariant { None, K6, CXT };

// What identification decided this processor offers, besides the L1 switch.
struct Selection {
    WAVariant WA = WAVariant::None;
    bool Ranges = false;
    bool L2 = false;
    bool WriteOrdering = false;
    bool DataPrefetch = false;
    bool Multiplier = false;
};

// The family-5 table: name and features by model and stepping. Anything outside it keeps
// "Unknown CPU" and an empty selection.
void SelectFamily5(uint8_t model, uint8_t stepping, std::string& name, Selection& sel) {
    const auto cxtCore = [&sel](bool l2, bool multiplier) {
        sel.WA = WAVariant::CXT;
        sel.Ranges = true;
        sel.WriteOrdering = true;
        sel.DataPrefetch = true;
        sel.L2 = l2;
        sel.Multiplier = multiplier;
    };
    switch (model) {
    case 6:
    case 7:
        name = "AMD-K6(tm)";
        sel.WA = WAVariant::K6;
        break;
    case 8:
        name = "AMD-K6(tm)-2";
        if (stepping <= 7)
            sel.WA = WAVariant::K6;
        else
            cxtCore(false, false);
        break;
    case 9:
        name = "AMD-K6(tm)-III";
        cxtCore(true, false);
        break;
    case 13:
        if (stepping <= 3)
            name = "AMD-K6(tm)-III+";
        else if (stepping <= 7)
            name = "AMD-K6(tm)-2+";
        cxtCore(true, true);
        break;
    default:
        break;
    }
}

void PutRegisterBytes(uint32_t value, char* out) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

void IdentifyCPU(SettingsTp& Settings) {
    SetDefaults(Settings);
    Selection sel;

    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    ExecuteCPUID(0, eax, ebx, ecx, edx);
    const uint32_t highestLeaf = eax & 0xFFFF;
    PutRegisterBytes(ebx, &Settings.CPU.VendorID[0]);
    PutRegisterBytes(edx, &Settings.CPU.VendorID[4]);
    PutRegisterBytes(ecx, &Settings.CPU.VendorID[8]);
    if (std::memcmp(Settings.CPU.VendorID.data(), "AuthenticAMD", 12) == 0)
        Settings.CPU.VendorUnknown = false;

    ExecuteCPUID(1, eax, ebx, ecx, edx);
    Settings.CPU.HasTSC = ExtractBits(edx, 4, 4) != 0;

    // Every processor has the L1 switch in control register 0.
    Settings.L1Supported = true;
    Settings.SetL1Proc = SetL1;
    Settings.GetL1Proc = GetL1;

    if (!Settings.CPU.VendorUnknown) {
        if (highestLeaf == 0)
            return;
        ExecuteCPUID(1, eax, ebx, ecx, edx);
        Settings.CPU.IDValid = true;
        Settings.CPU.Family = static_cast<uint8_t>(ExtractBits(eax, 8, 11));
        Settings.CPU.Model = static_cast<uint8_t>(ExtractBits(eax, 4, 7));
        Settings.CPU.Stepping = static_cast<uint8_t>(ExtractBits(eax, 0, 3));
        if (Settings.CPU.Family == 5)
            SelectFamily5(Settings.CPU.Model, Settings.CPU.Stepping, Settings.CPU.Name, sel);
    }

    if (sel.WA == WAVariant::K6) {
        Settings.SetWAProc = SetWAK6;
        Settings.GetWAProc = GetWAK6;
        Settings.WA.WASupported = true;
    } else if (sel.WA == WAVariant::CXT) {
        Settings.SetWAProc = SetWACXT;
        Settings.GetWAProc = GetWACXT;
        Settings.WA.WASupported = true;
    }
    if (sel.Ranges) {
        Settings.SetWCProc = SetWC;
        Settings.GetWCProc = GetWC;
        Settings.WC.WCSupported = true;
    }
    if (sel.Multiplier) {
        Settings.CPU.MultiplierKnown = true;
        Settings.CPU.MultiplierSupported = true;
        Settings.SetMultiplierProc = SetMultiplier;
        Settings.GetMultiplierProc = GetMultiplier;
    }
    if (sel.L2) {
        Settings.SetL2Proc = SetL2;
        Settings.GetL2Proc = GetL2;
        Settings.L2Supported = true;
    }
    if (sel.WriteOrdering) {
        Settings.SetWriteOrderingProc = SetWriteOrdering;
        Settings.GetWriteOrderingProc = GetWriteOrdering;
        Settings.WriteOrderingSupported = true;
    }
    if (sel.DataPrefetch) {
        Settings.SetDataPrefetchProc = SetDataPrefetch;
        Settings.GetDataPrefetchProc = GetDataPrefetch;
        Settings.DataPrefetchSupported = true;
    }

    GetAllSettings(Settings);
}
