// Run control: the run mode and its rules, the control scan, and the network
// set-up of the controller.
#include "system/run_ctrl.h"

#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "data/data.h"
#include "host/clock.h"
#include "iec/kernel/iec.h"
#include "net/net.h"
#include "platform/nvfile.h"
#include "platform/rtc.h"
#include "platform/tick.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "system/reginit.h"

#include <algorithm>
#include <cstring>
#include <string>

uint8_t net_cfg[12];
uint8_t NetInit[16];
uint8_t NetStatsClear;
uint8_t dup_id_test;
uint8_t first_run;
uint32_t scan_total;
const IoOffsets PlcIoOffset = {0, 0, 0, 0};

// Shared with the I/O configuration (io_cfg.cpp).
namespace runctl {
uint16_t installed[kIoSlots] = {0xFF, 0xFF, 0xFF}; // module identities found by the probe
}

namespace {

using runctl::installed;

// Clock bits %S3, %S4, %S5.
struct ClockBits {
    bool started = false;
    uint32_t prev = 0, s3 = 0, s4 = 0, s5 = 0;
};
ClockBits g_clock;
uint32_t g_scan_start;  // tick at the start of the previous scan (statistics)
int32_t g_last_tz = -1; // time-zone register last seen (-1: none yet)
int g_last_s5 = 0;      // %S5 at the last network status decode

constexpr uint16_t kEthernetModules[] = {0x6E0F, 0x6F0F, 0xAE0F, 0xAF0F,
                                         0xBF0F, 0xDF0F, 0xEE0F, 0xEF0F};
// The force table holds this many 6-byte entries after its two counts.
constexpr int kMaxForces = (256 - 4) / 6;
// Bytes of the register image an instruction or a force may address.
constexpr uint32_t kAreaEnd = reg::kESR + 0x200;
constexpr uint32_t kOnlineChangeMax = 4194304; // bytes of an edited image taken at most

// ------------------------------------------------------------------ clock

void clock_bits(uint32_t now) {
    ClockBits &c = g_clock;
    if (!c.started) {
        c.started = true;
        c.prev = c.s3 = c.s4 = c.s5 = now;
        sbit_put(sbit::kClock5ms, 1);
        sbit_put(sbit::kClock50ms, 1);
        sbit_put(sbit::kClock500ms, 1);
        return;
    }
    uint16_t d = uint16_t(now - c.prev);
    c.prev = now;
    if (now - c.s3 >= 50) {
        sbit_put(sbit::kClock5ms, !sbit_get(sbit::kClock5ms));
        c.s3 = d <= 49 ? c.s3 + 50 : now;
    }
    if (now - c.s4 >= 500) {
        sbit_put(sbit::kClock50ms, !sbit_get(sbit::kClock50ms));
        c.s4 = d < 500 ? c.s4 + 500 : now;
    }
    if (now - c.s5 >= 5000) {
        sbit_put(sbit::kClock500ms, !sbit_get(sbit::kClock500ms));
        c.s5 += 5000;
    }
}

void read_words(int first_sr, uint16_t *out, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = sr_get(first_sr + i);
}
void write_words(int first_sr, const uint16_t *in, int n) {
    for (int i = 0; i < n; ++i)
        sr_put(first_sr + i, in[i]);
}

// Time-zone offset in minutes: values from 0x8000 on count back from UTC.
int tz_minutes(uint16_t v) {
    return v < 0x8000 ? int(v) : int(v) - 0x10000;
}

// Seconds since 1970 of a UTC calendar (seconds, minutes, hours, day, month, year).
int64_t utc_seconds(const uint16_t *cal) {
    int64_t y = cal[5], m = cal[4], d = cal[3];
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + cal[2] * 3600 + cal[1] * 60 + cal[0];
}

// The clock: calendar into %SR44.., UTC kept in step with the time zone.
void clock_step() {
    uint16_t local[7], utc[7];
    read_words(sr::kClock, local, sr::kClockWords);
    RtcGet(local);
    write_words(sr::kClock, local, sr::kClockWords);
    UtcUpdate(nullptr);
    uint16_t tz = sr_get(sr::kTimeZone);
    int dst = uint8_t(sr_get(sr::kDaylightSaving));
    if (int32_t(tz) != g_last_tz || UtcUpdated) {
        g_last_tz = tz;
        UtcUpdated = 0;
        read_words(sr::kUtc, utc, 7);
        SyncRtcWithUtc(local, utc, tz_minutes(tz), dst);
    }
    if (RtcUpdated) {
        RtcUpdated = 0;
        read_words(sr::kClock, local, sr::kClockWords);
        read_words(sr::kUtc, utc, 7);
        SyncUtcWithRtc(local, utc, tz_minutes(tz), dst);
        write_words(sr::kUtc, utc, sr::kUtcWords);
        if (NTP_UserModifiedTime && CmdRun == 255)
            host::set_wall_ns(utc_seconds(utc) * 1'000'000'000ll);
    }
}

// ------------------------------------------------------------------ I/O

// Applies the force entries [first, first + count) of the force table.
void apply_forces(int first, int count) {
    for (int i = first; i < first + count && i < kMaxForces; ++i) {
        const uint8_t *e = io_force + 4 + 6 * i;
        uint32_t byte = 2u * le16(e);
        if (byte + 2 > kAreaEnd) continue; // outside the registers: left alone
        uint16_t v = le16(plc_reg + byte);
        put_le16(plc_reg + byte, uint16_t((v & le16(e + 2)) | le16(e + 4)));
    }
}
int input_forces() {
    return std::min<int>(le16(io_force), kMaxForces);
}
int output_forces() {
    return std::min<int>(le16(io_force + 2), kMaxForces - input_forces());
}

// The station count of a remote I/O base module: a literal up to 1024, else
// the value of the register it names; 0 when it is not such a module.
uint32_t remote_stations(int slot) {
    const IoCfgRec &c = io_cfg[slot];
    if (slot == 0 || !c.config || c.config_length < 40 ||
        !IoRemoteBase(reinterpret_cast<const char *>(c.rec + iocfg::kName)))
        return 0;
    uint32_t v = le32(c.config);
    if (v <= 1024) return v;
    uint8_t w[2] = {};
    return PlcReg_Get(w, v, 16) ? le16(w) : 0;
}
bool remote_base(int slot) {
    uint32_t n = remote_stations(slot);
    return n >= 1 && n <= 125;
}

// Moves one slot's digital and analog data in or out. Local slots continue
// where the previous slot's data ended; a remote I/O base uses the registers
// its configuration names.
struct Cursor {
    uint32_t bit, channel;
};
void transfer(int slot, bool in, Cursor *cur) {
    const IoCfgRec &c = io_cfg[slot];
    uint32_t bits = (le16(c.rec + (in ? iocfg::kInBits : iocfg::kOutBits)) + 7u) & ~7u;
    uint32_t channels = le16(c.rec + (in ? iocfg::kAnIn : iocfg::kAnOut));
    if (remote_base(slot)) {
        uint32_t request = ((bits / 8 + 1) / 2 + 8) * 2; // bytes
        uint32_t dref = le32(c.config + 4 * (in ? 1 : 3));
        uint32_t aref = le32(c.config + 4 * (in ? 5 : 7));
        if (uint8_t *p = PlcReg_Ptr(dref, request * 8))
            (in ? IoGetIs : IoPutQs)(p, slot | 0x80, 0, int(request * 8));
        if (uint8_t *p = PlcReg_Ptr(aref, channels * 16); p && channels)
            (in ? IoGetAIs : IoPutAQs)(p, slot | 0x80, 0, int(channels));
        return;
    }
    uint8_t *digital = plc_reg + (in ? reg::kI : reg::kQ);
    uint8_t *analog = plc_reg + (in ? reg::kAI : reg::kAQ);
    // A slot whose data would run past its area is left out.
    if (cur->bit + bits <= 8u * (reg::kT - reg::kQ))
        (in ? IoGetIs : IoPutQs)(digital, slot, int(cur->bit), int(bits));
    if (cur->channel + channels <= (reg::kAQ - reg::kAI) / 2)
        (in ? IoGetAIs : IoPutAQs)(analog, slot, int(cur->channel), int(channels));
    cur->bit += bits;
    cur->channel += channels;
}

void inputs() {
    if (sbit_get(sbit::kIoOk)) {
        Cursor cur{PlcIoOffset.in_bit, PlcIoOffset.an_in};
        for (int s = 0; s < kIoSlots; ++s)
            transfer(s, true, &cur);
    }
    if (sbit_get(sbit::kForceEnable)) apply_forces(0, input_forces());
    if (TrevantRuntime && trevant_variables_enumerateded) {
        TrevantUpdateBitInputRegs();
        TrevantUpdateWordInputRegs();
    }
}

void outputs() {
    if (sbit_get(sbit::kForceEnable)) apply_forces(input_forces(), output_forces());
    if (sbit_get(sbit::kIoOk)) {
        Cursor cur{PlcIoOffset.out_bit, PlcIoOffset.an_out};
        for (int s = 0; s < kIoSlots; ++s) {
            transfer(s, false, &cur);
            if (installed[s] != 0xFF) IoService(s);
        }
    }
    if (TrevantRuntime && trevant_variables_enumerateded) {
        TrevantUpdateBitOutputRegs();
        TrevantUpdateWordOutputRegs();
    }
    PMGR_Scan();
    SMS_Scanner();
    LOG_Update();
    REPORT_Scanner();
    AlarmLogToCF_Scanner();
    DLOG_Update();
}

// ------------------------------------------------------------------ scan

void statistics(uint32_t now) {
    if (!sbit_get(sbit::kFirstScan) && !sbit_get(sbit::kStatsFrozen)) {
        uint16_t delta = uint16_t(now - g_scan_start);
        if (scan_total == 0) {
            scan_total = 16u * delta;
            sr_put(sr::kScanAverage, delta);
        } else {
            scan_total = scan_total - sr_get(sr::kScanAverage) + delta;
            sr_put(sr::kScanAverage, uint16_t(scan_total / 16));
        }
        if (delta < sr_get(sr::kScanMin)) sr_put(sr::kScanMin, delta);
        if (delta > sr_get(sr::kScanMax)) sr_put(sr::kScanMax, delta);
    }
    g_scan_start = now;
}

void program_mirrors() {
    sr_put32(sr::kLadderLength, Ladder_Bytes());
    sr_put(sr::kLadderCrc, ladder_bl ? le16(ladder_bl) : 0);
}

void reload_program() {
    LoadLadder();
    Ladder_ProgramChanged();
    program_mirrors();
}

// Installs the edited program of an online change over the program block.
void install_ladder() {
    uint64_t n = uint64_t(le32(ladder_olp + 4)) + 8;
    n = std::min<uint64_t>({n, kLadderOlpSize, kOnlineChangeMax, app::kLadderCapacity});
    std::memmove(ladder_bl, ladder_olp, size_t(n));
    put_le32(ladder_bl + 4, uint32_t(n - 8));
    Ladder_ProgramChanged();
    program_mirrors();
}

// An IEC application's online change: the new code from "tr.upd" into the
// program's IEC block and into "tr.cod", the edited image (the register
// location table) behind it, the CRCs recomputed, the program saved.
void install_iec() {
    std::string code;
    if (!nv_read_file("/mnt/cfg/tr.upd", &code)) return;
    uint32_t edited = std::min<uint32_t>(le32(ladder_olp + 4), kLadderOlpSize - 8);
    uint8_t *block = ladder_bl + 8;
    uint64_t total = 16 + uint64_t(code.size()) + edited;
    if (total > app::kLadderMax) return; // does not fit: the program stays as it is
    std::memcpy(block + 16, code.data(), code.size());
    std::memcpy(block + 16 + code.size(), ladder_olp + 8, edited);
    put_le32(block + 8, uint32_t(code.size()));
    put_le32(block + 12, crc16(block + 16, code.size()));
    trevant_code_ptr = block + 16;
    NvFile f;
    if (f.open("/mnt/cfg/tr.cod")) {
        f.write(code.data(), code.size());
        f.commit(true);
    }
    put_le32(ladder_bl + 4, uint32_t(total));
    put_le32(ladder_bl, crc16(block, size_t(total)));
    program_mirrors();
    TrSaveLadderPgm();
}

bool iec_block() {
    return ladder_bl && Ladder_Bytes() >= 8 && std::memcmp(ladder_bl + 12, "XTI", 4) == 0;
}

void online_change() {
    uint16_t s = sr_get(sr::kOnlineChange);
    if (!OLPMode) {
        if ((s & 0x1) && (s & 0x4)) {
            SaveLadder();
            sr_put(sr::kOnlineChange, s & 0xFF00);
        }
        return;
    }
    if (!(s & 0x1)) return;
    if (!(s & 0x2)) {
        if ((s & 0x20) && !(s & 0x10)) {
            if (!(s & 0x8)) {
                s |= 0x8;
            } else {
                s = uint16_t((s & ~(0x8 | 0x4)) | 0x10);
                sr_put(sr::kOnlineChange, s);
                reload_program();
            }
        } else if ((s & 0x20) && (s & 0x10)) {
            s = 0;
        }
    } else if (!(s & 0x10)) {
        if (!(s & 0x8)) {
            s |= 0x8;
        } else {
            s = uint16_t((s & ~0x8) | 0x14);
            if (TrevantRuntime && iec_block()) {
                install_iec();
                OLPMode = 0;
                s &= 0xFF00;
            } else if (!TrevantRuntime) {
                install_ladder();
            }
        }
    } else {
        s &= uint16_t(~(0x10 | 0x2));
    }
    sr_put(sr::kOnlineChange, s);
}

void logic() {
    int32_t r = LogicUpdate(ladder_bl ? ladder_bl + 8 : nullptr, Ladder_Bytes());
    if (r == kLadderScanDone) return;
    if (!OLPMode) {
        sr_put32(sr::kLogicFaultAt, uint32_t(r));
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kLogicFault);
        SetPlcMode(sr::kModeIdle);
        return;
    }
    if (sr_get(sr::kOnlineChange) & 0x4) LoadLadder();
    Ladder_ProgramChanged();
    sr_put(sr::kOnlineChange, 0x100);
    program_mirrors();
}

bool running(int mode) {
    return mode == sr::kModeRun || mode == sr::kModeRunFaulted;
}

} // namespace

// ---------------------------------------------------------------- run mode

void SetPlcMode(int mode) {
    host::trace("SetPlcMode");
    if (mode != sr::kModeRunFaulted && (sr_get(sr::kStatus) & sr4::kForceIdle)) {
        mode = sr::kModeIdle;
    } else if (mode < 0 || mode > sr::kMode4) {
        first_run = 1;
        return;
    }
    int old = sr_get(sr::kRunMode);
    if (old == mode) {
        first_run = 1;
        return;
    }
    // The saved image carries the new mode, so it is restored at the next start.
    if (first_run) {
        sr_put(sr::kRunMode, uint16_t(mode));
        AutoSaveRegisters();
        sr_put(sr::kRunMode, uint16_t(old));
    }
    if (mode != sr::kModeRun) OLPMode = 0;
    if (old == sr::kModeIdle) {
        if (TrevantRuntime) {
            TrevantStop();
            TrevantFirstRun = 1;
            TrevantStart();
        }
        // The program may have been replaced while the controller was idle.
        Ladder_ProgramChanged();
        PMGR_Start();
        SMS_Start();
        LOG_Start();
        REPORT_Start();
        AlarmLogToCF_Start();
    }
    if (mode == sr::kModeIdle) {
        IoStop();
        PMGR_Stop();
        SMS_Stop();
        LOG_Stop();
        REPORT_Stop();
        AlarmLogToCF_Stop();
        if (trevant_variables_enumerateded) iVmAlive = 3;
        File_StopWorkers();
    }
    if (running(mode)) {
        if (old == sr::kMode4) {
            sbit_put(sbit::kStatsFrozen, 1);
            sr_put(sr::kScanMin, 65535);
            sr_put(sr::kScanMax, 0);
            sr_put(sr::kScanAverage, 0);
            scan_total = 0;
        } else {
            IoStart();
        }
    }
    if ((running(old) && mode <= sr::kModeRunFaulted) ||
        (old == sr::kMode4 && mode <= sr::kModeDoIo)) {
        sr_put(sr::kScanAverage, 0);
        scan_total = 0;
        for (int ch = 0; ch < 3; ++ch) {
            if (!TalkOpened(ch)) continue;
            Talk_ModeChange(ch);
            TalkClosed(ch);
        }
        Cmd_Override = 0;
    }
    sr_put(sr::kRunMode, uint16_t(mode));
    first_run = 1;
}

void PlcScan() {
    host::trace("PlcScan");
    uint32_t now = FPGA_GetFrt();
    if (sbit_get(sbit::kIecS9)) TrevantS9 = 1;
    clock_bits(now);
    clock_step();
    if (!dup_id_test) Net_RxHandler();
    if (std::find(std::begin(kEthernetModules), std::end(kEthernetModules), installed[1]) !=
        std::end(kEthernetModules))
        EtnEmailScan(0);
    if (TrevantRuntime && trevant_variables_enumerateded) {
        TrevantUpdateWordSRRegs();
        TrevantUpdateBitSysRegs();
    }
    if (sr_get(sr::kRunMode) != sr::kModeIdle) {
        if (sr_get(sr::kCalibKey) != sr::kCalibActive) inputs();
        if (running(sr_get(sr::kRunMode))) {
            statistics(now);
            online_change();
            logic();
        }
        if (sr_get(sr::kRunMode) != sr::kModeIdle && sr_get(sr::kCalibKey) != sr::kCalibActive)
            outputs();
    }
    Net_SendPackets(((sr_get(sr::kNetConfig) >> 2) + 1) & 0xFF);
    const uint16_t *c = _Can_Data(0, NetStatsClear);
    NetStatsClear = 0;
    if (c) {
        uint16_t load = std::min<uint16_t>(c[0], 1000);
        sr_put(sr::kNetTxLoad, load);
        sr_put(sr::kNetLoad, uint16_t(std::min<uint32_t>(uint32_t(load) + c[1], 1000)));
        sr_put(sr::kNetTxWarnings, c[2]);
        sr_put(sr::kNetRxWarnings, c[3]);
        sr_put(sr::kNetDrops, c[4]);
        sr_put(sr::kNetOverflows, c[5]);
        sr_put(sr::kNetBusOffs, c[7]);
    }
    NetStatusDecode();
    if (net_cfg[6] == 1 && net_cfg[7] == 0 && !Cmd_Downloading) {
        BrikScanner();
        if (!Cmd_Downloading) Sr_VibusIo();
    }
    Etn_UpdateStatus();
}

void PlcInit(int clear) {
    host::trace("PlcInit");
    PlcRegInit(clear);
    Ladder_Load();
}

void IoStart() {
    host::trace("IoStart");
    PlcTmpClear();
    if (sbit_get(sbit::kNetOk)) {
        int own = sr_get(sr::kNetId), count = sr_get(sr::kNetIdCount);
        for (int i = 0; i < kNetNodes; ++i) {
            uint8_t *node = Net_Data[i];
            std::memset(node, 0, 8);
            int id = i + 1;
            if (id < own || id > own + count - 1) {
                std::memset(node + 8, 0, 4);
                std::memset(node + 20, 0, 4);
            }
        }
    }
    PlcOldInit();
    scan_total = 0;
    sr_put(sr::kScanMin, 65535);
    sr_put(sr::kScanMax, 0);
    sr_put(sr::kScanAverage, 0);
    sbit_put(sbit::kFirstScan, 1);
    for (uint8_t slot : {0, 1}) {
        IoMsg m{};
        m.command = 14;
        m.slot = slot;
        io_driver(&m);
    }
}

// ----------------------------------------------------------------- network

void NetConfig() {
    host::trace("NetConfig");
    uint32_t length = std::min<uint32_t>(le32(net_config_bl + 4), 4096 - 8);
    const uint8_t *c = net_config_bl + 8;
    if (sr_get32(sr::kNetConfigLength) != 0 && length >= 2) {
        uint8_t first = c[0], ids = c[1] ? c[1] : 1;
        sr_put(sr::kNetConfig, first);
        net_cfg[0] = first;
        sr_put(sr::kNetIdCount, ids);
        net_cfg[1] = ids;
        if (first & 0x80) {
            first &= 0x7F;
            sr_put(sr::kNetConfig, first);
            net_cfg[0] = first;
            std::memset(net_cfg + 2, 0, 10);
            std::memcpy(net_cfg + 2, c + 2, std::min<uint32_t>(10, length - 2));
            if (net_cfg[6] || net_cfg[7]) Plc_NetInit();
            return;
        }
    } else {
        sr_put(sr::kNetConfig, 0);
        sr_put(sr::kNetIdCount, 1);
        net_cfg[0] = 0;
        net_cfg[1] = 1;
    }
    std::memset(net_cfg + 2, 0, 10);
    net_cfg[6] = 1; // remote I/O scanning over the CAN network
    Plc_NetInit();
}

void Plc_NetInit() {
    host::trace("Plc_NetInit");
    std::memset(NetInit, 0, sizeof NetInit);
    put_le16(NetInit + 4, 100);
    NetInit[6] = uint8_t(sr_get(sr::kNetBaud));
    NetInit[7] = 2;
    NetInit[8] = 3;
    NetInit[9] = net_cfg[6];
    NetInit[12] = uint8_t(sr_get(sr::kNetId));
    NetInit[13] = uint8_t(sr_get(sr::kNetIdCount));
    NetInit[14] = (sr_get(sr::kNetConfig) >> 1) & 1;
    Net_Init(NetInit);
    NetStatsClear = 1;
    _Can_SetEvent(0, 0, 0);
}

void NetStatusDecode() {
    host::trace("NetStatusDecode");
    int s = Net_Status();
    uint16_t v = sr_get(sr::kStatus);
    v = (s & 3) ? uint16_t(v | sr4::kNetOffline) : uint16_t(v & ~sr4::kNetOffline);
    v = (s & 4) ? uint16_t(v | sr4::kDupNetId) : uint16_t(v & ~sr4::kDupNetId);
    sr_put(sr::kStatus, v);
    int s5 = sbit_get(sbit::kClock500ms);
    if (_Can_Lockup() && s5 && !g_last_s5) Net_Restart();
    g_last_s5 = s5;
}

void Plc_StopRxHandler() {
    dup_id_test = 1;
}
void Plc_ResumeRxHandler() {
    dup_id_test = 0;
}

void RunCtrl_Reset() {
    std::memset(net_cfg, 0, sizeof net_cfg);
    std::memset(NetInit, 0, sizeof NetInit);
    NetStatsClear = 0;
    dup_id_test = 0;
    first_run = 0;
    scan_total = 0;
    g_clock = ClockBits{};
    g_scan_start = 0;
    g_last_tz = -1;
    g_last_s5 = 0;
    for (uint16_t &id : installed)
        id = 0xFF;
    IoCfg_Reset();
}
