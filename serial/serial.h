// Serial communication and the programming protocol.
#pragma once
#include <cstdint>

void Vcomm_Init();
void SCI0_Init(int port);
void SCI2_Init(int port);
void SCI3_Init(int port);
void SCI4_Init(int port);
void Dpram_Init();
void Dpram_Service();
void Cmd_Init();
void Cmd_Check();
void Cmd_PortInit(int value);
void OCB_Open();
void OCB_Init();
void OCB_Update();
void RCT_Init();
void RctISR(int n);
void FxpMain(int n);
void Datagram_Check();
void USBPortMon();
void ModemCycle();
void PMGR_TheLoop(int slot);
extern uint8_t Cmd_Downloading;
extern uint8_t OLPMode;
// Header of the programming packets; byte 3 is the unit's OEM code.
extern uint8_t crc_header[4];
// Re-applies the network and I/O configuration while CmdNetIoConfigUpdated is set.
extern uint8_t CmdNetIoConfigUpdated;
void NetIoConfig();
