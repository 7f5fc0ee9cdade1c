// System register table: per-register write widths and limits, and the
// registers that act on the system when written.
#pragma once
#include "regs/sr.h"

#include <cstdint>

struct SrInfo {
    uint8_t width; // maximum write width in bits; 0 = not writable
    uint32_t min;
    uint32_t max;
};
extern const SrInfo sr_info[sr::kLast];
// The row of %SRn (n = 1..sr::kLast).
inline const SrInfo &sr_row(int n) {
    return sr_info[n - 1];
}

// Checks and applies a write of `bits` bits from `src` to the system register
// at `ref` (3072 <= ref <= 6143). Returns 1 when the write was taken (stored
// and/or acted on), 0 when it was refused.
int SysReg_Write(uint32_t ref, const void *src, uint32_t bits);
// What the registers that act on the system do when written: services above
// this layer, set by the top layer. An unset action is skipped.
struct SysRegActions {
    void (*run_mode)(int mode);            // %SR5: stores the mode itself
    uint16_t (*net_status)();              // network state; 0x80 while the network is not usable
    void (*net_changed)();                 // %SR29/%SR30: the network identity changed
    void (*contrast)(int value);           // %SR32
    void (*port)(int setting);             // %SR34 (not kept in the register)
    void (*extended_option)(int v);        // %SR152 bit 2
    void (*menu_option2)(int v);           // %SR163
    void (*menu_option)(int which, int v); // %SR164 bits 0 and 1
    void (*slice)(int ms);                 // %SR167
    void (*popup_mode)(int mode);          // %SR180
    void (*beep_enable)(int on);           // %SR183
    void (*screen_saver)(int minutes);     // %SR185/%SR186 (0: off)
};
void SysReg_SetActions(const SysRegActions &actions);
void VmDbWordSR_MinMax(uint16_t *min, uint16_t *max, int index);
