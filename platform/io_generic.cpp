// Generic I2C modules: a memory on the module announces in its header how
// many bits and words it exchanges; each service call moves them between the
// module's memory and fixed register areas of the slot.
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t genid[2] = {0x08, 0x0A};
constexpr int kHeaderSpeed = 0x204; // 3125 x 2^2 = 12.5 kHz, one address byte
constexpr int kHeaderTries = 50;    // a header that never shows its mark is given up
constexpr int kMaxBits = 128, kMaxWords = 112;

// The registers of the slot's exchange: one register before the first of
// each area, as the module's layout counts them.
uint32_t in_bits_ref(int slot) {
    return uint32_t((slot + 32) * 256 - 1) + 1;
}
uint32_t in_words_ref(int slot) {
    return uint32_t(slot * 4096 + 16368) + 16;
}
uint32_t out_bits_ref(int slot) {
    return uint32_t((slot + 40) * 256 - 1) + 1;
}
uint32_t out_words_ref(int slot) {
    return uint32_t(slot * 4096 + 24560) + 16;
}

bool mem_read(const IoSlotState &s, uint32_t at, uint8_t *buf, int n, int mode) {
    return I2C_read_mem(buf, s.gen_base + at, n, mode) == 0;
}
bool mem_write(const IoSlotState &s, uint32_t at, const uint8_t *buf, int n) {
    return I2C_write_mem(buf, s.gen_base + at, n, s.gen_alg) == 0;
}

} // namespace

// The header: the first two bytes again until byte 1 shows 0xE0-0xE7,
// whose low nibble gives the speed of everything after it.
void io_get_gen_cfg(IoSlotState &s, int slot) {
    s.gen_ok = false;
    std::memset(s.gen_hdr, 0, sizeof s.gen_hdr);
    std::memset(s.gen_name, 0, sizeof s.gen_name);
    // The module's memory answers at the slot's generic-module address.
    s.gen_base = uint32_t(genid[slot & 1] >> 1) << 8;
    bool marked = false;
    for (int i = 0; i < kHeaderTries && !marked; ++i)
        marked = mem_read(s, 0, s.gen_hdr, 2, kHeaderSpeed) && (s.gen_hdr[1] & 0xF8) == 0xE0;
    if (!marked) return;
    s.gen_alg = (s.gen_hdr[1] & 0x0F) * 256 + 4;
    if (!mem_read(s, 2, s.gen_hdr + 2, 14, s.gen_alg)) return;
    std::memcpy(s.gen_name, s.gen_hdr + 8, 8);
    s.gen_ok = true;
}

void io_gen_control(IoSlotState &s, uint8_t value) {
    if (s.gen_ok) mem_write(s, 0, &value, 1);
}

void io_gen2xfer(IoSlotState &s, int slot) {
    if (!s.gen_ok) return;
    io_gen_control(s, 1);
    const uint8_t *h = s.gen_hdr;
    uint8_t buf[2 * kMaxWords];
    if (int bits = std::min<int>(h[4], kMaxBits); bits > 0) {
        const int n = (bits + 7) / 8;
        uint8_t *dst = PlcReg_Ptr(in_bits_ref(slot), uint32_t(8 * n));
        if (dst && mem_read(s, 16, buf, n, s.gen_alg)) std::memcpy(dst, buf, size_t(n));
    }
    if (int words = std::min<int>(h[5], kMaxWords); words > 0) {
        uint8_t *dst = PlcReg_Ptr(in_words_ref(slot), uint32_t(16 * words));
        if (dst && mem_read(s, 32, buf, 2 * words, s.gen_alg))
            std::memcpy(dst, buf, size_t(2 * words));
    }
    if (h[6]) {
        const int bits = h[4] ? std::min<int>(h[4], kMaxBits) : 1;
        const int n = (bits + 7) / 8;
        if (const uint8_t *src = PlcReg_Ptr(out_bits_ref(slot), uint32_t(8 * n))) {
            std::memcpy(buf, src, size_t(n));
            mem_write(s, 16, buf, n);
        }
    }
    if (int words = std::min<int>(h[7], kMaxWords); words > 0) {
        if (const uint8_t *src = PlcReg_Ptr(out_words_ref(slot), uint32_t(16 * words))) {
            std::memcpy(buf, src, size_t(2 * words));
            mem_write(s, 32, buf, 2 * words);
        }
    }
}
