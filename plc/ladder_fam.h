// Instruction families of the ladder engine that live outside the interpreter.
// Handlers take the address of the interpreter's program counter (a word
// position in the program) and advance it over exactly their own operands;
// they read operands with the Lad_* readers of plc/ladder.h.
#pragma once
#include <cstdint>

// Data, arithmetic, comparison and conversion instructions (program counter
// in lad_pc, after the opcode word). Each row of the opcode table names the
// handler below that does its work; Lad_Data, LadData_Exec and LadSpecial_Exec
// remain as entry points that run a code of their family through its row.
void Lad_Data(uint16_t op);
void LadData_Exec(uint16_t op);
// String, block, clock, position, network and key instructions of the opcode
// map that the interpreter does not run itself (same convention).
void LadSpecial_Exec(uint16_t op);
// Clears the state the family keeps across scans (through the service reset
// for the network instructions).
void LadSpecial_Reset();

// Operation selectors: the `arg` of a row whose handler serves several codes.
enum class LadArith : uint8_t { Add, Sub, Mul, Div, Mod, Abs, Sqrt, Pow };
enum class LadFn : uint8_t { Abs, Sqrt, Log, Ln, Exp, Sin, Cos, Tan, Asin, Acos, Atan, Rad, Deg };
enum class LadBits : uint8_t { And, Or, Xor, Not, Shl, Shr, Rol, Ror };
// Relations in the order the comparisons are numbered.
enum class LadRel : uint8_t { Eq, Ne, Lt, Gt, Le, Ge };
enum class LadType : uint8_t { Word, Dword, Float };
enum class LadMov : uint8_t {
    Word,        // copy a word: destination, source
    Dword,       // copy 32 bits
    ConstWord,   // store K16
    ConstDword,  // store K32
    Block,       // copy count words: destination, source, count
    Fill,        // fill count words with a value
    PushByte,    // push a byte register, zero-extended
    PopByte,     // pop; the low byte into the byte register
    Push64,      // push four words
    PushConst64, // push a 64-bit immediate
    Pop64,       // pop 64 bits into four words
};
// Typed loads with conversion, named after their mnemonics without "LD":
// source type, then what is pushed (C: range-checked).
// clang-format off
enum class LadConv : uint8_t {
    UB_W, UB_D, UB_F, SB_W, SB_D, SB_F, SB_WC, SB_DC,
    W_B7, W_B, SW_B, SW_SB, W_D, SW_DC, W_F, SW_F,
    D_B7, D_B, SD_SB, D_W, SD_SW, SD_F, D_F,
    F_B, F_SB, F_W, F_SW, F_SD, F_D,
};
// clang-format on
// Indexed and pointer accesses.
enum class LadAccess : uint8_t {
    LoadBit,
    StoreBit,
    LoadByte,
    StoreByte,
    LoadWord,
    StoreWord,
    LoadDword,
    StoreDword
};
enum class LadBytes : uint8_t { Compare, Copy };
enum class LadString : uint8_t {
    Append,
    Equal,
    Greater,
    GreaterEq,
    ToReal,
    Mid,
    Copy,
    ToLreal,
    NotOnPanel
};
// %R blocks indexed by a register.
enum class LadRBlock : uint8_t { Fill, ToOperand, FromOperand, Compare };
// PID forms: bits of the row's selector.
enum LadPidForm : uint8_t {
    kLadPidPointer = 1,   // the block operand is a pointer pair (the newer form)
    kLadPidTune = 2,      // auto-tuning operands follow
    kLadPidDependent = 4, // dependent gains
};

// Pushes, pops and additions of the data stack (core/ladder_data.cpp).
void LadData_PushW(uint16_t op, uint8_t arg);
void LadData_PushK(uint16_t op, uint8_t arg);
void LadData_PopW(uint16_t op, uint8_t arg);
void LadData_PushD(uint16_t op, uint8_t arg);
void LadData_PushKD(uint16_t op, uint8_t arg);
void LadData_PopD(uint16_t op, uint8_t arg);
void LadData_PushKS(uint16_t op, uint8_t arg);
void LadData_PushWS(uint16_t op, uint8_t arg);
void LadData_AddW(uint16_t op, uint8_t arg);
void LadData_AddD(uint16_t op, uint8_t arg);

// Arithmetic, bit-wise logic and comparisons (core/ladder_math.cpp).
void LadMath_Int16(uint16_t op, uint8_t arith);
void LadMath_Int32(uint16_t op, uint8_t arith);
void LadMath_U8(uint16_t op, uint8_t arith);
void LadMath_S8(uint16_t op, uint8_t arith);
void LadMath_U16(uint16_t op, uint8_t arith);
void LadMath_U32(uint16_t op, uint8_t arith);
void LadMath_Typed(uint16_t op, uint8_t arith); // unsigned 16 or 32 bits by an operand
void LadMath_Float(uint16_t op, uint8_t arith);
void LadMath_FloatFn(uint16_t op, uint8_t fn);
void LadMath_Bits8(uint16_t op, uint8_t bits);
void LadMath_Bits16(uint16_t op, uint8_t bits);
void LadMath_Bits32(uint16_t op, uint8_t bits);
void LadMath_CmpW(uint16_t op, uint8_t rel);
void LadMath_CmpD(uint16_t op, uint8_t rel);
void LadMath_CmpF(uint16_t op, uint8_t rel);
void LadMath_CmpUB(uint16_t op, uint8_t rel);
void LadMath_CmpUW(uint16_t op, uint8_t rel);
void LadMath_CmpUD(uint16_t op, uint8_t rel);
void LadMath_CmpSB(uint16_t op, uint8_t rel);
void LadMath_Range(uint16_t op, uint8_t type);

// Moves, typed loads, indexed and pointer access (core/ladder_move.cpp).
void LadMove_Move(uint16_t op, uint8_t mov);
void LadMove_Convert(uint16_t op, uint8_t conv);
void LadMove_Indexed(uint16_t op, uint8_t access);
void LadMove_Pointer(uint16_t op, uint8_t access);
void LadMove_EqualsOne(uint16_t op, uint8_t arg);

// Strings, byte blocks, clock, position and %R blocks (core/ladder_strings.cpp).
void LadStr_Bytes(uint16_t op, uint8_t bytes);
void LadStr_InlineBytes(uint16_t op, uint8_t bytes);
void LadStr_TextToValue(uint16_t op, uint8_t arg);
void LadStr_Format(uint16_t op, uint8_t arg);
void LadStr_Length(uint16_t op, uint8_t arg);
void LadStr_U64ToText(uint16_t op, uint8_t arg);
void LadStr_BlockMove(uint16_t op, uint8_t arg);
void LadStr_NotOnPanel(uint16_t op, uint8_t arg);
void LadStr_String(uint16_t op, uint8_t string);
void LadStr_SetClock(uint16_t op, uint8_t arg);
void LadStr_SetClockAt(uint16_t op, uint8_t arg);
void LadStr_SunPosition(uint16_t op, uint8_t arg);
void LadStr_RBlock(uint16_t op, uint8_t block);
void LadStr_Skip7(uint16_t op, uint8_t arg);

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
