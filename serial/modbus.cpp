// The serial Modbus engine's core: the register maps of slave and master,
// the slave's request processing (reads, writes, diagnostics, listen-only,
// write inhibit, address translation), the master's request building and
// reply processing, and the per-pass step of both roles. The framings live
// in modbus_frame.cpp.
#include "serial/modbus.h"
#include "base/le.h"
#include "platform/tick.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "serial/modbus_frame.h"

#include <cstring>

ModbusPcb pcb[kModbusPorts];
ModbusTcpState ModbusTCP_St[kModbusPorts];
uint8_t Master_trigg_bit[kModbusPorts];
uint8_t sys_active;
uint8_t sys_stat;
uint16_t sys_diag;

namespace {
ModbusHooks g_hooks;

uint16_t be16(const uint8_t *p) {
    return uint16_t((p[0] << 8) | p[1]);
}
void put_be16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void count(ModbusLinkState &l, ModbusCounter c) {
    if (l.counters[c] < 0xFFFF) ++l.counters[c];
}

uint16_t status_of(const ModbusPcb &p) {
    return p.setup.status ? le16(p.setup.status) : 0;
}
void set_status(ModbusPcb &p, uint16_t v) {
    if (p.setup.status) put_le16(p.setup.status, v);
}
uint16_t trigger_of(const ModbusPcb &p) {
    return p.setup.trigger ? le16(p.setup.trigger) : 0;
}

// The bit areas of the coils and of the timers and internal bits: the
// program's token width decides whether %T/%M or their extended areas serve.
uint32_t m_area() {
    return RegTokLen_16b ? reg::kM : reg::kEM;
}
uint32_t t_area() {
    return RegTokLen_16b ? reg::kT : reg::kET;
}

struct Window {
    uint32_t first; // first Modbus address
    uint32_t area;  // byte offset of the area (0xFFFFFFFF: the %M/%EM or %T/%ET choice)
    uint32_t limit; // offset + count must not pass it
};
constexpr uint32_t kAreaM = 0xFFFFFFFF, kAreaT = 0xFFFFFFFE;

uint32_t area_base(uint32_t a) {
    if (a == kAreaM) return m_area();
    if (a == kAreaT) return t_area();
    return a;
}

// clang-format off
constexpr Window kCoils[] = {{0, reg::kQ, 2048}, {3000, kAreaM, 2048}, {6000, kAreaT, 2048},
                             {9000, reg::kQG, 256}};
constexpr Window kInputs[] = {{0, reg::kI, 2048}, {3000, reg::kIG, 256}, {4000, reg::kS, 256},
                              {5000, reg::kK, 256}};
constexpr Window kInputRegs[] = {{0, reg::kAI, 512}, {3000, reg::kAIG, 32}, {4000, reg::kSR, 192}};
constexpr Window kHolding[] = {{0, reg::kAQ, 512}, {512, reg::kR, 2488}, {3000, reg::kR, 50240},
                               {6000, reg::kAQG, 32}, {10000, reg::kR, 8192}};
// clang-format on

// The window of `address` (the last whose first address it reaches).
template <size_t N> const Window *window_of(const Window (&w)[N], uint16_t address, uint16_t n) {
    const Window *hit = nullptr;
    for (const Window &x : w)
        if (address >= x.first) hit = &x;
    if (!hit || n == 0 || uint32_t(address - hit->first) + n > hit->limit) return nullptr;
    return hit;
}

template <size_t N>
int map_bits(const Window (&w)[N], uint16_t address, uint16_t n, uint8_t **out, uint8_t *bit) {
    const Window *x = window_of(w, address, n);
    if (!x) return 3;
    uint32_t off = address - x->first;
    *out = plc_reg + area_base(x->area) + off / 8;
    *bit = uint8_t(off & 7);
    return 0;
}
template <size_t N>
int map_words(const Window (&w)[N], uint16_t address, uint16_t n, uint8_t **out) {
    const Window *x = window_of(w, address, n);
    if (!x) return 3;
    *out = plc_reg + x->area + 2u * (address - x->first);
    return 0;
}

void words_to_msg(uint8_t *msg, const uint8_t *mem, uint16_t n) {
    for (uint16_t i = 0; i < n; ++i)
        put_be16(msg + 2 * i, le16(mem + 2 * i));
}
void msg_to_words(uint8_t *mem, const uint8_t *msg, uint16_t n) {
    for (uint16_t i = 0; i < n; ++i)
        put_le16(mem + 2 * i, be16(msg + 2 * i));
}

// ---------------------------------------------------------------------------
// Slave.

// Where the data of a slave request lie: in the register image by the
// windows above, or in the arrays of an IEC block's map.
struct Span {
    uint8_t *mem = nullptr;
    uint8_t bit = 0; // first bit in the first byte (register image only)
};
enum Table { kDiscreteInputs, kCoilTable, kInputRegisters, kHoldingRegisters };

// Table t of an IEC map: the request's range must lie inside the table's
// count and the table's bytes inside the database (exception 2 otherwise;
// 4 when the map itself is gone from the database).
int iec_table(const ModbusPcb &p, Table t, uint16_t address, uint16_t n, bool words, Span *out) {
    const uint8_t *map = p.setup.request;
    if (!map) return 4;
    uint32_t at = le32(map + 4 * t), count = le32(map + 16 + 4 * t);
    if (uint32_t(address) + n > count) return 2;
    uint32_t unit = words ? 2 : 1;
    uint64_t off = uint64_t(at) + uint64_t(address) * unit;
    if (at == 0 || off > 0xFFFFFFFFu) return 2;
    out->mem = Modbus_IecPlace(uint32_t(off), uint32_t(n) * unit);
    out->bit = 0;
    return out->mem ? 0 : 2;
}
int slave_bits(const ModbusPcb &p, bool iec, Table t, uint16_t address, uint16_t n, Span *out) {
    if (iec) return iec_table(p, t, address, n, false, out);
    return t == kCoilTable ? map_output_bits(address, n, &out->mem, &out->bit)
                           : map_input_bits(address, n, &out->mem, &out->bit);
}
int slave_words(const ModbusPcb &p, bool iec, Table t, uint16_t address, uint16_t n, Span *out) {
    if (iec) return iec_table(p, t, address, n, true, out);
    return t == kHoldingRegisters ? map_output_words(address, n, &out->mem)
                                  : map_input_words(address, n, &out->mem);
}
void bits_to_msg(bool iec, uint8_t *msg, const Span &s, uint16_t n) {
    if (iec)
        Tr_BitMsgLoad(msg, s.mem, n);
    else
        BitMsgLoad(msg, s.mem, s.bit, n);
}
void msg_to_bits(bool iec, const Span &s, const uint8_t *msg, uint16_t n) {
    if (iec)
        Tr_BitMemLoad(s.mem, msg, n);
    else
        BitMemLoad(s.mem, s.bit, msg, n);
}

void clear_counters(ModbusLinkState &l) {
    std::memset(l.counters, 0, sizeof l.counters);
}

// Whether the write-inhibit bit is set.
bool inhibited(const ModbusPcb &p) {
    if (!p.setup.inhibit) return false;
    uint8_t v = 0;
    return PlcReg_Get(&v, p.setup.inhibit, 1) && v;
}

// Address translation: a frame for another slave that one of the pairs
// names is re-addressed and sent on at the start of the next pass.
void ModbusScanSAF(ModbusPcb &p, const uint8_t *frame, int len) {
    if (!p.setup.table || p.setup.pairs == 0 || le16(p.setup.table) == 0) return;
    for (uint16_t i = 0; i < p.setup.pairs; ++i) {
        uint16_t w = le16(p.setup.table + 2 * i);
        uint8_t hi = uint8_t(w >> 8), lo = uint8_t(w);
        uint8_t to;
        uint16_t toggle;
        if (hi == frame[0]) {
            to = lo;
            toggle = 0x02;
        } else if (lo == frame[0]) {
            to = hi;
            toggle = 0x04;
        } else {
            continue;
        }
        std::memcpy(p.fwd, frame, size_t(len));
        p.fwd[0] = to;
        p.fwd_len = uint16_t(len);
        p.forward = 1;
        set_status(p, status_of(p) ^ toggle);
        return;
    }
}

// Serves one request from the register image, or from an IEC block's map
// (`iec`); builds the answer into `out` and returns its length (0: no
// answer).
int serve(ModbusPcb &p, const uint8_t *f, int len, bool broadcast, int alen, uint8_t *out,
          bool iec) {
    ModbusLinkState &l = p.link;
    uint8_t fn = f[alen];
    const uint8_t *d = f + alen + 1;
    int dl = len - alen - 1;
    std::memcpy(out, f, size_t(alen + 1));
    uint8_t *o = out + alen + 1;
    int olen = 0;
    int exc = 0;
    Span at;

    uint8_t op = fn;
    // Every function that writes registers answers as illegal while inhibited.
    if ((fn == 5 || fn == 6 || fn == 15 || fn == 16 || fn == 22 || fn == 23) && inhibited(p))
        op = 0;
    // An IEC map serves neither mask writes nor read/write.
    if (iec && (op == 22 || op == 23)) op = 0;
    // These do nothing at all when broadcast.
    if (broadcast && (op == 7 || op == 8 || op == 22 || op == 23 || op == 65)) return 0;

    switch (op) {
    case 1:
    case 2:
    case 3:
    case 4: {
        if (dl < 4) {
            exc = 3;
            break;
        }
        uint16_t a = be16(d), n = be16(d + 2);
        bool bits = op <= 2;
        if (n == 0 || n > (bits ? 2000 : 125)) {
            exc = 3;
            break;
        }
        if (bits) {
            exc = slave_bits(p, iec, op == 1 ? kCoilTable : kDiscreteInputs, a, n, &at);
            if (exc) break;
            o[0] = uint8_t((n + 7) / 8);
            bits_to_msg(iec, o + 1, at, n);
        } else {
            exc = slave_words(p, iec, op == 3 ? kHoldingRegisters : kInputRegisters, a, n, &at);
            if (exc) break;
            o[0] = uint8_t(2 * n);
            words_to_msg(o + 1, at.mem, n);
        }
        olen = 1 + o[0];
        break;
    }
    case 5:
    case 6: {
        if (dl < 4) {
            exc = 3;
            break;
        }
        uint16_t a = be16(d);
        if (op == 5) {
            exc = slave_bits(p, iec, kCoilTable, a, 1, &at);
            if (exc) break;
            uint8_t v = d[2] & 1;
            msg_to_bits(iec, at, &v, 1);
        } else {
            // One register, also in a map of 32-bit elements: the request
            // carries no more.
            exc = slave_words(p, iec, kHoldingRegisters, a, 1, &at);
            if (exc) break;
            msg_to_words(at.mem, d + 2, 1);
        }
        std::memcpy(o, d, 4);
        olen = 4;
        break;
    }
    case 15:
    case 16: {
        if (dl < 5) {
            exc = 3;
            break;
        }
        uint16_t a = be16(d), n = be16(d + 2);
        uint8_t bc = d[4];
        bool bits = op == 15;
        // A byte count that disagrees with the count, or more than the frame
        // holds, would copy stale bytes into the registers.
        unsigned want = bits ? (n + 7u) / 8 : 2u * n;
        if (n == 0 || n > (bits ? 2000 : 125) || bc != want || dl < 5 + bc) {
            exc = 3;
            break;
        }
        if (bits) {
            exc = slave_bits(p, iec, kCoilTable, a, n, &at);
            if (exc) break;
            msg_to_bits(iec, at, d + 5, n);
        } else {
            exc = slave_words(p, iec, kHoldingRegisters, a, n, &at);
            if (exc) break;
            msg_to_words(at.mem, d + 5, n);
        }
        std::memcpy(o, d, 4);
        olen = 4;
        break;
    }
    case 7:
        o[0] = sys_stat;
        olen = 1;
        break;
    case 8: {
        if (dl != 4) {
            exc = 3;
            break;
        }
        uint16_t sub = be16(d);
        std::memcpy(o, d, 4);
        olen = 4;
        switch (sub) {
        case 0:
            break;
        case 1: {
            bool was_listening = l.mode & kModbusListenOnly;
            clear_counters(l);
            if (was_listening) {
                l.mode &= uint8_t(~kModbusListenOnly);
                return 0;
            }
            break;
        }
        case 2:
            put_be16(o + 2, sys_diag);
            break;
        case 4:
            l.mode |= kModbusListenOnly;
            return 0;
        case 10:
            clear_counters(l);
            break;
        case 11:
        case 12:
        case 13:
        case 14:
        case 15: {
            constexpr ModbusCounter kBySub[] = {kBusMessages, kBusErrors, kExceptions,
                                                kSlaveResponses, kIgnored};
            put_be16(o + 2, l.counters[kBySub[sub - 11]]);
            break;
        }
        default:
            exc = 2;
        }
        break;
    }
    case 22: {
        if (dl < 6) {
            exc = 3;
            break;
        }
        exc = slave_words(p, iec, kHoldingRegisters, be16(d), 1, &at);
        if (exc) break;
        uint16_t cur = le16(at.mem), and_mask = be16(d + 2), or_mask = be16(d + 4);
        put_le16(at.mem, uint16_t((cur & and_mask) | (or_mask & ~and_mask)));
        // The whole request comes back, as every master expects.
        std::memcpy(o, d, 6);
        olen = 6;
        break;
    }
    case 23: {
        if (dl < 9) {
            exc = 3;
            break;
        }
        uint16_t ra = be16(d), rn = be16(d + 2), wa = be16(d + 4), wn = be16(d + 6);
        uint8_t bc = d[8];
        if (rn == 0 || rn > 125 || wn == 0 || wn > 125 || bc != 2u * wn || dl < 9 + bc) {
            exc = 3;
            break;
        }
        Span rd;
        exc = slave_words(p, iec, kHoldingRegisters, wa, wn, &at);
        if (!exc) exc = slave_words(p, iec, kHoldingRegisters, ra, rn, &rd);
        if (exc) break;
        msg_to_words(at.mem, d + 9, wn);
        o[0] = uint8_t(2 * rn);
        words_to_msg(o + 1, rd.mem, rn);
        olen = 1 + o[0];
        break;
    }
    case 65:
        // The identity byte is never set: nobody is answered.
        return 0;
    default:
        exc = 1;
    }
    if (exc) {
        out[alen] = uint8_t(fn | 0x80);
        o[0] = uint8_t(exc);
        olen = 1;
        count(l, kExceptions);
    }
    if (broadcast) return 0;
    return alen + 1 + olen;
}

// ---------------------------------------------------------------------------
// Master.

bool read_function(uint8_t fn) {
    return fn == 1 || fn == 2 || fn == 3 || fn == 4 || fn == 7 || fn == 8 || fn == 65;
}
bool bit_function(uint8_t fn) {
    return fn == 1 || fn == 2 || fn == 5 || fn == 7 || fn == 15;
}

bool master_function(uint16_t fn) {
    return (fn >= 1 && fn <= 8) || fn == 15 || fn == 16 || fn == 65;
}
// The request's own checks, before its local side: 0 or the error code.
int check_request(uint16_t slave, uint16_t fn, uint16_t n) {
    if (slave > 247) return 4;
    if (!master_function(fn)) return 16;
    if ((fn == 7 && n != 8) || (fn == 8 && n != 1)) return 8;
    return 0;
}
// Bits or registers of the local side a function moves.
uint16_t local_count(uint16_t fn, uint16_t n) {
    return (fn == 5 || fn == 6 || fn == 65) ? 1 : n;
}

// Frames and sends the request copied into the link, with its local data
// (an IEC master's bits one byte each).
void send_request(ModbusPcb &p, const uint8_t *data, uint8_t bit) {
    ModbusLinkState &l = p.link;
    uint16_t slave = le16(l.request), fn = le16(l.request + 2), a = le16(l.request + 4),
             n = le16(l.request + 6);
    bool iec = p.setup.iec;
    uint8_t *f = l.frame;
    f[0] = fn == 65 ? 0 : uint8_t(slave);
    f[1] = uint8_t(fn);
    int len = 2;
    switch (fn) {
    case 1:
    case 2:
    case 3:
    case 4:
        put_be16(f + 2, a);
        put_be16(f + 4, n);
        len = 6;
        break;
    case 5: {
        uint8_t v = 0;
        if (iec)
            Tr_BitMsgLoad(&v, data, 1);
        else
            BitMsgLoad(&v, data, bit, 1);
        put_be16(f + 2, a);
        put_be16(f + 4, v ? 0xFF00 : 0x0000);
        len = 6;
        break;
    }
    case 6:
        put_be16(f + 2, a);
        put_be16(f + 4, le16(data));
        len = 6;
        break;
    case 8:
        put_be16(f + 2, a);
        put_be16(f + 4, (a == 0 || a == 1 || a == 3) ? le16(data) : 0);
        len = 6;
        break;
    case 15:
    case 16: {
        put_be16(f + 2, a);
        put_be16(f + 4, n);
        uint8_t bc = uint8_t(fn == 15 ? (n + 7) / 8 : 2 * n);
        f[6] = bc;
        if (fn == 16)
            words_to_msg(f + 7, data, n);
        else if (iec)
            Tr_BitMsgLoad(f + 7, data, n);
        else
            BitMsgLoad(f + 7, data, bit, n);
        len = 7 + bc;
        break;
    }
    default: // 7, 65: no data
        break;
    }
    Modbus_Send(p, f, len, true);
}

// Builds and sends the request of the request block; 0 or the error code.
int MOD_ReqBuild(ModbusPcb &p) {
    ModbusLinkState &l = p.link;
    std::memcpy(l.request, p.setup.request, kModbusRequestSize);
    uint16_t slave = le16(l.request), fn = le16(l.request + 2), n = le16(l.request + 6),
             area = le16(l.request + 8), off = le16(l.request + 10);
    if (int err = check_request(slave, fn, n)) return err;
    int err = map_plc_ref(&l.data, &l.data_bit, area, off, local_count(fn, n),
                          bit_function(uint8_t(fn)), read_function(uint8_t(fn)) ? 0 : 1);
    if (err) return err;
    send_request(p, l.data, l.data_bit);
    return 0;
}

// Bytes of an IEC master's local data that a function moves.
uint32_t iec_local_bytes(uint16_t fn, uint16_t n) {
    uint16_t local = local_count(fn, n);
    return bit_function(uint8_t(fn)) ? local : 2u * local;
}

// The IEC form: the local data is the block's array from its element index
// on, anywhere inside the database; there is no area mapping.
int Tr_MOD_ReqBuild(ModbusPcb &p) {
    ModbusLinkState &l = p.link;
    if (!p.setup.request) return 32;
    std::memcpy(l.request, p.setup.request, kIecModbusRequestSize);
    uint16_t slave = le16(l.request), fn = le16(l.request + 2), n = le16(l.request + 6),
             index = le16(l.request + 12), size = le16(l.request + 14);
    uint32_t at = le32(l.request + 8);
    if (int err = check_request(slave, fn, n)) return err;
    bool bits = bit_function(uint8_t(fn));
    if (n > (bits ? 2000 : 125)) return 8;
    uint32_t unit = bits ? 1 : size == 2 ? 4 : 2;
    uint64_t off = uint64_t(at) + uint64_t(index) * unit;
    uint8_t *data = nullptr;
    if (at && off <= 0xFFFFFFFFu) data = Modbus_IecPlace(uint32_t(off), iec_local_bytes(fn, n));
    if (!data) return 32;
    l.iec_data = uint32_t(off);
    send_request(p, data, 0);
    return 0;
}

// A reply checked against the request awaited: -1 when it is not the one
// awaited (another slave's), 0 when it is taken with its result set (an
// exception, a bad frame or length), 1 when its data are to be stored.
int check_reply(ModbusLinkState &l, const uint8_t *f, int len) {
    uint16_t slave = le16(l.request), n = le16(l.request + 6);
    uint8_t fn = uint8_t(le16(l.request + 2));
    if (len < 2) return -1;
    if (slave != 0 && fn != 65 && f[0] != slave) return -1;
    if (f[1] == (fn | 0x80)) {
        uint8_t code = len >= 3 ? f[2] : 0;
        // Codes beyond the four the status word names are a bad frame.
        l.result = (code >= 1 && code <= 4) ? uint16_t(kMbException << (code - 1)) : kMbBadFrame;
        return 0;
    }
    if (f[1] != fn) {
        l.result = kMbBadFrame;
        return 0;
    }
    int want;
    switch (fn) {
    case 1:
    case 2:
    case 3:
    case 4: {
        unsigned bc = fn <= 2 ? (n + 7u) / 8 : 2u * n;
        want = f[2] == bc ? int(3 + bc) : -1;
        break;
    }
    case 7:
    case 65:
        want = 3;
        break;
    default: // 8 and the writes
        want = 6;
        break;
    }
    if (len != want) {
        l.result = kMbBadLength;
        return 0;
    }
    return 1;
}

// Bytes of an IEC master's array that store_reply writes: exactly what the
// reply carries, whatever the request record holds.
uint32_t reply_bytes(uint16_t fn, uint16_t n) {
    switch (fn) {
    case 1:
    case 2:
        return n;
    case 3:
    case 4:
        return 2u * n;
    case 7:
        return 8;
    case 8:
    case 65:
        return 2;
    default:
        return 0;
    }
}

// Stores the data of a checked reply (an IEC master's bits one byte each).
void store_reply(const ModbusLinkState &l, const uint8_t *f, uint8_t *data, uint8_t bit, bool iec) {
    uint16_t n = le16(l.request + 6);
    uint8_t fn = uint8_t(le16(l.request + 2));
    auto bits = [&](const uint8_t *msg, uint16_t count) {
        if (iec)
            Tr_BitMemLoad(data, msg, count);
        else
            BitMemLoad(data, bit, msg, count);
    };
    switch (fn) {
    case 1:
    case 2:
        bits(f + 3, n);
        break;
    case 3:
    case 4:
        msg_to_words(data, f + 3, n);
        break;
    case 7:
        bits(f + 2, 8);
        break;
    case 8:
        msg_to_words(data, f + 4, 1);
        break;
    case 65:
        data[1] = f[2];
        break;
    default: // writes carry nothing back
        break;
    }
}

} // namespace

// Takes a reply; false when it is not the one awaited (another slave's).
bool MOD_RspProcess(ModbusPcb &p, const uint8_t *f, int len) {
    ModbusLinkState &l = p.link;
    int r = check_reply(l, f, len);
    if (r < 0) return false;
    if (r > 0) {
        store_reply(l, f, l.data, l.data_bit, false);
        l.result = kMbDone;
    }
    return true;
}

// The IEC form: the block's array is found again in the database, which may
// have changed since the request went out; gone, the reply stores nothing.
bool Tr_MOD_RspProcess(ModbusPcb &p, const uint8_t *f, int len) {
    ModbusLinkState &l = p.link;
    int r = check_reply(l, f, len);
    if (r < 0) return false;
    if (r > 0) {
        uint16_t fn = le16(l.request + 2), n = le16(l.request + 6);
        uint32_t bytes = reply_bytes(uint8_t(fn), n); // the function byte store_reply reads
        uint8_t *data = bytes ? Modbus_IecPlace(l.iec_data, bytes) : nullptr;
        if (bytes && !data) {
            l.result = kMbBadArea;
            return true;
        }
        store_reply(l, f, data, 0, true);
        l.result = kMbDone;
    }
    return true;
}

namespace {
// The address check, listen-only mode, the time-out restart and the answer,
// for either map.
void req_process(ModbusPcb &p, const uint8_t *f, int len, bool iec) {
    ModbusLinkState &l = p.link;
    count(l, kBusMessages);
    int alen = l.own >= 247 ? 2 : 1;
    if (len < alen + 1) return;
    bool mine, broadcast;
    if (alen == 1) {
        broadcast = f[0] == 0;
        mine = broadcast || f[0] == l.own;
    } else {
        uint8_t hi = uint8_t(l.own >> 8), lo = uint8_t(l.own);
        broadcast = f[0] == 0 && f[1] == 0;
        mine = f[0] == hi || f[1] == lo || f[0] == 0 || f[1] == 0;
    }
    if (!mine) {
        ModbusScanSAF(p, f, len);
        return;
    }
    if (l.mode & kModbusListenOnly) {
        uint8_t fn = f[alen];
        if (!(fn == 8 && len >= alen + 3 && be16(f + alen + 1) == 1)) {
            count(l, kIgnored);
            return;
        }
    }
    ModbusTickle(int(&p - pcb));
    uint8_t out[kModbusFrame];
    int n = serve(p, f, len, broadcast, alen, out, iec);
    if (n <= 0) return;
    count(l, kSlaveResponses);
    Modbus_Send(p, out, n, false);
}
} // namespace

void MOD_ReqProcess(ModbusPcb &p, const uint8_t *f, int len) {
    req_process(p, f, len, false);
}

// The IEC form serves the block's map (see serve()): a 0-based index into
// each table, exception 2 outside it, no mask write or read/write.
void Tr_MOD_ReqProcess(ModbusPcb &p, const uint8_t *f, int len) {
    req_process(p, f, len, true);
}

// ---------------------------------------------------------------------------
// The maps.

int map_output_bits(uint16_t address, uint16_t n, uint8_t **out, uint8_t *bit) {
    return map_bits(kCoils, address, n, out, bit);
}
int map_input_bits(uint16_t address, uint16_t n, uint8_t **out, uint8_t *bit) {
    return map_bits(kInputs, address, n, out, bit);
}
int map_input_words(uint16_t address, uint16_t n, uint8_t **out) {
    return map_words(kInputRegs, address, n, out);
}
int map_output_words(uint16_t address, uint16_t n, uint8_t **out) {
    return map_words(kHolding, address, n, out);
}

int map_plc_ref(uint8_t **out, uint8_t *bit, uint16_t area, uint16_t offset, uint16_t n, bool bits,
                int direction) {
    struct Area {
        uint16_t code;
        uint32_t base; // kAreaM / kAreaT: by token width
        bool bits;
        uint32_t limit;
        bool readable; // may be the destination of a read
    };
    // clang-format off
    static constexpr Area kAreas[] = {
        {2, reg::kSR, false, 192, false},   {4, reg::kAIG, false, 32, true},
        {6, reg::kAQG, false, 32, true},    {8, reg::kR, false, 50240, true},
        {10, reg::kAI, false, 512, true},   {12, reg::kAQ, false, 512, true},
        {24, reg::kS, true, 256, false},    {26, reg::kK, true, 256, false},
        {66, reg::kIG, true, 256, true},    {68, reg::kQG, true, 256, true},
        {70, reg::kI, true, 2048, true},    {72, reg::kQ, true, 2048, true},
        {74, kAreaT, true, 2048, true},     {76, kAreaM, true, 2048, true},
    };
    // clang-format on
    if (n > (bits ? 2000 : 125)) return 8;
    for (const Area &a : kAreas) {
        if (a.code != area) continue;
        if (a.bits != bits || (direction == 0 && !a.readable) || uint32_t(offset) + n > a.limit)
            return 32;
        uint32_t base = area_base(a.base);
        if (bits) {
            *out = plc_reg + base + offset / 8;
            *bit = uint8_t(offset & 7);
        } else {
            *out = plc_reg + base + 2u * offset;
            *bit = 0;
        }
        return 0;
    }
    return 32;
}

void BitMsgLoad(uint8_t *msg, const uint8_t *mem, uint8_t bit, uint16_t n) {
    std::memset(msg, 0, (n + 7u) / 8);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t b = bit + i;
        if ((mem[b / 8] >> (b % 8)) & 1) msg[i / 8] = uint8_t(msg[i / 8] | (1u << (i % 8)));
    }
}

void Tr_BitMsgLoad(uint8_t *msg, const uint8_t *mem, uint16_t n) {
    std::memset(msg, 0, (n + 7u) / 8);
    for (uint32_t i = 0; i < n; ++i)
        if (mem[i]) msg[i / 8] = uint8_t(msg[i / 8] | (1u << (i % 8)));
}

void Tr_BitMemLoad(uint8_t *mem, const uint8_t *msg, uint16_t n) {
    for (uint32_t i = 0; i < n; ++i)
        mem[i] = (msg[i / 8] >> (i % 8)) & 1;
}

void BitMemLoad(uint8_t *mem, uint8_t bit, const uint8_t *msg, uint16_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t b = bit + i;
        uint8_t m = uint8_t(1u << (b % 8));
        if ((msg[i / 8] >> (i % 8)) & 1)
            mem[b / 8] = uint8_t(mem[b / 8] | m);
        else
            mem[b / 8] = uint8_t(mem[b / 8] & ~m);
    }
}

// ---------------------------------------------------------------------------
// The engine's entry points.

namespace {
void restart_timeout(ModbusPcb &p) {
    p.elapsed = 0;
    p.last_tick = uint16_t(FPGA_GetFrt());
}
void count_timeout(ModbusPcb &p) {
    uint16_t now = uint16_t(FPGA_GetFrt());
    while (uint16_t(now - p.last_tick) >= 1000) {
        p.last_tick = uint16_t(p.last_tick + 1000);
        if (p.elapsed < 0xFFFFFFFF) ++p.elapsed;
    }
}
bool timed_out(const ModbusPcb &p) {
    return p.setup.timeout && p.elapsed >= p.setup.timeout;
}

int execute_master(ModbusPcb &p, int port) {
    const VcommDrv &d = Vcomm_Drv[port];
    bool trig = (trigger_of(p) & p.mask) != 0;
    // An IEC master sends on a rising trigger (exactly 1, after 0) only; a
    // trigger that stays set without one leaves it idle rather than waiting
    // for the reply to a request never sent.
    bool rising = true;
    if (p.setup.iec) {
        uint16_t v = trigger_of(p);
        rising = v == 1 && Master_trigg_bit[port] == 0;
        Master_trigg_bit[port] = v != 0;
    }
    switch (p.state) {
    case kIdle: {
        if (!trig || !rising) return 1;
        d.FlushRx(port);
        int err = p.setup.iec ? Tr_MOD_ReqBuild(p) : MOD_ReqBuild(p);
        if (err) {
            set_status(p, uint16_t(err | kMbError));
            p.state = kDone;
            return 1;
        }
        p.line_error = 0;
        d.StatusRx(port, 1);
        p.state = kSending;
        return 1;
    }
    case kSending:
        if (!trig) {
            d.FlushTx(port);
            set_status(p, 0);
            p.state = kIdle;
            return 1;
        }
        if (p.tx_state != 0) return 1;
        restart_timeout(p);
        p.state = kAwaiting;
        [[fallthrough]];
    case kAwaiting: {
        if (!trig) {
            set_status(p, 0);
            p.state = kIdle;
            return 1;
        }
        if (d.StatusRx(port, 0)) p.line_error = kMbLineError;
        p.got = 0;
        Modbus_Receive(p, port, true);
        if (p.got) {
            uint16_t r = p.link.result;
            if (r == kMbDone)
                set_status(p, kMbDone);
            else
                set_status(p, uint16_t((p.line_error ? p.line_error : r) | kMbError));
            p.state = kDone;
            return 1;
        }
        count_timeout(p);
        if (timed_out(p)) {
            set_status(p, uint16_t((p.line_error ? p.line_error : kMbTimeout) | kMbError));
            p.state = kDone;
        }
        return 1;
    }
    case kDone:
        if (!trig) {
            set_status(p, 0);
            p.state = kIdle;
        }
        return 1;
    default:
        return 0;
    }
}

void execute_slave(ModbusPcb &p, int port) {
    const VcommDrv &d = Vcomm_Drv[port];
    uint16_t v = trigger_of(p);
    uint16_t st = status_of(p);
    if (v && !p.latch) {
        p.latch = 1;
        if (v >= 256)
            st |= 0x200;
        else if (p.tx_state != 0)
            st |= 0x400;
        else if (p.setup.request && !p.setup.iec) // an IEC map is no frame
            Modbus_Send(p, p.setup.request, v, false);
    }
    if (!v) {
        p.latch = 0;
        st &= uint16_t(~0x700);
    }
    if (p.latch && p.tx_state == 0) st |= 0x100;
    set_status(p, st);
    if (p.forward) {
        p.forward = 0;
        Modbus_Send(p, p.fwd, p.fwd_len, false);
    }
    Modbus_Receive(p, port, false);
    count_timeout(p);
    st = uint16_t(status_of(p) & 0xFF0E);
    if (timed_out(p)) st |= 0x01;
    if (p.link.result & kMbBadFrame) {
        st |= 0x80;
        p.link.result &= uint16_t(~kMbBadFrame);
    }
    uint8_t line = d.StatusRx(port, 1);
    st |= uint16_t((line & 7) << 4);
    set_status(p, st);
}
// An IEC block's words, found again in the database (null where they no
// longer lie inside it).
void bind_iec(ModbusPcb &p) {
    ModbusSetup &s = p.setup;
    if (!s.iec) return;
    s.trigger = Modbus_IecPlace(s.iec_trigger, 2);
    s.request = Modbus_IecPlace(s.iec_request, s.slave ? kIecModbusMapSize : kIecModbusRequestSize);
    s.status = Modbus_IecPlace(s.iec_status, 2);
}
} // namespace

void ModbusInit(int port, const ModbusSetup &setup) {
    if (port < 0 || port >= kModbusPorts) return;
    ModbusPcb &p = pcb[port];
    p.setup = setup;
    bind_iec(p);
    Master_trigg_bit[port] = 0;
    if (setup.slave == 0) p.mask = uint16_t(1u << (setup.trigger_bit & 15));
    uint8_t *mode = Vcomm_Drv[port].mode;
    bool keep_link = false;
    if (mode && g_hooks.iec_active && g_hooks.iec_active()) {
        uint8_t *init = g_hooks.modbusinit;
        if (init && *init == 1) {
            *init = 0;
            const uint8_t *proto = g_hooks.protocol;
            mode[5] = uint8_t((mode[5] & 0xF0) | (proto ? *proto & 0xF : 0));
        } else if ((mode[5] & 0xF) == 6) {
            keep_link = true;
        }
    }
    bool rtu = mode && (mode[5] & 0xF) == 3;
    if (!keep_link) {
        // MOD_Init
        ModbusLinkState &l = p.link;
        std::memset(&l, 0, sizeof l);
        l.port = uint16_t(port);
        l.own = setup.slave;
        l.mode = uint8_t((setup.slave == 0 ? kModbusMaster : 0) | (rtu ? 0 : kModbusAscii));
        l.rx_state = rtu ? 0 : kAsciiWaitColon;
    }
    p.state = setup.slave == 0 ? kIdle : kSlave;
    restart_timeout(p);
    set_status(p, 0);
    p.tx_state = 0;
    p.forward = 0;
    p.latch = 0;
    p.line_error = 0;
    sys_active = 1;
}

int ModbusExecute(int port) {
    if (port < 0 || port >= kModbusPorts) return 0;
    ModbusPcb &p = pcb[port];
    const VcommDrv &d = Vcomm_Drv[port];
    bind_iec(p);
    if (p.tx_state == 255 && d.CountTx(port) == 0) p.tx_state = 0;
    if (p.state == kSlave) {
        execute_slave(p, port);
        return 1;
    }
    return execute_master(p, port);
}

void ModbusStop(int port) {
    if (port < 0 || port >= kModbusPorts) return;
    bind_iec(pcb[port]);
    set_status(pcb[port], 0);
}

void ModbusTickle(int port) {
    if (port < 0 || port >= kModbusPorts) return;
    ModbusPcb &p = pcb[port];
    restart_timeout(p);
    set_status(p, status_of(p) ^ 0x08);
}

void MOD_TCPInit(int on, int port) {
    if (port < 0 || port >= kModbusPorts) return;
    ModbusTcpState &t = ModbusTCP_St[port];
    if (on) {
        t.flags = uint8_t(0x01 | (port << 3));
        t.transaction = 1;
        t.protocol = 0;
    } else {
        t.flags = 0;
    }
}

void Modbus_SetHooks(const ModbusHooks &hooks) {
    g_hooks = hooks;
}

bool Modbus_IecActive() {
    return g_hooks.iec_active && g_hooks.iec_active();
}

bool Modbus_IecInitAsked() {
    return g_hooks.modbusinit && *g_hooks.modbusinit == 1;
}

uint8_t *Modbus_IecPlace(uint32_t offset, uint32_t bytes) {
    if (offset == 0 || !g_hooks.iec_place || !Modbus_IecActive()) return nullptr;
    return g_hooks.iec_place(offset, bytes);
}

void ModbusSerial_Reset() {
    std::memset(pcb, 0, sizeof pcb);
    std::memset(ModbusTCP_St, 0, sizeof ModbusTCP_St);
    std::memset(Master_trigg_bit, 0, sizeof Master_trigg_bit);
    sys_active = 0;
    sys_stat = 0;
    sys_diag = 0;
}
