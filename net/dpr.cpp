// The network configuration parser, the exchange block, the register movers
// and the programming channel's mailboxes.
#include "net/dpr.h"

#include "base/le.h"
#include "base/trace.h"
#include "platform/io.h"
#include "platform/unit.h"
#include "plc/appblocks.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

using namespace dprcfg;

uint8_t Dpr_Configuration[kDprInterfaces][kDprConfigBytes];
uint8_t DprMap[dprmap::kSize];
uint8_t *Dpr_Map_Ptr;
uint16_t VibusRxIndx;
uint32_t T_token, M_token;
uint8_t NTP_Enabled, Ntp_ConfigReset, Invalid_reg_flag;
uint16_t EGD_Index_Count;

namespace {

constexpr char kKey[] = "Wh3n 7He mOOn R1sEs oVer tHe bAy qu1Et !";
static_assert(sizeof kKey == 41);
constexpr uint32_t kPersistMagic = 0x12345678;

struct State {
    DprHooks hooks{};
    uint16_t saved_io_word = 0;
    uint32_t saved_io_dword = 0;
    const uint8_t *saved_etn = nullptr;
};
State g;

uint8_t *map() {
    return DprMap;
}
uint16_t m16(uint32_t at) {
    return le16(DprMap + at);
}
void pm16(uint32_t at, uint16_t v) {
    put_le16(DprMap + at, v);
}

// A bounded reader over a configuration block: nothing is read past `end`.
struct Reader {
    const uint8_t *p;
    uint32_t pos, end;
    bool word(uint32_t &v) {
        if (pos > end || end - pos < 4) return false;
        v = le32(p + pos);
        pos += 4;
        return true;
    }
    bool skip(uint32_t words) {
        uint32_t v;
        for (uint32_t i = 0; i < words; ++i)
            if (!word(v)) return false;
        return true;
    }
    // A scrambled text: a length byte, the bytes, the next item at (length + 4) & ~3.
    bool text(uint8_t *dst) {
        if (pos >= end) return false;
        uint32_t n = p[pos];
        uint32_t next = pos + ((n + 4) & ~3u);
        if (next > end) return false;
        uint32_t keep = std::min(n, kTextMax); // the field holds 40 characters and a NUL
        for (uint32_t i = 0; i < keep; ++i)
            dst[i] = uint8_t(p[pos + 1 + i] ^ uint8_t(kKey[i]));
        dst[keep] = 0;
        pos = next;
        return true;
    }
};

uint32_t valid_reg(uint32_t ref) {
    return ref >= 1024 && EtnValidateReq(ref, 16) == 0 ? ref : 0;
}

void persist_read(int iface, uint8_t rec[24]) {
    std::memset(rec, 0, 24);
    if (g.hooks.cmd_read) g.hooks.cmd_read(rec, uint32_t(iface) * 24, 24);
}
void persist_write(int iface, const uint8_t rec[24]) {
    if (g.hooks.cmd_write) g.hooks.cmd_write(rec, uint32_t(iface) * 24, 24);
}

// The block of an interface: the Ethernet module's configuration, or for the
// Wi-Fi interfaces the I/O configuration entry tagged 0xEF01 when there is one.
const uint8_t *block_of(int iface, uint32_t *avail, uint16_t *before) {
    const uint8_t *base = io_config_bl + 8;
    uint32_t length = std::min<uint32_t>(le32(io_config_bl + 4), 1040384 - 8);
    const uint8_t *end = base + length;
    if (iface >= 2) {
        uint32_t at = 0;
        for (int n = 0; n < 40 && at + 4 <= length; ++n) {
            uint16_t tag = le16(base + at), len = le16(base + at + 2);
            if (len == 0xFFFF || tag == 0xFFFF) break;
            if (tag == 0xEF01) {
                *before = len;
                *avail = std::min<uint32_t>(len, length - at - 4);
                return base + at + 4;
            }
            at += 4 + ((len + 3u) & ~3u);
        }
    }
    const uint8_t *p = EtnConfp;
    if (!p) return nullptr;
    if (p >= base + 2 && p <= end) {
        *before = le16(p - 2);
        *avail = std::min<uint32_t>(*before, uint32_t(end - p));
    } else {
        *before = 0;
        *avail = 0;
    }
    return p;
}

void write_ntp_conf(const uint8_t *names) {
    std::string text;
    for (uint32_t i = 0; i < kNtpNames; ++i) {
        const uint8_t *n = names + i * kNtpNameBytes;
        // Cut at 95 characters and at a line break: one name makes one line.
        size_t len = 0;
        while (len < kNtpNameBytes - 1 && n[len] && n[len] != '\r' && n[len] != '\n')
            ++len;
        if (len == 0) break;
        text += "server " + std::string(reinterpret_cast<const char *>(n), len) + "\n";
    }
    if (g.hooks.write_file) g.hooks.write_file("/etc/ntp.conf", text.c_str());
}

} // namespace

void Dpr_SetHooks(const DprHooks &hooks) {
    g.hooks = hooks;
}

bool Dpr_IecMode() {
    return g.hooks.iec_active && g.hooks.iec_active();
}

uint32_t DprCfg32(int iface, uint32_t offset) {
    return le32(Dpr_Configuration[iface] + offset);
}
void DprCfgPut32(int iface, uint32_t offset, uint32_t v) {
    put_le32(Dpr_Configuration[iface] + offset, v);
}

void Dpr_StrCrypt(uint8_t *dst, const uint8_t *src, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = uint8_t(src[i] ^ uint8_t(kKey[i % kTextMax]));
}

// ---- exchange block --------------------------------------------------------

void DprInitReq() {
    using namespace dprmap;
    std::memset(map() + kWriteTable1, 0, kMailArea - kWriteTable1);
}

void Dpr_Init() {
    using namespace dprmap;
    std::memset(DprMap, 0, sizeof DprMap);
    Dpr_Map_Ptr = DprMap;
    pm16(0, kMagic);
    put_le32(map() + 4, 0x16000000);
    pm16(8, 512);
    pm16(10, kWriteTable1);
    pm16(12, kReadTable1);
    const uint16_t sizes[6] = {256, 256, 248, 128, 120, 122};
    for (int i = 0; i < 6; ++i)
        pm16(16 + 2 * i, sizes[i]);
    pm16(64, kWriteTable2);
    pm16(66, kReadTable2);
    pm16(68, kArea3);
    pm16(70, kArea4);
    pm16(kEgdStatusTable, kEgdStatus);
    pm16(82, kMailArea);
    pm16(84, kRx);
    pm16(kTxOffsetAt, kTx);
    pm16(88, kByteRx);
    pm16(kRevisionAt, kRevision);
    T_token = reg::kRefET;
    M_token = reg::kRefEM;
    pm16(kChangeAck, m16(kChangeReq));
}

int DprParseBlock(int iface, const uint8_t *p, uint32_t avail, uint16_t before) {
    uint8_t *r = Dpr_Configuration[iface];
    std::memset(r, 0, kDprConfigBytes);
    if (!p || before == 0 || avail < 12 || le32(p) == 0xFFFFFFFF) return 1;
    uint32_t length = le32(p);
    if (length <= 8) return 1;
    put_le32(r + kLength, length);
    Reader rd{p, 4, std::min(length, avail)};
    uint32_t addr = 0, mask = 0;
    rd.word(addr);
    rd.word(mask);
    put_le32(r + kAddress, addr);
    put_le32(r + kMask, mask);

    bool ping_bad = false, regpair_bad = false, regs800_bad = false;
    bool have_modbus = false;
    uint32_t modbus_flags = 0, modbus_pair = 0;
    uint32_t egd = 0;
    EGD_Index_Count = 0;
    uint32_t tag;
    while (rd.word(tag) && tag != 0) {
        uint32_t w[8] = {};
        if (tag & 0x80000000u) {
            // EGD exchange: four parameters, then pairs until a zero word;
            // only 128 records and 99 pairs a record are kept.
            uint32_t params[4];
            bool ok = true;
            for (uint32_t &v : params)
                ok = ok && rd.word(v);
            if (!ok) break;
            uint8_t *e = egd < kEgdRecords ? r + kEgd + egd * kEgdRecordBytes : nullptr;
            if (e) {
                put_le32(e, tag);
                for (int i = 0; i < 4; ++i)
                    put_le32(e + 4 + 4 * i, params[i]);
            }
            uint32_t pairs = 0, reg;
            while (rd.word(reg) && reg != 0) {
                uint32_t len;
                if (!rd.word(len)) break;
                if (e && pairs < kEgdPairs) {
                    put_le32(e + 24 + 8 * pairs, reg);
                    put_le32(e + 28 + 8 * pairs, len);
                    ++pairs;
                    if ((len >> 29) == 4 &&
                        EGD_Index_Count <
                            (dprmap::kMailArea - dprmap::kEgdStatus) / dprmap::kEgdStatusEntry)
                        Dpr_Add_Egd_Status_Req(reg, uint16_t(len), EGD_Index_Count++);
                }
            }
            if (e) {
                put_le32(e + 20, pairs);
                ++egd;
            }
        } else if (tag & 0x40000000u) {
            for (int i = 1; i <= 7; ++i)
                rd.word(w[i]);
            put_le32(r + kPingTimeout, w[3]);
            uint32_t target = valid_reg(w[5]), status = valid_reg(w[7]);
            put_le32(r + kPingTarget, target);
            put_le32(r + kPingStatus, status);
            if (!target || (w[7] && !status)) ping_bad = true;
        } else if (tag & 0x10000000u) {
            for (int i = 1; i <= 6; ++i)
                rd.word(w[i]);
            int k = ((tag & 0x20000000u) ? 1 : 0) + ((tag & 0x02) ? 1 : 0);
            uint32_t a = valid_reg(w[5]), b = valid_reg(w[6]);
            if (!a || !b) regpair_bad = true;
            put_le32(r + kRegPairs + 8 * k, a);
            put_le32(r + kRegPairs + 8 * k + 4, b);
        } else if (tag & 0x08000000u) {
            uint32_t count = 0;
            if (!rd.word(count)) break;
            for (uint32_t i = 0; i < count; ++i) {
                uint8_t tmp[kAccountBytes];
                uint8_t *acct = i < 2 ? r + kFtp + i * kAccountBytes : tmp;
                bool ok =
                    rd.text(acct) && rd.text(acct + kTextBytes) && rd.text(acct + 2 * kTextBytes);
                uint32_t access;
                ok = ok && rd.word(access);
                if (!ok) break;
                acct[3 * kTextBytes] = uint8_t(access);
            }
        } else if (tag & 0x04000000u) {
            uint8_t *acct = r + kHttpAccount;
            uint32_t access = 0;
            if (!(rd.text(acct) && rd.text(acct + kTextBytes) && rd.text(acct + 2 * kTextBytes) &&
                  rd.word(access)))
                break;
            acct[3 * kTextBytes] = uint8_t(access);
        } else if (tag & 0x01000000u) {
            rd.word(modbus_flags);
            rd.word(modbus_pair);
            have_modbus = true;
            bool iec = g.hooks.iec_active && g.hooks.iec_active();
            if (iec) {
                put_le32(r + kIecModbus, modbus_flags);
                put_le32(r + kIecModbus + 4, 1);
                put_le32(r + kIecModbus + 8, modbus_pair);
                for (int i = 0; i < 8; ++i) {
                    uint32_t v = 0;
                    rd.word(v);
                    put_le32(r + kIecModbus + 12 + 4 * i, v);
                }
                have_modbus = false;
            }
        } else if (tag & 0x00800000u) {
            for (int i = 0; i < 6; ++i) {
                uint32_t v = 0;
                rd.word(v);
                if (v && !valid_reg(v)) {
                    Invalid_reg_flag = 1;
                    regs800_bad = true;
                    v = 0;
                }
                put_le32(r + kRegs800 + 4 * i, v);
            }
        } else if (tag & 0x00200000u) {
            uint32_t pair = 0;
            rd.word(pair);
            uint8_t names[kNtpNames * kNtpNameBytes] = {};
            if (rd.pos <= rd.end && rd.end - rd.pos >= sizeof names) {
                std::memcpy(names, p + rd.pos, sizeof names);
                rd.pos += sizeof names;
            } else {
                break;
            }
            if (iface == 0) {
                put_le32(r + kNtp, pair);
                std::memcpy(r + kNtpNamesAt, names, sizeof names);
                NTP_Enabled = 1;
                Ntp_ConfigReset = 1;
                write_ntp_conf(names);
                if (names[0] == 0) return 0;
            }
        } else if (tag & 0x20000000u) {
            uint32_t opt = 0, m = 0;
            rd.word(w[1]);
            rd.word(opt);
            rd.word(m);
            put_le32(r + kMask, m);
            uint8_t a = 0, b = 0, c = 0;
            if (opt & 0x1) b |= kBLastOctet;
            if (!(opt & 0x2)) a |= kA01;
            if (opt & 0x4) b |= kBAddrFromReg;
            if (!(opt & 0x8)) {
                a |= kAModbus;
                put_le16(r + kModbusMode, 0);
                put_le16(r + kModbusPort, 502);
                if (!(opt & 0x1000)) b |= kBModbusPort;
            }
            if (!(opt & 0x10)) a |= kA04;
            if (!(opt & 0x20)) a |= kAPing;
            if (!(opt & 0x40)) a |= kA10;
            if (!(opt & 0x80)) a |= kAFtp;
            if (!(opt & 0x100)) a |= kAHttp;
            if (opt & 0x200) {
                r[kDhcp] = 1;
                c |= kCDhcp;
            } else {
                a |= kAStatic;
            }
            if (!(opt & 0x400)) b |= kB01;
            if (iface == 0 && NTP_Enabled == 1 && !(opt & 0x2000)) c |= kCNtpClock;
            if (opt & 0x8000) c |= kCDns;
            if (opt & 0x10000) c |= kCDnsFromReg;
            if (opt & 0x20000000u) b |= kBMaskGwRegs;
            if (opt & 0x40000000u) b |= kBMaskFromReg;
            if (opt & 0x80000000u) b |= kBGwFromReg;
            uint32_t v = 0;
            if (c & kCDns) {
                rd.word(v);
                put_le32(r + kDns, v);
            }
            auto reg_pair = [&](uint32_t at) {
                uint32_t ref = 0, len = 0;
                rd.word(ref);
                rd.word(len);
                put_le32(r + at, valid_reg(ref));
            };
            reg_pair(kVersionReg);
            reg_pair(kStatusReg);
            reg_pair(kAddressReg);
            if (b & kBMaskGwRegs) {
                reg_pair(kMaskReg);
                reg_pair(kGatewayReg);
            }
            if (c & kCDns) reg_pair(kDnsReg);
            r[kFlagsA] = a;
            r[kFlagsB] = b;
            r[kFlagsC] = c;
            if (iface == 0) {
                if (NTP_Enabled != 1) {
                    r[kFlagsC] &= uint8_t(~kCNtpClock);
                    NTP_Enabled = 0;
                }
                if (g.hooks.cmd_run && g.hooks.cmd_run() && g.hooks.sync_system_clock)
                    g.hooks.sync_system_clock();
            }
        } else if (tag == 0x00100000u) {
            uint32_t a = 0, b = 0;
            rd.word(a);
            rd.word(b);
            put_le32(r + kWords100, a);
            put_le32(r + kWords100 + 4, b);
        } else {
            uint32_t v = 1;
            while (rd.word(v) && v != 0) {
            }
            continue; // the zero word ended this one
        }
        rd.skip(2); // the two trailing words
    }
    put_le32(r + kEgdCount, egd);
    if (ping_bad) r[kFlagsA] &= uint8_t(~kAPing);
    if (regpair_bad) r[kFlagsA] &= uint8_t(~kA10);
    if (regs800_bad) r[kFlagsB] &= uint8_t(~kB01);
    if (have_modbus && ((r[kFlagsB] & kBModbusPort) || (modbus_flags & 0x40000))) {
        put_le32(r + kModbus, modbus_flags);
        put_le32(r + kModbus + 4, (modbus_flags & 0x20000) ? 1 : 0);
        put_le16(r + kModbusMode, uint16_t(modbus_pair));
        put_le16(r + kModbusPort, uint16_t(modbus_pair >> 16));
    }
    return 0;
}

int DprParseConfig(int iface) {
    uint32_t avail = 0;
    uint16_t before = 0;
    const uint8_t *p = block_of(iface, &avail, &before);
    return DprParseBlock(iface, p, avail, before);
}

void Dpr_Config() {
    using namespace dprmap;
    DprInitReq();
    std::memset(Dpr_Configuration[0], 0, kDprConfigBytes);
    Dpr_Configuration[0][kFlagsA] |= kA04;
    pm16(kChangeAck, m16(kChangeReq));
    // What was read now is what later passes compare against.
    g.saved_io_word = le16(io_config_bl);
    g.saved_io_dword = le32(io_config_bl + 4);
    g.saved_etn = EtnConfp;
    for (int iface : {0, 2, 3}) {
        uint8_t rec[24];
        persist_read(iface, rec);
        if (le32(rec) != kPersistMagic) {
            std::memset(rec, 0, sizeof rec);
            put_le32(rec, kPersistMagic);
            persist_write(iface, rec);
        }
        int none = DprParseConfig(iface);
        uint8_t *r = Dpr_Configuration[iface];
        if (none) {
            r[kFlagsB] |= kBServicesOff;
            for (int i = 0; i < 4; ++i)
                put_le32(r + kAddress + 4 * i, le32(rec + 4 + 4 * i));
        } else {
            r[kFlagsB] &= uint8_t(~kBServicesOff);
            for (int i = 0; i < 4; ++i)
                put_le32(rec + 4 + 4 * i, le32(r + kAddress + 4 * i));
            persist_write(iface, rec);
        }
    }
    Etn_UpdateSecurity();
}

void Dpr_Io_Service() {
    using namespace dprmap;
    if (sr_get(sr::kRunMode) != 2) {
        pm16(kRunWord, 0);
    } else if (m16(kRunWord) == 0) {
        if (RegTokLen_16b) {
            T_token = 12288;
            M_token = 14336;
        } else {
            T_token = reg::kRefET;
            M_token = reg::kRefEM;
        }
        for (int iface : {0, 2, 3})
            DprParseConfig(iface);
        pm16(kRunWord, 1);
    }
    std::memcpy(map() + kSrCopy, plc_reg + sr_offset(44), 12);
    uint16_t w = le16(io_config_bl);
    uint32_t d = le32(io_config_bl + 4);
    if ((w != g.saved_io_word || d != g.saved_io_dword || EtnConfp != g.saved_etn) &&
        !Cmd_Downloading) {
        g.saved_io_word = w;
        g.saved_io_dword = d;
        g.saved_etn = EtnConfp;
        if (m16(kChangeReq) == m16(kChangeAck)) pm16(kChangeReq, uint16_t(~m16(kChangeAck)));
    }
}

// ---- register movers -------------------------------------------------------

uint8_t *Dpr_Data_Block(uint32_t ref, uint32_t bits, uint8_t *buf, int to_regs, int mode) {
    uint8_t *reg = PlcReg_Ptr(ref, bits);
    DprClearSemaphore();
    if (!reg || !buf || (mode != 0 && mode != 1)) return reg;
    if (ref % 8 == 0 && bits % 8 == 0) {
        if (to_regs)
            std::memcpy(reg, buf, bits / 8);
        else
            std::memcpy(buf, reg, bits / 8);
        return reg;
    }
    // Bit by bit from the reference's bit; the pointer is at its byte.
    uint32_t first = ref % 8;
    for (uint32_t i = 0; i < bits; ++i) {
        uint32_t b = first + i;
        uint8_t &rb = reg[b / 8];
        uint8_t m = uint8_t(1u << (b % 8));
        if (to_regs) {
            bool on = mode == 0 ? (buf[i / 8] >> (i % 8)) & 1 : buf[i] & 1;
            rb = on ? uint8_t(rb | m) : uint8_t(rb & ~m);
        } else if (mode == 0) {
            uint8_t bm = uint8_t(1u << (i % 8));
            buf[i / 8] = (rb & m) ? uint8_t(buf[i / 8] | bm) : uint8_t(buf[i / 8] & ~bm);
        } else {
            buf[i] = (rb & m) ? 1 : 0;
        }
    }
    return reg;
}

uint8_t Dpr_Get_Char_Data(uint32_t ref) {
    uint8_t v = 0;
    PlcReg_Get(&v, ref, 8);
    DprClearSemaphore();
    return v;
}
void Dpr_Set_Char_Data(uint32_t ref, uint8_t v) {
    PlcReg_Set(ref, &v, 8);
    DprClearSemaphore();
}
uint16_t Dpr_Get_W_Data(uint32_t ref) {
    uint8_t b[2] = {};
    PlcReg_Get(b, ref, 16);
    DprClearSemaphore();
    return le16(b);
}
void Dpr_Set_W_Data(uint32_t ref, uint16_t v) {
    uint8_t b[2];
    put_le16(b, v);
    PlcReg_Set(ref, b, 16);
    DprClearSemaphore();
}
uint32_t Dpr_Get_Dw_Data(uint32_t ref) {
    uint8_t b[4] = {};
    PlcReg_Get(b, ref, 32);
    DprClearSemaphore();
    return le32(b);
}
void Dpr_Set_Dw_Data(uint32_t ref, uint32_t v) {
    uint8_t b[4];
    put_le32(b, v);
    PlcReg_Set(ref, b, 32);
    DprClearSemaphore();
}

void Dpr_Add_Egd_Status_Req(uint32_t ref, uint16_t length, int index) {
    using namespace dprmap;
    if (index < 0 || uint32_t(index) >= (kMailArea - kEgdStatus) / kEgdStatusEntry) return;
    uint8_t *e = map() + kEgdStatus + uint32_t(index) * kEgdStatusEntry;
    put_le32(e, ref);
    put_le16(e + 4, uint16_t((length & 0x7FF) * 8));
    pm16(kEgdStatusCount, uint16_t(std::max<int>(m16(kEgdStatusCount), index + 1)));
}

void Dpr_Set_Egd_Status(uint16_t value, int index) {
    using namespace dprmap;
    if (index < 0 || uint32_t(index) >= (kMailArea - kEgdStatus) / kEgdStatusEntry) return;
    uint8_t *e = map() + kEgdStatus + uint32_t(index) * kEgdStatusEntry;
    uint32_t ref = le32(e);
    if (ref) Dpr_Set_W_Data(ref, value);
    put_le16(e + 6, uint16_t(le16(e + 6) + 1));
}

int EtnValidateReq(uint32_t r, uint32_t n) {
    if (g.hooks.iec_active && g.hooks.iec_active() && (r >> 30) == 3) return 0;
    if (r < 1024) return 1;
    uint64_t end = uint64_t(r) + n;
    static constexpr uint32_t kBase[] = {1280, 1536, 1792, 2048, 2560, 3072, 6144, 10240};
    for (uint32_t b : kBase)
        if (r < b) return end > b ? 1 : 0;
    if (r < 22527) return end > 22528 ? 1 : 0;
    // The extended %T and %M areas, bounded at their own ends.
    if (r >= reg::kRefET && r < reg::kRefETEnd) return end > reg::kRefETEnd ? 1 : 0;
    if (r >= reg::kRefEM && r < reg::kRefEMEnd) return end > reg::kRefEMEnd ? 1 : 0;
    if (r < 24576) return end > 24576 ? 1 : 0;
    // %R ends where the register image's direct areas end.
    if (r >= 32768) return end > reg::kRefDirectEnd ? 1 : 0;
    return end > 32768 ? 1 : 0;
}

int Dpr_Chk_Rd_Pending() {
    using namespace dprmap;
    auto pending = [](uint32_t table, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t *e = map() + table + i * kReqEntry;
            if (le32(e) == 0) break;
            if (e[6] != e[7]) return true;
        }
        return false;
    };
    return (pending(kReadTable1, kReadMax) ? 1 : 0) | (pending(kReadTable2, kReadMax) ? 2 : 0);
}

int Dpr_Chk_Wr_Pending() {
    using namespace dprmap;
    auto pending = [](uint32_t table, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t *e = map() + table + i * kReqEntry;
            if (le32(e) == 0) break;
            if (e[6] != e[7]) return true;
        }
        return false;
    };
    return (pending(kWriteTable1, kWriteMax) ? 1 : 0) | (pending(kWriteTable2, kWriteMax) ? 2 : 0);
}

int Dpr_Add_Req() {
    return 1;
}

void Dpr_Ask_Config(uint16_t a, uint16_t b) {
    pm16(dprmap::kQuery, a);
    pm16(dprmap::kQuery + 2, b);
}

void DprSetSemaphore() {}
void DprClearSemaphore() {
    DprMap[dprmap::kSemaphore] = 0;
}

// ---- programming channel ---------------------------------------------------

int Etn_CheckRx() {
    using namespace dprmap;
    return (DprMap[kRx] != DprMap[kRx + 1] || DprMap[kByteRx] != DprMap[kByteRx + 1]) ? 1 : 0;
}

uint8_t Etn_GetRx() {
    using namespace dprmap;
    if (DprMap[kByteRx] != DprMap[kByteRx + 1]) {
        DprMap[kByteRx] = DprMap[kByteRx + 1];
        return DprMap[kByteRx + 2];
    }
    uint16_t len = std::min<uint16_t>(m16(kRxLen), kRxMax);
    uint8_t c = VibusRxIndx < len ? DprMap[kRxData + VibusRxIndx] : 0;
    ++VibusRxIndx;
    if (VibusRxIndx >= len) {
        VibusRxIndx = 0;
        pm16(kRxLen, 0);
        DprMap[kRx] = DprMap[kRx + 1];
    }
    return c;
}

void Etn_FlushRx() {
    using namespace dprmap;
    if (!Etn_CheckRx()) return;
    VibusRxIndx = 0;
    DprMap[kRx] = DprMap[kRx + 1];
    DprMap[kByteRx] = DprMap[kByteRx + 1];
}

void Etn_PutTx(uint8_t c) {
    using namespace dprmap;
    if (c == 112) {
        DprMap[kControl] = DprMap[kControl] == 0 ? 1 : 0;
        return;
    }
    DprMap[kTxData] = c;
    pm16(kTxLen, 1);
    DprMap[kTx] = uint8_t(~DprMap[kTx + 1]);
}

void Etn_PutnTx(const uint8_t *bytes, uint32_t n) {
    using namespace dprmap;
    n = std::min(n, kTxMax);
    std::memcpy(DprMap + kTxData, bytes, n);
    pm16(kTxLen, uint16_t(n));
    DprMap[kTx] = uint8_t(~DprMap[kTx + 1]);
}

void Etn_UpdateStatus() {
    host::trace("Etn_UpdateStatus");
    uint8_t b[2] = {};
    PlcReg_Get(b, 3520, 16);
    pm16(dprmap::kNetId, le16(b));
}

void Etn_UpdateSecurity() {
    using namespace dprmap;
    // The security record: u16 flags, u16 security word, then three entries of
    // a 4-byte password and a level byte.
    const uint8_t *s = plc_reg + app::kSecurityOffset;
    DprMap[kSecurityFlags] = uint8_t(le16(s) & ~0x10);
    put_le32(DprMap + kSecurityWord, le16(s + 2));
    for (int i = 0; i < 3; ++i) {
        std::memcpy(DprMap + kPasswords + 4 * i, s + 4 + 5 * i, 4);
        DprMap[kLevels + i] = s[4 + 5 * i + 4];
    }
}

void Dpr_Reset() {
    std::memset(Dpr_Configuration, 0, sizeof Dpr_Configuration);
    std::memset(DprMap, 0, sizeof DprMap);
    Dpr_Map_Ptr = nullptr;
    VibusRxIndx = 0;
    T_token = M_token = 0;
    NTP_Enabled = Ntp_ConfigReset = Invalid_reg_flag = 0;
    EGD_Index_Count = 0;
    DprHooks keep = g.hooks;
    g = State{};
    g.hooks = keep;
}
