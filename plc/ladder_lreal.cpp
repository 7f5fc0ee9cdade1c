// Double-precision (LREAL) instructions of the ladder: one opcode whose next
// word selects the operation. They work on the data stack (an LREAL entry is
// 8 bytes, little-endian like the registers) and on LREALs in four
// consecutive registers, lowest 16 bits first.
//
// The outgoing power flow follows the incoming one unless the operation fails;
// a result is pushed or stored whether or not it fails.
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

// 2 pi as the conversions between degrees and radians use it (a few units in
// the last place away from the exact value).
const double kTwoPi = std::bit_cast<double>(uint64_t(0x401921FB54442491ull));
// What the square root of a negative value gives: the bit pattern of an
// infinity read as an integer. It is kept because programs may test for it.
constexpr double kNegativeRoot = 9218868437227405312.0; // 0x7FF0000000000000
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The data stack through the pointer the interpreter hands over (bytes in use
// of w_stack). Too few or too many bytes stop the scan.
struct Stack {
    uint8_t *sp;
    bool pop(double *v) {
        if (*sp < 8) return fault();
        *sp = uint8_t(*sp - 8);
        *v = std::bit_cast<double>(le64(w_stack + *sp));
        return true;
    }
    bool push_bytes(uint64_t v, unsigned n) {
        if (*sp + n > kDataStackSize) return fault();
        uint8_t b[8];
        put_le64(b, v);
        std::memcpy(w_stack + *sp, b, n);
        *sp = uint8_t(*sp + n);
        return true;
    }
    bool push(double v) { return push_bytes(std::bit_cast<uint64_t>(v), 8); }
    static bool fault() {
        lad_fault = 1;
        return false;
    }
};

double reg_lreal(const uint8_t *p) {
    return std::bit_cast<double>(le64(p));
}

bool compare(int op, double a, double b) {
    switch (op) {
    case 0:
        return a == b;
    case 1:
        return a != b;
    case 2:
        return a > b;
    case 3:
        return a < b;
    case 4:
        return a >= b;
    default:
        return a <= b;
    }
}

// A format text of the program is used only when it holds exactly one
// conversion of a double (f, F, e, E, g, G, a, A with flags, a width and a
// precision of at most three digits each, and an optional l) and otherwise
// plain text and %%. Conversions that write memory or read other arguments
// (%n, %s, %d, *, ...) make the text unusable.
bool format_usable(const char *fmt) {
    int conversions = 0;
    for (const char *s = fmt; *s; ++s) {
        if (*s != '%') continue;
        ++s;
        if (*s == '%') continue;
        while (*s && std::strchr("-+ #0", *s))
            ++s;
        for (int digits = 0; *s >= '0' && *s <= '9'; ++s)
            if (++digits > 3) return false;
        if (*s == '.') {
            ++s;
            for (int digits = 0; *s >= '0' && *s <= '9'; ++s)
                if (++digits > 3) return false;
        }
        if (*s == 'l') ++s;
        if (!*s || !std::strchr("fFeEgGaA", *s)) return false;
        ++conversions;
    }
    return conversions == 1;
}

// 39: the LREAL at `src` as text at byte `dst` of the image.
uint8_t to_text(uint32_t dst, const uint8_t *src, uint16_t max_len, const char (&fmt)[20],
                uint8_t power) {
    double v = reg_lreal(src);
    if (!LadNum_Finite(v)) return 0;
    char text[20 + 1];
    std::memcpy(text, fmt, 20);
    text[20] = 0;
    if (std::strlen(text) == 20 || !format_usable(text)) return 0; // no terminator in its 20 bytes
    char buf[21];
    int n = std::snprintf(buf, sizeof buf, text, v);
    if (n < 0) return 0;
    size_t len = size_t(n) < 20 ? size_t(n) : 20;
    const char *out = buf;
    // A leading zero gives way when the text is one too long (".25").
    if (len == size_t(max_len) + 1 && out[0] == '0') {
        ++out;
        --len;
    }
    uint8_t result = len > max_len ? 0 : power;
    size_t copy = len < max_len ? len : max_len;
    uint64_t at = LadNum_ByteOffset(dst);
    if (dst < 1024 || at + copy + 1 > LadNum_AreaEnd(at)) return 0; // nothing written
    std::memcpy(plc_reg + at, out, copy);
    plc_reg[at + copy] = 0;
    return result;
}

// 38: the decimal text at byte `src` of the image into the LREAL at `dst`. The
// text ends at its NUL or at the end of its register area.
void from_text(uint8_t *dst, uint32_t src) {
    std::string text;
    if (src >= 1024) {
        uint64_t at = LadNum_ByteOffset(src);
        for (uint64_t end = LadNum_AreaEnd(at); at < end && plc_reg[at]; ++at)
            text += char(plc_reg[at]);
    }
    put_le64(dst, std::bit_cast<uint64_t>(std::strtod(text.c_str(), nullptr)));
}

// Unary functions of the top entry: the result and whether it passes.
bool unary(uint16_t op, double b, double *r) {
    bool finite = LadNum_Finite(b);
    switch (op) {
    case 21:
        if (std::signbit(b)) { // -0.0 included
            *r = kNegativeRoot;
            return false;
        }
        *r = std::sqrt(b);
        return finite;
    case 22:
        *r = std::fabs(b);
        return finite;
    case 65:
        // Not above 0 fails: a negative value has no logarithm either.
        *r = std::log10(b);
        return finite && b > 0;
    case 66:
        *r = std::exp(b);
        return finite && b <= 88.0;
    case 67:
        *r = std::log(b);
        return finite && b > 0;
    case 68:
        *r = std::sin(b);
        return finite;
    case 69:
        *r = std::cos(b);
        return finite;
    case 70:
        *r = std::tan(b);
        return finite;
    case 71:
    case 72:
        *r = op == 71 ? std::asin(b) : std::acos(b);
        return finite && b >= -1.0 && b <= 1.0;
    case 73:
        *r = std::atan(b);
        return finite;
    case 74:
        *r = b * kTwoPi / 360.0;
        return finite;
    default: // 75
        *r = b * 360.0 / kTwoPi;
        return finite;
    }
}

// Register bytes of the sources of 32 to 37: INT, DINT, REAL, then LREALs.
constexpr uint8_t kSourceBytes[] = {2, 4, 4, 8, 8, 8};

// clang-format off
uint8_t run(uint16_t op, uint32_t *pc, Stack st, uint8_t power) {
    switch (op) {
    case 0: case 1: case 2: case 3: case 4: case 5: {
        double a, b;
        if (!st.pop(&b) || !st.pop(&a)) return 0;
        return compare(op, a, b) ? power : 0;
    }
    case 6: { // range test of c against low a and high b; a wrapped range when a >= b
        double a, b, c;
        if (!st.pop(&c) || !st.pop(&b) || !st.pop(&a)) return 0;
        return (a < b ? (a <= c && c <= b) : (c >= a || c <= b)) ? 1 : 0;
    }
    case 16: case 17: case 18: case 19: case 20: case 64: {
        double a, b, r = 0;
        if (!st.pop(&b) || !st.pop(&a)) return 0;
        bool ok = LadNum_Finite(a) && LadNum_Finite(b);
        switch (op) {
        case 16:
            r = a + b;
            break;
        case 17:
            r = a - b;
            break;
        case 18:
            r = a * b;
            break;
        case 19:
            // A zero divisor passes power: the result is the infinity of the
            // quotient's sign, NaN for 0 / 0 (as IEEE division gives them).
            if (b != 0) r = a / b;
            else if (a == 0 || std::isnan(a)) r = std::numeric_limits<double>::quiet_NaN();
            else r = std::copysign(kInfinity, a) * std::copysign(1.0, b);
            break;
        case 20:
            r = std::fmod(a, b);
            if (b == 0) ok = false;
            break;
        default:
            r = std::pow(a, b);
            break;
        }
        if (!st.push(r)) return 0;
        return ok ? power : 0;
    }
    case 21: case 22: case 65: case 66: case 67: case 68: case 69: case 70: case 71: case 72:
    case 73: case 74: case 75: {
        double b, r;
        if (!st.pop(&b)) return 0;
        bool ok = unary(op, b, &r);
        if (!st.push(r)) return 0;
        return ok ? power : 0;
    }
    case 32: case 33: case 34: case 35: case 36: case 37: {
        uint8_t *p = LadNum_AtWord(Lad_WordRef(pc), kSourceBytes[op - 32]);
        if (lad_fault || !p) return 0;
        if (op <= 34) {
            double v = op == 32   ? double(int16_t(le16(p)))
                       : op == 33 ? double(int32_t(le32(p)))
                                  : double(std::bit_cast<float>(le32(p)));
            if (!st.push(v)) return 0;
            return op == 34 && !LadNum_Finite(v) ? 0 : power;
        }
        double v = reg_lreal(p);
        bool finite = LadNum_Finite(v);
        if (op == 37) {
            if (!st.push_bytes(std::bit_cast<uint32_t>(LadNum_ToFloat(v)), 4)) return 0;
            return finite && v >= -3.4e38 && v <= 3.4e38 ? power : 0;
        }
        // Truncation toward zero; out of range the low bits are pushed.
        int64_t t = LadNum_Trunc64(v);
        int64_t lo = op == 35 ? -32768 : INT32_MIN, hi = op == 35 ? 32767 : INT32_MAX;
        if (!st.push_bytes(uint64_t(t), op == 35 ? 2 : 4)) return 0;
        return finite && t >= lo && t <= hi ? power : 0;
    }
    case 38: {
        uint32_t dst = Lad_WordRef(pc), src = Lad_WordRef(pc);
        if (lad_fault) return 0;
        uint8_t *d = LadNum_AtWord(dst, 8);
        if (!d) return 0;
        from_text(d, src);
        return power;
    }
    case 39: {
        uint32_t dst = Lad_WordRef(pc), src = Lad_WordRef(pc);
        Lad_Word(pc); // reserved
        uint16_t max_len = Lad_Word(pc);
        char fmt[20];
        for (int i = 0; i < 10; ++i) {
            uint16_t w = Lad_Word(pc);
            fmt[2 * i] = char(w & 0xFF);
            fmt[2 * i + 1] = char(w >> 8);
        }
        if (lad_fault) return 0;
        const uint8_t *s = LadNum_AtWord(src, 8);
        if (!s) return 0;
        return to_text(dst, s, max_len, fmt, power);
    }
    case 48: {
        uint32_t dst = Lad_WordRef(pc), src = Lad_WordRef(pc);
        if (lad_fault) return 0;
        uint8_t *d = LadNum_AtWord(dst, 8), *s = LadNum_AtWord(src, 8);
        if (!d || !s) return 0;
        std::memmove(d, s, 8);
        return power;
    }
    case 49: {
        uint32_t dst = Lad_WordRef(pc);
        uint64_t lo = Lad_Dword(pc), hi = Lad_Dword(pc);
        if (lad_fault) return 0;
        uint8_t *d = LadNum_AtWord(dst, 8);
        if (!d) return 0;
        put_le64(d, lo | (hi << 32));
        return power;
    }
    default:
        // Not an operation: no power, nothing else.
        return 0;
    }
}
// clang-format on

} // namespace

uint8_t LogicLreal(uint32_t *pc, uint8_t *stack_pointer, uint8_t power) {
    uint16_t op = Lad_Word(pc);
    if (lad_fault) return 0;
    return run(op, pc, Stack{stack_pointer}, power);
}
