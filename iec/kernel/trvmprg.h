// The IEC program layer: the program table of the database, the order in
// which programs run in a cycle, program calls, breakpoints, the saved call
// stack, the programming tool's execution buffer and the VM's logs.
#pragma once
#include "iec/kernel/trcode.h"

#include <cstdint>

// Program entry (segment 4, programs numbered from 1, entry k at (k - 1) x
// 24). The run flags are also the state word of program control and SFC:
// bit 0 active, bit 1 suspended, bit 3 being called, bit 4 active as a
// called program (0x10 is also an SFC program before its first run), bit 5
// an SFC program being stopped.
namespace trprg {
// clang-format off
constexpr uint32_t kCodeOffset  = 0;  // u32 image offset of the code
constexpr uint32_t kCodeSize    = 4;  // u32 bytes of code
constexpr uint32_t kBpCount     = 8;  // u32 breakpoints set in the program
constexpr uint32_t kFlags       = 12; // u16 run flags / state word
constexpr uint32_t kKind        = 14; // u16 program kind
constexpr uint32_t kSavedDepth  = 16; // u16 depth of the saved call stack
constexpr uint32_t kSavedPlace  = 18; // u16 first call-stack entry of its save area (0: none)
constexpr uint32_t kResume      = 20; // u16 resume position (0: start, or the saved stack's top)
constexpr uint32_t kDivider     = 22; // u16 cycle-divider counter
constexpr uint32_t kEntrySize   = 24;
// clang-format on
static_assert(kDivider + 2 == kEntrySize && kEntrySize == 24, "program entry");
constexpr uint16_t kActive = 0x01, kSuspended = 0x02, kBeingCalled = 0x08, kCalledActive = 0x10,
                   kSfcStopping = 0x20, kSfcFirstRun = 0x10;
// Status flags of the program layer (run-flag word).
constexpr uint16_t kStepMode = 0x0008, kOneCycle = 0x0100, kBreakpointsSet = 0x2000;
// Second flag word.
constexpr uint16_t kResumeRequest = 0x0002, kCycleInProgress = 0x0010;
} // namespace trprg

// Entry of program k (from 1) and the number of entries; null when none.
uint8_t *TrVMPrg_Entry(uint8_t *db, uint32_t k);
uint32_t TrVMPrg_Count(uint8_t *db);
// SFC programs are those of kinds 1 (main) and 2 (child).
bool TrVMPrg_IsSfc(const uint8_t *entry);

void TrVMPrg_ActivateNewPrograms(uint8_t *db);
int TrVMPrg_Call(uint8_t *db, uint32_t program);
void TrVMPrg_SaveCallStack(uint8_t *db, uint32_t program);
void TrVMPrg_RestoreCallStack(uint8_t *db, uint32_t program);
int TrVMPrg_HasBreapointOrStep(uint8_t *db);
void TrVMPrg_SetBreakpoint(uint8_t *db, uint32_t program, uint32_t position, uint32_t kind);
int TrVMPrg_IsBreakpoint(uint8_t *db, uint32_t program, uint32_t position, uint32_t called);

// The process-wide system log of 16 codes and the database's table of
// unresolved names (16 characters each).
void TrVMLog_PushSys(uint16_t code);
uint16_t TrVMLog_PopSys();
void TrVMLog_RegisterUnresolved(uint8_t *db, const char *name);
const char *TrVMLog_GetUnresolved(uint8_t *db, uint32_t index);
void TrVMPrg_Reset();
