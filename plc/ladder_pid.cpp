// Ladder PID and alarm instructions: they decode their own operands and
// return the position of the next instruction.
#include "base/le.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "plc/pid.h"
#include "regs/plc_reg.h"

namespace {

constexpr uint32_t kBlockBytes = 2 * pidw::Count;

// Selection word of the alarm instruction: bit 15 a selection is held, low 9
// bits the held index (511 none), bits 9-12 the last values of its inputs.
constexpr uint16_t kAlarmNone = 511;
uint16_t alarm_sel = kAlarmNone;

// Byte offset of the parameter block, or -1 when the 32 bytes would leave
// the register image.
int64_t block_offset(uint32_t ref, bool pointer) {
    if (ref < 1024) return -1;
    int64_t off;
    if (pointer) {
        const uint8_t *p = Lad_Word32(ref);
        if (!p) return -1;
        off = le32(p);
    } else {
        off = int64_t((ref - 1024) / 16) * 2;
    }
    if (off + kBlockBytes > int64_t(reg::kImageSize)) return -1;
    return off;
}

} // namespace

void LadPid_Reset() {
    alarm_sel = kAlarmNone;
}

uint32_t IEC_NON_IEC_PidParser(uint32_t pos, uint16_t op, uint32_t now, uint8_t *top, int form) {
    const uint8_t kind = Lad_Op(op).arg;
    const bool tune_form = kind & kLadPidTune;
    const bool dependent = kind & kLadPidDependent;
    // Every operand is decoded first, so the next position is right whether
    // or not the instruction acts.
    uint16_t loop = Lad_Word(&pos);
    uint32_t block_ref = Lad_WordRef(&pos);
    uint32_t sp_ref = Lad_WordRef(&pos);
    uint32_t pv_ref = Lad_WordRef(&pos);
    uint32_t man_ref = Lad_BitRef(&pos);
    uint32_t inc_ref = Lad_BitRef(&pos);
    uint32_t dec_ref = Lad_BitRef(&pos);
    uint32_t req_ref = 0, done_ref = 0;
    uint16_t tune_word = 0;
    if (tune_form) {
        req_ref = Lad_BitRef(&pos);
        tune_word = Lad_Word(&pos);
    }
    uint32_t out_ref = Lad_WordRef(&pos);
    if (tune_form) done_ref = Lad_BitRef(&pos);
    if (lad_fault || !*top) return pos;

    int64_t off = block_offset(block_ref, form != 0);
    if (lad_fault) return pos;
    if (off < 0) {
        // A block that does not lie inside the register image fails the
        // instruction; nothing is written.
        *top = 0;
        return pos;
    }
    uint16_t blk[pidw::Count];
    for (int i = 0; i < pidw::Count; ++i)
        blk[i] = le16(plc_reg + off + 2 * i);

    uint16_t ctl = blk[pidw::Control];
    ctl = dependent ? uint16_t(ctl | pidc::Dependent) : uint16_t(ctl & ~pidc::Dependent);
    ctl |= pidc::Enabled;
    ctl = sbit_get(sbit::kFirstScan) ? uint16_t(ctl | pidc::Init) : uint16_t(ctl & ~pidc::Init);

    const uint8_t *pv = Lad_Word16(pv_ref);
    if (!pv) return pos;
    blk[pidw::Pv] = le16(pv);
    if (!(ctl & pidc::Hold)) {
        const uint8_t *sp = Lad_Word16(sp_ref);
        if (!sp) return pos;
        blk[pidw::Setpoint] = le16(sp);
        auto put = [&](uint16_t bit, uint32_t ref) {
            ctl = Lad_GetBit(ref) ? uint16_t(ctl | bit) : uint16_t(ctl & ~bit);
        };
        put(pidc::Manual, man_ref);
        put(pidc::Inc, inc_ref);
        put(pidc::Dec, dec_ref);
    }
    blk[pidw::Control] = ctl;

    PidCall call{now, loop, 0, 0};
    if (tune_form) {
        // The request input gives bit 1 of the tune mode; the operand word
        // (mode in its low byte, options in its high byte) is ORed over it,
        // so a mode word with bit 1 set tunes whatever the input says.
        call.tune_mode = uint8_t((Lad_GetBit(req_ref) ? 2u : 0u) | (tune_word & 0xFFu));
        call.tune_opts = uint8_t(tune_word >> 8);
    }
    uint8_t *out = Lad_Word16(out_ref);
    if (lad_fault || !out) return pos;

    if (fbk_pid(&call, blk) != 0) *top = 0;

    put_le16(out, blk[pidw::Output]);
    if (tune_form) Lad_PutBit(done_ref, call.tune_mode & 1);
    for (int i = 0; i < pidw::Count; ++i)
        put_le16(plc_reg + off + 2 * i, blk[i]);
    return pos;
}

uint32_t Alarm_Handler(uint32_t pos, uint8_t *top) {
    uint16_t w[9];
    for (uint16_t &x : w)
        x = Lad_Word(&pos);
    if (lad_fault) return pos;
    if (!*top) {
        alarm_sel = uint16_t(alarm_sel & ~0x8000u);
        return pos;
    }
    uint16_t st = alarm_sel;
    for (int i = 0; i < 4; ++i) {
        // An input word that names no register reads as off.
        int on = w[5 + i] >= 1024 ? Lad_GetBit(w[5 + i]) : 0;
        uint16_t mem = uint16_t(1u << (9 + i));
        st = on ? uint16_t(st | mem) : uint16_t(st & ~mem);
    }
    alarm_sel = st;
    return pos;
}

uint16_t Alarm_Selection() {
    return alarm_sel;
}
