// The retentive registers in FRAM: the parts of the register image that a
// power loss must not lose, as one checked block in each of the two banks.
#pragma once
#include "platform/fram.h"

// The retentive registers: bank 1, or bank 2 for any other value. A read
// takes a bank only when its length is exact and its CRC matches. The block
// holds %EM, or %M when the feature word of the program (NV_EditorFeatures)
// asks for 16-bit register tokens.
int FRAM_XChange_Data(int read, int bank);
// The same with the table chosen by `features`: the start-up reads the block
// back before NV_EditorFeatures is set, by the program it has just loaded.
int FRAM_XChange_DataFor(int read, int bank, uint32_t features);
