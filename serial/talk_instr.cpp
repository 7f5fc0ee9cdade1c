// The control program's communication instructions and the port state they
// keep (the Talk records): open, close, send, receive, Modbus and modem, in
// their ladder forms and the IEC blocks' open and close. Operand layouts are
// described in serial/talk_instr.h.
#include "serial/talk_instr.h"
#include "base/le.h"
#include "base/trace.h"
#include "plc/ladder.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/modbus.h"
#include "serial/serial.h"

#include <cstring>

TalkRecord Talk[kVcommPorts];
uint8_t TalkModemProtect;

namespace {

constexpr uint16_t kCountIdle = 0xFFFF;
constexpr uint16_t kExtensionMark = 1023;

bool first_scan() {
    return sbit_get(sbit::kFirstScan) != 0;
}
uint8_t protocol(int port) {
    const uint8_t *m = Vcomm_Drv[port].mode;
    return m ? m[5] & 0xF : 0;
}
// Register references that stay in the image (not an IEC variable or an
// external slot), so their bytes may be kept across scans.
bool image_ref(uint32_t ref) {
    return ref >= 1024 && (ref >> 30) == 0;
}
uint8_t *image_ptr(uint32_t ref, uint32_t bits) {
    return image_ref(ref) ? PlcReg_Ptr(ref, bits) : nullptr;
}
// A value operand: a number below 1024, else the register's value.
uint16_t value_of(uint32_t ref, bool *ok) {
    if (ref < 1024) return uint16_t(ref);
    uint8_t v[2] = {};
    if (!PlcReg_Get(v, ref, 16)) *ok = false;
    return le16(v);
}
uint32_t value32_of(uint32_t ref, bool *ok) {
    uint8_t v[4] = {};
    if (ref < 1024 || !PlcReg_Get(v, ref, 32)) *ok = false;
    return le32(v);
}

// Settings beyond what the port's Open takes are refused before anything
// changes (Open would keep the bad record and half the settings).
bool settings_valid(const uint8_t *m) {
    return m[0] <= 9 && m[1] <= 2 && (m[2] == 2 || m[2] == 3) && m[3] <= 1 && m[4] <= 5;
}

bool tool_holds(int port, uint32_t lock_bits) {
    return uint32_t(port) == ProgrammingPort && (Vcomm_Lock & lock_bits) && Vcomm_Host == 0;
}

uint8_t open_port(uint32_t id, uint16_t port_word, const uint8_t *mode, uint8_t enable, bool iec) {
    int port = port_word & 0x7FFF;
    if (port >= kVcommPorts || TalkOverride[port] || !settings_valid(mode)) return 0;
    TalkRecord &t = Talk[port];
    if (tool_holds(port, 0x02)) return 0;
    if (t.open_id && t.open_id != id) return 0;
    if (iec && protocol(port) == 6) return 0;
    if (first_scan()) t.open_last = 0;
    uint8_t en = enable ? 1 : 0;
    uint8_t want = mode[5] & 0xF;
    if (en && !t.open_last) {
        if (port == 0 && (mode[5] >> 4) == 3 && (port_word & 0x8000) &&
            !(PortIP_ads.flags & 0x04)) {
            PortIP_ads.tcp_port = 502;
            if (!OCBReConfigENET()) {
                t.open_last = 0; // the next scan tries again
                return 0;
            }
            PortIP_ads.flags |= 0x04;
            MOD_TCPInit(1, port);
        }
        Vcomm_Drv[port].Open(port, mode);
        t.open_id = id;
        if (want == 1) Cmd_Override = 1;
        t.opened = protocol(port) == want;
    } else if (!en && t.open_last) {
        t.open_id = 0;
        Cmd_Override = 0;
        t.open_last = 0;
        return 0;
    }
    t.open_last = en;
    return en && t.open_id == id && t.opened && protocol(port) == want;
}

uint8_t close_port(uint32_t id, uint16_t port, uint8_t enable) {
    if (port >= kVcommPorts || TalkOverride[port]) return 0;
    TalkRecord &t = Talk[port];
    if (tool_holds(port, 0xFFFFFFFF)) return 0;
    if (t.close_id && t.close_id != id && t.close_last == 1) return 0;
    if (first_scan()) t.close_last = 0;
    uint8_t en = enable ? 1 : 0;
    if (en && t.close_last != 1) {
        if (port == 0 && (PortIP_ads.flags & 0x04)) {
            if (!OCBReConfigENET()) {
                t.close_last = 254; // retried on the next scan
                return 0;
            }
            PortIP_ads.flags = uint8_t(PortIP_ads.flags & ~0x04);
            MOD_TCPInit(0, port);
        }
        Vcomm_Drv[port].Open(port, vibus_mode);
        t.close_id = id;
        Cmd_Override = 0;
        if (protocol(port) < 2) t.opened = 0;
    } else if (!en && t.close_last) {
        t.close_id = 0;
    }
    t.close_last = en;
    return en && protocol(port) < 2 && Cmd_Override == 0;
}

// The open settings of the ladder form; false for a value out of range.
bool read_open_settings(uint32_t *pc, uint16_t *port_word, uint8_t *mode) {
    uint16_t w = Lad_Word(pc);
    if (w != 0x4000 && w != 0x6000) {
        *port_word = w;
        for (int i = 0; i < 3; ++i) {
            uint16_t m = Lad_Word(pc);
            mode[2 * i] = uint8_t(m);
            mode[2 * i + 1] = uint8_t(m >> 8);
        }
        return !lad_fault;
    }
    uint32_t ref = Lad_Fold(Lad_Dword(pc));
    if (lad_fault || ref < 1024 || (ref >> 30)) return false;
    bool ok = true;
    if (w == 0x6000) {
        uint16_t first = value_of(ref, &ok);
        ref += 16u * (first / 2u);
    }
    // port, baud, parity, data bits, stop bits, handshake, protocol, line mode
    constexpr uint16_t kMax[8] = {2, 9, 2, 3, 1, 5, 4, 13};
    uint16_t v[8];
    for (int i = 0; i < 8; ++i) {
        v[i] = value_of(ref + 16u * unsigned(i), &ok);
        if (!ok || v[i] > kMax[i]) return false;
    }
    *port_word = v[0];
    for (int i = 0; i < 5; ++i)
        mode[i] = uint8_t(v[i + 1]);
    mode[5] = uint8_t(v[6] | (v[7] << 4));
    return true;
}

// Moves the bytes of one send or receive of `len` bytes (`len_ok` false: a
// length that could not be read) between the port and `buf` (null: a buffer
// outside the memory it must lie in), counting in `count`.
uint8_t move_bytes(uint16_t port, uint16_t len, bool len_ok, uint8_t *buf, uint8_t *count,
                   uint8_t power, bool send) {
    auto idle = [&] {
        put_le16(count, kCountIdle);
        return uint8_t(0);
    };
    if (first_scan()) put_le16(count, kCountIdle);
    if (port >= kVcommPorts || !len_ok || len > 255) return idle();
    uint8_t need = Talk[port].opened ? 1 : 2;
    if (!power || protocol(port) < need || !buf) return idle();
    uint16_t c = le16(count);
    if (c == kCountIdle) c = 0;
    const VcommDrv &d = Vcomm_Drv[port];
    bool modem = IsModemSocketActive(port, 1) == 0;
    while (c < len) {
        if (send) {
            if (modem) {
                if (ModemDataSend(1, buf + c, 1, 0)) break;
            } else {
                if (!d.CheckTx(port)) break;
                d.PutTx(port, buf[c]);
                d.RtuTx(port);
            }
        } else {
            if (modem) {
                if (ModemCheckRecv(1) != 1) break;
                buf[c] = ModemDataRecv(1);
            } else {
                if (d.CheckRx(port) != 1) break;
                buf[c] = d.GetRx(port);
            }
        }
        ++c;
    }
    (send ? Talk[port].send_pos : Talk[port].recv_pos) = c;
    put_le16(count, c);
    return c == len ? 1 : 0;
}

// The ladder form's operands.
uint8_t transfer(uint32_t *pc, uint8_t power, bool send, bool offset_form) {
    uint16_t port = Lad_Word(pc);
    uint32_t len_ref = Lad_WordRef(pc);
    uint32_t buf_ref = Lad_WordRef(pc);
    uint32_t cnt_ref = Lad_WordRef(pc);
    bool by_offset = offset_form || Lad_Word(pc) != 0;
    if (lad_fault) return 0;
    uint8_t *count = image_ptr(cnt_ref, 16);
    if (!count) return 0;
    bool ok = true;
    uint16_t len = value_of(len_ref, &ok);
    // The buffer and its length must lie inside the registers.
    uint8_t *buf = nullptr;
    if (by_offset) {
        bool off_ok = true;
        uint32_t off = value32_of(buf_ref, &off_ok);
        if (off_ok && uint64_t(off) + len <= kTalkBufferEnd) buf = plc_reg + off;
    } else {
        buf = image_ptr(buf_ref, 8u * len);
    }
    return move_bytes(port, len, ok, buf, count, power, send);
}

// The IEC form's transfer record: u16 port, u16 length, then the buffer's
// and the INT count's database offsets, two words each, high half first.
// Both must lie inside the database; a count outside it is not written.
uint8_t iec_transfer(const uint8_t *record, uint8_t power, bool send) {
    if (!record) return 0;
    uint16_t port = le16(record), len = le16(record + 2);
    uint32_t buf_at = uint32_t(le16(record + 4)) << 16 | le16(record + 6);
    uint32_t count_at = uint32_t(le16(record + 8)) << 16 | le16(record + 10);
    uint8_t *count = Modbus_IecPlace(count_at, 2);
    if (!count) return 0;
    return move_bytes(port, len, true, Modbus_IecPlace(buf_at, len), count, power, send);
}

// The engine on a port for one role: started on a rising enable unless it
// already runs there, stepped while enabled, stopped on a falling enable.
uint8_t run_engine(int port, uint8_t power, const ModbusSetup &s) {
    TalkRecord &t = Talk[port];
    int role = s.slave ? 1 : 0;
    if (power && !t.running[role]) {
        if (t.started) return 0;
        ModbusInit(port, s);
        t.running[role] = 1;
        t.started = 1;
    } else if (!power && t.running[role]) {
        ModbusStop(port);
        t.running[role] = 0;
        t.started = 0;
        return 0;
    }
    if (!power || !t.running[role]) return 0;
    return uint8_t(ModbusExecute(port));
}

uint8_t modbus(uint32_t *pc, uint8_t power, bool request_indirect) {
    uint16_t port = Lad_Word(pc);
    uint32_t slave_ref = Lad_WordRef(pc);
    uint32_t timeout_ref = Lad_WordRef(pc);
    uint32_t trigger_ref = Lad_BitRef(pc);
    uint32_t request_ref = Lad_WordRef(pc);
    uint32_t status_ref = Lad_WordRef(pc);
    uint16_t option = 0, pairs = 0;
    uint32_t table_ref = 0, inhibit_ref = 0;
    if (!lad_fault && *pc < lad_words && le16(lad_prog + 2 * *pc) == kExtensionMark) {
        Lad_Word(pc);
        option = Lad_Word(pc);
        pairs = Lad_Word(pc);
        table_ref = Lad_WordRef(pc);
        if (option >= 3) inhibit_ref = Lad_BitRef(pc);
    }
    if (lad_fault || port >= kVcommPorts || TalkOverride[port]) return 0;
    if (request_indirect) {
        bool ok = true;
        request_ref = value32_of(request_ref, &ok);
        if (!ok) return 0;
    }
    if (request_ref < 1024 || status_ref < 1024) return 0;
    bool ok = true;
    uint16_t slave = value_of(slave_ref, &ok);
    uint16_t timeout = value_of(timeout_ref, &ok);
    if (!ok || (slave_ref >= 1024 && slave == 0)) return 0;

    ModbusPcb &p = pcb[port];
    ModbusSetup s{};
    s.slave = slave;
    s.timeout = timeout;
    if (trigger_ref < 1024) {
        s.trigger = nullptr; // set below, once the engine's own word is free
    } else {
        uint32_t word_ref = 1024 + ((trigger_ref - 1024) & ~15u);
        s.trigger = image_ptr(word_ref, 16);
        s.trigger_bit = uint8_t((trigger_ref - 1024) & 15);
        if (!s.trigger) return 0;
    }
    // The request block, the status word and the translation table must lie
    // whole inside the registers.
    s.request = image_ptr(request_ref, 8u * (slave ? kModbusUnsolicited : kModbusRequestSize));
    s.status = image_ptr(status_ref, 16);
    if (!s.request || !s.status) return 0;
    s.option = option;
    s.pairs = pairs;
    if (pairs) {
        s.table = image_ptr(table_ref, 16u * pairs);
        if (!s.table) return 0;
    }
    if (inhibit_ref && !image_ptr(inhibit_ref, 1)) return 0;
    s.inhibit = inhibit_ref;

    TalkRecord &t = Talk[port];
    if (protocol(port) < 3) {
        t.running[0] = t.running[1] = 0;
        return 0;
    }
    if (trigger_ref < 1024 && power && !t.running[slave ? 1 : 0] && !t.started) {
        put_le16(p.const_trigger, uint16_t(trigger_ref));
        s.trigger = p.const_trigger;
    }
    return run_engine(port, power, s);
}

} // namespace

int TalkOpened(int port) {
    return port >= 0 && port < kVcommPorts ? Talk[port].opened : 0;
}

void TalkClosed(int port) {
    host::trace("TalkClosed");
    if (port < 0 || port >= kVcommPorts) return;
    Talk[port].opened = 0;
    if (port == 0 && (PortIP_ads.flags & 0x04)) PortIP_ads.flags |= 0x10;
}

void Talk_ModeChange(int port) {
    host::trace("Talk_ModeChange");
    if (port < 0 || port >= kVcommPorts) return;
    Vcomm_Drv[port].Open(port, vibus_mode);
}

void TalkInit() {
    host::trace("TalkInit");
    uint8_t saved_enable[3] = {}, saved_init = 0;
    if (ProgrammingPort < uint32_t(kVcommPorts)) {
        std::memcpy(saved_enable, Talk[ProgrammingPort].modem_enable, 3);
        saved_init = Talk[ProgrammingPort].modem_init;
    }
    std::memset(Talk, 0, sizeof Talk);
    if (sr_get(sr::kPortAction) == 1 && saved_init && (saved_enable[1] || saved_enable[2])) {
        std::memcpy(Talk[ProgrammingPort].modem_enable, saved_enable, 3);
        Talk[ProgrammingPort].modem_init = saved_init;
        TalkModemProtect = 1;
    }
}

uint8_t TalkOpen(uint32_t *pc, uint8_t power) {
    uint32_t id = *pc + 1;
    uint16_t port_word = 0;
    uint8_t mode[kModeBytes] = {};
    if (!read_open_settings(pc, &port_word, mode)) return 0;
    return open_port(id, port_word, mode, power, false);
}

uint8_t TalkClose(uint32_t *pc, uint8_t power) {
    uint32_t id = *pc + 1;
    uint16_t port = Lad_Word(pc);
    if (lad_fault) return 0;
    return close_port(id, port, power);
}

uint8_t IEC_TalkSend(uint32_t *pc, uint8_t power, int form) {
    return transfer(pc, power, true, form == 1);
}

uint8_t IEC_TalkReceive(uint32_t *pc, uint8_t power, int form) {
    return transfer(pc, power, false, form == 1);
}

uint8_t TalkModbus(uint32_t *pc, uint8_t power) {
    return modbus(pc, power, false);
}

uint8_t IEC_TalkModbus(uint32_t *pc, uint8_t power) {
    return modbus(pc, power, true);
}

uint8_t TalkModem(uint32_t *pc, uint8_t power) {
    uint16_t port = Lad_Word(pc);
    uint16_t fn = Lad_Word(pc);
    uint32_t status_ref = Lad_WordRef(pc);
    const uint8_t *text = nullptr;
    uint32_t length = 0;
    if (fn == 0 || fn == 1) {
        uint16_t w = Lad_Word(pc);
        if (fn == 1 && w >= 1024) {
            uint32_t ref = RegTokLen_16b ? w : Lad_Fold(w | (uint32_t(Lad_Word(pc)) << 16));
            text = image_ptr(ref, 16);
        } else {
            uint32_t words = (w + 1u) / 2;
            if (*pc + uint64_t(words) > lad_words) {
                lad_fault = 1;
                return 0;
            }
            text = lad_prog + 2 * *pc;
            length = w;
            *pc += words;
        }
    }
    if (lad_fault) return 0;
    if (fn > 2) return 255;
    uint8_t *status = image_ptr(status_ref, 16);
    if (!status) return 0;
    if (first_scan()) {
        if (!TalkModemProtect) put_le16(status, kCountIdle);
    } else {
        TalkModemProtect = 0;
    }
    if (port >= kVcommPorts || (!text && fn != 2)) return 0;
    TalkRecord &t = Talk[port];
    if (protocol(port) < (t.opened ? 1 : 2)) return 0;
    uint8_t en = power ? 1 : 0;
    if (en != t.modem_enable[fn]) {
        if (en) {
            if (!t.modem_init) {
                ModemInit(port);
                t.modem_init = 1;
            }
            if (ModemStart(port, fn, status, text, length)) t.modem_enable[fn] = 1;
        } else if (ModemStop(port, fn)) {
            t.modem_enable[fn] = 0;
        }
    }
    return en ? uint8_t(ModemExecute(port, fn)) : 0;
}

uint8_t TrTalkOpen(const uint8_t *block, uint8_t enable) {
    if (!block) return 0;
    uint32_t id = 0x80000000u | uint32_t(reinterpret_cast<uintptr_t>(block) >> 1);
    return open_port(id, le16(block), block + 2, enable, true);
}

uint8_t TrTalkClose(const uint8_t *block, uint8_t enable) {
    if (!block) return 0;
    uint32_t id = 0x80000000u | uint32_t(reinterpret_cast<uintptr_t>(block) >> 1);
    return close_port(id, le16(block), enable);
}

uint8_t TrTalkSend(const uint8_t *block, uint8_t enable) {
    return iec_transfer(block, enable, true);
}

uint8_t TrTalkReceive(const uint8_t *block, uint8_t enable) {
    return iec_transfer(block, enable, false);
}

uint8_t Tr_TalkModbus(const uint8_t *block, uint8_t enable) {
    if (!block || !Modbus_IecActive()) return 0;
    uint32_t port = le32(block), slave = le32(block + 4);
    if (port >= uint32_t(kVcommPorts) || TalkOverride[port] || slave > 0xFFFF) return 0;
    ModbusSetup s{};
    s.iec = 1;
    s.slave = uint16_t(slave);
    s.timeout = uint16_t(le32(block + 8));
    // A slave's request record is its map: it has no unsolicited frame.
    s.iec_trigger = slave ? 0 : le32(block + 12);
    s.iec_request = le32(block + 16);
    s.iec_status = le32(block + 20);
    // The records must lie whole inside the database.
    if ((!slave && !Modbus_IecPlace(s.iec_trigger, 2)) ||
        !Modbus_IecPlace(s.iec_request, slave ? kIecModbusMapSize : kIecModbusRequestSize) ||
        !Modbus_IecPlace(s.iec_status, 2))
        return 0;
    TalkRecord &t = Talk[port];
    // Asked for by the runtime, the engine runs on its programming port only
    // (and puts the runtime's protocol there); else on a Modbus port.
    bool accepted = Modbus_IecInitAsked() ? port == ProgrammingPort : protocol(int(port)) >= 3;
    if (!accepted) {
        t.running[0] = t.running[1] = 0;
        return 0;
    }
    return run_engine(int(port), enable, s);
}

void TalkInstr_Reset() {
    std::memset(Talk, 0, sizeof Talk);
    TalkModemProtect = 0;
}
