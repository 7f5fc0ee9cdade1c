// Device model of the pixel pipeline (PXP) behind "/dev/mem" at physical
// 0x8002A000: the register page with a software model of the composition
// behind it. Writing the start bit composes one pass at once.
//
// The model, by register (byte offsets; set, clear and toggle aliases at +4,
// +8 and +0xC):
//   0x000 CTRL: bit 31 soft reset (sets the clock gate, bit 30, and clears the
//         other registers), bit 30 clock gate (no pass while set), bit 21 the
//         background layer is not fetched (the output's own pixels stay under
//         the overlays), bits 15-12 the background's pixel format, bits 7-4
//         the output's pixel format, bit 0 start (reads set while busy).
//   0x020 OUTBUF, 0x040 OUTSIZE (31-24 alpha, 23-12 width, 11-0 height).
//   0x050 S0BUF, 0x080 S0PARAM (31-24 x, 23-16 y, 15-8 width, 7-0 height, in
//         blocks of 8 pixels), 0x090 S0BACKGROUND (outside the S0 area).
//         S0CROP, S0SCALE and the S0 colour key are kept but not modelled
//         (the driver always leaves them at no crop, scale 1 and no key).
//   0x1A0/0x1B0 OLCOLORKEYLOW/HIGH: an overlay pixel whose red, green and blue
//         (8 bits each) all lie within low..high is transparent.
//   0x200 + 0x40 n: overlay n's buffer, +0x10 OLnSIZE (like S0PARAM), +0x20
//         OLnPARAM (bit 0 enable, bit 3 colour key, bits 7-4 format, 15-8
//         alpha, not modelled: overlays are opaque). Overlays are laid over
//         the background in the order 0 to 7.
// Formats: 0 and 1 32-bit 0xAARRGGBB, 4 RGB565 (widened by repeating the high
// bits); a layer of another format is skipped. Addresses are physical
// (host/physmem.h); a layer whose memory is not there is skipped. A pass
// whose output is the start of the frame memory sets what the LCD shows.
#pragma once
#include "host/devmem.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

constexpr uint32_t kPxpPhys = 0x8002A000;
constexpr uint32_t kPxpPageSize = 0x1000;

class PxpModel : public SctRegBlock {
public:
    PxpModel();
    // Tests: a started pass keeps the start bit set (the pipeline looks busy)
    // until this is switched off again.
    void hold_busy(bool on);
    unsigned passes() const { return passes_; }
    // A register as last written (no side effects).
    uint32_t peek(uint32_t reg) { return *slot(reg & ~0xFu); }

protected:
    void stored(uint32_t reg, uint32_t old, uint32_t now) override;

private:
    void compose();
    void finish_pass(uint32_t out_phys, int obytes);
    bool hold_busy_ = false;
    unsigned passes_ = 0;
    std::vector<uint8_t> key16_; // RGB565 values the overlay key takes out
    uint32_t key_low_ = 0, key_high_ = 0;
};

// Factory of the board table (devmem.cpp).
std::shared_ptr<RegBlock> board_make_pxp();
// The board's pixel pipeline (created on first use).
inline std::shared_ptr<PxpModel> pxp_model() {
    return devmem_model<PxpModel>(kPxpPhys);
}

} // namespace host
