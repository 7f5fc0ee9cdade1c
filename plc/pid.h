// Fixed-point PID loop shared by the ladder PID instructions and the IEC PID
// blocks: up to 64 loops, each with its own timing, integral, pulse output
// and relay auto-tune state.
#pragma once
#include <cstdint>

constexpr int kPidLoops = 64;

// Words of the loop's parameter block (sixteen 16-bit words).
namespace pidw {
enum : int {
    Sample = 0,
    DeadHigh,
    DeadLow,
    Gain,
    Deriv,
    Integral,
    Bias,
    OutHigh,
    OutLow,
    Slew,
    Control,
    Manual,
    Setpoint,
    Pv,
    Output,
    Cycle,
    Count
};
}
// Control word bits.
namespace pidc {
enum : uint16_t {
    Hold = 1u << 0,
    Manual = 1u << 1,
    Enabled = 1u << 2,
    Inc = 1u << 3,
    Dec = 1u << 4,
    Dependent = 1u << 7,
    Direct = 1u << 8,
    Invert = 1u << 9,
    DerivPv = 1u << 10,
    DeadOffset = 1u << 11,
    Freeze = 1u << 12,
    DerivUnscaled = 1u << 13,
    Pulse = 1u << 14,
    Init = 1u << 15
};
}

struct PidCall {
    uint32_t now;      // tick, 100 us
    uint16_t loop;     // 0..63
    uint8_t tune_mode; // bit 0 complete (out), bit 1 request, bit 2 two thirds of setpoint
    uint8_t tune_opts; // bits 1-2 rule row, 3-4 rule column, 5-7 hysteresis exponent
};

// One controller step on the block (native 16-bit words). Returns 0 when the
// loop is healthy (or, with the pulse output, the pulse's off phase as 1);
// 1 after an initialise call or for a loop index outside 0..63; 2 deadband
// high below low; 3 output high below low (2 and 3 are 1 with the pulse).
uint16_t fbk_pid(PidCall *call, uint16_t *block);

// The auto-tune state of a loop (0..7), for monitoring.
uint16_t Pid_TuneState(unsigned loop);
void Pid_Reset();

// Saturating 32-bit helpers: they return 1 when the result was clamped.
int adds32_limited(int32_t a, int32_t b, int32_t *r);
int subs32_limited(int32_t a, int32_t b, int32_t *r);
int muls32_limited(int32_t a, int32_t b, int32_t *r);

// Ladder side: the alarm instruction's selection word, and its reset.
uint16_t Alarm_Selection();
void LadPid_Reset();
