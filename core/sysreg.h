// System register table: per-register write widths and limits, and the
// registers that act on the system when written.
#pragma once
#include <cstdint>

struct SrInfo {
    uint8_t width; // maximum write width in bits; 0 = not writable
    uint32_t min;
    uint32_t max;
};
extern const SrInfo sr_info[192];

// Checks and applies a write of `bits` bits from `src` to the system register
// at `ref` (3072 <= ref <= 6143). Returns 1 when the write was taken (stored
// and/or acted on), 0 when it was refused.
int SysReg_Write(uint32_t ref, const void *src, uint32_t bits);
void VmDbWordSR_MinMax(uint16_t *min, uint16_t *max, int index);

// Status word %SR4 bits.
namespace sr4 {
constexpr uint16_t kBootFlash = 0x1, kEngineFlash = 0x2, kUserProgram = 0x4, kStaticRam = 0x8;
constexpr uint16_t kDupNetId = 0x10, kNetIdRange = 0x20, kIoConfig = 0x40, kNetOffline = 0x80;
constexpr uint16_t kLogicFault = 0x100, kClock = 0x200, kBattery = 0x1000, kGraphics = 0x4000;
constexpr uint16_t kForceIdle = 0x90F;
} // namespace sr4
