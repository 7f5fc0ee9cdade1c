// Conversions between the IEC elementary types (rules in trconv.h).
#include "iec/kernel/trconv.h"

#include "base/le.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trstr.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

enum : uint16_t {
    kBool = 1,
    kDint = 2,
    kReal = 3,
    kTime = 4,
    kString = 5,
    kSint = 10,
    kInt = 11,
    kLint = 12,
    kLreal = 13,
    kUsint = 14,
    kUint = 15,
    kUdint = 16,
    kUlint = 17
};

bool known(uint16_t t) {
    return (t >= 1 && t <= 5) || (t >= 10 && t <= 17);
}

uint32_t bytes_of(uint16_t t) {
    switch (t) {
    case kBool:
    case kSint:
    case kUsint:
        return 1;
    case kInt:
    case kUint:
        return 2;
    case kLint:
    case kLreal:
    case kUlint:
        return 8;
    case kString:
        return 0;
    default:
        return 4;
    }
}

// A value of any numeric type.
struct Num {
    enum Kind { Signed, Unsigned, Float } kind = Unsigned;
    int64_t i = 0;
    uint64_t u = 0;
    double f = 0;
    static Num s(int64_t v) {
        Num n;
        n.kind = Signed;
        n.i = v;
        return n;
    }
    static Num un(uint64_t v) {
        Num n;
        n.kind = Unsigned;
        n.u = v;
        return n;
    }
    static Num fl(double v) {
        Num n;
        n.kind = Float;
        n.f = v;
        return n;
    }
    bool nonzero() const { return kind == Float ? f != 0.0 : kind == Signed ? i != 0 : u != 0; }
};

Num read(const uint8_t *p, uint16_t t) {
    switch (t) {
    case kSint:
        return Num::s(int8_t(p[0]));
    case kInt:
        return Num::s(int16_t(le16(p)));
    case kDint:
        return Num::s(int32_t(le32(p)));
    case kLint:
        return Num::s(int64_t(le64(p)));
    case kBool:
    case kUsint:
        return Num::un(p[0]);
    case kUint:
        return Num::un(le16(p));
    case kUdint:
    case kTime:
        return Num::un(le32(p));
    case kUlint:
        return Num::un(le64(p));
    case kReal: {
        float f;
        std::memcpy(&f, p, 4);
        return Num::fl(f);
    }
    default: {
        double d;
        std::memcpy(&d, p, 8);
        return Num::fl(d);
    }
    }
}

// A REAL or LREAL out of the range of the integer destination is left to the
// platform in the original; converting it in C++ is undefined. It is
// truncated toward zero to a 64-bit integer, saturating only at that
// integer's limits (NaN gives 0), and then keeps its low bits like an
// integer source, so REAL 300.0 -> USINT gives 44 like DINT 300, as ARM and
// x86 hardware do.
uint64_t float_bits(double f, bool to_unsigned64) {
    if (std::isnan(f)) return 0;
    double t = std::trunc(f);
    if (to_unsigned64 && t >= 9223372036854775808.0)
        return t >= 18446744073709551616.0 ? UINT64_MAX : uint64_t(t);
    if (t >= 9223372036854775808.0) return uint64_t(INT64_MAX);
    if (t < -9223372036854775808.0) return uint64_t(INT64_MIN);
    return uint64_t(int64_t(t));
}

uint64_t int_bits(const Num &n, bool to_unsigned64) {
    switch (n.kind) {
    case Num::Signed:
        return uint64_t(n.i);
    case Num::Unsigned:
        return n.u;
    default:
        return float_bits(n.f, to_unsigned64);
    }
}

double as_double(const Num &n) {
    return n.kind == Num::Float ? n.f : n.kind == Num::Signed ? double(n.i) : double(n.u);
}

// Nearest REAL; beyond the largest REAL the result is an infinity.
float as_float(const Num &n) {
    if (n.kind == Num::Signed) return float(n.i);
    if (n.kind == Num::Unsigned) return float(n.u);
    double d = n.f;
    if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX))
        return d > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    return float(d);
}

void write(uint8_t *p, uint16_t t, const Num &n) {
    switch (t) {
    case kBool:
        p[0] = n.nonzero() ? 1 : 0;
        return;
    case kReal: {
        float f = as_float(n);
        std::memcpy(p, &f, 4);
        return;
    }
    case kLreal: {
        double d = as_double(n);
        std::memcpy(p, &d, 8);
        return;
    }
    default: {
        uint64_t v = int_bits(n, t == kUlint);
        switch (bytes_of(t)) {
        case 1:
            p[0] = uint8_t(v);
            break;
        case 2:
            put_le16(p, uint16_t(v));
            break;
        case 4:
            put_le32(p, uint32_t(v));
            break;
        default:
            put_le64(p, v);
            break;
        }
    }
    }
}

// The text form of a value for a STRING destination.
void number_text(const uint8_t *p, uint16_t t, char *out, size_t size) {
    Num n = read(p, t);
    switch (t) {
    case kBool:
        std::snprintf(out, size, "%s", n.u ? "1" : "0");
        break;
    case kSint:
    case kInt:
    case kDint:
        std::snprintf(out, size, "%ld", long(n.i));
        break;
    case kTime:
        std::snprintf(out, size, "%ld", long(int32_t(n.u)));
        break;
    case kUsint:
    case kUint:
    case kUdint:
        std::snprintf(out, size, "%lu", static_cast<unsigned long>(n.u));
        break;
    case kLint:
        std::snprintf(out, size, "%lld", static_cast<long long>(n.i));
        break;
    case kUlint:
        std::snprintf(out, size, "%llu", static_cast<unsigned long long>(n.u));
        break;
    default:
        std::snprintf(out, size, "%g", n.f);
        break;
    }
}

// The value of a STRING for a numeric destination.
Num string_value(const uint8_t *buf, uint16_t t) {
    switch (t) {
    case kBool:
        return Num::un(buf[1] != 0 && buf[0] != 0);
    case kUdint:
        return Num::un(TrVMStr_AtoULPtr(buf));
    case kReal: // rounded to a REAL by write()
    case kLreal:
        return Num::fl(TrVMStr_AtoDPtr(buf));
    case kLint:
    case kUlint:
        return Num::s(TrVMStr_AtoLINTPtr(buf));
    default:
        return Num::s(TrVMStr_AtoIPtr(buf));
    }
}

} // namespace

void TrVMCnv_Convert(uint8_t *db, const uint8_t *args) {
    uint16_t di = le16(args), si = le16(args + 2);
    uint16_t dt = le16(args + 4) & 0xFF7F, st = le16(args + 6) & 0xFF7F;
    if (!known(dt) || !known(st)) return;
    uint8_t *d = TrTools_GetAnyParam(db, dt, di, nullptr, nullptr);
    const uint8_t *s = TrTools_GetAnyParam(db, st, si, nullptr, nullptr);
    if (!d || !s) return;
    if (dt == kString) {
        if (st == kString) {
            TrVMStr_CopyPtr(d, s);
            return;
        }
        char text[64];
        number_text(s, st, text, sizeof text);
        TrVMStr_AscForce(d, text, uint32_t(std::strlen(text)));
        return;
    }
    write(d, dt, st == kString ? string_value(s, dt) : read(s, st));
}

void TrVMCnv_ConvBin(void *dst, const void *src, uint16_t dt, uint16_t st) {
    dt &= 0xFF7F;
    st &= 0xFF7F;
    if (!dst || !src || !known(dt) || !known(st) || dt == kString || st == kString) return;
    write(static_cast<uint8_t *>(dst), dt, read(static_cast<const uint8_t *>(src), st));
}

void TrVMCnv_NumToSZPtr(const void *value, uint16_t type, char *text) {
    type &= 0xFF7F;
    text[0] = 0;
    if (!value || !known(type) || type == kString) return;
    const uint8_t *p = static_cast<const uint8_t *>(value);
    Num n = read(p, type);
    switch (type) {
    case kBool:
    case kSint:
    case kInt:
    case kDint:
        std::snprintf(text, 32, "%ld", long(n.kind == Num::Signed ? n.i : int64_t(n.u)));
        break;
    case kUsint:
    case kUint:
    case kUdint:
    case kTime:
        TrVMStr_UtoSZ(text, uint32_t(n.u));
        break;
    case kLint:
        TrVMStr_LINTtoSZ(text, n.i);
        break;
    case kUlint:
        std::snprintf(text, 32, "%llu", static_cast<unsigned long long>(n.u));
        break;
    default:
        std::snprintf(text, 32, "%g", n.f);
        break;
    }
}

void TrVMCnv_SZToNumPtr(void *value, uint16_t type, const char *text) {
    type &= 0xFF7F;
    if (!value || !text || !known(type) || type == kString) return;
    uint8_t *p = static_cast<uint8_t *>(value);
    Num n;
    switch (type) {
    case kReal:
    case kLreal:
        n = Num::fl(std::strtod(text, nullptr));
        if (type == kReal) n.f = double(as_float(n));
        break;
    case kLint:
    case kUlint:
        n = Num::s(TrVMStr_SZtoLINT(text));
        break;
    default: {
        // strtol of a 32-bit long: beyond its range the limits.
        long long v = std::strtoll(text, nullptr, 10);
        n = Num::s(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
        break;
    }
    }
    write(p, type, n);
}

void TrVMCnv_NumToSZ(uint8_t *db, uint16_t type, uint32_t index, char *text) {
    text[0] = 0;
    if (const uint8_t *p = TrTools_GetAnyParam(db, type, index, nullptr, nullptr))
        TrVMCnv_NumToSZPtr(p, type, text);
}

void TrVMCnv_SZToNum(uint8_t *db, uint16_t type, uint32_t index, const char *text) {
    if (uint8_t *p = TrTools_GetAnyParam(db, type, index, nullptr, nullptr))
        TrVMCnv_SZToNumPtr(p, type, text);
}
