// Data instructions: register and constant pushes and pops of the data stack,
// and signed 16- and 32-bit addition.
#include "base/le.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"

namespace {

void push16(uint16_t v) {
    uint8_t b[2];
    put_le16(b, v);
    Lad_WPush(b, 2);
}
void push32(uint32_t v) {
    uint8_t b[4];
    put_le32(b, v);
    Lad_WPush(b, 4);
}
uint16_t pop16() {
    uint8_t b[2];
    Lad_WPop(b, 2);
    return le16(b);
}
uint32_t pop32() {
    uint8_t b[4];
    Lad_WPop(b, 4);
    return le32(b);
}

// An overflowed result stays on the stack truncated; the power flow drops.
void add16() {
    int32_t b = int16_t(pop16()), a = int16_t(pop16());
    int32_t sum = a + b;
    if (lad_fault) return;
    if (sum < -32768 || sum > 32767) Lad_Top() = 0;
    push16(uint16_t(sum));
}
void add32() {
    uint32_t b = pop32(), a = pop32();
    uint32_t sum = a + b; // modulo 2^32
    if (lad_fault) return;
    // Overflow when the sum's sign differs from the signs of both operands.
    if (((sum ^ a) & (sum ^ b)) & 0x80000000u) Lad_Top() = 0;
    push32(sum);
}

} // namespace

void LadData_PushW(uint16_t, uint8_t) { // push 16-bit register
    uint8_t *p = Lad_Word16(Lad_WordRef(&lad_pc));
    if (p) push16(le16(p));
}
void LadData_PushK(uint16_t, uint8_t) {
    push16(Lad_Word(&lad_pc));
}
void LadData_PopW(uint16_t, uint8_t) { // pop 16 bits into the register
    uint8_t *p = Lad_Word16(Lad_WordRef(&lad_pc));
    if (!p) return;
    uint16_t v = pop16();
    if (!lad_fault) put_le16(p, v);
}
void LadData_PushD(uint16_t, uint8_t) { // push 32-bit register pair
    uint8_t *p = Lad_Word32(Lad_WordRef(&lad_pc));
    if (p) push32(le32(p));
}
void LadData_PushKD(uint16_t, uint8_t) {
    push32(Lad_Dword(&lad_pc));
}
void LadData_PopD(uint16_t, uint8_t) { // pop 32 bits into the register pair
    uint8_t *p = Lad_Word32(Lad_WordRef(&lad_pc));
    if (!p) return;
    uint32_t v = pop32();
    if (!lad_fault) put_le32(p, v);
}
void LadData_PushKS(uint16_t, uint8_t) { // K16 sign-extended to 32 bits
    push32(uint32_t(int32_t(int16_t(Lad_Word(&lad_pc)))));
}
void LadData_PushWS(uint16_t, uint8_t) { // 16-bit register sign-extended to 32 bits
    uint8_t *p = Lad_Word16(Lad_WordRef(&lad_pc));
    if (p) push32(uint32_t(int32_t(int16_t(le16(p)))));
}
void LadData_AddW(uint16_t, uint8_t) {
    add16();
}
void LadData_AddD(uint16_t, uint8_t) {
    add32();
}

void Lad_Data(uint16_t op) {
    constexpr LadHandler kOwn[] = {LadData_PushW,  LadData_PushK, LadData_PopW,   LadData_PushD,
                                   LadData_PushKD, LadData_PopD,  LadData_PushKS, LadData_PushWS,
                                   LadData_AddW,   LadData_AddD};
    const LadOp &o = Lad_Op(op);
    for (LadHandler h : kOwn)
        if (o.handler == h) return h(op, o.arg);
    LadData_Exec(op);
}
