// The system-register table: which registers a writer may change, within
// which limits, and the registers that act on the system when written.
#include "plc/sysreg.h"

#include "base/le.h"
#include "platform/rtc.h"
#include "regs/plc_reg.h"

namespace {

constexpr SrInfo w16(uint32_t min, uint32_t max) {
    return {16, min, max};
}
constexpr SrInfo kAny16 = {16, 0, 0xFFFF};
constexpr SrInfo kAny32 = {32, 0, 0xFFFFFFFFu};
// Status registers: readable by everyone, no value is ever accepted.
constexpr SrInfo kStatus = {16, 1, 0};
constexpr SrInfo kNone = {0, 0, 0};
// Single clock fields: their limits serve the IEC register bridge; a writer
// sets the clock only through the whole time or date (%SR44, %SR47).
constexpr SrInfo clock_field(uint32_t min, uint32_t max) {
    return {0, min, max};
}

} // namespace

// clang-format off
// One row per %SR1..192, eight to a line.
const SrInfo sr_info[sr::kLast] = {
    /* %SR1   */ w16(0, 1023), w16(0, 1023), w16(0, 28), kStatus, w16(0, 4), kStatus, kStatus, kStatus,
    /* %SR9   */ kAny16, kAny16, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR17  */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR25  */ kNone, kNone, kNone, kNone, w16(1, 253), w16(0, 4), kStatus, w16(1, 40),
    /* %SR33  */ w16(0, 1), w16(0, 1), kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR41  */ kNone, kNone, kNone, {96, 0, 59}, clock_field(0, 59), clock_field(0, 23), {48, 1, 31}, clock_field(1, 12),
    /* %SR49  */ clock_field(1, 2100), clock_field(1, 7), kNone, kNone, kNone, kNone, kStatus, kNone,
    /* %SR57  */ w16(0, 255), kAny16, kNone, kNone, kNone, kAny16, w16(0, 0), kNone,
    /* %SR65  */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR73  */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR81  */ kNone, kNone, kNone, kStatus, kNone, kNone, kNone, kNone,
    /* %SR89  */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR97  */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR105 */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR113 */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR121 */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR129 */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR137 */ kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
    /* %SR145 */ kNone, kNone, kNone, kNone, kNone, kNone, kAny16, w16(0, 4),
    /* %SR153 */ w16(0, 15), kAny16, w16(135, 1500), kAny16, kAny32, kNone, kAny32, kNone,
    /* %SR161 */ kAny32, kNone, kAny16, kAny16, kAny16, kAny16, w16(2, 50), kAny16,
    /* %SR169 */ kAny16, kAny16, w16(0, 272), w16(0, 480), w16(0, 1), kAny16, kAny16, kAny32,
    /* %SR177 */ kNone, kAny32, kNone, w16(0, 2), kAny32, kAny16, w16(0, 1), w16(0, 1),
    /* %SR185 */ w16(0, 1), w16(5, 1200), kNone, w16(0, 1000), w16(0, 1000), kNone, w16(0, 1000), w16(0, 1000),
};
// clang-format on

namespace {

constexpr uint32_t kRefUnchecked = sr_ref(sr::kTouchPressure);     // written without any check
constexpr uint32_t kRefExtOption = sr_ref(sr::kExtOptions) + 2;    // the extended option switch
constexpr uint32_t kRefMenuOption1 = sr_ref(sr::kMenuOptions) + 1; // second menu option switch
static_assert(kRefUnchecked == 3200 && kRefExtOption == 5490 && kRefMenuOption1 == 5681);
constexpr uint16_t kNetOffline = 0x80; // net_status: network not usable

SysRegActions g_act;

// The actions, each skipped while unset.
template <typename F, typename... A> void act(F f, A... a) {
    if (f) f(a...);
}
bool net_offline() {
    return g_act.net_status && (g_act.net_status() & kNetOffline);
}
void net_changed() {
    act(g_act.net_changed);
}

uint64_t read_value(const uint8_t *p, uint32_t bytes) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < bytes && i < 8; i++)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}

// %SR44..%SR50 are the clock. It is set as a whole: 96 bits at %SR44 (time and
// date), 48 bits at %SR44 (time) or at %SR47 (date). The clock code refreshes
// the registers, so nothing is stored here; a calendar the clock refuses is a
// refused write.
int clock_write(uint32_t ref, const uint8_t *in, uint32_t bits) {
    uint16_t w[7] = {};
    for (uint32_t i = 0; i < bits / 16 && i < 6; i++)
        w[i] = le16(in + 2 * i);
    if (ref == sr_ref(sr::kClock) && bits == 96)
        return RtcSet(w); // the clock works out the weekday
    if (ref == sr_ref(sr::kClock) && bits == 48) return RtcTimeSet(w);
    if (ref == sr_ref(sr::kClockDate) && bits == 48) return RtcDateSet(w);
    return 0;
}

void screen_saver(uint16_t on, uint16_t minutes) {
    act(g_act.screen_saver, on && minutes ? int(minutes) : 0);
}

} // namespace

int SysReg_Write(uint32_t ref, const void *src, uint32_t bits) {
    if (ref < reg::kRefSR || ref >= reg::kRefF || !src || bits == 0) return 0;
    // %SR9 takes any value, but even it does not spill past the %SR area.
    if (ref == kRefUnchecked)
        return uint64_t(ref) + bits <= reg::kRefF ? PlcReg_Store(ref, src, bits) : 0;
    const uint8_t *in = static_cast<const uint8_t *>(src);
    unsigned row = (ref - reg::kRefSR) / 16;
    int n = int(row) + 1;
    if (n >= sr::kClock && n < sr::kClock + sr::kClockWords) return clock_write(ref, in, bits);

    const SrInfo &info = sr_info[row];
    if (bits > info.width) return 0;
    // The written bytes stay inside the register (or register pair) of the row,
    // so a write at an odd byte never reaches the next register unchecked.
    uint32_t first = (ref - reg::kRefIG) / 8, len = bits == 1 ? 1 : bits / 8;
    uint32_t row_first = reg::kSR + 2 * row, row_len = info.width > 16 ? info.width / 8 : 2;
    if (first + len > row_first + row_len) return 0;

    uint64_t value = bits == 1 ? (in[0] != 0) : read_value(in, (bits + 7) / 8);
    if (value < info.min || value > info.max) return 0;
    int v = int(value);

    // Registers that act on the system take a write only at their first bit:
    // a write to another bit would change them without their action.
    bool whole = ref == sr_ref(n);
    switch (n) {
    case sr::kRunMode:
        if (!whole) return 0;
        act(g_act.run_mode, v); // stores the mode itself
        return 1;
    case sr::kNetId:
        if (!whole || net_offline() || v > 254 - int(sr_get(sr::kNetIdCount))) return 0;
        PlcReg_Store(ref, in, bits);
        net_changed();
        sr_put(sr::kStatus, sr_get(sr::kStatus) & uint16_t(~sr4::kNetIdRange));
        return 1;
    case sr::kNetBaud:
        if (!whole || net_offline()) return 0;
        PlcReg_Store(ref, in, bits);
        net_changed();
        return 1;
    case sr::kContrast:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        act(g_act.contrast, v);
        return 1;
    case sr::kPortAction:
        if (!whole) return 0;
        act(g_act.port, v); // the port setting is not kept in the register
        return 1;
    case sr::kExtOptions:
        if (ref == kRefExtOption) act(g_act.extended_option, v * 4);
        break;
    case sr::kMenuOption2:
        if (whole) act(g_act.menu_option2, v);
        break;
    case sr::kMenuOptions:
        if (whole) act(g_act.menu_option, 0, v);
        if (ref == kRefMenuOption1) act(g_act.menu_option, 1, v);
        break;
    case sr::kSlicePeriod:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        act(g_act.slice, v);
        return 1;
    case sr::kPopupMode:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        act(g_act.popup_mode, v);
        return 1;
    case sr::kBeepEnable:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        act(g_act.beep_enable, v);
        return 1;
    case sr::kSaverEnable:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        screen_saver(uint16_t(v), sr_get(sr::kSaverMinutes));
        return 1;
    case sr::kSaverMinutes:
        if (!whole) return 0;
        PlcReg_Store(ref, in, bits);
        screen_saver(sr_get(sr::kSaverEnable), uint16_t(v));
        return 1;
    default:
        break;
    }
    return PlcReg_Store(ref, in, bits);
}

void SysReg_SetActions(const SysRegActions &actions) {
    g_act = actions;
}

void VmDbWordSR_MinMax(uint16_t *min, uint16_t *max, int index) {
    if (index < 0 || index >= sr::kLast) {
        *min = 0;
        *max = 0;
        return;
    }
    *min = uint16_t(sr_info[index].min);
    *max = uint16_t(sr_info[index].max);
}
