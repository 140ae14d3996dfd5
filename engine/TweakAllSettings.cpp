// Tweak all settings: reading and applying every supported feature in the one fixed order
// write allocation, ranges, multiplier, L1, L2, write ordering, data prefetch.
#include "engine/Tweak.h"

// A slot is called only when its feature is supported; an empty slot (a record that never went
// through identification) is skipped rather than called. Each read marks its feature unread when
// the processor did not answer; an apply skips such a feature, except the ranges, whose setter
// keeps an unread range as the register holds it.

void GetAllSettings(SettingsTp& settings) {
    SettingsTp& s = settings;
    if (s.WA.WASupported && s.GetWAProc)
        s.WA.WAUnread = !s.GetWAProc(s.WA);
    if (s.WC.WCSupported && s.GetWCProc)
        s.WC.MTRR0.Unread = s.WC.MTRR1.Unread = !s.GetWCProc(s.WC);
    if (s.CPU.MultiplierSupported && s.GetMultiplierProc)
        s.CPU.MultiplierUnread = !s.GetMultiplierProc(s.CPU.Multiplier);
    if (s.L1Supported && s.GetL1Proc)
        s.L1Unread = !s.GetL1Proc(s.L1CacheEnabled);
    if (s.L2Supported && s.GetL2Proc)
        s.L2Unread = !s.GetL2Proc(s.L2Supported, s.L2CacheEnabled);
    if (s.WriteOrderingSupported && s.GetWriteOrderingProc)
        s.WriteOrderingUnread =
            !s.GetWriteOrderingProc(s.WriteOrderingSupported, s.WriteOrderingType);
    if (s.DataPrefetchSupported && s.GetDataPrefetchProc)
        s.DataPrefetchUnread =
            !s.GetDataPrefetchProc(s.DataPrefetchSupported, s.DataPrefetchEnabled);
}

void SetAllSettings(SettingsTp settings) {
    // settings is already the private copy: handlers may work on it, the caller's record stays.
    const SettingsTp& s = settings;
    if (s.WA.WASupported && !s.WA.WAUnread && s.SetWAProc)
        s.SetWAProc(s.WA);
    if (s.WC.WCSupported && s.SetWCProc)
        s.SetWCProc(s.WC);
    if (s.CPU.MultiplierSupported && !s.CPU.MultiplierUnread && s.SetMultiplierProc)
        s.SetMultiplierProc(s.CPU.Multiplier);
    if (s.L1Supported && !s.L1Unread && s.SetL1Proc)
        s.SetL1Proc(s.L1CacheEnabled);
    if (s.L2Supported && !s.L2Unread && s.SetL2Proc)
        s.SetL2Proc(s.L2Supported, s.L2CacheEnabled);
    if (s.WriteOrderingSupported && !s.WriteOrderingUnread && s.SetWriteOrderingProc)
        s.SetWriteOrderingProc(s.WriteOrderingSupported, s.WriteOrderingType);
    if (s.DataPrefetchSupported && !s.DataPrefetchUnread && s.SetDataPrefetchProc)
        s.SetDataPrefetchProc(s.DataPrefetchSupported, s.DataPrefetchEnabled);
}
