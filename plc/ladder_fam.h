// Instruction families of the ladder engine that live outside the interpreter.
// Handlers take the address of the interpreter's program counter (a word
// position in the program) and advance it over exactly their own operands;
// they read operands with the Lad_* readers of plc/ladder.h.
#pragma once
#include <cstdint>

// Data, arithmetic, comparison and conversion instructions (program counter
// in lad_pc, after the opcode word). Lad_Data runs the register and constant
// pushes and pops and the 16- and 32-bit additions; the rest of the family
// reaches LadData_Exec.
void Lad_Data(uint16_t op);
void LadData_Exec(uint16_t op);
// String, block, clock, position, network and key instructions of the opcode
// map that the interpreter does not run itself (same convention).
void LadSpecial_Exec(uint16_t op);
// Clears the state the node-number change keeps across scans.
void LadSpecial_Reset();

// Timers and counters. The program counter stands on the opcode word
// (Logic32bCounters: on the sub-code word after it); the result is the new
// power flow.
uint8_t LogicCounters(uint32_t *pc, uint8_t power);
uint8_t Logic32bCounters(uint32_t *pc, uint8_t power);
uint8_t LogicTimers(uint32_t *pc, uint8_t power, uint16_t now);
uint8_t Logic32bTimers(uint32_t *pc, uint8_t power, uint16_t now);

// Multi-word shift and rotate (program counter after the opcode word).
uint8_t Multi_Shift(uint32_t *pc);
uint8_t Multi_Rotate(uint32_t *pc);
uint8_t IEC_Multi_Shift(uint32_t *pc);
uint8_t IEC_Multi_Rotate(uint32_t *pc);

// PID and alarm instructions: given the position after the opcode word, they
// return the position of the next instruction. `top` is the top of the logic
// stack; `form` is 0 for the older PID operand form, 1 for the newer.
uint32_t IEC_NON_IEC_PidParser(uint32_t pos, uint16_t op, uint32_t now, uint8_t *top, int form);
uint32_t Alarm_Handler(uint32_t pos, uint8_t *top);

// Schedules (program counter after the opcode word).
uint8_t Schedule_TimeOfDay(uint32_t *pc, uint8_t power);
uint8_t Schedule_DayOfWeekImm(uint32_t *pc, uint8_t power);
uint8_t Schedule_DayOfWeekReg(uint32_t *pc, uint8_t power);
uint8_t Schedule_DayOfMonthImm(uint32_t *pc, uint8_t power);
uint8_t Schedule_DayOfMonthReg(uint32_t *pc, uint8_t power);
uint8_t Schedule_MonthOfYearImm(uint32_t *pc, uint8_t power);
uint8_t Schedule_MonthOfYearReg(uint32_t *pc, uint8_t power);
uint8_t Schedule_YearImm(uint32_t *pc, uint8_t power);
uint8_t Schedule_YearReg(uint32_t *pc, uint8_t power);

// LREAL maths: with the address of the data-stack pointer (bytes in use of
// w_stack), which it moves.
uint8_t LogicLreal(uint32_t *pc, uint8_t *stack_pointer, uint8_t power);
// Flow computation (program counter after the opcode word).
uint8_t Flow_Funs(uint32_t *pc, uint8_t power);
// File instructions (program counter on the opcode word).
uint8_t File_Access(uint32_t *pc, uint8_t power);
// Clears the file instructions' slot table (first scan).
void File_Init();
// Leaving the run mode: aborts a running copy worker and the delete workers of
// the file instructions (their results become -4, their request blocks are
// cleared).
void File_StopWorkers();

// The key-press instruction (an emulated panel key).
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power);
