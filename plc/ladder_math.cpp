// Data-stack arithmetic of the ladder: integer and floating-point operations,
// bit-wise logic, shifts and rotations, comparisons and range tests. The
// moves, typed loads and indexed and pointer accesses live in
// plc/ladder_move.cpp; LadData_Exec dispatches to both.
//
// Two-operand operations: a is the entry pushed first, b the top; b is popped
// and a is replaced by the result. Trouble never stops the scan: it clears the
// power flow (the top of the logic stack), and the result stays on the data
// stack all the same:
//  - an integer result that does not fit its type stays truncated to the
//    type's width;
//  - a division or remainder by zero leaves the dividend as the result;
//  - a float operand or result that is infinite or NaN is kept as it is.
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

void int16_op(uint16_t op) {
    if (op == 0x08C || op == 0x08E) {
        int32_t v = int16_t(LadNum_Pop16());
        if (lad_fault) return;
        if (op == 0x08C) {
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
    case 0x079:
        r = a - b;
        break;
    case 0x07A:
        r = a * b;
        break;
    case 0x07B:
    case 0x08D:
        if (b == 0) {
            fail();
            LadNum_Push16(araw);
            return;
        }
        r = op == 0x07B ? a / b : a % b; // -32768 / -1 = 32768: reported below
        break;
    }
    if (r < -32768 || r > 32767) fail();
    LadNum_Push16(uint16_t(r));
}

// ---------------------------------------------------------------------------
// Signed 32-bit.

void int32_op(uint16_t op) {
    if (op == 0x08F || op == 0x091) {
        uint32_t raw = LadNum_Pop32();
        if (lad_fault) return;
        int32_t v = int32_t(raw);
        if (op == 0x08F) {
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
    case 0x07D:
        r = a - b;
        break;
    case 0x07E:
        // Every product that does not fit is reported, -1 x -2147483648
        // included.
        r = a * b;
        break;
    case 0x07F:
    case 0x090:
        if (b == 0) {
            fail();
            LadNum_Push32(araw);
            return;
        }
        r = op == 0x07F ? a / b : a % b; // in 64 bits: the minimum / -1 is reported below
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

void small_op(uint16_t op) {
    uint16_t braw = LadNum_Pop16(), araw = LadNum_Pop16();
    if (lad_fault) return;
    bool is_signed = op >= 0x10A;
    int32_t a = is_signed ? int8_t(uint8_t(araw)) : uint8_t(araw);
    int32_t b = is_signed ? int8_t(uint8_t(braw)) : uint8_t(braw);
    int32_t lo = is_signed ? -128 : 0, hi = is_signed ? 127 : 255, r = 0;
    switch (op) {
    case 0x104:
    case 0x10C:
        r = a * b;
        break;
    case 0x10A:
        r = a + b;
        break;
    case 0x10B:
        r = a - b;
        break;
    case 0x105:
    case 0x10D:
        if (b == 0) {
            fail();
            LadNum_Push16(araw);
            return;
        }
        r = a / b; // -128 / -1 = 128 does not fit: reported below
        break;
    }
    if (r < lo || r > hi) fail();
    push8(r, is_signed);
}

void unsigned_op(uint16_t op) {
    bool wide = op == 0x108 || op == 0x109;
    uint64_t b = wide ? LadNum_Pop32() : LadNum_Pop16();
    uint64_t a = wide ? LadNum_Pop32() : LadNum_Pop16();
    if (lad_fault) return;
    uint64_t max = wide ? 0xFFFFFFFFu : 0xFFFFu, r;
    if (op == 0x106 || op == 0x108) {
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

// 0x121 to 0x124: the operand selects unsigned 16 (0x20) or 32 bits (0xA0);
// any other type leaves the stack alone.
void selected_op(uint16_t op) {
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
    if (op == 0x123) {
        uint64_t v = pop();
        if (lad_fault) return;
        push(uint64_t(wide ? lsqrt(int64_t(v)) : isqrt(int32_t(v))));
        return;
    }
    uint64_t b = pop(), a = pop();
    if (lad_fault) return;
    switch (op) {
    case 0x121:
        if (a + b > max) fail(); // carry out of the type
        push(a + b);
        break;
    case 0x122:
        if (b > a) fail(); // borrow
        push(a - b);
        break;
    default: // 0x124
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

void float_unary(uint16_t op) {
    float v = LadNum_PopF();
    if (lad_fault) return;
    double d = v;
    bool ok = LadNum_FiniteF(v);
    double r = 0;
    switch (op) {
    case 0x092:
        r = std::fabs(d);
        break;
    case 0x094:
        // The root of a negative value is NaN; it is stored all the same.
        if (d < 0) ok = false;
        r = std::sqrt(d);
        break;
    case 0x096:
        if (!(d > 0)) ok = false;
        r = std::log10(d);
        break;
    case 0x098:
        if (!(d > 0)) ok = false;
        r = std::log(d);
        break;
    case 0x097:
        // Results up to about 1.7e38 still fit, but the limit is 88.0.
        if (d > 88.0) ok = false;
        r = std::exp(d);
        break;
    case 0x099:
        r = std::sin(d);
        break;
    case 0x09A:
        r = std::cos(d);
        break;
    case 0x09B:
        r = std::tan(d);
        break;
    case 0x09C:
    case 0x09D:
        if (d < -1.0 || d > 1.0) ok = false;
        r = op == 0x09C ? std::asin(d) : std::acos(d);
        break;
    case 0x09E:
        r = std::atan(d);
        break;
    case 0x06C:
        r = d * kTwoPi / 360.0;
        break;
    case 0x06D:
        r = d * 360.0 / kTwoPi;
        break;
    }
    float out = LadNum_ToFloat(r);
    if (!ok || !LadNum_FiniteF(out)) fail();
    LadNum_PushF(out);
}

void float_binary(uint16_t op) {
    float b = LadNum_PopF(), a = LadNum_PopF();
    if (lad_fault) return;
    bool ok = LadNum_FiniteF(a) && LadNum_FiniteF(b);
    float r = 0;
    switch (op) {
    case 0x080:
        r = a + b;
        break;
    case 0x081:
        r = a - b;
        break;
    case 0x082:
        r = a * b;
        break;
    case 0x083:
    case 0x093:
        if (b == 0) {
            // No division: the dividend stays.
            fail();
            LadNum_PushF(a);
            return;
        }
        r = op == 0x083 ? a / b : LadNum_ToFloat(std::fmod(double(a), double(b)));
        break;
    case 0x095:
        r = LadNum_ToFloat(std::pow(double(a), double(b)));
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

void logic16(uint16_t op) {
    if (op == 0x067) {
        uint16_t v = LadNum_Pop16();
        if (!lad_fault) LadNum_Push16(uint16_t(~v));
        return;
    }
    uint16_t b = LadNum_Pop16(), a = LadNum_Pop16();
    if (lad_fault) return;
    uint16_t r = 0;
    switch (op) {
    case 0x064:
        r = a & b;
        break;
    case 0x065:
        r = a | b;
        break;
    case 0x066:
        r = a ^ b;
        break;
    case 0x06E:
        r = b >= 16 ? 0 : uint16_t(a << b);
        break;
    case 0x06F: // arithmetic: the sign fills in
        r = uint16_t(int16_t(a) >> (b >= 16 ? 15 : b));
        break;
    case 0x070:
        r = rotl16(a, b & 15);
        break;
    case 0x071:
        r = rotl16(a, (16 - (b & 15)) & 15);
        break;
    }
    LadNum_Push16(r);
}

void logic32(uint16_t op) {
    if (op == 0x06B) {
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
    case 0x068:
        r = a & b;
        break;
    case 0x069:
        r = a | b;
        break;
    case 0x06A:
        r = a ^ b;
        break;
    case 0x072:
        r = out ? 0 : a << count;
        break;
    case 0x073:
        r = out ? 0 : a >> count;
        break;
    case 0x074:
        r = rotl32(a, b & 31);
        break;
    case 0x075:
        r = rotl32(a, (32 - (b & 31)) & 31);
        break;
    }
    LadNum_Push32(r);
}

void logic8(uint16_t op) {
    uint16_t b = LadNum_Pop16(), araw = LadNum_Pop16();
    if (lad_fault) return;
    uint8_t a = uint8_t(araw), r = 0;
    switch (op) {
    case 0x10E:
        r = b >= 8 ? 0 : uint8_t(a << b);
        Lad_Top() = 1;
        break;
    case 0x10F:
        r = b >= 8 ? 0 : uint8_t(a >> b);
        Lad_Top() = 1;
        break;
    case 0x110:
        r = rotl8(a, b & 7);
        break;
    case 0x111:
        r = rotl8(a, (8 - (b & 7)) & 7);
        break;
    }
    LadNum_Push16(r);
}

// ---------------------------------------------------------------------------
// Comparisons: "set" writes 1 or 0 into the top; "and" clears the top when
// the comparison fails. Relations in the order =, <>, <, >, <=, >=.

template <typename T> bool relate(int rel, T a, T b) {
    switch (rel) {
    case 0:
        return a == b;
    case 1:
        return a != b;
    case 2:
        return a < b;
    case 3:
        return a > b;
    case 4:
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

void compare(uint16_t op) {
    if (op >= 0x0A0 && op <= 0x0A5) {
        int16_t b = int16_t(LadNum_Pop16()), a = int16_t(LadNum_Pop16());
        if (!lad_fault) set_result(relate(op - 0x0A0, a, b));
    } else if (op >= 0x0A6 && op <= 0x0AB) {
        int32_t b = int32_t(LadNum_Pop32()), a = int32_t(LadNum_Pop32());
        if (!lad_fault) and_result(relate(op - 0x0A6, a, b));
    } else if (op >= 0x0AC && op <= 0x0B1) {
        float b = LadNum_PopF(), a = LadNum_PopF();
        if (!lad_fault) and_result(relate(op - 0x0AC, a, b));
    } else if (op == 0x118 || op == 0x119) {
        uint8_t b = uint8_t(LadNum_Pop16()), a = uint8_t(LadNum_Pop16());
        if (!lad_fault) set_result(relate(op == 0x118 ? 3 : 5, a, b));
    } else if (op == 0x11A || op == 0x11B) {
        uint16_t b = LadNum_Pop16(), a = LadNum_Pop16();
        if (!lad_fault) set_result(relate(op == 0x11A ? 3 : 5, a, b));
    } else if (op == 0x11C || op == 0x11D) {
        uint32_t b = LadNum_Pop32(), a = LadNum_Pop32();
        if (!lad_fault) and_result(relate(op == 0x11C ? 3 : 5, a, b));
    } else { // 0x11E to 0x120: =, >, >=
        int8_t b = int8_t(uint8_t(LadNum_Pop16())), a = int8_t(uint8_t(LadNum_Pop16()));
        if (!lad_fault) set_result(relate(op == 0x11E ? 0 : op == 0x11F ? 3 : 5, a, b));
    }
}

// Range tests: low, high, then the value on top. With low < high the range is
// low..high; otherwise it wraps: value >= low or value <= high (so low ==
// high takes every value).
template <typename T> bool in_range(T low, T high, T v) {
    return low < high ? (low <= v && v <= high) : (v >= low || v <= high);
}

void range(uint16_t op) {
    if (op == 0x0C0) {
        int16_t v = int16_t(LadNum_Pop16()), hi = int16_t(LadNum_Pop16()),
                lo = int16_t(LadNum_Pop16());
        if (!lad_fault) set_result(in_range(lo, hi, v));
    } else if (op == 0x0C1) {
        int32_t v = int32_t(LadNum_Pop32()), hi = int32_t(LadNum_Pop32()),
                lo = int32_t(LadNum_Pop32());
        if (!lad_fault) set_result(in_range(lo, hi, v));
    } else {
        float v = LadNum_PopF(), hi = LadNum_PopF(), lo = LadNum_PopF();
        if (!lad_fault) set_result(in_range(lo, hi, v));
    }
}

} // namespace

// clang-format off
void LadData_Exec(uint16_t op) {
    switch (op) {
    case 0x079: case 0x07A: case 0x07B: case 0x08D: case 0x08C: case 0x08E:
        return int16_op(op);
    case 0x07D: case 0x07E: case 0x07F: case 0x090: case 0x08F: case 0x091:
        return int32_op(op);
    case 0x104: case 0x105: case 0x10A: case 0x10B: case 0x10C: case 0x10D:
        return small_op(op);
    case 0x106: case 0x107: case 0x108: case 0x109:
        return unsigned_op(op);
    case 0x121: case 0x122: case 0x123: case 0x124:
        return selected_op(op);
    case 0x080: case 0x081: case 0x082: case 0x083: case 0x093: case 0x095:
        return float_binary(op);
    case 0x092: case 0x094: case 0x096: case 0x097: case 0x098: case 0x099: case 0x09A:
    case 0x09B: case 0x09C: case 0x09D: case 0x09E: case 0x06C: case 0x06D:
        return float_unary(op);
    case 0x064: case 0x065: case 0x066: case 0x067: case 0x06E: case 0x06F: case 0x070:
    case 0x071:
        return logic16(op);
    case 0x068: case 0x069: case 0x06A: case 0x06B: case 0x072: case 0x073: case 0x074:
    case 0x075:
        return logic32(op);
    case 0x10E: case 0x10F: case 0x110: case 0x111:
        return logic8(op);
    case 0x0A0: case 0x0A1: case 0x0A2: case 0x0A3: case 0x0A4: case 0x0A5: case 0x0A6:
    case 0x0A7: case 0x0A8: case 0x0A9: case 0x0AA: case 0x0AB: case 0x0AC: case 0x0AD:
    case 0x0AE: case 0x0AF: case 0x0B0: case 0x0B1: case 0x118: case 0x119: case 0x11A:
    case 0x11B: case 0x11C: case 0x11D: case 0x11E: case 0x11F: case 0x120:
        return compare(op);
    case 0x0C0: case 0x0C1: case 0x0C2:
        return range(op);
    default:
        if (LadMove_Exec(op)) return;
        // Codes of the family whose operands only their own handler knows
        // (pointer and indexed forms of the string and block instructions).
        Ladder_SkipOperands(&lad_pc);
        return;
    }
}
// clang-format on
