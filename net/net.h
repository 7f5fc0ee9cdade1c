// Network protocols and services.
#pragma once
#include "net/dpr.h"       // the configuration records and the programming channel
#include "net/enet.h"      // EnetMain, the interfaces
#include "net/nx_api.h"    // the socket layer
#include "net/wifi_menu.h" // the Wi-Fi screen's record
#include "platform/can.h"  // the CAN driver entry points the network set-up uses

#include <cstdint>

int Net_Test(int cmd);
int Net_Status();
void EnetMain(int sliced);
void mqttStateLoop();
void watchdogStModeStatus();

// The CAN network as the control scan uses it.
constexpr int kNetNodes = 254, kNetNodeBytes = 88;
extern uint8_t Net_Data[kNetNodes][kNetNodeBytes]; // node records by node id - 1
void Net_Init(const uint8_t *net_init);            // the 16-byte set-up record
void Net_Restart();
void Net_RxHandler();
void Net_SendPackets(int count);
// Global data and heartbeats of the CAN network nodes (1 or nonzero on
// success, 0 when refused or not available). `start` and `count` are in words:
// 4 digital and 32 analog global words per node.
int Net_ReqQG(int node);
int Net_ReqAQG(int node);
int Net_GetQG(int node, int start, uint16_t *dst, int count);
int Net_GetAQG(int node, int start, uint16_t *dst, int count);
int Net_QueQG(int node, int start, const uint16_t *src, int count);
int Net_QueAQG(int node, int start, const uint16_t *src, int count);
int Net_PutIHB(int node, int interval_ms);
int Net_PutQHB(int node, int interval_ms);
int Net_GetQHB(int node, int timeout_ms);
// The network's programming byte transport to the connected node (the
// receive ring host_rx_que and CAN frames toward Vcomm_ConnectId).
int Net_CheckRx();
uint8_t Net_GetRx();
void Net_FlushRx();
int Net_PutTx(uint8_t b);
void Net_PutnTx(const uint8_t *data, uint32_t n);
int Net_ChkBusy(); // a network host waits for this node's link
// Sends global words of a node (0 when the network is down or the range is invalid).
int Net_PutQG(int node, int first, const uint16_t *data, int count);
int Net_PutAQG(int node, int first, const uint16_t *data, int count);
// Remote I/O over the CAN network.
void InitBrikScanner(const uint8_t *io_config);
void BrikScanner();
void Sr_VibusInit(const uint8_t *io_config);
void Sr_VibusIo();

// Puts the state of the network entry points that are not built yet back to
// its start values (tests).
void Net_NotBuiltReset();
