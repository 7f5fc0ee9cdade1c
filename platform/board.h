// The board's address map, named once, and the processor's pin, power and
// persistent registers reached through the window that GPIOInit maps.
#pragma once
#include <cstdint>

namespace host {
struct RegMap;
}

namespace board {
// Physical addresses of the blocks the drivers map (one 4096-byte page each,
// except the window from the pin controller on).
constexpr uint32_t kPinctrlPhys = 0x80018000;
constexpr uint32_t kClkctrlPhys = 0x80040000;
constexpr uint32_t kSspPhys[4] = {0, 0x80012000, 0x80014000, 0x80016000};
constexpr uint32_t kI2c0Phys = 0x80058000;
constexpr uint32_t kPxpPhys = 0x8002A000, kPxpPageSize = 0x1000;
constexpr uint32_t kPage = 4096;
// The window from the pin controller to the clock block (power supply,
// converter and persistent registers included).
constexpr uint32_t kWindowSize = 0x70000;

// Every register has its set and clear aliases at +4 and +8.
constexpr uint32_t kSet = 4, kClr = 8;

// Offsets in the window.
constexpr uint32_t pin_dout(int bank) {
    return 0x700 + 0x10 * uint32_t(bank);
}
constexpr uint32_t pin_din(int bank) {
    return 0x900 + 0x10 * uint32_t(bank);
}
constexpr uint32_t pin_doe(int bank) {
    return 0xB00 + 0x10 * uint32_t(bank);
}
constexpr uint32_t kAdcCtrl0 = 0x38000, kAdcCtrl1 = 0x38010, kAdcResult0 = 0x38050;
constexpr uint32_t kPowerBattMonitor = 0x2C000 + 0xE0, kPowerReset = 0x2C000 + 0x100;
constexpr uint32_t kRtcPersistent0 = 0x3E000 + 0x60, kRtcPersistent3 = 0x3E000 + 0x90;
constexpr uint32_t kRtcPersistent4 = 0x3E000 + 0xA0;
} // namespace board

// The processor's peripheral registers (mapped on first use); null when
// "/dev/mem" cannot be opened.
host::RegMap *GPIOPtr();
// Drives GPIO line `pin` of `bank`: the level first, then the driver, so the
// line never shows the old level.
void Board_DriveLine(int bank, int pin, bool high);
// The clock block's and the supply's start-up values.
void Board_InitPower();
// Writes one register of the window (offset from the pin controller).
void Board_WriteReg(uint32_t offset, uint32_t value);
// Switches the supply off (the persistent registers are flushed first).
void Board_PowerReset();

// The processor's persistent status word and restart counter (kept alive by
// the backup supply).
uint32_t Persist_Get();
void Persist_Set(uint32_t value);
void Persist_Or(uint32_t bits);
void Persist_Clear(uint32_t bits);
uint32_t Persist_Restarts();
void Persist_SetRestarts(uint32_t value);

void Board_Reset();
