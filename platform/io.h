// FPGA access and the factory calibration service of the on-board inputs.
#pragma once
#include <cstdint>

void Fpga_Init();
uint8_t FPGA_GetVer();
void factory_calib();
