// The analog front end of the on-board board with six converted inputs. It
// sits behind the board's controller at expander address 0x40 and speaks in
// commands: a command byte, then a 16-bit word (low byte first) to write, or
// a read of one word.
//
//   0x50 + channel, word  channel setting: low byte the channel mode, high
//                         byte the gain code
//   0x10, read            status: bit 0 set once the settings are taken
//   0x11, 0x12, read      the front end's identity words
//   0x13-0x15, 0x17-0x1A  diagnostic words (0x16 is not one)
//
// Configuration block bytes 120-147 of the board:
//   120, 122   u16 channel modes of inputs 5 and 6 (inputs 1-4: bytes 0-7)
//   124-135    u16[6] gain codes of inputs 1-6 (low byte used)
//   136-139    u32 register of the identity words (two words; 0 none)
//   140-143    u32 register of the diagnostic block (0 none): bits 0-6 of
//              its first word ask for the seven diagnostic words; word n
//              goes to the register n + 1 places after it
#include "base/le.h"
#include "host/clock.h"
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "platform/tick.h"

namespace {

constexpr uint8_t kFrontEnd = 0x40;
constexpr uint8_t kStatus = 0x10, kIdentity = 0x11, kSetting = 0x50;
constexpr uint8_t kDiag[kV6DiagWords] = {0x13, 0x14, 0x15, 0x17, 0x18, 0x19, 0x1A};
constexpr uint32_t kReadyTicks = 100; // 10 ms

bool command_read(uint8_t cmd, uint16_t *w) {
    uint8_t b[2] = {};
    if (I2C_write_io(kFrontEnd, &cmd, 0, 1) || I2C_read_io(kFrontEnd, b, 1, 2)) return false;
    *w = uint16_t(b[0] | b[1] << 8);
    return true;
}

} // namespace

void io_v6_configure(IoSlotState &s, const uint8_t *cfg, uint32_t n) {
    auto u8 = [&](uint32_t at) { return at < n ? cfg[at] : uint8_t(0); };
    auto u32 = [&](uint32_t at) {
        return uint32_t(u8(at) | u8(at + 1) << 8 | u8(at + 2) << 16 | uint32_t(u8(at + 3)) << 24);
    };
    for (int ch = 0; ch < 6; ++ch)
        s.v6_gain[ch] = u8(uint32_t(124 + 2 * ch));
    s.v6_id_ref = u32(136);
    s.v6_diag_ref = u32(140);
    for (int ch = 0; ch < 6; ++ch) {
        const uint8_t frame[3] = {uint8_t(kSetting + ch), s.mode[ch], s.v6_gain[ch]};
        I2C_write_io(kFrontEnd, frame, 9, 3);
    }
    // The settings take a moment; the identity follows once they are taken.
    const uint32_t start = FPGA_GetFrt();
    uint16_t status = 0;
    while (!(command_read(kStatus, &status) && (status & 1)) && FPGA_GetFrt() - start < kReadyTicks)
        host::wait_step();
    s.v6_ready = status & 1;
    if (!s.v6_id_ref) return;
    for (int i = 0; i < 2; ++i) {
        uint16_t w = 0;
        if (s.v6_ready && command_read(uint8_t(kIdentity + i), &w))
            io_reg_put16(s.v6_id_ref + 16u * unsigned(i), w);
    }
}

void io_v6_diagnostics(IoSlotState &s) {
    if (!s.v6_diag_ref) return;
    const uint16_t ask = io_reg_get16(s.v6_diag_ref);
    for (int i = 0; i < kV6DiagWords; ++i) {
        uint16_t w;
        if ((ask & (1u << i)) && command_read(kDiag[i], &w))
            io_reg_put16(s.v6_diag_ref + 16u * unsigned(1 + i), w);
    }
}
