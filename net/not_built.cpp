// Entry points of the network services that are not built yet.
#include "base/trace.h"
#include "net/net.h"
#include "net/protocols.h"
#include "platform/can.h"

#include <cstring>

using host::trace;

int Net_Test(int) {
    trace("Net_Test");
    return 0;
}
int Net_Status() {
    return 0;
}
void mqttStateLoop() {
    trace("mqttStateLoop");
}
void watchdogStModeStatus() {
    trace("watchdogStModeStatus");
}

uint8_t Net_Data[kNetNodes][kNetNodeBytes];
// Until the network layer lands, its set-up does the one step the CAN port
// needs from it: the channel starts with the settings (bit rate, frame mode).
void Net_Init(const uint8_t *settings) {
    trace("Net_Init");
    _Can_Init(0, settings);
}
void Net_Restart() {
    trace("Net_Restart");
}
void Net_RxHandler() {
    trace("Net_RxHandler");
}
void Net_SendPackets(int) {
    trace("Net_SendPackets");
}
int Net_ReqQG(int) {
    trace("Net_ReqQG");
    return 0;
}
int Net_ReqAQG(int) {
    trace("Net_ReqAQG");
    return 0;
}
int Net_GetQG(int, int, uint16_t *, int) {
    trace("Net_GetQG");
    return 0;
}
int Net_GetAQG(int, int, uint16_t *, int) {
    trace("Net_GetAQG");
    return 0;
}
int Net_QueQG(int, int, const uint16_t *, int) {
    trace("Net_QueQG");
    return 0;
}
int Net_QueAQG(int, int, const uint16_t *, int) {
    trace("Net_QueAQG");
    return 0;
}
int Net_PutIHB(int, int) {
    trace("Net_PutIHB");
    return 0;
}
int Net_PutQHB(int, int) {
    trace("Net_PutQHB");
    return 0;
}
int Net_GetQHB(int, int) {
    trace("Net_GetQHB");
    return 0;
}
// No network transport yet: nothing arrives and nothing can be sent.
int Net_CheckRx() {
    return 0;
}
uint8_t Net_GetRx() {
    return 0;
}
void Net_FlushRx() {}
int Net_PutTx(uint8_t) {
    return 0;
}
void Net_PutnTx(const uint8_t *, uint32_t) {}
int Net_ChkBusy() {
    return 0;
}
int Net_PutQG(int, int, const uint16_t *, int) {
    trace("Net_PutQG");
    return 0;
}
int Net_PutAQG(int, int, const uint16_t *, int) {
    trace("Net_PutAQG");
    return 0;
}
void InitBrikScanner(const uint8_t *) {
    trace("InitBrikScanner");
}
void BrikScanner() {
    trace("BrikScanner");
}
void Sr_VibusInit(const uint8_t *) {
    trace("Sr_VibusInit");
}
void Sr_VibusIo() {
    trace("Sr_VibusIo");
}

// The protocols the Ethernet manager runs, until each is built: they start
// (0), serve nothing and hold no connections.
#define NET_PROTOCOL(P, CNT)                                                                       \
    uint16_t P##_Init(NxIpInstance *, NxPacketPool *) {                                            \
        trace(#P "_Init");                                                                         \
        return 0;                                                                                  \
    }                                                                                              \
    void P##_Scan(int) {}                                                                          \
    void P##_DeInit(int) {}                                                                        \
    uint32_t P##_##CNT(int) {                                                                      \
        return 0;                                                                                  \
    }
NET_PROTOCOL(Vibus, ConnCnt)
NET_PROTOCOL(Egd, ConnCnt)
NET_PROTOCOL(Srtp, Conn_Cnt)
NET_PROTOCOL(Http, ConnCnt)
NET_PROTOCOL(Eip, Conn_Cnt)
NET_PROTOCOL(Ascii, cnn_cnt)
NET_PROTOCOL(EtnIo, Conn_Cnt)
#undef NET_PROTOCOL
void Egd_Config(int) {}

void dhcpInit(NxIpInstance *, NxPacketPool *, int, int) {}
void dhcpScan(int, int) {}
int dhcpHasLease(int) {
    return 0;
}
uint32_t getFromDhcp(int, int) {
    return 0;
}
int dhcpNegotiating(int) {
    return 0;
}

WifiCntFlw wifiCntFlw;
void WiFi_Init(WifiCntFlw *w) {
    *w = WifiCntFlw{};
}
void WiFi_Scan(WifiCntFlw *) {}

void Net_NotBuiltReset() {
    wifiCntFlw = WifiCntFlw{};
    std::memset(Net_Data, 0, sizeof Net_Data);
}
