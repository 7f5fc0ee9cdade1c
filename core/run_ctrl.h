// Run control and the control scan.
#pragma once
#include <cstdint>

void SetPlcMode(int mode);
void PlcScan();
void PlcInit(int clear);
void NetConfig();
void Plc_NetInit();
void IoConfig(int mode);
void IoStart();
void NetStatusDecode();
// Installed-module identities published by IoConfig: 2-byte head, then 24 bytes a slot.
extern uint8_t Cmd_SS_Info[98];
