// The IEC interpreter's helpers that other layers call: variable locks, SFC
// breakpoints and the complex-type segment. The interpreter itself is
// TrVMTic_Run (iec/kernel/trparts.h).
#pragma once
#include <cstdint>

// Lock bits of the lock-flag byte of a data index (segment 5).
namespace trlock {
constexpr uint8_t k8 = 0x01, k16 = 0x02, k32 = 0x04, k64 = 0x08, kTime = 0x10, kString = 0x20,
                  kExternal = 0x80;
constexpr uint16_t kRunFlagLocks = 0x0040; // run flags: some variable is locked
} // namespace trlock

// Index 0 names no variable: only the count and the run-flag bit change.
// 0, or 1 when the index lies beyond the lock flags.
int TrVMTic_LockVar(uint8_t *db, uint32_t index, uint8_t mask);
int TrVMTic_UnlockVar(uint8_t *db, uint32_t index, uint8_t mask, int32_t context);
void TrVMTic_UnlockAllVars(uint8_t *db);
void TrVMTic_SetSfcBreakS(uint8_t *db, uint32_t step, uint16_t value);
void TrVMTic_SetSfcBreakT(uint8_t *db, uint32_t transition, uint16_t value);
// The operands name DINT variables holding the offsets and the size; 0, or
// 1 when they are out of range (nothing copied).
int TrVMTic_CTMemcpy(uint8_t *db, uint32_t dst, uint32_t src, uint32_t size);
// Types 1 (8-bit), 2 (32-bit), 4 (TIME), 5 (STRING), 11 (16-bit), 12
// (64-bit); the offset is the value of DINT variable `offset`. 0, or 1 when
// out of range or of another type.
int TrVMTic_SetCTSegItem(uint8_t *db, uint32_t type, uint32_t index, uint32_t offset);
int TrVMTic_GetCTSegItem(uint8_t *db, uint32_t type, uint32_t index, uint32_t offset);
// A program that never ends would hold the panel's main loop: a run that
// executes more instructions than this limit stops the VM like a fatal error
// (log 30, the cycle overran, with the program and place). The default is
// far above what any cycle period allows.
constexpr uint32_t kTrVMTicRunLimit = 1u << 28;
void TrVMTic_SetRunLimit(uint32_t instructions);
void TrVMTic_Reset();
// Whether the interpreter has a handler for an opcode (every row of the
// opcode table, nothing else).
bool TrVMTic_HasHandler(uint32_t opcode);
