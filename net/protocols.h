// The protocol servers and clients the Ethernet manager starts, scans and
// stops per interface, and the DHCP client and Wi-Fi manager it consults.
// Each Init returns 0 when the protocol started.
#pragma once
#include "net/nx_api.h"

#include <cstdint>

#define NET_PROTOCOL(P, CNT)                                                                       \
    uint16_t P##_Init(NxIpInstance *ip, NxPacketPool *pool);                                       \
    void P##_Scan(int iface);                                                                      \
    void P##_DeInit(int iface);                                                                    \
    uint32_t P##_##CNT(int iface);
NET_PROTOCOL(Vibus, ConnCnt)
NET_PROTOCOL(Egd, ConnCnt)
NET_PROTOCOL(Modbus, Conn_Cnt)
NET_PROTOCOL(Srtp, Conn_Cnt)
NET_PROTOCOL(Http, ConnCnt)
NET_PROTOCOL(Eip, Conn_Cnt)
NET_PROTOCOL(Ascii, cnn_cnt)
NET_PROTOCOL(EtnIo, Conn_Cnt)
#undef NET_PROTOCOL
void Egd_Config(int iface);
void Modbus_Stop(int iface);
// The built-in FTP server is never started; its count is that of its connected sockets.
uint32_t Ftp_ConnCnt(int iface);

// DHCP client: items 0 address, 1 mask, 2 gateway, 3 DNS server.
void dhcpInit(NxIpInstance *ip, NxPacketPool *pool, int dhcp, int iface);
void dhcpScan(int active, int iface);
int dhcpHasLease(int iface);
uint32_t getFromDhcp(int item, int iface);
int dhcpNegotiating(int iface);

// Wi-Fi manager's state as the Ethernet manager reads it.
struct WifiCntFlw {
    uint8_t dongle;      // a Wi-Fi dongle is present
    uint8_t mode;        // 0 off, 1 access point, 2 station
    uint8_t started;     // the Wi-Fi interfaces' protocols are started
    uint8_t ap_starting; // an access-point start is in progress
};
extern WifiCntFlw wifiCntFlw;
void WiFi_Init(WifiCntFlw *w);
void WiFi_Scan(WifiCntFlw *w);
