// IEC STRING routines (layout and rules in trstr.h).
#include "iec/kernel/trstr.h"

#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trvm.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

uint32_t len_of(const uint8_t *b) {
    return b[1] <= b[0] ? b[1] : b[0];
}

// The text, truncated to the buffer's capacity; the text may overlap it.
void put_text(uint8_t *buf, const void *text, uint32_t n) {
    if (!buf) return;
    if (n > buf[0]) n = buf[0];
    std::memmove(buf + 2, text, n);
    buf[1] = uint8_t(n);
    buf[2 + n] = 0;
}

void put_cstr(uint8_t *buf, const char *text) {
    put_text(buf, text, uint32_t(strnlen(text, 255)));
}

// The text of a buffer as a C string (the buffer's own NUL is not trusted).
struct CText {
    char t[256];
    explicit CText(const uint8_t *b) {
        uint32_t n = b ? len_of(b) : 0;
        if (n) std::memcpy(t, b + 2, n);
        t[n] = 0;
    }
};

int32_t clamp32(long long v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

// Decimal digits after optional blanks (and an optional '-' when signed),
// wrapping; no digit gives 0.
uint64_t digits(const char *p, bool skip_blanks, bool sign, bool *negative) {
    if (skip_blanks)
        while (*p == ' ' || *p == '\t')
            ++p;
    *negative = false;
    if (sign && *p == '-') {
        *negative = true;
        ++p;
    }
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9')
        v = v * 10 + uint64_t(*p++ - '0');
    return v;
}

} // namespace

uint8_t *TrVMStr_Buffer(uint8_t *db, uint32_t s) {
    if (!db) return nullptr;
    uint32_t size = TrVM_DBSize(db), n17 = 0, n18 = 0;
    uint8_t *ptrs = TrDB_Segment(db, size, 17, &n17);
    uint8_t *bufs = TrDB_Segment(db, size, 18, &n18);
    if (!ptrs || !bufs || (uint64_t(s) + 1) * 4 > n17) return nullptr;
    uint64_t at = le32(ptrs + 4 * s), base = uint64_t(bufs - db);
    if (at < base || at + 3 > base + n18) return nullptr;
    if (at + 3 + db[at] > base + n18) return nullptr;
    return db + at;
}

// ---------------------------------------------------------- access

uint32_t TrVMStr_GetLength(uint8_t *db, uint32_t s) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    return b ? len_of(b) : 0;
}
uint32_t TrVMStr_GetMaxLength(uint8_t *db, uint32_t s) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    return b ? b[0] : 0;
}
char *TrVMStr_GetText(uint8_t *db, uint32_t s) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    return b ? reinterpret_cast<char *>(b + 2) : nullptr;
}
int TrVMStr_IsEmpty(uint8_t *db, uint32_t s) {
    return TrVMStr_GetLength(db, s) == 0;
}
void TrVMStr_Empty(uint8_t *db, uint32_t s) {
    put_text(TrVMStr_Buffer(db, s), "", 0);
}
void TrVMStr_Force(uint8_t *db, uint32_t s, const uint8_t *counted) {
    if (counted) put_text(TrVMStr_Buffer(db, s), counted + 1, counted[0]);
}
void TrVMStr_CopyPtr(uint8_t *dst, const uint8_t *src) {
    if (dst && src) put_text(dst, src + 2, len_of(src));
}
void TrVMStr_Copy(uint8_t *db, uint32_t dst, uint32_t src) {
    TrVMStr_CopyPtr(TrVMStr_Buffer(db, dst), TrVMStr_Buffer(db, src));
}
void TrVMStr_AscForce(uint8_t *buf, const char *text, uint32_t n) {
    if (text) put_text(buf, text, n);
}
// The whole text up to the capacity: a length beyond 255 is not wrapped
// into a short count.
void TrVMStr_AscForceC(uint8_t *db, uint32_t s, const char *cstr) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b) return;
    if (!cstr)
        put_text(b, "", 0);
    else
        put_cstr(b, cstr);
}
void TrVMStr_DBForcePtr(uint8_t *buf, const uint8_t *text16) {
    if (!buf || !text16) return;
    uint32_t n = text16[0];
    if (n > buf[0]) n = buf[0];
    for (uint32_t i = 0; i < n; ++i)
        buf[2 + i] = text16[2 * (i + 1)];
    buf[1] = uint8_t(n);
    buf[2 + n] = 0;
}
void TrVMStr_DBForce(uint8_t *db, uint32_t s, const uint8_t *text16) {
    TrVMStr_DBForcePtr(TrVMStr_Buffer(db, s), text16);
}
void TrVMStr_Char(uint8_t *db, uint32_t s, uint8_t code) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b || b[0] == 0) return;
    b[1] = 1;
    b[2] = code;
}
uint32_t TrVMStr_Ascii(uint8_t *db, uint32_t s, int32_t pos) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b || pos < 0 || uint32_t(pos) >= len_of(b)) return 0;
    return b[2 + pos];
}

// ---------------------------------------------------------- comparison

int TrVMStr_ComparePtr(const uint8_t *a, const uint8_t *b) {
    uint32_t la = a ? len_of(a) : 0, lb = b ? len_of(b) : 0;
    uint32_t n = la < lb ? la : lb;
    for (uint32_t i = 0; i < n; ++i)
        if (a[2 + i] != b[2 + i]) return int16_t(a[2 + i] - b[2 + i]);
    return la == lb ? 0 : la > lb ? 1 : -1;
}
int TrVMStr_Compare(uint8_t *db, uint32_t a, uint32_t b) {
    return TrVMStr_ComparePtr(TrVMStr_Buffer(db, a), TrVMStr_Buffer(db, b));
}
int TrVMStr_NICmp(const char *a, const char *b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
        if (x >= 'a' && x <= 'z') x = uint8_t(x - 32);
        if (y >= 'a' && y <= 'z') y = uint8_t(y - 32);
        if (x != y) return int8_t(uint8_t(x - y));
        if (x == 0) return 0;
    }
    return 0;
}
int TrVMStr_ICmp(const char *a, const char *b) {
    return TrVMStr_NICmp(a, b, UINT32_MAX);
}
uint32_t TrVMStr_Find(uint8_t *db, uint32_t s, uint32_t t) {
    uint8_t *a = TrVMStr_Buffer(db, s), *b = TrVMStr_Buffer(db, t);
    if (!a || !b) return 0;
    uint32_t la = len_of(a), lb = len_of(b);
    if (lb == 0 || lb > la) return 0;
    for (uint32_t i = 0; i + lb <= la; ++i)
        if (std::memcmp(a + 2 + i, b + 2, lb) == 0) return i + 1;
    return 0;
}

// ---------------------------------------------------------- cutting

namespace {
// dst := n characters of s from pos (already limited).
void cut(uint8_t *db, uint32_t dst, uint32_t s, uint32_t pos, uint32_t n) {
    uint8_t *a = TrVMStr_Buffer(db, s), *d = TrVMStr_Buffer(db, dst);
    if (!a || !d) return;
    uint8_t tmp[256];
    std::memcpy(tmp, a + 2 + pos, n);
    put_text(d, tmp, n);
}
uint32_t limit(int32_t v, uint32_t max) {
    return v < 0 ? 0 : uint32_t(v) > max ? max : uint32_t(v);
}
} // namespace

void TrVMStr_Left(uint8_t *db, uint32_t dst, uint32_t s, int32_t n) {
    uint32_t l = TrVMStr_GetLength(db, s);
    cut(db, dst, s, 0, limit(n, l));
}
void TrVMStr_Right(uint8_t *db, uint32_t dst, uint32_t s, int32_t n) {
    uint32_t l = TrVMStr_GetLength(db, s), k = limit(n, l);
    cut(db, dst, s, l - k, k);
}
void TrVMStr_Mid(uint8_t *db, uint32_t dst, uint32_t s, int32_t pos, int32_t n) {
    uint32_t l = TrVMStr_GetLength(db, s), p = limit(pos, l);
    cut(db, dst, s, p, limit(n, l - p));
}
void TrVMStr_Delete(uint8_t *db, uint32_t dst, uint32_t s, int32_t pos, int32_t n) {
    uint8_t *a = TrVMStr_Buffer(db, s), *d = TrVMStr_Buffer(db, dst);
    if (!a || !d) return;
    uint32_t l = len_of(a), p = limit(pos, l), k = limit(n, l - p);
    uint8_t tmp[256];
    std::memcpy(tmp, a + 2, p);
    std::memcpy(tmp + p, a + 2 + p + k, l - p - k);
    put_text(d, tmp, l - k);
}
void TrVMStr_Insert(uint8_t *db, uint32_t dst, uint32_t s, uint32_t t, int32_t pos) {
    uint8_t *a = TrVMStr_Buffer(db, s), *b = TrVMStr_Buffer(db, t), *d = TrVMStr_Buffer(db, dst);
    if (!a || !b || !d) return;
    uint32_t l = len_of(a), p = limit(pos, l), k = len_of(b);
    if (k > a[0] - l) k = a[0] - l;
    uint8_t tmp[512];
    std::memcpy(tmp, a + 2, p);
    std::memcpy(tmp + p, b + 2, k);
    std::memcpy(tmp + p + k, a + 2 + p, l - p);
    put_text(d, tmp, l + k);
}
void TrVMStr_CatPtr(uint8_t *d, const uint8_t *a, const uint8_t *b) {
    if (!a || !b || !d) return;
    uint32_t la = len_of(a), lb = len_of(b);
    uint8_t tmp[512];
    std::memcpy(tmp, a + 2, la);
    std::memcpy(tmp + la, b + 2, lb);
    put_text(d, tmp, la + lb);
}
void TrVMStr_Cat(uint8_t *db, uint32_t dst, uint32_t a, uint32_t b) {
    TrVMStr_CatPtr(TrVMStr_Buffer(db, dst), TrVMStr_Buffer(db, a), TrVMStr_Buffer(db, b));
}

// ---------------------------------------------------------- to text

void TrVMStr_UtoSZ(char *buf, uint32_t v) {
    std::snprintf(buf, 21, "%lu", static_cast<unsigned long>(v));
}
void TrVMStr_LINTtoSZ(char *buf, int64_t v) {
    std::snprintf(buf, 21, "%lld", static_cast<long long>(v));
}
void TrVMStr_ItoA(uint8_t *db, uint32_t s, int32_t v) {
    char t[24];
    std::snprintf(t, sizeof t, "%ld", long(v));
    put_cstr(TrVMStr_Buffer(db, s), t);
}
void TrVMStr_TmrtoA(uint8_t *db, uint32_t s, uint32_t v) {
    TrVMStr_ItoA(db, s, int32_t(v));
}
void TrVMStr_UtoA(uint8_t *db, uint32_t s, uint32_t v) {
    char t[24];
    TrVMStr_UtoSZ(t, v);
    put_cstr(TrVMStr_Buffer(db, s), t);
}
void TrVMStr_LINTtoA(uint8_t *db, uint32_t s, int64_t v) {
    char t[24];
    TrVMStr_LINTtoSZ(t, v);
    put_cstr(TrVMStr_Buffer(db, s), t);
}
void TrVMStr_ULINTtoA(uint8_t *db, uint32_t s, uint64_t v) {
    char t[24];
    std::snprintf(t, sizeof t, "%llu", static_cast<unsigned long long>(v));
    put_cstr(TrVMStr_Buffer(db, s), t);
}
void TrVMStr_BootoA(uint8_t *db, uint32_t s, uint32_t b) {
    put_cstr(TrVMStr_Buffer(db, s), b ? "1" : "0");
}
void TrVMStr_FtoA(uint8_t *db, uint32_t s, float r) {
    TrVMStr_DtoA(db, s, double(r));
}
void TrVMStr_DtoA(uint8_t *db, uint32_t s, double d) {
    char t[64];
    std::snprintf(t, sizeof t, "%g", d);
    put_cstr(TrVMStr_Buffer(db, s), t);
}
void TrVMStr_HtoA(uint8_t *db, uint32_t s, uint32_t v) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b) return;
    if (b[0] < 8) {
        put_text(b, "", 0);
        return;
    }
    char t[9];
    std::snprintf(t, sizeof t, "%08X", unsigned(v));
    const char *p = t;
    while (std::strlen(p) > 2 && p[0] == '0' && p[1] == '0')
        p += 2;
    put_cstr(b, p);
}

// ---------------------------------------------------------- from text

int32_t TrVMStr_AtoIPtr(const uint8_t *buf) {
    CText c(buf);
    // A 32-bit long's saturation, whatever the width of this host's long.
    return clamp32(std::strtoll(c.t, nullptr, 10));
}
uint32_t TrVMStr_AtoULPtr(const uint8_t *buf) {
    CText c(buf);
    bool neg;
    return uint32_t(digits(c.t, true, false, &neg));
}
int64_t TrVMStr_AtoLINTPtr(const uint8_t *buf) {
    CText c(buf);
    bool neg;
    uint64_t v = digits(c.t, true, true, &neg);
    return int64_t(neg ? 0 - v : v);
}
double TrVMStr_AtoDPtr(const uint8_t *buf) {
    CText c(buf);
    return std::strtod(c.t, nullptr);
}
int32_t TrVMStr_AtoI(uint8_t *db, uint32_t s) {
    return TrVMStr_AtoIPtr(TrVMStr_Buffer(db, s));
}
float TrVMStr_AtoF(uint8_t *db, uint32_t s) {
    double d = TrVMStr_AtoDPtr(TrVMStr_Buffer(db, s));
    // Beyond the largest REAL: an infinity (the conversion itself is undefined).
    if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX)) return d > 0 ? HUGE_VALF : -HUGE_VALF;
    return float(d);
}
double TrVMStr_AtoD(uint8_t *db, uint32_t s) {
    return TrVMStr_AtoDPtr(TrVMStr_Buffer(db, s));
}
uint32_t TrVMStr_AtoUL(uint8_t *db, uint32_t s) {
    return TrVMStr_AtoULPtr(TrVMStr_Buffer(db, s));
}
int64_t TrVMStr_AtoLINT(uint8_t *db, uint32_t s) {
    return TrVMStr_AtoLINTPtr(TrVMStr_Buffer(db, s));
}
int64_t TrVMStr_SZtoLINT(const char *cstr) {
    if (!cstr) return 0;
    bool neg;
    uint64_t v = digits(cstr, false, true, &neg);
    return int64_t(neg ? 0 - v : v);
}
uint32_t TrVMStr_AtoH(uint8_t *db, uint32_t s) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b) return 0;
    uint32_t v = 0, n = len_of(b);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t c = b[2 + i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            break;
        v = (v << 4) | d;
    }
    return v;
}
uint16_t TrVMStr_Crc16(uint8_t *db, uint32_t s) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    if (!b) return 0xFFFF;
    return TrTools_Crc16(b + 2, len_of(b));
}

// ---------------------------------------------------------- arrays

namespace {
// The elements of array `array` of the segment of `esize`-byte data, at
// most n of them (a negative n counts as 0), limited to the segment.
uint8_t *array_at(uint8_t *db, uint32_t esize, uint32_t array, int32_t n, uint32_t *count) {
    uint32_t seg = esize == 1 ? 6 : esize == 2 ? 7 : 8, bytes = 0;
    uint8_t *p = TrDB_Segment(db, TrVM_DBSize(db), seg, &bytes);
    *count = 0;
    if (!p || n <= 0) return nullptr;
    uint64_t have = bytes / esize;
    if (array >= have) return nullptr;
    *count = uint32_t(uint64_t(n) < have - array ? uint64_t(n) : have - array);
    return p + uint64_t(array) * esize;
}

uint32_t to_array(uint8_t *db, uint32_t s, uint32_t array, int32_t size, uint32_t esize) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    uint32_t room;
    uint8_t *a = array_at(db, esize, array, size, &room);
    if (!b || !a) return 0;
    uint32_t n = len_of(b) / esize;
    if (n > room) n = room;
    std::memcpy(a, b + 2, n * esize);
    return n;
}

uint32_t from_array(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count,
                    uint32_t esize) {
    uint8_t *b = TrVMStr_Buffer(db, s);
    uint32_t room;
    uint8_t *a = array_at(db, esize, array, size, &room);
    if (!b || !a || count <= 0) return 0;
    uint32_t n = uint32_t(count) < room ? uint32_t(count) : room;
    if (n > b[0] / esize) n = b[0] / esize;
    std::memcpy(b + 2, a, n * esize);
    b[1] = uint8_t(n * esize);
    return n;
}
} // namespace

uint32_t TrVMStr_ToD8(uint8_t *db, uint32_t s, uint32_t array, int32_t size) {
    return to_array(db, s, array, size, 1);
}
uint32_t TrVMStr_ToD16(uint8_t *db, uint32_t s, uint32_t array, int32_t size) {
    return to_array(db, s, array, size, 2);
}
uint32_t TrVMStr_ToD32(uint8_t *db, uint32_t s, uint32_t array, int32_t size) {
    return to_array(db, s, array, size, 4);
}
uint32_t TrVMStr_FromD8(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count) {
    return from_array(db, array, size, s, count, 1);
}
uint32_t TrVMStr_FromD16(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count) {
    return from_array(db, array, size, s, count, 2);
}
uint32_t TrVMStr_FromD32(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count) {
    return from_array(db, array, size, s, count, 4);
}

// ---------------------------------------------------------- formatting

void TrVMStr_DateFmt(uint8_t *db, uint32_t dst, uint32_t fmt, uint32_t date, uint32_t time) {
    uint8_t *d = TrVMStr_Buffer(db, dst), *f = TrVMStr_Buffer(db, fmt);
    if (!d || !f) return;
    CText format(f);
    const uint32_t cap = d[0];
    char out[256];
    uint32_t o = 0;
    auto two = [&](uint32_t v) {
        out[o++] = char('0' + v % 100 / 10);
        out[o++] = char('0' + v % 10);
    };
    for (const char *p = format.t; *p && o < cap; ++p) {
        uint32_t room = cap - o;
        if (*p != '%' || !p[1] || room < 2 || o >= 254) {
            out[o++] = *p;
            continue;
        }
        uint32_t year = date >> 16;
        switch (*++p) {
        case 'H':
            two(time / 3600000);
            break;
        case 'M':
            two(time / 60000 % 60);
            break;
        case 'S':
            two(time / 1000 % 60);
            break;
        case 'd':
            two(date & 0xFF);
            break;
        case 'm':
            two((date >> 8) & 0xFF);
            break;
        case 'y':
            two(year);
            break;
        case 'Y':
            if (room >= 5) two(year / 100 % 100);
            two(year);
            break;
        default:
            out[o++] = '%';
            out[o++] = *p;
            break;
        }
    }
    put_text(d, out, o);
}

int TrVMStr_NumToStr(uint8_t *db, uint32_t dst, uint16_t type, uint32_t index, int32_t width,
                     int32_t decimals) {
    uint8_t *d = TrVMStr_Buffer(db, dst);
    if (!d) return 0;
    const uint32_t cap = d[0];
    uint64_t aw = width < 0 ? 0 - uint64_t(int64_t(width)) : uint64_t(width);
    uint32_t w = width == 0 || aw > cap ? cap : uint32_t(aw);
    auto overflow = [&]() {
        char stars[256];
        std::memset(stars, '*', w);
        put_text(d, stars, w);
        return 0;
    };
    if (aw > cap || (decimals > 0 && uint64_t(decimals) > uint64_t(w) + 2)) return overflow();
    uint32_t size = 0;
    const uint8_t *p = TrTools_GetAnyParam(db, type, index, nullptr, &size);
    if (!p) return overflow();
    char text[600];
    bool real = false;
    double frac = 0;
    switch (type & 0xFF7F) {
    case 1:
        std::snprintf(text, sizeof text, "%d", p[0] ? 1 : 0);
        break;
    case 10:
        std::snprintf(text, sizeof text, "%d", int(int8_t(p[0])));
        break;
    case 11:
        std::snprintf(text, sizeof text, "%d", int(int16_t(le16(p))));
        break;
    case 2:
        std::snprintf(text, sizeof text, "%ld", long(int32_t(le32(p))));
        break;
    case 14:
        std::snprintf(text, sizeof text, "%u", unsigned(p[0]));
        break;
    case 15:
        std::snprintf(text, sizeof text, "%u", unsigned(le16(p)));
        break;
    case 4:
    case 16:
        TrVMStr_UtoSZ(text, le32(p));
        break;
    case 12:
        TrVMStr_LINTtoSZ(text, int64_t(le64(p)));
        break;
    case 17:
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(le64(p)));
        break;
    case 3:
    case 13: {
        double v;
        if ((type & 0xFF7F) == 3) {
            float f;
            uint32_t r = le32(p);
            std::memcpy(&f, &r, 4);
            v = f;
        } else {
            uint64_t r = le64(p);
            std::memcpy(&v, &r, 8);
        }
        if (!std::isfinite(v)) return overflow();
        double ip = std::trunc(v);
        // The integer part's exact digits ("%g" would shorten big values).
        int n = std::snprintf(text, sizeof text, "%s%.0f", v < 0 ? "-" : "", std::fabs(ip));
        if (n < 0 || n > 255) return overflow();
        real = true;
        frac = std::fabs(v - ip);
        break;
    }
    default:
        return overflow();
    }
    uint32_t len = uint32_t(std::strlen(text));
    if (decimals > 0) {
        if (uint64_t(decimals) + 1 + len > w) return overflow();
        text[len++] = '.';
        for (int32_t i = 0; i < decimals; ++i) {
            int digit = 0;
            if (real) {
                frac *= 10;
                digit = int(frac);
                if (digit > 9) digit = 9;
                frac -= digit;
            }
            text[len++] = char('0' + digit);
        }
        text[len] = 0;
    }
    if (len > w) return overflow();
    char out[256];
    if (width > 0) {
        std::memset(out, ' ', w - len);
        std::memcpy(out + (w - len), text, len);
        put_text(d, out, w);
    } else if (width < 0) {
        std::memcpy(out, text, len);
        std::memset(out + len, ' ', w - len);
        put_text(d, out, w);
    } else {
        put_text(d, text, len);
    }
    return 1;
}
