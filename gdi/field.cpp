// Data fields: the key filter, the field text, integers, bars, IP addresses
// and enumerations.
#include "gdi/field.h"

#include "base/le.h"
#include "gdi/field_int.h"
#include "plc/appblocks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool timezoneAdvance;

uint8_t *pPGM_Strings;
uint8_t *pPGM_TextTbls; // set by the program loader; enumerations read their tables here
bool PGM_bShowAsterixForNodata;

namespace {

using namespace fld;

// Limits tables: u32 count n, the powers base^0 .. base^(n-1), one more word.
template <uint32_t Base, int N> struct Powers {
    uint32_t w[N + 2] = {};
    constexpr Powers() {
        w[0] = N;
        uint32_t p = 1;
        for (int i = 0; i < N; ++i) {
            w[1 + i] = p;
            if (i + 1 < N) p *= Base;
        }
    }
};
constexpr Powers<2, 32> kPow2;
constexpr Powers<10, 10> kPow10;
constexpr Powers<16, 8> kPow16;

// The formats of the integer kinds that have limits tables.
const uint32_t *power_fld(int format) {
    switch (format) {
    case 0:
    case 10:
        return kPow2.w;
    case 1:
    case 2:
    case 8:
        return kPow10.w;
    case 3:
        return kPow16.w;
    default:
        return nullptr;
    }
}

// Multi-tap groups: the text keypad's letters and the hexadecimal digits.
// clang-format off
const char *const kTextGroups[11] = {
    " QZqz1", "ABCabc2", "DEFdef3", "GHIghi4", "JKLjkl5", "MNOmno6", "PRSprs7", "TUVtuv8",
    "WXYwxy9", "+-*/=()", ".?:;,'\"$@",
};
const uint8_t kHexGroups[2][4] = {{kDigit0 + 2, kHexA, kHexA + 1, kHexA + 2},
                                  {kDigit0 + 3, kHexA + 3, kHexA + 4, kHexA + 5}};
// clang-format on
constexpr uint8_t kHexGroup = 11; // group index of the hex keys 2 and 3

bool is_digit_key(uint8_t k) {
    return k >= kDigit0 && k <= kDigit0 + 9;
}
bool is_arrow(uint8_t k) {
    return k >= kLeft && k <= kDown;
}

// The table of a format maps a key to the key the editors see (0 drops it,
// kGroup + n names multi-tap group n).
uint8_t map_key(int format, uint8_t k) {
    bool common = k == kEnter || k == kEscape || k == kKey26 || is_arrow(k);
    switch (format) {
    case 0:
    case 10:
        return common || k == kDigit0 || k == kDigit0 + 1 ? k : 0;
    case 1:
    case 8:
        return common || is_digit_key(k) ? k : 0;
    case 2:
        return common || is_digit_key(k) || k == kSign ? k : 0;
    case 3:
        if (k == kDigit0 + 2 || k == kDigit0 + 3)
            return uint8_t(kGroup + kHexGroup + (k - kDigit0 - 2));
        return common || is_digit_key(k) || (k >= kHexA && k < kHexA + 6) ? k : 0;
    case 4:
    case 15:
        return common || is_digit_key(k) || k == kSign || k == kPoint ? k : 0;
    case 5:
        return common || is_digit_key(k) || k == kSign || k == kPoint || k == kExponent ? k : 0;
    case 6:
        if (k == kDigit0) return '0';
        if (is_digit_key(k)) return uint8_t(kGroup + (k - kDigit0 - 1));
        if (k == kSign) return kGroup + 9;
        if (k == kPoint) return kGroup + 10;
        return common || k == kBackspace ? k : 0;
    case 7:
        return k == kEnter || k == kKey26 || k == kEscape || k == kUp || k == kDown ? k : 0;
    case 9:
        return common ? k : 0;
    case 11:
        if (k == kLeft) return kDown;
        if (k == kRight) return kUp;
        return common || is_digit_key(k) ? k : 0;
    default:
        return k; // formats without a key table take every key
    }
}

int group_size(int g) {
    return g >= kHexGroup ? 4 : int(std::strlen(kTextGroups[g]));
}
uint8_t group_key(int g, int i) {
    return g >= kHexGroup ? kHexGroups[g - kHexGroup][i] : uint8_t(kTextGroups[g][i]);
}

} // namespace

const uint32_t *FLD_PowerTable(int format) {
    return power_fld(format);
}

int KeyFilter(FLD *f, uint8_t *key, int format) {
    uint8_t k = map_key(format, *key);
    if (k < kGroup || format == 16 || format == 17 || (format != 3 && format != 6)) {
        f->lastKey = 0;
        f->tapCount = 255;
        *key = k;
        return 1;
    }
    int g = k - kGroup;
    if (f->lastKey == k && f->tapCount != 255) {
        f->tapCount = uint8_t((f->tapCount + 1) % group_size(g));
        *key = group_key(g, f->tapCount);
        return 0;
    }
    f->lastKey = k;
    f->tapCount = 0;
    *key = group_key(g, 0);
    return 1;
}

namespace fldi {

void put_text(FLD *f, const char *s, int len) {
    len = std::clamp(len, 0, 255);
    if (f->text) {
        if (f->wide) {
            auto *t = static_cast<uint8_t *>(f->text);
            for (int i = 0; i < len; ++i)
                put_le16(t + 2 * i, uint8_t(s[i]));
            put_le16(t + 2 * len, 0);
        } else {
            auto *t = static_cast<char *>(f->text);
            std::memcpy(t, s, size_t(len));
            t[len] = 0;
        }
    }
    f->length = uint8_t(len);
}

int text_at(const FLD *f, int i) {
    if (!f->text || i < 0 || i >= f->length) return 0;
    if (f->wide) return le16(static_cast<const uint8_t *>(f->text) + 2 * i);
    return static_cast<const uint8_t *>(f->text)[i];
}

void set_text_at(FLD *f, int i, int c) {
    if (!f->text || i < 0 || i >= f->length) return;
    if (f->wide)
        put_le16(static_cast<uint8_t *>(f->text) + 2 * i, uint16_t(c));
    else
        static_cast<uint8_t *>(f->text)[i] = uint8_t(c);
}

void begin_keys(FLD *f) {
    f->cursor = 0;
    f->lastKey = 0;
    f->tapCount = 255;
    f->point = 0;
    f->work = 0;
}

int digit_of(uint8_t key) {
    if (is_digit_key(key)) return key - kDigit0;
    if (key >= kHexA && key < kHexA + 6) return 10 + key - kHexA;
    return -1;
}

} // namespace fldi

using namespace fldi;

// ---------------------------------------------------------------------------
// Integers.

namespace {

struct IntKind {
    uint32_t base;
    int n;               // powers in the table
    const uint32_t *pow; // pow[i] = base^i, i < n
    bool limits;         // minimum, maximum and the range marks apply
};

// A format without a limits table (13 and the kinds that are not integers)
// formats as unsigned decimal and applies no limits.
IntKind kind_of(int format) {
    const uint32_t *t = power_fld(format);
    if (!t) return {10, 10, kPow10.w + 1, false};
    return {format == 0 || format == 10 ? 2u : format == 3 ? 16u : 10u, int(t[0]), t + 1, true};
}

int width_of(const FLD *f, const IntKind &k) {
    return std::min<int>(f->digits, k.n);
}

// The value a field of d digits can no longer show (0: every value fits).
uint32_t threshold(const FLD *f, const IntKind &k) {
    int d = f->digits;
    return d < k.n ? k.pow[d] : 0;
}

uint32_t magnitude(int format, uint32_t v) {
    return format == 2 && int32_t(v) < 0 ? 0u - v : v;
}

bool too_wide(const FLD *f, const IntKind &k, uint32_t v) {
    uint32_t t = threshold(f, k);
    return t && magnitude(f->format, v) >= t;
}

bool below_min(const FLD *f, uint32_t v) {
    return f->format == 2 ? int32_t(v) < int32_t(f->min) : v < f->min;
}
bool above_max(const FLD *f, uint32_t v) {
    return f->format == 2 ? int32_t(v) > int32_t(f->max) : v > f->max;
}
bool within(const FLD *f, const IntKind &k, uint32_t v) {
    return !k.limits || (!below_min(f, v) && !above_max(f, v));
}

int repeat(char *out, char c, int n) {
    n = std::clamp(n, 0, 255);
    std::memset(out, c, size_t(n));
    out[n] = 0;
    return n;
}

void num_text(FLD *f, uint32_t v) {
    char s[kTextMax];
    if (f->format == 8) {
        put_text(f, s, repeat(s, '*', f->digits));
        return;
    }
    IntToStr(f, v, 1, s);
    put_text(f, s, int(std::strlen(s)));
}

// Is text position i a digit (the cursor stops there)?
bool is_digit_char(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Step of the digit at text position i: base^k, k its place from the right.
uint32_t step_at(const FLD *f, const IntKind &k, int i) {
    int place = 0;
    for (int j = f->length - 1; j > i; --j)
        if (is_digit_char(text_at(f, j))) ++place;
    return place < k.n ? k.pow[place] : 0;
}

int value_of_char(int c) {
    return c >= 'A' ? 10 + c - 'A' : c - '0';
}

} // namespace

void IntToStr(const FLD *f, uint32_t value, int zero_fill, char *out) {
    IntKind k = kind_of(f->format);
    int n = 0;
    if (f->format == 2 && int32_t(value) < 0) {
        out[n++] = '-';
        value = 0u - value;
    }
    int digits = width_of(f, k);
    bool fill = zero_fill || (f->flags & kZeroFill);
    bool started = false;
    for (int pos = digits; pos >= 1; --pos) {
        if (pos == f->decimals) out[n++] = '.';
        uint32_t p = k.pow[pos - 1];
        uint32_t d = value / p;
        value %= p;
        if (d == 0 && !fill && !started && pos != f->decimals + 1) continue;
        out[n++] = char(d > 9 ? 'A' + (d - 10) : '0' + d);
        started = true;
    }
    out[n] = 0;
}

void FLD_NumUpdate(FLD *f, uint32_t value, int begin) {
    IntKind k = kind_of(f->format);
    f->table = reinterpret_cast<const uint8_t *>(power_fld(f->format));
    if (begin) {
        f->edit = f->old = value;
        f->state = kBegun;
        begin_keys(f);
        f->work = f->digits; // hidden digits still to type
    }
    bool editing = f->state != kDisplay;
    char s[kTextMax];
    int n;
    if ((f->status & kNoData) && PGM_bShowAsterixForNodata) {
        n = repeat(s, '*', f->digits);
    } else if (too_wide(f, k, value)) {
        n = repeat(s, '+', f->digits);
    } else if (!editing && k.limits && below_min(f, value)) {
        n = repeat(s, '<', f->digits);
    } else if (!editing && k.limits && above_max(f, value)) {
        n = repeat(s, '>', f->digits);
    } else if (f->format == 8) {
        n = repeat(s, '*', f->digits);
    } else {
        IntToStr(f, value, editing, s);
        n = int(std::strlen(s));
    }
    put_text(f, s, n);
    if (begin) f->cursor = uint8_t(f->length ? f->length - 1 : 0);
}

int FLD_NumEdit(FLD *f, uint32_t *value, uint8_t key) {
    IntKind k = kind_of(f->format);
    int fresh = KeyFilter(f, &key, f->format);
    if (!key) return kIgnored;
    const bool is_signed = f->format == 2;
    uint32_t v = f->edit;
    auto accept = [&](uint32_t nv) {
        if (too_wide(f, k, nv)) return kIgnored;
        bool was_neg = is_signed && int32_t(f->edit) < 0;
        bool now_neg = is_signed && int32_t(nv) < 0;
        f->edit = nv;
        num_text(f, nv);
        // The cursor keeps to its digit when a "-" appears or goes.
        if (f->state == kCursor && was_neg != now_neg) {
            int c = f->cursor + (now_neg ? 1 : -1);
            f->cursor = uint8_t(std::clamp(c, 0, f->length ? f->length - 1 : 0));
        } else if (f->state != kCursor) {
            f->cursor = uint8_t(f->length ? f->length - 1 : 0);
        }
        return kChanged;
    };
    switch (key) {
    case kEnter:
        if (within(f, k, v)) *value = v;
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kSign: {
        if (!is_signed || v == 0x80000000u) return kIgnored;
        return accept(0u - v);
    }
    case kLeft:
    case kRight: {
        if (!f->length || !is_digit_char(text_at(f, f->length - 1))) return kIgnored;
        if (f->state != kCursor) {
            f->state = kCursor;
            f->cursor = uint8_t(f->length - 1);
            if (key == kRight) f->cursor = uint8_t(f->length - 1);
        }
        int c = f->cursor;
        for (int i = 0; i < f->length; ++i) {
            c = key == kLeft ? (c + f->length - 1) % f->length : (c + 1) % f->length;
            if (is_digit_char(text_at(f, c))) break;
        }
        f->cursor = uint8_t(c);
        f->step = step_at(f, k, c);
        return kChanged;
    }
    case kUp:
    case kDown: {
        if (f->state != kCursor) {
            f->state = kCursor;
            f->cursor = uint8_t(f->length ? f->length - 1 : 0);
            f->step = 1;
        }
        uint32_t nv;
        if (key == kUp) {
            if (k.limits && below_min(f, v)) return accept(f->min);
            if (is_signed) {
                int64_t r = int64_t(int32_t(v)) + int64_t(f->step);
                if (r > INT32_MAX) return kIgnored;
                nv = uint32_t(int32_t(r));
            } else {
                if (v > UINT32_MAX - f->step) return kIgnored;
                nv = v + f->step;
            }
            if (k.limits && above_max(f, nv)) return kIgnored;
        } else {
            if (k.limits && above_max(f, v)) return accept(f->max);
            if (is_signed) {
                int64_t r = int64_t(int32_t(v)) - int64_t(f->step);
                if (r < INT32_MIN) return kIgnored;
                nv = uint32_t(int32_t(r));
            } else {
                if (v < f->step) return kIgnored;
                nv = v - f->step;
            }
            if (k.limits && below_min(f, nv)) return kIgnored;
        }
        return accept(nv);
    }
    default:
        break;
    }
    int d = digit_of(key);
    if (d < 0 || uint32_t(d) >= k.base) return kIgnored;
    if (f->state == kBegun) {
        f->edit = v = 0;
        f->state = kTyping;
        f->step = 1;
        f->work = f->digits;
    }
    if (f->state == kTyping && fresh) {
        // Append the digit.
        if (magnitude(f->format, v) >= k.pow[k.n - 1]) return kIgnored;
        if ((f->format == 1 || f->format == 8 || !k.limits) &&
            (v > 429496729u || (v == 429496729u && d > 5)))
            return kIgnored;
        if (is_signed) {
            int32_t s = int32_t(v);
            if (s > 214748364 || (s == 214748364 && d > 7)) return kIgnored;
            if (s < -214748364 || (s == -214748364 && d > 8)) return kIgnored;
            int64_t r = int64_t(s) * 10 + (s < 0 ? -d : d);
            return accept(uint32_t(int32_t(r)));
        }
        if (f->format == 8) {
            if (f->work == 0) return kIgnored;
            --f->work;
        }
        return accept(v * k.base + uint32_t(d));
    }
    // Replace the digit under the cursor (cursor editing, or the next press
    // of a multi-tap key).
    int c = f->cursor;
    if (f->state == kTyping) c = f->length - 1;
    int old = text_at(f, c);
    if (!is_digit_char(old)) return kIgnored;
    uint32_t step = f->state == kCursor ? f->step : 1;
    if (step == 1000000000u && ((is_signed && d > 2) || (!is_signed && d > 4))) return kIgnored;
    int64_t delta = int64_t(step) * (d - value_of_char(old));
    if (is_signed) {
        int64_t r = int64_t(int32_t(v)) + (int32_t(v) < 0 ? -delta : delta);
        if (r > INT32_MAX || r < INT32_MIN || ((r < 0) != (int32_t(v) < 0) && r != 0))
            return kIgnored;
        return accept(uint32_t(int32_t(r)));
    }
    int64_t r = int64_t(v) + delta;
    if (r < 0 || r > int64_t(UINT32_MAX)) return kIgnored;
    return accept(uint32_t(r));
}

// ---------------------------------------------------------------------------
// Bars.

namespace {
constexpr char kBarFull = 14, kBarPart = 9; // 10-13: one to four fifths

int bar_steps(const FLD *f) {
    return f->digits * 5;
}

void bar_text(FLD *f, int pos) {
    char s[kTextMax];
    int n = std::min<int>(f->digits, 255);
    for (int i = 0; i < n; ++i) {
        int left = pos - 5 * i;
        s[i] = left >= 5 ? kBarFull : left > 0 ? char(kBarPart + left) : ' ';
    }
    put_text(f, s, n);
}
} // namespace

void FLD_BarUpdate(FLD *f, int32_t value, int begin) {
    int64_t range = int64_t(int32_t(f->max)) - int32_t(f->min);
    int64_t steps = bar_steps(f);
    int64_t pos;
    // An empty or reversed range has no middle: the bar is empty below its
    // maximum and full at it (no division by zero).
    if (range <= 0)
        pos = value >= int32_t(f->max) ? steps : 0;
    else
        pos = (range / 2 + steps * (int64_t(value) - int32_t(f->min))) / range;
    pos = std::clamp<int64_t>(pos, 0, steps);
    if (begin) {
        f->old = uint32_t(value);
        begin_keys(f);
    }
    f->edit = uint32_t(pos);
    bar_text(f, int(pos));
}

int FLD_BarEdit(FLD *f, int32_t *value, uint8_t key) {
    int steps = bar_steps(f);
    int pos = int(f->edit);
    switch (key) {
    case kEnter:
        return kStored;
    case kEscape:
        *value = int32_t(f->old);
        return kCancelled;
    case kRight:
    case kUp:
        ++pos;
        break;
    case kLeft:
    case kDown:
        --pos;
        break;
    default:
        return kIgnored;
    }
    if (steps == 0 || pos < 0 || pos > steps) return kIgnored;
    f->edit = uint32_t(pos);
    bar_text(f, pos);
    int64_t range = int64_t(int32_t(f->max)) - int32_t(f->min);
    *value = int32_t(range * pos / steps + int32_t(f->min));
    return kChanged;
}

// ---------------------------------------------------------------------------
// IP addresses.

namespace {
int octet(uint32_t v, int i) {
    return int((v >> (8 * i)) & 0xFF);
}
uint32_t with_octet(uint32_t v, int i, int o) {
    return (v & ~(0xFFu << (8 * i))) | (uint32_t(o) << (8 * i));
}
void ip_text(FLD *f) {
    char s[32];
    IPToStr(f, f->edit, 1, s);
    put_text(f, s, int(std::strlen(s)));
    f->cursor = uint8_t((3 - f->part) * 4);
}
} // namespace

void IPToStr(const FLD *f, uint32_t value, int editing, char *out) {
    int n = 0;
    bool nodata = (f->status & kNoData) && PGM_bShowAsterixForNodata;
    for (int i = 3; i >= 0; --i) {
        char o[8];
        int len = std::snprintf(o, sizeof o, editing ? "%03d" : "%d", octet(value, i));
        for (int j = 0; j < len; ++j)
            out[n++] = nodata ? '*' : o[j];
        if (i) out[n++] = '.';
    }
    out[n] = 0;
}

void FLD_IPUpdate(FLD *f, uint32_t value, int begin) {
    if (begin) {
        f->edit = f->old = value;
        f->state = kPartEdit;
        begin_keys(f);
        f->part = 3;
        ip_text(f);
        return;
    }
    char s[32];
    IPToStr(f, value, f->state != kDisplay, s);
    put_text(f, s, int(std::strlen(s)));
}

int FLD_IPEdit(FLD *f, uint32_t *value, uint8_t key) {
    KeyFilter(f, &key, 4);
    int o = octet(f->edit, f->part);
    switch (key) {
    case kEnter:
        *value = f->edit;
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kLeft:
        f->part = uint8_t((f->part + 1) % 4);
        f->work = 0;
        break;
    case kRight:
        f->part = uint8_t((f->part + 3) % 4);
        f->work = 0;
        break;
    case kUp:
        f->edit = with_octet(f->edit, f->part, (o + 1) & 0xFF);
        break;
    case kDown:
        f->edit = with_octet(f->edit, f->part, (o + 255) & 0xFF);
        break;
    case kPoint:
        if (!f->work) return kIgnored;
        f->part = uint8_t((f->part + 3) % 4);
        f->work = 0;
        break;
    default: {
        int d = digit_of(key);
        if (d < 0 || d > 9) return kIgnored;
        o = f->work ? o * 10 + d : d;
        ++f->work;
        bool end = false;
        if (o > 255) {
            o = 255;
            end = true;
        }
        f->edit = with_octet(f->edit, f->part, o);
        if (end) {
            f->work = 0;
        } else if (f->work >= 3) {
            f->work = 0;
            f->part = uint8_t((f->part + 3) % 4);
        }
        break;
    }
    }
    ip_text(f);
    return kChanged;
}

// ---------------------------------------------------------------------------
// Enumerations: u16 marker, u16 count, then {u32 value, u32 text} entries.

namespace {
constexpr uint16_t kTextPointers = 0xFFFF;

// The end of the data of an application block (its buffer `block`, part
// `index` of the configuration) when `p` lies inside that data, else null:
// tables and strings of our own have no block to end in.
const uint8_t *data_end(const uint8_t *p, const uint8_t *block, int index) {
    const uint8_t *data = block + 8;
    const uint32_t length =
        std::min<uint32_t>(le32(block + 4), app::kConfigParts[index].capacity - 8);
    return p >= data && p < data + length ? data + length : nullptr;
}
const uint8_t *text_block_end(const uint8_t *p) {
    return data_end(p, text_table_bl, 6);
}

// Entries the table holds; a table inside the application's text block is
// never read past the block's data.
int enum_count(const FLD *f) {
    if (!f->table) return 0;
    const uint8_t *end = text_block_end(f->table);
    if (end && end - f->table < 4) return 0;
    int n = le16(f->table + 2);
    if (end) n = int(std::min<ptrdiff_t>(n, (end - f->table - 4) / 8));
    return std::max(n, 0);
}
int32_t enum_value(const FLD *f, int i) {
    return int32_t(le32(f->table + 4 + 8 * i));
}
// Entry i's text: an offset into the application strings, or with the marker
// 0xFFFF an offset from the table itself (a table of our own). `end` is the
// end of the block the text lies in (null: no block, a text of our own); an
// offset that leads out of its block gives no text.
struct EnumText {
    const uint8_t *t, *end;
    // Character j, or 0 when it would lie past the block.
    int at(int j, bool wide) const {
        const size_t unit = wide ? 2 : 1;
        if (end && size_t(end - t) < unit * size_t(j + 1)) return 0;
        return wide ? le16(t + 2 * j) : t[j];
    }
};
EnumText enum_text(const FLD *f, int i) {
    uint32_t off = le32(f->table + 8 + 8 * i);
    const uint8_t *base = pPGM_Strings;
    const uint8_t *end = nullptr;
    if (le16(f->table) == kTextPointers) {
        base = f->table;
        end = text_block_end(base);
    } else if (base) {
        end = data_end(base, string_table_bl, 5);
    }
    if (!base || (end && off >= size_t(end - base))) return {nullptr, nullptr};
    return {base + off, end};
}
} // namespace

int EnumToStr(const FLD *f, int index, void *out) {
    int n = 0;
    int max = f->digits;
    const EnumText t =
        index >= 0 && index < enum_count(f) ? enum_text(f, index) : EnumText{nullptr, nullptr};
    bool nodata = (f->status & kNoData) && PGM_bShowAsterixForNodata;
    for (; n < max; ++n) {
        int c;
        if (nodata)
            c = '*';
        else if (!t.t)
            break;
        else
            c = t.at(n, f->wide);
        if (!c) break;
        if (f->wide)
            put_le16(static_cast<uint8_t *>(out) + 2 * n, uint16_t(c));
        else
            static_cast<uint8_t *>(out)[n] = uint8_t(c);
    }
    if (f->wide)
        put_le16(static_cast<uint8_t *>(out) + 2 * n, 0);
    else
        static_cast<uint8_t *>(out)[n] = 0;
    return n;
}

namespace {
void enum_show(FLD *f, int index) {
    if (!f->text) return;
    f->length = uint8_t(EnumToStr(f, index, f->text));
}
} // namespace

void FLD_EnumUpdate(FLD *f, uint32_t value, int begin) {
    int n = enum_count(f);
    int index = n - 1;
    for (int i = 0; i < n; ++i)
        if (enum_value(f, i) >= int32_t(value)) {
            index = i;
            break;
        }
    if (begin) {
        f->edit = uint32_t(std::max(index, 0));
        f->old = value;
        f->state = kBegun;
        begin_keys(f);
    }
    enum_show(f, index);
}

int FLD_EnumEdit(FLD *f, uint32_t *value, uint8_t key) {
    KeyFilter(f, &key, 7);
    int n = enum_count(f);
    switch (key) {
    case kEnter:
        if (int(f->edit) < n) *value = uint32_t(enum_value(f, int(f->edit)));
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kUp:
    case kDown:
        if (n == 0) return kIgnored;
        f->edit = uint32_t(key == kUp ? (int(f->edit) + 1) % n : (int(f->edit) + n - 1) % n);
        enum_show(f, int(f->edit));
        return kChanged;
    default:
        return kIgnored;
    }
}

int FLD_EnumSearch(const FLD *f, const void *text) {
    int n = enum_count(f);
    for (int i = 0; i < n; ++i) {
        const EnumText t = enum_text(f, i);
        if (!t.t) continue; // no text inside its block: nothing to match
        const uint8_t *s = static_cast<const uint8_t *>(text);
        bool same = true;
        for (int j = 0;; ++j) {
            int a = t.at(j, f->wide);
            int b = f->wide ? le16(s + 2 * j) : s[j];
            if (a != b) {
                same = false;
                break;
            }
            if (!a) break;
        }
        if (same) return i;
    }
    return -1;
}

void Field_Reset() {
    timezoneAdvance = false;
}

int FLD_TimeSpan(const FLD &f, int none) {
    const char *tpl = reinterpret_cast<const char *>(f.table);
    if (!tpl) return none;
    switch (tpl[f.part]) {
    case 'k':
        return 4;
    case 'o':
        return 3;
    case 'X':
    case 's':
        return 1;
    default:
        return 2;
    }
}
