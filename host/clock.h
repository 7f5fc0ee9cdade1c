// The one clock of the panel. Everything that measures time (the 100 us tick,
// the 10 ms tick, the wall clock, the watchdog, the slice timer) reads it, so a
// test can switch it to virtual time and advance it at will.
#pragma once
#include <cstdint>

namespace host {

// Monotonic nanoseconds: CLOCK_MONOTONIC, or the virtual clock in tests.
uint64_t mono_ns();

void clock_use_virtual(uint64_t start_ns = 1'000'000'000ull);
void clock_use_real();
bool clock_is_virtual();
void clock_advance_ns(uint64_t ns);
inline void clock_advance_ms(uint64_t ms) {
    clock_advance_ns(ms * 1'000'000ull);
}

// One step of a busy wait: the virtual clock moves on by one tick (100 us),
// the real one is given a short sleep instead of a hot spin.
void wait_step();
// Sleeps (real) or advances (virtual) by `ms`.
void sleep_ms(unsigned ms);
// The same in microseconds (bus pauses and transfer times of the devices).
void sleep_us(unsigned us);
// Never returns; sleeps in real time (a thread that waits for a reset).
[[noreturn]] void park_forever();

// Wall clock of the panel in nanoseconds since 1970; setting it moves the
// panel's time only, never the host's.
int64_t wall_ns();
void set_wall_ns(int64_t ns);
// The host's own time in nanoseconds since 1970 (the virtual clock in tests),
// which the board's clock chips run from; setting the panel's wall clock does
// not move it.
int64_t host_time_ns();

// The one-shot slice timer (ITIMER_REAL on the board). Arming with 0 disarms.
// The signal handler only marks the timer as fired; the firmware takes the
// mark at its slice points.
void alarm_install();
void alarm_arm_ms(unsigned ms);
void alarm_disarm();
bool alarm_armed();
// True once per expiry of the armed timer (virtual clock: when its deadline passed).
bool alarm_take();

void clock_reset();

} // namespace host
