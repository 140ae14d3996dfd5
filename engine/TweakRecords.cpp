// Tweak records: comparison and printing, so a failed test shows every field by name.
#include "engine/Tweak.h"

#include "common/General.h"

namespace {

// Handler slots print as the name of the engine function they hold.
struct NamedProc {
    const void* address;
    const char* name;
};

#define QRX_PROC(f)                                                                                \
    { reinterpret_cast<const void*>(&f), #f }
const NamedProc Procs[] = {
    QRX_PROC(SetWADefault),
    QRX_PROC(GetWADefault),
    QRX_PROC(SetWCDefault),
    QRX_PROC(GetWCDefault),
    QRX_PROC(SetMultiplierDefault),
    QRX_PROC(GetMultiplierDefault),
    QRX_PROC(SetL2Default),
    QRX_PROC(GetL2Default),
    QRX_PROC(SetWriteOrderingDefault),
    QRX_PROC(GetWriteOrderingDefault),
    QRX_PROC(SetDataPrefetchDefault),
    QRX_PROC(GetDataPrefetchDefault),
    QRX_PROC(SetWAK6),
    QRX_PROC(GetWAK6),
    QRX_PROC(SetWACXT),
    QRX_PROC(GetWACXT),
    QRX_PROC(SetWC),
    QRX_PROC(GetWC),
    QRX_PROC(SetMultiplier),
    QRX_PROC(GetMultiplier),
    QRX_PROC(SetL1),
    QRX_PROC(GetL1),
    QRX_PROC(SetL2),
    QRX_PROC(GetL2),
    QRX_PROC(SetWriteOrdering),
    QRX_PROC(GetWriteOrdering),
    QRX_PROC(SetDataPrefetch),
    QRX_PROC(GetDataPrefetch),
};
#undef QRX_PROC

template <typename Proc> const char* ProcName(Proc proc) {
    if (proc == nullptr)
        return "nil";
    for (const NamedProc& p : Procs)
        if (p.address == reinterpret_cast<const void*>(proc))
            return p.name;
    return "(foreign handler)";
}

const char* Bool(bool value) {
    return value ? "true" : "false";
}

// A value nobody read is rare; only then does the printout say so.
const char* Unread(bool unread) {
    return unread ? " (unread)" : "";
}

} // namespace

bool operator==(const CPUTp& a, const CPUTp& b) {
    return a.Name == b.Name && a.VendorUnknown == b.VendorUnknown && a.VendorID == b.VendorID &&
           a.Family == b.Family && a.Model == b.Model && a.Stepping == b.Stepping &&
           a.IDValid == b.IDValid && a.IdentityUnread == b.IdentityUnread && a.HasTSC == b.HasTSC &&
           a.MultiplierKnown == b.MultiplierKnown &&
           a.MultiplierSupported == b.MultiplierSupported && a.Multiplier == b.Multiplier &&
           a.MultiplierUnread == b.MultiplierUnread;
}

bool operator==(const WATp& a, const WATp& b) {
    return a.WALimit == b.WALimit && a.WAMaxLimit == b.WAMaxLimit && a.WA1516MB == b.WA1516MB &&
           a.WASupported == b.WASupported && a.WAEnabled == b.WAEnabled && a.WAUnread == b.WAUnread;
}

bool operator==(const MTRRTp& a, const MTRRTp& b) {
    return a.Enabled == b.Enabled && a.Start == b.Start && a.SizeBytes == b.SizeBytes &&
           a.Size == b.Size && a.MemoryType == b.MemoryType && a.Unread == b.Unread;
}

bool operator==(const WCTp& a, const WCTp& b) {
    return a.WCSupported == b.WCSupported && a.MTRR0 == b.MTRR0 && a.MTRR1 == b.MTRR1;
}

bool operator==(const SettingsTp& a, const SettingsTp& b) {
    return a.CPU == b.CPU && a.WC == b.WC && a.WA == b.WA && a.L1Supported == b.L1Supported &&
           a.L1CacheEnabled == b.L1CacheEnabled && a.L1Unread == b.L1Unread &&
           a.L2Supported == b.L2Supported && a.L2CacheEnabled == b.L2CacheEnabled &&
           a.L2Unread == b.L2Unread && a.WriteOrderingSupported == b.WriteOrderingSupported &&
           a.WriteOrderingType == b.WriteOrderingType &&
           a.WriteOrderingUnread == b.WriteOrderingUnread &&
           a.DataPrefetchSupported == b.DataPrefetchSupported &&
           a.DataPrefetchEnabled == b.DataPrefetchEnabled &&
           a.DataPrefetchUnread == b.DataPrefetchUnread &&
           a.SetMultiplierProc == b.SetMultiplierProc &&
           a.GetMultiplierProc == b.GetMultiplierProc && a.SetWAProc == b.SetWAProc &&
           a.GetWAProc == b.GetWAProc && a.SetWCProc == b.SetWCProc && a.GetWCProc == b.GetWCProc &&
           a.SetL1Proc == b.SetL1Proc && a.GetL1Proc == b.GetL1Proc && a.SetL2Proc == b.SetL2Proc &&
           a.GetL2Proc == b.GetL2Proc && a.SetWriteOrderingProc == b.SetWriteOrderingProc &&
           a.GetWriteOrderingProc == b.GetWriteOrderingProc &&
           a.SetDataPrefetchProc == b.SetDataPrefetchProc &&
           a.GetDataPrefetchProc == b.GetDataPrefetchProc;
}

std::ostream& operator<<(std::ostream& os, SizeTp size) {
    return os << SizeToName(size) << "(" << static_cast<int>(size) << ")";
}

std::ostream& operator<<(std::ostream& os, MemoryTypeTp type) {
    switch (type) {
    case MemoryTypeTp::NoEffect:
        return os << "NoEffect";
    case MemoryTypeTp::Uncached:
        return os << "Uncached";
    case MemoryTypeTp::WriteCombined:
        return os << "WriteCombined";
    }
    return os << "MemoryTypeTp(" << static_cast<int>(type) << ")";
}

std::ostream& operator<<(std::ostream& os, WriteOrderingTp type) {
    switch (type) {
    case WriteOrderingTp::GEWBED:
        return os << "GEWBED";
    case WriteOrderingTp::SEWBED:
        return os << "SEWBED";
    case WriteOrderingTp::EWBEStrong:
        return os << "EWBEStrong";
    }
    return os << "WriteOrderingTp(" << static_cast<int>(type) << ")";
}

std::ostream& operator<<(std::ostream& os, const CPUTp& cpu) {
    os << "{Name \"" << cpu.Name << "\", VendorUnknown " << Bool(cpu.VendorUnknown)
       << ", VendorID \"";
    for (char c : cpu.VendorID) {
        if (c >= 0x20 && c < 0x7F)
            os << c;
        else
            os << "\\x"
               << "0123456789ABCDEF"[(c >> 4) & 15] << "0123456789ABCDEF"[c & 15];
    }
    return os << "\", Family " << int(cpu.Family) << ", Model " << int(cpu.Model) << ", Stepping "
              << int(cpu.Stepping) << ", IDValid " << Bool(cpu.IDValid)
              << (cpu.IdentityUnread ? " (identity unread)" : "") << ", HasTSC " << Bool(cpu.HasTSC)
              << ", MultiplierKnown " << Bool(cpu.MultiplierKnown) << ", MultiplierSupported "
              << Bool(cpu.MultiplierSupported) << ", Multiplier " << int(cpu.Multiplier)
              << Unread(cpu.MultiplierUnread) << "}";
}

std::ostream& operator<<(std::ostream& os, const WATp& wa) {
    return os << "{WALimit " << wa.WALimit << ", WAMaxLimit " << wa.WAMaxLimit << ", WA1516MB "
              << Bool(wa.WA1516MB) << ", WASupported " << Bool(wa.WASupported) << ", WAEnabled "
              << Bool(wa.WAEnabled) << Unread(wa.WAUnread) << "}";
}

std::ostream& operator<<(std::ostream& os, const MTRRTp& range) {
    return os << "{Enabled " << Bool(range.Enabled) << ", Start 0x" << DWordToHex(range.Start)
              << ", SizeBytes 0x" << DWordToHex(range.SizeBytes) << ", Size " << range.Size
              << ", MemoryType " << range.MemoryType << Unread(range.Unread) << "}";
}

std::ostream& operator<<(std::ostream& os, const WCTp& wc) {
    return os << "{WCSupported " << Bool(wc.WCSupported) << ", MTRR0 " << wc.MTRR0 << ", MTRR1 "
              << wc.MTRR1 << "}";
}

std::ostream& operator<<(std::ostream& os, const SettingsTp& s) {
    return os << "{CPU " << s.CPU << ", WC " << s.WC << ", WA " << s.WA << ", L1Supported "
              << Bool(s.L1Supported) << ", L1CacheEnabled " << Bool(s.L1CacheEnabled)
              << Unread(s.L1Unread) << ", L2Supported " << Bool(s.L2Supported)
              << ", L2CacheEnabled " << Bool(s.L2CacheEnabled) << Unread(s.L2Unread)
              << ", WriteOrderingSupported " << Bool(s.WriteOrderingSupported)
              << ", WriteOrderingType " << s.WriteOrderingType << Unread(s.WriteOrderingUnread)
              << ", DataPrefetchSupported " << Bool(s.DataPrefetchSupported)
              << ", DataPrefetchEnabled " << Bool(s.DataPrefetchEnabled)
              << Unread(s.DataPrefetchUnread) << ", handlers {" << ProcName(s.SetMultiplierProc)
              << ", " << ProcName(s.GetMultiplierProc) << ", " << ProcName(s.SetWAProc) << ", "
              << ProcName(s.GetWAProc) << ", " << ProcName(s.SetWCProc) << ", "
              << ProcName(s.GetWCProc) << ", " << ProcName(s.SetL1Proc) << ", "
              << ProcName(s.GetL1Proc) << ", " << ProcName(s.SetL2Proc) << ", "
              << ProcName(s.GetL2Proc) << ", " << ProcName(s.SetWriteOrderingProc) << ", "
              << ProcName(s.GetWriteOrderingProc) << ", " << ProcName(s.SetDataPrefetchProc) << ", "
              << ProcName(s.GetDataPrefetchProc) << "}}";
}
