#include "platform/tick.h"

#include "host/clock.h"
#include "platform/slice.h"

#include <cstring>

volatile uint32_t FrtLast;
Timer timers[kTimerCount];
volatile uint32_t *TimerFrt = &FrtLast;
uint32_t TimerTick = 100;

namespace {
bool g_have_base = false;
uint64_t g_base_sec = 0;
} // namespace

uint32_t FPGA_GetFrt() {
    uint64_t ns = host::mono_ns();
    uint64_t sec = ns / 1'000'000'000ull;
    if (!g_have_base) {
        g_base_sec = sec;
        g_have_base = true;
    }
    uint32_t t = uint32_t(10000ull * (sec - g_base_sec) + (ns % 1'000'000'000ull) / 100000ull);
    FrtLast = t;
    return t;
}

uint64_t FPGA_GetFrt64() {
    FPGA_GetFrt(); // sets the base on first use
    uint64_t ns = host::mono_ns();
    return 10000ull * (ns / 1'000'000'000ull - g_base_sec) + (ns % 1'000'000'000ull) / 100000ull;
}

uint32_t FPGA_GetFrtStep() {
    if (host::clock_is_virtual()) host::clock_advance_ns(100'000);
    return FPGA_GetFrt();
}

void Timer_Init(volatile uint32_t *frt, uint32_t us_per_tick) {
    TimerFrt = frt ? frt : &FrtLast;
    TimerTick = us_per_tick ? us_per_tick : 100;
    std::memset(timers, 0, sizeof timers);
}

uint8_t Timer_Allocate(int count) {
    if (count <= 0 || count > kTimerCount) return 255;
    for (int first = 0; first + count <= kTimerCount; ++first) {
        bool free_run = true;
        for (int i = first; i < first + count; ++i)
            free_run = free_run && !timers[i].allocated;
        if (!free_run) continue;
        for (int i = first; i < first + count; ++i)
            timers[i].allocated = 1;
        return uint8_t(first);
    }
    return 255;
}

uint32_t Timer_Start(uint8_t id, uint32_t ms) {
    if (id >= kTimerCount || !timers[id].allocated) return id;
    Timer &t = timers[id];
    if (ms) t.period = uint32_t(uint64_t(ms) * 1000 / TimerTick);
    if (t.period == 0) return 0;
    t.start = *TimerFrt;
    t.running = 1;
    return t.period;
}

void Timer_Stop(uint8_t id) {
    if (id < kTimerCount) timers[id].running = 0;
}

int Timer_Status(uint8_t id) {
    if (id >= kTimerCount) return 0;
    Timer &t = timers[id];
    if (!t.allocated) return 1;
    if (!t.running) return 2;
    FPGA_GetFrt();
    if (uint32_t(*TimerFrt - t.start) < t.period) return 3;
    t.running = 0;
    return 4;
}

void Timer_Release(uint8_t id) {
    if (id < kTimerCount) timers[id] = Timer{};
}

void Tick_Reset() {
    g_have_base = false;
    g_base_sec = 0;
    FrtLast = 0;
    TimerFrt = &FrtLast;
    TimerTick = 100;
    std::memset(timers, 0, sizeof timers);
}

uint32_t Delay(uint32_t ms) {
    uint32_t start = FPGA_GetFrt();
    uint32_t now = start;
    while (uint32_t(now - start) < 10u * ms) {
        host::wait_step();
        SlicePoint();
        now = FPGA_GetFrt();
    }
    return now;
}

void SYS_Wait(uint32_t n) {
    uint32_t start = FPGA_GetFrt();
    while (uint32_t(FPGA_GetFrt() - start) < 100u * n) {
        host::wait_step();
        SlicePoint();
    }
}
