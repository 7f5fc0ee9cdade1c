#include "platform/spi.h"

#include "base/le.h"
#include "host/clock.h"
#include "host/devmem.h"
#include "host/root.h"
#include "platform/board.h"

#include <cstdio>
#include <cstring>

namespace {

using board::kClkctrlPhys;
using board::kClr;
using board::kPage;
using board::kPinctrlPhys;
using board::kSet;
using board::kSspPhys;

// SSP registers and bits.
constexpr uint32_t kCtrl0 = 0x00, kXferSize = 0x30, kTiming = 0x70, kCtrl1 = 0x80;
constexpr uint32_t kData = 0x90, kStatus = 0x100, kVersion = 0x130;
constexpr uint32_t kSftrst = 0x80000000, kClkgate = 0x40000000, kRun = 0x20000000;
constexpr uint32_t kRead = 0x2000000, kDataXfer = 0x1000000;
constexpr uint32_t kFifoEmpty = 0x20;

// Clock control registers.
constexpr uint32_t kClkSsp[4] = {0, 0xA0, 0xB0, 0xC0};
constexpr uint32_t kClkFrac0 = 0x1B0, kClkSeq = 0x1D0;
constexpr uint32_t kClkBusy = 1u << 29, kClkGate = 1u << 31;

constexpr int kClockPolls = 10000;
constexpr int kTransPolls = 9999;

// Pin controller registers used by the chip selects and the chain.
constexpr uint32_t kDout2 = 0x720, kDout4 = 0x740;

struct Port {
    int fd = -1;
    host::RegMap *ssp = nullptr;
    host::RegMap *pins = nullptr;
};

struct SpiState {
    Port ports[4]; // index 1..3 = SSP1..SSP3
    uint8_t staged[4];
    // Pins of the shift-register chain, set up by the first exchange.
    int xch_fd = -1;
    host::RegMap *xch_pins = nullptr;
    uint32_t ssp_version[4];
};
SpiState g;

// Speed table: clock divide and rate by speed index 1-12.
struct Speed {
    uint8_t divide, rate;
};
constexpr Speed kSpeeds[13] = {{3, 1}, {3, 7}, {3, 3}, {3, 1}, {3, 1}, {3, 1}, {2, 1},
                               {3, 1}, {3, 0}, {3, 1}, {3, 1}, {3, 1}, {2, 0}};

int port_of(int channel) {
    switch (channel) {
    case 1:
        return 1;
    case 2:
    case 3:
        return 2;
    case 4:
        return 3;
    default:
        return 0;
    }
}

void udelay(unsigned us) {
    for (unsigned waited = 0; waited < us; waited += 100)
        host::wait_step();
}

// Polls until (register & mask) == want, at most `polls` times (< 0: no limit).
bool poll(host::RegMap *m, uint32_t reg, uint32_t mask, uint32_t want, long polls) {
    for (long i = 0; polls < 0 || i < polls; ++i)
        if ((host::reg_read(m, reg) & mask) == want) return true;
    return false;
}

void pin_write(host::RegMap *pins, uint32_t offset, uint32_t value) {
    host::reg_write(pins, offset, value);
    host::devmem_sync(pins);
}

// The pin mapping of a port, made on demand for the select operations of a
// port that another process or an earlier start has set up.
host::RegMap *pins_of(int port) {
    Port &p = g.ports[port];
    if (!p.pins) {
        if (p.fd < 0) p.fd = host::devmem_open();
        p.pins = host::devmem_map(p.fd, kPinctrlPhys, kPage);
    }
    return p.pins;
}

void clock_setup(int fd, int port) {
    host::RegMap *clk = host::devmem_map(fd, kClkctrlPhys, kPage);
    if (!clk) return;
    uint32_t reg = kClkSsp[port];
    if (port == 3) {
        host::reg_write(clk, kClkFrac0 + kClr, 0x800000);
        host::reg_write(clk, kClkSeq + kClr, 0x40);
        uint32_t v = host::reg_read(clk, reg);
        host::reg_write(clk, reg, (v & ~(kClkGate | 0x1FFu)) | 12);
    } else {
        poll(clk, reg, kClkBusy, 0, kClockPolls);
        uint32_t v = host::reg_read(clk, reg);
        host::reg_write(clk, reg, (v & ~kClkGate) | 1);
        poll(clk, reg, kClkBusy, 0, kClockPolls);
        // The port's clock from the crystal.
        host::reg_write(clk, kClkSeq + kSet, port == 1 ? 0x10 : 0x20);
    }
    host::devmem_unmap(clk);
}

void ssp_reset(host::RegMap *ssp) {
    host::reg_write(ssp, kCtrl0 + kClr, kSftrst);
    poll(ssp, kCtrl0, kSftrst, 0, kClockPolls);
    host::reg_write(ssp, kCtrl0 + kClr, kClkgate);
    poll(ssp, kCtrl0, kClkgate, 0, kClockPolls);
    host::reg_write(ssp, kCtrl0 + kSet, kSftrst);
    poll(ssp, kCtrl0, kClkgate, kClkgate, kClockPolls);
    udelay(100);
    host::reg_write(ssp, kCtrl0 + kClr, kSftrst);
    host::reg_write(ssp, kCtrl0 + kClr, kClkgate);
    udelay(10);
}

void pins_setup(host::RegMap *pins, int channel, int pin_arg) {
    struct W {
        uint32_t off, value;
    };
    // clang-format off
    static constexpr W kSsp1[] = {
        {0x148, 0x3F000000}, {0x144, 0xC0000000}, {0x144, 0xC00}, {0x398, 0x33330000},
        {0x394, 0x44440000}, {0x624, 0xF000}, {0xB24, 0x8000}, {0x724, 0x8000},
        {0xB24, 0x20}, {0x724, 0x20}};
    static constexpr W kSsp3[] = {
        {0x158, 0xFF0000}, {0x154, 0xC00000}, {0xB24, 0x8000000}, {0x724, 0x8000000},
        {0x3B8, 0x3333}, {0x3B4, 0x4444}, {0x624, 0xF000000}};
    // clang-format on
    if (channel == 1) {
        for (const W &w : kSsp1)
            host::reg_write(pins, w.off, w.value);
    } else if (channel == 4) {
        for (const W &w : kSsp3)
            host::reg_write(pins, w.off, w.value);
    } else {
        ssp2_pin_ctrl(channel, pin_arg);
    }
}

// One item out (8 or 16 bits, by the word length set). The waits are
// bounded: a port that never finishes must not hold the pass.
bool item_out(host::RegMap *ssp, uint32_t item) {
    host::reg_write(ssp, kXferSize, 1);
    host::reg_write(ssp, kCtrl0 + kClr, kRead);
    host::reg_write(ssp, kCtrl0 + kSet, kRun);
    host::reg_write(ssp, kData, item);
    host::reg_write(ssp, kCtrl0 + kSet, kDataXfer);
    return poll(ssp, kCtrl0, kRun, 0, kTransPolls);
}

bool item_in(host::RegMap *ssp, uint32_t *item) {
    host::reg_write(ssp, kXferSize, 1);
    host::reg_write(ssp, kCtrl0 + kSet, kRun | kRead | kDataXfer);
    if (!poll(ssp, kStatus, kFifoEmpty, 0, kTransPolls)) return false;
    *item = host::reg_read(ssp, kData);
    return poll(ssp, kCtrl0, kRun, 0, kTransPolls);
}

void word_length(host::RegMap *ssp, int port, unsigned bits) {
    if (port != 3) return;
    host::reg_write(ssp, kCtrl1 + kClr, 0xF0);
    host::reg_write(ssp, kCtrl1 + kSet, (bits - 1) << 4);
}

// Chip-select lines: bank, bit, active low; bank < 0 for none.
struct Select {
    int bank, bit;
    bool active_low;
};
Select select_of(int channel, int device) {
    switch (channel) {
    case 1:
        if (device == 1) return {2, 15, true};
        if (device == 2) return {2, 5, true};
        break;
    case 2:
        if (device == 1) return {2, 11, true};
        if (device == 3) return {2, 13, true};
        if (device == 4) return {4, 5, false};
        break;
    case 3:
        return {2, 5, true};
    case 4:
        return {2, 27, true};
    }
    return {-1, 0, true};
}

int drive_select(const uint8_t *d, bool assert_it) {
    if (!d) return 0;
    int port = port_of(d[0]);
    if (!port) return 0;
    Select s = select_of(d[0], d[1]);
    if (s.bank < 0) return 1;
    host::RegMap *pins = pins_of(port);
    bool high = assert_it != s.active_low;
    uint32_t dout = s.bank == 4 ? kDout4 : kDout2;
    pin_write(pins, dout + (high ? kSet : kClr), 1u << s.bit);
    return 1;
}

} // namespace

int spi_init(const uint8_t *d) {
    if (!d) return 0;
    int port = port_of(d[0]);
    if (!port || g.ports[port].ssp) return 0;
    Port &p = g.ports[port];
    int fd = host::devmem_open();
    if (fd < 0) return 0;
    clock_setup(fd, port);
    host::RegMap *ssp = host::devmem_map(fd, kSspPhys[port], kPage);
    if (!ssp) {
        host::devmem_close(fd);
        return 0;
    }
    p.fd = fd;
    p.ssp = ssp;
    g.ssp_version[port] = host::reg_read(ssp, kVersion) >> 24;
    ssp_reset(ssp);

    int speed = d[2];
    Speed sp = speed >= 1 && speed <= 12 ? kSpeeds[speed] : kSpeeds[0];
    host::reg_write(ssp, kCtrl0 + kClr, 0xC00000); // one data line
    host::reg_write(ssp, kCtrl0 + kClr, 0x300000);
    host::reg_write(ssp, kTiming, (uint32_t(sp.divide) << 8) | sp.rate);
    host::reg_write(ssp, kCtrl1 + kClr, 0xF0);
    host::reg_write(ssp, kCtrl1 + kSet, 0x70); // 8-bit words
    host::reg_write(ssp, kCtrl1 + kClr, 0x2000);
    host::reg_write(ssp, kCtrl1 + kSet, 0x800);
    host::reg_write(ssp, kCtrl0 + kClr, 0x4000000);
    host::reg_write(ssp, kCtrl0 + kSet, 0x8000000);
    host::reg_write(ssp, kCtrl1 + kClr, 0x600);
    host::reg_write(ssp, kCtrl1 + kSet, uint32_t(d[1] & 3) << 9);
    host::reg_write(ssp, kCtrl1 + kClr, 0x10F); // SPI mode

    if (!p.pins) p.pins = host::devmem_map(fd, kPinctrlPhys, kPage);
    pins_setup(p.pins, d[0], d[3]);
    return 1;
}

int spi_close(const uint8_t *d) {
    if (!d) return 0;
    int port = port_of(d[0]);
    if (!port) return 0;
    Port &p = g.ports[port];
    if (p.ssp) {
        host::reg_write(p.ssp, kCtrl0 + kClr, 0x4000000);
        host::reg_write(p.ssp, kCtrl0 + kClr, 0x8000000);
        host::reg_write(p.ssp, kCtrl0 + kSet, kClkgate);
        udelay(10);
    }
    host::devmem_unmap(p.ssp);
    host::devmem_unmap(p.pins);
    if (p.fd >= 0) host::devmem_close(p.fd);
    p = Port{};
    return 1;
}

int spi_enable_cs(const uint8_t *d) {
    return drive_select(d, true);
}
int spi_disable_cs(const uint8_t *d) {
    return drive_select(d, false);
}

int spi_data_trans(int channel, uint8_t *buffer, int count, int read) {
    int port = port_of(channel);
    // The staging buffer holds four bytes: a longer exchange cannot be honoured.
    if (!port || !buffer || count < 0 || count > 4) return 0;
    host::RegMap *ssp = g.ports[port].ssp;
    if (!read) std::memcpy(g.staged, buffer, size_t(count));
    for (int i = 0; i < count; ++i) {
        host::reg_write(ssp, kXferSize, 1);
        host::reg_write(ssp, kCtrl0 + (read ? kSet : kClr), kRead);
        host::reg_write(ssp, kCtrl0 + kSet, kRun);
        if (!poll(ssp, kCtrl0, kRun, kRun, kTransPolls)) return 0;
        host::reg_write(ssp, kData, g.staged[i]);
        host::reg_write(ssp, kCtrl0 + kSet, kDataXfer);
        if (read) {
            if (!poll(ssp, kStatus, kFifoEmpty, 0, kTransPolls)) return 0;
            buffer[i] = uint8_t(host::reg_read(ssp, kData));
        }
        if (!poll(ssp, kCtrl0, kRun, 0, kTransPolls)) return 0;
        host::reg_write(ssp, kCtrl0 + kClr, kDataXfer);
    }
    return 1;
}

int spi_data_byte_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read) {
    int port = port_of(channel);
    if (!port) return 0;
    host::RegMap *ssp = g.ports[port].ssp;
    word_length(ssp, port, 8);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = 0;
        if (read ? !item_in(ssp, &v) : !item_out(ssp, buffer[i])) return 0;
        if (read) buffer[i] = uint8_t(v);
    }
    return 1;
}

int spi_data_word_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read) {
    int port = port_of(channel);
    if (!port) return 0;
    host::RegMap *ssp = g.ports[port].ssp;
    word_length(ssp, port, 16);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = 0;
        if (read ? !item_in(ssp, &v) : !item_out(ssp, le16(buffer + 2 * i))) return 0;
        if (read) put_le16(buffer + 2 * i, uint16_t(v));
    }
    return 1;
}

int spi_data_block_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read) {
    int port = port_of(channel);
    if (!port) return 0;
    if (count == 0) return 1;
    host::RegMap *ssp = g.ports[port].ssp;
    word_length(ssp, port, 16);
    host::reg_write(ssp, kXferSize, count);
    // The DMA channel moves the data: no item transfer may start on the run bit.
    host::reg_write(ssp, kCtrl0 + kClr, kDataXfer);
    host::reg_write(ssp, kCtrl0 + (read ? kSet : kClr), kRead);
    host::reg_write(ssp, kCtrl0 + kSet, kRun);
    if (!host::reg_dma(ssp, kData, buffer, 2 * count, read != 0)) {
        // No DMA channel behind the port: item by item.
        host::reg_write(ssp, kCtrl0 + kClr, kRun | kRead);
        return spi_data_word_trans_FRAM(channel, buffer, count, read);
    }
    return poll(ssp, kCtrl0, kRun, 0, kTransPolls) ? 1 : 0;
}

int ssp2_pin_ctrl(int pin_set, int) {
    struct W {
        uint32_t off, value;
    };
    // clang-format off
    static constexpr W kSet3[] = {
        {0x148, 0xFF00}, {0x144, 0x5D00}, {0xB24, 0x20}, {0x724, 0x20}, {0x388, 0x33330000},
        {0x384, 0x44440000}, {0x624, 0xF0}};
    static constexpr W kSet2[] = {
        {0x158, 0x3F}, {0x154, 0xCC0}, {0x184, 0xC00}, {0x3A8, 0x303333}, {0x3A4, 0x404444},
        {0x624, 0x2F0000}, {0x408, 0x300000}, {0x404, 0x400000}, {0x644, 0x20}, {0xB24, 0x2800},
        {0x724, 0x2800}, {0xB44, 0x20}, {0x744, 0x20}};
    // clang-format on
    host::RegMap *pins = pins_of(2);
    if (pin_set == 3)
        for (const W &w : kSet3)
            host::reg_write(pins, w.off, w.value);
    else if (pin_set == 2)
        for (const W &w : kSet2)
            host::reg_write(pins, w.off, w.value);
    return 1;
}

namespace {
// The three output words of the chain, kept by the platform between calls
// and processes in "/proc/Ssp2_Out_Data" (12 bytes, read and written whole).
void out_words_read(uint32_t w[3]) {
    uint8_t b[12] = {};
    if (FILE *f = std::fopen(host::path("/proc/Ssp2_Out_Data").c_str(), "rb")) {
        size_t n = std::fread(b, 1, sizeof b, f);
        (void)n;
        std::fclose(f);
    }
    for (int i = 0; i < 3; ++i)
        w[i] = le32(b + 4 * i);
}

void out_words_write(const uint32_t w[3]) {
    uint8_t b[12];
    for (int i = 0; i < 3; ++i)
        put_le32(b + 4 * i, w[i]);
    host::make_dirs("/proc");
    if (FILE *f = std::fopen(host::path("/proc/Ssp2_Out_Data").c_str(), "wb")) {
        std::fwrite(b, 1, sizeof b, f);
        std::fclose(f);
    }
}
} // namespace

uint32_t Ssp2_Xch(uint32_t set_bits, uint32_t clear_bits, int device) {
    if (device < 0 || device > 2) return 0;
    constexpr uint32_t kClock = 1u << 16, kOut = 1u << 17, kIn = 1u << 18;
    constexpr uint32_t kDin2 = 0x920;
    if (!g.xch_pins) {
        g.xch_fd = host::devmem_open();
        g.xch_pins = host::devmem_map(g.xch_fd, kPinctrlPhys, kPage);
        if (!g.xch_pins) return 0;
        // clang-format off
        static constexpr uint32_t kSetup[][2] = {
            {0x748, 0x20}, {0x184, 0xC00}, {0xB44, 0x20}, {0x724, 0x80000}, {0x154, 0xC0},
            {0xB24, 0x80000}, {0x724, 0x200000}, {0x154, 0xC00}, {0xB24, 0x200000}, {0x154, 0x30},
            {0x624, 0x40000}, {0x728, 0x10000}, {0x154, 0xF}, {0xB24, 0x30000}};
        // clang-format on
        for (auto &w : kSetup)
            pin_write(g.xch_pins, w[0], w[1]);
    }
    host::RegMap *pins = g.xch_pins;
    switch (device) {
    case 0:
        pin_write(pins, kDout4 + kSet, 0x20);
        break;
    case 1:
        pin_write(pins, kDout2 + kClr, 0x80000);
        break;
    default:
        pin_write(pins, kDout2 + kClr, 0x200000);
        break;
    }
    uint32_t words[3];
    out_words_read(words);
    words[device] = (words[device] | set_bits) & ~clear_bits;
    uint32_t word = words[device], result = 0;
    if (device == 2) {
        for (int i = 0; i < 12; ++i) {
            pin_write(pins, kDout2 + kClr, kClock);
            pin_write(pins, kDout2 + (((word >> i) & 1) ? kSet : kClr), kOut);
            pin_write(pins, kDout2 + kSet, kClock);
        }
    } else {
        for (int i = 15; i >= 0; --i) {
            result = (result << 1) | ((host::reg_read(pins, kDin2) & kIn) ? 1 : 0);
            pin_write(pins, kDout2 + kSet, kClock);
            pin_write(pins, kDout2 + (((word >> i) & 1) ? kSet : kClr), kOut);
            pin_write(pins, kDout2 + kClr, kClock);
        }
    }
    out_words_write(words);
    switch (device) {
    case 0:
        pin_write(pins, kDout4 + kClr, 0x20);
        break;
    case 1:
        pin_write(pins, kDout2 + kSet, 0x80000);
        break;
    default:
        pin_write(pins, kDout2 + kSet, 0x200000);
        break;
    }
    return device == 2 ? 0 : result;
}

void Spi_Reset() {
    for (int port = 1; port <= 3; ++port) {
        Port &p = g.ports[port];
        host::devmem_unmap(p.ssp);
        host::devmem_unmap(p.pins);
        p = Port{};
    }
    host::devmem_unmap(g.xch_pins);
    g = SpiState{};
}
