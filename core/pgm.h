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
// The system screen to show for a request v in %SR3: the boot installer (22)
// owns a loader-mode panel, the recovery screen (23) a panel in recovery; the
// touch calibration (21) is always allowed.
uint16_t PGM_ScreenChoice(uint16_t v);
