// The key-press instruction: an operand's value presses or releases an
// emulated panel key.
#include "platform/keys.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

uint8_t PressKeyProcess(uint32_t *pc, uint8_t power) {
    int key = Lad_Word(pc);
    // An optional block marked 1023 with its length in words comes before
    // the register operand.
    if (*pc < lad_words && (lad_prog[2 * *pc] | (lad_prog[2 * *pc + 1] << 8)) == 1023) {
        const uint32_t marker = *pc;
        ++*pc;
        uint16_t len = Lad_Word(pc);
        // A block that runs past the program faults at its marker, inside
        // the program, instead of moving the counter past the end.
        if (lad_fault || uint64_t(*pc) + len > lad_words) {
            *pc = marker;
            lad_fault = 1;
            return 0;
        }
        *pc += len;
    }
    uint32_t ref = Lad_WordRef(pc);
    if (lad_fault || !power || ref < 1025) return 0;
    // A word-aligned reference is a register, any other a bit.
    uint32_t bits = ((ref - 1024) % 16 == 0) ? 16 : 1;
    if (!Lad_RefValid(ref, bits)) return 0;
    uint8_t v[2] = {0, 0};
    if (!PlcReg_Get(v, ref, bits)) return 0;
    return Tr_PressKeyProcess(key, v[0] || v[1]);
}
