// The base unit's own I/O on the processor: four digital inputs on GPIO pins
// of bank 3, and its analog inputs through the on-chip converter, whose
// channel 0 sees the input that two GPIO outputs of the same bank select.
// Both are reached through the register window that GPIOInit maps.
#include "host/clock.h"
#include "host/devmem.h"
#include "platform/board.h"
#include "platform/io.h"
#include "platform/io_drv.h"
#include "platform/tick.h"

namespace {

// The pin controller's bank 3 registers.
using board::kClr;
using board::kSet;
constexpr uint32_t kDout3 = board::pin_dout(3), kDin3 = board::pin_din(3),
                   kDoe3 = board::pin_doe(3);
constexpr uint32_t kInputPins = 0x3C00;  // inputs 1-4 on pins 10-13
constexpr uint32_t kSelectPins = 0x0030; // analog input selector on pins 4-5
// The converter: schedule (control 0), done flags (control 1), channel 0's result.
using board::kAdcCtrl0;
using board::kAdcCtrl1;
using board::kAdcResult0;
constexpr uint32_t kAdcTicks = 20; // 2 ms at most for one conversion
// Selector levels of inputs 1-4: both lines high, pin 5, pin 4, neither.
constexpr uint32_t kSelect[4] = {0x30, 0x20, 0x10, 0x00};

} // namespace

uint16_t IoBaseAdc(int input) {
    host::RegMap *m = GPIOPtr();
    if (!m || input < 0 || input > 3) return 0;
    host::reg_write(m, kDoe3 + kSet, kSelectPins);
    host::reg_write(m, kDout3 + kClr, kSelectPins);
    if (kSelect[input]) host::reg_write(m, kDout3 + kSet, kSelect[input]);
    host::sleep_us(20); // the selector settles
    host::reg_write(m, kAdcCtrl1 + kClr, 1);
    host::reg_write(m, kAdcCtrl0 + kSet, 1);
    const uint32_t start = FPGA_GetFrt();
    while (!(host::reg_read(m, kAdcCtrl1) & 1) && FPGA_GetFrt() - start < kAdcTicks)
        host::wait_step();
    host::reg_write(m, kAdcCtrl1 + kClr, 1);
    // A conversion that did not end gives what the result register holds.
    return uint16_t(host::reg_read(m, kAdcResult0) & 0xFFF);
}

void io_base_enable_inputs() {
    if (host::RegMap *m = GPIOPtr()) host::reg_write(m, kDoe3 + kClr, kInputPins);
}

bool io_base_inputs(uint8_t *bits) {
    host::RegMap *m = GPIOPtr();
    if (!m) return false;
    *bits = uint8_t((host::reg_read(m, kDin3) & kInputPins) >> 10);
    return true;
}
