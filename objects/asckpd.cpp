// ASCKPD: the full-screen alphanumeric keypad for text fields (data-entry
// fields of the text format, user names and passwords). Three layouts
// (digits, letters with caps lock, punctuation), a one-line display of the
// text with a window that scrolls to keep the cursor in view, and a touch
// on the displayed text that moves the cursor; every key goes back to the
// covered object, which edits its field.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/keypad.h"
#include "objects/keypad_int.h"
#include "objects/obj_int.h"
#include "platform/keys.h"

#include <algorithm>
#include <cstring>

namespace {

struct Key {
    int16_t x, y, w, h;
    uint8_t code;
    const char *label; // null: a symbol
    int8_t symbol;
};

constexpr Key kBackspace{409, 2, 65, 40, 8, nullptr, kpd::kBackSpace};

// clang-format off
constexpr Key kDigits[18] = {
    kBackspace,
    {2, 44, 155, 41, 49, "1", -1}, {161, 44, 155, 41, 50, "2", -1}, {320, 44, 155, 41, 51, "3", -1},
    {2, 89, 155, 41, 52, "4", -1}, {161, 89, 155, 41, 53, "5", -1}, {320, 89, 155, 41, 54, "6", -1},
    {2, 134, 155, 41, 55, "7", -1}, {161, 134, 155, 41, 56, "8", -1}, {320, 134, 155, 41, 57, "9", -1},
    {2, 179, 116, 41, 48, "0", -1}, {121, 179, 116, 41, 28, nullptr, kpd::kLeft},
    {240, 179, 116, 41, 32, "Space", -1}, {359, 179, 116, 41, 29, nullptr, kpd::kRight},
    {2, 224, 116, 41, 252, "ABC", -1}, {121, 224, 116, 41, 251, "@?$", -1},
    {240, 224, 116, 41, 27, "Esc", -1}, {359, 224, 116, 41, 13, "Enter", -1},
};
// clang-format on
constexpr int16_t kCol[7] = {2, 70, 138, 206, 274, 342, 410};
constexpr int16_t kRow[5] = {44, 89, 134, 179, 224};
constexpr const char *kLower[26] = {"a", "b", "c", "d", "e", "f", "g", "h", "i",
                                    "j", "k", "l", "m", "n", "o", "p", "q", "r",
                                    "s", "t", "u", "v", "w", "x", "y", "z"};
constexpr const char *kUpper[26] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",
                                    "J", "K", "L", "M", "N", "O", "P", "Q", "R",
                                    "S", "T", "U", "V", "W", "X", "Y", "Z"};
constexpr const char *kPunct[30] = {"!", "@", "#", "$", "%",  "^", "&",  "*", "(", ")",
                                    "-", "=", "[", "]", "\\", ";", "'",  ",", ".", "/",
                                    "_", "+", "{", "}", "|",  ":", "\"", "<", ">", "?"};

// The keys of layout 1 (letters) and 2 (punctuation), built from the grid.
struct Layouts {
    Key alpha[32];
    Key punc[34];
    constexpr Layouts() : alpha{}, punc{} {
        alpha[0] = kBackspace;
        punc[0] = kBackspace;
        for (int i = 0; i < 26; ++i)
            alpha[1 + i] =
                Key{kCol[i % 7], kRow[i / 7], int16_t(i % 7 == 6 ? 64 : 65), 41, uint8_t('A' + i),
                    kLower[i],   -1};
        alpha[27] = Key{342, 179, 133, 41, 32, "Space", -1};
        alpha[28] = Key{2, 224, 65, 41, 253, nullptr, kpd::kCapsLock};
        alpha[29] = Key{70, 224, 133, 41, 250, "123", -1};
        alpha[30] = Key{206, 224, 133, 41, 27, "Esc", -1};
        alpha[31] = Key{342, 224, 133, 41, 13, "Enter", -1};
        for (int i = 0; i < 30; ++i)
            punc[1 + i] = Key{kCol[i % 7], kRow[i / 7],           int16_t(i % 7 == 6 ? 64 : 65),
                              41,          uint8_t(kPunct[i][0]), kPunct[i],
                              -1};
        punc[31] = Key{138, 224, 110, 41, 250, "123", -1};
        punc[32] = Key{251, 224, 110, 41, 27, "Esc", -1};
        punc[33] = Key{364, 224, 110, 41, 13, "Enter", -1};
    }
};
constexpr Layouts kLayouts;
constexpr int kLastKey[3] = {17, 31, 33};

const Key &key_of(int layout, int i) {
    return layout == 0 ? kDigits[i] : layout == 1 ? kLayouts.alpha[i] : kLayouts.punc[i];
}

constexpr int kFit = 403;           // a run this wide or wider does not fit the box
constexpr int kTextX = 4;           // text origin in the display box
constexpr RECT kBox{2, 2, 407, 42}; // the display box
constexpr int kShown = 258;         // a 255-character text, the cursor's blank, a zero
constexpr int kPick = 0xFF00;       // a touch on the displayed text

struct State {
    COLOR face, back, disabled;
    uint8_t layout, caps, down, step, relayout;
    int pressed; // key index, -1 none
    int code;    // last code sent (a pick: kPick + index)
    int16_t px, py;
    uint16_t tick, delay, saved;
    int first, last; // window: text indexes of the first and last character shown
    RECT touch;      // where the shown text can be touched
    uint16_t shown[kShown];
    int shown_n, shown_w;
    uint16_t stars[12];
};
State g;

KeypadHost *host_of(ObjInst *inst) {
    return reinterpret_cast<KeypadHost *>(inst);
}
bool login_field(const FLD &f) {
    return f.format == 16 || f.format == 17;
}

// The field's text as 16-bit characters.
int text_of(const FLD &f, uint16_t *out) {
    int n = 0;
    for (; n < f.length && n < 255; ++n)
        out[n] = f.wide ? le16(static_cast<const uint8_t *>(f.text) + 2 * n)
                        : static_cast<const uint8_t *>(f.text)[n];
    out[n] = 0;
    return n;
}

int measure(DC *dc, const uint16_t *s, int n) {
    if (n <= 0) return 0;
    uint16_t t[kShown];
    std::memcpy(t, s, size_t(n) * 2);
    t[n] = 0;
    int w = 0;
    GDI_WordTextExtent(dc, t, &w, nullptr);
    return w;
}
bool too_wide(DC *dc, const uint16_t *s, int n) {
    return measure(dc, s, n) >= kFit;
}

void set_shown(const uint16_t *text, int from, int to) {
    g.shown_n = 0;
    for (int i = std::max(from, 0); i <= to && g.shown_n < kShown - 2; ++i)
        g.shown[g.shown_n++] = text[i];
    g.shown[g.shown_n] = 0;
}

void draw_key(DC *dc, int i) {
    if (i < 0 || i > kLastKey[g.layout]) return;
    const Key &k = key_of(g.layout, i);
    const bool inverted = (g.pressed == i && g.down) || (g.layout == 1 && i == 28 && g.caps);
    const COLOR pen = inverted ? g.back : g.face, fill = inverted ? g.face : g.back;
    const char *label = k.label;
    if (g.layout == 1 && i >= 1 && i <= 26) label = g.caps ? kUpper[i - 1] : kLower[i - 1];
    const RECT r{k.x, k.y, int16_t(k.x + k.w), int16_t(k.y + k.h)};
    kpd::DrawKey(dc, r, pen, fill, pen, nullptr, label, k.symbol);
}

void draw_keys(DC *dc, int from, int to) {
    for (int i = from; i <= to; ++i)
        draw_key(dc, i);
}

int16_t create(const uint8_t *, ObjInst *inst) {
    g.saved = inst->state;
    inst->state |= kInstShown;
    const kpd::Colours c = kpd::KeyColours();
    g.face = c.face;
    g.back = c.back;
    g.disabled = c.disabled;
    g.pressed = -1;
    g.code = 0;
    g.step = 0;
    g.first = g.last = -1;
    g.shown_n = 0;
    g.shown[0] = 0;
    return 0;
}

struct Cursor {
    int count, on, off;
};
void cursor_callback(int, DIB *glyph, uintptr_t arg) {
    auto *c = reinterpret_cast<Cursor *>(arg);
    if (c->count >= c->on && c->count < c->off) std::swap(glyph->foreground, glyph->background);
    ++c->count;
}

// Steps the window for the last code sent and returns the characters of the
// shown text from which drawing starts.
void step_window(DC *dc, const FLD &f, const uint16_t *t, int len) {
    const int cur = f.cursor;
    const bool step = g.step != 0;
    if (g.code >= 32 && g.code <= 128) {
        if (f.state == fld::kTyping && cur == 1) g.first = 0;
        if (len == 0) {
            g.first = g.last = -1;
            set_shown(t, 0, -1);
            return;
        }
        g.first = std::clamp(g.first, 0, len - 1);
        g.last = len - 1;
        while (g.first < g.last && too_wide(dc, t + g.first, g.last - g.first + 1)) {
            if (cur - 1 == g.first)
                --g.last;
            else
                ++g.first;
        }
        set_shown(t, g.first, g.last);
    } else if (g.code == fld::kLeft && step) {
        if (g.first > 0 && g.last > 0 && cur == g.first) {
            --g.first;
            while (g.last > g.first && too_wide(dc, t + g.first, g.last - g.first + 1))
                --g.last;
            set_shown(t, g.first, g.last);
        }
    } else if (g.code == fld::kRight && step) {
        if (too_wide(dc, t, len) && cur != len + 1 && cur != len + 2 && cur == g.last + 2 &&
            g.last + 1 < len) {
            ++g.last;
            while (g.first < g.last && too_wide(dc, t + g.first, g.last - g.first + 1))
                ++g.first;
            set_shown(t, g.first, g.last);
        }
    } else if (g.code == fld::kBackspace && step) {
        if (g.first > 0) {
            --g.first;
            if (g.last == len) --g.last;
            if (g.first > 0 && g.first == cur - 1) --g.first;
            while (g.first <= g.last && too_wide(dc, t + g.first, g.last - g.first + 1)) {
                if (g.first > 0 && g.first == cur)
                    --g.last;
                else
                    ++g.first;
            }
            set_shown(t, g.first, g.last);
        } else if (g.first == 0 && g.last == 0) {
            set_shown(t, 0, len > 0 ? 0 : -1);
        } else if (g.first == 0) {
            if (g.last + 1 < len)
                ++g.last;
            else
                --g.last;
            while (g.last > 0 && too_wide(dc, t, g.last + 1))
                --g.last;
            set_shown(t, 0, g.last);
        }
    }
    // A deleted tail leaves no window past the text.
    if (g.last >= len) g.last = len - 1;
    if (len == 0) g.first = g.last = -1;
}

void draw_text(DC *dc, const uint16_t *s, int x, int y) {
    GDI_WordTextOut(dc, x, y, s);
}

void paint_display(DC *dc, const KeypadHost *h) {
    const FLD &f = h->fld;
    // Font 2 below 13 characters, else the system font.
    const int width = f.format == 6 ? f.digits - 1 : f.digits;
    int fh = 0;
    GDI_SelectFont(dc, width < 13 ? 2 : 32, nullptr, &fh);
    GDI_SetPen(dc, kPenSolid, 1, 0x0000);
    GDI_SetFillColor(dc, 0xFFDF);
    GDI_Rectangle(dc, kBox.left, kBox.top, kBox.right, kBox.bottom);
    const int x = kTextX, y = kBox.top + (kBox.bottom - kBox.top - fh) / 2;
    g.touch = RECT{int16_t(x), int16_t(y), 405, 42};
    GDI_SetTextAlign(dc, 0);
    uint16_t t[256];
    const int len = text_of(f, t);
    const bool password = f.format == 17;
    if (f.state == fld::kBegun) {
        GDI_SetTextColor(dc, 0xFFDF);
        GDI_SetFillColor(dc, 0x0000);
        g.first = len ? 0 : -1;
        g.last = len - 1;
        while (g.first >= 0 && g.first <= g.last && too_wide(dc, t + g.first, len - g.first))
            ++g.first;
        set_shown(t, g.first, g.last);
        if (password) {
            const int n = std::min(g.shown_n, 11);
            for (int i = 0; i < n; ++i)
                g.stars[i] = '*';
            g.stars[n] = 0;
            std::memcpy(g.shown, g.stars, sizeof g.stars);
            g.shown_n = n;
        }
        g.shown_w = measure(dc, g.shown, g.shown_n);
        draw_text(dc, g.shown, x, y);
        return;
    }
    GDI_SetTextColor(dc, 0x0000);
    GDI_SetFillColor(dc, 0xFFDF);
    if (f.state != fld::kTyping && f.state != fld::kCursor) {
        set_shown(t, 0, len - 1);
        g.shown_w = measure(dc, g.shown, g.shown_n);
        draw_text(dc, g.shown, x, y);
        return;
    }
    g.step = g.down ? 2 : g.step == 2 ? 0 : 1;
    step_window(dc, f, t, len);
    // The cursor after the last character takes a blank; the shown text moves
    // left until it fits, the window itself staying as it was.
    int k = 0;
    bool blank = false;
    const int cur = f.cursor;
    // (The field counts its cursor from 1 while typing too: after the last
    // character it is last + 2.)
    if (g.last + 1 == len && cur == g.last + 2 && g.shown_n < kShown - 1) {
        g.shown[g.shown_n++] = ' ';
        g.shown[g.shown_n] = 0;
        blank = true;
    }
    const int first = g.first;
    int shift_first = std::max(first, 0);
    while (k < g.shown_n - 1 && too_wide(dc, g.shown + k, g.shown_n - k)) {
        ++k;
        ++shift_first;
    }
    // The character at the cursor is inverted: the next one to be replaced
    // or inserted before, the blank after the text.
    Cursor c{1, cur - shift_first, cur - shift_first + 1};
    const uint16_t *out = g.shown + k;
    if (password) {
        if (g.step) {
            const int n = std::min(g.shown_n - k, 11);
            for (int i = 0; i < n; ++i)
                g.stars[i] = '*';
            if (blank && n > 0) g.stars[n - 1] = ' ';
            g.stars[n] = 0;
        }
        out = g.stars;
        // The cursor's blank, when the row ends in it.
        const int n = UTIL_WordStrLen(g.stars);
        c = blank && n > 0 ? Cursor{1, n, n + 1} : Cursor{1, 0, 0};
    }
    GDI_SetTextCallBk(dc, cursor_callback, reinterpret_cast<uintptr_t>(&c));
    draw_text(dc, out, x, y);
    GDI_SetTextCallBk(dc, nullptr, 0);
    g.shown_w = measure(dc, out, UTIL_WordStrLen(out));
    // What a touch picks from: the text as drawn.
    if (k > 0) {
        std::memmove(g.shown, g.shown + k, size_t(g.shown_n - k + 1) * 2);
        g.shown_n -= k;
    }
    if (blank && g.shown_n > 0) g.shown[--g.shown_n] = 0;
    g.first = first;
}

void paint(const uint8_t *, ObjInst *inst, int mode) {
    DC *dc = inst->dc;
    if (!dc) return;
    const KeypadHost *h = host_of(inst);
    if (mode & 1) {
        g.pressed = -1;
        g.layout = 0;
        g.down = 0;
        g.caps = 0;
        g.relayout = 0;
        GDI_SetPen(dc, kPenNone, 0, 0);
        GDI_SetFillColor(dc, g.back);
        GDI_Rectangle(dc, 0, 0, 480, 272);
        draw_keys(dc, 0, kLastKey[0]);
    }
    if (!(mode & 2)) return;
    if (g.pressed >= 0) draw_key(dc, g.pressed);
    if (g.relayout) {
        if (g.relayout == 253 && g.layout == 1) {
            draw_keys(dc, 1, 26);
            draw_key(dc, 28);
        } else {
            GDI_SetPen(dc, kPenNone, 0, 0);
            GDI_SetFillColor(dc, g.back);
            GDI_Rectangle(dc, 2, 42, 480, 272);
            draw_keys(dc, 1, kLastKey[g.layout]);
        }
        g.relayout = 0;
    }
    paint_display(dc, h);
}

// The character of the shown text under x, or -1 right of the text.
int pick(DC *dc, const KeypadHost *h, int x) {
    const FLD &f = h->fld;
    GDI_SelectFont(dc, (f.format == 6 ? f.digits - 1 : f.digits) < 13 ? 2 : 32, nullptr, nullptr);
    const int rel = x - kTextX;
    if (g.shown_n <= 0 || rel < 0 || rel >= g.shown_w || g.shown_w <= 0) return -1;
    // A first estimate by proportion, then step to the exact character.
    int i = std::clamp(rel * g.shown_n / g.shown_w, 0, g.shown_n - 1);
    while (i > 0 && measure(dc, g.shown, i) > rel)
        --i;
    while (i + 1 < g.shown_n && measure(dc, g.shown, i + 1) <= rel)
        ++i;
    return i;
}

uint16_t send(ObjInst *inst, int code) {
    return kpd::Send(inst, uint8_t(code), g.saved);
}

uint16_t touch_down(ObjInst *inst, int x, int y) {
    KeypadHost *h = host_of(inst);
    int hit = -1, code = 0;
    for (int i = 0; i <= kLastKey[g.layout]; ++i) {
        const Key &k = key_of(g.layout, i);
        if (x >= k.x && x < k.x + k.w && y >= k.y && y < k.y + k.h) {
            hit = i;
            code = k.code;
            break;
        }
    }
    if (hit < 0) {
        if (g.shown_n <= 0 || !inst->dc || x < g.touch.left || x >= g.touch.right ||
            y < g.touch.top || y >= g.touch.bottom)
            return 0;
        const int at = pick(inst->dc, h, x);
        if (at < 0) return 0;
        // The picked character's index in the whole text.
        code = kPick + (((g.last + 1) - g.shown_n + at) & 0xFF);
    }
    g.pressed = hit;
    g.code = code;
    g.down = 1;
    g.px = int16_t(x);
    g.py = int16_t(y);
    g.tick = obj::Tick();
    g.delay = 100;
    obj::Beep(3);
    switch (code) {
    case 250:
        g.layout = 0;
        g.relayout = 250;
        break;
    case 251:
        g.layout = login_field(h->fld) ? 0 : 2;
        g.relayout = 251;
        break;
    case 252:
        g.layout = 1;
        g.relayout = 252;
        break;
    case 253:
        g.caps ^= 1;
        g.relayout = 253;
        break;
    default:
        break;
    }
    if (code >= kPick) {
        g.pressed = -1;
        return 0;
    }
    return send(inst, code) | objmsg::kRepaint;
}

uint16_t periodic(ObjInst *inst) {
    // A held key repeats after 1 s, then every 100 ms (layout keys and
    // picks do not).
    if (g.down && g.pressed >= 0 && g.code < 250 && uint16_t(obj::Tick() - g.tick) >= g.delay) {
        g.delay = 10;
        g.tick = obj::Tick();
        return send(inst, g.code);
    }
    return 0;
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    switch (msg) {
    case objmsg::kTouchDown:
        return touch_down(inst, int16_t(arg >> 16), int16_t(arg & 0xFFFF));
    case objmsg::kTouchUp: {
        const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
        const bool was = g.down;
        g.down = 0;
        if (was && x == g.px && y == g.py) {
            if (g.code >= kPick) {
                FLD &f = host_of(inst)->fld;
                f.cursor = uint8_t((g.code & 0xFF) + 1);
                if (f.state == fld::kBegun) f.state = fld::kCursor;
                g.code = 0;
            }
            return objmsg::kRepaint;
        }
        // A release elsewhere moves no cursor.
        if (g.code >= kPick) g.code = 0;
        return periodic(inst) | (was ? objmsg::kRepaint : 0);
    }
    case objmsg::kUpdate:
        return periodic(inst);
    case objmsg::kKey: {
        if (!PressKeyON) return 0;
        PressKeyON = 0;
        const uint8_t code = uint8_t(arg & 0xFF);
        if (code != fld::kEnter && code != fld::kEscape && code != fld::kLeft &&
            code != fld::kRight)
            return 0;
        obj::Beep(3);
        g.code = code;
        return send(inst, code) | objmsg::kRepaint;
    }
    default:
        return 0;
    }
}

} // namespace

int ASCKPD_SftDetect() {
    return 0;
}

namespace kpd {
void ResetText() {
    g = State{};
    g.pressed = -1;
    g.first = g.last = -1;
}
} // namespace kpd

void Keypads_Reset() {
    kpd::ResetNumeric();
    kpd::ResetText();
}

const ObjClass ASCKPD_Class{32, create, paint, signal, nullptr, sizeof(ObjInst), nullptr};
