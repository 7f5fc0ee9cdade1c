// The Ethernet manager: brings the network side up on the first pass, then
// every pass follows links and addresses per interface, runs each protocol's
// scan, feeds the master start-up script, keeps the status registers, serves
// the restart requests of %SR156 and %SR153, and lets the socket layer poll.
#pragma once
#include "net/nx_api.h"

#include <cstddef>
#include <cstdint>

constexpr int kEnetPorts = 4;
constexpr uint32_t kEnetPoolBytes = 312'800, kEnetPayload = 1520;
constexpr uint32_t kEnetFallbackAddress = 0xC0A8FE80; // 192.168.254.128

extern uint32_t EnetIpAddress[kEnetPorts], EnetNetMask[kEnetPorts], EnetGateway[kEnetPorts],
    EnetDns[kEnetPorts];
extern uint8_t Enet_LinkUp[kEnetPorts];
extern uint32_t EnetLinkUpTimer[kEnetPorts];
extern uint8_t clearIpFlag[kEnetPorts];
extern uint8_t IpAddr0Change, IpAddr1Change, IpAddr2Change, IpAddr3Change;
extern NxIpInstance Enet_IpInstance[kEnetPorts];
extern NxPacketPool EnetPacketPoolCtrl;
extern uint8_t EnetPacketPool[kEnetPoolBytes];
extern uint32_t EnetPortScan;
extern uint8_t firstTimeDnsSet, MasterRestartOn;
extern uint32_t NTP_LastSysSec;
extern uint16_t prot_run_bit, reset_flg;

// What the manager needs of the layers above it (set by the top layer).
struct EnetHooks {
    // The master script's pipe: writes one line, true when all of it went.
    // Null, or `master_runs` false, when no script runs.
    bool (*master_runs)();
    bool (*master_write)(const void *data, size_t n);
    void (*master_fsync)();
    void (*sync)(); // flushes the file systems (sync)
    bool (*write_file)(const char *board_path, const char *text, bool append);
    void (*remove_file)(const char *board_path);
    bool (*file_exists)(const char *board_path);
    uint32_t (*wall_seconds)();           // the panel's system clock
    void (*clock_to_registers)(uint32_t); // UtcSet of the controller clock from it
    // The web HMI server's flags (ParviServerState, ParviHttp, ParviFtping,
    // ParviThreadCreated, ParviUpdateNewIp), shared with its thread.
    uint8_t *web_state, *web_http, *web_ftping, *web_thread, *web_new_ip;
    // The e-mail client's and the virtual serial ports' socket sides.
    uint16_t (*email_init)(NxIpInstance *, NxPacketPool *);
    void (*email_scan)(int);
    uint32_t (*email_conn_cnt)();
    int (*email_discnt)();
    uint16_t (*vcomm_init)(NxIpInstance *, NxPacketPool *);
    void (*vcomm_scan)(int);
    void (*vcomm_deinit)(int);
    uint32_t (*vcomm_conn_cnt)(int);
};
void Enet_SetHooks(const EnetHooks &hooks);

void EnetMain(int sliced);
uint16_t Protocols_Init(int iface);
void Protocols_DeInit(int iface);
void EnetGetIpAddress(int iface);
void Ping_Init(NxIpInstance *ip);
int32_t Ping_Scan(uint32_t target, uint32_t timeout_ms, int iface);
// The Ethernet manager has brought the network side up.
bool Enet_Initialised();
// A text of the interfaces, sockets and pool (the panel's control socket).
void Enet_Describe(char *out, size_t n);
void Enet_Reset();
