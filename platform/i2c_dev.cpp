// Device access on I2C0: memories, register devices, the temperature sensor
// and presence probing.
#include "platform/i2c.h"

#include "host/clock.h"

#include <algorithm>
#include <cstring>

const uint8_t i2cbytemap0[3] = {0, 1, 2};
const uint8_t i2cbytemap1[3] = {1, 0, 2};
const uint8_t i2cbytemap2[3] = {2, 1, 0};

namespace {

struct I2cDevState {
    bool controller_ready = false; // the controller started once
    bool sensor_ready = false;     // the 12-bit sensor at 0x9E is configured
};
I2cDevState g;

constexpr uint8_t kSensor12 = 0x9E, kClockChip = 0x64;
constexpr int kReadPiece = 4;      // bytes per memory read
constexpr int kBlockPiece = 100;   // bytes per block-mode write
constexpr int kBlockMax = 1023;    // longest block-mode write
constexpr int kMaxRefusals = 1000; // refused byte writes in a row
constexpr int kCyclePolls = 1002;  // polls for the end of the write cycle
constexpr unsigned kPauseUs = 500; // around each byte write

bool ready() {
    if (!g.controller_ready) g.controller_ready = i2c0_init() != 0;
    return g.controller_ready;
}

// Where a memory access goes: the speed to select (0: leave it), the device
// and the number of sub-address bytes.
struct MemForm {
    int timing;
    uint8_t device;
    int sub_bytes;
};

MemForm mem_form(uint32_t addr, int mode) {
    switch (mode & 0xFF) {
    case 0:
        return {1, uint8_t(0xA0 | ((addr >> 8) & 7) << 1), 1};
    case 1:
        return {2, uint8_t(0xA0 | ((addr >> 16) & 7) << 1), 2};
    case 2:
        return {1, uint8_t(((addr >> 8) & 0x7F) << 1), 1};
    case 3:
        return {2, uint8_t(addr >> 16), 2};
    case 4:
        return {mode, uint8_t(((addr >> 8) & 0x7F) << 1), 1};
    case 5:
    case 6:
        return {1, kClockChip, 1};
    default:
        return {0, uint8_t(addr), 0};
    }
}

// The sub-address bytes of `addr`, high byte first; returns their count.
int sub_address(uint32_t addr, int bytes, uint8_t *out) {
    if (bytes == 2) {
        out[0] = uint8_t(addr >> 8);
        out[1] = uint8_t(addr);
    } else if (bytes == 1) {
        out[0] = uint8_t(addr);
    }
    return bytes;
}

// Bytes written and read by a register transfer, and the byte orders applied.
struct IoForm {
    int timing;
    int written, read;
    const uint8_t *write_map, *read_map;
};

IoForm io_form(int mode, int n) {
    switch (mode & 0xFF) {
    case 0:
        return {1, 1, 1, nullptr, nullptr};
    case 1:
        return {2, 2, 2, nullptr, nullptr};
    case 2:
        return {2, 1, 3, nullptr, i2cbytemap1};
    case 3:
        return {2, 2, n, i2cbytemap1, nullptr};
    case 5:
        return {2, (mode >> 8) + 1, mode >> 8, nullptr, nullptr};
    case 6:
        return {2, 3, n, i2cbytemap2, nullptr};
    case 7:
        return {2, 1, n, nullptr, nullptr};
    case 8:
        return {2, 3, 2, nullptr, nullptr};
    default:
        return {0, n, n, nullptr, nullptr};
    }
}

} // namespace

int I2C_init(int speed) {
    if (!ready()) return 0;
    return i2c_timing(speed == 400000 ? 2 : 1);
}

int I2C_read_mem(uint8_t *buf, uint32_t addr, int len, int mode) {
    if (len <= 0) return 0;
    if (!buf || !ready()) return 1;
    MemForm form = mem_form(addr, mode);
    if (form.timing) i2c_timing(form.timing);
    for (int done = 0; done < len;) {
        form = mem_form(addr, mode);
        uint8_t sub[2];
        int n = sub_address(addr, form.sub_bytes, sub);
        if (n && !i2c_data_write(form.device, sub, n)) return 1;
        int piece = std::min(kReadPiece, len - done);
        // A device that takes the sub-address but does not answer the read
        // has delivered nothing: that is a failure too, not data.
        if (!i2c_data_read(form.device, buf + done, piece)) return 1;
        done += piece;
        addr += uint32_t(piece);
    }
    return 0;
}

int I2C_write_mem(const uint8_t *buf, uint32_t addr, int len, int mode) {
    if (len <= 0) return 0;
    bool block = (mode & 0xFF) == 3;
    if (block && len > kBlockMax) return 0;
    if (!buf || !ready()) return block ? 1 : 2;
    MemForm form = mem_form(addr, mode);
    if (form.timing) i2c_timing(form.timing);

    if (block) {
        uint8_t piece[2 + kBlockPiece];
        for (int done = 0; done < len; done += kBlockPiece, addr += kBlockPiece) {
            int n = std::min(kBlockPiece, len - done);
            sub_address(addr, 2, piece);
            std::memcpy(piece + 2, buf + done, size_t(n));
            if (!i2c_data_write(form.device, piece, n + 2)) return 1;
        }
        return 0;
    }

    for (int i = 0; i < len; ++i, ++addr) {
        form = mem_form(addr, mode);
        uint8_t bytes[3];
        int n = sub_address(addr, form.sub_bytes, bytes);
        bytes[n++] = buf[i];
        // A memory busy with its previous write cycle refuses its address.
        for (int refusals = 0;;) {
            host::sleep_us(kPauseUs);
            int ok = i2c_data_write(form.device, bytes, n);
            host::sleep_us(kPauseUs);
            if (ok) break;
            if (++refusals >= kMaxRefusals) return 2;
        }
    }
    // The last write cycle ends when the device answers again.
    for (int tries = 0; tries < kCyclePolls; ++tries) {
        uint8_t dummy;
        if (i2c_data_read(form.device, &dummy, 1)) return 0;
    }
    return 2;
}

int I2C_read_io(uint8_t dev, uint8_t *buf, int mode, int n) {
    if (!buf || !ready()) return 1;
    IoForm form = io_form(mode, n);
    if (form.timing) i2c_timing(form.timing);
    if (!form.read_map) return i2c_data_read(dev, buf, form.read) ? 0 : 1;
    uint8_t raw[3];
    if (!i2c_data_read(dev, raw, form.read)) return 1;
    for (int i = 0; i < form.read; ++i)
        buf[i] = raw[form.read_map[i]];
    return 0;
}

int I2C_write_io(uint8_t dev, const uint8_t *buf, int mode, int n) {
    if (!buf || !ready()) return 1;
    IoForm form = io_form(mode, n);
    if (form.timing) i2c_timing(form.timing);
    if (!form.write_map) return i2c_data_write(dev, buf, form.written) ? 0 : 1;
    uint8_t ordered[3];
    for (int i = 0; i < form.written; ++i)
        ordered[i] = buf[form.write_map[i]];
    return i2c_data_write(dev, ordered, form.written) ? 0 : 1;
}

int I2C_read_LM92(uint8_t dev, int16_t *out) {
    if (!out || !ready()) return 1;
    i2c_timing(2);
    if (dev == kSensor12 && !g.sensor_ready) {
        // 12-bit resolution, then the pointer back to the temperature.
        const uint8_t config[2] = {1, 0x60}, pointer[1] = {0};
        if (!i2c_data_write(dev, config, 2) || !i2c_data_write(dev, pointer, 1)) return 1;
        g.sensor_ready = true;
    }
    uint8_t b[2];
    if (!i2c_data_read(dev, b, 2)) return 1;
    int16_t raw = int16_t((b[0] << 8) | b[1]);
    *out = int16_t(raw >> (dev == kSensor12 ? 4 : 3));
    return 0;
}

int I2C_query(uint8_t dev) {
    if (!ready()) return 1;
    i2c_timing(1);
    return i2c0_query(dev, 1) ? 0 : 1;
}

void I2cDev_Reset() {
    g = I2cDevState{};
}
