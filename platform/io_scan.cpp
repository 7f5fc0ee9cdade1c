// The analog side of the I/O-module driver, run every scan: acquisition of
// the analog inputs with their filter and scaling, the analog outputs to the
// DACs, and the FPGA's high-speed counters and pulse outputs.
#include "base/le.h"
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <cmath>
#include <iterator>

uint8_t J1939_init_start;

namespace {

constexpr uint8_t kExtAdc = 0x9C;
constexpr uint8_t kJunction[2] = {0x96, 0x9E};
constexpr uint32_t kJunctionTicks = 15000; // 1.5 s
constexpr uint8_t kBoardDac[2] = {0x98, 0x9A};

void fpga_put(uint16_t reg, uint32_t v, int width) {
    spi_data_RD_nWR(v, reg, width, 0);
}
uint32_t fpga_get(uint16_t reg, int width) {
    return spi_data_RD_nWR(0, reg, width, 1);
}

void put_word(IoMsg *msg, int i, int32_t v) {
    if (!msg->data || i >= msg->length) return;
    put_le16(msg->data + 2 * (msg->first + i), uint16_t(v));
}

// Constant pair of a thermocouple-board channel for its mode.
int tc_board_pair(int ch, int mode) {
    int k = 0;
    if (mode == aimode::kMa0_20 || mode == aimode::kMa4_20)
        k = 1;
    else if (mode == aimode::kMillivolt)
        k = 2;
    else if (mode == aimode::kRtd)
        k = 3;
    else if (mode >= aimode::kTcFirst && mode <= aimode::kTcLast)
        k = 4;
    return 8 * ch + k;
}

// The junction sensor of the thermocouple board, read at most every 1.5 s.
void read_junction(IoSlotState &s) {
    const uint32_t now = FPGA_GetFrt();
    if (s.cj_read_once && now - s.cj_read_at < kJunctionTicks) return;
    s.cj_read_at = now;
    s.cj_read_once = true;
    s.cj_present = false;
    for (uint8_t dev : kJunction) {
        int16_t r = 0;
        if (I2C_read_LM92(dev, &r) == 0) {
            s.cj_reading = r;
            s.cj_present = true;
            cj_comp(int32_t(r) * 5 / 2, s.comp);
            return;
        }
    }
    std::fill(std::begin(s.comp), std::end(s.comp), 0);
}

// The external ADC: configure a channel, wait its settle time, read three
// bytes (bit 7 of the third set: not ready yet, wait again), next channel.
void ext_adc_step(IoSlotState &s, int channels) {
    const int ch = s.adc_channel % channels;
    const Ad5tRow &m = ad5t[s.mode[ch] & 31];
    const uint32_t now = FPGA_GetFrt();
    if (s.adc_state == 0) {
        const uint8_t cfg = uint8_t((0x40 + 0x20 * ch) | (m.adc & 0x0F));
        if (I2C_write_io(kExtAdc, &cfg, 0, 1)) return;
        s.adc_since = now;
        s.adc_state = 1;
    }
    if (now - s.adc_since < m.settle) return;
    uint8_t b[3] = {};
    if (I2C_read_io(kExtAdc, b, 9, 3)) return;
    if (b[2] & 0x80) {
        s.adc_since = now; // not ready: the settle time again
        return;
    }
    // The thermocouple board's converter reads bipolar, the others unipolar.
    const uint16_t w = uint16_t(b[0] << 8 | b[1]);
    s.raw[ch] = s.type == iorow::kV5 ? int32_t(int16_t(w)) : int32_t(w);
    s.fresh[ch] = true;
    s.adc_channel = (ch + 1) % channels;
    s.adc_state = 0;
}

// Reading of a channel of the board with six converted channels (and of
// the protected-output module's converter, which answers the same way).
constexpr uint8_t kProtectedAdc = 0x90;
bool v6_read(int ch, int32_t *raw, uint8_t dev = 0x40) {
    const uint8_t cmd = uint8_t(0x20 + ch);
    uint8_t b[2] = {};
    if (I2C_write_io(dev, &cmd, 0, 1) || I2C_read_io(dev, b, 1, 2)) return false;
    *raw = b[0] | b[1] << 8;
    return true;
}

int32_t general(IoSlotState &s, int ch, int32_t v) {
    const int k = s.mode[ch] == 0 ? 2 * ch : 2 * ch + 1;
    int32_t r = ai_scale(v, s.cal.gain[k & 15], s.cal.offset[k & 15]);
    if (s.mode[ch] == aimode::kMa4_20) r = ai_4_20(r);
    return r;
}

} // namespace

int io_ai_converted(int type) {
    switch (type) {
    case iorow::kV1:
        return 1;
    case iorow::kV2:
    case iorow::kBase:
        return 4;
    case iorow::kV3:
    case iorow::kV4:
    case iorow::kV5:
        return 2;
    case iorow::kProtected:
        return 5;
    case iorow::kV6:
        return 6;
    default:
        return 0;
    }
}

void input_ais(IoSlotState &s, IoMsg *msg) {
    const bool restart = s.flags & ioflag::kRestart;
    const int conv = io_ai_converted(s.type);
    const int all = s.type < kIoIdentRows ? io_ident[s.type].sizes[2] : 0;
    switch (s.type) {
    case iorow::kBase:
        // The on-chip converter, one input after the other; voltage inputs
        // (mode 0) take the first pair of the input, the others the second.
        for (int ch = 0; ch < conv; ++ch) {
            if (s.mode[ch] == aimode::kOff) {
                put_word(msg, ch, 0);
                continue;
            }
            s.raw[ch] = int32_t(IoBaseAdc(ch)) << 4;
            const int32_t v = ai_filter(s.filter[ch], s.raw[ch], s.filter_shift, restart);
            const int k = s.mode[ch] == 0 ? 2 * ch : 2 * ch + 1;
            int32_t r = ai_scale_base(v, s.cal.gain[k], s.cal.offset[k]);
            if (s.mode[ch] == aimode::kMa4_20) r = ai_4_20(r);
            put_word(msg, ch, r);
        }
        break;
    case iorow::kV6:
        for (int ch = 0; ch < conv; ++ch) {
            if (s.mode[ch] == aimode::kOff) continue;
            int32_t raw;
            if (!v6_read(ch, &raw)) continue;
            s.raw[ch] = raw;
            const int32_t v = ai_filter(s.filter[ch], raw, s.filter_shift, restart);
            put_word(msg, ch, general(s, ch, v));
            // The unscaled values follow at word 32, when the area reaches there.
            put_word(msg, 32 + ch, v);
            if (ch == 5) io_v6_diagnostics(s);
        }
        break;
    case iorow::kProtected:
        // Five channels from the module's converter; its conversion cycle is
        // held while the fifth is read.
        for (int ch = 0; ch < conv; ++ch) {
            if (ch == 4) io_q_put(msg->slot, 2);
            int32_t raw;
            const bool ok = v6_read(ch, &raw, kProtectedAdc);
            if (ch == 4) io_q_put(msg->slot, 0);
            if (!ok) continue;
            s.raw[ch] = raw;
            const int32_t v = ai_filter(s.filter[ch], raw, s.filter_shift, restart);
            s.value[ch] = ai_scale(v, s.cal.gain[ch], s.cal.offset[ch]);
            put_word(msg, ch, s.value[ch]);
        }
        if (s.features & iofeat::kProtection) protect_Q4K(s);
        break;
    case iorow::kV1:
    case iorow::kV2:
    case iorow::kV3:
    case iorow::kV4:
    case iorow::kV5: {
        const bool tc = s.type == iorow::kV5;
        if (tc) read_junction(s);
        ext_adc_step(s, conv);
        for (int ch = 0; ch < conv; ++ch) {
            if (s.mode[ch] == aimode::kOff) {
                put_word(msg, ch, 0);
                continue;
            }
            // Only a fresh reading moves the filter; after a restart, a
            // channel's first reading seeds it (the converter reaches the
            // channels one after the other, passes later).
            if (restart) s.unseeded[ch] = true;
            if (s.fresh[ch]) {
                ai_filter(s.filter[ch], s.raw[ch], s.filter_shift, s.unseeded[ch]);
                s.fresh[ch] = false;
                s.unseeded[ch] = false;
            }
            const int32_t v = s.filter[ch].value;
            int32_t out;
            if (tc) {
                const int mode = s.mode[ch] & 31;
                const int k = tc_board_pair(ch, mode);
                const int32_t comp = mode >= aimode::kTcFirst ? s.comp[mode - aimode::kTcFirst] : 0;
                out = ai_scale_tc_board(mode, v, s.cal.gain[k & 15], s.cal.offset[k & 15], comp);
            } else {
                out = general(s, ch, v);
            }
            put_word(msg, ch, out);
        }
        if (tc && s.cj_present) put_word(msg, 2, s.cj_reading);
        break;
    }
    default:
        break;
    }
    for (int ch = conv; ch < all; ++ch)
        if (!(s.type == iorow::kV5 && ch == 2 && s.cj_present)) put_word(msg, ch, 0);
    if (io_has_fpga_counters(s) && msg->slot == 0) {
        if (!s.counters_running) io_counters_start(s);
        io_counters_copy(s);
    }
    s.flags &= uint16_t(~ioflag::kRestart);
}

// ---------------------------------------------------------------- outputs

void output_aqx(IoSlotState &s, IoMsg *msg, int slot) {
    int channels = s.type < kIoIdentRows ? io_ident[s.type].sizes[3] : 0;
    if (s.type == iorow::kV5) channels = 0; // its two outputs are words 8 and 9
    const int kept = std::min(channels, 4);
    for (int n = 0; n < kept; ++n) {
        if (msg->data && n < msg->length) s.last_aq[n] = le16(msg->data + 2 * (msg->first + n));
        if (slot == 1 && (s.features & iofeat::kAqFromReg) && s.aq_ref)
            s.last_aq[n] = io_reg_get16(s.aq_ref + 16u * unsigned(n));
    }
    switch (s.type) {
    case iorow::kAq4:
    case iorow::kAq2:
        for (int n = 0; n < kept; ++n) {
            const uint16_t v =
                aq_convert(s.mode[n], s.last_aq[n], s.cal.gain + 3 * n, s.cal.offset + 3 * n);
            uint8_t frame[3];
            aq_dac_frame(n, v, frame);
            I2C_write_io(aq_dac_addr(n), frame, 9, 3);
        }
        break;
    case iorow::kV5:
        for (int n = 0; n < 2; ++n) {
            if (msg->data && 8 + n < msg->length)
                s.last_aq[n] = le16(msg->data + 2 * (msg->first + 8 + n));
            const int mode = s.mode[4 + n];
            const int k = mode == 0 ? 8 * n + 5 : 8 * n + 6;
            const uint16_t v = aq_convert_board(mode, s.last_aq[n], s.cal.gain[k], s.cal.offset[k]);
            const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)}; // sent high byte first
            I2C_write_io(kBoardDac[n], b, 3, 2);
        }
        break;
    case iorow::kMeter1:
    case iorow::kMeter2:
        io_meter_aqx(s);
        break;
    case iorow::kBusSlave:
        io_slave_write_analog(s, msg);
        break;
    case iorow::kV6: {
        const int n_out = msg->data ? std::min<int>(msg->length, channels) : kept;
        for (int n = 0; n < n_out; ++n) {
            if (n < 12 && s.mode[n] == aimode::kOff) continue;
            const uint16_t v = n < kept ? s.last_aq[n] : le16(msg->data + 2 * (msg->first + n));
            const uint8_t b[3] = {uint8_t(0x30 + n), uint8_t(v), uint8_t(v >> 8)};
            I2C_write_io(0x40, b, 9, 3);
        }
        break;
    }
    default:
        break;
    }
    if (slot == 0 && io_has_fpga_pulse(s)) io_pulse_update(s);
    if (slot == 0 && io_has_fpga_counters(s) && s.refs[ioref::kCntPreset]) {
        // Preload and two match values per enabled counter, written when changed.
        for (int i = 0; i < 4; ++i) {
            if (!(s.features & (1u << i))) continue;
            for (int k = 0; k < 3; ++k) {
                const uint32_t v =
                    io_reg_get32(s.refs[ioref::kCntPreset] + 32u * unsigned(3 * i + k));
                if (s.cnt_written[i][k] && s.cnt_last[i][k] == v) continue;
                fpga_put(uint16_t(cnt_base(i) + 0x0C + 4 * k), v, 4);
                s.cnt_last[i][k] = v;
                s.cnt_written[i][k] = true;
            }
        }
    }
}

// --------------------------------------------------------------- counters

void io_counters_start(IoSlotState &s) {
    fpga_put(3, 1, 1);
    for (int i = 0; i < 4; ++i)
        if (s.features & (1u << i)) fpga_put(uint16_t(cnt_base(i) + 2), 0xFF, 1);
    s.counters_running = true;
}

void io_counters_stop(IoSlotState &s) {
    fpga_put(3, 0, 1);
    for (int i = 0; i < 4; ++i)
        fpga_put(uint16_t(cnt_base(i) + 2), 0, 1);
    s.counters_running = false;
}

void io_counters_copy(IoSlotState &s) {
    const uint32_t ref = s.refs[ioref::kCntValues];
    if (!ref) return;
    for (int i = 0; i < 4; ++i) {
        if (!(s.features & (1u << i))) continue;
        io_reg_put32(ref + 64u * unsigned(i), fpga_get(uint16_t(cnt_base(i) + 0x18), 4));
        io_reg_put32(ref + 64u * unsigned(i) + 32, fpga_get(uint16_t(cnt_base(i) + 0x1C), 4));
    }
}

bool io_iec_owns_io() {
    return J1939_init_start && PlcReg_IecEnumerated();
}

namespace {
// Status bits into their register: packed into one word, or, when the IEC
// runtime owns the I/O, one byte per bit (an IEC boolean each).
void put_status(uint32_t ref, uint16_t bits, int n) {
    if (!io_iec_owns_io()) {
        io_reg_put16(ref, bits);
        return;
    }
    uint8_t *p = PlcReg_Ptr(ref, uint32_t(8 * n));
    if (!p) return;
    const uint8_t packed[2] = {uint8_t(bits), uint8_t(bits >> 8)};
    PlcReg_IecBitToByte(packed, p, uint32_t(n));
}
} // namespace

void io_counter_status(IoSlotState &s) {
    if (s.refs[ioref::kCntStatus]) {
        // A nibble per counter: four bytes per counter for the IEC runtime.
        uint16_t w = 0;
        for (int i = 0; i < 4; ++i)
            w = uint16_t(w | (fpga_get(uint16_t(cnt_base(i) + 0x0A), 1) & 0x0F) << (4 * i));
        put_status(s.refs[ioref::kCntStatus], w, 16);
    }
    if (io_has_fpga_pulse(s) && s.refs[ioref::kPulseStatus]) {
        const uint16_t w = uint16_t((fpga_get(0x42, 1) & 3) | (fpga_get(0x82, 1) & 3) << 2);
        put_status(s.refs[ioref::kPulseStatus], w, 4);
    }
}

// ---------------------------------------------------------- pulse outputs

namespace {

// Register slots of a pulse output (offsets from 0x44 + 0x40n) and widths.
constexpr uint16_t kPulseOff[kPulseRegs + 1] = {0x00, 0x04, 0x08, 0x0C, 0x10,
                                                0x14, 0x16, 0x18, 0x1C};
constexpr int kPulseWidth[kPulseRegs + 1] = {3, 3, 4, 4, 4, 2, 2, 4, 4};
enum { kDuty, kPeriod, kAccel, kRun, kDecel, kAccelSpread, kDecelSpread, kAccelStep, kDecelStep };

void pulse_put(IoSlotState &s, int n, int slot, uint32_t v) {
    if (s.pulse_written[n][slot] && s.pulse_last[n][slot] == v) return;
    fpga_put(uint16_t(0x44 + 0x40 * n + kPulseOff[slot]), v, kPulseWidth[slot]);
    s.pulse_last[n][slot] = v;
    s.pulse_written[n][slot] = true;
}

} // namespace

PulseRamp pulse_ramp(uint32_t d, uint32_t a) {
    PulseRamp r{0, 0};
    if (d == 0) return r;
    if (a == 0) a = 1;
    if (d < a) {
        // One period step every a / d pulses; the remainder spread over the steps.
        r.step = a / d - 1;
        const uint32_t rem = a % d;
        r.spread = rem ? uint16_t(uint64_t(rem) * 0x7FFF / d) : 0x7FFF;
    } else {
        // Several steps per pulse.
        r.step = d / a - 1;
        const uint32_t rem = d % a;
        r.spread = uint16_t(0x8000 | (rem ? uint64_t(rem) * 0x7FFF / a : 0x7FFF));
    }
    return r;
}

void io_pulse_update(IoSlotState &s) {
    const uint32_t ref = s.refs[ioref::kPulse];
    for (int n = 0; n < 2; ++n) {
        const uint16_t pwm = n == 0 ? 0x10 : 0x20, profile = n == 0 ? 0x40 : 0x400;
        if (!(s.features & (pwm | profile))) continue;
        uint32_t p[5];
        for (int k = 0; k < 5; ++k)
            p[k] = io_reg_get32(ref ? ref + 16u * unsigned(10 * n + 2 * k) : 0);
        if (s.features & pwm) {
            PwmRegs r{0, 0};
            if (!pwm_regs(p[1], p[0], r)) r = PwmRegs{0, 0};
            pulse_put(s, n, kPeriod, r.period);
            pulse_put(s, n, kDuty, r.duty);
            continue;
        }
        const uint32_t start = p[0] ? 10000000u / p[0] : 0, run = p[1] ? 10000000u / p[1] : 0;
        PulseRamp up{0, 0}, down{0, 0};
        if (start > run) {
            up = pulse_ramp(start - run, p[2]);
            down = pulse_ramp(start - run, p[4]);
        }
        pulse_put(s, n, kDuty, start ? start - 1 : 0);
        pulse_put(s, n, kPeriod, run ? run - 1 : 0);
        pulse_put(s, n, kAccel, p[2]);
        pulse_put(s, n, kRun, p[3]);
        pulse_put(s, n, kDecel, p[4]);
        pulse_put(s, n, kAccelSpread, up.spread);
        pulse_put(s, n, kDecelSpread, down.spread);
        pulse_put(s, n, kAccelStep, up.step);
        pulse_put(s, n, kDecelStep, down.step);
    }
}

// ------------------------------------------------------ output protection

namespace {
struct Curve {
    double a, k, c;
};
constexpr Curve kCurves[7] = {{2.0, 6.407, 0.025}, {2.0, 2.885, 0.0712}, {0.02, 0.0086, 0.0185},
                              {0.04, 0.05, 0},     {0.02, 0.14, 0},      {1.0, 13.5, 0},
                              {2.0, 80.0, 0}};
constexpr uint32_t kRefR1 = reg::kRefR, kRefR9900 = reg::kRefR + 16u * 9899;
} // namespace

void protect_Q4K(IoSlotState &s) {
    const uint32_t base = s.protect_ref ? std::min(s.protect_ref, kRefR9900) : kRefR1;
    auto w = [&](int n) { return io_reg_get16(base + 16u * unsigned(n)); };
    auto put = [&](int n, uint16_t v) { io_reg_put16(base + 16u * unsigned(n), v); };
    const uint32_t now = FPGA_GetFrt();
    const uint32_t ticks = s.protect_started ? now - s.protect_at : 0;
    s.protect_at = now;
    s.protect_started = true;

    // Instantaneous trip: above the pick-up for the delay.
    const uint16_t inst = w(0), pickup = w(1);
    const uint32_t delay = std::min<uint32_t>(w(2), 10000);
    uint16_t latched = w(4), now_bits = 0;
    for (int ch = 0; ch < 5; ++ch) {
        if (!(inst & (1u << ch)) || s.value[ch] <= pickup) {
            s.trip_ticks[ch] = 0;
            continue;
        }
        // Counted in ticks: whole milliseconds per pass would drop the
        // fractions of fast scans and delay the trip, or never trip.
        s.trip_ticks[ch] = std::min<uint32_t>(s.trip_ticks[ch] + ticks, 10u * 10000u);
        if (s.trip_ticks[ch] >= 10u * delay) {
            now_bits = uint16_t(now_bits | 1u << ch);
            latched = uint16_t(latched | 1u << ch);
        }
    }
    put(4, latched);
    put(5, now_bits);

    // Overload: an inverse-time curve of the highest channel.
    const uint16_t mask = w(6);
    const double full = std::max<uint16_t>(w(7), 1);
    const Curve &cv = kCurves[std::min<uint16_t>(w(8), 6)];
    const uint16_t tm = w(9);
    // The multiplier counts tenths, as dt does: the curve's time in seconds
    // comes out multiplied by (multiplier / 10).
    const double mult = tm < 1 ? 10 : std::min<uint16_t>(tm, 999);
    const double cool = std::max<uint16_t>(w(10), 1);
    int32_t high = 0;
    uint16_t over = 0;
    for (int ch = 0; ch < 5; ++ch) {
        if (!(mask & (1u << ch))) continue;
        high = std::max(high, s.value[ch]);
        if (s.value[ch] > full) over = uint16_t(over | 1u << ch);
    }
    const double m = high / full, dt = ticks / 1000.0; // tenths of a second
    if (m > 1.0) {
        const double p = std::pow(m, cv.a) - 1.0;
        s.overload += dt * p / ((cv.k + cv.c * p) * mult);
    } else {
        s.overload = std::max(0.0, s.overload + dt * (m * m - 1.0) / cool);
    }
    if (s.overload >= 1.0) {
        put(12, uint16_t(w(12) | over));
        put(13, 1);
    } else if (s.overload <= 0.0 && w(13)) {
        put(12, 0);
        put(13, 0);
    }
}
