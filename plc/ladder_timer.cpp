// Timer and counter instructions of the ladder. Each instruction keeps its
// whole state in a block of registers named by one operand, so screens and
// protocols see it and may preset it:
//
//   16-bit timer    word 0 accumulator (u16), word 1 status
//   32-bit timer    words 0-1 accumulator (i32, low word first), word 2 status
//   timer status    bit 15 output, bit 14 enabled (on-delay and retentive
//                   kinds while powered), bits 0-13 the reference stamp in
//                   100 us ticks modulo 16384
//   16-bit counter  word 0 count (i16), word 1 status
//   32-bit counter  words 0-1 count (i32), word 2 status
//   counter status  bit 15 output, bit 14 the power flow of the last
//                   execution (edge memory), bits 0-13 untouched
//
// The stamp is 14 bits wide, so the time between two executions of a timer is
// measured modulo 1.6384 s: a timer that is not executed for longer (a jump or
// a subroutine that leaves it out) loses whole multiples of 16384 ticks. That
// is the price of the stored layout, which screens and programs rely on.
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"

namespace {

constexpr uint16_t kOut = 0x8000, kEnabled = 0x4000, kStamp = 0x3FFF;

enum class Kind : uint8_t { OnDelay, OffDelay, Retentive };

struct TimerOp {
    Kind kind;
    uint16_t divisor; // ticks of 100 us per unit of the time base
    bool preset_reg;  // preset from registers (even codes) or a constant (odd)
};

constexpr uint16_t kMs1 = 10, kMs10 = 100, kMs100 = 1000, kS1 = 10000;

// The 16-bit timers by opcode; false for a code that is none of them.
bool timer16_of(uint16_t op, TimerOp *t) {
    struct Row {
        uint16_t first; // the register-preset code; first + 1 takes a constant
        Kind kind;
        uint16_t divisor;
    };
    // clang-format off
    constexpr Row kRows[] = {
        {204, Kind::OnDelay,   kMs10}, {206, Kind::OffDelay,  kMs10},
        {208, Kind::OnDelay,   kMs100}, {210, Kind::OffDelay, kMs100},
        {212, Kind::Retentive, kMs10}, {214, Kind::Retentive, kMs100},
        {458, Kind::Retentive, kS1},   {460, Kind::OnDelay,   kS1},
        {462, Kind::OffDelay,  kS1},   {474, Kind::Retentive, kMs1},
        {476, Kind::OnDelay,   kMs1},  {478, Kind::OffDelay,  kMs1},
    };
    // clang-format on
    for (const Row &r : kRows)
        if (op == r.first || op == r.first + 1) {
            *t = {r.kind, r.divisor, op == r.first};
            return true;
        }
    return false;
}

// The 32-bit timers: four groups of six codes by time base; in each group a
// retentive, an on-delay and an off-delay pair.
bool timer32_of(uint16_t op, TimerOp *t) {
    struct Group {
        uint16_t first, divisor;
    };
    constexpr Group kGroups[] = {{450, kS1}, {466, kMs1}, {482, kMs10}, {498, kMs100}};
    constexpr Kind kKinds[] = {Kind::Retentive, Kind::OnDelay, Kind::OffDelay};
    for (const Group &g : kGroups)
        if (op >= g.first && op < g.first + 6) {
            unsigned i = op - g.first;
            *t = {kKinds[i / 2], g.divisor, (i & 1) == 0};
            return true;
        }
    return false;
}

// One timer step on its accumulator and status word. `acc` is the 16-bit
// accumulator (0..65535) or the signed 32-bit one; the preset is signed (a
// 16-bit register preset sign-extended, a 16-bit constant 0..65535).
struct TimerState {
    int64_t acc;
    uint16_t status;
};

uint8_t timer_step(const TimerOp &t, bool wide, TimerState *s, int64_t preset, bool reset,
                   uint8_t power, uint16_t now) {
    now &= kStamp;
    bool first = sbit_get(sbit::kFirstScan) != 0;
    if (t.kind == Kind::Retentive && reset) {
        s->acc = 0;
        s->status = now;
        return 0;
    }
    bool on = power != 0;
    if (t.kind == Kind::OffDelay) {
        // The 16-bit off-delay timer starts timed out; the 32-bit one starts
        // from its stored accumulator.
        if (first && !wide) s->acc = preset & 0xFFFF;
        on = !on; // it times while its rung is off
    }
    if (!on) {
        if (t.kind != Kind::Retentive) s->acc = 0;
        uint8_t out = t.kind == Kind::OffDelay ? 1 : 0;
        s->status = uint16_t(now | (out ? kOut : 0));
        return out;
    }
    uint32_t units = 1, remainder = 0; // a full unit moves the stamp to now
    if (s->acc < preset && !first) {
        uint32_t elapsed = uint32_t(now - (s->status & kStamp)) & kStamp;
        units = elapsed / t.divisor;
        remainder = elapsed % t.divisor;
        // The sum is kept exact here: an accumulator that passes its preset is
        // clamped to it below and never wraps round to a small value.
        s->acc += units;
    }
    uint16_t status = s->status & kStamp;
    if (t.kind != Kind::OffDelay) status |= kEnabled;
    uint8_t out;
    if (s->acc < preset) {
        out = t.kind == Kind::OffDelay ? 1 : 0;
    } else {
        // A negative register preset counts as reached at once; the 16-bit
        // accumulator then holds the preset's bit pattern.
        s->acc = wide ? preset : (preset & 0xFFFF);
        out = t.kind == Kind::OffDelay ? 0 : 1;
    }
    if (units) status = uint16_t((status & ~kStamp) | ((now - remainder) & kStamp));
    if (out) status |= kOut;
    s->status = status;
    return out;
}

// Reads the operands of a timer and runs its step. The program counter stands
// on the opcode word.
uint8_t run_timer(uint32_t *pc, uint8_t power, uint16_t now, bool wide) {
    uint16_t op = Lad_Word(pc);
    TimerOp t;
    if (lad_fault || !(wide ? timer32_of(op, &t) : timer16_of(op, &t))) {
        lad_fault = 1;
        return 0;
    }
    uint32_t reset_ref = t.kind == Kind::Retentive ? Lad_BitRef(pc) : 0;
    uint32_t block_ref = Lad_WordRef(pc);
    int64_t preset;
    if (t.preset_reg) {
        uint8_t *p = LadNum_AtWord(Lad_WordRef(pc), wide ? 4 : 2);
        preset = !p ? 0 : wide ? int64_t(int32_t(le32(p))) : int64_t(int16_t(le16(p)));
    } else {
        preset = wide ? int64_t(int32_t(Lad_Dword(pc))) : int64_t(Lad_Word(pc));
    }
    uint8_t *block = LadNum_AtWord(block_ref, wide ? 6 : 4);
    bool reset = t.kind == Kind::Retentive && Lad_GetBit(reset_ref);
    if (lad_fault || !block) return 0;
    uint8_t *status_word = block + (wide ? 4 : 2);
    TimerState s{wide ? int64_t(int32_t(le32(block))) : int64_t(le16(block)), le16(status_word)};
    uint8_t out = timer_step(t, wide, &s, preset, reset, power, now);
    if (wide)
        put_le32(block, uint32_t(uint64_t(s.acc)));
    else
        put_le16(block, uint16_t(s.acc));
    put_le16(status_word, s.status);
    return out;
}

// Counters: up counters count rising edges of their power flow up to the
// type's ceiling, down counters down to its floor (for 32 bits one above the
// type's minimum); the reset input clears an up counter and loads a down
// counter with its preset.
uint8_t run_counter(uint32_t *pc, uint8_t power, bool down, bool preset_reg, bool wide) {
    uint32_t reset_ref = Lad_BitRef(pc);
    uint32_t block_ref = Lad_WordRef(pc);
    int64_t preset;
    if (preset_reg) {
        uint8_t *p = LadNum_AtWord(Lad_WordRef(pc), wide ? 4 : 2);
        preset = !p ? 0 : wide ? int64_t(int32_t(le32(p))) : int64_t(int16_t(le16(p)));
    } else {
        preset = wide ? int64_t(int32_t(Lad_Dword(pc))) : int64_t(Lad_Word(pc));
    }
    uint8_t *block = LadNum_AtWord(block_ref, wide ? 6 : 4);
    bool reset = Lad_GetBit(reset_ref);
    if (lad_fault || !block) return 0;
    uint8_t *status_word = block + (wide ? 4 : 2);
    int64_t count = wide ? int64_t(int32_t(le32(block))) : int64_t(int16_t(le16(block)));
    uint16_t status = le16(status_word);
    const int64_t ceiling = wide ? 2147483647 : 32767;
    const int64_t floor = wide ? -2147483647 : -32768;
    if (!power) {
        status &= uint16_t(~kEnabled);
    } else if (!(status & kEnabled)) {
        if (!down && count < ceiling) ++count;
        if (down && count > floor) --count;
        status |= kEnabled;
    }
    if (reset) {
        // A 16-bit constant preset above 32767 loads as its bit pattern.
        count = down ? (wide ? preset : int64_t(int16_t(uint16_t(preset)))) : 0;
    }
    // An up counter compares with the preset as given: a 16-bit constant
    // above 32767 is never reached.
    uint8_t out = down ? count <= 0 : count >= preset;
    status = out ? uint16_t(status | kOut) : uint16_t(status & ~kOut);
    if (wide)
        put_le32(block, uint32_t(uint64_t(count)));
    else
        put_le16(block, uint16_t(count));
    put_le16(status_word, status);
    return out;
}

} // namespace

uint8_t LogicTimers(uint32_t *pc, uint8_t power, uint16_t now) {
    return run_timer(pc, power, now, false);
}

uint8_t Logic32bTimers(uint32_t *pc, uint8_t power, uint16_t now) {
    return run_timer(pc, power, now, true);
}

uint8_t LogicCounters(uint32_t *pc, uint8_t power) {
    uint16_t op = Lad_Word(pc);
    if (lad_fault || op < 200 || op > 203) {
        lad_fault = 1;
        return 0;
    }
    return run_counter(pc, power, op >= 202, (op & 1) == 0, false);
}

uint8_t Logic32bCounters(uint32_t *pc, uint8_t power) {
    // Sub-codes 0 up (registers), 1 up (constant), 2 down (registers), 3 down
    // (constant); any other sub-code has no known operands and stops the scan.
    uint16_t sub = Lad_Word(pc);
    if (lad_fault || sub > 3) {
        lad_fault = 1;
        return 0;
    }
    return run_counter(pc, power, sub >= 2, (sub & 1) == 0, true);
}
