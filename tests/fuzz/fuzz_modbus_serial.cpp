// Bytes off a serial line into the Modbus engine: the first byte picks the
// role (slave with a one- or two-byte address, or master awaiting a reply),
// the framing (RTU or ASCII) and, for RTU, where the silent gaps fall; the
// rest is fed to the receive machine and whatever frame it takes is
// processed against the register image. Answers go to a port without a line.
// With the selector's IEC bit the engine serves an IEC block's records in a
// stand-in database instead, whose map or request record (addresses and
// counts included) comes from the input's next bytes.
#include "base/le.h"
#include "regs/plc_reg.h"
#include "serial/modbus.h"
#include "serial/vcomm.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
// The stand-in database: places inside it from offset 64 on.
constexpr uint32_t kDbSize = 4096, kRecord = 64;
uint8_t *g_db;
uint8_t *place(uint32_t offset, uint32_t bytes) {
    if (offset < kRecord || offset >= kDbSize || bytes > kDbSize - offset) return nullptr;
    return g_db + offset;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    static bool started = false;
    if (!started) {
        Vcomm_Init(); // rows without a line: sends go nowhere
        g_db = new uint8_t[kDbSize];
        started = true;
    }
    ModbusSerial_Reset();
    uint8_t sel = data[0];
    bool iec = (sel & 0x01) && size > 1 + kIecModbusMapSize;
    if (iec) {
        Modbus_SetHooks({.iec_active = [] { return true; },
                         .modbusinit = nullptr,
                         .protocol = nullptr,
                         .iec_place = place});
        std::memset(g_db, 0, kDbSize);
        std::memcpy(g_db + kRecord, data + 1, kIecModbusMapSize);
        data += kIecModbusMapSize;
        size -= kIecModbusMapSize;
    } else {
        Modbus_SetHooks({});
    }
    int port = sel % 3;
    ModbusSetup s{};
    uint8_t *r = plc_reg + reg::kR;
    s.status = r;
    s.trigger = r + 2;
    s.request = r + 16;
    s.pairs = 2;
    s.table = r + 8;
    r[8] = 7;
    r[9] = 5; // pair 5 <-> 7
    bool master = sel & 0x08;
    if (master) {
        // A read of 10 registers into %R101, awaiting its reply.
        const uint16_t req[6] = {1, uint16_t(1 + (sel >> 5)), 0, 10, 8, 100};
        std::memcpy(s.request, req, sizeof req);
    }
    s.slave = master ? 0 : (sel & 0x10) ? 0x0102 : 1;
    if (iec) {
        s = ModbusSetup{};
        s.iec = 1;
        s.slave = master ? 0 : 1;
        s.iec_request = kRecord;
        s.iec_status = kRecord + 40;
        s.iec_trigger = kRecord + 42;
    }
    ModbusInit(port, s);
    ModbusLinkState &l = pcb[port].link;
    if (iec && master) {
        // As Tr_MOD_ReqBuild leaves it: the record copied, its data's offset
        // taken as it stands (the reply finds it again, or not).
        std::memcpy(l.request, g_db + kRecord, kIecModbusRequestSize);
        l.iec_data = le32(l.request + 8);
    } else if (master) {
        // As MOD_ReqBuild leaves it: the request copied, the local data mapped.
        std::memcpy(l.request, s.request, kModbusRequestSize);
        uint8_t bit = 0;
        map_plc_ref(&l.data, &bit, 8, 100, 10, false, 0);
        l.data_bit = bit;
        if ((sel >> 5) < 2) map_plc_ref(&l.data, &l.data_bit, 72, 3, 10, true, 0);
    }
    bool ascii = sel & 0x04;
    if (ascii) {
        l.mode |= kModbusAscii;
        l.rx_state = 5;
    } else {
        l.mode &= uint8_t(~kModbusAscii);
        l.rx_state = 0;
    }
    // RTU: a 0xFF byte after the selector marks a gap where it stands.
    const uint8_t *p = data + 1;
    size_t n = size - 1;
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) {
        bool gap = i == n || (!ascii && (sel & 0x02) && p[i] == 0xFF);
        if (!gap) continue;
        Modbus_Feed(port, p + start, int(i - start), true);
        start = i + 1;
    }
    return 0;
}
