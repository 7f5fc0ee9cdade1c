// Multi-element shift and rotate instructions: a block of N consecutive bits,
// bytes, words or double words of the register image moves by a count of
// element positions towards higher (direction 1) or lower (direction 0)
// addresses. The shift sends the last element that falls out to a register
// and fills the vacated elements from another; the rotate carries the
// elements round.
//
// The block must lie inside the register area, or the instruction fails
// (power flow 0, nothing changed). The elements are moved in one pass each
// (the result of count single-position moves, without their N x count work).
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"

#include <algorithm>
#include <cstring>

namespace {

enum ElementType : uint8_t { kBits = 0, kBytes = 1, kWords = 2, kDwords = 3 };

// The parameters of the running instruction, filled by the entry function and
// read by the element workers.
struct MultiParams {
    uint64_t start;      // image byte offset of the block (bit offset for bits)
    uint32_t n;          // elements in the block
    uint32_t count;      // element positions to move
    uint8_t direction;   // 1 towards higher addresses, 0 towards lower
    uint8_t *out;        // the shift-out destination (bit blocks: its byte)
    uint32_t out_bit;    // bit of *out for bit blocks
    const uint8_t *fill; // the fill source (bit blocks: its byte)
    uint32_t fill_bit;
};
MultiParams MultiPar;

int get_bit(uint64_t bit) {
    return (plc_reg[bit >> 3] >> (bit & 7)) & 1;
}
void put_bit(uint64_t bit, int on) {
    uint8_t mask = uint8_t(1u << (bit & 7));
    uint8_t &b = plc_reg[bit >> 3];
    b = on ? uint8_t(b | mask) : uint8_t(b & ~mask);
}
void reverse_bits(uint64_t first, uint64_t last) { // [first, last)
    while (last > first + 1) {
        --last;
        int a = get_bit(first), b = get_bit(last);
        put_bit(first, b);
        put_bit(last, a);
        ++first;
    }
}

// A count of 0 moves and fills nothing and leaves the destination of the
// shifted-out element as it was (there is no element that fell out).

void MultiShiftBits() {
    const MultiParams &p = MultiPar;
    if (p.count == 0) return;
    uint64_t s = p.start, n = p.n, c = p.count;
    int leaving = get_bit(s + (p.direction ? n - c : c - 1));
    uint8_t mask = uint8_t(1u << p.out_bit);
    *p.out = leaving ? uint8_t(*p.out | mask) : uint8_t(*p.out & ~mask);
    if (p.direction) {
        for (uint64_t i = n; i-- > c;)
            put_bit(s + i, get_bit(s + i - c));
    } else {
        for (uint64_t i = 0; i + c < n; ++i)
            put_bit(s + i, get_bit(s + i + c));
    }
    int fill = (*p.fill >> p.fill_bit) & 1;
    uint64_t from = p.direction ? 0 : n - c;
    for (uint64_t i = 0; i < c; ++i)
        put_bit(s + from + i, fill);
}

void shift_elements(uint32_t size) {
    const MultiParams &p = MultiPar;
    if (p.count == 0) return;
    uint8_t *block = plc_reg + p.start;
    uint64_t n = p.n, c = p.count;
    uint64_t leaving = p.direction ? n - c : c - 1;
    std::memmove(p.out, block + leaving * size, size);
    if (p.direction)
        std::memmove(block + c * size, block, (n - c) * size);
    else
        std::memmove(block, block + c * size, (n - c) * size);
    uint8_t fill[4];
    std::memcpy(fill, p.fill, size);
    uint64_t from = p.direction ? 0 : n - c;
    for (uint64_t i = 0; i < c; ++i)
        std::memcpy(block + (from + i) * size, fill, size);
}
void MultiShiftBytes() {
    shift_elements(1);
}
void MultiShiftWords() {
    shift_elements(2);
}
void MultiShiftDwords() {
    shift_elements(4);
}

// Rotating by k towards higher addresses is reversing the block, then its
// first k and its last n - k elements.
void MultiRotateBits() {
    const MultiParams &p = MultiPar;
    uint64_t s = p.start, n = p.n, c = p.count % (p.n ? p.n : 1);
    if (c == 0) return;
    uint64_t k = p.direction ? c : n - c;
    reverse_bits(s, s + n);
    reverse_bits(s, s + k);
    reverse_bits(s + k, s + n);
}

void rotate_elements(uint32_t size) {
    const MultiParams &p = MultiPar;
    uint64_t n = p.n, c = p.count % (p.n ? p.n : 1);
    if (c == 0) return;
    uint8_t *block = plc_reg + p.start;
    uint64_t middle = p.direction ? n - c : c; // the element that becomes the first
    std::rotate(block, block + middle * size, block + n * size);
}
void MultiRotateBytes() {
    rotate_elements(1);
}
void MultiRotateWords() {
    rotate_elements(2);
}
void MultiRotateDwords() {
    rotate_elements(4);
}

using Worker = void (*)();
constexpr Worker kShift[] = {MultiShiftBits, MultiShiftBytes, MultiShiftWords, MultiShiftDwords};
constexpr Worker kRotate[] = {MultiRotateBits, MultiRotateBytes, MultiRotateWords,
                              MultiRotateDwords};

uint32_t element_size(uint8_t type) {
    return type == kDwords ? 4 : type == kWords ? 2 : 1;
}

// Reads the operands after the opcode word and runs the worker. `indirect`:
// the start operand names a register pair holding the block's byte offset.
uint8_t multi(uint32_t *pc, bool shift, bool indirect) {
    uint8_t type = uint8_t(Lad_Word(pc));
    uint32_t start_ref = Lad_WordRef(pc);
    uint32_t n = Lad_WordRef(pc);
    uint32_t count_op = Lad_WordRef(pc);
    uint32_t dir_ref = Lad_WordRef(pc);
    uint32_t out_ref = shift ? Lad_WordRef(pc) : 0;
    uint32_t fill_ref = shift ? Lad_WordRef(pc) : 0;
    if (lad_fault) return 0;
    if (type > kDwords) return 1;

    // A count operand below 1024 is the count itself, else a register holding it.
    uint32_t count = count_op;
    if (count_op >= 1024) {
        const uint8_t *c = LadNum_AtWord(count_op, 2);
        if (!c) return 0;
        count = le16(c);
    }
    int direction = Lad_GetBit(dir_ref);
    if (lad_fault) return 0;
    if (count > n) return 0;

    MultiParams p{};
    p.n = n;
    p.count = count;
    p.direction = uint8_t(direction);
    uint64_t size = element_size(type);
    if (indirect) {
        const uint8_t *ptr = LadNum_AtWord(start_ref, 4);
        if (!ptr) return 0;
        p.start = le32(ptr);
        if (type == kBits) p.start *= 8;
    } else if (start_ref < 1024) {
        lad_fault = 1;
        return 0;
    } else {
        p.start = type == kBits ? uint64_t(start_ref - 1024) : LadNum_WordOffset(start_ref);
    }
    // A block named by a reference stays in the area of its first element; one
    // at a byte offset may run through the register areas.
    uint64_t first_byte = type == kBits ? p.start / 8 : p.start;
    uint64_t end = indirect ? kLadAreaEnd : LadNum_AreaEnd(first_byte);
    bool inside = type == kBits ? p.start + n <= end * 8 : p.start + n * size <= end;
    if (!inside) return 0;

    if (shift) {
        if (type == kBits) {
            p.out = LadNum_AtByte(out_ref, 1);
            p.fill = LadNum_AtByte(fill_ref, 1);
            p.out_bit = (out_ref - 1024) & 7;
            p.fill_bit = (fill_ref - 1024) & 7;
        } else {
            // Bytes: the low byte of the register named by out, the byte at
            // the byte address of fill.
            p.out = LadNum_AtWord(out_ref, size);
            p.fill = type == kBytes ? LadNum_AtByte(fill_ref, 1) : LadNum_AtWord(fill_ref, size);
        }
        if (lad_fault) return 0;
    }
    MultiPar = p;
    (shift ? kShift : kRotate)[type]();
    MultiPar = {}; // nothing of an instruction survives it
    return 1;
}

} // namespace

uint8_t Multi_Shift(uint32_t *pc) {
    return multi(pc, true, false);
}
uint8_t Multi_Rotate(uint32_t *pc) {
    return multi(pc, false, false);
}
uint8_t IEC_Multi_Shift(uint32_t *pc) {
    return multi(pc, true, true);
}
uint8_t IEC_Multi_Rotate(uint32_t *pc) {
    return multi(pc, false, true);
}
