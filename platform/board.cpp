// The processor's pin, power and persistent registers.
#include "platform/board.h"

#include "host/devmem.h"

namespace {
struct BoardState {
    int fd = -1;
    host::RegMap *window = nullptr;
};
BoardState g;
} // namespace

host::RegMap *GPIOPtr() {
    if (!g.window) {
        if (g.fd < 0) g.fd = host::devmem_open();
        g.window = host::devmem_map(g.fd, board::kPinctrlPhys, board::kWindowSize);
    }
    return g.window;
}

void Board_DriveLine(int bank, int pin, bool high) {
    host::RegMap *m = GPIOPtr();
    uint32_t bit = 1u << pin;
    host::reg_write(m, board::pin_dout(bank) + (high ? board::kSet : board::kClr), bit);
    host::reg_write(m, board::pin_doe(bank) + board::kSet, bit);
}

void Board_WriteReg(uint32_t offset, uint32_t value) {
    host::reg_write(GPIOPtr(), offset, value);
}

void Board_InitPower() {
    host::RegMap *m = GPIOPtr();
    host::reg_write(m, board::kRtcPersistent0, 0x00010021);
    if (((host::reg_read(m, board::kPowerBattMonitor) >> 16) & 0x3FF) > 413)
        host::reg_write(m, board::kPowerReset, 0x3E770006);
}

void Board_PowerReset() {
    host::RegMap *m = GPIOPtr();
    host::devmem_sync(m);
    for (int i = 0; i < 1000; ++i)
        host::reg_write(m, board::kPowerReset, 0x3E770001);
}

uint32_t Persist_Get() {
    return host::reg_read(GPIOPtr(), board::kRtcPersistent3);
}
void Persist_Set(uint32_t value) {
    host::reg_write(GPIOPtr(), board::kRtcPersistent3, value);
}
void Persist_Or(uint32_t bits) {
    if (~Persist_Get() & bits)
        host::reg_write(GPIOPtr(), board::kRtcPersistent3 + board::kSet, bits);
}
void Persist_Clear(uint32_t bits) {
    host::reg_write(GPIOPtr(), board::kRtcPersistent3 + board::kClr, bits);
}
uint32_t Persist_Restarts() {
    return host::reg_read(GPIOPtr(), board::kRtcPersistent4);
}
void Persist_SetRestarts(uint32_t value) {
    host::reg_write(GPIOPtr(), board::kRtcPersistent4, value);
}

void Board_Reset() {
    host::devmem_unmap(g.window);
    g = BoardState{};
}
