// Bus driver of I2C0: the kernel's I2C service or the controller's registers.
#include "platform/i2c.h"

#include "host/clock.h"
#include "host/devmem.h"
#include "host/i2c.h"
#include "platform/board.h"
#include "regs/plc_reg.h"

uint16_t KernelBuild;

namespace {

// Physical addresses, one 4096-byte page each.
using board::kI2c0Phys;
using board::kPage;
using board::kPinctrlPhys;

// Register aliases.
using board::kClr;
using board::kSet;

// Controller registers and bits.
constexpr uint32_t kCtrl0 = 0x00, kTiming0 = 0x10, kTiming1 = 0x20, kTiming2 = 0x30;
constexpr uint32_t kCtrl1 = 0x40, kStat = 0x50, kQueueCtrl = 0x60, kQueueCmd = 0x80;
constexpr uint32_t kData = 0xA0, kVersion = 0xD0;
constexpr uint32_t kSftrst = 0x80000000, kClkgate = 0x40000000, kRun = 0x20000000;
constexpr uint32_t kRetainClock = 0x200000, kPostSendStop = 0x100000, kPreSendStart = 0x80000;
constexpr uint32_t kMasterMode = 0x20000, kTransmit = 0x10000;
constexpr uint32_t kClrGotANak = 0x10000000, kForceIdle = 0x6000000;
constexpr uint32_t kBusFreeIrq = 0x80, kCompleteIrq = 0x40, kNoSlaveAckIrq = 0x20;
constexpr uint32_t kStatGotANak = 1u << 28, kStatDmaWait = 1u << 12, kStatBusBusy = 1u << 11;
constexpr uint32_t kStatClkGenBusy = 1u << 10, kStatEngineBusy = 1u << 9;
constexpr int kPolls = 0xFFFFF;

// The kernel's command block (system call 366).
using i2c_cmd = host::I2cKernelCmd;

struct I2cState {
    bool kernel = false; // transfers go to the kernel's service
    i2c_cmd cmd{};
    int fd = -1;
    host::RegMap *pins = nullptr;
    host::RegMap *regs = nullptr;
    uint32_t version = 0;
};
I2cState g;

uint32_t rd(uint32_t reg) {
    return host::reg_read(g.regs, reg);
}
void wr(uint32_t reg, uint32_t v) {
    host::reg_write(g.regs, reg, v);
}
void set(uint32_t reg, uint32_t bits) {
    wr(reg + kSet, bits);
}
void clr(uint32_t reg, uint32_t bits) {
    wr(reg + kClr, bits);
}

// Polls until (register & mask) is `want`, at most kPolls times; a time-out
// goes unreported.
void wait_for(uint32_t reg, uint32_t mask, uint32_t want) {
    for (int i = 0; i < kPolls && (rd(reg) & mask) != want; ++i) {
    }
}

void set_timing(uint32_t t0, uint32_t t1, uint32_t t2) {
    wr(kTiming0, t0);
    wr(kTiming1, t1);
    wr(kTiming2, t2);
}

int kernel_transfer(uint8_t address, uint8_t *buffer, int count, uint32_t direction) {
    g.cmd.address = address;
    g.cmd.buffer = buffer;
    g.cmd.count = uint32_t(count);
    g.cmd.direction = direction;
    g.cmd.result = 1;
    if (host::i2c_kernel_call(&g.cmd) != 0) return 0;
    return g.cmd.result == 0 ? 1 : 0;
}

// After a transfer: wait for the bus to go idle and leave the engine clean.
void settle_bus() {
    wait_for(kStat, kStatBusBusy | kStatClkGenBusy, 0);
    wait_for(kCtrl1, kBusFreeIrq, kBusFreeIrq);
    clr(kCtrl1, 0x6000FFFF);
}

} // namespace

int i2c0_init() {
    KernelBuild =
        uint16_t((sr_get(sr::kKernelRev + 3) >> 8) * 10 + sr_get(sr::kKernelRev + 4) - 528);
    g.kernel = KernelBuild > 31;
    if (g.kernel) return 1;
    if (g.regs) i2c0_close();
    g.fd = host::devmem_open();
    if (g.fd < 0) return 0;
    g.pins = host::devmem_map(g.fd, kPinctrlPhys, kPage);
    // I2C0 pins: clock and data to their I2C function.
    host::reg_write(g.pins, 0x178, 0xF0000);
    host::reg_write(g.pins, 0x3F8, 0x33);
    host::reg_write(g.pins, 0x3F4, 0x44);
    host::reg_write(g.pins, 0x634, 0x3000000);
    g.regs = host::devmem_map(g.fd, kI2c0Phys, kPage);
    g.version = rd(kVersion);
    clr(kCtrl0, kSftrst);
    clr(kCtrl0, kClkgate);
    set(kCtrl0, kSftrst);
    wait_for(kCtrl0, kClkgate, kClkgate);
    host::sleep_us(1);
    clr(kCtrl0, kSftrst);
    clr(kCtrl0, kClkgate);
    host::sleep_us(100);
    set_timing(0x780030, 0x780030, 0x32001E);
    set(kCtrl0, kMasterMode);
    set(kCtrl1, 0x8000000);
    clr(kCtrl1, 0x6000FFFF);
    wr(kQueueCtrl + kClr, 0xFFFFFFFF);
    wr(kQueueCmd + kClr, 0xFFFFFFFF);
    return 1;
}

int i2c0_close() {
    if (g.kernel) return 1;
    if (g.regs) {
        set(kCtrl0, kSftrst);
        for (int i = 0; i < 100 && !(rd(kCtrl0) & kClkgate); ++i) {
        }
    }
    host::devmem_unmap(g.regs);
    host::devmem_unmap(g.pins);
    host::devmem_close(g.fd);
    g.regs = g.pins = nullptr;
    g.fd = -1;
    return 1;
}

int i2c_timing(int mode) {
    if (g.kernel) {
        g.cmd.timing = uint32_t(mode);
        return 1;
    }
    if (mode == 1)
        set_timing(0x780030, 0x780030, 0x32001E);
    else if (mode == 2)
        set_timing(0xF0007, 0x1F000F, 0x15000D);
    return 1;
}

int i2c0_query(uint8_t address, int last) {
    if (g.kernel) return kernel_transfer(address, nullptr, 0, 0);
    if (!g.regs) return 0;
    clr(kCtrl1, kForceIdle);
    // A query starts a transfer of its own: what an earlier one left in the
    // transfer bits (a stop, a held clock, its count) must not carry over.
    clr(kCtrl0, kRetainClock | kPostSendStop | kPreSendStart | 0xFFFF);
    set(kCtrl0, last ? kPostSendStop | kPreSendStart | kTransmit | 1
                     : kRetainClock | kPreSendStart | kMasterMode | kTransmit | 1);
    wr(kData, address);
    set(kCtrl0, kRun);
    wait_for(kCtrl1, kCompleteIrq, kCompleteIrq);
    wait_for(kStat, kStatEngineBusy, 0);
    clr(kCtrl1, kCompleteIrq);
    if (!(rd(kStat) & kStatGotANak)) return 1;
    set(kCtrl1, kClrGotANak);
    if (rd(kCtrl1) & kNoSlaveAckIrq) clr(kCtrl1, kNoSlaveAckIrq);
    return 0;
}

int i2c_data_read(uint8_t address, uint8_t *buffer, int count) {
    if (count <= 0 || !buffer) return 0;
    if (g.kernel) return kernel_transfer(uint8_t(address | 1), buffer, count, 1);
    if (!i2c0_query(uint8_t(address | 1), 0)) return 0;
    clr(kCtrl0, 0x69FFFF);
    set(kCtrl0, 0x6100000); // receive, acknowledge, no acknowledge on the last byte, stop
    set(kCtrl0, uint32_t(count) & 0xFFFF);
    set(kCtrl0, kRun);
    wait_for(kCtrl1, kCompleteIrq, kCompleteIrq);
    for (int i = 0; i < count; i += 4) {
        uint32_t word = rd(kData);
        for (int b = 0; b < 4 && i + b < count; ++b)
            buffer[i + b] = uint8_t(word >> (8 * b));
    }
    clr(kCtrl1, kCompleteIrq);
    settle_bus();
    clr(kCtrl0, 0x610FFFF);
    set(kCtrl1, kForceIdle);
    return 1;
}

int i2c_data_write(uint8_t address, const uint8_t *buffer, int count) {
    if (count <= 0 || !buffer) return 0;
    if (g.kernel)
        return kernel_transfer(uint8_t(address & 0xFE), const_cast<uint8_t *>(buffer), count, 0);
    if (!i2c0_query(uint8_t(address & 0xFE), 0)) return 0;
    int ok = 1;
    for (int i = 0; i < count; ++i) {
        clr(kCtrl0, 0x4C0FFFF);
        set(kCtrl0, kMasterMode | kTransmit);
        // The address went with the query: data bytes go without a start.
        if (i + 1 < count) {
            set(kCtrl0, kRetainClock);
            clr(kCtrl0, kPostSendStop | kPreSendStart);
        } else {
            clr(kCtrl0, kRetainClock | kPreSendStart);
            set(kCtrl0, kPostSendStop);
        }
        set(kCtrl0, 1);
        wr(kData, buffer[i]);
        wait_for(kStat, kStatEngineBusy, 0);
        set(kCtrl0, kRun);
        wait_for(kStat, kStatDmaWait, 0);
        wait_for(kCtrl1, kCompleteIrq, kCompleteIrq);
        clr(kCtrl1, kCompleteIrq);
        if (rd(kStat) & kStatGotANak) {
            set(kCtrl1, kClrGotANak);
            clr(kCtrl1, kNoSlaveAckIrq);
            ok = 0;
            break;
        }
    }
    settle_bus();
    clr(kCtrl0, kPostSendStop);
    set(kCtrl1, kForceIdle);
    return ok;
}

void I2c_Reset() {
    if (!g.kernel) i2c0_close();
    g = I2cState{};
    KernelBuild = 0;
    I2cDev_Reset();
}
