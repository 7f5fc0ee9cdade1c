// The bus-slave module: a fieldbus slave whose data the panel exchanges
// through a memory window on the I2C bus (layout in io_drv.h). The windows
// are read and written only while the slave reports data exchange (status
// high nibble 0xE); otherwise the registers keep their values.
#include "base/le.h"
#include "platform/io_drv.h"

#include <algorithm>

namespace {

constexpr int kDev[2] = {0x1C, 0x1E};

int dev(const IoSlotState &s) {
    return kDev[&s == &io_drv.slot[1] ? 1 : 0];
}
bool rd(const IoSlotState &s, uint16_t at, int n, uint8_t *buf) {
    return read_io_eeprom(dev(s), at, n, buf, 3) == 0;
}
bool wr(const IoSlotState &s, uint16_t at, int n, const uint8_t *buf) {
    return n <= 0 || write_io_eeprom(dev(s), at, n, buf, 3) == 0;
}
bool wr8(const IoSlotState &s, uint16_t at, uint8_t v) {
    return wr(s, at, 1, &v);
}

// Reads the status byte: true while the data windows are valid.
bool exchanging(IoSlotState &s) {
    uint8_t st;
    if (!rd(s, ioslave::kStatus, 1, &st)) return false;
    s.slave.status = st;
    return (st & 0xF0) == 0xE0;
}

int in_bytes(const IoSlotState &s) {
    return (s.slave.sizes[0] + 7) / 8;
}
int out_bytes(const IoSlotState &s) {
    return (s.slave.sizes[1] + 7) / 8;
}

} // namespace

void io_slave_configure(IoSlotState &s, const uint8_t *block, uint32_t n) {
    s.slave = SlaveState{};
    if (!block) return;
    auto u8 = [&](uint32_t at) { return at < n ? block[at] : uint8_t(0); };
    auto u16 = [&](uint32_t at) { return uint16_t(u8(at) | u8(at + 1) << 8); };
    auto u32 = [&](uint32_t at) { return u16(at) | uint32_t(u16(at + 2)) << 16; };
    const IoIdent &row = io_ident[iorow::kBusSlave];
    for (int i = 0; i < 4; ++i)
        s.slave.sizes[i] = std::min<uint16_t>(u16(uint32_t(2 * i)), row.sizes[i]);
    s.slave.node = u8(8);
    s.slave.scan_ref = u32(92);
    s.slave.start_ref = u32(96);
}

void io_slave_read_inputs(IoSlotState &s, IoMsg *msg) {
    const bool ok = exchanging(s);
    uint8_t w[2];
    if (s.slave.scan_ref && rd(s, ioslave::kScanWord, 2, w))
        io_reg_put16(s.slave.scan_ref, le16(w));
    if (!ok || !msg->data) return;
    const int n = std::min<int>(msg->length, in_bytes(s));
    uint8_t buf[256];
    if (n > 0 && rd(s, ioslave::kDigIn, n, buf)) std::copy(buf, buf + n, msg->data + msg->first);
}

void io_slave_write_outputs(IoSlotState &s, IoMsg *msg) {
    if (!msg->data || !exchanging(s)) return;
    wr(s, ioslave::kDigOut, std::min<int>(msg->length, out_bytes(s)), msg->data + msg->first);
}

void io_slave_read_analog(IoSlotState &s, IoMsg *msg) {
    if (!msg->data || !exchanging(s)) return;
    const int n = std::min<int>(msg->length, s.slave.sizes[2]);
    uint8_t buf[2 * 256];
    if (n > 0 && rd(s, ioslave::kAnIn, 2 * n, buf))
        std::copy(buf, buf + 2 * n, msg->data + 2 * msg->first);
}

void io_slave_write_analog(IoSlotState &s, IoMsg *msg) {
    if (!msg->data || !exchanging(s)) return;
    const int n = std::min<int>(msg->length, s.slave.sizes[3]);
    wr(s, ioslave::kAnOut, 2 * n, msg->data + 2 * msg->first);
}

void io_slave_stop(IoSlotState &s, int) {
    wr8(s, ioslave::kControl, 0);
}

void io_slave_start(IoSlotState &s, int) {
    const uint8_t sizes[4] = {uint8_t(in_bytes(s)), uint8_t(out_bytes(s)),
                              uint8_t(s.slave.sizes[2]), uint8_t(s.slave.sizes[3])};
    wr(s, ioslave::kSizes, 4, sizes);
    uint8_t node;
    if (!rd(s, ioslave::kNode, 1, &node) || node != s.slave.node) {
        if (wr8(s, ioslave::kNode, s.slave.node)) wr8(s, ioslave::kNodeNew, 1);
    }
    uint8_t w[2];
    if (s.slave.start_ref && rd(s, ioslave::kStartWord, 2, w))
        io_reg_put16(s.slave.start_ref, le16(w));
    wr8(s, ioslave::kControl, 1);
}
