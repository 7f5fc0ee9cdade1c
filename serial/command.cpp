// The programming protocol's link and packets: who owns the command link
// (arbitration between the host channels), the packet reader and writer with
// their time-outs and the baud fall-back, and the dispatcher that runs a
// command's handler here or relays the exchange to another network node.
//
// Everything is polled once per main-loop pass and never waits: a packet may
// arrive over many passes, a handler or a relay keeps its step in CmdMode.
#include "serial/command.h"

#include "base/trace.h"
#include "platform/can.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/fxp.h"
#include "serial/serial.h"
#include "serial/vcomm.h"

#include <algorithm>
#include <cstring>

uint32_t Vcomm_Lock, Vcomm_Host, Vcomm_Mode;
uint8_t Vcomm_ConnectId;
uint16_t Vcomm_Idle;
CmdBufT CmdBuf;
uint8_t CmdHost, CmdHostToPlc, NegotiationFlag, CmdBaudTimer = 255;
uint16_t CmdDataMax = 64;
uint8_t CmdRun, CmdMode, CmdGlobal, CmdGrfxType;
uint8_t Cmd_Override, is_trprotocol, OLPMode, CmdNetIoConfigUpdated;
uint8_t ladder_olp[kLadderOlpSize];

namespace {

constexpr int kSrCmdTimeOut = 136, kSrByteTimeOut = 137;
constexpr uint16_t kDefaultDataMax = 64;

struct State {
    CmdHooks hooks{};
    uint16_t idle_seen = 0;
    uint8_t length_phase = 0; // 0 first length byte, 1 low byte of a long length, 2 high byte
    bool relaying = false;    // the running command is relayed, not handled here
    bool relay_after = false; // an all-nodes command in pass-through is relayed after its handler
    uint8_t relay_last = 0;   // the node's last data packet was empty
    bool timers = false;      // the link and baud timers are allocated
};
State g;

uint8_t seed() {
    return crc_header[3] & 0x7F;
}
uint8_t own_id() {
    return uint8_t(sr_get(sr::kNetId));
}

// ---- host channels, by host number

bool serial_served() {
    return ProgrammingPort < kVcommPorts && (Vcomm_Drv[ProgrammingPort].mode[5] & 0xF) == 1 &&
           !Cmd_Override;
}

// The modem's data socket on the programming port, while it is connected.
bool modem_connected() {
    return IsModemSocketActive(int(ProgrammingPort), 1) == 0;
}

int host_check(uint32_t host) {
    switch (host) {
    case kHostEthernet:
        return g.hooks.etn_check_rx && g.hooks.etn_check_rx() ? 1 : 0;
    case kHostUsb:
        return !is_trprotocol && SCI4_CheckRx(3) == 1 ? 1 : 0;
    default:
        if (modem_connected()) return ModemCheckRecv(1) == 1 ? 1 : 0;
        if (!serial_served()) return 0;
        return Vcomm_Drv[ProgrammingPort].CheckRx(int(ProgrammingPort)) == 1 ? 1 : 0;
    }
}
uint8_t host_get(uint32_t host) {
    switch (host) {
    case kHostEthernet:
        return g.hooks.etn_get_rx ? g.hooks.etn_get_rx() : 0;
    case kHostUsb:
        return is_trprotocol ? 0 : SCI4_GetRx(3);
    default:
        if (modem_connected()) return ModemDataRecv(1);
        return serial_served() ? Vcomm_Drv[ProgrammingPort].GetRx(int(ProgrammingPort)) : 0;
    }
}
void host_flush(uint32_t host) {
    switch (host) {
    case kHostEthernet:
        if (g.hooks.etn_flush_rx) g.hooks.etn_flush_rx();
        break;
    case kHostUsb:
        if (!is_trprotocol) SCI4_FlushRx(3);
        break;
    default:
        if (modem_connected())
            while (ModemCheckRecv(1) == 1)
                ModemDataRecv(1);
        else if (serial_served())
            Vcomm_Drv[ProgrammingPort].FlushRx(int(ProgrammingPort));
    }
}
void host_put(uint32_t host, uint8_t b) {
    switch (host) {
    case kHostEthernet:
        if (g.hooks.etn_put_tx) g.hooks.etn_put_tx(b);
        break;
    case kHostUsb:
        if (!is_trprotocol) SCI4_PutTx(3, b);
        break;
    default:
        if (modem_connected())
            ModemDataSend(1, &b, 1, 0);
        else if (serial_served())
            Vcomm_Drv[ProgrammingPort].PutTx(int(ProgrammingPort), b);
    }
}
void host_putn(uint32_t host, const uint8_t *p, int n) {
    switch (host) {
    case kHostEthernet:
        if (g.hooks.etn_putn_tx) g.hooks.etn_putn_tx(p, uint32_t(n));
        break;
    case kHostUsb:
        if (!is_trprotocol) SCI4_PutnTx(3, p, n);
        break;
    default:
        if (modem_connected())
            ModemDataSend(1, p, uint32_t(n), 0);
        else if (serial_served())
            Vcomm_Drv[ProgrammingPort].PutnTx(int(ProgrammingPort), p, n);
    }
}

// ---- the network transport

int net_check() {
    return g.hooks.net_check_rx ? g.hooks.net_check_rx() : 0;
}
uint8_t net_get() {
    return g.hooks.net_get_rx ? g.hooks.net_get_rx() : 0;
}
void net_flush() {
    if (g.hooks.net_flush_rx) g.hooks.net_flush_rx();
}
void net_put(uint8_t b) {
    if (g.hooks.net_put_tx) g.hooks.net_put_tx(b);
}
void net_putn(const uint8_t *p, int n) {
    if (g.hooks.net_putn_tx) g.hooks.net_putn_tx(p, uint32_t(n));
}
int net_status() {
    return g.hooks.net_test ? g.hooks.net_test(2) : 4; // no network: this node is not on it
}

// Whether the link's bytes go to or come from the network now.
bool link_is_network() {
    return Vcomm_Mode == kModeRemote || (Vcomm_Mode == kModePassThrough && CmdHostToPlc == 1);
}
bool link_reads_network() {
    return Vcomm_Mode == kModeRemote || (Vcomm_Mode == kModePassThrough && CmdHostToPlc == 0);
}

void end_negotiation() {
    NegotiationFlag = 0;
    CmdDataMax = kDefaultDataMax;
}

void reset_receive() {
    CmdBuf.state = 0;
    CmdBuf.index = 0;
    g.length_phase = 0;
}

void abandon_command() {
    if (CmdRun == 4 && !g.relaying) cmd_download_abort();
    CmdRun = 0xFF;
    CmdMode = 0;
    CmdBuf.await = 0;
    g.relaying = g.relay_after = false;
    reset_receive();
}

} // namespace

// ---- arbitration

void Vcomm_LockSet(int op) {
    uint32_t before = Vcomm_Lock;
    switch (op) {
    case 0:
        Vcomm_Lock = 0;
        break;
    case 1:
        Vcomm_Lock |= kLockBusy;
        break;
    case 2:
        Vcomm_Lock &= ~kLockBusy;
        break;
    case 3:
        Vcomm_Lock |= kLockComm;
        break;
    case 4:
        Vcomm_Lock &= ~kLockComm;
        break;
    default:
        break;
    }
    if (before != 0 && Vcomm_Lock == 0) ++Vcomm_Idle;
}

void Vcomm_ModeSet(int force, uint32_t host, uint32_t mode, uint8_t connect_id) {
    bool free = force ? (Vcomm_Lock & kLockComm) == 0 || Vcomm_Host == host : Vcomm_Lock == 0;
    if (!free) return;
    Vcomm_Lock = (Vcomm_Lock & kLockComm) | kLockBusy;
    Vcomm_Host = host;
    Vcomm_Mode = mode;
    Vcomm_ConnectId = connect_id;
}

void *Vcomm_GetEvtPtr() {
    return nullptr;
}

int Cmd_Request(int node) {
    if (Vcomm_Lock) return 0;
    uint32_t mode = node == own_id() ? kModeLocal : kModePassThrough;
    Vcomm_ModeSet(0, kHostSerial, mode, own_id());
    if (Vcomm_Host != kHostSerial || Vcomm_Mode != mode) return 0;
    CmdRun = 0xFF;
    CmdMode = 0;
    reset_receive();
    return 1;
}

// ---- bytes

int chkchar() {
    return host_check(CmdHost);
}
uint8_t getchar_host() {
    return host_get(CmdHost);
}
void flushchar() {
    host_flush(CmdHost);
}
uint8_t putchar_host(uint8_t b) {
    host_put(CmdHost, b);
    return b;
}
int chkbyte() {
    return link_reads_network() ? net_check() : chkchar();
}
uint8_t getbyte() {
    return link_reads_network() ? net_get() : getchar_host();
}
void flushbyte() {
    if (link_reads_network())
        net_flush();
    else
        flushchar();
}
uint8_t putbyte(uint8_t b) {
    if (link_is_network())
        net_put(b);
    else
        putchar_host(b);
    return b;
}

// ---- timers

uint16_t cmd_time_out() {
    return std::max<uint16_t>(sr_get(kSrCmdTimeOut), 5000);
}
uint16_t byte_time_out() {
    return std::max<uint16_t>(sr_get(kSrByteTimeOut), 500);
}
void link_timer_start(uint16_t ms) {
    Timer_Start(CmdBuf.timer, ms);
}
void link_timer_stop() {
    Timer_Stop(CmdBuf.timer);
}
void baud_timer_keep() {
    int st = Timer_Status(CmdBaudTimer);
    if (st == 3 || st == 4) Timer_Start(CmdBaudTimer, 0);
}

// ---- packets

int get_packet() {
    while (chkbyte()) {
        uint8_t b = getbyte();
        link_timer_start(CmdBuf.time_out);
        switch (CmdBuf.state) {
        case 0:
            CmdBuf.sum = uint8_t(seed() + b);
            CmdBuf.opcode = b;
            if (CmdBuf.await && b != kDataOpcode) {
                link_timer_stop();
                end_negotiation();
                CmdBuf.length = 0;
                return 1;
            }
            CmdBuf.state = 1;
            g.length_phase = 0;
            Vcomm_LockSet(1);
            break;
        case 1:
            CmdBuf.sum = uint8_t(CmdBuf.sum + b);
            if (g.length_phase == 0) {
                if (b == 0xFF) {
                    g.length_phase = 1;
                    break;
                }
                CmdBuf.length = b;
            } else if (g.length_phase == 1) {
                CmdBuf.length = b;
                g.length_phase = 2;
                break;
            } else {
                CmdBuf.length = uint16_t(CmdBuf.length | (b << 8));
            }
            g.length_phase = 0;
            CmdBuf.index = 0;
            if (CmdBuf.length == 0) {
                end_negotiation();
                CmdBuf.state = 3;
            } else {
                CmdBuf.state = 2;
            }
            break;
        case 2:
            CmdBuf.sum = uint8_t(CmdBuf.sum + b);
            // Data past what is kept is summed, never stored.
            if (CmdBuf.index < kCmdDataKept) CmdBuf.data[CmdBuf.index] = b;
            if (++CmdBuf.index == CmdBuf.length) CmdBuf.state = 3;
            break;
        default:
            CmdBuf.sum = uint8_t(CmdBuf.sum + b);
            CmdBuf.state = 0;
            if (CmdBuf.sum != 0) {
                putbyte(kBadSum);
                break;
            }
            if (Vcomm_Mode != kModeRemote) baud_timer_keep();
            link_timer_stop();
            return 1;
        }
    }
    return 0;
}

void put_packet(uint8_t opcode, uint16_t length, const uint8_t *data) {
    if (length > kCmdDataKept) length = kCmdDataKept;
    uint8_t sum = uint8_t(seed() + opcode);
    if (!NegotiationFlag) {
        if (length > 254) length = 254;
        uint8_t buf[254 + 3];
        buf[0] = opcode;
        buf[1] = uint8_t(length);
        sum = uint8_t(sum + length);
        for (int i = 0; i < length; ++i) {
            buf[2 + i] = data[i];
            sum = uint8_t(sum + data[i]);
        }
        buf[2 + length] = uint8_t(-sum);
        if (link_is_network())
            net_putn(buf, length + 3);
        else
            host_putn(CmdHost, buf, length + 3);
        return;
    }
    uint8_t lo = uint8_t(length), hi = uint8_t(length >> 8);
    sum = uint8_t(sum + 0xFF + lo + hi);
    for (int i = 0; i < length; ++i)
        sum = uint8_t(sum + data[i]);
    auto out = [](uint8_t b) {
        if (link_is_network())
            net_put(b);
        else
            putchar_host(b);
    };
    out(opcode);
    out(0xFF);
    out(lo);
    out(hi);
    for (int i = 0; i < length; ++i)
        out(data[i]);
    out(uint8_t(-sum));
    if (opcode == kDataOpcode && length == 0) end_negotiation();
}

// ---- the ports

void Cmd_PortInit(int kind) {
    host::trace("Cmd_PortInit");
    if (kind == 0) {
        if (g.hooks.warm_reset) g.hooks.warm_reset();
        return;
    }
    if (kind == 1 && ProgrammingPort < kVcommPorts)
        Vcomm_Drv[ProgrammingPort].Open(int(ProgrammingPort), vibus_mode);
}

void Cmd_Init() {
    host::trace("Cmd_Init");
    if (!g.timers) {
        CmdBaudTimer = Timer_Allocate(1);
        CmdBuf.timer = Timer_Allocate(1);
        g.timers = true;
    }
    CmdBuf.time_out = byte_time_out();
    CmdRun = 0xFF;
    CmdMode = 0;
    reset_receive();
    g.idle_seen = Vcomm_Idle;
    CmdHost = 0;
    Fxp_Initialise();
    Cmd_PortInit(1);
}

// ---- the dispatcher

uint8_t cmd_arg(int k, uint8_t def) {
    return k < CmdBuf.length && k < kCmdDataKept ? CmdBuf.data[k] : def;
}
uint16_t cmd_arg16(int k, uint16_t def) {
    return k + 1 < CmdBuf.length && k + 1 < kCmdDataKept
               ? uint16_t(CmdBuf.data[k] | (CmdBuf.data[k + 1] << 8))
               : def;
}
void cmd_reply(uint8_t b) {
    if (!CmdGlobal) putbyte(b);
}
void cmd_finish() {
    CmdRun = 0xFF;
}

namespace {

// Claims the link for the host that sent the command; false drops it.
bool claim(uint32_t mode, uint8_t connect_id) {
    Vcomm_ModeSet(1, CmdHost, mode, connect_id);
    return Vcomm_Host == CmdHost && Vcomm_Mode == mode && Vcomm_Lock != 0;
}

// Sends the command just read to the connected node.
void relay_command() {
    net_flush();
    CmdHostToPlc = 1;
    put_packet(CmdBuf.opcode, std::min<uint16_t>(CmdBuf.length, kCmdDataKept), CmdBuf.data);
}

void forward_packet() {
    CmdHostToPlc = 0;
    put_packet(CmdBuf.opcode, std::min<uint16_t>(CmdBuf.length, kCmdDataKept), CmdBuf.data);
}

void relay_step() {
    if (sr_get(sr::kStatus) & 0x10) return; // the network holds relaying back
    uint16_t cls = CmdInfo[CmdRun].relay_class;
    auto node_byte = [](uint8_t *b) {
        if (!net_check()) return false;
        *b = net_get();
        return true;
    };
    uint8_t b = 0;
    switch (cls) {
    case 0:
        if (CmdMode == 0) {
            relay_command();
            if (CmdGlobal) {
                cmd_finish();
                return;
            }
            CmdMode = 1;
            link_timer_start(CmdBuf.time_out);
        } else if (node_byte(&b)) {
            host_put(CmdHost, b);
            if (b == kAck && CmdRun == 25) do_comm_lock();
            link_timer_stop();
            cmd_finish();
        }
        return;
    case 1:
        if (CmdMode == 0) {
            relay_command();
            CmdBuf.await = 1;
            CmdHostToPlc = 0;
            CmdMode = 1;
            reset_receive();
            link_timer_start(CmdBuf.time_out);
        } else {
            CmdHostToPlc = 0;
            if (!get_packet()) return;
            if (CmdBuf.opcode == kDataOpcode)
                forward_packet();
            else
                host_put(CmdHost, CmdBuf.opcode);
            CmdBuf.await = 0;
            cmd_finish();
        }
        return;
    case 2:
        switch (CmdMode) {
        case 0:
            relay_command();
            link_timer_start(CmdRun == 4 ? std::max<uint16_t>(sr_get(kSrCmdTimeOut), 9000)
                                         : CmdBuf.time_out);
            CmdMode = 1;
            return;
        case 1:
        case 3:
            if (!node_byte(&b)) return;
            host_put(CmdHost, b);
            CmdBuf.time_out = byte_time_out();
            if (b == kLinkHeld || b == kRefused || (CmdMode == 3 && g.relay_last)) {
                link_timer_stop();
                cmd_finish();
                return;
            }
            CmdMode = 2;
            reset_receive();
            link_timer_start(CmdBuf.time_out);
            return;
        default:
            CmdHostToPlc = 1;
            if (!get_packet()) return;
            if (CmdBuf.opcode != kDataOpcode) return;
            relay_command();
            g.relay_last = CmdBuf.length == 0;
            CmdMode = 3;
            link_timer_start(g.relay_last && CmdRun == 4
                                 ? std::max<uint16_t>(sr_get(kSrCmdTimeOut), 9000)
                                 : CmdBuf.time_out);
            return;
        }
    default:
        switch (CmdMode) {
        case 0:
            relay_command();
            CmdMode = 1;
            link_timer_start(CmdBuf.time_out);
            return;
        case 1:
            if (!node_byte(&b)) return;
            host_put(CmdHost, b);
            CmdHostToPlc = 0;
            if (b == kLinkHeld || b == kRefused) {
                link_timer_stop();
                cmd_finish();
                return;
            }
            CmdMode = 2;
            reset_receive();
            return;
        case 2:
            CmdHostToPlc = 0;
            if (!get_packet()) return;
            if (CmdBuf.opcode != kDataOpcode) return;
            forward_packet();
            g.relay_last = CmdBuf.length == 0;
            CmdMode = 3;
            link_timer_start(CmdBuf.time_out);
            return;
        default:
            if (!chkchar()) return;
            b = getchar_host();
            net_put(b);
            if (b == kRefused || g.relay_last) {
                link_timer_stop();
                cmd_finish();
                return;
            }
            CmdMode = 2;
            link_timer_start(CmdBuf.time_out);
            return;
        }
    }
}

void run_step() {
    if (g.relaying) {
        relay_step();
        return;
    }
    CmdInfo[CmdRun].handler();
    if (CmdRun == 0xFF && g.relay_after) {
        // An all-nodes command in pass-through runs here and goes on to the others.
        g.relay_after = false;
        g.relaying = true;
        CmdRun = CmdBuf.opcode > 38 ? 0 : CmdBuf.opcode;
        CmdMode = 0;
        relay_step();
    }
}

// Arbitration steps at the start of each pass.
void arbitrate() {
    if (Vcomm_Idle != g.idle_seen) {
        g.idle_seen = Vcomm_Idle;
        if (g.hooks.etn_put_tx) g.hooks.etn_put_tx(kLinkReleased);
    }
    if (Timer_Status(CmdBaudTimer) == 4 && sr_get(sr::kPortAction) == 1) Cmd_PortInit(1);
    if (g.hooks.net_chk_busy && g.hooks.net_chk_busy()) net_put(kLinkHeld);

    int host = -1;
    if (host_check(kHostEthernet))
        host = kHostEthernet;
    else if (host_check(kHostUsb))
        host = kHostUsb;
    else if (host_check(kHostSerial))
        host = kHostSerial;
    if (host >= 0) {
        uint32_t h = uint32_t(host);
        bool owner = Vcomm_Lock != 0 && Vcomm_Host == h && Vcomm_Mode != kModeRemote;
        if (!owner) {
            Vcomm_ModeSet(0, h, kModeLocal, own_id());
            if (Vcomm_Host == h && Vcomm_Mode == kModeLocal && Vcomm_Lock != 0) {
                CmdHost = uint8_t(h);
                reset_receive();
                CmdRun = 0xFF;
                CmdMode = 0;
                g.relaying = g.relay_after = false;
            } else {
                host_flush(h);
                host_put(h, kLinkHeld);
            }
        }
    }

    if ((_Can_Status(0) & 0x80) && Vcomm_Mode != kModeLocal) {
        Vcomm_LockSet(0);
        abandon_command();
    }

    int st = Timer_Status(CmdBuf.timer);
    bool idle = CmdRun == 0xFF && CmdBuf.state == 0;
    // Only the tool's comm lock keeps an idle link; a host that went quiet
    // mid-packet loses it when the timer runs out.
    if (st == 3 && (Vcomm_Lock & kLockComm) && idle) link_timer_start(CmdBuf.time_out);
    if (st == 4) {
        abandon_command();
        if (Vcomm_Lock & kLockComm)
            Vcomm_LockSet(2);
        else
            Vcomm_LockSet(0);
    }
}

} // namespace

void Cmd_Check() {
    host::trace("Cmd_Check");
    arbitrate();
    bool worked = CmdRun != 0xFF;
    if (CmdRun == 0xFF) {
        CmdBuf.time_out = byte_time_out();
        CmdHostToPlc = 1;
        CmdBuf.await = 0;
        CmdGlobal = 0;
        g.relaying = g.relay_after = false;
        if (!get_packet()) return;
        worked = true;
        if (CmdBuf.length > kCmdDataKept) {
            // Its data was not kept whole: no handler may read it.
            putbyte(kRefused);
            CmdRun = 0xFF;
            Vcomm_LockSet(2);
            CmdBuf.time_out = cmd_time_out();
            link_timer_start(CmdBuf.time_out);
            return;
        }
        uint8_t op = CmdBuf.opcode > 38 ? 0 : CmdBuf.opcode;
        CmdRun = op;
        CmdMode = 0;
        // A command without data names no other node: it is for the node that hears it.
        uint8_t target = CmdBuf.length ? CmdBuf.data[0] : own_id();
        const CmdInfoRow &row = CmdInfo[op];
        bool ok = true;
        if (row.local) {
            ok = claim(kModeLocal, own_id());
        } else if (Vcomm_Mode != kModeRemote) {
            bool reachable = (net_status() & 4) == 0;
            if (target == own_id() || (target == 255 && !reachable))
                ok = claim(kModeLocal, own_id());
            else if (reachable)
                ok = claim(kModePassThrough, target);
            else
                ok = false;
        }
        if (!ok) {
            CmdRun = 0xFF;
        } else if (target == 255 && CmdBuf.length) {
            if (op == 9) {
                // answered at once, by every node
            } else if (!row.all) {
                CmdRun = 0xFF;
            } else {
                CmdGlobal = 1;
            }
        }
        if (CmdRun != 0xFF) {
            bool pass = Vcomm_Mode == kModePassThrough;
            g.relaying = pass && !CmdGlobal;
            g.relay_after = pass && CmdGlobal;
            run_step();
        }
    } else {
        run_step();
    }
    if (worked && CmdRun == 0xFF) {
        Vcomm_LockSet(2);
        CmdBuf.time_out = cmd_time_out();
        link_timer_start(CmdBuf.time_out);
    }
}

void Cmd_SetHooks(const CmdHooks &hooks) {
    g.hooks = hooks;
}
const CmdHooks &Cmd_Hooks() {
    return g.hooks;
}

void Cmd_Reset() {
    Vcomm_Lock = Vcomm_Host = Vcomm_Mode = 0;
    Vcomm_ConnectId = 0;
    Vcomm_Idle = 0;
    CmdBuf = CmdBufT{};
    CmdBuf.timer = 255;
    CmdHost = CmdHostToPlc = NegotiationFlag = 0;
    CmdBaudTimer = 255;
    CmdDataMax = kDefaultDataMax;
    CmdRun = CmdMode = CmdGlobal = CmdGrfxType = 0;
    Cmd_Override = is_trprotocol = OLPMode = CmdNetIoConfigUpdated = 0;
    std::memset(ladder_olp, 0, sizeof ladder_olp);
    CmdHooks keep = g.hooks;
    g = State{};
    g.hooks = keep;
    CmdMem_Reset();
    CmdRegs_Reset();
}
