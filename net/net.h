// Network protocols and services.
#pragma once
#include <cstdint>

int Net_Test(int cmd);
int Net_Status();
void EnetMain(int sliced);
void mqttStateLoop();
void watchdogStModeStatus();
void Etn_SetMacId(const uint8_t *mac, int iface);
