// Network protocols and services.
#pragma once
#include "platform/can.h" // the CAN driver entry points the network set-up uses

#include <cstdint>

int Net_Test(int cmd);
int Net_Status();
void EnetMain(int sliced);
void mqttStateLoop();
void watchdogStModeStatus();
void Etn_SetMacId(const uint8_t *mac, int iface);

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
// Remote I/O over the CAN network.
void InitBrikScanner(const uint8_t *io_config);
void BrikScanner();
void Sr_VibusInit(const uint8_t *io_config);
void Sr_VibusIo();
void Etn_UpdateStatus();

// Per-interface network configuration records, by interface number. Other
// subsystems reach the first items by offset: u32 IPv4 address, mask, gateway
// and DNS server at bytes 4, 8, 12 and 16, the DHCP flag (u8) at byte 56.
constexpr int kDprInterfaces = 4, kDprConfigHead = 64;
extern uint8_t Dpr_Configuration[kDprInterfaces][kDprConfigHead];

// Puts the state of the network entry points that are not built yet back to
// its start values (tests).
void Net_NotBuiltReset();
