// Entry points of the serial layer that are not built yet.
#include "host/trace.h"
#include "serial/serial.h"

using host::trace;

uint8_t Cmd_Downloading;
uint8_t OLPMode;
void Vcomm_Init() { trace("Vcomm_Init"); }
void SCI0_Init(int) { trace("SCI0_Init"); }
void SCI2_Init(int) { trace("SCI2_Init"); }
void SCI3_Init(int) { trace("SCI3_Init"); }
void SCI4_Init(int) { trace("SCI4_Init"); }
void Dpram_Init() { trace("Dpram_Init"); }
void Dpram_Service() { trace("Dpram_Service"); }
void Cmd_Init() { trace("Cmd_Init"); }
void Cmd_Check() { trace("Cmd_Check"); }
void Cmd_PortInit(int) { trace("Cmd_PortInit"); }
void OCB_Open() { trace("OCB_Open"); }
void OCB_Init() { trace("OCB_Init"); }
void OCB_Update() { trace("OCB_Update"); }
void RCT_Init() { trace("RCT_Init"); }
void RctISR(int) { trace("RctISR"); }
void FxpMain(int) { trace("FxpMain"); }
void Datagram_Check() { trace("Datagram_Check"); }
void USBPortMon() { trace("USBPortMon"); }
void ModemCycle() { trace("ModemCycle"); }
void PMGR_TheLoop(int) { trace("PMGR_TheLoop"); }
uint8_t crc_header[4];
uint8_t CmdNetIoConfigUpdated;
void NetIoConfig() { trace("NetIoConfig"); }
