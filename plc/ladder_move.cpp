// Moves between registers and the data stack, typed loads with range-tested
// conversion, and indexed and pointer access to the register image.
//
// Indexed and pointer accesses are confined to the register image: an index
// or a pointer that leaves its area makes a failed instruction (the power
// flow becomes 0, nothing is written, a load pushes 0) and never reaches
// memory outside it.
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"
#include "plc/ladder_ops.h"

#include <cstring>
#include <iterator>

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

void move(LadMov op) {
    switch (op) {
    case LadMov::Word:    // copy one word: destination, source
    case LadMov::Dword: { // copy 32 bits
        uint32_t n = op == LadMov::Word ? 2 : 4;
        uint8_t *dst, *src;
        if (two_words(n, n, &dst, &src)) std::memmove(dst, src, n);
        return;
    }
    case LadMov::ConstWord: {
        uint8_t *p = word_operand(2);
        uint16_t k = Lad_Word(&lad_pc);
        if (p && !lad_fault) put_le16(p, k);
        return;
    }
    case LadMov::ConstDword: {
        uint8_t *p = word_operand(4);
        uint32_t k = Lad_Dword(&lad_pc);
        if (p && !lad_fault) put_le32(p, k);
        return;
    }
    case LadMov::Block: {
        uint32_t d = Lad_WordRef(&lad_pc), s = Lad_WordRef(&lad_pc);
        uint16_t count = Lad_Word(&lad_pc);
        if (lad_fault) return;
        uint8_t *dst = LadNum_AtWord(d, 2), *src = LadNum_AtWord(s, 2);
        if (!dst || !src || count == 0) return;
        // A block that runs out of its register area is refused whole.
        uint64_t doff = LadNum_WordOffset(d), soff = LadNum_WordOffset(s);
        if (doff + 2u * count > LadNum_AreaEnd(doff) || soff + 2u * count > LadNum_AreaEnd(soff)) {
            fail();
            return;
        }
        std::memmove(dst, src, 2u * count);
        return;
    }
    case LadMov::Fill: {
        uint32_t r = Lad_WordRef(&lad_pc);
        uint16_t value = Lad_Word(&lad_pc), count = Lad_Word(&lad_pc);
        if (lad_fault) return;
        uint8_t *p = LadNum_AtWord(r, 2);
        if (!p || count == 0) return;
        uint64_t off = LadNum_WordOffset(r);
        if (off + 2u * count > LadNum_AreaEnd(off)) {
            fail();
            return;
        }
        for (uint32_t i = 0; i < count; ++i)
            put_le16(p + 2 * i, value);
        return;
    }
    case LadMov::PushByte: {
        uint8_t *p = byte_operand();
        if (p) LadNum_Push16(*p);
        return;
    }
    case LadMov::PopByte: {
        uint8_t *p = byte_operand();
        if (!p) return;
        uint16_t v = LadNum_Pop16();
        if (!lad_fault) *p = uint8_t(v);
        return;
    }
    case LadMov::Push64: {
        uint8_t *p = word_operand(8);
        if (p) LadNum_Push64(le64(p));
        return;
    }
    case LadMov::PushConst64: { // lowest word first
        uint64_t lo = Lad_Dword(&lad_pc), hi = Lad_Dword(&lad_pc);
        if (!lad_fault) LadNum_Push64(lo | (hi << 32));
        return;
    }
    case LadMov::Pop64: {
        uint8_t *p = word_operand(8);
        if (!p) return;
        uint64_t v = LadNum_Pop64();
        if (!lad_fault) put_le64(p, v);
        return;
    }
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
    LadConv id;
    Src src;
    Dst dst;
    Check check;
    double lo, hi;
};

// clang-format off
constexpr Conv kConv[] = {
    {LadConv::UB_W,  Src::UB, Dst::W16, Check::None, 0, 0},
    {LadConv::UB_D,  Src::UB, Dst::D32, Check::None, 0, 0},
    {LadConv::UB_F,  Src::UB, Dst::F32, Check::None, 0, 0},
    {LadConv::SB_W,  Src::SB, Dst::W16, Check::None, 0, 0},
    {LadConv::SB_D,  Src::SB, Dst::D32, Check::None, 0, 0},
    {LadConv::SB_F,  Src::SB, Dst::F32, Check::None, 0, 0},
    {LadConv::SB_WC, Src::SB, Dst::W16, Check::Value, 0, 127},
    {LadConv::SB_DC, Src::SB, Dst::D32, Check::Value, 0, 127},
    {LadConv::W_B7,  Src::UW, Dst::U8,  Check::Value, 0, 127},
    {LadConv::W_B,   Src::UW, Dst::U8,  Check::Value, 0, 255},
    {LadConv::SW_B,  Src::SW, Dst::U8,  Check::Value, 0, 255},
    {LadConv::SW_SB, Src::SW, Dst::S8,  Check::Value, -128, 127},
    {LadConv::W_D,   Src::UW, Dst::D32, Check::None, 0, 0},
    {LadConv::SW_DC, Src::SW, Dst::D32, Check::Value, 0, 32767},
    {LadConv::W_F,   Src::UW, Dst::F32, Check::None, 0, 0},
    {LadConv::SW_F,  Src::SW, Dst::F32, Check::None, 0, 0},
    {LadConv::D_B7,  Src::UD, Dst::U8,  Check::Value, 0, 127},
    {LadConv::D_B,   Src::UD, Dst::U8,  Check::Value, 0, 255},
    {LadConv::SD_SB, Src::SD, Dst::S8,  Check::Value, -128, 127},
    {LadConv::D_W,   Src::UD, Dst::W16, Check::Value, 0, 65535},
    {LadConv::SD_SW, Src::SD, Dst::W16, Check::Value, -32768, 32767},
    {LadConv::SD_F,  Src::SD, Dst::F32, Check::None, 0, 0},
    {LadConv::D_F,   Src::UD, Dst::F32, Check::None, 0, 0},
    {LadConv::F_B,   Src::F,  Dst::U8,  Check::Value, 0, 255},
    {LadConv::F_SB,  Src::F,  Dst::S8,  Check::Value, -128, 127},
    {LadConv::F_W,   Src::F,  Dst::W16, Check::Value, 0, 65535},
    {LadConv::F_SW,  Src::F,  Dst::W16, Check::Raw, -32768.0, 32767.0},
    {LadConv::F_SD,  Src::F,  Dst::D32, Check::Raw, -2147483648.0, 2147483647.0},
    {LadConv::F_D,   Src::F,  Dst::D32, Check::Raw, 0.0, 4294967294.0},
};
// clang-format on

// The table is indexed by the selector.
constexpr bool conv_in_order() {
    for (size_t i = 0; i < std::size(kConv); ++i)
        if (size_t(kConv[i].id) != i) return false;
    return std::size(kConv) == size_t(LadConv::F_D) + 1;
}
static_assert(conv_in_order());

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

// Bytes of an access (a bit access takes its byte).
uint32_t access_size(LadAccess a) {
    switch (a) {
    case LadAccess::LoadWord:
    case LadAccess::StoreWord:
        return 2;
    case LadAccess::LoadDword:
    case LadAccess::StoreDword:
        return 4;
    default:
        return 1;
    }
}
bool is_load(LadAccess a) {
    return a == LadAccess::LoadBit || a == LadAccess::LoadByte || a == LadAccess::LoadWord ||
           a == LadAccess::LoadDword;
}

void indexed(LadAccess op) {
    if (op == LadAccess::LoadBit || op == LadAccess::StoreBit) {
        uint32_t base = Lad_BitRef(&lad_pc);
        uint16_t x = index_operand();
        if (lad_fault || !LadNum_AtByte(base, 1)) return;
        uint64_t bit = uint64_t(base - 1024) + x - 1;
        bool ok = x != 0 && bit < uint64_t(kLadOrdinaryEnd) * 8;
        if (op == LadAccess::LoadBit) {
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
    uint32_t size = access_size(op);
    uint32_t count = size == 1 ? 100480 : 50240;
    if (!(size == 1 ? LadNum_AtByte(base, 1) : LadNum_AtWord(base, size))) return;
    uint64_t base_off = size == 1 ? LadNum_ByteOffset(base) : LadNum_WordOffset(base);
    Indexed e = element(uint32_t(base_off), x, size, count);
    if (is_load(op)) {
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

void pointer(LadAccess op) {
    uint8_t *pp = word_operand(4);
    uint16_t d = Lad_Word(&lad_pc);
    if (lad_fault || !pp) return;
    uint32_t size = access_size(op);
    uint64_t off = uint64_t(le32(pp)) + d;
    bool ok = off + size <= kLadAreaEnd;
    uint8_t *at = ok ? plc_reg + off : nullptr;
    switch (op) {
    case LadAccess::LoadByte:
    case LadAccess::LoadWord:
    case LadAccess::LoadDword: {
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
    case LadAccess::LoadBit: // the pushed value is the power flow
        Lad_Push(ok && (*at & 1) ? 0xFF : 0x00);
        return;
    case LadAccess::StoreBit: {
        uint8_t p = Lad_Pop();
        if (lad_fault) return;
        if (!ok)
            fail();
        else
            *at = p ? 0xFF : 0x00;
        return;
    }
    default: { // stores
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

void LadMove_Move(uint16_t, uint8_t mov) {
    move(LadMov(mov));
}
void LadMove_Convert(uint16_t, uint8_t conv) {
    convert(kConv[conv]);
}
void LadMove_Indexed(uint16_t, uint8_t access) {
    indexed(LadAccess(access));
}
void LadMove_Pointer(uint16_t, uint8_t access) {
    pointer(LadAccess(access));
}
void LadMove_EqualsOne(uint16_t, uint8_t) { // true when the register holds 1
    uint8_t *p = word_operand(2);
    if (p) Lad_Push(le16(p) == 1 ? 0xFF : 0x00);
}

bool LadMove_Exec(uint16_t op) {
    constexpr LadHandler kOwn[] = {LadMove_Move, LadMove_Convert, LadMove_Indexed, LadMove_Pointer,
                                   LadMove_EqualsOne};
    const LadOp &o = Lad_Op(op);
    for (LadHandler h : kOwn)
        if (o.handler == h) {
            h(op, o.arg);
            return true;
        }
    return false;
}
