// Start-up validation of non-volatile data.
#pragma once
#include <cstdint>

int nvram_init(int load_defaults, int clear_control, int clear_hmi);
extern uint8_t io_force[256];
