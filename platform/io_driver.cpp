// The I/O-module driver: one command message at a time for slot 0 or 1. It
// keeps the state of each slot, applies the slot's configuration block, moves
// digital values between the register image and the module expanders, and
// runs the calibration sub-commands. The analog side and the FPGA counters
// and pulse outputs live in io_scan.cpp, the calibration constants in
// io_calconst.cpp.
#include "base/le.h"
#include "base/trace.h"
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <cstring>
#include <iterator>

IoDriverState io_drv;

namespace {

constexpr uint16_t kCalIdentMagic = 309;

// The configuration block as handed in: bytes past its end read as 0, so a
// short block cannot make the driver read beyond it.
struct CfgBlock {
    const uint8_t *p;
    uint32_t n;
    uint8_t u8(uint32_t at) const { return at < n ? p[at] : 0; }
    uint16_t u16(uint32_t at) const { return uint16_t(u8(at) | u8(at + 1) << 8); }
    uint32_t u32(uint32_t at) const { return u16(at) | uint32_t(u16(at + 2)) << 16; }
};

bool fpga_version_ok() {
    return uint8_t(spi_data_RD_nWR(0, 2, 1, 1)) == uint8_t(sr_get(sr::kFpgaVersion));
}

void fpga_put(uint16_t reg, uint32_t v, int width) {
    spi_data_RD_nWR(v, reg, width, 0);
}

// ------------------------------------------------------------ configure

// The FPGA side of the on-board I/O: counters and pulse registers cleared,
// enabled counters set up, pulse modes, clock, prescaler and input polarity.
void setup_fpga(IoSlotState &s) {
    for (uint16_t r = 0x40; r <= 0x60; r = uint16_t(r + 4))
        fpga_put(r, 0, 4);
    for (uint16_t r = 0x80; r <= 0xA0; r = uint16_t(r + 4))
        fpga_put(r, 0, 4);
    for (uint16_t r = 0xC0; r <= 0xD4; r = uint16_t(r + 4))
        fpga_put(r, 0, 4);
    for (uint16_t r = 0xE0; r <= 0xF4; r = uint16_t(r + 4))
        fpga_put(r, 0, 4);
    for (int i = 0; i < 4; ++i) {
        if (!(s.features & (1u << i)) || (i >= 2 && !s.cnt34)) continue;
        fpga_put(uint16_t(cnt_base(i) + 2), s.cnt_setting[i] | 0xFF, 4);
        fpga_put(uint16_t(cnt_base(i) + 6), s.cnt_limit[i], 4);
        // Held until the first input pass starts it.
        fpga_put(uint16_t(cnt_base(i) + 2), 0, 1);
    }
    const uint16_t f = s.features;
    uint8_t m1 = f & 0x10 ? 0x11 : f & 0x40 ? 0x12 : f & 0x100 ? 3 : 0;
    uint8_t m2 = f & 0x20 ? 0x11 : f & 0x400 ? 0x12 : f & 0x200 ? 3 : 0;
    fpga_put(0x41, m1, 1);
    fpga_put(0x81, m2, 1);
    fpga_put(6, s.clock_select, 1);
    uint16_t pre = 0;
    if (s.clock_select && s.prescaler) pre = uint16_t(25000 / s.prescaler - 1);
    fpga_put(7, pre, 2);
    fpga_put(4, f & iofeat::kInverted ? 0 : 1, 1);
    s.fpga_mirror[0] = s.fpga_mirror[1] = 0xFF;
    s.counters_running = false;
    for (auto &w : s.pulse_written)
        std::fill(std::begin(w), std::end(w), false);
    for (auto &w : s.cnt_written)
        std::fill(std::begin(w), std::end(w), false);
}

void configure(IoSlotState &s, IoMsg *msg) {
    const int slot = msg->slot;
    if (s.flags & ioflag::kCal) return;
    s.flags = uint16_t((s.flags & ~0x300u) | (msg->status & 3u) << 8);
    if (io_is_generic(s)) {
        io_get_gen_cfg(s, slot);
        return;
    }
    io_get_cal_const(s, slot);
    if (s.type == iorow::kBusSlave) {
        io_slave_configure(s, msg->data, msg->length);
        return;
    }
    if (!msg->data) return;
    if (slot == 1 && s.type == iorow::kComm5) {
        IoCommReset(0, 0);
        return;
    }
    const CfgBlock b{msg->data, msg->length};
    for (int i = 0; i < 4; ++i)
        s.mode[i] = b.u8(uint32_t(2 * i));
    // The fifth and sixth inputs of the board with six converted channels
    // take their modes from its front-end settings.
    s.mode[4] = b.u8(120);
    s.mode[5] = b.u8(122);
    s.filter_shift = b.u8(8);
    s.features = uint16_t(b.u8(9) | b.u8(10) << 8);
    s.dstop_mask = b.u16(32);
    s.dstop_values = b.u16(34);
    s.aq_stop_mask = b.u8(36);
    for (int i = 0; i < 4; ++i)
        s.aq_stop[i] = b.u32(uint32_t(40 + 4 * i));
    s.protect_ref = b.u32(60);
    for (int i = 0; i < 2; ++i) {
        s.cnt_setting[i] = b.u32(uint32_t(76 + 8 * i));
        s.cnt_limit[i] = b.u32(uint32_t(80 + 8 * i));
    }
    for (int i = 0; i < 6; ++i)
        s.refs[i] = b.u32(uint32_t(92 + 4 * i));
    s.aq_ref = b.u32(116);
    s.cnt34 = b.u32(148) == 2;
    for (int i = 2; i < 4; ++i) {
        s.cnt_setting[i] = b.u32(uint32_t(152 + 8 * (i - 2)));
        s.cnt_limit[i] = b.u32(uint32_t(156 + 8 * (i - 2)));
    }
    s.clock_select = b.u8(172) & 0x0F;
    s.prescaler = b.u16(174);
    s.flags |= ioflag::kRestart;

    if (s.type == iorow::kBase) {
        // The front end: voltage inputs and the inputs' polarity on the
        // expander (with the outputs), the four input pins made inputs.
        io_q_put(slot, 0);
        io_base_enable_inputs();
    }
    if (slot == 0 && (io_has_fpga_counters(s) || io_has_fpga_pulse(s))) setup_fpga(s);
    if (slot == 0 && s.type == iorow::kV6) io_v6_configure(s, msg->data, msg->length);
    if (slot == 1 && (s.type == iorow::kAq4 || s.type == iorow::kAq2)) {
        // Bipolar channels start at the middle of their range.
        for (int ch = 0; ch < 4; ++ch) {
            if (s.mode[ch] != 9) continue;
            io_q_put(slot, 4);
            const uint8_t frame[3] = {uint8_t(0x30 + (ch & 1)), 0x80, 0x00};
            I2C_write_io(aq_dac_addr(ch), frame, 9, 3);
            io_q_put(slot, 0);
        }
    }
    if (io_is_meter(s)) io_meter_config(s);
}

// --------------------------------------------------------- digital inputs

// Reads a 16-bit expander; false when it does not answer.
bool read_expander(uint8_t dev, uint16_t *w) {
    uint8_t b[2] = {};
    if (I2C_read_io(dev, b, 1, 2)) return false;
    *w = uint16_t(b[0] | b[1] << 8);
    return true;
}

void deliver(IoMsg *msg, const uint8_t *bytes, int n) {
    if (!msg->data) return;
    for (int i = 0; i < n && i < msg->length; ++i)
        msg->data[msg->first + i] = bytes[i];
}

void read_inputs(IoSlotState &s, IoMsg *msg) {
    uint8_t in[4] = {};
    int n = 0;
    switch (s.type) {
    case iorow::kV1:
    case iorow::kV2:
    case iorow::kV3:
    case iorow::kV5: {
        uint16_t w;
        if (!read_expander(0x40, &w) || !fpga_version_ok()) break;
        in[0] = uint8_t(w);
        in[1] = uint8_t(spi_data_RD_nWR(0, 0xCB, 1, 1) & 0x0F);
        if (s.features & iofeat::kInverted) in[0] = uint8_t(~in[0]);
        in[3] = (w & 0x200) ? 0 : 0x80;
        n = 4;
        break;
    }
    case iorow::kV4: {
        uint16_t lo, hi;
        if (!read_expander(0x40, &lo) || !read_expander(0x44, &hi) || !fpga_version_ok()) break;
        uint32_t v = lo | uint32_t(hi & 0x0F) << 16;
        if (s.features & iofeat::kInverted) v = ~v & 0xFFFFF;
        for (int i = 0; i < 3; ++i)
            in[i] = uint8_t(v >> (8 * i));
        n = 3;
        break;
    }
    case iorow::kProtected: {
        uint16_t w;
        if (!read_expander(0x4C, &w)) break;
        in[0] = uint8_t(w & 0x0F);
        n = 1;
        break;
    }
    case iorow::kBase:
        // The expander's polarity bit has the pins read inverted already.
        if (!io_base_inputs(&in[0])) break;
        n = 1;
        break;
    case iorow::kV6: {
        const uint8_t cmd = 0x40;
        uint8_t b[2] = {};
        bool ok = false;
        for (int tries = 0; tries < 2 && !ok; ++tries)
            ok = I2C_write_io(0x40, &cmd, 0, 1) == 0;
        if (ok) {
            ok = false;
            for (int tries = 0; tries < 2 && !ok; ++tries)
                ok = I2C_read_io(0x40, b, 1, 2) == 0;
        }
        if (!ok || !fpga_version_ok()) break;
        in[0] = b[0];
        in[1] = b[1];
        n = 2;
        break;
    }
    case iorow::kMeter1:
    case iorow::kMeter2:
        if (io_meter_inputs(s, in)) n = 3;
        break;
    case iorow::kBusSlave:
        io_slave_read_inputs(s, msg);
        break;
    default:
        break;
    }
    deliver(msg, in, n);
    if (io_has_fpga_counters(s)) io_counter_status(s);
}

// ------------------------------------------------------------ calibration

void answer_words(IoMsg *msg, const uint16_t *w, int n) {
    uint8_t *c = msg->data;
    c[0] = 0;
    for (int i = 0; i < n && 1 + 2 * i + 1 < 64; ++i)
        put_le16(c + 1 + 2 * i, w[i]);
    msg->count = uint8_t(1 + 2 * n);
}

void calibrate(IoSlotState &s, IoMsg *msg) {
    uint8_t *c = msg->data;
    if (!c) return;
    const int slot = msg->slot, in = msg->count;
    const uint8_t sub = c[0];
    const uint16_t id = io_ident[s.type].id;
    if (io_is_meter(s) && io_meter_cal(s, msg)) return;
    switch (sub) {
    case 0: {
        std::memset(c, 0, 26);
        put_le16(c + 1, s.flags);
        put_le16(c + 3, kCalIdentMagic);
        put_le16(c + 5, id);
        const char *name =
            crc_header[3] == 0x80 ? io_ident_oem_names[s.type] : io_ident[s.type].name;
        for (int i = 0; i < 6; ++i)
            c[7 + i] = uint8_t(name[i] ? name[i] : ' ');
        for (int i = 0; i < 4; ++i)
            put_le16(c + 13 + 2 * i, s.mode[i]);
        put_le16(c + 21, s.filter_shift);
        put_le16(c + 23, uint8_t(s.features));
        msg->count = 26;
        return;
    }
    case 1: {
        uint16_t w[24] = {};
        int n;
        if (slot == 1 && (s.type == iorow::kAq4 || s.type == iorow::kAq2)) {
            std::copy(s.last_aq, s.last_aq + 4, w);
            n = 4;
        } else {
            uint8_t buf[2 * 12] = {};
            IoMsg m{};
            m.command = 11;
            m.slot = uint8_t(slot);
            m.length = 12;
            m.data = buf;
            input_ais(s, &m);
            for (int i = 0; i < 12; ++i)
                w[i] = le16(buf + 2 * i);
            const int raw = s.type == iorow::kBase ? 4 : 8;
            for (int i = 0; i < raw; ++i)
                w[12 + i] = uint16_t(s.raw[i]);
            n = s.type == iorow::kBase ? 12 : 22;
            if (s.type == iorow::kBase) {
                for (int i = 0; i < 4; ++i)
                    w[8 + i] = uint16_t(s.raw[i]);
            } else {
                w[20] = uint16_t(s.cj_reading);
                w[21] = s.flags;
            }
        }
        answer_words(msg, w, n);
        return;
    }
    case 2: {
        s.flags |= ioflag::kCal | ioflag::kRestart;
        for (int i = 0; i < 4 && 1 + i < in; ++i)
            s.mode[i] = c[1 + i];
        if (slot == 0 && in > 5) s.filter_shift = c[5];
        // The outputs once, with the constants and modes in use: the scans
        // leave them alone until calibration ends.
        IoMsg m{};
        m.slot = uint8_t(slot);
        output_aqx(s, &m, slot);
        break;
    }
    case 3: {
        const uint32_t mask = c[1] | uint32_t(c[2]) << 8 | uint32_t(c[3]) << 16;
        int at = 4;
        for (int ch = 0; ch < 16; ++ch) {
            if (!(mask & (1u << ch))) continue;
            if (at + 4 > in) break;
            s.cal.gain[ch] = le16(c + at);
            s.cal.offset[ch] = le16(c + at + 2);
            if (io_is_meter(s)) io_meter_send_cal(s, ch);
            at += 4;
        }
        break;
    }
    case 4:
        io_put_cal_const(s, slot, le16(c + 1));
        break;
    case 5:
    case 6: {
        const bool valid = sub == 5;
        io_put_ee_word(s, valid ? kCalMarker : 0, 0x40, slot, le16(c + 1));
        s.cal.marker = valid ? kCalMarker : 0;
        if (valid)
            s.flags |= ioflag::kValid;
        else
            s.flags &= uint16_t(~ioflag::kValid);
        break;
    }
    case 7:
        s.flags &= uint16_t(~ioflag::kCal);
        break;
    case 14:
        answer_words(msg, s.cal.gain, 16);
        return;
    case 15:
        answer_words(msg, s.cal.offset, 16);
        return;
    case 27:
        if (s.type == iorow::kBase && (c[1] == 1 || c[1] == 2)) {
            const uint8_t b[2] = {uint8_t(c[1] == 1 ? 0x1E : 0x00), 0xFF};
            I2C_write_io(0x4C, b, 1, 2);
        }
        break;
    default:
        break;
    }
    c[0] = 0;
    msg->count = 1;
}

// ------------------------------------------------------------------ stop

void stop(IoSlotState &s, int slot) {
    if (io_has_fpga_counters(s) || io_has_fpga_pulse(s)) io_counters_stop(s);
    s.pulse_active = false;
    if (io_is_generic(s)) io_gen_control(s, 0);
    if (s.type == iorow::kBusSlave) io_slave_stop(s, slot);
    if (slot == 0) {
        const uint16_t now = uint16_t(s.out[0] | s.out[1] << 8);
        const uint16_t v = uint16_t((now & ~s.dstop_mask) | (s.dstop_values & s.dstop_mask));
        s.out[0] = uint8_t(v);
        s.out[1] = uint8_t(v >> 8);
        io_q_put(slot, 0);
        if (io_has_fpga_pulse(s)) {
            if (s.features & 0x550) fpga_put(0x40, 0, 1);
            if (s.features & 0x620) fpga_put(0x80, 0, 1);
            s.fpga_mirror[0] = s.fpga_mirror[1] = 0;
        }
    }
    for (int ch = 0; ch < 4; ++ch)
        if (s.aq_stop_mask & (1u << ch)) s.last_aq[ch] = uint16_t(s.aq_stop[ch]);
    IoMsg m{};
    m.slot = uint8_t(slot);
    output_aqx(s, &m, slot);
}

// The outputs that double as pulse outputs 1 and 2 (the first two bits)
// switch the FPGA's outputs; written only when they change.
void mirror_pulse_outputs(IoSlotState &s) {
    for (int n = 0; n < 2; ++n) {
        const uint8_t bit = (s.out[0] >> n) & 1;
        if (bit == s.fpga_mirror[n]) continue;
        fpga_put(uint16_t(0x40 + 0x40 * n), bit, 1);
        s.fpga_mirror[n] = bit;
    }
}

// Counters that are not enabled take a word from the configured registers,
// or from the IEC variable (four words) when the IEC runtime owns the I/O.
void load_idle_counters(IoSlotState &s) {
    const uint32_t ref = s.refs[ioref::kCntLoad];
    if (!ref) return;
    const uint8_t *var = io_iec_owns_io() ? PlcReg_Ptr(ref, 64) : nullptr;
    if (io_iec_owns_io() && !var) return;
    for (int i = 0; i < 4; ++i) {
        if (s.features & (1u << i)) continue;
        const uint16_t w = var ? le16(var + 2 * i) : io_reg_get16(ref + 16u * unsigned(i));
        fpga_put(cnt_base(i), w, 2);
    }
}

void write_outputs(IoSlotState &s, IoMsg *msg) {
    if (s.type == iorow::kAq4 || s.type == iorow::kAq2) return;
    if (s.type == iorow::kBusSlave) {
        io_slave_write_outputs(s, msg);
        return;
    }
    if (msg->data)
        for (int i = 0; i < 4 && i < msg->length; ++i)
            s.out[i] = msg->data[msg->first + i];
    io_q_put(msg->slot, 0);
    s.pulse_active = true;
    if (io_has_fpga_pulse(s)) mirror_pulse_outputs(s);
    if (msg->slot == 0 && io_has_fpga_counters(s)) load_idle_counters(s);
}

} // namespace

// ------------------------------------------------------------ output image

void io_q_put(int slot, int mode) {
    IoSlotState &s = io_drv.slot[slot & 1];
    const uint8_t *o = s.out;
    const bool mode_changed = mode != s.last_q_mode;
    s.last_q_mode = uint8_t(mode);
    switch (s.type) {
    case iorow::kV1:
    case iorow::kV2: {
        uint8_t b[2] = {0xFF, uint8_t(~o[0])};
        b[1] = mode ? uint8_t(b[1] & 0x7F) : uint8_t(b[1] | 0x80);
        I2C_write_io(0x40, b, 1, 2);
        break;
    }
    case iorow::kV3:
    case iorow::kV4:
    case iorow::kV5: {
        const uint8_t b[2] = {0xFF, uint8_t(~o[0] | 0x02)};
        I2C_write_io(0x40, b, 1, 2);
        uint8_t second = uint8_t(~o[1]);
        if (s.type == iorow::kV5) second = mode ? uint8_t(second & 0x7F) : uint8_t(second | 0x80);
        I2C_write_io(0x42, &second, 0, 1);
        if (s.type != iorow::kV5 && mode_changed) {
            const uint8_t c[2] = {0xFF, uint8_t(mode ? 0x7F : 0xFF)};
            I2C_write_io(0x44, c, 1, 2);
        }
        break;
    }
    case iorow::kV6: {
        const uint8_t b[3] = {0x40, o[0], o[1]};
        I2C_write_io(0x40, b, 9, 3);
        break;
    }
    case iorow::kBase: {
        uint8_t b0 = (o[0] & 1) ? 0 : 0x80;
        if (s.features & 0x150) b0 |= 0x20;
        if (s.features & 0x620) b0 |= 0x40;
        for (int ch = 0; ch < 4; ++ch)
            if (s.mode[ch] == 0) b0 = uint8_t(b0 | (2 << ch));
        if (s.features & iofeat::kInverted) b0 |= 1;
        const uint8_t b[2] = {b0, uint8_t(~(o[0] >> 1) & 0x07)};
        I2C_write_io(0x4C, b, 1, 2);
        break;
    }
    case iorow::kProtected: {
        uint8_t b[2] = {uint8_t((~o[0] << 4) | 0x0F), 0xFF};
        if (mode & 1) b[1] &= 0xFE;
        if (mode & 2) b[1] &= 0xFD;
        I2C_write_io(0x4C, b, 1, 2);
        break;
    }
    case iorow::kMeter1:
    case iorow::kMeter2:
        if (mode == 0) io_meter_q(s);
        break;
    case iorow::kAq4:
    case iorow::kAq2: {
        uint8_t b0 = s.out[0];
        b0 = (mode & 1) ? uint8_t(b0 & 0x7F) : uint8_t(b0 | 0x80);
        if (mode & 4) b0 &= 0xFB;
        if (mode & 8) b0 |= 0x04;
        s.out[0] = b0;
        const uint8_t b[2] = {b0, 0xFF};
        I2C_write_io(0x4E, b, 1, 2);
        break;
    }
    default:
        break;
    }
}

// ------------------------------------------------------------------ driver

void io_driver(IoMsg *msg) {
    host::trace("io_driver");
    if (msg->command == 1 || msg->command == 3) {
        const uint16_t ids[2] = {msg->first, msg->length};
        for (int i = 0; i < 2; ++i) {
            IoSlotState &s = io_drv.slot[i];
            s = IoSlotState{};
            const int row = IoIdentRow(ids[i]);
            s.type = row >= 0 ? uint16_t(row) : iorow::kNone;
        }
        msg->status = 0;
        return;
    }
    const uint16_t type = msg->slot < 2 ? io_drv.slot[msg->slot].type : iorow::kNone;
    if (!msg_slot_ok(msg, type)) return;
    if (msg->slot == 2) return; // the Ethernet module answers for itself
    IoSlotState &s = io_drv.slot[msg->slot];
    switch (msg->command) {
    case 0:
        break;
    case 2: {
        const IoIdent &r = io_ident[s.type];
        msg->name = crc_header[3] == 0x80 ? io_ident_oem_names[s.type] : r.name;
        for (int i = 0; i < 4; ++i)
            msg->sizes[i] = r.sizes[i];
        if (io_is_generic(s) && s.gen_ok) {
            // The module's own name and sizes, from its header.
            msg->name = s.gen_name;
            const int order[4] = {4, 6, 5, 7};
            for (int i = 0; i < 4; ++i)
                msg->sizes[i] = s.gen_hdr[order[i]];
        }
        if (s.type == iorow::kBusSlave)
            for (int i = 0; i < 4; ++i)
                msg->sizes[i] = s.slave.sizes[i];
        if (s.type == iorow::kV2 && hsc_module_present) {
            msg->sizes[0] = 32;
            msg->sizes[1] = 32;
            msg->sizes[3] = 14;
        }
        break;
    }
    case 4:
        configure(s, msg);
        msg->status = 0;
        break;
    case 5:
        if (msg->data && msg->length >= 13) {
            for (int i = 0; i < 12; ++i)
                put_le16(msg->data + 2 * i, s.mode[i]);
            put_le16(msg->data + 24, s.filter_shift);
        }
        break;
    case 6:
        if (io_is_generic(s)) io_gen2xfer(s, msg->slot);
        break;
    case 8:
        calibrate(s, msg);
        break;
    case 9:
        read_inputs(s, msg);
        break;
    case 10:
        write_outputs(s, msg);
        break;
    case 11:
        if (s.flags & ioflag::kCal) break;
        if (io_is_meter(s))
            input_acm(s, msg);
        else if (s.type == iorow::kBusSlave)
            io_slave_read_analog(s, msg);
        else
            input_ais(s, msg);
        break;
    case 12:
        if (!(s.flags & ioflag::kCal)) output_aqx(s, msg, msg->slot);
        break;
    case 13:
        stop(s, msg->slot);
        break;
    case 14:
        // Only the bus-slave module acts on the start.
        if (s.type == iorow::kBusSlave) io_slave_start(s, msg->slot);
        break;
    default:
        msg->status = 0x20;
        break;
    }
}

// ---------------------------------------------------------- register words

uint32_t io_reg_get32(uint32_t ref) {
    uint8_t b[4] = {};
    if (!ref || !PlcReg_Get(b, ref, 32)) return 0;
    return le32(b);
}
uint16_t io_reg_get16(uint32_t ref) {
    uint8_t b[2] = {};
    if (!ref || !PlcReg_Get(b, ref, 16)) return 0;
    return le16(b);
}
void io_reg_put32(uint32_t ref, uint32_t v) {
    if (!ref || !PlcReg_Ptr(ref, 32)) return;
    uint8_t b[4];
    put_le32(b, v);
    PlcReg_Set(ref, b, 32);
}
void io_reg_put16(uint32_t ref, uint16_t v) {
    if (!ref || !PlcReg_Ptr(ref, 16)) return;
    uint8_t b[2];
    put_le16(b, v);
    PlcReg_Set(ref, b, 16);
}

void IoDriver_Reset() {
    io_drv = IoDriverState{};
}
