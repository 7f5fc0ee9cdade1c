#include "platform/io_analog.h"

#include "base/le.h"

#include <algorithm>

namespace {
constexpr Ad5tRow kNone{0, 0, 0, 0};
constexpr Ad5tRow kLinear{200, 3, 0x0FFFFFFF, 0x04};
constexpr Ad5tRow kRtdRow{800, 1, 0x3FFFFFFF, 0x0C};
constexpr Ad5tRow kTc15{800, 15, 0x3FFFFFFF, 0x0D};
constexpr Ad5tRow kTc14{800, 14, 0x3FFFFFFF, 0x0D};
constexpr Ad5tRow kTcS{800, 15, 0x3FFFFFFF, 0x0C};

// Interpolation between table[v / step] and the next entry; the two ends
// hold beyond the table.
int32_t interpolate(int32_t v, const uint16_t *table, int entries, int shift) {
    const int32_t step = 1 << shift;
    const int32_t last = entries - 1;
    if (v <= 0) return int32_t(table[0]) - 5600;
    if (v >= last * step) return int32_t(table[last]) - 5600;
    const int32_t i = v >> shift;
    const int32_t e = table[i];
    const int32_t next = table[i + 1];
    return e - 5600 + (((v & (step - 1)) * (next - e) + step / 2) >> shift);
}

int64_t clamp64(int64_t v, int64_t lo, int64_t hi) {
    return std::min(std::max(v, lo), hi);
}

// Calibration offsets are stored as two's complement words.
int64_t soff(uint16_t offset) {
    return int16_t(offset);
}
} // namespace

const Ad5tRow ad5t[32] = {
    kLinear, kLinear, kLinear, kNone, kNone, kNone, kNone, kNone, // 0-7
    kLinear, kNone,   kNone,   kNone, kNone, kNone, kNone, kNone, // 8-15
    kRtdRow, kNone,   kNone,   kNone, kNone, kNone, kNone, kNone, // 16-23
    kTc15,   kTc15,   kTc15,   kTc14, kTcS,  kTc14, kTc14, kTc14, // 24-31: J R K T S E N B
};

int32_t tc_table(int32_t v, const uint16_t *table) {
    return interpolate(v, table, kTcEntries, 7);
}

int32_t rtd_table(int32_t v, const uint16_t *table) {
    return interpolate(v, table, kRtdEntries, 6);
}

void cj_comp(int32_t t, int32_t comp[8]) {
    const int64_t tt = int64_t(t) * t;
    for (int i = 0; i < 8; ++i) {
        if (cjy[i] == 0)
            comp[i] = int32_t((tt / 64) / cjysq[i]);
        else
            comp[i] = int32_t((int64_t(t) * cjy[i]) / 65536 + (tt / 16) / cjysq[i]);
    }
}

int32_t ai_filter(AiFilter &f, int32_t raw, int k, bool restart) {
    if (k <= 0) return f.value = raw;
    // The shift comes from the configuration block: a shift past the
    // accumulator's width would be undefined, and beyond 31 the filter is
    // frozen anyway.
    if (k > 31) k = 31;
    if (restart) {
        f.acc = int64_t(raw) << k;
        f.value = raw;
    } else {
        f.acc = f.acc - f.value + raw;
        f.value = int32_t(f.acc >> k);
    }
    return f.value;
}

int32_t ai_scale(int32_t raw, uint16_t gain, uint16_t offset) {
    const int64_t v = (soff(offset) + raw) * int64_t(gain);
    if (v < 0) return 0;
    if (v >= 0x20000000) return 0x7FFF;
    return int32_t(v / 16384);
}

int32_t ai_scale_base(int32_t raw, uint16_t gain, uint16_t offset) {
    const int64_t v = (soff(offset) + raw) * int64_t(gain) / 65536;
    return v < 0 ? 0 : int32_t(v);
}

int32_t ai_4_20(int32_t v) {
    v = std::clamp(v, 0, 32000);
    return (5 * v - 32000) / 4; // C++ division rounds toward zero
}

int32_t ai_scale_tc_board(int mode, int32_t raw, uint16_t gain, uint16_t offset, int32_t comp,
                          const uint16_t *tc) {
    if (mode < 0 || mode > 31) return 0;
    const Ad5tRow &m = ad5t[mode];
    const int64_t v = (soff(offset) + raw) * int64_t(gain);
    switch (mode) {
    case aimode::kVolt:
    case aimode::kMa0_20:
    case aimode::kMa4_20: {
        // The register is one signed word: an input past full scale reads
        // its top value, as on the other boards, not a wrapped one.
        const int32_t s =
            int32_t(clamp64(v >> (16 - m.shift), 0, std::min<int64_t>(m.clamp, 0x7FFF)));
        return mode == aimode::kMa4_20 ? ai_4_20(s) : s;
    }
    case aimode::kMillivolt:
        return int16_t(uint32_t(clamp64(v * 8, -0x7FFFFFF8LL, 0x7FFFFFF8LL)) >> 16);
    case aimode::kRtd:
        return rtd_table(int32_t(clamp64(v, 0, 0x3FFFFFFF) / 65536), pt100e_tab);
    default:
        break;
    }
    if (mode < aimode::kTcFirst) return 0;
    if (tc == nullptr) tc = tctbl[mode - aimode::kTcFirst];
    const int64_t c = (v >> m.shift) + 0x8000 + comp;
    return tc_table(int32_t(clamp64(c, 0, 0xFFFF)), tc);
}

namespace {
uint16_t dac_clamp(int64_t v) {
    return uint16_t(clamp64(v, 0, 0xFFF));
}
uint16_t four_twenty_out(uint16_t v) {
    return uint16_t(4 * int32_t(v) / 5 + 6400);
}
} // namespace

uint16_t aq_convert(int mode, uint16_t v, const uint16_t gain[3], const uint16_t offset[3]) {
    switch (mode) {
    case 0:
        return dac_clamp(soff(offset[0]) + ((int64_t(v) * gain[0]) >> 18));
    case 2:
        v = four_twenty_out(v);
        [[fallthrough]];
    case 1:
        return dac_clamp(soff(offset[2]) + ((int64_t(v) * gain[2]) >> 18));
    case 9: // bipolar: the word is signed, 0x800 is zero
        return dac_clamp(soff(offset[1]) + 0x800 + ((int64_t(int16_t(v)) * gain[1]) >> 19));
    default:
        return dac_clamp(v);
    }
}

uint16_t aq_convert_board(int mode, uint16_t v, uint16_t gain, uint16_t offset) {
    if (mode == 2) v = four_twenty_out(v);
    if (mode < 0 || mode > 2) return dac_clamp(v);
    return dac_clamp(soff(offset) + ((int64_t(v) * gain) >> 18));
}

uint8_t aq_dac_addr(int ch) {
    return ch < 2 ? 0x20 : 0x22;
}

void aq_dac_frame(int ch, uint16_t value, uint8_t frame[3]) {
    const uint16_t w = uint16_t(std::min<uint16_t>(value, 0xFFF) << 4);
    frame[0] = uint8_t(0x30 + (ch & 1));
    frame[1] = uint8_t(w >> 8);
    frame[2] = uint8_t(w);
}

bool pwm_regs(uint32_t freq, uint32_t duty, PwmRegs &out) {
    if (freq == 0) return false;
    const uint32_t period = 10000000u / freq;
    const uint32_t count = uint32_t(uint64_t(period) * std::min<uint32_t>(duty, 32000) / 32000);
    out.period = (period - 1) & 0xFFFFFF; // 3-byte registers
    out.duty = (count - 1) & 0xFFFFFF;
    return true;
}

void cal_unpack(const uint8_t *bytes, CalBlock &b) {
    for (int i = 0; i < 16; ++i) {
        b.gain[i] = le16(bytes + 2 * i);
        b.offset[i] = le16(bytes + 32 + 2 * i);
    }
    b.marker = le16(bytes + 0x40);
}

void cal_pack(const CalBlock &b, uint8_t *bytes) {
    for (int i = 0; i < 16; ++i) {
        put_le16(bytes + 2 * i, b.gain[i]);
        put_le16(bytes + 32 + 2 * i, b.offset[i]);
    }
    put_le16(bytes + 0x40, b.marker);
}

uint16_t io_eeaddr(int row) {
    switch (row) {
    case 0:
        return 0x6100;
    case 1:
        return 0x6500;
    case 2:
        return 0x6600;
    case 3:
        return 0x6400;
    case 4:
        return 0x6700;
    case 5:
    case 6:
    case 8:
    case 9:
    case 10:
    case 11:
    case 18:
    case 19:
        return 0x6200;
    case 7:
    case 16:
    case 17:
        return 0x6300;
    default:
        return 0;
    }
}

uint16_t io_cal_load_addr(int row) {
    switch (row) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 7:
    case 16:
    case 17:
    case 22:
        return uint16_t(io_eeaddr(row) ^ 0x600);
    case 4:
        return 0x6100;
    default:
        return io_eeaddr(row);
    }
}
