// Application files, register files and power-fail saving.
#pragma once
#include <cstdint>

void GPIOInit();
int LoadProgram();
int AutoLoadRegisters();
int AutoSaveRegisters();
int SaveProgram();
void PowerDown();
void TrevantStop();

extern uint8_t *promgr_table; // protocol-driver table block (null when none)
extern uint8_t *ladder_bl;        // the loaded logic program image (null when none)
extern uint8_t tinyImage[124];    // factory identity record
extern uint16_t fwload_set_def;   // no register file was found: load default settings once

// The processor's persistent status word (kept alive by the backup supply).
uint32_t Persist_Get();
void Persist_Set(uint32_t value);
void Persist_Or(uint32_t bits);
