// Calibration constants of the I/O modules: the 66-byte block in the module
// EEPROM, the copy of the on-board I/O's block in FRAM, and the defaults a
// module gets when its block carries no valid marker.
#include "base/le.h"
#include "platform/fram.h"
#include "platform/i2c.h"
#include "platform/io_drv.h"
#include "platform/io_fcal.h"

#include <cstring>

namespace {

constexpr uint16_t kTcBoardGains[7] = {39226, 32783, 39260, 30695, 31426, 32801, 32586};
constexpr uint16_t DACSDEF[3] = {32752, 32752, 31868};

// Rows whose constants also live in FRAM.
bool fram_row(int row) {
    return (row >= iorow::kV1 && row <= iorow::kV4) || row == iorow::kProtected ||
           row == iorow::kBase;
}

void defaults(IoSlotState &s) {
    CalBlock &c = s.cal;
    switch (s.type) {
    case iorow::kV5:
        for (int g = 0; g < 16; g += 8)
            for (int i = 0; i < 7; ++i)
                c.gain[g + i] = kTcBoardGains[i];
        std::memset(c.offset, 0, sizeof c.offset);
        break;
    case iorow::kAq4:
    case iorow::kAq2: {
        const int channels = s.type == iorow::kAq4 ? 4 : 2;
        for (int n = 0; n < channels; ++n)
            for (int k = 0; k < 3; ++k) {
                c.gain[3 * n + k] = DACSDEF[k];
                c.offset[3 * n + k] = 0;
            }
        break;
    }
    case iorow::kMeter1:
    case iorow::kMeter2:
        std::memset(c.gain, 0, sizeof c.gain);
        std::memset(c.offset, 0, sizeof c.offset);
        break;
    case iorow::kProtected:
        for (int i = 0; i < 4; ++i)
            c.gain[i] = 8771;
        std::memset(c.offset, 0, sizeof c.offset);
        break;
    case iorow::kV1:
    case iorow::kV2:
    case iorow::kV3:
    case iorow::kV4:
        for (int i = 0; i < 8; ++i)
            c.gain[i] = i % 2 ? 13213 : 8771;
        std::memset(c.offset, 0, sizeof c.offset);
        break;
    case iorow::kBase:
        for (int i = 0; i < 8; ++i)
            c.gain[i] = i % 2 ? 33350 : 33250;
        std::memset(c.offset, 0, sizeof c.offset);
        cal_RefreshTbl(c); // the factory table follows
        break;
    default:
        break;
    }
}

// EEPROM addresses go through memory access mode 0: the block number in
// bits 8-10, one address byte.
bool ee_read(uint16_t addr, uint8_t *buf, int len) {
    return I2C_read_mem(buf, addr, len, 0) == 0;
}
bool ee_write(uint16_t addr, const uint8_t *buf, int len) {
    return I2C_write_mem(buf, addr, len, 0) == 0;
}

} // namespace

void io_get_cal_const(IoSlotState &s, int) {
    const int row = s.type;
    uint8_t img[kCalBlockBytes];
    std::memset(img, 0xFF, sizeof img);
    bool ok = ee_read(io_cal_load_addr(row), img, kCalBlockBytes);
    if (ok) cal_unpack(img, s.cal);
    if (fram_row(row)) {
        // The FRAM copy is the 66-byte block; the factory block behind it
        // holds the 48-byte factory table, read as such and turned into a
        // block (it becomes the new copy).
        uint8_t copy[kCalBlockBytes];
        if (FRAM_XChange_cal_Data(copy, kCalBlockBytes, 1)) {
            cal_unpack(copy, s.cal);
            cal_RefreshTbl(s.cal);
            ok = true;
        } else if (cal_ReadFactoryBlock(s.cal)) {
            cal_pack(s.cal, copy);
            FRAM_XChange_cal_Data(copy, kCalBlockBytes, 0);
            cal_RefreshTbl(s.cal);
            ok = true;
        }
    }
    const bool valid = ok && s.cal.marker == kCalMarker;
    if (!valid) defaults(s);
    // The metering chip works with the constants in use.
    if (io_is_meter(s))
        for (int ch = 0; ch < 16; ++ch)
            io_meter_send_cal(s, ch);
    s.flags =
        uint16_t((s.flags & ~ioflag::kValid) | ioflag::kRestart | (valid ? ioflag::kValid : 0));
}

void io_put_cal_const(IoSlotState &s, int slot, uint16_t sub) {
    s.cal.marker = kCalMarker;
    uint8_t img[kCalBlockBytes];
    cal_pack(s.cal, img);
    io_q_put(slot, 1); // the module's memory takes writes
    ee_write(uint16_t(sub ^ io_eeaddr(s.type)), img, kCalBlockBytes);
    // Only the on-board I/O keeps a FRAM copy: another module's constants
    // must not overwrite it. The factory table follows the stored copy.
    if (fram_row(s.type)) {
        FRAM_XChange_cal_Data(img, kCalBlockBytes, 0);
        cal_RefreshTbl(s.cal);
    }
    io_q_put(slot, 0);
    s.flags |= ioflag::kValid;
}

void io_put_ee_word(IoSlotState &s, uint16_t value, int offset, int slot, uint16_t sub) {
    uint8_t w[2];
    put_le16(w, value);
    io_q_put(slot, 1);
    ee_write(uint16_t((sub ^ io_eeaddr(s.type)) + offset), w, 2);
    io_q_put(slot, 0);
    if (!fram_row(s.type)) return;
    uint8_t img[kCalBlockBytes];
    if (!FRAM_XChange_cal_Data(img, kCalBlockBytes, 1)) cal_pack(s.cal, img);
    if (offset >= 0 && offset + 2 <= kCalBlockBytes) std::memcpy(img + offset, w, 2);
    FRAM_XChange_cal_Data(img, kCalBlockBytes, 0);
}
