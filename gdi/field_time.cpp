// Data fields: time and date templates, and seconds timers.
#include "gdi/field.h"
#include "gdi/field_int.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace fld;
using namespace fldi;

namespace {

// clang-format off
const char *const date_tbl[8] = {"m/d/y", "m/d/k", "d-o-y", "d-o-k",
                                 "d-m-y", "d-m-k", "y-m-d", "k-m-d"};
const char *const time_tbl[5] = {"A:M", "A:M:S", "H:M X", "H:M:S X", "sA:M"};
const char *const sec_time_tbl[16] = {"M:S", "H:M:S", "", "H:M", "M:S.s", "H:M:S.s", "", "",
                                      "M:S.u", "H:M:S.u", "", "", "", "", "", ""};
const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// clang-format on

const char *time_template(const FLD *f) {
    int hi = f->decimals >> 4, lo = f->decimals & 15;
    if (hi >= 1 && hi <= 8) return date_tbl[hi - 1];
    if (lo >= 1 && lo <= 5) return time_tbl[lo - 1];
    return "";
}

bool is_letter(char c) {
    return std::strchr("AHMSXdmoyks", c) != nullptr;
}
// Width of a letter (its asterisks with no data); X shows two characters.
int letter_width(char c) {
    switch (c) {
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
int shown_width(char c) {
    return c == 'X' ? 2 : letter_width(c);
}

// Text position of template character `i`.
int position_of(const char *tpl, int i) {
    int p = 0;
    for (int j = 0; j < i; ++j)
        p += is_letter(tpl[j]) ? shown_width(tpl[j]) : 1;
    return p;
}

int put_num(char *out, int v, int width) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*d", width, v);
    std::memcpy(out, b, size_t(width));
    return width;
}
int put_marks(char *out, char c, int n) {
    std::memset(out, c, size_t(n));
    return n;
}

int time_letter(char c, const uint16_t *tv, char *out) {
    int hours = int16_t(tv[2]);
    int mag = hours < 0 ? -hours : hours;
    switch (c) {
    case 'A':
        return mag > 23 ? put_marks(out, '>', 2) : put_num(out, mag, 2);
    case 'H': {
        if (mag > 23) return put_marks(out, '>', 2);
        int h = mag % 12;
        return put_num(out, h == 0 ? 12 : h, 2);
    }
    case 'M':
        return tv[1] > 59 ? put_marks(out, '>', 2) : put_num(out, tv[1], 2);
    case 'S':
        return tv[0] > 59 ? put_marks(out, '>', 2) : put_num(out, tv[0], 2);
    case 'X':
        std::memcpy(out, mag > 11 ? "PM" : "AM", 2);
        return 2;
    case 'd':
        if (tv[0] == 0) return put_marks(out, '<', 2);
        return tv[0] > 31 ? put_marks(out, '>', 2) : put_num(out, tv[0], 2);
    case 'm':
        if (tv[1] == 0) return put_marks(out, '<', 2);
        return tv[1] > 12 ? put_marks(out, '>', 2) : put_num(out, tv[1], 2);
    case 'o':
        if (tv[1] == 0) return put_marks(out, '<', 3);
        if (tv[1] > 12) return put_marks(out, '>', 3);
        std::memcpy(out, kMonths[tv[1] - 1], 3);
        return 3;
    case 'y':
        if (tv[2] < 1996) return put_marks(out, '<', 2);
        return tv[2] > 2095 ? put_marks(out, '>', 2) : put_num(out, tv[2] % 100, 2);
    case 'k':
        if (tv[2] < 1996) return put_marks(out, '<', 4);
        return tv[2] > 2195 ? put_marks(out, '>', 4) : put_num(out, tv[2], 4);
    case 's':
        out[0] = timezoneAdvance ? '+' : '-';
        return 1;
    default:
        return 0;
    }
}

// Number shown at text position p over `width` characters, or -1.
int read_num(const FLD *f, int p, int width) {
    int v = 0;
    for (int i = 0; i < width; ++i) {
        int c = text_at(f, p + i);
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}
void write_num(FLD *f, int p, int v, int width) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*d", width, v);
    for (int i = 0; i < width; ++i)
        set_text_at(f, p + i, b[i]);
}
int read_month(const FLD *f, int p) {
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int i = 0; i < 3; ++i)
            same = same && text_at(f, p + i) == kMonths[m][i];
        if (same) return m + 1;
    }
    return -1;
}

int wrap(int v, int lo, int hi) {
    int n = hi - lo + 1;
    return lo + ((v - lo) % n + n) % n;
}

// Steps the sub-field of the selected template letter by `dir` in place.
void ModTimeField(FLD *f, int dir) {
    const char *tpl = reinterpret_cast<const char *>(f->table);
    char c = tpl[f->part];
    int p = position_of(tpl, f->part);
    auto step = [&](int lo, int hi, int width) {
        int v = read_num(f, p, width);
        write_num(f, p, v < 0 ? (dir > 0 ? lo : hi) : wrap(v + dir, lo, hi), width);
    };
    switch (c) {
    case 'A':
        step(0, 23, 2);
        break;
    case 'H':
        step(1, 12, 2);
        break;
    case 'M':
    case 'S':
        step(0, 59, 2);
        break;
    case 'd':
        step(1, 31, 2);
        break;
    case 'm':
        step(1, 12, 2);
        break;
    case 'y':
        step(0, 95, 2);
        break; // 2000-2095
    case 'k':
        step(1996, 2095, 4);
        break;
    case 'X': {
        bool pm = text_at(f, p) == 'P';
        set_text_at(f, p, pm ? 'A' : 'P');
        break;
    }
    case 's':
        set_text_at(f, p, text_at(f, p) == '+' ? '-' : '+');
        break;
    case 'o': {
        int m = read_month(f, p);
        m = m < 0 ? (dir > 0 ? 1 : 12) : wrap(m + dir, 1, 12);
        for (int i = 0; i < 3; ++i)
            set_text_at(f, p + i, kMonths[m - 1][i]);
        break;
    }
    default:
        break;
    }
}

void move_part(FLD *f, int dir) {
    const char *tpl = reinterpret_cast<const char *>(f->table);
    int n = int(std::strlen(tpl));
    if (!n) return;
    int i = f->part;
    for (int k = 0; k < n; ++k) {
        i = (i + dir + n) % n;
        if (is_letter(tpl[i])) break;
    }
    f->part = uint8_t(i);
    f->cursor = uint8_t(position_of(tpl, i));
}

int first_letter(const char *tpl) {
    for (int i = 0; tpl[i]; ++i)
        if (is_letter(tpl[i])) return i;
    return 0;
}

} // namespace

void FLD_TimeUpdate(FLD *f, const uint16_t *value, int begin) {
    const char *tpl = time_template(f);
    f->table = reinterpret_cast<const uint8_t *>(tpl);
    bool nodata = (f->status & kNoData) && PGM_bShowAsterixForNodata;
    char s[32] = {};
    int n = 0;
    for (int i = 0; tpl[i]; ++i) {
        char c = tpl[i];
        if (!is_letter(c))
            s[n++] = c;
        else if (nodata)
            n += put_marks(s + n, '*', letter_width(c));
        else
            n += time_letter(c, value, s + n);
    }
    put_text(f, s, n);
    if (begin) {
        f->state = kCursor;
        begin_keys(f);
        f->part = uint8_t(first_letter(tpl));
        f->cursor = uint8_t(position_of(tpl, f->part));
    }
}

int FLD_TimeConvert(FLD *f, uint16_t *value) {
    const char *tpl = reinterpret_cast<const char *>(f->table);
    if (!tpl) return 0;
    int words[3] = {value[0], value[1], value[2]};
    int hour12 = -1, pm = -1, sign = 0;
    bool ok = true;
    for (int i = 0; tpl[i]; ++i) {
        char c = tpl[i];
        if (!is_letter(c)) continue;
        int p = position_of(tpl, i);
        int v = c == 'o'               ? read_month(f, p)
                : c == 'X' || c == 's' ? 0
                                       : read_num(f, p, letter_width(c));
        if (v < 0) {
            ok = false;
            continue;
        }
        switch (c) {
        case 'S':
        case 'd':
            words[0] = v;
            break;
        case 'M':
        case 'm':
        case 'o':
            words[1] = v;
            break;
        case 'A':
            words[2] = v;
            break;
        case 'H':
            hour12 = v;
            break;
        case 'X':
            pm = text_at(f, p) == 'P';
            break;
        case 'y':
            words[2] = 2000 + v;
            break;
        case 'k':
            words[2] = v;
            break;
        case 's':
            sign = text_at(f, p) == '+' ? 1 : -1;
            break;
        default:
            break;
        }
    }
    if (!ok) return 0;
    if (hour12 >= 0) words[2] = hour12 % 12 + (pm == 1 ? 12 : 0);
    // A signed hour field keeps the sign its word had.
    if (sign && int16_t(value[2]) < 0) words[2] = -words[2];
    for (int i = 0; i < 3; ++i)
        value[i] = uint16_t(words[i]);
    if (sign) timezoneAdvance = sign > 0;
    return 1;
}

namespace {
// The register words from the edited text.
int Update_Register(FLD *f, uint16_t *value) {
    return FLD_TimeConvert(f, value);
}
} // namespace

int FLD_TimeEdit(FLD *f, uint16_t *value, uint8_t key) {
    KeyFilter(f, &key, 9);
    if (!f->table) return kIgnored;
    switch (key) {
    case kEnter:
        Update_Register(f, value);
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kLeft:
        move_part(f, -1);
        return kChanged;
    case kRight:
        move_part(f, 1);
        return kChanged;
    case kUp:
        ModTimeField(f, 1);
        return kChanged;
    case kDown:
        ModTimeField(f, -1);
        return kChanged;
    default:
        return kIgnored;
    }
}

// ---------------------------------------------------------------------------
// Seconds timers.

namespace {
constexpr uint32_t kUnits[4] = {1, 10, 100, 1000};
constexpr uint32_t kHourLimit[4] = {1193047, 119305, 11931, 1194};
constexpr uint32_t kMinuteLimit[4] = {71582789, 7158279, 715828, 71583};

int unit_of(const FLD *f) {
    return std::min(f->decimals >> 4, 3);
}
const char *sec_template(const FLD *f) {
    return sec_time_tbl[f->decimals & 15];
}
int ndigits(uint32_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

struct Parts {
    uint32_t h, m, s, frac;
};

int field_width(char c, int hw, int mw) {
    switch (c) {
    case 'H':
        return hw;
    case 'M':
        return mw;
    case 'S':
        return 2;
    case 's':
        return 1;
    case 'u':
        return 3;
    default:
        return 1;
    }
}

void sec_text(FLD *f, uint32_t value) {
    const char *tpl = sec_template(f);
    uint32_t u = kUnits[unit_of(f)];
    int hw, mw;
    GetSecTimerFieldSize(f, &hw, &mw);
    bool hours = std::strchr(tpl, 'H') != nullptr;
    uint32_t sec = value / u, frac = value % u;
    Parts p{hours ? sec / 3600 : 0, hours ? sec / 60 % 60 : sec / 60, sec % 60, 0};
    bool nodata = (f->status & kNoData) && PGM_bShowAsterixForNodata;
    char s[64];
    int n = 0;
    for (int i = 0; tpl[i]; ++i) {
        char c = tpl[i];
        int w = field_width(c, hw, mw);
        uint32_t v;
        switch (c) {
        case 'H':
            v = p.h;
            break;
        case 'M':
            v = p.m;
            break;
        case 'S':
            v = p.s;
            break;
        case 's':
            v = frac * 10 / u;
            break;
        case 'u':
            v = frac * 1000 / u;
            break;
        default:
            s[n++] = c;
            continue;
        }
        if (nodata || ndigits(v) > w) {
            // No data, or a value wider than its sub-field (above the maximum).
            n += put_marks(s + n, nodata ? '*' : '>', w);
            continue;
        }
        char b[16];
        std::snprintf(b, sizeof b, "%0*u", w, v);
        std::memcpy(s + n, b, size_t(w));
        n += w;
    }
    put_text(f, s, n);
}

bool sec_digit_at(const FLD *f, int i) {
    int c = text_at(f, i);
    return c >= '0' && c <= '9';
}

int next_digit(const FLD *f, int i, int dir) {
    int n = f->length;
    for (int k = 0; k < n; ++k) {
        i = (i + dir + n) % n;
        int c = text_at(f, i);
        if (c != ':' && c != '.') break;
    }
    return i;
}

int SecUpdate_Register(FLD *f, uint32_t *value) {
    const char *tpl = sec_template(f);
    int unit = unit_of(f);
    uint32_t u = kUnits[unit];
    int hw, mw;
    GetSecTimerFieldSize(f, &hw, &mw);
    uint64_t h = 0, m = 0, s = 0, frac = 0;
    bool ok = true;
    int p = 0;
    for (int i = 0; tpl[i]; ++i) {
        char c = tpl[i];
        int w = field_width(c, hw, mw);
        if (c != 'H' && c != 'M' && c != 'S' && c != 's' && c != 'u') {
            ++p;
            continue;
        }
        uint64_t v = 0;
        for (int k = 0; k < w; ++k) {
            int ch = text_at(f, p + k);
            if (ch < '0' || ch > '9') ok = false;
            v = v * 10 + uint64_t(ch - '0');
        }
        p += w;
        switch (c) {
        case 'H':
            h = v;
            break;
        case 'M':
            m = v;
            break;
        case 'S':
            s = v;
            break;
        case 's':
            frac = v * u / 10;
            break;
        case 'u':
            frac = v * u / 1000;
            break;
        default:
            break;
        }
    }
    if (ok) {
        h = std::min<uint64_t>(h, kHourLimit[unit] - 1);
        m = std::min<uint64_t>(m, kMinuteLimit[unit] - 1);
        uint64_t total = (h * 3600 + m * 60 + s) * u + frac;
        // A total past 32 bits is out of range like any other.
        if (total <= UINT32_MAX && total >= f->min && total <= f->max)
            f->edit = uint32_t(total);
        else
            f->edit = f->old;
    } else {
        f->edit = f->old;
    }
    *value = f->edit;
    return 1;
}
} // namespace

int SecTimerFits(int unit, uint32_t hours, uint32_t minutes) {
    unit = std::clamp(unit, 0, 3);
    return hours < kHourLimit[unit] && minutes < kMinuteLimit[unit];
}

int GetSecTimerFieldSize(const FLD *f, int *hour_width, int *minute_width) {
    const char *tpl = sec_template(f);
    uint32_t u = kUnits[unit_of(f)];
    bool hours = std::strchr(tpl, 'H') != nullptr;
    int hw = ndigits(f->max / (3600 * u));
    int mw = hours ? 2 : ndigits(f->max / (60 * u));
    if (hour_width) *hour_width = hw;
    if (minute_width) *minute_width = mw;
    int n = 0;
    for (int i = 0; tpl[i]; ++i)
        n += field_width(tpl[i], hw, mw);
    return n;
}

void FLD_SecTimeUpdate(FLD *f, uint32_t value, int begin) {
    if (begin) {
        f->edit = f->old = value;
        f->state = kPartEdit;
        begin_keys(f);
    }
    sec_text(f, value);
    if (begin) f->cursor = 0;
}

int FLD_SecTimeEdit(FLD *f, uint32_t *value, uint8_t key) {
    KeyFilter(f, &key, 1);
    if (!f->length) return key == kEscape ? kCancelled : kIgnored;
    int c = f->cursor;
    switch (key) {
    case kEnter:
        SecUpdate_Register(f, value);
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kRight:
        f->cursor = uint8_t(next_digit(f, c, 1));
        return kChanged;
    case kLeft:
        f->cursor = uint8_t(next_digit(f, c, -1));
        return kChanged;
    case kUp:
    case kDown: {
        if (!sec_digit_at(f, c)) return kIgnored;
        int d = text_at(f, c) - '0';
        d = (d + (key == kUp ? 1 : 9)) % 10;
        set_text_at(f, c, '0' + d);
        return kChanged;
    }
    default: {
        int d = digit_of(key);
        if (d < 0 || d > 9) return kIgnored;
        set_text_at(f, c, '0' + d);
        f->cursor = uint8_t(next_digit(f, c, 1));
        return kChanged;
    }
    }
}
