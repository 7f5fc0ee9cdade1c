// The opcode table of the ladder engine. The interpreter dispatches through it,
// the load check and the assembler and disassembler read their operand shapes
// from it, so the tools and the engine cannot drift apart.
#pragma once
#include <cstdint>

// An instruction handler runs with lad_pc on the word after the opcode word
// and advances it over exactly its operands. `arg` is its row's operation
// selector: a handler shared by a family of codes learns from it, never from
// the code itself, which of the family's operations to do.
using LadHandler = void (*)(uint16_t op, uint8_t arg);

// What an instruction does to the flow of the program.
enum class LadFlow : uint8_t { Next, End, Jump, Call, Return, Skip };

// Operand shape letters:
//   b  register operand, bit            w  register operand, 16-bit word
//   y  register operand, byte           d  register operand, 32 bits (two words)
//   q  register operand, 64 bits        k  K16 constant   K  K32 constant
//   Q  64-bit constant (four words)     j  J16 jump offset   J  J32 jump offset
//   n  N16 count of words to skip       x  a plain word
//   v  a value-or-register word (small values are numbers, larger a reference)
//   V  a value-or-register token: a word operand whose decoded value below
//      1024 is a number, 1024 or more a register whose value is used
//   L  K16 byte count of the inline bytes that follow (s)
//   s  inline bytes, padded to whole words        t  20 inline bytes of text
// A shape ending in '?' has further operands that only its handler knows; a
// shape that is only "?" is read entirely by the handler.
struct LadOp {
    const char *name;  // mnemonic; null for a code that is not defined
    const char *shape; // operand letters
    LadHandler handler;
    int8_t pops;   // logic-stack entries popped; -1: the effect depends on the data
    int8_t pushes; // logic-stack entries pushed
    LadFlow flow;
    uint8_t arg;  // operation selector handed to the handler (a value of its family's enum)
    bool service; // the handler is set by the subsystem that owns the family
};

constexpr uint16_t kLadContactMin = 0x0400; // words from here on are contacts
constexpr uint16_t kLadOpcodes = 0x0240;    // groups 0 to 8

// The codes that are compared outside their handler: the interpreter runs
// these inline, the load check follows TRUE. Their rows use the same names.
constexpr uint16_t kLadEnd = 0x0009, kLadTrue = 0x0021, kLadOr = 0x0023, kLadAnd = 0x0024,
                   kLadOut = 0x0026;

// The row of an opcode word below 0x0400 (every word has a row; undefined
// codes carry the handler that stops or ignores them). The rows of all the
// codes are one array in code order, so &Lad_Op(0) + code is the row of code.
const LadOp &Lad_Op(uint16_t op);
// Opcode of a mnemonic (case-insensitive), or -1.
int Lad_Opcode(const char *name);
// True for an undefined code that is skipped rather than stopping the scan.
bool Lad_Ignored(uint16_t op);

// Instruction families of upper subsystems (communication, recipes, files,
// network, keys) keep their rows here, but their handlers belong to the
// subsystem, which sets them through this one call; a null handler takes the
// row back to its default, which stops the scan as an instruction that is
// not built. False (and nothing set) for a code that is not such a row.
bool Lad_SetHandler(uint16_t op, LadHandler h);
// The clearing of the state such handlers keep across scans: Ladder_Reset
// calls it (null: none).
void Lad_SetServiceReset(void (*reset)());
// Sets the handlers of every such family and its reset. Called once by
// whoever starts the scan, before the first scan.
void Ladder_InstallServiceHandlers();

// Skips the operands of the instruction whose opcode word lies just before
// *pc, by its shape (for families whose handlers are not built yet); an
// instruction whose operands only its handler knows stops the scan.
void Ladder_SkipOperands(uint32_t *pc);

// One decoded instruction, for the load check and the disassembler.
struct LadOperand {
    char kind;      // shape letter
    uint32_t pos;   // word position of its first word
    uint32_t words; // words it takes
    uint32_t value; // decoded reference, constant, target position or byte count
    uint32_t raw;   // the token as written (a word, or two words as one value)
    bool escape;    // a 16-bit word operand written with an escape word
};
constexpr int kLadMaxOperands = 16;
struct LadInstr {
    uint32_t pos;   // position of the opcode (or contact) word
    uint32_t words; // words of the whole instruction (known part)
    uint16_t op;    // the opcode, or the contact word
    bool contact;
    bool opaque; // operands follow that only the handler knows
    int count;   // decoded operands
    LadOperand operand[kLadMaxOperands];
};
enum class LadDecode { Ok, Truncated, BadReference, BadTarget };
// Decodes the instruction at `pos` of a program of `words` words. Register
// operands are checked against the register image and jump and skip targets
// against the program (a target may be `words`, the end, here).
LadDecode Lad_Decode(const uint8_t *prog, uint32_t words, uint32_t pos, bool tokens16,
                     LadInstr *out);

// Register references of operands: 16-bit escape words and the folding of
// the three extended areas of a 32-bit token into the image.
constexpr uint16_t kLadEscape1 = 0x06F0, kLadEscape2 = 0x06F1;
uint32_t Lad_Fold(uint32_t ref32);
// True when `bits` bits at the decoded reference lie in the register area (a
// word or wider access is taken at its word, a byte access at its byte).
bool Lad_RefValid(uint32_t ref, uint32_t bits);
// Width in bits of a register operand by its shape letter: b bit, y byte,
// d double word, q 64-bit, anything else a word.
inline uint32_t Lad_OperandBits(char kind) {
    switch (kind) {
    case 'b':
        return 1;
    case 'y':
        return 8;
    case 'd':
        return 32;
    case 'q':
        return 64;
    default:
        return 16;
    }
}
