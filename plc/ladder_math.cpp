// Data-stack arithmetic of the ladder: integer and floating-point operations,
// bit-wise logic, shifts and rotations, comparisons and range tests. The
// moves, typed loads and indexed and pointer accesses live in
// plc/ladder_move.cpp. Each row of the opcode table names the handler here
// that does its work, with the operation as the row's selector.
//
// Two-operand operations: a is the entry pushed first, b the top; b is popped
// and a is replaced by the result. Trouble never stops the scan: it clears the
// power flow (the top of the logic stack), and the result stays on the data
// stack all the same:
//  - an integer result that does not fit its type stays truncated to the
//    type's width;
//  - a division or remainder by zero leaves the dividend as the result;
//  - a float operand or result that is infinite or NaN is kept as it is.
// Readings settled here:
//  - a quotient that does not fit (-32768 / -1, -2147483648 / -1 and the
//    signed byte's -128 / -1) wraps to the type's minimum and clears the
//    power flow, as any other result that does not fit;
//  - float comparisons follow IEEE: with a NaN operand every relation is
//    false except <>, so all of them but <> clear the power flow;
//  - shift counts are not taken modulo the width: a 16-bit left shift by 16
//    or more gives 0, the 16-bit right shift (arithmetic) by 16 or more fills
//    the word with its sign; the 32-bit shifts (logical) take the low half of
//    the count signed and give 0 outside 0..31; the 8-bit shifts give 0 from
//    8 on. Rotations take the count modulo the width.
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"
#include "plc/ladder_ops.h"

#include <cmath>
#include <numbers>

namespace {

void fail() {
    Lad_Top() = 0;
}

// ---------------------------------------------------------------------------
// Integer square roots: the largest r with r * r not above the value, found
// bit by bit from the highest result bit. A negative value gives 0.

int32_t isqrt(int32_t v) {
    int32_t r = 0;
    for (int32_t bit = 0x80; bit; bit >>= 1) {
        int32_t t = r | bit;
        if (t * t <= v) r = t;
    }
    return r;
}
int64_t lsqrt(int64_t v) {
    int64_t r = 0;
    for (int64_t bit = 0x8000; bit; bit >>= 1) {
        int64_t t = r | bit;
        if (t * t <= v) r = t;
    }
    return r;
}

// ---------------------------------------------------------------------------
// Signed 16-bit.

void int16_op(LadArith op) {
    if (op == LadArith::Abs || op == LadArith::Sqrt) {
        int32_t v = int16_t(LadNum_Pop16());
        if (lad_fault) return;
        if (op == LadArith::Abs) {
            // -32768 has no positive partner: it stays as it is.
            LadNum_Push16(uint16_t(v < 0 ? -v : v));
        } else {
            if (v < 0) fail();
            LadNum_Push16(uint16_t(isqrt(v)));
        }
        return;
    }
    uint16_t braw = LadNum_Pop16(), araw = LadNum_Pop16();
    if (lad_fault) return;
    int32_t a = int16_t(araw), b = int16_t(braw), r = 0;
    switch (op) {
    case LadArith::Sub:
        r = a - b;
        break;
    case LadArith::Mul:
        r = a * b;
        break;
    case LadArith::Div:
    case LadArith::Mod:
        if (b == 0) {
            fail();
            LadNum_Push16(araw);
            return;
        }
        r = op == LadArith::Div ? a / b : a % b; // -32768 / -1 = 32768: reported below
        break;
    default:
        break;
    }
    if (r < -32768 || r > 32767) fail();
    LadNum_Push16(uint16_t(r));
}

// ---------------------------------------------------------------------------
// Signed 32-bit.

void int32_op(LadArith op) {
    if (op == LadArith::Abs || op == LadArith::Sqrt) {
        uint32_t raw = LadNum_Pop32();
        if (lad_fault) return;
        int32_t v = int32_t(raw);
        if (op == LadArith::Abs) {
            LadNum_Push32(v < 0 ? 0u - raw : raw); // the minimum stays as it is
        } else {
            if (v < 0) fail();
            LadNum_Push32(uint32_t(lsqrt(v)));
        }
        return;
    }
    uint32_t braw = LadNum_Pop32(), araw = LadNum_Pop32();
    if (lad_fault) return;
    int64_t a = int32_t(araw), b = int32_t(braw), r = 0;
    switch (op) {
    case LadArith::Sub:
        r = a - b;
        break;
    case LadArith::Mul:
        // Every product that does not fit is reported, -1 x -2147483648
        // included.
        r = a * b;
        break;
    case LadArith::Div:
    case LadArith::Mod:
        if (b == 0) {
            fail();
            LadNum_Push32(araw);
            return;
        }
        r = op == LadArith::Div ? a / b : a % b; // in 64 bits: the minimum / -1 is reported below
        break;
    default:
        break;
    }
    if (r < INT32_MIN || r > INT32_MAX) fail();
    LadNum_Push32(uint32_t(uint64_t(r)));
}

// ---------------------------------------------------------------------------
// 8-bit (in 2-byte entries: the value in the low byte, signed bytes pushed
// sign-extended), unsigned 16- and 32-bit.

void push8(int32_t v, bool is_signed) {
    LadNum_Push16(is_signed ? uint16_t(int16_t(int8_t(uint8_t(v)))) : uint16_t(uint8_t(v)));
}

void small_op(LadArith op, bool is_signed) {
    uint16_t braw = LadNum_Pop16(), araw = LadNum_Pop16();
    if (lad_fault) return;
    int32_t a = is_signed ? int8_t(uint8_t(araw)) : uint8_t(araw);
    int32_t b = is_signed ? int8_t(uint8_t(braw)) : uint8_t(braw);
    int32_t lo = is_signed ? -128 : 0, hi = is_signed ? 127 : 255, r = 0;
    switch (op) {
    case LadArith::Mul:
        r = a * b;
        break;
    case LadArith::Add:
        r = a + b;
        break;
    case LadArith::Sub:
        r = a - b;
        break;
    case LadArith::Div:
        if (b == 0) {
            fail();
            LadNum_Push16(araw);
            return;
        }
        r = a / b; // -128 / -1 = 128 does not fit: reported below
        break;
    default:
        break;
    }
    if (r < lo || r > hi) fail();
    push8(r, is_signed);
}

// Multiplication or division.
void unsigned_op(LadArith op, bool wide) {
    uint64_t b = wide ? LadNum_Pop32() : LadNum_Pop16();
    uint64_t a = wide ? LadNum_Pop32() : LadNum_Pop16();
    if (lad_fault) return;
    uint64_t max = wide ? 0xFFFFFFFFu : 0xFFFFu, r;
    if (op == LadArith::Mul) {
        r = a * b;
        if (r > max) fail();
    } else if (b == 0) {
        fail();
        r = a;
    } else {
        r = a / b;
    }
    if (wide)
        LadNum_Push32(uint32_t(r));
    else
        LadNum_Push16(uint16_t(r));
}

// The operand selects unsigned 16 (0x20) or 32 bits (0xA0); any other type
// leaves the stack alone.
void selected_op(LadArith op) {
    uint16_t type = Lad_Word(&lad_pc);
    if (lad_fault || (type != 0x20 && type != 0xA0)) return;
    bool wide = type == 0xA0;
    auto pop = [&]() -> uint64_t { return wide ? LadNum_Pop32() : LadNum_Pop16(); };
    auto push = [&](uint64_t v) {
        if (wide)
            LadNum_Push32(uint32_t(v));
        else
            LadNum_Push16(uint16_t(v));
    };
    uint64_t max = wide ? 0xFFFFFFFFu : 0xFFFFu;
    if (op == LadArith::Sqrt) {
        uint64_t v = pop();
        if (lad_fault) return;
        push(uint64_t(wide ? lsqrt(int64_t(v)) : isqrt(int32_t(v))));
        return;
    }
    uint64_t b = pop(), a = pop();
    if (lad_fault) return;
    switch (op) {
    case LadArith::Add:
        if (a + b > max) fail(); // carry out of the type
        push(a + b);
        break;
    case LadArith::Sub:
        if (b > a) fail(); // borrow
        push(a - b);
        break;
    default: // the remainder
        if (b == 0) {
            fail();
            push(a);
        } else {
            push(a % b);
        }
        break;
    }
}

// ---------------------------------------------------------------------------
// Single-precision floats. The functions beyond the four basic operations are
// computed in double precision and rounded once.

constexpr double kTwoPi = 2 * std::numbers::pi;

void float_unary(LadFn op) {
    float v = LadNum_PopF();
    if (lad_fault) return;
    double d = v;
    bool ok = LadNum_FiniteF(v);
    double r = 0;
    switch (op) {
    case LadFn::Abs:
        r = std::fabs(d);
        break;
    case LadFn::Sqrt:
        // The root of a negative value is NaN; it is stored all the same.
        if (d < 0) ok = false;
        r = std::sqrt(d);
        break;
    case LadFn::Log:
        if (!(d > 0)) ok = false;
        r = std::log10(d);
        break;
    case LadFn::Ln:
        if (!(d > 0)) ok = false;
        r = std::log(d);
        break;
    case LadFn::Exp:
        // Results up to about 1.7e38 still fit, but the limit is 88.0.
        if (d > 88.0) ok = false;
        r = std::exp(d);
        break;
    case LadFn::Sin:
        r = std::sin(d);
        break;
    case LadFn::Cos:
        r = std::cos(d);
        break;
    case LadFn::Tan:
        r = std::tan(d);
        break;
    case LadFn::Asin:
    case LadFn::Acos:
        if (d < -1.0 || d > 1.0) ok = false;
        r = op == LadFn::Asin ? std::asin(d) : std::acos(d);
        break;
    case LadFn::Atan:
        r = std::atan(d);
        break;
    case LadFn::Rad:
        r = d * kTwoPi / 360.0;
        break;
    case LadFn::Deg:
        r = d * 360.0 / kTwoPi;
        break;
    }
    float out = LadNum_ToFloat(r);
    if (!ok || !LadNum_FiniteF(out)) fail();
    LadNum_PushF(out);
}

void float_binary(LadArith op) {
    float b = LadNum_PopF(), a = LadNum_PopF();
    if (lad_fault) return;
    bool ok = LadNum_FiniteF(a) && LadNum_FiniteF(b);
    float r = 0;
    switch (op) {
    case LadArith::Add:
        r = a + b;
        break;
    case LadArith::Sub:
        r = a - b;
        break;
    case LadArith::Mul:
        r = a * b;
        break;
    case LadArith::Div:
    case LadArith::Mod:
        if (b == 0) {
            // No division: the dividend stays.
            fail();
            LadNum_PushF(a);
            return;
        }
        r = op == LadArith::Div ? a / b : LadNum_ToFloat(std::fmod(double(a), double(b)));
        break;
    case LadArith::Pow:
        r = LadNum_ToFloat(std::pow(double(a), double(b)));
        break;
    default:
        break;
    }
    if (!ok || !LadNum_FiniteF(r)) fail();
    LadNum_PushF(r);
}

// ---------------------------------------------------------------------------
// Bit-wise logic, shifts and rotations. A shift by the width or more moves
// every bit out.

uint16_t rotl16(uint16_t v, unsigned n) {
    n &= 15;
    return n ? uint16_t((v << n) | (v >> (16 - n))) : v;
}
uint32_t rotl32(uint32_t v, unsigned n) {
    n &= 31;
    return n ? (v << n) | (v >> (32 - n)) : v;
}
uint8_t rotl8(uint8_t v, unsigned n) {
    n &= 7;
    return n ? uint8_t((v << n) | (v >> (8 - n))) : v;
}

void logic16(LadBits op) {
    if (op == LadBits::Not) {
        uint16_t v = LadNum_Pop16();
        if (!lad_fault) LadNum_Push16(uint16_t(~v));
        return;
    }
    uint16_t b = LadNum_Pop16(), a = LadNum_Pop16();
    if (lad_fault) return;
    uint16_t r = 0;
    switch (op) {
    case LadBits::And:
        r = a & b;
        break;
    case LadBits::Or:
        r = a | b;
        break;
    case LadBits::Xor:
        r = a ^ b;
        break;
    case LadBits::Shl:
        r = b >= 16 ? 0 : uint16_t(a << b);
        break;
    case LadBits::Shr: // arithmetic: the sign fills in
        r = uint16_t(int16_t(a) >> (b >= 16 ? 15 : b));
        break;
    case LadBits::Rol:
        r = rotl16(a, b & 15);
        break;
    case LadBits::Ror:
        r = rotl16(a, (16 - (b & 15)) & 15);
        break;
    default:
        break;
    }
    LadNum_Push16(r);
}

void logic32(LadBits op) {
    if (op == LadBits::Not) {
        uint32_t v = LadNum_Pop32();
        if (!lad_fault) LadNum_Push32(~v);
        return;
    }
    uint32_t b = LadNum_Pop32(), a = LadNum_Pop32();
    if (lad_fault) return;
    uint32_t r = 0;
    // The shift count is the low half of its entry, taken signed; a count
    // outside 0..31 (negative ones included) shifts every bit out.
    int32_t count = int16_t(uint16_t(b));
    bool out = count < 0 || count >= 32;
    switch (op) {
    case LadBits::And:
        r = a & b;
        break;
    case LadBits::Or:
        r = a | b;
        break;
    case LadBits::Xor:
        r = a ^ b;
        break;
    case LadBits::Shl:
        r = out ? 0 : a << count;
        break;
    case LadBits::Shr:
        r = out ? 0 : a >> count;
        break;
    case LadBits::Rol:
        r = rotl32(a, b & 31);
        break;
    case LadBits::Ror:
        r = rotl32(a, (32 - (b & 31)) & 31);
        break;
    default:
        break;
    }
    LadNum_Push32(r);
}

void logic8(LadBits op) {
    uint16_t b = LadNum_Pop16(), araw = LadNum_Pop16();
    if (lad_fault) return;
    uint8_t a = uint8_t(araw), r = 0;
    switch (op) {
    case LadBits::Shl:
        r = b >= 8 ? 0 : uint8_t(a << b);
        Lad_Top() = 1;
        break;
    case LadBits::Shr:
        r = b >= 8 ? 0 : uint8_t(a >> b);
        Lad_Top() = 1;
        break;
    case LadBits::Rol:
        r = rotl8(a, b & 7);
        break;
    case LadBits::Ror:
        r = rotl8(a, (8 - (b & 7)) & 7);
        break;
    default:
        break;
    }
    LadNum_Push16(r);
}

// ---------------------------------------------------------------------------
// Comparisons: "set" writes 1 or 0 into the top; "and" clears the top when
// the comparison fails. Relations in the order =, <>, <, >, <=, >=.

template <typename T> bool relate(LadRel rel, T a, T b) {
    switch (rel) {
    case LadRel::Eq:
        return a == b;
    case LadRel::Ne:
        return a != b;
    case LadRel::Lt:
        return a < b;
    case LadRel::Gt:
        return a > b;
    case LadRel::Le:
        return a <= b;
    default:
        return a >= b;
    }
}

void set_result(bool r) {
    Lad_Top() = r ? 1 : 0;
}
void and_result(bool r) {
    if (!r) Lad_Top() = 0;
}

// Range tests: low, high, then the value on top. With low < high the range is
// low..high; otherwise it wraps: value >= low or value <= high (so low ==
// high takes every value).
template <typename T> bool in_range(T low, T high, T v) {
    return low < high ? (low <= v && v <= high) : (v >= low || v <= high);
}

} // namespace

// ---------------------------------------------------------------------------
// The handlers of the opcode table.

void LadMath_Int16(uint16_t, uint8_t arith) {
    int16_op(LadArith(arith));
}
void LadMath_Int32(uint16_t, uint8_t arith) {
    int32_op(LadArith(arith));
}
void LadMath_U8(uint16_t, uint8_t arith) {
    small_op(LadArith(arith), false);
}
void LadMath_S8(uint16_t, uint8_t arith) {
    small_op(LadArith(arith), true);
}
void LadMath_U16(uint16_t, uint8_t arith) {
    unsigned_op(LadArith(arith), false);
}
void LadMath_U32(uint16_t, uint8_t arith) {
    unsigned_op(LadArith(arith), true);
}
void LadMath_Typed(uint16_t, uint8_t arith) {
    selected_op(LadArith(arith));
}
void LadMath_Float(uint16_t, uint8_t arith) {
    float_binary(LadArith(arith));
}
void LadMath_FloatFn(uint16_t, uint8_t fn) {
    float_unary(LadFn(fn));
}
void LadMath_Bits8(uint16_t, uint8_t bits) {
    logic8(LadBits(bits));
}
void LadMath_Bits16(uint16_t, uint8_t bits) {
    logic16(LadBits(bits));
}
void LadMath_Bits32(uint16_t, uint8_t bits) {
    logic32(LadBits(bits));
}

// Comparisons: the signed word and the byte and unsigned word forms "set" the
// top, the others "and" into it.
void LadMath_CmpW(uint16_t, uint8_t rel) {
    int16_t b = int16_t(LadNum_Pop16()), a = int16_t(LadNum_Pop16());
    if (!lad_fault) set_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpD(uint16_t, uint8_t rel) {
    int32_t b = int32_t(LadNum_Pop32()), a = int32_t(LadNum_Pop32());
    if (!lad_fault) and_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpF(uint16_t, uint8_t rel) {
    float b = LadNum_PopF(), a = LadNum_PopF();
    if (!lad_fault) and_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpUB(uint16_t, uint8_t rel) {
    uint8_t b = uint8_t(LadNum_Pop16()), a = uint8_t(LadNum_Pop16());
    if (!lad_fault) set_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpUW(uint16_t, uint8_t rel) {
    uint16_t b = LadNum_Pop16(), a = LadNum_Pop16();
    if (!lad_fault) set_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpUD(uint16_t, uint8_t rel) {
    uint32_t b = LadNum_Pop32(), a = LadNum_Pop32();
    if (!lad_fault) and_result(relate(LadRel(rel), a, b));
}
void LadMath_CmpSB(uint16_t, uint8_t rel) {
    int8_t b = int8_t(uint8_t(LadNum_Pop16())), a = int8_t(uint8_t(LadNum_Pop16()));
    if (!lad_fault) set_result(relate(LadRel(rel), a, b));
}

void LadMath_Range(uint16_t, uint8_t type) {
    switch (LadType(type)) {
    case LadType::Word: {
        int16_t v = int16_t(LadNum_Pop16()), hi = int16_t(LadNum_Pop16()),
                lo = int16_t(LadNum_Pop16());
        if (!lad_fault) set_result(in_range(lo, hi, v));
        return;
    }
    case LadType::Dword: {
        int32_t v = int32_t(LadNum_Pop32()), hi = int32_t(LadNum_Pop32()),
                lo = int32_t(LadNum_Pop32());
        if (!lad_fault) set_result(in_range(lo, hi, v));
        return;
    }
    default: {
        float v = LadNum_PopF(), hi = LadNum_PopF(), lo = LadNum_PopF();
        if (!lad_fault) set_result(in_range(lo, hi, v));
        return;
    }
    }
}

void LadData_Exec(uint16_t op) {
    // clang-format off
    constexpr LadHandler kOwn[] = {
        LadMath_Int16, LadMath_Int32, LadMath_U8, LadMath_S8, LadMath_U16, LadMath_U32,
        LadMath_Typed, LadMath_Float, LadMath_FloatFn, LadMath_Bits8, LadMath_Bits16,
        LadMath_Bits32, LadMath_CmpW, LadMath_CmpD, LadMath_CmpF, LadMath_CmpUB, LadMath_CmpUW,
        LadMath_CmpUD, LadMath_CmpSB, LadMath_Range,
    };
    // clang-format on
    const LadOp &o = Lad_Op(op);
    for (LadHandler h : kOwn)
        if (o.handler == h) return h(op, o.arg);
    if (LadMove_Exec(op)) return;
    // Codes of the family whose operands only their own handler knows
    // (pointer and indexed forms of the string and block instructions).
    Ladder_SkipOperands(&lad_pc);
}
