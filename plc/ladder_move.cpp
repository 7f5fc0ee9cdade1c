// Moves between registers and the data stack, typed loads with range-tested
// conversion, and indexed and pointer access to the register image.
//
// Indexed and pointer accesses are confined to the register image: an index
// or a pointer that leaves its area makes a failed instruction (the power
// flow becomes 0, nothing is written, a load pushes 0) and never reaches
// memory outside it.
#include "plc/ladder.h"
#include "plc/ladder_num.h"

#include <cstring>

namespace {

void fail() {
    Lad_Top() = 0;
}

// Operand readers: the reference, then its bytes (null and lad_fault set when
// the operand lies outside the register area).
uint8_t *word_operand(uint64_t bytes) {
    return LadNum_AtWord(Lad_WordRef(&lad_pc), bytes);
}
uint8_t *byte_operand() {
    return LadNum_AtByte(Lad_WordRef(&lad_pc), 1);
}

// Both operands are read before either is used, so the program counter passes
// both even when the first is refused.
bool two_words(uint64_t dst_bytes, uint64_t src_bytes, uint8_t **dst, uint8_t **src) {
    uint32_t d = Lad_WordRef(&lad_pc), s = Lad_WordRef(&lad_pc);
    if (lad_fault) return false;
    *dst = LadNum_AtWord(d, dst_bytes);
    *src = LadNum_AtWord(s, src_bytes);
    return !lad_fault;
}

// ---------------------------------------------------------------------------
// Loads, stores and moves.

bool move(uint16_t op) {
    switch (op) {
    case 0x05A:   // copy one word: destination, source
    case 0x05F: { // copy 32 bits
        uint32_t n = op == 0x05A ? 2 : 4;
        uint8_t *dst, *src;
        if (two_words(n, n, &dst, &src)) std::memmove(dst, src, n);
        return true;
    }
    case 0x05C: { // store K16
        uint8_t *p = word_operand(2);
        uint16_t k = Lad_Word(&lad_pc);
        if (p && !lad_fault) put_le16(p, k);
        return true;
    }
    case 0x060: { // store K32
        uint8_t *p = word_operand(4);
        uint32_t k = Lad_Dword(&lad_pc);
        if (p && !lad_fault) put_le32(p, k);
        return true;
    }
    case 0x05D: { // copy count words: destination, source, count
        uint32_t d = Lad_WordRef(&lad_pc), s = Lad_WordRef(&lad_pc);
        uint16_t count = Lad_Word(&lad_pc);
        if (lad_fault) return true;
        uint8_t *dst = LadNum_AtWord(d, 2), *src = LadNum_AtWord(s, 2);
        if (!dst || !src || count == 0) return true;
        // A block that runs out of its register area is refused whole.
        uint64_t doff = LadNum_WordOffset(d), soff = LadNum_WordOffset(s);
        if (doff + 2u * count > LadNum_AreaEnd(doff) || soff + 2u * count > LadNum_AreaEnd(soff)) {
            fail();
            return true;
        }
        std::memmove(dst, src, 2u * count);
        return true;
    }
    case 0x05E: { // fill count words with a value
        uint32_t r = Lad_WordRef(&lad_pc);
        uint16_t value = Lad_Word(&lad_pc), count = Lad_Word(&lad_pc);
        if (lad_fault) return true;
        uint8_t *p = LadNum_AtWord(r, 2);
        if (!p || count == 0) return true;
        uint64_t off = LadNum_WordOffset(r);
        if (off + 2u * count > LadNum_AreaEnd(off)) {
            fail();
            return true;
        }
        for (uint32_t i = 0; i < count; ++i)
            put_le16(p + 2 * i, value);
        return true;
    }
    case 0x0C3: { // push a byte register, zero-extended
        uint8_t *p = byte_operand();
        if (p) LadNum_Push16(*p);
        return true;
    }
    case 0x0C4: { // pop; the low byte into the byte register
        uint8_t *p = byte_operand();
        if (!p) return true;
        uint16_t v = LadNum_Pop16();
        if (!lad_fault) *p = uint8_t(v);
        return true;
    }
    case 0x21C: { // push four words
        uint8_t *p = word_operand(8);
        if (p) LadNum_Push64(le64(p));
        return true;
    }
    case 0x21D: { // push a 64-bit immediate, lowest word first
        uint64_t lo = Lad_Dword(&lad_pc), hi = Lad_Dword(&lad_pc);
        if (!lad_fault) LadNum_Push64(lo | (hi << 32));
        return true;
    }
    case 0x21E: { // pop 64 bits into four words
        uint8_t *p = word_operand(8);
        if (!p) return true;
        uint64_t v = LadNum_Pop64();
        if (!lad_fault) put_le64(p, v);
        return true;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Typed loads with conversion.

enum class Src : uint8_t { UB, SB, UW, SW, UD, SD, F };
enum class Dst : uint8_t { U8, S8, W16, D32, F32 };
enum class Check : uint8_t {
    None,
    Value, // the (truncated) value must lie in lo..hi
    Raw,   // a float source itself must lie in lo..hi (not the truncated value)
};

struct Conv {
    uint16_t op;
    Src src;
    Dst dst;
    Check check;
    double lo, hi;
};

// clang-format off
constexpr Conv kConv[] = {
    {0x12C, Src::UB, Dst::W16, Check::None, 0, 0},
    {0x12F, Src::UB, Dst::W16, Check::None, 0, 0},
    {0x12D, Src::UB, Dst::D32, Check::None, 0, 0},
    {0x130, Src::UB, Dst::D32, Check::None, 0, 0},
    {0x12E, Src::UB, Dst::F32, Check::None, 0, 0},
    {0x144, Src::SB, Dst::W16, Check::None, 0, 0},
    {0x145, Src::SB, Dst::D32, Check::None, 0, 0},
    {0x146, Src::SB, Dst::F32, Check::None, 0, 0},
    {0x147, Src::SB, Dst::W16, Check::Value, 0, 127},
    {0x148, Src::SB, Dst::D32, Check::Value, 0, 127},
    {0x131, Src::UW, Dst::U8,  Check::Value, 0, 127},
    {0x134, Src::UW, Dst::U8,  Check::Value, 0, 255},
    {0x13B, Src::SW, Dst::U8,  Check::Value, 0, 255},
    {0x149, Src::SW, Dst::S8,  Check::Value, -128, 127},
    {0x132, Src::UW, Dst::D32, Check::None, 0, 0},
    {0x135, Src::UW, Dst::D32, Check::None, 0, 0},
    {0x13C, Src::SW, Dst::D32, Check::Value, 0, 32767},
    {0x133, Src::UW, Dst::F32, Check::None, 0, 0},
    {0x04F, Src::SW, Dst::F32, Check::None, 0, 0},
    {0x136, Src::UD, Dst::U8,  Check::Value, 0, 127},
    {0x139, Src::UD, Dst::U8,  Check::Value, 0, 255},
    {0x13D, Src::UD, Dst::U8,  Check::Value, 0, 255},
    {0x14A, Src::SD, Dst::S8,  Check::Value, -128, 127},
    {0x13A, Src::UD, Dst::W16, Check::Value, 0, 65535},
    {0x13E, Src::UD, Dst::W16, Check::Value, 0, 65535},
    {0x04B, Src::SD, Dst::W16, Check::Value, -32768, 32767},
    {0x137, Src::SD, Dst::W16, Check::Value, -32768, 32767},
    {0x04E, Src::SD, Dst::F32, Check::None, 0, 0},
    {0x138, Src::UD, Dst::F32, Check::None, 0, 0},
    {0x13F, Src::F,  Dst::U8,  Check::Value, 0, 255},
    {0x14B, Src::F,  Dst::S8,  Check::Value, -128, 127},
    {0x140, Src::F,  Dst::W16, Check::Value, 0, 65535},
    {0x04D, Src::F,  Dst::W16, Check::Raw, -32768.0, 32767.0},
    {0x04C, Src::F,  Dst::D32, Check::Raw, -2147483648.0, 2147483647.0},
    {0x141, Src::F,  Dst::D32, Check::Raw, 0.0, 4294967294.0},
};
// clang-format on

const Conv *conv_of(uint16_t op) {
    for (const Conv &c : kConv)
        if (c.op == op) return &c;
    return nullptr;
}

void push_as(Dst dst, int64_t v) {
    switch (dst) {
    case Dst::U8:
        LadNum_Push16(uint8_t(v));
        break;
    case Dst::S8: // signed bytes are pushed sign-extended
        LadNum_Push16(uint16_t(int16_t(int8_t(uint8_t(v)))));
        break;
    case Dst::W16:
        LadNum_Push16(uint16_t(v));
        break;
    case Dst::D32:
        LadNum_Push32(uint32_t(uint64_t(v)));
        break;
    case Dst::F32:
        LadNum_PushF(float(v));
        break;
    }
}

void convert(const Conv &c) {
    unsigned bytes = c.src == Src::UB || c.src == Src::SB   ? 1
                     : c.src == Src::UW || c.src == Src::SW ? 2
                                                            : 4;
    uint32_t r = Lad_WordRef(&lad_pc);
    if (lad_fault) return;
    const uint8_t *p = bytes == 1 ? LadNum_AtByte(r, 1) : LadNum_AtWord(r, bytes);
    if (!p) return;
    if (c.src == Src::F) {
        float f = std::bit_cast<float>(le32(p));
        int64_t t = LadNum_Trunc64(f);
        bool ok = LadNum_FiniteF(f);
        if (c.check == Check::Raw)
            ok = ok && f >= c.lo && f <= c.hi;
        else
            ok = ok && double(t) >= c.lo && double(t) <= c.hi;
        // Out of range: the converted value, cut to the target's width, is
        // pushed all the same.
        if (!ok) fail();
        push_as(c.dst, t);
        return;
    }
    int64_t v = 0;
    switch (c.src) {
    case Src::UB:
        v = p[0];
        break;
    case Src::SB:
        v = int8_t(p[0]);
        break;
    case Src::UW:
        v = le16(p);
        break;
    case Src::SW:
        v = int16_t(le16(p));
        break;
    case Src::UD:
        v = le32(p);
        break;
    default:
        v = int32_t(le32(p));
        break;
    }
    if (c.check != Check::None && (v < c.lo || v > c.hi)) {
        // An integer that does not fit: 0 is pushed instead.
        fail();
        v = 0;
    }
    push_as(c.dst, v);
}

// ---------------------------------------------------------------------------
// Indexed access: a base operand and a 1-based index register X. The element
// must lie wholly in the ordinary register areas (before %ET), and X within
// the table's count: at most 100480 bytes, 50240 words or 50240 double words.

struct Indexed {
    uint64_t offset; // image byte offset of the element (bit offset for bits)
    bool ok;
};

uint16_t index_operand() {
    uint8_t *x = word_operand(2);
    return x ? le16(x) : 0;
}

Indexed element(uint32_t base_offset, uint16_t x, uint32_t size, uint32_t count) {
    if (x == 0 || uint32_t(x) - 1 >= count) return {0, false};
    uint64_t off = base_offset + uint64_t(x - 1) * size;
    return {off, off + size <= kLadOrdinaryEnd};
}

void indexed(uint16_t op) {
    if (op == 0x154 || op == 0x155) {
        uint32_t base = Lad_BitRef(&lad_pc);
        uint16_t x = index_operand();
        if (lad_fault || !LadNum_AtByte(base, 1)) return;
        uint64_t bit = uint64_t(base - 1024) + x - 1;
        bool ok = x != 0 && bit < uint64_t(kLadOrdinaryEnd) * 8;
        if (op == 0x154) {
            Lad_Push(ok && ((plc_reg[bit >> 3] >> (bit & 7)) & 1) ? 0xFF : 0x00);
            return;
        }
        uint8_t p = Lad_Pop();
        if (lad_fault) return;
        if (!ok) {
            fail();
            return;
        }
        uint8_t v = p ? 1 : 0;
        PlcReg_Set(uint32_t(1024 + bit), &v, 1);
        return;
    }
    uint32_t base = Lad_WordRef(&lad_pc);
    uint16_t x = index_operand();
    if (lad_fault) return;
    uint32_t size = op <= 0x157 ? 1 : op <= 0x159 ? 2 : 4;
    uint32_t count = op <= 0x157 ? 100480 : 50240;
    if (!(size == 1 ? LadNum_AtByte(base, 1) : LadNum_AtWord(base, size))) return;
    uint64_t base_off = size == 1 ? LadNum_ByteOffset(base) : LadNum_WordOffset(base);
    Indexed e = element(uint32_t(base_off), x, size, count);
    bool load = (op & 1) == 0; // 0x156, 0x158, 0x15A
    if (load) {
        uint32_t v = 0;
        if (!e.ok)
            fail();
        else
            v = size == 1   ? plc_reg[e.offset]
                : size == 2 ? le16(plc_reg + e.offset)
                            : le32(plc_reg + e.offset);
        if (size == 4)
            LadNum_Push32(v);
        else
            LadNum_Push16(uint16_t(v));
        return;
    }
    uint32_t v = size == 4 ? LadNum_Pop32() : LadNum_Pop16();
    if (lad_fault) return;
    if (!e.ok) {
        fail();
        return;
    }
    // Through PlcReg_Set: a system register keeps its limits and actions.
    uint8_t bytes[4];
    put_le32(bytes, v);
    PlcReg_Set(uint32_t(1024 + 8 * e.offset), bytes, 8 * size);
}

// ---------------------------------------------------------------------------
// Pointer access: a register pair P holding a byte offset into the register
// image, plus a K16 byte displacement.

void pointer(uint16_t op) {
    uint8_t *pp = word_operand(4);
    uint16_t d = Lad_Word(&lad_pc);
    if (lad_fault || !pp) return;
    uint32_t size = (op == 0x160 || op == 0x164) ? 2 : (op == 0x161 || op == 0x165) ? 4 : 1;
    uint64_t off = uint64_t(le32(pp)) + d;
    bool ok = off + size <= kLadAreaEnd;
    uint8_t *at = ok ? plc_reg + off : nullptr;
    switch (op) {
    case 0x15F:
    case 0x160:
    case 0x161: {
        uint32_t v = 0;
        if (!ok)
            fail();
        else
            v = size == 1 ? *at : size == 2 ? le16(at) : le32(at);
        if (size == 4)
            LadNum_Push32(v);
        else
            LadNum_Push16(uint16_t(v));
        return;
    }
    case 0x162: // the bit: the pushed value is the power flow
        Lad_Push(ok && (*at & 1) ? 0xFF : 0x00);
        return;
    case 0x166: {
        uint8_t p = Lad_Pop();
        if (lad_fault) return;
        if (!ok)
            fail();
        else
            *at = p ? 0xFF : 0x00;
        return;
    }
    default: { // 0x163 to 0x165: stores
        uint32_t v = size == 4 ? LadNum_Pop32() : LadNum_Pop16();
        if (lad_fault) return;
        if (!ok) {
            fail();
            return;
        }
        if (size == 1)
            *at = uint8_t(v);
        else if (size == 2)
            put_le16(at, uint16_t(v));
        else
            put_le32(at, v);
        return;
    }
    }
}

} // namespace

bool LadMove_Exec(uint16_t op) {
    if (move(op)) return true;
    if (const Conv *c = conv_of(op)) {
        convert(*c);
        return true;
    }
    if (op >= 0x154 && op <= 0x15B) {
        indexed(op);
        return true;
    }
    if (op >= 0x15F && op <= 0x166) {
        pointer(op);
        return true;
    }
    if (op == 0x168) { // true when the register holds 1
        uint8_t *p = word_operand(2);
        if (p) Lad_Push(le16(p) == 1 ? 0xFF : 0x00);
        return true;
    }
    return false;
}
