// Data fields: literal text typed on a keypad (multi-tap) or a full keyboard.
#include "gdi/field.h"
#include "gdi/field_int.h"

#include "base/le.h"

#include <algorithm>
#include <cstring>

using namespace fld;
using namespace fldi;

namespace {

constexpr uint8_t kShift = 1, kCaps = 2;

struct Chars {
    int c[256];
    int n = 0;
};

Chars read_chars(const FLD *f) {
    Chars t;
    t.n = f->length;
    for (int i = 0; i < t.n; ++i)
        t.c[i] = text_at(f, i);
    return t;
}

void write_chars(FLD *f, const Chars &t) {
    if (f->text) {
        for (int i = 0; i <= t.n; ++i) {
            int c = i < t.n ? t.c[i] : 0;
            if (f->wide)
                put_le16(static_cast<uint8_t *>(f->text) + 2 * i, uint16_t(c));
            else
                static_cast<uint8_t *>(f->text)[i] = uint8_t(c);
        }
    }
    f->length = uint8_t(t.n);
}

int text_length(const FLD *f) {
    if (!f->text) return 0;
    int n = 0;
    int cap = std::max(f->digits - 1, 0);
    while (n < cap && (f->wide ? le16(static_cast<const uint8_t *>(f->text) + 2 * n)
                               : static_cast<const uint8_t *>(f->text)[n]))
        ++n;
    return n;
}

constexpr char kShiftDigits[] = ")!@#$%^&*(";
constexpr char kPlain[] = "',-./;=[\\]";
constexpr char kShifted[] = "\"<_>?:+{|}";

// Keys of the full keyboard: shift and caps lock, then the character.
// Returns 0 when the key only changed the keyboard state.
uint8_t keyboard(FLD *f, uint8_t key) {
    switch (key) {
    case kKbdShift:
        f->kbd ^= kShift;
        return 0;
    case kKbdCaps:
        f->kbd ^= kCaps;
        return 0;
    case kKbdShiftOff:
        f->kbd &= uint8_t(~kShift);
        return 0;
    case 250:
    case 251:
    case 252:
        return 0;
    case kEnter:
    case kEscape:
        f->kbd = 0;
        return key;
    case kBackspace:
        f->kbd &= uint8_t(~kShift);
        return key;
    default:
        break;
    }
    bool shift = f->kbd & kShift, caps = f->kbd & kCaps;
    if (key >= 'A' && key <= 'Z' && (!caps || shift)) return uint8_t(key - 'A' + 'a');
    if (shift && key >= '0' && key <= '9') return uint8_t(kShiftDigits[key - '0']);
    if (shift)
        if (const char *p = std::strchr(kPlain, key); p && key)
            return uint8_t(kShifted[p - kPlain]);
    return key;
}

} // namespace

void FLD_LitUpdate(FLD *f, int begin) {
    f->length = uint8_t(text_length(f));
    if (begin) {
        f->state = kBegun;
        begin_keys(f);
        f->cursor = uint8_t(f->length + 1);
    } else {
        f->state = kDisplay;
    }
}

int FLD_LitEdit(FLD *f, uint8_t key) {
    int fresh = 1;
    if (f->format == 16 || f->format == 17) {
        key = keyboard(f, key);
        if (!key) return kIgnored;
    } else {
        fresh = KeyFilter(f, &key, f->format);
        if (!key) return kIgnored;
    }
    const int cap = std::max(f->digits - 1, 0);
    Chars t = read_chars(f);
    int cur = std::clamp<int>(f->cursor, 1, t.n + 1);
    switch (key) {
    case kEnter:
        f->state = kDisplay;
        return kStored;
    case kEscape:
        f->state = kDisplay;
        return kCancelled;
    case kBackspace:
        if (f->state == kBegun) {
            t.n = 0;
            cur = 1;
            f->state = kCursor;
        } else if (cur > 1) {
            std::copy(t.c + cur - 1, t.c + t.n, t.c + cur - 2);
            --t.n;
            --cur;
        }
        write_chars(f, t);
        f->cursor = uint8_t(cur);
        return kChanged;
    case kLeft:
    case kRight:
        f->lastKey = 0;
        f->tapCount = 255;
        if (f->state == kBegun) {
            f->state = kCursor;
            f->cursor = uint8_t(t.n + 1);
            return kChanged;
        }
        if (key == kLeft) {
            f->cursor = uint8_t(std::max(cur - 1, 1));
            return kChanged;
        }
        if (cur > t.n) return kNotTaken;
        f->cursor = uint8_t(cur + 1);
        return kChanged;
    default:
        break;
    }
    if (key < 32 || key > 128) return kIgnored;
    if (!fresh && f->state != kBegun && cur > 1) {
        // The next press of a multi-tap key replaces the character it typed.
        t.c[cur - 2] = key;
        write_chars(f, t);
        return kChanged;
    }
    if (f->state == kBegun) {
        t.n = 0;
        cur = 1;
    }
    if (t.n >= cap) return kNotTaken;
    f->state = kTyping;
    std::copy_backward(t.c + cur - 1, t.c + t.n, t.c + t.n + 1);
    t.c[cur - 1] = key;
    ++t.n;
    write_chars(f, t);
    f->cursor = uint8_t(cur + 1);
    return kChanged;
}
