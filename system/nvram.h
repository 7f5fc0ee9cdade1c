// Start-up validation of non-volatile data: system registers brought into
// range, application blocks checked by length and CRC-16 and mirrored into
// system registers, invalid blocks replaced by empty or default contents.
#pragma once
#include "plc/ladder.h" // NV_EditorFeatures
#include <cstdint>

// Returns the effective load-defaults flag (1: defaults were loaded and the
// caller saves the application).
int nvram_init(int load_defaults, int clear_control, int clear_hmi);
// The feature word at the end of the control program in ladder_bl (0 when
// it has none); nv_get_features sets NV_EditorFeatures to it.
uint32_t nv_program_features();
void nv_get_features();
// Copies into a block buffer as 16-bit words; an odd length gets a 0xFF pad byte.
void nv_write(uint8_t *destination, const uint8_t *source, uint32_t length);

extern uint8_t io_force[256];

void Nvram_Reset();
