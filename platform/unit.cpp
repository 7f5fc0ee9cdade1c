#include "platform/unit.h"

uint8_t crc_header[4];
uint8_t Cmd_Downloading;
