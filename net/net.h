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
void Net_Init(const uint8_t *net_init); // the 16-byte set-up record
void Net_Restart();
void Net_RxHandler();
void Net_SendPackets(int count);
// Remote I/O over the CAN network.
void InitBrikScanner(const uint8_t *io_config);
void BrikScanner();
void Sr_VibusInit(const uint8_t *io_config);
void Sr_VibusIo();
void Etn_UpdateStatus();
