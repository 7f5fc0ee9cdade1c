// The framings of the serial Modbus engine: the receive machine (RTU frames
// ended by the silent gap and checked by their CRC, ASCII frames between ":"
// and CR LF checked by their LRC, the Modbus TCP header carried over the
// serial line or the modem socket) and the transmit path of each.
#include "serial/modbus_frame.h"
#include "base/crc16.h"
#include "base/le.h"
#include "platform/tick.h"
#include "serial/serial.h"

#include <cstring>

namespace {

// The index of the last byte of an RTU frame by its function, as a request
// and as a response: a value above 0 is the index itself; -1, -5, -9 name a
// byte count at index 2, 6, 10, the frame ending two bytes after its data.
struct Expected {
    int16_t request, response;
};
Expected ExpectedSize(uint8_t fn) {
    switch (fn) {
    case 1:
    case 2:
    case 3:
    case 4:
        return {7, -1};
    case 5:
    case 6:
    case 8:
        return {7, 7};
    case 7:
    case 65:
        return {3, 4};
    case 15:
    case 16:
        return {-5, 7};
    case 22:
        return {9, 9};
    case 23:
        return {-9, -1};
    default:
        return {4, 4};
    }
}

int address_bytes(const ModbusLinkState &l) {
    return (l.mode & kModbusMaster) || l.own < 247 ? 1 : 2;
}
bool tcp_on(int port) {
    return ModbusTCP_St[port].flags & 0x01;
}
uint16_t be16(const uint8_t *p) {
    return uint16_t((p[0] << 8) | p[1]);
}

void frame_error(ModbusLinkState &l) {
    if (l.counters[kBusErrors] < 0xFFFF) ++l.counters[kBusErrors];
    l.result = kMbBadFrame;
}

// A frame is taken: the TCP header checked and removed, then processed.
void take(ModbusPcb &p, int len) {
    ModbusLinkState &l = p.link;
    const uint8_t *f = l.frame;
    int port = l.port;
    if (tcp_on(port)) {
        ModbusTcpState &t = ModbusTCP_St[port];
        if (len < 8 || be16(f + 4) != len - 6) {
            frame_error(l);
            return;
        }
        uint16_t tid = be16(f);
        if (l.mode & kModbusMaster) {
            if ((t.flags & 0x02) && tid != t.transaction) return;
            t.transaction = uint16_t(t.transaction + 1);
            t.flags = uint8_t(t.flags & ~0x02);
        } else {
            t.transaction = tid;
        }
        f += 6;
        len -= 6;
    }
    if (l.mode & kModbusMaster) {
        if (p.setup.iec ? Tr_MOD_RspProcess(p, f, len) : MOD_RspProcess(p, f, len)) p.got = 1;
    } else if (p.setup.iec) {
        Tr_MOD_ReqProcess(p, f, len);
    } else {
        MOD_ReqProcess(p, f, len);
    }
}

void restart(ModbusLinkState &l) {
    l.index = 0;
    l.valid[0] = l.valid[1] = 0;
}

// One RTU byte, or the end-of-frame mark (c < 0).
void rtu_rx(ModbusPcb &p, int c) {
    ModbusLinkState &l = p.link;
    if (c < 0) {
        int n = l.index;
        int take_len = -1;
        if (tcp_on(l.port) && n > 0) {
            take_len = n; // no CRC check under the TCP header
        } else if (n >= 4) {
            if (l.crc == le16(l.frame + n - 2))
                take_len = n - 2;
            else if (l.valid[1])
                take_len = l.expect[1] - 1;
            else if (l.valid[0])
                take_len = l.expect[0] - 1;
            else
                frame_error(l);
        }
        restart(l);
        if (take_len > 0) take(p, take_len);
        return;
    }
    int limit = tcp_on(l.port) ? kModbusMaxTcp : kModbusMaxRtu;
    int i = l.index;
    if (i >= limit - 1) {
        frame_error(l);
        restart(l);
        return;
    }
    l.frame[i] = uint8_t(c);
    l.index = uint16_t(i + 1);
    if (i == 0) {
        l.crc = 0xFFFF;
        l.valid[0] = l.valid[1] = 0;
        return;
    }
    int alen = address_bytes(l);
    int shift = alen - 1;
    if (i == alen) {
        Expected e = ExpectedSize(uint8_t(c));
        l.expect[0] = e.request > 0 ? int16_t(e.request + shift) : int16_t(e.request - shift);
        l.expect[1] = e.response > 0 ? int16_t(e.response + shift) : int16_t(e.response - shift);
    }
    if (i >= 2) l.crc = uint16_t((l.crc >> 8) ^ CrcTab[(l.crc ^ l.frame[i - 2]) & 0xFF]);
    if (i <= alen) return;
    for (int k = 0; k < 2; ++k) {
        int16_t &e = l.expect[k];
        if (e < 0 && i == 1 - e) e = int16_t(i + 2 + l.frame[i]);
        if (e > 0 && i == e) l.valid[k] = l.crc == le16(l.frame + i - 1);
    }
}

int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0; // lower case and anything else count as 0
}

void ascii_error(ModbusLinkState &l) {
    frame_error(l);
    restart(l);
    l.rx_state = kAsciiWaitColon;
}

void ascii_rx(ModbusPcb &p, int c) {
    ModbusLinkState &l = p.link;
    if (c < 0) return; // ASCII frames end with their LF
    if (c == ':') {
        if (l.rx_state != kAsciiWaitColon) frame_error(l);
        restart(l);
        l.lrc = 0;
        l.rx_state = kAsciiHigh;
        return;
    }
    switch (l.rx_state) {
    case kAsciiWaitColon:
        return;
    case kAsciiWaitLf:
        if (c != '\n' || l.lrc != 0 || l.index < 2) {
            ascii_error(l);
            return;
        }
        l.rx_state = kAsciiWaitColon;
        {
            int n = l.index - 1;
            restart(l);
            take(p, n);
        }
        return;
    default:
        break;
    }
    if (c == '\r') {
        if (l.rx_state != kAsciiHigh)
            ascii_error(l);
        else
            l.rx_state = kAsciiWaitLf;
        return;
    }
    if (c == '\n') {
        ascii_error(l);
        return;
    }
    if (l.rx_state == kAsciiHigh) {
        l.nibble = uint8_t(hex_value(c) << 4);
        l.rx_state = kAsciiLow;
        return;
    }
    int limit = tcp_on(l.port) ? kModbusMaxTcp : kModbusMaxRtu;
    if (l.index >= limit - 1) {
        ascii_error(l);
        return;
    }
    uint8_t b = uint8_t(l.nibble | hex_value(c));
    l.frame[l.index++] = b;
    l.lrc = uint8_t(l.lrc + b);
    l.rx_state = kAsciiHigh;
}

void rx(ModbusPcb &p, int c) {
    if (p.link.mode & kModbusAscii)
        ascii_rx(p, c);
    else
        rtu_rx(p, c);
}

const char kHex[] = "0123456789ABCDEF";

// The transmit side of each framing.
void rtu_tx(const VcommDrv &d, int port, const uint8_t *f, int len, uint16_t crc) {
    for (int i = 0; i < len; ++i)
        d.PutTx(port, f[i]);
    d.PutTx(port, uint8_t(crc));
    d.PutTx(port, uint8_t(crc >> 8));
    d.RtuTx(port);
}

void ascii_tx(const VcommDrv &d, int port, const uint8_t *f, int len) {
    uint8_t sum = 0;
    d.PutTx(port, ':');
    for (int i = 0; i < len; ++i) {
        d.PutTx(port, uint8_t(kHex[f[i] >> 4]));
        d.PutTx(port, uint8_t(kHex[f[i] & 15]));
        sum = uint8_t(sum + f[i]);
    }
    uint8_t lrc = uint8_t(-sum);
    d.PutTx(port, uint8_t(kHex[lrc >> 4]));
    d.PutTx(port, uint8_t(kHex[lrc & 15]));
    d.PutTx(port, '\r');
    d.PutTx(port, '\n');
    d.RtuTx(port);
}

} // namespace

void Modbus_Send(ModbusPcb &p, const uint8_t *frame, int len, bool request) {
    int port = p.link.port;
    const VcommDrv &d = Vcomm_Drv[port];
    if (len <= 0 || len > kModbusMaxRtu) return;
    p.tx_state = 1;
    d.FlushTx(port);
    if (tcp_on(port)) {
        ModbusTcpState &t = ModbusTCP_St[port];
        uint8_t buf[kModbusFrame + 6];
        buf[0] = uint8_t(t.transaction >> 8);
        buf[1] = uint8_t(t.transaction);
        buf[2] = uint8_t(t.protocol >> 8);
        buf[3] = uint8_t(t.protocol);
        buf[4] = uint8_t(len >> 8);
        buf[5] = uint8_t(len);
        std::memcpy(buf + 6, frame, size_t(len));
        if (request) t.flags |= 0x02;
        if (IsModemSocketActive(port, 1) == 0)
            ModemDataSend(1, buf, uint32_t(len + 6), 0);
        else
            rtu_tx(d, port, buf, len + 6, crc16(frame, size_t(len)));
    } else if (p.link.mode & kModbusAscii) {
        ascii_tx(d, port, frame, len);
    } else {
        rtu_tx(d, port, frame, len, crc16(frame, size_t(len)));
    }
    p.tx_state = 255;
}

void Modbus_Receive(ModbusPcb &p, int port, bool master) {
    const VcommDrv &d = Vcomm_Drv[port];
    bool modem = IsModemSocketActive(port, 1) == 0;
    // Bounded: a port that never stops delivering cannot hold the scan.
    for (int n = 0; n < 4096 && !(master && p.got); ++n) {
        uint8_t r = modem ? ModemCheckRecv(1) : d.CheckRx(port);
        if (r == 1) {
            rx(p, modem ? ModemDataRecv(1) : d.GetRx(port));
            if (master) {
                p.elapsed = 0;
                p.last_tick = uint16_t(FPGA_GetFrt());
            }
        } else {
            if (r == 255) rx(p, -1);
            break;
        }
    }
}

void Modbus_Feed(int port, const uint8_t *bytes, int n, bool end) {
    if (port < 0 || port >= kModbusPorts) return;
    ModbusPcb &p = pcb[port];
    for (int i = 0; i < n; ++i)
        rx(p, bytes[i]);
    if (end) rx(p, -1);
}
