// Fixed-point PID loop. All arithmetic is integer; sums and products saturate
// to the 32-bit range instead of wrapping, and terms stored in 16-bit words
// are clamped to that range.
#include "plc/pid.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

struct LoopState {
    int16_t last_out;
    int16_t last_dx;  // last derivative input
    int16_t prev_out; // previous output for the slew limit
    int16_t int_rem;  // integral remainder (hundredths)
    uint32_t last_sample;
    int32_t int_acc;
    uint32_t pulse_start;
    uint8_t pulse_state; // 0..3
    uint8_t pulse_out;   // 1 = off phase
    uint32_t slew_rem;
};

struct TuneState {
    uint32_t t1, t2;
    int16_t hi, lo;
    uint16_t state;
    int16_t setpoint;
    int16_t saved_manual;
    int16_t hyst;
    uint16_t saved_integral;
    uint16_t man, inc, dec;
    // Settling cycles left before the measurement. Kept per loop so that two
    // loops tuning at the same time do not cut each other's settling short.
    uint8_t repeat;
};

struct Scratch {
    uint32_t dt;
    int32_t d, i, out;
    int16_t e;
};

struct Rule {
    int32_t gain_num, gain_den, int_factor, int_num, der_num, der_den;
};
// Rows: PID, PI, P, P; columns: four rules of each.
constexpr Rule kRules[12] = {
    {10, 17, 1, 20000000, 1, 800}, {1, 3, 1, 20000000, 1, 800}, {1, 5, 1, 20000000, 1, 800},
    {10, 85, 1, 20000000, 1, 800}, {10, 22, 1, 12000000, 0, 1}, {10, 37, 1, 12000000, 0, 1},
    {10, 62, 1, 12000000, 0, 1},   {1, 10, 1, 12000000, 0, 1},  {1, 2, 1, 0, 0, 1},
    {10, 34, 1, 0, 0, 1},          {10, 57, 1, 0, 0, 1},        {10, 95, 1, 0, 0, 1},
};

struct PidState {
    LoopState st[kPidLoops];
    TuneState at[kPidLoops];
    Scratch sc;
};
PidState g;

int32_t sat32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, kMin32, kMax32));
}
int16_t sat16(int64_t v) {
    return int16_t(std::clamp<int64_t>(v, -32768, 32767));
}
int32_t sadd(int32_t a, int32_t b) {
    return sat32(int64_t(a) + b);
}
int32_t smul(int32_t a, int32_t b) {
    return sat32(int64_t(a) * b);
}

// Error after the deadband: strictly inside (low, high) it counts as 0; at
// or beyond an edge it stays, or with the offset bit has that edge removed.
int16_t check_deadband(int32_t e, int16_t high, int16_t low, bool offset) {
    if (e > low && e < high) return 0;
    if (offset) e -= (e >= high) ? high : low;
    return sat16(e);
}

int32_t calc_diff_term(const uint16_t *b, LoopState &st, int16_t e, uint32_t dt) {
    uint16_t ctl = b[pidw::Control];
    int16_t x = (ctl & pidc::DerivPv) ? int16_t(b[pidw::Pv]) : e;
    int32_t delta = int32_t(x) - st.last_dx;
    // The input is tracked even without a derivative term, so that enabling
    // the term later does not see a stale jump.
    st.last_dx = x;
    int32_t k = int16_t(b[pidw::Deriv]);
    if (k == 0) return 0;
    int32_t d = (ctl & pidc::DerivUnscaled) ? smul(k, delta) : smul(smul(k, 100), delta);
    return int32_t(d / int64_t(dt));
}

// q / 100 into 32 bits the way the loop has always done it: clamped well
// before the 32-bit range ends when the high word is large, an approximate
// quotient from the two halves when it does not fit 32 bits.
int32_t div100_to32(__int128 q) {
    if (q >= kMin32 && q <= kMax32) return int32_t(int64_t(q) / 100);
    // Products beyond 64 bits (a long pause between samples times a large
    // error and gain) saturate rather than wrap.
    if (q > std::numeric_limits<int64_t>::max()) return kMax32;
    if (q < std::numeric_limits<int64_t>::min()) return kMin32;
    int64_t v = int64_t(q);
    int32_t high = int32_t(v >> 32);
    uint32_t low = uint32_t(v);
    if (high > 49) return kMax32;
    if (high < -51 || (high == -51 && low > 0xFFFFFF9Du)) return kMin32;
    return sat32(int64_t(42949672) * high + (95 * high) / 100 + int64_t(low / 100));
}

int32_t calc_int_term(const uint16_t *b, LoopState &st, int16_t e, uint32_t dt) {
    uint16_t n = b[pidw::Integral];
    if (n == 0) {
        st.int_rem = 0;
        st.int_acc = 0;
        return 0;
    }
    int32_t m = n == 1 ? int32_t(e) : int32_t(n / 2) * e;
    __int128 q = __int128(m) * dt;
    if (b[pidw::Control] & pidc::Dependent) q *= int16_t(b[pidw::Gain]);
    int64_t q32 = int64_t(div100_to32(q)) + st.int_rem;
    st.int_rem = int16_t(q32 % 100);
    st.int_acc = sat32(int64_t(st.int_acc) + q32 / 100);
    return n == 1 ? st.int_acc / 2000 : st.int_acc / 1000;
}

// Back-calculation: the accumulator is set from the integral term the
// output needs. It is loaded with 500 (or, for setting 1, 1000) times that
// term while the term is read back as accumulator / 1000 (or / 2000), so the
// loop restarts from half the needed term. This is how the loop has always
// behaved and tuned plants rely on it; do not "fix" it to the full term.
void adjust_int_term(const uint16_t *b, LoopState &st, int32_t out, int32_t d, int16_t e) {
    uint16_t n = b[pidw::Integral];
    if (n == 0) {
        st.int_acc = 0;
        st.int_rem = 0;
        g.sc.i = 0;
        return;
    }
    int32_t gain = int16_t(b[pidw::Gain]);
    int32_t bias = int16_t(b[pidw::Bias]);
    int32_t r;
    if (b[pidw::Control] & pidc::Dependent)
        r = sat32(int64_t(smul(100, sat32(int64_t(out) - bias))) - smul(gain, sadd(e, d)));
    else
        r = sat32(int64_t(sat32(int64_t(out) - bias)) - d - int64_t(gain) * e / 100);
    st.int_acc = smul(r, n == 1 ? 1000 : 500);
    st.int_rem = 0;
}

void pulse_step(const uint16_t *b, LoopState &st, uint32_t now, int32_t y) {
    int32_t hi = int16_t(b[pidw::OutHigh]), lo = int16_t(b[pidw::OutLow]);
    int32_t cycle = int16_t(b[pidw::Cycle]);
    if (cycle <= 0) {
        // On/off: a change waits 0.5 s after the previous one.
        if (now - st.pulse_start < 5000) return;
        uint8_t s = y < (lo + hi) / 2 ? 1 : 0;
        if (s != st.pulse_state) st.pulse_start = now;
        st.pulse_state = s;
        st.pulse_out = s;
        return;
    }
    uint32_t span = uint32_t(cycle) * 10000u;
    switch (st.pulse_state) {
    case 0:
        st.pulse_start = now;
        st.pulse_state = 1;
        [[fallthrough]];
    case 1:
        if (y == lo) {
            st.pulse_state = 0;
            st.pulse_out = 1;
        } else {
            st.pulse_state = 2;
            st.pulse_out = 0;
        }
        break;
    case 2: {
        uint32_t el = now - st.pulse_start;
        if (el >= span) {
            st.pulse_state = 0;
            st.pulse_out = 0;
        } else if (y == hi) {
            st.pulse_out = 0;
        } else if (int64_t(el / uint32_t(cycle)) > int64_t(y - lo) * 10000 / (hi - lo)) {
            st.pulse_out = 1;
            st.pulse_state = 3;
        } else {
            st.pulse_out = 0;
        }
        break;
    }
    case 3:
        if (now - st.pulse_start >= span) {
            st.pulse_state = 0;
            st.pulse_out = 0;
        } else {
            st.pulse_out = 1;
        }
        break;
    default:
        st.pulse_state = 0;
        break;
    }
}

// Relay auto-tune: drives the manual output between the limits around the
// tune setpoint, lets two cycles settle, measures one period and amplitude,
// then sets gain, integral and derivative from the chosen rule.
void auto_tune(const PidCall &c, uint16_t *b, LoopState &st, TuneState &at) {
    uint16_t ctl = b[pidw::Control];
    int16_t hi = int16_t(b[pidw::OutHigh]), lo = int16_t(b[pidw::OutLow]);
    int32_t pv = int16_t(b[pidw::Pv]);
    int32_t d = (ctl & pidc::Direct) ? pv - at.setpoint : at.setpoint - pv;
    int32_t h = at.hyst;
    switch (at.state) {
    case 1:
        if (d > h) {
            b[pidw::Manual] = uint16_t(hi);
            at.state = 2;
        }
        break;
    case 2:
        if (d < -h) {
            b[pidw::Manual] = uint16_t(lo);
            if (at.repeat) {
                --at.repeat;
                at.state = 1;
            } else {
                at.state = 3;
            }
        }
        break;
    case 3:
        if (d > h) {
            b[pidw::Manual] = uint16_t(hi);
            at.state = 4;
            at.t1 = st.last_sample;
            at.hi = 0;
        }
        break;
    case 4:
        at.hi = int16_t(std::max<int32_t>(at.hi, d));
        at.lo = 0;
        if (d < -h) {
            b[pidw::Manual] = uint16_t(lo);
            at.state = 5;
        }
        break;
    case 5:
        at.lo = int16_t(std::min<int32_t>(at.lo, d));
        if (d > h) {
            b[pidw::Manual] = uint16_t(at.saved_manual);
            at.state = 6;
            at.t2 = st.last_sample;
        }
        break;
    case 6: {
        int64_t p2 = 2 * int64_t(int32_t(at.t2 - at.t1));
        int64_t a2 = 2 * (int64_t(at.hi) - at.lo);
        if (p2 <= 0 || a2 <= 0) {
            at.state = 0;
            break;
        }
        at.man = ctl & pidc::Manual;
        at.inc = ctl & pidc::Inc;
        at.dec = ctl & pidc::Dec;
        int64_t base = 9040 * (int64_t(hi) - lo) / 71 / a2;
        unsigned row = (c.tune_opts >> 1) & 3, col = (c.tune_opts >> 3) & 3;
        const Rule &r = kRules[row * 4 + col];
        bool indep = !(ctl & pidc::Dependent);
        int64_t gain = std::min<int64_t>(r.gain_num * base / r.gain_den, 32767);
        int64_t integ = r.int_num / (p2 * r.int_factor);
        if (indep) integ = integ * gain / 100;
        integ = std::min<int64_t>(integ, 65535);
        int64_t der = p2 * r.der_num / r.der_den;
        if (indep) der = der * gain / 100;
        if (ctl & pidc::DerivUnscaled) der *= 100;
        der = std::min<int64_t>(der, 32767);
        if (ctl & pidc::DerivPv) der = -der;
        b[pidw::Gain] = uint16_t(int16_t(gain));
        at.saved_integral = uint16_t(std::max<int64_t>(integ, 0));
        b[pidw::Deriv] = uint16_t(int16_t(der));
        at.state = 7;
        break;
    }
    default:
        break;
    }
    if (at.state >= 1 && at.state <= 5) b[pidw::Integral] = 0;
}

void tune_start(const PidCall &c, uint16_t *b, TuneState &at) {
    at.repeat = 1;
    at.hyst = int16_t(25 << ((c.tune_opts >> 5) & 7));
    int32_t sp = int16_t(b[pidw::Setpoint]);
    at.setpoint = (c.tune_mode & 4) ? int16_t(sp * 2 / 3) : int16_t(sp);
    at.man = 1;
    at.inc = at.dec = 0;
    at.saved_manual = int16_t(b[pidw::Manual]);
    b[pidw::Manual] = b[pidw::OutLow];
    at.state = 1;
    b[pidw::Integral] = 0;
}

} // namespace

int adds32_limited(int32_t a, int32_t b, int32_t *r) {
    int64_t v = int64_t(a) + b;
    *r = sat32(v);
    return *r != v;
}
int subs32_limited(int32_t a, int32_t b, int32_t *r) {
    int64_t v = int64_t(a) - b;
    *r = sat32(v);
    return *r != v;
}
int muls32_limited(int32_t a, int32_t b, int32_t *r) {
    int64_t v = int64_t(a) * b;
    *r = sat32(v);
    return *r != v;
}

void Pid_Reset() {
    g = PidState{};
}

uint16_t Pid_TuneState(unsigned loop) {
    return loop < kPidLoops ? g.at[loop].state : 0;
}

uint16_t fbk_pid(PidCall *call, uint16_t *b) {
    PidCall &c = *call;
    if (c.loop >= kPidLoops) return 1;
    LoopState &st = g.st[c.loop];
    TuneState &at = g.at[c.loop];
    Scratch &sc = g.sc;
    const uint16_t ctl = b[pidw::Control];
    const bool pulse = ctl & pidc::Pulse;
    const bool tuning = c.tune_mode & 2;
    auto pulse_result = [&]() -> uint16_t {
        return uint16_t((st.pulse_out ^ ((ctl & pidc::Invert) ? 1 : 0)) & 1);
    };

    if (ctl & pidc::Init) {
        st.last_sample = c.now;
        st.pulse_start = c.now;
        st.pulse_state = 0;
        st.pulse_out = 1;
        return 1;
    }
    if (tuning) {
        if (at.state == 7) c.tune_mode |= 1;
    } else {
        c.tune_mode &= uint8_t(~1u);
        at.state = 0;
    }
    if (int16_t(b[pidw::DeadHigh]) < int16_t(b[pidw::DeadLow])) return pulse ? 1 : 2;
    if (int16_t(b[pidw::OutHigh]) < int16_t(b[pidw::OutLow])) return pulse ? 1 : 3;

    sc.dt = c.now - st.last_sample;
    if (sc.dt < 100u * b[pidw::Sample] || sc.dt <= 99) return pulse ? pulse_result() : 0;
    st.last_sample = c.now;

    if (tuning) {
        at.saved_integral = b[pidw::Integral];
        if (at.state == 0 || at.state > 7)
            tune_start(c, b, at);
        else
            auto_tune(c, b, st, at);
    } else {
        at.man = ctl & pidc::Manual;
        at.inc = ctl & pidc::Inc;
        at.dec = ctl & pidc::Dec;
    }
    const int32_t start_acc = st.int_acc;
    const int16_t start_rem = st.int_rem;

    int32_t pv = int16_t(b[pidw::Pv]), sp = int16_t(b[pidw::Setpoint]);
    int32_t e = (ctl & pidc::Direct) ? pv - sp : sp - pv;
    sc.e = check_deadband(e, int16_t(b[pidw::DeadHigh]), int16_t(b[pidw::DeadLow]),
                          ctl & pidc::DeadOffset);
    sc.d = calc_diff_term(b, st, sc.e, sc.dt);

    const int32_t gain = int16_t(b[pidw::Gain]);
    const int32_t bias = int16_t(b[pidw::Bias]);
    const bool dep = ctl & pidc::Dependent;
    const bool manual = at.man != 0;
    if (manual) {
        int16_t mo = int16_t(b[pidw::Manual]);
        if (at.inc && mo < 32767) ++mo;
        if (at.dec && mo > -32768) --mo;
        b[pidw::Manual] = uint16_t(mo);
        sc.out = mo;
    } else {
        sc.i = calc_int_term(b, st, sc.e, sc.dt);
        int32_t p = dep ? int32_t(sc.e) : int32_t(int64_t(gain) * sc.e / 100);
        if (dep)
            sc.out = sadd(sadd(smul(sadd(sc.d, p), gain), sc.i) / 100, bias);
        else
            sc.out = sadd(sadd(sadd(sc.d, p), sc.i), bias);
    }

    if (uint16_t slew = b[pidw::Slew]) {
        uint64_t budget = uint64_t(uint32_t(sat32(int64_t(sc.dt) * 320))) + st.slew_rem;
        uint64_t per = uint64_t(slew) * 100;
        int64_t step = int64_t(budget / per);
        st.slew_rem = uint32_t(budget % per);
        int64_t diff = int64_t(sc.out) - st.prev_out;
        if (diff > step || diff < -step) {
            sc.out = int32_t(st.prev_out + (diff > 0 ? step : -step));
            if (!manual) {
                sc.out = sat16(sc.out);
                adjust_int_term(b, st, sc.out, sc.d, sc.e);
            }
        }
    }

    const int32_t oh = int16_t(b[pidw::OutHigh]), ol = int16_t(b[pidw::OutLow]);
    bool limited = false;
    if (sc.out >= oh) {
        sc.out = oh;
        limited = true;
    } else if (sc.out <= ol) {
        sc.out = ol;
        limited = true;
    }

    if (manual) {
        // Keeps the integral ready for a bumpless return to automatic.
        adjust_int_term(b, st, sc.out, sc.d, sc.e);
    } else {
        if (limited) {
            if (ctl & pidc::Freeze) {
                st.int_acc = start_acc;
                st.int_rem = start_rem;
            } else {
                adjust_int_term(b, st, sc.out, sc.d, sc.e);
            }
        }
        b[pidw::Manual] = uint16_t(int16_t(sc.out));
    }

    st.last_out = st.prev_out = int16_t(sc.out);
    if (pulse) pulse_step(b, st, c.now, sc.out);
    int16_t y = int16_t(sc.out);
    if (ctl & pidc::Invert) y = y == -32768 ? int16_t(32767) : int16_t(-y);
    b[pidw::Output] = uint16_t(y);
    if (tuning) b[pidw::Integral] = at.saved_integral;
    return pulse ? pulse_result() : 0;
}
