// A readable assembly text for ladder programs, and back.
//
// One line per instruction:
//
//     ; copy %M1 to %Q1
//     .tokens 16            ; register operands as 16-bit tokens (default 32)
//             LD    %M1     ; a contact: one word when its reference fits 16 bits
//             OUT   %Q1
//             PUSHW %R1
//             PUSHK 1
//             ADDW
//             POPW  %R1
//             JMPIF done    ; labels for jumps, calls and skips
//     done:   END
//
// Mnemonics are the names of the engine's opcode table (plc/ladder_ops.h),
// so the text and the engine cannot drift apart. Operands, separated by
// commas, in the order of the instruction's shape:
//   %R1, %M17, %SR5, %ET3 ... register names; %R5.3 bit 3 (0-15) of %R5;
//   @0x1234 a reference written as its raw token value
//   12, 0x7B, -5, K16 12, K32 100000    constants
//   name, #-3                           a label, or a jump offset in words
//   "text\x00"                          inline bytes (their count is implicit)
// An instruction whose later operands only its handler knows takes them as
// plain values: numbers (one word each, "K32 n" two), registers (a token).
// Directives:
//   .tokens 16|32      operand width; also bit 0x8000 of the feature word
//   .features N        the other bits of the feature word
//   .notrailer         no feature word at the end of the program
//   .word a, b, ...    raw words        .byte n   one last raw byte
// The program ends with the programming tool's trailer (the feature word 9
// bytes from the end) unless .notrailer is given.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Assembles a source text into the program bytes (the data of a control
// program block). False with "line N: reason" in *error.
bool Ladasm_Assemble(const std::string &source, std::vector<uint8_t> *program, std::string *error);
// What an assembled program will likely do wrong although it assembles (the
// load check refuses neither; tests build such programs on purpose): no END
// (the scan runs off the end), or a logic stack that does not hold just the
// rail (one entry) when a straight run from the start reaches END. One
// message per finding.
std::vector<std::string> Ladasm_Warnings(const std::vector<uint8_t> &program);
// The control program file: check word (CRC-16), length, program bytes.
std::vector<uint8_t> Ladasm_Block(const std::vector<uint8_t> &program);
// Disassembles program bytes into a text that assembles to the same bytes.
std::string Ladasm_Disassemble(const uint8_t *program, size_t bytes);
// The program bytes of a control program file (a block whose length field
// matches the file), or the file itself when it is no such block.
std::vector<uint8_t> Ladasm_ProgramOf(const std::vector<uint8_t> &file);
// True when the file is a control program file (a block whose length field
// matches the file).
bool Ladasm_IsBlock(const std::vector<uint8_t> &file);
// True when the program bytes end in the programming tool's trailer (the
// feature word and five zero bytes after whole words).
bool Ladasm_HasTrailer(const std::vector<uint8_t> &program);
