// The programming protocol's command table and its single-pass commands:
// registers, run mode, version, network id and global words, the comm lock
// with the link's time-outs, the baud rate and packet size, the I/O
// calibration exchange, the warm reset and the hand-over to the IEC runtime's
// own protocol; and the data-packet stream toward the host that uploads and
// the global words share.
#include "base/le.h"
#include "base/trace.h"
#include "platform/io.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/vcomm.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSrCmdTimeOut = 136, kSrByteTimeOut = 137;
constexpr uint32_t kIecBackupRef = 0xC0000000u;
constexpr int kDigitalWords = 4, kAnalogWords = 32;
constexpr int kDigitalAt = 12, kAnalogAt = 24; // byte offsets in a node's record
constexpr int kNodes = 254;

struct Stream {
    const uint8_t *src = nullptr;
    uint32_t count = 0, pos = 0;
    uint16_t sent = 0;
    bool sent_empty = false;
    bool waiting = false; // a packet went out; its answer is awaited
};
Stream s_stream;
uint32_t s_wait_start; // reset_plc, set_baud_rate: the tick of their answer
uint8_t s_global[2 * kAnalogWords];

const CmdHooks &hooks() {
    return Cmd_Hooks();
}

// The reference a register command names, and where its values start.
uint32_t reg_reference(int *values_at) {
    uint16_t code = cmd_arg16(2);
    if (code == 1776 || code == 1777) {
        *values_at = 6;
        return (code == 1776 ? 0x10000u : 0x20000u) + cmd_arg16(4);
    }
    if (code == 0) {
        *values_at = 8;
        return uint32_t(cmd_arg16(4)) | uint32_t(cmd_arg16(6)) << 16;
    }
    *values_at = 4;
    return code;
}

bool iec_active() {
    return hooks().iec_active && hooks().iec_active();
}

void reopen_programming_port(uint8_t baud) {
    if (ProgrammingPort >= kVcommPorts) return;
    VcommDrv &d = Vcomm_Drv[ProgrammingPort];
    uint8_t mode[kModeBytes];
    std::memcpy(mode, d.mode, kModeBytes);
    mode[0] = baud;
    d.Open(int(ProgrammingPort), mode);
    if ((mode[5] & 0xF) == (vibus_mode[5] & 0xF) && baud != vibus_mode[0])
        Timer_Start(CmdBaudTimer, std::max<uint16_t>(sr_get(kSrCmdTimeOut), 9000));
    else
        Timer_Stop(CmdBaudTimer);
}

} // namespace

// ---- the stream toward the host

void stream_begin(const uint8_t *src, uint32_t count) {
    s_stream = Stream{};
    s_stream.src = src;
    s_stream.count = count;
}

bool stream_step() {
    Stream &s = s_stream;
    if (!s.waiting) {
        uint32_t left = s.count - s.pos;
        s.sent = uint16_t(std::min<uint32_t>(left, CmdDataMax));
        s.sent_empty = s.sent == 0;
        put_packet(kDataOpcode, s.sent, s.src + s.pos);
        link_timer_start(CmdBuf.time_out);
        s.waiting = true;
        return false;
    }
    if (!chkbyte()) return false;
    uint8_t b = getbyte();
    switch (b) {
    case kBadSum:
        s.waiting = false; // the same packet again
        return false;
    case kAck:
        baud_timer_keep();
        if (s.sent_empty) break;
        s.pos += s.sent;
        s.waiting = false;
        return false;
    case kRefused:
        break;
    default:
        flushbyte();
        break;
    }
    link_timer_stop();
    return true;
}

// ---- handlers

void do_default() {
    cmd_reply(kRefused);
    cmd_finish();
}

void dummy_cmd() {
    putbyte(kRefused);
    cmd_finish();
}

void press_key() {
    do_default();
}

void protect_nvram() {
    cmd_reply(kAck);
    cmd_finish();
}

void get_mode() {
    uint8_t m = OLPMode ? 3 : uint8_t(sr_get(sr::kRunMode));
    put_packet(kDataOpcode, 1, &m);
    cmd_finish();
}

void set_mode() {
    uint8_t m = cmd_arg(1);
    if (m == 2 && cmd_downloading() && hooks().save_program) hooks().save_program();
    OLPMode = 0;
    if (m == 3) {
        OLPMode = 1;
        sr_put(sr::kOnlineChange, 0);
    } else if (hooks().set_plc_mode) {
        hooks().set_plc_mode(m);
    }
    cmd_reply(kAck);
    cmd_finish();
}

void get_version() {
    uint16_t product = sr_get(sr::kProduct), version = sr_get(sr::kFirmwareMajor);
    uint8_t hi = uint8_t(version / 100), lo = uint8_t(version % 100);
    if (product < 255) {
        const uint8_t v[3] = {uint8_t(product), hi, lo};
        put_packet(kDataOpcode, 3, v);
    } else {
        const uint8_t v[5] = {0xFF, hi, lo, uint8_t(product), uint8_t(product >> 8)};
        put_packet(kDataOpcode, 5, v);
    }
    cmd_finish();
}

void get_local_id() {
    uint8_t id = uint8_t(sr_get(sr::kNetId));
    put_packet(kDataOpcode, 1, &id);
    cmd_finish();
}

void set_local_id() {
    uint8_t id = cmd_arg(0);
    if (id >= 1 && id <= 253 && id != uint8_t(sr_get(sr::kNetId))) {
        if (Vcomm_Mode == kModeLocal) Vcomm_ModeSet(1, Vcomm_Host, kModeLocal, id);
        uint8_t v[2] = {id, 0};
        PlcReg_Set(sr_ref(sr::kNetId), v, 16);
    }
    putbyte(kAck);
    cmd_finish();
}

void get_global_data() {
    if (CmdMode == 0) {
        int node = cmd_arg(0), kind = cmd_arg(2), count = cmd_arg(3, 1), first = cmd_arg(4, 0);
        int words = kind == 0 ? kDigitalWords : kAnalogWords;
        // Node, kind and the words asked for must lie inside the node's record.
        uint8_t *rec = node < kNodes && hooks().net_data ? hooks().net_data(node) : nullptr;
        if (cmd_arg(1) != 1 || kind > 1 || first + count > words || !rec) {
            putbyte(kRefused);
            cmd_finish();
            return;
        }
        std::memcpy(s_global, rec + (kind == 0 ? kDigitalAt : kAnalogAt) + 2 * first,
                    size_t(2 * count));
        stream_begin(s_global, uint32_t(2 * count));
        putbyte(kAck);
        CmdMode = 1;
        return;
    }
    if (stream_step()) cmd_finish();
}

void set_global_data() {
    int node = cmd_arg(0), kind = cmd_arg(3, 0) ? 1 : 0, index = cmd_arg(4, 0);
    uint16_t value = cmd_arg16(1);
    uint8_t *rec = node < kNodes && hooks().net_data ? hooks().net_data(node) : nullptr;
    if (index >= (kind ? kAnalogWords : kDigitalWords) || !rec) {
        putbyte(kRefused);
        cmd_finish();
        return;
    }
    put_le16(rec + (kind ? kAnalogAt : kDigitalAt) + 2 * index, value);
    if (plc_reg[64] & 2) {
        auto send = kind ? hooks().net_put_aqg : hooks().net_put_qg;
        if (send) send(node, index, &value, 1);
    }
    putbyte(kAck);
    cmd_finish();
}

void reset_plc() {
    if (CmdMode == 0) {
        putbyte(kAck);
        s_wait_start = FPGA_GetFrt();
        CmdMode = 1;
        return;
    }
    // The answer gets 10 ms to leave before the reset.
    if (FPGA_GetFrt() - s_wait_start < 100) return;
    cmd_finish();
    if (hooks().warm_reset) hooks().warm_reset();
}

void get_plc_reg() {
    int at = 0;
    uint32_t ref = reg_reference(&at);
    uint32_t bits = cmd_arg(1);
    if (ref == kIecBackupRef && iec_active()) {
        if (hooks().tr_store_backup) hooks().tr_store_backup();
        putbyte(kAck);
        cmd_finish();
        return;
    }
    // The whole size must lie inside the addressed area, not only its start.
    const uint8_t *p = PlcReg_Ptr(ref, bits);
    if (!p) {
        putbyte(kBadSum);
        cmd_finish();
        return;
    }
    uint8_t out[32] = {};
    uint16_t n;
    if (bits == 1) {
        PlcReg_Get(out, ref, 1);
        n = 1;
    } else {
        n = uint16_t(bits / 8);
        if (ref == sr_ref(sr::kRunMode) && OLPMode)
            out[0] = 3;
        else
            std::memcpy(out, p, n);
    }
    put_packet(kDataOpcode, n, out);
    cmd_finish();
}

void set_plc_reg() {
    int at = 0;
    uint32_t ref = reg_reference(&at);
    uint32_t count = cmd_arg(1);
    if (ref == kIecBackupRef && iec_active()) {
        putbyte(kAck);
        if (hooks().tr_load_backup) hooks().tr_load_backup();
        cmd_finish();
        return;
    }
    if (count == 0) {
        if (hooks().plc_reg_clear) hooks().plc_reg_clear();
        putbyte(kAck);
        cmd_finish();
        return;
    }
    // The values must all have come with the packet.
    uint32_t need = count == 1 ? 1 : count / 8;
    if (uint32_t(at) + need > std::min<uint32_t>(CmdBuf.length, kCmdDataKept)) {
        cmd_reply(kRefused);
        cmd_finish();
        return;
    }
    bool reopens = ref == sr_ref(sr::kPortAction) || ref == sr_ref(sr::kNetBaud);
    if (reopens) putbyte(kAck);
    PlcReg_Set(ref, CmdBuf.data + at, count);
    if (!reopens) putbyte(kAck);
    cmd_finish();
}

void cal_module() {
    // The I/O driver reads a one-byte length.
    if (CmdBuf.length > 255) {
        putbyte(kRefused);
        cmd_finish();
        return;
    }
    uint8_t msg[1 + 255 + 64] = {};
    msg[0] = uint8_t(CmdBuf.length);
    std::memcpy(msg + 1, CmdBuf.data, CmdBuf.length);
    IoCal(msg);
    uint8_t n = std::min<uint8_t>(msg[0], 64);
    msg[0] = n;
    put_packet(kDataOpcode, uint16_t(n + 1), msg);
    cmd_finish();
}

void do_comm_lock() {
    uint8_t lock = cmd_arg(1, 2);
    if (lock == 1) Vcomm_LockSet(3);
    if (lock == 0) Vcomm_LockSet(4);
    uint16_t len = CmdBuf.length;
    if (len >= 4) {
        uint16_t t = cmd_arg16(2);
        if (t >= 500) sr_put(kSrCmdTimeOut, t);
        if (len == 4 && t >= 500) sr_put(kSrByteTimeOut, t);
    }
    if (len == 6) {
        uint16_t t = cmd_arg16(4);
        if (t >= 500) sr_put(kSrByteTimeOut, t);
    }
    if (Vcomm_Mode != kModeRemote) {
        int st = Timer_Status(CmdBaudTimer);
        if (st == 3 || st == 4)
            Timer_Start(CmdBaudTimer, std::max<uint16_t>(sr_get(kSrCmdTimeOut), 9000));
    }
}

void set_comm_lock() {
    uint8_t lock = cmd_arg(1, 2);
    if (lock == 0) NetIoConfig();
    do_comm_lock();
    cmd_reply(kAck);
    if (lock == 0) CmdPanel(1, 0);
    cmd_finish();
}

void get_baud_rate() {
    uint8_t b = ProgrammingPort < kVcommPorts ? Vcomm_Drv[ProgrammingPort].mode[0] : SCI4_Mode()[0];
    put_packet(kDataOpcode, 1, &b);
    cmd_finish();
}

void set_baud_rate() {
    if (CmdMode == 0) {
        putbyte(kAck);
        if (CmdHost == kHostUsb) {
            cmd_finish();
            return;
        }
        s_wait_start = FPGA_GetFrt();
        CmdMode = 1;
        return;
    }
    // The answer leaves at the old speed: wait for it, but never longer than
    // the time between two bytes.
    bool empty =
        ProgrammingPort >= kVcommPorts || Vcomm_Drv[ProgrammingPort].EmptyTx(int(ProgrammingPort));
    if (!empty && FPGA_GetFrt() - s_wait_start < uint32_t(byte_time_out()) * 10) return;
    reopen_programming_port(cmd_arg(1));
    cmd_finish();
}

void cmd_negotiation() {
    uint16_t size = cmd_arg16(1);
    if (CmdHost == kHostSerial && size >= 64 && size <= kCmdDataKept) {
        CmdDataMax = size;
        NegotiationFlag = size > 64;
        putbyte(kAck);
    } else {
        putbyte(kRefused);
    }
    cmd_finish();
}

void tr_debug_switch() {
    // Without a runtime nothing would ever serve the link or hand the port
    // back: the tool would lose the panel until a restart.
    if (!hooks().tr_running || !hooks().tr_running()) {
        putbyte(kRefused);
        cmd_finish();
        return;
    }
    putbyte(kAck);
    if (CmdHost == kHostSerial || CmdHost == kHostUsb) {
        Timer_Stop(CmdBaudTimer);
        if (CmdHost == kHostSerial && ProgrammingPort < kVcommPorts) {
            uint8_t *m = Vcomm_Drv[ProgrammingPort].mode;
            m[5] = uint8_t((m[5] & 0xF0) | 6);
        }
        is_trprotocol = 1;
        if (hooks().tr_connect_serial) hooks().tr_connect_serial();
    } else if (CmdHost == kHostEthernet) {
        if (hooks().tr_connect_ethernet) hooks().tr_connect_ethernet();
    }
    cmd_finish();
}

void NetIoConfig() {
    host::trace("NetIoConfig");
    if (!CmdNetIoConfigUpdated) return;
    if (hooks().net_config) hooks().net_config();
    if (hooks().io_config) hooks().io_config();
    CmdNetIoConfigUpdated = 0;
}

// clang-format off
const CmdInfoRow CmdInfo[kCmdOpcodes] = {
    {do_default,      0, 0, 0}, // 0 unsupported
    {get_mode,        1, 0, 0},
    {set_mode,        0, 0, 1},
    {verify_memory,   2, 0, 0},
    {download_memory, 2, 0, 0},
    {upload_memory,   3, 0, 0},
    {do_default,      1, 0, 0}, // 6
    {do_default,      1, 0, 0}, // 7
    {get_version,     1, 0, 0},
    {get_local_id,    1, 1, 0},
    {set_local_id,    0, 1, 0},
    {get_global_data, 3, 1, 0},
    {set_global_data, 0, 1, 0},
    {do_default,      1, 0, 0}, // 13
    {do_default,      0, 0, 0}, // 14
    {do_default,      1, 0, 0}, // 15
    {do_default,      1, 0, 0}, // 16
    {do_default,      1, 0, 0}, // 17
    {do_default,      1, 0, 0}, // 18
    {protect_nvram,   0, 0, 1},
    {reset_plc,       0, 0, 0},
    {press_key,       0, 0, 0},
    {get_plc_reg,     1, 0, 0},
    {cal_module,      1, 0, 0},
    {set_plc_reg,     0, 0, 1},
    {set_comm_lock,   0, 0, 0},
    {get_baud_rate,   1, 0, 0},
    {set_baud_rate,   0, 0, 0},
    {parse_fxp_cmd,       1, 0, 0},
    {write_fxp_data,      0, 0, 0},
    {read_fxp_data,       1, 0, 0},
    {cmd_datagram_delete, 0, 0, 0},
    {cmd_datagram_create, 1, 0, 0},
    {cmd_datagram_write,  0, 0, 0},
    {cmd_datagram_read,   1, 0, 0},
    {cmd_negotiation, 0, 0, 0},
    {dummy_cmd,       0, 0, 0},
    {dummy_cmd,       0, 0, 0},
    {tr_debug_switch, 0, 0, 0},
};
// clang-format on

void CmdRegs_Reset() {
    s_stream = Stream{};
    s_wait_start = 0;
    std::memset(s_global, 0, sizeof s_global);
}
