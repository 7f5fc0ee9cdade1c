// FRAM store of the retentive registers and the battery-backed image.
#pragma once
#include <cstdint>

extern uint8_t bbram[4096];
void FRAM_Init();
int FRAM_XChange_Data(int read, int bank);
int FRAM_BBRAM_XChange_Data(uint8_t *buffer, int length, int read, int bank);
