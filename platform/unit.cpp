#include "platform/unit.h"

#include <cstring>

uint8_t crc_header[4];
uint8_t Cmd_Downloading;

void Unit_Reset() {
    std::memset(crc_header, 0, sizeof crc_header);
    Cmd_Downloading = 0;
}
