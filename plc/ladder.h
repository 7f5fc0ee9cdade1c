// The ladder engine: one scan of the compiled control program.
//
// The program is a flat run of little-endian 16-bit words: a word of 0x0400 or
// more loads a contact (the word is the bit reference), a smaller word is an
// opcode followed by its operands. The interpreter is a stack machine with a
// logic stack (power flow) and a data stack.
//
// Every access stays inside the program and the stacks: the program is checked
// once when it is loaded (Ladder_Check), and the interpreter bounds the program
// counter, the stacks, the call depth and the register references at run time.
// A program that breaks a rule stops with its error position, like an
// undefined opcode.
#pragma once
#include <cstdint>
#include <cstring>

// Result of LogicUpdate for a completed scan.
constexpr int32_t kLadderScanDone = -1;

// One scan of the program of `bytes` bytes at `ladder` (the data of the
// control program block). Returns kLadderScanDone after END (or after an IEC
// cycle), otherwise the error position: the number of 16-bit words from
// `ladder` up to and including the last word read at the stop.
int32_t LogicUpdate(const uint8_t *ladder, uint32_t bytes);

// One ladder scan without the load check, for tests and the fuzz target that
// exercise the run-time bounds (token width from RegTokLen_16b).
int32_t Ladder_RunUnchecked(const uint8_t *ladder, uint32_t bytes);
// One ladder scan as LogicUpdate runs it (load check, then the grouped steps
// of a program of 16-bit tokens) without the scan's timing and first-scan
// steps, so tests can hold it against Ladder_RunUnchecked from one state.
int32_t Ladder_RunChecked(const uint8_t *ladder, uint32_t bytes);

// Checks a program before it runs: every instruction that can be reached from
// the first word decodes to a defined opcode with all its operands inside the
// program, register operands lie inside the register image, jump, call and
// skip targets land on instructions inside the program, no path runs off the
// end, and no path overflows or underflows the logic stack. Returns
// kLadderScanDone when the program may run, else the position (as for
// LogicUpdate) of the first fault found.
int32_t Ladder_Check(const uint8_t *ladder, uint32_t bytes, bool tokens16);

// The interpreter checks a program when it first meets it; the loaders call
// this after they replaced a program in place, so that it is checked again.
void Ladder_ProgramChanged();
// Checks the control program now (at load): on a fault sets %SR4 bit 0x100,
// the position in %SR53-54, and returns 0; the interpreter then refuses to run
// it. Returns 1 for a program that may run (or no program).
int Ladder_Load();
// Bytes of the loaded control program (the length of ladder_bl, bounded by
// its buffer), 0 when there is none.
uint32_t Ladder_Bytes();
// Token width of the loaded program's feature word (bit 0x8000 of `features`).
inline bool Ladder_Tokens16(uint32_t features) {
    return (features & 0x8000u) != 0;
}
// The feature word that the programming tool leaves at the end of a program:
// 0 when the last byte is 254 or 255, else the u32 at bytes length-9..length-6.
uint32_t Ladder_Features(const uint8_t *ladder, uint32_t bytes);

// ---------------------------------------------------------------------------
// Interpreter state (kept across scans where the scan rules say so).

constexpr int kLogicStackSize = 20;
constexpr int kDataStackSize = 80;
constexpr int kCallStackSize = 8;

// Logic stack: entries 1..20 hold values; entry 0 is a floor slot that reads
// and writes as the top while the stack is empty, so an instruction that only
// touches the top never leaves the array. Popping an empty stack or pushing a
// full one stops the scan.
extern uint8_t l_stack[kLogicStackSize + 1];
extern uint8_t l_sp; // index of the top entry, 0 when empty
extern uint8_t w_stack[kDataStackSize];
extern uint8_t w_sp; // bytes in use
extern uint32_t call_stack[kCallStackSize];
extern uint8_t call_stack_index;
extern uint16_t change_screen_latch, force_screen_latch, old_change_screen;
extern uint32_t local_frt_100us, local_scan_time, local_scan_time_rm;
extern uint16_t time_frt_100us;
extern uint8_t cmd_group;
// The control program's editor feature word (bit 0x8000: 16-bit register
// tokens), taken from the program when the non-volatile data are checked.
extern uint32_t NV_EditorFeatures;

// What the engine needs of the services above it, set by the top layer. An
// unset hook does nothing (iec_running: false).
struct LadderHooks {
    void (*first_scan)();  // the first scan starts the communication and file instructions
    bool (*iec_running)(); // the IEC runtime runs the control program instead of the ladder
    void (*iec_scan)();    // one scan of the IEC runtime
};
void Ladder_SetHooks(const LadderHooks &hooks);
extern uint8_t RegTokLen_16b;
// State word of the alarm-screen selection (0x029).
extern uint16_t alarm_screen_sel;

// The program of the running scan and its program counter (word position of
// the next word to read).
extern const uint8_t *lad_prog;
extern uint32_t lad_words;
extern uint32_t lad_pc;
// Set by an instruction (or an operand reader) that must stop the scan; the
// error position is the program counter at that moment.
extern uint8_t lad_fault;

void Ladder_Reset();

// ---------------------------------------------------------------------------
// Operand access for instruction handlers. A handler gets the address of the
// program counter and advances it over exactly its own operands.

// Next word; past the end of the program it returns 0 and sets lad_fault.
inline uint16_t Lad_Word(uint32_t *pc) {
    if (*pc >= lad_words) {
        lad_fault = 1;
        return 0;
    }
    const uint8_t *p = lad_prog + 2 * (*pc)++;
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Lad_Dword(uint32_t *pc); // two words, low word first
// Register operands, decoded to a bit reference (1024 + bit offset into
// plc_reg) with the three extended areas folded into the image. Bit operands
// are one token; word, byte and wider operands take the escape forms.
uint32_t Lad_BitRef(uint32_t *pc);
uint32_t Lad_WordRef(uint32_t *pc);
// The bytes of `bits` bits at a decoded reference (word operands resolve to
// their word, byte operands to their byte): a pointer into plc_reg, or null
// with lad_fault set when the access leaves the register area.
uint8_t *Lad_Word16(uint32_t ref); // the 16-bit word (r - 1024) / 16
uint8_t *Lad_Word32(uint32_t ref); // two words from that word
uint8_t *Lad_Byte(uint32_t ref);   // the byte (r - 1024) / 8
int Lad_GetBit(uint32_t ref);      // 0 or 1; 0 with lad_fault when outside
void Lad_PutBit(uint32_t ref, int on);

// Logic stack for handlers.
inline uint8_t &Lad_Top() {
    return l_stack[l_sp];
}
void Lad_Push(uint8_t v);
uint8_t Lad_Pop();
// Data stack: push or pop `bytes` bytes (2, 4 or 8); an overflow or underflow
// sets lad_fault and moves nothing (a pop then gives zeros). Inline, so the
// fixed size of each caller's move is known where it is compiled.
inline void Lad_WPush(const void *src, unsigned bytes) {
    if (w_sp + bytes > kDataStackSize) {
        lad_fault = 1;
        return;
    }
    std::memcpy(w_stack + w_sp, src, bytes);
    w_sp = uint8_t(w_sp + bytes);
}
inline void Lad_WPop(void *dst, unsigned bytes) {
    if (bytes > w_sp) {
        lad_fault = 1;
        std::memset(dst, 0, bytes);
        return;
    }
    w_sp = uint8_t(w_sp - bytes);
    std::memcpy(dst, w_stack + w_sp, bytes);
}
