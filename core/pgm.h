// Screen program manager loop.
#pragma once
#include <cstdint>

// 1 display fault, 2 stopped, 3 created, 4 being set up, 5 running, 6 download aborted.
extern uint8_t PGM_state;
void PGM_TheLoop(int unused);
void PGM_Create(int init);
void PGM_SetSlice(int ms);
void PGM_SetPopupMode(int mode);
void PGM_InitRunCtrl();
