// The Modbus TCP and UDP server.
#include "net/modbus_tcp.h"

#include "base/le.h"
#include "base/trace.h"
#include "net/dpr.h"
#include "net/protocols.h"
#include "net/tx.h"
#include "platform/pass_wait.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <algorithm>
#include <cstring>

using namespace dprcfg;

ModbusConnEthBlock ModbusConnEth[4];
uint8_t ModbusRxBuff[kModbusRxBytes];
uint8_t ModbusTxMsg[kModbusTxBytes];
NxPacketPool *ModbusPacketPoolPtr;

namespace {

constexpr uint32_t kTcpPiece = 1024, kUdpPiece = 512; // the socket's window; a datagram's share
constexpr uint32_t kMbapMaxLength = 254;              // unit identifier and a 253-byte PDU
// What Modbus masters expect of a server: more is refused with exception 3.
constexpr uint32_t kMaxReadBits = 2000, kMaxReadRegs = 125;
constexpr uint32_t kMaxWriteBits = 1968, kMaxWriteRegs = 123;
constexpr uint8_t kIllegalFunction = 1, kIllegalAddress = 2, kIllegalValue = 3;

// The IEC-mode settings: inhibit location, u32, mode and port, then the
// table bases (holding, input, coils, discrete inputs) and their sizes.
constexpr uint32_t kIecMode = kIecModbus + 8, kIecPort = kIecModbus + 10;
constexpr uint32_t kIecBase = kIecModbus + 12, kIecSize = kIecModbus + 28;
constexpr int kTableHolding = 0, kTableInput = 1, kTableCoils = 2, kTableDiscrete = 3;

uint16_t be16(const uint8_t *p) {
    return uint16_t(p[0] << 8 | p[1]);
}
void put_be16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

struct Settings {
    uint32_t inhibit; // register reference of the write-inhibit bit
    bool udp;
    uint16_t port;
};

Settings settings(int iface) {
    const uint8_t *c = Dpr_Configuration[iface];
    Settings s{le32(c + kModbus), le16(c + kModbusMode) != 0, le16(c + kModbusPort)};
    if (Dpr_IecMode()) {
        uint32_t loc = le32(c + kIecModbus);
        if ((loc >> 30) == 3) s.inhibit = loc;
        s.udp = le16(c + kIecMode) != 0;
        s.port = le16(c + kIecPort);
    }
    return s;
}

bool running() {
    // The exchange block's run word follows the mode at the end of the
    // network pass; the mode itself stops the server on the pass it changed,
    // so a read taken just before leaving Run is never answered.
    return le16(DprMap + dprmap::kRunWord) != 0 && sr_get(sr::kRunMode) == sr::kModeRun;
}

bool valid_iface(int iface) {
    return iface >= 0 && iface < kDprInterfaces;
}

int table_of(uint8_t fc) {
    switch (fc) {
    case 1:
    case 5:
    case 15:
        return kTableCoils;
    case 2:
        return kTableDiscrete;
    case 3:
    case 6:
    case 16:
        return kTableHolding;
    case 4:
        return kTableInput;
    default:
        return -1;
    }
}

uint32_t iec_size(int iface, int table) {
    return le32(Dpr_Configuration[iface] + kIecSize + 4 * uint32_t(table));
}

uint32_t exception(const uint8_t *f, uint8_t code, uint8_t *tx) {
    std::memset(tx, 0, 9);
    tx[0] = f[0];
    tx[1] = f[1];
    put_be16(tx + 4, 3);
    tx[6] = f[6];
    tx[7] = uint8_t(f[7] | 0x80);
    tx[8] = code;
    return 9;
}

bool has_socket(const ModbusRecord &r) {
    return r.socket.fd > 0; // a record that was only cleared holds none
}

void forget(ModbusRecord &r) {
    r.pending = 0;
    r.rx.have = 0;
}

void drain(ModbusRecord &r) {
    NxPacket *p = nullptr;
    while (_nx_tcp_socket_receive(&r.socket, &p, 0) == kNxSuccess && p)
        _nx_packet_release(p);
    r.rx.have = 0;
}

void close_record(ModbusRecord &r) {
    forget(r);
    if (!has_socket(r)) return;
    _nx_tcp_socket_disconnect(&r.socket, 0);
    _nx_tcp_server_socket_unaccept(&r.socket);
}

void close_udp(ModbusConnEthBlock &b) {
    forget(b.rec[0]);
    if (!b.udp_created) return;
    _nx_udp_socket_unbind(&b.udp);
    _nx_udp_socket_delete(&b.udp);
    b.udp_created = 0;
}

ModbusRecord *record_of(NxTcpSocket *s) {
    for (ModbusConnEthBlock &b : ModbusConnEth)
        for (ModbusRecord &r : b.rec)
            if (&r.socket == s) return &r;
    return nullptr;
}

void ModbusDisconnect(NxTcpSocket *s) {
    _nx_tcp_socket_disconnect(s, 0);
    _nx_tcp_server_socket_unaccept(s);
    if (ModbusRecord *r = record_of(s)) forget(*r);
}

void ModbusConnect(NxTcpSocket *s, uint32_t, uint32_t) {
    _nx_tcp_server_socket_accept(s, 0);
    if (s->state != kNxTcpEstablished) {
        _nx_tcp_server_socket_unaccept(s);
        return;
    }
    if (ModbusRecord *r = record_of(s)) {
        forget(*r);
        r->last_activity = _tx_time_get();
    }
}

// Arms one closed record; 0 when one was armed.
int ModbusSocketListen(int iface) {
    ModbusConnEthBlock &b = ModbusConnEth[iface];
    if (!b.ip) return 1;
    uint16_t port = settings(iface).port;
    for (ModbusRecord &r : b.rec) {
        if (r.socket.state != kNxTcpCreated || !r.socket.name) continue;
        if (b.started) {
            if (_nx_tcp_server_socket_relisten(b.ip, b.port, &r.socket) == kNxSuccess) return 0;
            continue;
        }
        if (_nx_tcp_server_socket_listen(b.ip, port, &r.socket, 5, ModbusConnect) == kNxSuccess) {
            b.started = 1;
            b.port = port;
            return 0;
        }
        return 1; // the port would refuse every record alike
    }
    return 1;
}

// Sends the first `len` bytes of ModbusTxMsg to a record's peer; 0 when all went.
int ModbusSendResponse(ModbusConnEthBlock &b, ModbusRecord &r, uint32_t len, bool udp) {
    uint32_t piece = udp ? kUdpPiece : kTcpPiece;
    for (uint32_t at = 0; at < len; at += piece) {
        uint32_t k = std::min(piece, len - at);
        NxPacket *p = nullptr;
        if (_nx_packet_allocate(ModbusPacketPoolPtr, &p, 0, 0) != kNxSuccess || !p) return 1;
        if (_nx_packet_data_append(p, ModbusTxMsg + at, k, ModbusPacketPoolPtr, 0) != kNxSuccess) {
            _nx_packet_release(p);
            return 1;
        }
        uint32_t st = udp ? _nx_udp_socket_send(&b.udp, p, b.udp_addr, b.udp_port)
                          : _nx_tcp_socket_send(&r.socket, p, 0);
        if (st != kNxSuccess) return 1;
    }
    return 0;
}

// A request taken from the record's frame buffer or datagram: served, and
// its answer (if one is due now) sent.
void serve(int iface, ModbusConnEthBlock &b, ModbusRecord &r, const uint8_t *frame, uint32_t n,
           bool udp) {
    uint32_t len = std::min(n, kModbusRxBytes);
    std::memmove(ModbusRxBuff, frame, len);
    uint32_t out = Modbus_Serve(iface, &r, ModbusRxBuff, len, ModbusTxMsg);
    if (out) ModbusSendResponse(b, r, out, udp); // echoes and exceptions are not sent again
    if (r.pending) PassWait_WorkPending();       // its answer goes out on the next pass
}

void serve_tcp(int iface, ModbusConnEthBlock &b, ModbusRecord &r, uint32_t now) {
    uint32_t len = 0;
    // A read still waiting for its answer takes no new request.
    int st = r.pending ? 0 : Nx_FrameReceive(&r.socket, &r.rx, Modbus_FrameLength, &len);
    if (st < 0) { // a length no Modbus frame has
        close_record(r);
        return;
    }
    if (st == 0) {
        // Nothing whole: a partial request does not count as activity.
        if (now - r.last_activity > kModbusIdleMs) close_record(r);
        return;
    }
    r.last_activity = now;
    uint8_t frame[6 + kMbapMaxLength];
    std::memcpy(frame, r.rx.data, len);
    Nx_FrameConsume(&r.rx, len, Modbus_FrameLength);
    serve(iface, b, r, frame, len, false);
}

void serve_udp(int iface, ModbusConnEthBlock &b, uint32_t now) {
    ModbusRecord &r = b.rec[0];
    if (r.pending || !b.udp_created) return;
    NxPacket *p = nullptr;
    uint32_t addr = 0, port = 0;
    if (_nx_udp_socket_receive_port_detail(&b.udp, &p, &addr, &port) != kNxSuccess || !p) return;
    r.last_activity = now;
    uint32_t n = std::min(p->length, kModbusRxBytes);
    std::memcpy(ModbusRxBuff, Nx_PacketData(p), n);
    _nx_packet_release(p);
    b.udp_addr = addr;
    b.udp_port = uint16_t(port);
    serve(iface, b, r, ModbusRxBuff, n, true);
}

} // namespace

uint32_t Modbus_FrameLength(const uint8_t *data, uint32_t have) {
    if (have < 6) return 0;
    uint32_t len = be16(data + 4);
    if (len > kMbapMaxLength) return kNxFrameBad;
    return 6 + len;
}

uint32_t ModbusMapToken(uint8_t fc, uint32_t a, uint32_t q) {
    uint32_t r = 0;
    switch (fc) {
    case 1:
    case 5:
    case 15:
        if (a < 3000) return (r = 10240 + a) < T_token ? r : 0;
        if (a < 6000) return M_token + (a - 3000);
        if (a < 9000) return (r = T_token + (a - 6000)) < M_token ? r : 0;
        if (a < 10000) return (r = a - 7720) < 1536 ? r : 0;
        return 0;
    case 2:
        if (a < 3000) return (r = 8192 + a) < 10240 ? r : 0;
        if (a < 3999) return (r = a - 1976) < 1280 ? r : 0;
        if (a < 5000) return (r = a - 2464) < 1792 ? r : 0;
        if (a < 6000) return (r = a - 3208) < 2048 ? r : 0;
        return 0;
    case 3:
    case 6:
    case 16:
        if (a < 512) return 24576 + 16 * a;
        if (a < 3000) return uint64_t(a) + q <= 3000 ? 24576 + 16 * a : 0;
        if (a < 6000) return 16 * a - 15232;
        if (a < 10000) return (r = 16 * a - 93440) < 3072 ? r : 0;
        if (a < 20240) return 16 * a - 127232;
        return 0;
    case 4:
        if (a < 3000) return (r = 16384 + 16 * a) < 24576 ? r : 0;
        if (a < 4000) return (r = 16 * a - 45952) < 2560 ? r : 0;
        if (a < 5000) return (r = 16 * a - 60928) < 6144 ? r : 0;
        return 0;
    default:
        return 0;
    }
}

uint32_t Tr_ModbusMap(uint8_t fc, int iface, uint32_t address, uint32_t) {
    int t = table_of(fc);
    if (t < 0 || !valid_iface(iface)) return 0;
    uint8_t *at = Dpr_Configuration[iface] + kIecBase + 4 * uint32_t(t);
    uint32_t base = le32(at);
    if (t == kTableHolding || t == kTableInput) {
        // Register tables are IEC variable locations of word-sized segments.
        base |= 0xC0000000u;
        put_le32(at, base);
        uint32_t kind = (base >> 26) & 7;
        if (kind != 1 && kind != 2 && !(base & (1u << 29))) return 0;
    }
    return base + address;
}

uint32_t Modbus_Serve(int iface, ModbusRecord *r, const uint8_t *f, uint32_t n, uint8_t *tx) {
    if (n < 6 || !valid_iface(iface)) return 0;
    uint32_t len = be16(f + 4);
    if (len > n - 6) return 0;
    if (len < 2) return 0; // no function code: nothing to answer
    n = 6 + len;           // bytes beyond the length are not the request's
    const uint8_t fc = f[7];
    const bool read = fc >= 1 && fc <= 4;
    const bool write = fc == 5 || fc == 6 || fc == 15 || fc == 16;
    if (!read && !write && fc != 7) return exception(f, kIllegalFunction, tx);
    const Settings s = settings(iface);
    if (write && s.inhibit >= 1024) {
        uint8_t inhibited = 0;
        PlcReg_Get(&inhibited, s.inhibit, 1);
        if (inhibited) return exception(f, kIllegalFunction, tx);
    }
    if (fc == 7) {
        std::memset(tx, 0, 9);
        tx[0] = f[0];
        tx[1] = f[1];
        put_be16(tx + 4, 3);
        tx[6] = f[6];
        tx[7] = 7;
        return 9;
    }
    if (n < 12) return exception(f, kIllegalValue, tx); // no address and quantity
    const uint16_t addr = be16(f + 8);
    uint16_t q = be16(f + 10);
    const bool iec = Dpr_IecMode();
    const int table = table_of(fc);
    // The register reference of the request's addresses (0 when none):
    // through the IEC application's tables, each bounded by its size, or the
    // fixed map.
    auto map = [&]() -> uint32_t {
        if (!iec) return ModbusMapToken(fc, addr, q);
        const uint32_t size = iec_size(iface, table);
        if (addr >= size || q > size - addr) return 0;
        return Tr_ModbusMap(fc, iface, addr, q);
    };

    if (read) {
        const uint32_t max = fc <= 2 ? kMaxReadBits : kMaxReadRegs;
        if (q == 0 || q > max) return exception(f, kIllegalValue, tx);
        const uint32_t ref = map();
        uint32_t bits = fc <= 2 ? q : 16u * q;
        if (ref == 0 || EtnValidateReq(ref, bits)) return exception(f, kIllegalAddress, tx);
        r->ref = ref;
        r->bits = bits;
        r->mask = uint8_t(Dpr_Add_Req());
        r->fc = fc;
        r->unit = f[6];
        r->tid = be16(f);
        r->pending = 1;
        return 0;
    }

    // Writes: the data in the image's byte order, taken only from the bytes
    // the request carries.
    uint8_t data[2 * kMaxWriteRegs];
    uint32_t bits = 0;
    switch (fc) {
    case 5:
        q = 1;
        bits = 1;
        data[0] = f[10] & 1;
        break;
    case 6:
        q = 1;
        bits = 16;
        put_le16(data, be16(f + 10));
        break;
    case 15:
    case 16: {
        const uint32_t max = fc == 15 ? kMaxWriteBits : kMaxWriteRegs;
        const uint32_t want = fc == 15 ? (q + 7u) / 8 : 2u * q;
        if (n < 13 || q == 0 || q > max || f[12] != want || n - 13 < want)
            return exception(f, kIllegalValue, tx);
        if (fc == 15) {
            bits = q;
            std::memcpy(data, f + 13, want);
        } else {
            bits = 16u * q;
            for (uint32_t i = 0; i < q; ++i)
                put_le16(data + 2 * i, be16(f + 13 + 2 * i));
        }
        break;
    }
    default:
        return 0;
    }
    const uint32_t ref = map();
    if (ref == 0 || EtnValidateReq(ref, bits)) return exception(f, kIllegalAddress, tx);
    // Packed bits, first bit in bit 0, as the wire carries them.
    Dpr_Data_Block(ref, bits, data, 1, 0);
    Dpr_Add_Req();
    std::memset(tx, 0, 12);
    tx[0] = f[0];
    tx[1] = f[1];
    put_be16(tx + 4, 6);
    tx[6] = f[6];
    tx[7] = fc;
    put_be16(tx + 8, addr);
    if (fc == 5) {
        tx[10] = f[10];
    } else if (fc == 6) {
        tx[10] = f[10];
        tx[11] = f[11];
    } else {
        put_be16(tx + 10, q);
    }
    return 12;
}

uint32_t Modbus_ReadAnswer(const ModbusRecord *r, uint8_t *tx) {
    const bool bit_read = r->fc <= 2;
    uint32_t count = bit_read ? (r->bits + 7) / 8 : r->bits / 8;
    count = std::min<uint32_t>(count, kModbusTxBytes - 9);
    std::memset(tx, 0, 9 + count);
    put_be16(tx, r->tid);
    put_be16(tx + 4, uint16_t(count + 3));
    tx[6] = r->unit;
    tx[7] = r->fc;
    tx[8] = uint8_t(count);
    Dpr_Data_Block(r->ref, r->bits, tx + 9, 0, 0);
    if (!bit_read)
        for (uint32_t i = 0; i + 1 < count; i += 2)
            std::swap(tx[9 + i], tx[10 + i]);
    return 9 + count;
}

uint16_t Modbus_Init(NxIpInstance *ip, NxPacketPool *pool) {
    host::trace("Modbus_Init");
    int iface = ip && ip->index < uint32_t(kDprInterfaces) ? int(ip->index) : 0;
    ModbusConnEthBlock &b = ModbusConnEth[iface];
    // A second start of the same interface lets go of what the first one held.
    for (ModbusRecord &r : b.rec)
        if (has_socket(r)) _nx_tcp_socket_delete(&r.socket);
    close_udp(b);
    ModbusPacketPoolPtr = pool;
    b.ip = ip;
    b.started = 0;
    for (ModbusRecord &r : b.rec) {
        std::memset(&r, 0, sizeof r);
        _nx_tcp_socket_create(ip, &r.socket, "modbus server", 0, 0, 128, kTcpPiece, nullptr,
                              ModbusDisconnect);
    }
    if (settings(iface).udp) return 0;
    // An interface whose configuration does not enable the server opens no port.
    if (!(Dpr_Configuration[iface][kFlagsA] & kAModbus)) return 0;
    return ModbusSocketListen(iface) ? 1 : 0;
}

void Modbus_Scan(int iface) {
    if (!valid_iface(iface)) return;
    ModbusConnEthBlock &b = ModbusConnEth[iface];
    const Settings s = settings(iface);
    if (!running()) {
        if (b.started || b.rec[0].pending) Modbus_Stop(iface);
        return;
    }
    if (!b.ip) return;
    if (s.udp && !b.started) {
        close_udp(b);
        std::memset(&b.udp, 0, sizeof b.udp);
        if (_nx_udp_socket_create(b.ip, &b.udp, "modbus udp server", 0, 0, 128, 5) == kNxSuccess) {
            b.udp_created = 1;
            if (_nx_udp_socket_bind(&b.udp, s.port, 0) == kNxSuccess) {
                b.port = s.port;
                b.started = 1;
            } else {
                close_udp(b); // tried again on the next pass
            }
        }
    }
    if (!s.udp) {
        if (Dpr_Configuration[iface][kFlagsA] & kAModbus) {
            ModbusSocketListen(iface);
        } else {
            // Connections stay open but get no answers.
            for (ModbusRecord &r : b.rec)
                if (r.socket.state == kNxTcpEstablished) drain(r);
            return;
        }
    }
    const uint32_t now = _tx_time_get();
    const int rd = Dpr_Chk_Rd_Pending();
    const int n = s.udp ? 1 : kModbusRecords;
    for (int i = 0; i < n; ++i) {
        ModbusRecord &r = b.rec[i];
        if (!s.udp && r.socket.state != kNxTcpEstablished) continue;
        if (!r.pending || (r.mask & rd)) continue;
        uint32_t len = Modbus_ReadAnswer(&r, ModbusTxMsg);
        // A failed answer is sent whole again on a later pass (the socket's
        // becoming writable wakes the loop; no pass is forced meanwhile).
        if (ModbusSendResponse(b, r, len, s.udp) == 0) r.pending = 0;
    }
    if (s.udp) {
        serve_udp(iface, b, now);
        return;
    }
    for (ModbusRecord &r : b.rec)
        if (r.socket.state == kNxTcpEstablished) serve_tcp(iface, b, r, now);
}

void Modbus_Stop(int iface) {
    if (!valid_iface(iface)) return;
    ModbusConnEthBlock &b = ModbusConnEth[iface];
    for (ModbusRecord &r : b.rec)
        close_record(r);
    close_udp(b);
    if (b.ip && b.started) _nx_tcp_server_socket_unlisten(b.ip, b.port);
    b.started = 0;
}

void Modbus_DeInit(int iface) {
    if (!valid_iface(iface) || iface == 0) return;
    for (ModbusRecord &r : ModbusConnEth[iface].rec)
        if (has_socket(r)) ModbusDisconnect(&r.socket);
}

uint32_t Modbus_Conn_Cnt(int iface) {
    if (!valid_iface(iface)) return 0;
    if (settings(iface).udp) return 1;
    uint32_t n = 0;
    for (const ModbusRecord &r : ModbusConnEth[iface].rec)
        n += r.socket.state == kNxTcpEstablished;
    return n;
}

void Modbus_Reset() {
    std::memset(ModbusConnEth, 0, sizeof ModbusConnEth);
    std::memset(ModbusRxBuff, 0, sizeof ModbusRxBuff);
    std::memset(ModbusTxMsg, 0, sizeof ModbusTxMsg);
    ModbusPacketPoolPtr = nullptr;
}
