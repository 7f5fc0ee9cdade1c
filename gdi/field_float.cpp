// Data fields: 32-bit floats and 64-bit LREAL values.
#include "gdi/field.h"
#include "gdi/field_int.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace fld;
using namespace fldi;

namespace {

float bits_to_float(uint32_t b) {
    float v;
    std::memcpy(&v, &b, 4);
    return v;
}
uint32_t float_to_bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

int repeat(char *out, char c, int n) {
    n = std::clamp(n, 0, 255);
    std::memset(out, c, size_t(n));
    out[n] = 0;
    return n;
}

// The text of a real value by the field's width and notation, with the
// range marks against lo..hi when not editing.
int real_text(const FLD *f, double v, double lo, double hi, bool exponent, char *out) {
    int marks = f->digits + f->decimals;
    int w = f->digits + f->decimals + (f->decimals ? 1 : 0) + (exponent ? 4 : 0);
    if ((f->status & kNoData) && PGM_bShowAsterixForNodata) return repeat(out, '*', marks);
    if (f->state == kDisplay && v < lo) return repeat(out, '<', marks);
    if (f->state == kDisplay && v > hi) return repeat(out, '>', marks);
    if (std::isnan(v) || std::isinf(v)) return repeat(out, 'e', w);
    if (v < 0) ++w;
    char spec[24];
    if (f->flags & kZeroFill)
        std::snprintf(spec, sizeof spec, "%%0%d.%d%c", w, f->decimals, exponent ? 'E' : 'f');
    else
        std::snprintf(spec, sizeof spec, "%%.%d%c", f->decimals, exponent ? 'E' : 'f');
    char buf[1024];
    int len = std::snprintf(buf, sizeof buf, spec, v);
    if (len <= w && len < int(sizeof buf)) {
        std::memcpy(out, buf, size_t(len) + 1);
        return len;
    }
    // One character too long with no integer digits: the leading zero goes.
    if (len == w + 1 && f->digits == 0) {
        int z = buf[0] == '-' ? 1 : 0;
        if (buf[z] == '0') {
            std::memmove(buf + z, buf + z + 1, size_t(len - z));
            std::memcpy(out, buf, size_t(len));
            return len - 1;
        }
    }
    return repeat(out, '+', w);
}

void show(FLD *f, const char *s, int n) {
    put_text(f, s, n);
}

// The typed text of a float editor.
struct Typed {
    char s[fldi::kTextMax];
    int n = 0;
    int exp_at = -1; // index of 'E'
    bool point = false;
    int int_digits = 0, frac_digits = 0, exp_digits = 0;
};

Typed read_typed(const FLD *f) {
    Typed t;
    t.n = f->length;
    for (int i = 0; i < t.n; ++i)
        t.s[i] = char(text_at(f, i));
    t.s[t.n] = 0;
    for (int i = 0; i < t.n; ++i) {
        char c = t.s[i];
        if (c == 'E')
            t.exp_at = i;
        else if (c == '.')
            t.point = true;
        else if (c >= '0' && c <= '9') {
            if (t.exp_at >= 0)
                ++t.exp_digits;
            else if (t.point)
                ++t.frac_digits;
            else
                ++t.int_digits;
        }
    }
    return t;
}

// One key of the float and LREAL editors. `exp_field`: exponent notation.
// Returns the result; *changed tells the caller to parse the text again.
int real_key(FLD *f, uint8_t key, bool exp_field, bool *changed) {
    *changed = false;
    if (key == kEnter || key == kEscape) return key == kEnter ? kStored : kCancelled;
    if (f->state == kBegun) {
        bool acts = (key >= kDigit0 && key <= kDigit0 + 9) || key == kPoint || key == kSign ||
                    key == kExponent;
        if (!acts) return kIgnored;
        show(f, "", 0);
        f->state = kTyping;
    }
    Typed t = read_typed(f);
    if (key >= kDigit0 && key <= kDigit0 + 9) {
        if (t.exp_at >= 0 ? t.exp_digits >= 2
            : t.point     ? t.frac_digits >= f->decimals
                          : t.int_digits >= f->digits)
            return kIgnored;
        t.s[t.n++] = char('0' + key - kDigit0);
    } else if (key == kPoint && !t.point && t.exp_at < 0) {
        t.s[t.n++] = '.';
        f->point = 1;
    } else if ((key == kPoint && exp_field) || key == kExponent) {
        if (t.exp_at >= 0 || t.int_digits + t.frac_digits == 0) return kIgnored;
        t.s[t.n++] = 'E';
        t.s[t.n++] = '+';
    } else if (key == kSign) {
        if (t.exp_at >= 0) {
            t.s[t.exp_at + 1] = t.s[t.exp_at + 1] == '-' ? '+' : '-';
        } else if (t.n && t.s[0] == '-') {
            std::memmove(t.s, t.s + 1, size_t(t.n));
            --t.n;
        } else {
            std::memmove(t.s + 1, t.s, size_t(t.n));
            t.s[0] = '-';
            ++t.n;
        }
    } else {
        return kIgnored;
    }
    if (t.n > 255) return kIgnored;
    t.s[t.n] = 0;
    show(f, t.s, t.n);
    f->cursor = uint8_t(t.n);
    *changed = true;
    return kChanged;
}

double typed_value(const FLD *f) {
    Typed t = read_typed(f);
    return std::strtod(t.s, nullptr);
}

} // namespace

void FLD_FloatUpdate(FLD *f, uint32_t value, int begin) {
    if (begin) {
        f->edit = f->old = value;
        f->state = kBegun;
        begin_keys(f);
    }
    char s[fldi::kTextMax];
    int n = real_text(f, bits_to_float(value), bits_to_float(f->min), bits_to_float(f->max),
                      f->format == 5, s);
    show(f, s, n);
}

int FLD_FloatEdit(FLD *f, uint32_t *value, uint8_t key) {
    KeyFilter(f, &key, f->format);
    if (!key) return kIgnored;
    bool changed;
    int r = real_key(f, key, f->format == 5, &changed);
    if (changed) f->edit = float_to_bits(float(typed_value(f)));
    if (r == kStored) {
        float v = bits_to_float(f->edit);
        if (v >= bits_to_float(f->min) && v <= bits_to_float(f->max)) *value = f->edit;
        f->state = kDisplay;
    } else if (r == kCancelled) {
        f->state = kDisplay;
    }
    return r;
}

int LrealToStr(const FLD *f, double value, char *out) {
    return real_text(f, value, f->lmin, f->lmax, f->format != 15, out);
}

void FLD_LrealUpdate(FLD *f, double value, int begin) {
    if (begin) {
        f->ledit = f->lold = value;
        f->state = kBegun;
        begin_keys(f);
    }
    char s[fldi::kTextMax];
    show(f, s, LrealToStr(f, value, s));
}

int FLD_LrealEdit(FLD *f, double *value, uint8_t key) {
    KeyFilter(f, &key, f->format == 15 ? 15 : 5);
    if (!key) return kIgnored;
    bool changed;
    int r = real_key(f, key, f->format != 15, &changed);
    if (changed) f->ledit = typed_value(f);
    if (r == kStored) {
        if (f->ledit >= f->lmin && f->ledit <= f->lmax) *value = f->ledit;
        f->state = kDisplay;
    } else if (r == kCancelled) {
        f->state = kDisplay;
    }
    return r;
}
