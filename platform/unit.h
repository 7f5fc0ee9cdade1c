// What the drivers read of the programming link's state: the unit's OEM code
// and whether a download is in progress. The programming protocol sets them.
#pragma once
#include <cstdint>

// Header of the programming packets; byte 3 is the unit's OEM code.
extern uint8_t crc_header[4];
// A program or application download is in progress (video playback waits).
extern uint8_t Cmd_Downloading;

// No OEM code, no download (tests).
void Unit_Reset();
