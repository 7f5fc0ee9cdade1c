// The Ethernet manager and ping.
#include "net/enet.h"

#include "base/le.h"
#include "base/trace.h"
#include "net/dpr.h"
#include "net/protocols.h"
#include "net/tx.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace dprcfg;

uint32_t EnetIpAddress[kEnetPorts], EnetNetMask[kEnetPorts], EnetGateway[kEnetPorts],
    EnetDns[kEnetPorts];
uint8_t Enet_LinkUp[kEnetPorts];
uint32_t EnetLinkUpTimer[kEnetPorts];
uint8_t clearIpFlag[kEnetPorts];
uint8_t IpAddr0Change, IpAddr1Change, IpAddr2Change, IpAddr3Change;
NxIpInstance Enet_IpInstance[kEnetPorts];
NxPacketPool EnetPacketPoolCtrl;
uint8_t EnetPacketPool[kEnetPoolBytes];
uint32_t EnetPortScan;
uint8_t firstTimeDnsSet = 1, MasterRestartOn;
uint32_t NTP_LastSysSec;
uint16_t prot_run_bit, reset_flg;

namespace {

const char *const kNames[kEnetPorts] = {"eth0", "eth1", "mlan0", "uap0"};

struct PingRec {
    NxIpInstance *ip = nullptr;
    uint32_t target = 0, timeout = 0, sent_at = 0;
    int32_t result = -1;
};

struct Activity {
    uint32_t packets = 0, at = 0;
    uint16_t status = 0;
};

struct State {
    EnetHooks hooks{};
    bool initialised = false;
    PingRec ping[kEnetPorts];
    Activity tx[kEnetPorts], rx[kEnetPorts];
    bool web_stop_wait = false; // a stop of the web server is being waited for
    bool init_reported = false;
};
State g;

// The hooks, with what an unset one means: nothing there.
uint8_t g_no_flag[5];
uint8_t &web(uint8_t *p, int i) {
    return p ? *p : g_no_flag[i];
}
#define ParviServerState web(g.hooks.web_state, 0)
#define ParviHttp web(g.hooks.web_http, 1)
#define ParviFtping web(g.hooks.web_ftping, 2)
#define ParviThreadCreated web(g.hooks.web_thread, 3)
#define ParviUpdateNewIp web(g.hooks.web_new_ip, 4)
uint16_t EtnEmailInit(NxIpInstance *ip, NxPacketPool *pool) {
    return g.hooks.email_init ? g.hooks.email_init(ip, pool) : 0;
}
void EtnEmailScan(int n) {
    if (g.hooks.email_scan) g.hooks.email_scan(n);
}
uint32_t EtnEmailConnCnt() {
    return g.hooks.email_conn_cnt ? g.hooks.email_conn_cnt() : 0;
}
int EtnEmailDiscnt() {
    return g.hooks.email_discnt ? g.hooks.email_discnt() : 1;
}
uint16_t EtnVComm_Init(NxIpInstance *ip, NxPacketPool *pool) {
    return g.hooks.vcomm_init ? g.hooks.vcomm_init(ip, pool) : 0;
}
void EtnVComm_Scan(int p) {
    if (g.hooks.vcomm_scan) g.hooks.vcomm_scan(p);
}
void EtnVComm_DeInit(int p) {
    if (g.hooks.vcomm_deinit) g.hooks.vcomm_deinit(p);
}
uint32_t EtnVComm_Conn_Cnt(int p) {
    return g.hooks.vcomm_conn_cnt ? g.hooks.vcomm_conn_cnt(p) : 0;
}

uint32_t now_ms() {
    return _tx_time_get();
}

bool script_runs() {
    return g.hooks.master_runs && g.hooks.master_runs() && g.hooks.master_write;
}

// One line to the master script, `n` bytes of it (one more than the text
// counts the NUL).
void master(const char *text, size_t n, const char *what = "write") {
    if (!script_runs()) return;
    if (!g.hooks.master_write(text, n)) std::perror(what);
}
void master_line(const char *text) {
    master(text, std::strlen(text) + 1);
}
void master_fsync() {
    if (g.hooks.master_fsync) g.hooks.master_fsync();
}
void sync_all() {
    if (g.hooks.sync) g.hooks.sync();
}

uint8_t *cfg(int p) {
    return Dpr_Configuration[p];
}

bool wifi_skipped(int p) {
    if (p == 1) return true;
    if (p < 2) return false;
    uint8_t mode = wifiCntFlw.mode;
    if (mode == 0) return true;
    if (p == 3 && mode == 2) return true;
    if (p == 2 && mode == 1) return true;
    return false;
}

bool any_http_pages() {
    for (int p = 0; p < kEnetPorts; ++p)
        if (cfg(p)[kFlagsA] & kAHttp) return true;
    return false;
}

// An account text fit for a daemon's "name:password" line: no separator and
// no line break inside.
bool clean_text(const uint8_t *t) {
    for (; *t; ++t)
        if (*t == ':' || *t == '\r' || *t == '\n') return false;
    return true;
}

void write_service_files() {
    if (!g.hooks.write_file) return;
    for (int p : {0, 2, 3}) {
        std::string conf = "ftp" + std::to_string(p) + "\n";
        if (NTP_Enabled == 1) conf += "ntp" + std::to_string(p) + "\n";
        g.hooks.write_file("/opt/velmor/main_conf", conf.c_str(), p != 0);
        std::string n = std::to_string(p + 1);
        std::string pwd = "/opt/velmor/ftp/newpwdfile" + n;
        std::string chroot = "/opt/velmor/ftp/newvsftpd.chroot_list" + n;
        if (cfg(p)[kFlagsA] & kAFtp) {
            std::string a, b;
            for (int i = 0; i < 2; ++i) {
                const uint8_t *acct = cfg(p) + kFtp + i * kAccountBytes;
                const uint8_t *name = acct, *pass = acct + kTextBytes;
                if (!name[0] || !pass[0]) continue;
                // Accounts that would break the daemon's files are left out.
                if (!clean_text(name) || !clean_text(pass)) continue;
                a += std::string(reinterpret_cast<const char *>(name)) + ":" +
                     reinterpret_cast<const char *>(pass) + "\n";
                b += std::string(reinterpret_cast<const char *>(name)) + ":" +
                     (acct[3 * kTextBytes] == 0 ? "1" : "0") + "\n";
            }
            g.hooks.write_file(pwd.c_str(), a.c_str(), false);
            g.hooks.write_file(chroot.c_str(), b.c_str(), false);
        } else if (g.hooks.remove_file) {
            g.hooks.remove_file(pwd.c_str());
            g.hooks.remove_file(chroot.c_str());
        }
    }
}

// The web server is asked to stop; later passes look whether it did.
void web_stop() {
    ParviServerState = 0;
    g.web_stop_wait = true;
}
bool web_stopped() {
    return ParviFtping || !ParviThreadCreated;
}

void configuration_change() {
    if (script_runs()) {
        master("stopall\n", 9);
        master_fsync();
    }
    MasterRestartOn = 1;
    NTP_Enabled = 0;
    Dpr_Config();
    if (script_runs()) {
        write_service_files();
        sync_all();
        master("startall\n", 10);
    }
    for (uint32_t p = 0; p < EnetPortScan; ++p) {
        if (p == 1) continue;
        Egd_Config(int(p));
        Modbus_Stop(int(p));
    }
    if (any_http_pages() && ParviServerState != 1 && !ParviFtping) web_stop();
}

void interface0_address(NxIpInstance &ip, int p) {
    bool dhcp = cfg(p)[kDhcp] != 0;
    if (!ip.link_up) {
        ip.fallback_tried = 0;
        if (clearIpFlag[0] == 0) {
            EnetIpAddress[0] = kEnetFallbackAddress;
            _nx_ip_address_set(&ip, EnetIpAddress[0], EnetNetMask[0]);
            clearIpFlag[0] = 1;
        }
        ip.dhcp_active = 0;
        dhcpScan(0, p);
    } else if (dhcp) {
        if (!ip.fallback_tried) {
            ip.fallback_tried = 1;
            EnetIpAddress[0] = kEnetFallbackAddress;
            EnetNetMask[0] = 0xFFFFFF00;
            _nx_ip_address_set(&ip, EnetIpAddress[0], EnetNetMask[0]);
            ip.fallback_in_force = 1;
            ip.to_be_cleared = 0;
            EnetIpAddress[0] = EnetNetMask[0] = 0;
            _nx_ip_address_set(&ip, 0, 0);
        }
        ip.dhcp_active = 1;
        dhcpScan(1, p);
    } else {
        ip.to_be_cleared = 1;
        ip.fallback_in_force = ip.fallback_tried = ip.dhcp_active = 0;
        dhcpScan(0, p);
    }
}

void status_register(int p) {
    NxIpInstance &ip = Enet_IpInstance[p];
    uint32_t ref = DprCfg32(p, kStatusReg);
    uint32_t tx = 0, rx = 0, speed = 0, duplex = 0;
    _nx_ip_driver_direct_command(&ip, kNxLinkTxCount, &tx);
    _nx_ip_driver_direct_command(&ip, kNxLinkRxCount, &rx);
    _nx_ip_driver_direct_command(&ip, kNxLinkSpeed, &speed);
    _nx_ip_driver_direct_command(&ip, kNxLinkDuplex, &duplex);
    uint32_t now = now_ms();
    auto activity = [now](Activity &a, uint32_t count, uint16_t bit) {
        if (count != a.packets) {
            a.packets = count;
            a.at = now;
            a.status = bit;
        } else if (now - a.at > 19) {
            a.status = 0;
        }
        return a.status;
    };
    uint16_t w = 0;
    if (ip.link_up) w |= 0x100;
    w |= activity(g.tx[p], tx, 0x200);
    w |= activity(g.rx[p], rx, 0x400);
    if (speed == 1) w |= 0x1000;
    if (speed == 2) w |= 0x4000;
    if (duplex) w |= 0x2000;
    uint32_t conns = Egd_ConnCnt(p) + Vibus_ConnCnt(p) + Modbus_Conn_Cnt(p) + Srtp_Conn_Cnt(p) +
                     Http_ConnCnt(p) + Eip_Conn_Cnt(p) + EtnVComm_Conn_Cnt(p) + Ascii_cnn_cnt(p) +
                     EtnIo_Conn_Cnt(p) + Ftp_ConnCnt(p);
    if (p == 0 || (p == 2 && wifiCntFlw.mode == 2)) conns += EtnEmailConnCnt();
    w = uint16_t(w | conns); // ORed in: more than 255 reaches the status bits
    if (ref >= 1024) Dpr_Set_W_Data(ref, w);
    uint32_t ver = DprCfg32(p, kVersionReg);
    if (ver >= 1024) Dpr_Set_W_Data(ver, dprmap::kRevision);
}

// One restart request of %SR156 (interface 0) or %SR153 (interface 1).
void restart_requests() {
    const int regs[2] = {156, 153};
    for (int i = 0; i < 2; ++i) {
        uint16_t req = sr_get(regs[i]);
        NxIpInstance &ip = Enet_IpInstance[i];
        uint16_t ftp_busy = i == 0 ? 0x04 : 0x80;
        const char *marker =
            i == 0 ? "/opt/velmor/ftp/started1.txt" : "/opt/velmor/ftp/started2.txt";
        if (i == 1 && (prot_run_bit & 0x04)) break; // interface 0's FTP restart is served first
        if (req & 0x08) {
            if (!script_runs()) {
                // No script recreates the marker: the request ends at once and
                // takes no busy mask that would block the other restarts.
                sr_put(regs[i], uint16_t(req & ~0x08));
            } else if (!(prot_run_bit & ftp_busy) && prot_run_bit == 0) {
                prot_run_bit |= ftp_busy;
                if (g.hooks.file_exists && g.hooks.file_exists(marker) && g.hooks.remove_file)
                    g.hooks.remove_file(marker);
                master(i == 0 ? "stop0\n" : "stop1\n", 6, "master write errno");
                master(i == 0 ? "start0\n" : "start1\n", 7, "master write errno");
                reset_flg = 1;
            } else if ((prot_run_bit & ftp_busy) && g.hooks.file_exists &&
                       g.hooks.file_exists(marker)) {
                sr_put(regs[i], uint16_t(sr_get(regs[i]) & ~0x08));
                reset_flg = 0;
                prot_run_bit &= uint16_t(~ftp_busy);
            }
            req = sr_get(regs[i]);
        }
        uint16_t mb_busy = i == 0 ? 0x02 : 0x40, egd_busy = i == 0 ? 0x01 : 0x20;
        if ((req & 0x02) && (prot_run_bit == 0 || prot_run_bit == mb_busy)) {
            Modbus_Stop(i);
            Modbus_Init(&ip, &EnetPacketPoolCtrl);
            sr_put(regs[i], uint16_t(sr_get(regs[i]) & ~0x02));
        }
        if ((req & 0x01) && (prot_run_bit == 0 || prot_run_bit == egd_busy)) {
            Egd_DeInit(i);
            Egd_Init(&ip, &EnetPacketPoolCtrl);
            sr_put(regs[i], uint16_t(sr_get(regs[i]) & ~0x01));
        }
        if (i != 0) continue;
        if (req & 0x10) {
            if (prot_run_bit == 0) {
                prot_run_bit |= 0x08;
                if (ParviServerState > 1 && !ParviFtping) {
                    web_stop();
                } else if (ParviServerState == 1 && !ParviFtping) {
                    reset_flg = 1;
                    ParviServerState = 2;
                }
            } else if (prot_run_bit == 0x08) {
                if (ParviServerState == 1 && !ParviFtping && !reset_flg) {
                    reset_flg = 1;
                    ParviServerState = 2;
                } else if (ParviServerState == 4) {
                    sr_put(156, uint16_t(sr_get(156) & ~0x10));
                    reset_flg = 0;
                    prot_run_bit = 0;
                }
            }
        }
        if ((sr_get(156) & 0x20) && (prot_run_bit == 0 || prot_run_bit == 0x10)) {
            prot_run_bit |= 0x10;
            if (EtnEmailDiscnt()) {
                sr_put(156, uint16_t(sr_get(156) & ~0x20));
                prot_run_bit &= uint16_t(~0x10);
            }
        }
    }
}

void first_call() {
    Dpr_Init();
    Dpr_Config();
    for (int p : {0, 2, 3})
        EnetGetIpAddress(p);
    Enet_LinkUp[0] = 0;
    EnetLinkUpTimer[0] = 0;
    _nx_system_initialize();
    _nx_packet_pool_create(&EnetPacketPoolCtrl, "Packet Pool", kEnetPayload, EnetPacketPool,
                           kEnetPoolBytes);
    _nx_ip_create(&Enet_IpInstance[0], "eth0", EnetIpAddress[0], EnetNetMask[0],
                  &EnetPacketPoolCtrl, Etn_Driver, nullptr, 0, 0);
    EnetPortScan = 2;
    WiFi_Init(&wifiCntFlw);
    for (int p : {2, 3}) {
        Enet_LinkUp[p] = 0;
        EnetLinkUpTimer[p] = 0;
        _nx_ip_create(&Enet_IpInstance[p], kNames[p], EnetIpAddress[p], EnetNetMask[p],
                      &EnetPacketPoolCtrl, Etn_Driver, nullptr, 0, 0);
    }
    EnetPortScan += 2;
    Etn_IrqInit();
}

} // namespace

void Enet_SetHooks(const EnetHooks &hooks) {
    g.hooks = hooks;
}

bool Enet_Initialised() {
    return g.initialised;
}

uint16_t Protocols_Init(int p) {
    NxIpInstance *ip = &Enet_IpInstance[p];
    NxPacketPool *pool = &EnetPacketPoolCtrl;
    uint32_t v;
    _nx_ip_driver_direct_command(ip, kNxLinkQuery, &v);
    _nx_arp_enable(ip);
    _nx_igmp_enable(ip);
    _nx_udp_enable(ip);
    _nx_tcp_enable(ip);
    uint16_t r = 0;
    r |= uint16_t(_nx_icmp_enable(ip) == kNxSuccess ? 0 : 1);
    Ping_Init(ip);
    r |= Egd_Init(ip, pool);
    r |= Vibus_Init(ip, pool);
    r |= Modbus_Init(ip, pool);
    r |= Srtp_Init(ip, pool);
    r |= Http_Init(ip, pool);
    if (p < 2) r |= Eip_Init(ip, pool);
    r |= EtnVComm_Init(ip, pool);
    if (p == 2 && wifiCntFlw.mode != 2) {
        r |= Ascii_Init(ip, pool);
        r |= EtnIo_Init(ip, pool);
        return r;
    }
    if (p == 0 || p == 2) r |= EtnEmailInit(ip, pool);
    r |= Ascii_Init(ip, pool);
    r |= EtnIo_Init(ip, pool);
    if (p < 2) dhcpInit(ip, pool, cfg(p)[kDhcp], p);
    return r;
}

void Protocols_DeInit(int p) {
    Egd_DeInit(p);
    Vibus_DeInit(p);
    Modbus_DeInit(p);
    EtnVComm_DeInit(p);
    Srtp_DeInit(p);
    Http_DeInit(p);
    Eip_DeInit(p);
    EtnIo_DeInit(p);
    Ascii_DeInit(p);
}

void EnetGetIpAddress(int p) {
    uint8_t *r = cfg(p);
    NxIpInstance &ip = Enet_IpInstance[p];
    struct Item {
        uint32_t field, reg;
        bool from_reg;
    };
    const Item items[4] = {
        {kAddress, kAddressReg, (r[kFlagsB] & kBAddrFromReg) != 0},
        {kMask, kMaskReg, (r[kFlagsB] & kBMaskFromReg) != 0},
        {kGateway, kGatewayReg, (r[kFlagsB] & kBGwFromReg) != 0},
        {kDns, kDnsReg, (r[kFlagsC] & kCDnsFromReg) != 0},
    };
    uint32_t out[4];
    for (int i = 0; i < 4; ++i) {
        const Item &it = items[i];
        uint32_t ref = DprCfg32(p, it.reg);
        uint32_t v;
        if (it.from_reg) {
            v = ref >= 1024 ? Dpr_Get_Dw_Data(ref) : 0;
            r[kDhcp] = 0;
        } else {
            if (i == 0 && (r[kFlagsB] & kBLastOctet)) {
                v = (DprCfg32(p, it.field) & 0xFFFFFF00u) | DprMap[dprmap::kNetId];
            } else if (r[kDhcp]) {
                if (!dhcpHasLease(p)) {
                    v = 0;
                    if (i < 2) {
                        ip.fallback_in_force = 1;
                        ip.to_be_cleared = 0;
                    }
                } else {
                    v = getFromDhcp(i, p);
                    if (i == 0 && v == 0) v = kEnetFallbackAddress;
                }
            } else {
                v = DprCfg32(p, it.field);
            }
            if (ref >= 1024) Dpr_Set_Dw_Data(ref, v);
        }
        out[i] = v;
    }
    for (int i = 0; i < 4; ++i)
        DprCfgPut32(p, items[i].field, out[i]);
    EnetIpAddress[p] = out[0];
    EnetNetMask[p] = out[1];
    EnetGateway[p] = out[2];
    EnetDns[p] = out[3];
}

void Ping_Init(NxIpInstance *ip) {
    ip->ping_outstanding = 0;
    ip->sent = 0;
    ip->received = 0;
    PingRec &r = g.ping[ip->index < kEnetPorts ? ip->index : 0];
    r = PingRec{};
    r.ip = ip;
}

int32_t Ping_Scan(uint32_t target, uint32_t timeout, int p) {
    PingRec &r = g.ping[p];
    NxIpInstance &ip = Enet_IpInstance[p];
    if (target != r.target || timeout != r.timeout) r.result = -1;
    r.target = target;
    r.timeout = timeout;
    if (target == 0) return r.result;
    uint32_t bcast = (ip.address & ip.mask) | ~ip.mask;
    if (ip.mask && target == bcast) return r.result;
    if (target == 0xFFFFFFFF || timeout < 100) return r.result;
    if (!ip.link_up) {
        r.result = -1;
        return r.result;
    }
    NxPacket *resp = nullptr;
    uint32_t st = _nx_icmp_ping(&ip, target, nullptr, 0, &resp, timeout);
    uint32_t now = now_ms();
    if (st == kNxSuccess) {
        r.result = int32_t(now - r.sent_at);
        if (resp) _nx_packet_release(resp);
    } else if (st == kNxInProgress) {
        r.sent_at = now;
    } else if (ip.received != ip.sent && now - r.sent_at > timeout) {
        r.result = -1;
        ip.received = ip.sent;
    }
    return r.result;
}

void EnetMain(int sliced) {
    host::trace("EnetMain");
    if (!g.initialised) {
        if (!Dpr_Map_Ptr) first_call();
        // A protocol that does not start is tried again on the next pass; the
        // loop goes on meanwhile.
        if (Protocols_Init(0) != 0) {
            if (!g.init_reported) std::fprintf(stderr, "network: protocols did not start\n");
            g.init_reported = true;
            return;
        }
        g.initialised = true;
    }

    // 1. Wi-Fi.
    WiFi_Scan(&wifiCntFlw);
    if (!wifiCntFlw.dongle) {
        EnetPortScan = 2;
    } else if (!wifiCntFlw.started) {
        if (wifiCntFlw.mode == 1 || wifiCntFlw.mode == 2) {
            Protocols_DeInit(2);
            Protocols_DeInit(3);
            if (Protocols_Init(2) == 0 && Protocols_Init(3) == 0) {
                EnetPortScan = 4;
                wifiCntFlw.started = 1;
            }
        } else {
            EnetPortScan = 2;
        }
    }

    // 2. Configuration change.
    if (le16(DprMap + dprmap::kChangeReq) != le16(DprMap + dprmap::kChangeAck))
        configuration_change();
    if (g.web_stop_wait && web_stopped()) {
        g.web_stop_wait = false;
        ParviHttp = 0;
    }

    // 3. Per interface.
    uint32_t now = now_ms();
    for (uint32_t pu = 0; pu < EnetPortScan; ++pu) {
        int p = int(pu);
        if (wifi_skipped(p)) continue;
        NxIpInstance &ip = Enet_IpInstance[p];
        uint32_t v;
        _nx_ip_driver_direct_command(&ip, kNxLinkQuery, &v);
        bool up = ip.link_up != 0;
        if (up && !Enet_LinkUp[p]) {
            if (EnetLinkUpTimer[p] == 0)
                EnetLinkUpTimer[p] = now ? now : 0xFFFFFFFF;
            else if (now - EnetLinkUpTimer[p] >= 2000)
                Enet_LinkUp[p] = 1;
        } else if (!up) {
            Enet_LinkUp[p] = 0;
            EnetLinkUpTimer[p] = 0;
        }
        bool wifi = p >= 2;
        EnetGetIpAddress(p);
        if (!wifi) {
            if (p == 0) interface0_address(ip, p);
            if (cfg(p)[kDhcp] && dhcpNegotiating(p)) continue;
            if (ip.link_up && (ip.address != EnetIpAddress[p] || ip.mask != EnetNetMask[p])) {
                _nx_ip_address_set(&ip, EnetIpAddress[p], EnetNetMask[p]);
                clearIpFlag[p] = 0;
                if (p == 0) {
                    ParviUpdateNewIp = 1;
                    IpAddr0Change = 1;
                }
            }
            uint32_t gw = EnetGateway[p];
            if (ip.gateway != gw && Enet_LinkUp[p] && !wifiCntFlw.ap_starting &&
                ((gw ^ ip.address) & ip.mask) == 0)
                _nx_ip_gateway_address_set(&ip, gw);
            if (firstTimeDnsSet || ip.dns != EnetDns[p]) {
                if (script_runs()) {
                    uint32_t d = EnetDns[p];
                    char line[64];
                    std::snprintf(line, sizeof line, "dnsSet_%d_%ld_%d.%d.%d.%d\n", 4, long(p),
                                  int(d >> 24), int((d >> 16) & 255), int((d >> 8) & 255),
                                  int(d & 255));
                    master_line(line);
                    ip.dns = d;
                }
                firstTimeDnsSet = 0;
            }
        }
        Vibus_Scan(p);
        if ((cfg(p)[kFlagsB] & kBServicesOff) || EnetIpAddress[p] == 0) continue;
        uint32_t target_ref = DprCfg32(p, kPingTarget), status_ref = DprCfg32(p, kPingStatus);
        int32_t res;
        if ((cfg(p)[kFlagsA] & kAPing) && target_ref >= 1024)
            res = Ping_Scan(Dpr_Get_Dw_Data(target_ref), DprCfg32(p, kPingTimeout), p);
        else
            res = Ping_Scan(0, 0, p);
        if (status_ref >= 1024) Dpr_Set_Dw_Data(status_ref, uint32_t(res));
        Egd_Scan(p);
        Modbus_Scan(p);
        Srtp_Scan(p);
        Http_Scan(p);
        Eip_Scan(p);
        EtnVComm_Scan(p);
        if (!sliced && (p == 0 || (p == 2 && wifiCntFlw.mode == 2))) EtnEmailScan(1);
        Ascii_Scan(p);
        EtnIo_Scan(p);
    }

    // 4. The master script's restarts and the time server's clock.
    if (script_runs()) {
        if (MasterRestartOn) {
            MasterRestartOn = 0;
        } else {
            NxIpInstance *ips = Enet_IpInstance;
            if (IpAddr0Change && IpAddr1Change) {
                if (ips[0].link_up && ips[1].link_up) {
                    master("stopall\n", 9);
                    sync_all();
                    IpAddr0Change = IpAddr1Change = 0;
                    master("startall\n", 10);
                    master_fsync();
                }
            } else if (IpAddr1Change) {
                if (ips[1].link_up) {
                    master("stop1\n", 7);
                    sync_all();
                    IpAddr1Change = 0;
                    master("start1\n", 8);
                }
            } else if (IpAddr0Change) {
                if (ips[0].link_up) {
                    master("stop0\n", 7);
                    sync_all();
                    IpAddr0Change = 0;
                    master("start0\n", 8);
                }
            }
            if ((IpAddr2Change && ips[2].link_up) || (IpAddr3Change && ips[3].link_up)) {
                master("stop2\n", 7);
                master("stop3\n", 7);
                sync_all();
                if (IpAddr2Change) {
                    IpAddr2Change = 0;
                    master("start2\n", 8);
                } else {
                    IpAddr3Change = 0;
                    master("start3\n", 8);
                }
            }
        }
        if (NTP_Enabled && !Cmd_Downloading && g.hooks.wall_seconds) {
            uint32_t sec = g.hooks.wall_seconds();
            if (sec != NTP_LastSysSec) {
                NTP_LastSysSec = sec;
                if (g.hooks.clock_to_registers) g.hooks.clock_to_registers(sec);
            }
        }
    }

    // 5.
    if (!any_http_pages()) ParviHttp = 1;

    // 6. Status registers.
    for (uint32_t pu = 0; pu < EnetPortScan; ++pu)
        if (!wifi_skipped(int(pu))) status_register(int(pu));

    // 7. Statistics stay in the exchange block: bytes 66-89 of the image
    // belong to %S and %K.
    put_le32(DprMap + dprmap::kStats, EnetPacketPoolCtrl.available);
    for (int i = 1; i < 6; ++i)
        put_le32(DprMap + dprmap::kStats + 4 * i, 0);

    // 8. Restart requests.
    restart_requests();

    // 9.
    Dpr_Io_Service();
    EnetThread();
}

void Enet_Describe(char *out, size_t n) {
    std::string s;
    for (int p = 0; p < kEnetPorts; ++p) {
        const NxIpInstance &ip = Enet_IpInstance[p];
        char line[160];
        std::snprintf(line, sizeof line, "%s %u.%u.%u.%u/%u.%u.%u.%u link %s\n", kNames[p],
                      ip.address >> 24, (ip.address >> 16) & 255, (ip.address >> 8) & 255,
                      ip.address & 255, ip.mask >> 24, (ip.mask >> 16) & 255, (ip.mask >> 8) & 255,
                      ip.mask & 255, ip.link_up ? "up" : "down");
        s += line;
    }
    for (int i = 0; i < kConnSockSlots; ++i) {
        const NxTcpSocket *c = ConnSock[i];
        if (!c) continue;
        char line[160];
        std::snprintf(line, sizeof line, "sock %d %s state %u port %u peer %u.%u.%u.%u:%u\n", i,
                      c->name ? c->name : "-", c->state, c->local_port, c->peer_addr >> 24,
                      (c->peer_addr >> 16) & 255, (c->peer_addr >> 8) & 255, c->peer_addr & 255,
                      c->peer_port);
        s += line;
    }
    uint32_t free_packets = 0;
    const NxPacketPool &pool = EnetPacketPoolCtrl;
    if (pool.first) {
        for (uint32_t i = 0; i < pool.total; ++i) {
            const NxPacket *p = reinterpret_cast<const NxPacket *>(
                pool.start + i * (kNxPacketHeader + pool.payload));
            free_packets += p->state == kNxPacketFree;
        }
    }
    char line[80];
    std::snprintf(line, sizeof line, "pool %u free of %u\n", free_packets, pool.total);
    s += line;
    std::snprintf(out, n, "%s", s.c_str());
}

void Enet_Reset() {
    std::memset(EnetIpAddress, 0, sizeof EnetIpAddress);
    std::memset(EnetNetMask, 0, sizeof EnetNetMask);
    std::memset(EnetGateway, 0, sizeof EnetGateway);
    std::memset(EnetDns, 0, sizeof EnetDns);
    std::memset(Enet_LinkUp, 0, sizeof Enet_LinkUp);
    std::memset(EnetLinkUpTimer, 0, sizeof EnetLinkUpTimer);
    std::memset(clearIpFlag, 0, sizeof clearIpFlag);
    IpAddr0Change = IpAddr1Change = IpAddr2Change = IpAddr3Change = 0;
    std::memset(Enet_IpInstance, 0, sizeof Enet_IpInstance);
    std::memset(&EnetPacketPoolCtrl, 0, sizeof EnetPacketPoolCtrl);
    EnetPortScan = 0;
    firstTimeDnsSet = 1;
    MasterRestartOn = 0;
    NTP_LastSysSec = 0;
    prot_run_bit = reset_flg = 0;
    EnetHooks keep = g.hooks;
    g = State{};
    g.hooks = keep;
}
