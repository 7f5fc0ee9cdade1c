// The VM's one opcode table: number, mnemonic and operand shape of every
// instruction (opcodes 1-569; numbers without a row are invalid). The
// interpreter executes from it, the assembler and disassembler read it, so
// they cannot drift apart.
//
// An instruction is its opcode word and operand words. Shape letters, one
// per operand, in order:
//   b w d l t   data index of 8-, 16-, 32-, 64-bit or TIME data (one word)
//   s           STRING number        x  external variable     p  program
//   S T         SFC step, transition i  function-block instance
//   f c         standard function, custom function number
//   k           16-bit constant      K  32-bit constant, two words high first
//   Q           64-bit constant, four words, most significant first
//   r           relative jump: signed byte offset from the word behind the
//               whole instruction (0 continues with the next instruction)
//   a           absolute jump: byte offset from the program's start
//   $           inline STRING: u8 length, the text, padded to a whole word
//   n           count word N, then N argument words
//   o           count word N, then N + 1 argument words
//   N           count word N, then N absolute jumps (a jump table)
//   M           count word N, then N steps     P  count N, then N programs
// The lock-checked forms 110-169 are those of 1-60 (opcode - 109); 65 and 66
// take the BOOL then the offset; 205 and 207 carry the four words of the
// conversion (destination, source, destination type, source type).
#pragma once
#include <cstdint>
#include <string_view>

struct TrOpcode {
    uint16_t number;
    const char *mnemonic;
    const char *operands;
};

// The row of an opcode, or null for an invalid one.
const TrOpcode *TrVM_Opcode(uint32_t number);
const TrOpcode *TrVM_OpcodeByName(std::string_view mnemonic);
// Every row, in opcode order.
const TrOpcode *TrVM_Opcodes(uint32_t *count);
