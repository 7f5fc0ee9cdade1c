// Keys and touch events.
#pragma once

void KEY_Init();
void KEY_Flush();
void KEY_FlushTouch();
// Takes at most one queued touch or key event and hands it to `callback`
// (event, x or key code, y); the callback's result, or 0 when nothing waits.
int KEY_Check(int (*callback)(int event, int a, int b));
#include <cstdint>

// The ladder key-press instruction: program counter after the opcode word;
// reads and skips its own operands; 1 when it acted.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power);
