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
bool GetWADefault(WATp&) {
    ShowError("GetWADefault executed.");
    return false;
}
void SetWCDefault(WCTp) {
    ShowError("SetWCDefault executed.");
}
bool GetWCDefault(WCTp&) {
    ShowError("GetWCDefault executed.");
    return false;
}
void SetMultiplierDefault(uint8_t) {
    ShowError("SetMultiplierDefault executed.");
}
bool GetMultiplierDefault(uint8_t&) {
    ShowError("GetMultiplierDefault executed.");
    return false;
}
void SetL2Default(bool, bool) {
    ShowError("SetL2Default executed.");
}
bool GetL2Default(bool&, bool&) {
    ShowError("GetL2Default executed.");
    return false;
}
void SetWriteOrderingDefault(bool, WriteOrderingTp) {
    ShowError("SetWriteOrderingDefault executed.");
}
bool GetWriteOrderingDefault(bool&, WriteOrderingTp&) {
    ShowError("GetWriteOrderingDefault executed.");
    return false;
}
void SetDataPrefetchDefault(bool, bool) {
    ShowError("SetDataPrefetchDefault executed.");
}
bool GetDataPrefetchDefault(bool&, bool&) {
    ShowError("GetDataPrefetchDefault executed.");
    return false;
}

void SetDefaults(SettingsTp& settings) {
    // The L1 slots survive: every identified record has them, and a fresh record's are empty.
    const SetL1ProcTp setL1 = settings.SetL1Proc;
    const GetL1ProcTp getL1 = settings.GetL1Proc;
    settings = SettingsTp{};
    settings.SetL1Proc = setL1;
    settings.GetL1Proc = getL1;
}

bool ExecuteCPUID(uint32_t leaf, uint32_t& eax, uint32_t& ebx, uint32_t& ecx, uint32_t& edx) {
    const CpuidResult r = ExecuteCpuidInstruction(leaf, 0);
    eax = r.eax;
    ebx = r.ebx;
    ecx = r.ecx;
    edx = r.edx;
    return r.answered;
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

void IdentifyCPU(SettingsTp& settings) {
    SetDefaults(settings);
    Selection sel;

    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    // A processor that could not be asked is not one without features: whoever applies
    // settings must say that it could not be read, not what an unknown processor lacks.
    auto ask = [&](uint32_t leaf) {
        if (ExecuteCPUID(leaf, eax, ebx, ecx, edx))
            return true;
        SetDefaults(settings);
        settings.CPU.IdentityUnread = true;
        return false;
    };
    if (!ask(0))
        return;
    const uint32_t highestLeaf = eax & 0xFFFF;
    PutRegisterBytes(ebx, &settings.CPU.VendorID[0]);
    PutRegisterBytes(edx, &settings.CPU.VendorID[4]);
    PutRegisterBytes(ecx, &settings.CPU.VendorID[8]);
    if (std::memcmp(settings.CPU.VendorID.data(), "AuthenticAMD", 12) == 0)
        settings.CPU.VendorUnknown = false;

    if (!ask(1))
        return;
    settings.CPU.HasTSC = ExtractBits(edx, 4, 4) != 0;

    // Every processor has the L1 switch in control register 0. Its state is unread until the
    // read-back at the end, which a processor without leaf 1 never gets.
    settings.L1Supported = true;
    settings.L1Unread = true;
    settings.SetL1Proc = SetL1;
    settings.GetL1Proc = GetL1;

    if (!settings.CPU.VendorUnknown) {
        if (highestLeaf == 0)
            return;
        if (!ask(1))
            return;
        settings.CPU.IDValid = true;
        settings.CPU.Family = static_cast<uint8_t>(ExtractBits(eax, 8, 11));
        settings.CPU.Model = static_cast<uint8_t>(ExtractBits(eax, 4, 7));
        settings.CPU.Stepping = static_cast<uint8_t>(ExtractBits(eax, 0, 3));
        if (settings.CPU.Family == 5)
            SelectFamily5(settings.CPU.Model, settings.CPU.Stepping, settings.CPU.Name, sel);
    }

    if (sel.WA == WAVariant::K6) {
        settings.SetWAProc = SetWAK6;
        settings.GetWAProc = GetWAK6;
        settings.WA.WASupported = true;
    } else if (sel.WA == WAVariant::CXT) {
        settings.SetWAProc = SetWACXT;
        settings.GetWAProc = GetWACXT;
        settings.WA.WASupported = true;
    }
    if (sel.Ranges) {
        settings.SetWCProc = SetWC;
        settings.GetWCProc = GetWC;
        settings.WC.WCSupported = true;
    }
    if (sel.Multiplier) {
        settings.CPU.MultiplierKnown = true;
        settings.CPU.MultiplierSupported = true;
        settings.SetMultiplierProc = SetMultiplier;
        settings.GetMultiplierProc = GetMultiplier;
    }
    if (sel.L2) {
        settings.SetL2Proc = SetL2;
        settings.GetL2Proc = GetL2;
        settings.L2Supported = true;
    }
    if (sel.WriteOrdering) {
        settings.SetWriteOrderingProc = SetWriteOrdering;
        settings.GetWriteOrderingProc = GetWriteOrdering;
        settings.WriteOrderingSupported = true;
    }
    if (sel.DataPrefetch) {
        settings.SetDataPrefetchProc = SetDataPrefetch;
        settings.GetDataPrefetchProc = GetDataPrefetch;
        settings.DataPrefetchSupported = true;
    }

    GetAllSettings(settings);
}
