// The five 100-microsecond countdown timers of the serial drivers (the Modbus
// RTU end-of-frame gap). Polled: RctISR runs once per main-loop pass and
// whenever a driver looks for the gap; time comes from the free-running tick,
// which no setting of the panel's clock moves.
#include "base/trace.h"
#include "platform/tick.h"
#include "serial/vcomm.h"

#include <cstring>

uint8_t RctRunning;

namespace {

// Gap presets in microseconds by baud index.
constexpr uint32_t cnt_table[10] = {150000, 150000, 150000, 150000, 150000,
                                    26666,  26666,  26666,  26666,  26666};
// Another running timer is never left with less than this when one starts.
constexpr uint32_t kMinRemaining = 8;

struct Rct {
    uint16_t state; // 0 free, 1 allocated and stopped, 2 running
    uint16_t kind;  // 1 one-shot, 2 periodic
    uint32_t remaining;
    uint32_t preset;
    uint32_t stamp;
    void (*callback)();
};
Rct tmr[kRctTimers];
void (*g_capture)();

Rct *entry(uint8_t handle) {
    return handle >= 1 && handle <= kRctTimers ? &tmr[handle - 1] : nullptr;
}

void note_running() {
    RctRunning = 0;
    for (const Rct &t : tmr)
        if (t.state == 2) RctRunning = 1;
}

} // namespace

void RCT_Reset() {
    std::memset(tmr, 0, sizeof tmr);
    RctRunning = 0;
    g_capture = nullptr;
}

void RCT_Init() {
    host::trace("RCT_Init");
    RCT_Reset();
}

uint8_t RCT_Allocate(void (*callback)()) {
    for (int i = 0; i < kRctTimers; ++i)
        if (tmr[i].state == 0) {
            tmr[i] = Rct{};
            tmr[i].state = 1;
            tmr[i].kind = 1;
            tmr[i].callback = callback;
            return uint8_t(i + 1);
        }
    return 0;
}

void RCT_Release(uint8_t handle) {
    if (Rct *t = entry(handle)) *t = Rct{};
    note_running();
}

void RCT_Stop(uint8_t handle) {
    if (Rct *t = entry(handle)) t->state = 1;
    note_running();
}

void RCT_Set(uint8_t handle, uint32_t value, int kind) {
    Rct *t = entry(handle);
    if (!t) return;
    if (kind == 1) {
        if (value >= sizeof cnt_table / sizeof cnt_table[0]) return; // not a baud index
        t->kind = 1;
        t->preset = cnt_table[value] / 100;
    } else {
        t->kind = kind == 2 ? 2 : 1;
        t->preset = value / 100;
    }
}

void RCT_Start(uint8_t handle) {
    Rct *t = entry(handle);
    if (!t || t->state == 0 || t->preset == 0) return;
    uint32_t now = FPGA_GetFrt();
    // The others are brought up to now, so that their time is counted once:
    // the next RctISR measures from this stamp.
    for (Rct &o : tmr) {
        if (&o == t || o.state != 2) continue;
        uint32_t elapsed = now - o.stamp;
        o.remaining = o.remaining > elapsed + kMinRemaining ? o.remaining - elapsed : kMinRemaining;
        o.stamp = now;
    }
    t->state = 2;
    t->remaining = t->preset;
    t->stamp = now;
    RctRunning = 1;
}

void RctISR(int) {
    host::trace("RctISR");
    if (!RctRunning) return;
    bool have_now = false;
    uint32_t now = 0;
    for (Rct &t : tmr) {
        if (t.state != 2) continue;
        if (!have_now) {
            now = FPGA_GetFrt();
            have_now = true;
        }
        uint32_t elapsed = now - t.stamp;
        if (elapsed > t.remaining) {
            t.state = t.kind == 2 ? 2 : 1;
            t.remaining = t.preset;
            t.stamp = now;
            if (t.callback) t.callback();
        } else {
            t.remaining -= elapsed;
            t.stamp = now;
        }
    }
    note_running();
}

void RCT_RegCaptureCallback(void (*fn)()) {
    g_capture = fn; // kept for the interface; nothing calls it
}

uint32_t RCT_Remaining(uint8_t handle) {
    Rct *t = entry(handle);
    return t ? t->remaining : 0;
}

int RCT_State(uint8_t handle) {
    Rct *t = entry(handle);
    return t ? t->state : 0;
}
