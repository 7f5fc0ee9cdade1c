// The retentive registers in FRAM: the parts of the register image that a
// power loss must not lose, as one checked block in each of the two banks.
#pragma once
#include "platform/fram.h"

// The retentive registers: bank 1, or bank 2 for any other value. A read
// takes a bank only when its length is exact and its CRC matches.
int FRAM_XChange_Data(int read, int bank);
