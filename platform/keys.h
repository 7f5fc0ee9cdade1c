// Keys and touch events.
#pragma once

void KEY_Init();
void KEY_Flush();
void KEY_FlushTouch();
#include <cstdint>

// The ladder key-press instruction: program counter after the opcode word;
// reads and skips its own operands; 1 when it acted.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power);
