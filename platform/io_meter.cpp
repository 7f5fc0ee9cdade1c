// The AC metering modules: a three-phase metering chip on the I2C bus whose
// RMS, frequency, energy and peak registers the driver reads each analog
// pass and turns into floats in the module's analog input registers; its
// configuration, calibration constants, transformer ratios and thresholds
// are written to the chip (register map in io_drv.h).
#include "base/le.h"
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "platform/tick.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

// Scaling of the chip's readings.
constexpr double kVoltsPerCount = 0.000419504;
constexpr double kAmpsPerCount = 3.077192e-06;
constexpr double kHzPerCount = 0.0625;
constexpr double kEnergyPerCount = 1.87729e-08;
constexpr double kPowerFactor = 3.6e10; // energy per tick to power
constexpr double kVoltPeak = 4.1947, kAmpPeak = 0.0345036;
constexpr double kLpf = 0.000240385;
constexpr uint32_t kPowerTicks = 1000; // powers are recomputed every 100 ms at most often

constexpr uint8_t kRegActive = 0x01, kRegReactive = 0x04, kRegAmps = 0x0A, kRegVolts = 0x0D,
                  kRegFreq = 0x10, kRegVoltPeak = 0x21, kRegAmpPeak = 0x22;
constexpr uint8_t kCmdRead = 1, kCmdWrite = 2, kCmdInputs = 0x19, kCmdEvent = 0x1A;
constexpr uint8_t kRegGain = 0x40, kRegOffset = 0x50, kRegRatio = 0x60, kRegLimits = 0x68;

// The chip's start-up configuration.
struct ChipWord {
    uint8_t reg;
    uint32_t value;
};
// clang-format off
constexpr ChipWord kMeterConfig[] = {
    {0x30, 0x000034}, // three phases, four wires; energy registers cleared when read; high-pass filters on
    {0x31, 0x000000}, // input amplifiers: gain 1 on the current and voltage channels
    {0x32, 0x000004}, // sag: four half cycles below the threshold
    {0x33, 0x00000A}, // peaks held over ten half cycles
    {0x35, 0x000000}, // no interrupts: the driver polls
    {0x3F, 0x0000AD}, // configuration done: run
};
// clang-format on

uint8_t chip(const IoSlotState &s) {
    return s.type == iorow::kMeter2 ? 0x52 : 0x50;
}

// One register read: the frame {1, register}, then n bytes, most significant first.
bool chip_read(const IoSlotState &s, uint8_t reg, int n, uint32_t *v) {
    const uint8_t frame[2] = {kCmdRead, reg};
    if (I2C_write_io(chip(s), frame, 0x105, 2)) return false;
    uint8_t b[4] = {};
    if (I2C_read_io(chip(s), b, (n << 8) | 5, n)) return false;
    uint32_t r = 0;
    for (int i = 0; i < n; ++i)
        r = r << 8 | b[i];
    *v = r;
    return true;
}

bool chip_write(const IoSlotState &s, uint8_t reg, uint32_t v) {
    const uint8_t frame[5] = {kCmdWrite, reg, uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return I2C_write_io(chip(s), frame, 0x405, 5) == 0;
}

bool chip_command(const IoSlotState &s, uint8_t cmd) {
    return I2C_write_io(chip(s), &cmd, 7, 1) == 0;
}

// First-order filter of weight 1/2^k on a 32-bit reading; a channel's first
// reading after a restart seeds it.
int64_t filter(MeterState &m, int i, uint32_t raw, int k) {
    k = std::clamp(k, 0, 16);
    if (k == 0 || !m.seeded[i]) {
        m.acc[i] = int64_t(raw) << k;
        m.val[i] = raw;
        m.seeded[i] = true;
    } else {
        m.acc[i] = m.acc[i] - m.val[i] + raw;
        m.val[i] = m.acc[i] >> k;
    }
    return m.val[i];
}

void put_float(IoMsg *msg, int k, double v) {
    if (!msg->data || 2 * k + 1 >= msg->length) return;
    const float f = float(v);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put_le32(msg->data + 2 * (msg->first + 2 * k), bits);
}

void answer_float(uint8_t *at, double v) {
    const float f = float(v);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put_le32(at, bits);
}

int peak_phase(const IoSlotState &s) {
    return s.mode[0] <= 2 ? s.mode[0] : 0;
}

// Energy increments of one kind (active or reactive) into the phase counters.
void accumulate(IoSlotState &s, uint8_t first_reg, double *phase, double *total) {
    MeterState &m = s.meter;
    for (int p = 0; p < 3; ++p) {
        uint32_t v;
        if (!chip_read(s, uint8_t(first_reg + p), 3, &v)) continue;
        const double e = int16_t(uint16_t(v)) * m.vratio[p] * m.iratio[p] * kEnergyPerCount;
        phase[p] += e;
        *total += e;
    }
}

uint32_t ratio_word(double r) {
    return uint32_t(std::clamp(std::lround(r * 256.0), 0L, 0xFFFFFFL));
}

} // namespace

void input_acm(IoSlotState &s, IoMsg *msg) {
    MeterState &m = s.meter;
    const uint32_t now = FPGA_GetFrt(); // the time of the readings: the pass's start
    if (s.flags & ioflag::kRestart) std::fill(std::begin(m.seeded), std::end(m.seeded), false);
    const int k = s.filter_shift;
    uint32_t v;

    // The frequency first: its unscaled value sets the correction of the voltages.
    if (chip_read(s, kRegFreq, 3, &v)) filter(m, 6, v & 0xFFF, k);
    const double f = double(m.val[6]);
    m.lpf1 = std::sqrt(1.0 + (f * kLpf) * (f * kLpf));

    for (int p = 0; p < 3; ++p) {
        if (chip_read(s, uint8_t(kRegVolts + p), 4, &v)) filter(m, p, v, k);
        if (chip_read(s, uint8_t(kRegAmps + p), 4, &v)) filter(m, 3 + p, v, k);
        put_float(msg, p, double(m.val[p]) * m.lpf1 * kVoltsPerCount * m.vratio[p]);
        put_float(msg, 3 + p, double(m.val[3 + p]) * kAmpsPerCount * m.iratio[p]);
    }
    put_float(msg, 6, f * kHzPerCount);

    accumulate(s, kRegActive, m.energy, &m.total);
    accumulate(s, kRegReactive, m.renergy, &m.rtotal);
    if (!m.started) {
        std::copy(m.energy, m.energy + 3, m.last_e);
        std::copy(m.renergy, m.renergy + 3, m.last_r);
        m.last_t = now;
        m.started = true;
    } else if (const uint32_t dt = now - m.last_t; dt >= kPowerTicks) {
        for (int p = 0; p < 3; ++p) {
            m.power[p] = (m.energy[p] - m.last_e[p]) * kPowerFactor / dt;
            m.rpower[p] = (m.renergy[p] - m.last_r[p]) * kPowerFactor / dt;
            m.last_e[p] = m.energy[p];
            m.last_r[p] = m.renergy[p];
        }
        m.last_t = now;
    }
    const double pw = m.power[0] + m.power[1] + m.power[2];
    const double q = m.rpower[0] + m.rpower[1] + m.rpower[2];
    const double apparent = std::sqrt(pw * pw + q * q);
    put_float(msg, 7, pw);
    put_float(msg, 8, apparent == 0 ? 0.0 : pw / apparent);
    put_float(msg, 9, apparent);
    put_float(msg, 10, q);
    put_float(msg, 11, m.total);

    const int ph = peak_phase(s);
    if (chip_read(s, kRegVoltPeak, 2, &v))
        put_float(msg, 12, v * m.lpf1 * kVoltPeak * m.vratio[ph]);
    if (chip_read(s, kRegAmpPeak, 2, &v)) put_float(msg, 13, v * kAmpPeak * m.iratio[ph]);
    s.flags &= uint16_t(~ioflag::kRestart);
}

void io_meter_config(IoSlotState &s) {
    for (const ChipWord &w : kMeterConfig)
        chip_write(s, w.reg, w.value);
    // The chip starts over: every ratio and threshold goes to it again.
    std::fill(std::begin(s.meter.sent_ok), std::end(s.meter.sent_ok), false);
}

void io_meter_send_cal(IoSlotState &s, int ch) {
    if (ch < 0 || ch > 15) return;
    chip_write(s, uint8_t(kRegGain + ch), s.cal.gain[ch]);
    chip_write(s, uint8_t(kRegOffset + ch), s.cal.offset[ch]);
}

bool io_meter_inputs(IoSlotState &s, uint8_t in[3]) {
    uint8_t b[3] = {};
    if (!chip_command(s, kCmdInputs) || I2C_read_io(chip(s), b, 0x305, 3)) return false;
    in[0] = b[2];
    in[1] = b[1];
    in[2] = b[0];
    return true;
}

void io_meter_q(IoSlotState &s) {
    MeterState &m = s.meter;
    if (s.out[0] & 0x40) {
        // The counters and the powers' reference start again from 0, so the
        // next power is not computed across the clearing.
        std::fill(std::begin(m.energy), std::end(m.energy), 0.0);
        std::fill(std::begin(m.renergy), std::end(m.renergy), 0.0);
        std::fill(std::begin(m.last_e), std::end(m.last_e), 0.0);
        std::fill(std::begin(m.last_r), std::end(m.last_r), 0.0);
        m.total = m.rtotal = 0;
    }
    if (s.out[0] & 0x80) chip_command(s, kCmdEvent);
}

void io_meter_aqx(IoSlotState &s) {
    MeterState &m = s.meter;
    uint32_t v[kMeterSent];
    uint8_t reg[kMeterSent];
    for (int p = 0; p < 3; ++p) {
        v[p] = ratio_word(m.vratio[p]);
        v[3 + p] = ratio_word(m.iratio[p]);
        reg[p] = uint8_t(kRegRatio + p);
        reg[3 + p] = uint8_t(kRegRatio + 3 + p);
    }
    for (int i = 0; i < 4; ++i) {
        v[6 + i] = s.last_aq[i];
        reg[6 + i] = uint8_t(kRegLimits + i);
    }
    for (int i = 0; i < kMeterSent; ++i) {
        if (m.sent_ok[i] && m.sent[i] == v[i]) continue;
        if (!chip_write(s, reg[i], v[i])) continue; // tried again next pass
        m.sent[i] = v[i];
        m.sent_ok[i] = true;
    }
}

bool io_meter_cal(IoSlotState &s, IoMsg *msg) {
    uint8_t *c = msg->data;
    MeterState &m = s.meter;
    switch (c[0]) {
    case 1: {
        // RMS voltages and currents (12 words), then the phases' active and
        // reactive powers.
        uint8_t buf[2 * 28] = {};
        IoMsg r{};
        r.command = 11;
        r.slot = msg->slot;
        r.length = 28;
        r.data = buf;
        input_acm(s, &r);
        c[0] = 0;
        std::memcpy(c + 1, buf, 24);
        for (int p = 0; p < 3; ++p) {
            answer_float(c + 25 + 4 * p, m.power[p]);
            answer_float(c + 37 + 4 * p, m.rpower[p]);
        }
        msg->count = 49;
        return true;
    }
    case 2: {
        // Three voltage and three current transformer ratios; a ratio that is
        // not a positive number refuses the request and changes nothing.
        const int in = msg->count;
        double r[6];
        int n = 0;
        for (; n < 6 && 1 + 4 * n + 4 <= in; ++n) {
            float f;
            const uint32_t bits = le32(c + 1 + 4 * n);
            std::memcpy(&f, &bits, 4);
            if (!std::isfinite(f) || f <= 0.0f) {
                c[0] = 1;
                msg->count = 1;
                return true;
            }
            r[n] = f;
        }
        s.flags |= ioflag::kCal | ioflag::kRestart;
        for (int i = 0; i < n; ++i)
            (i < 3 ? m.vratio[i] : m.iratio[i - 3]) = r[i];
        io_meter_aqx(s);
        c[0] = 0;
        msg->count = 1;
        return true;
    }
    case 15: {
        // Twelve offsets, the four scaling constants, the frequency
        // correction and the measured frequency.
        c[0] = 0;
        for (int i = 0; i < 12; ++i)
            put_le16(c + 1 + 2 * i, s.cal.offset[i]);
        const double f[6] = {kVoltsPerCount, kAmpsPerCount, kEnergyPerCount,
                             kHzPerCount,    m.lpf1,        double(m.val[6]) * kHzPerCount};
        for (int i = 0; i < 6; ++i)
            answer_float(c + 25 + 4 * i, f[i]);
        msg->count = 49;
        return true;
    }
    default:
        return false;
    }
}
