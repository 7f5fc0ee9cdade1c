// KPAD: the full-screen numeric keypad that a data-entry field (or another
// object carrying a KeypadHost) opens over itself. It shows the field's text
// while it is edited, lets only the keys that the field's format can use be
// pressed, repeats held keys, closes itself after about 31 s when the field
// asks for a time-out, and sends every key back to the covered object.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "objects/keypad.h"
#include "objects/keypad_int.h"
#include "objects/obj_int.h"
#include "platform/keys.h"
#include "platform/tick.h"

#include <cstdio>
#include <cstring>

namespace {

struct Key {
    int16_t x, y, w;
    uint8_t code;
    const char *upper, *label;
    int8_t arrow; // kpd::kUp ... or -1
};
constexpr int kKeys = 18, kKeyH = 47;
// clang-format off
constexpr Key kKey[kKeys] = {
    {8, 62, 72, 17, "_QZ", "1", -1},   {84, 62, 72, 18, "ABC", "2", -1},
    {160, 62, 72, 19, "DEF", "3", -1}, {8, 113, 72, 20, "GHI", "4", -1},
    {84, 113, 72, 21, "JKL", "5", -1}, {160, 113, 72, 22, "MNO", "6", -1},
    {8, 164, 72, 23, "PRS", "7", -1},  {84, 164, 72, 24, "TUV", "8", -1},
    {160, 164, 72, 25, "WXY", "9", -1},
    {8, 215, 72, 14, nullptr, "+/-", -1}, {84, 215, 72, 16, nullptr, "0", -1},
    {160, 215, 72, 15, nullptr, ".", -1},
    {324, 87, 72, 30, nullptr, nullptr, kpd::kUp},
    {248, 113, 72, 28, nullptr, nullptr, kpd::kLeft},
    {400, 113, 72, 29, nullptr, nullptr, kpd::kRight},
    {324, 138, 72, 31, nullptr, nullptr, kpd::kDown},
    {248, 215, 72, 27, nullptr, "Esc", -1}, {324, 215, 148, 13, nullptr, "Enter", -1},
};
// clang-format on

constexpr uint32_t bit(int key) {
    return 0x80000000u >> key;
}
constexpr uint32_t kDigits19 = 0xFF800000u; // keys 0-8
constexpr uint32_t kSign = bit(9), kZero = bit(10), kPoint = bit(11);
constexpr uint32_t kArrows = bit(12) | bit(13) | bit(14) | bit(15);
constexpr uint32_t kEscEnter = bit(16) | bit(17);
// Live keys by the field's format.
// clang-format off
constexpr uint32_t kEnable[16] = {
    bit(0) | kZero | kArrows | kEscEnter,                          // 0
    kDigits19 | kZero | kArrows | kEscEnter,                       // 1
    kDigits19 | kSign | kZero | kArrows | kEscEnter,               // 2
    kDigits19 | kZero | kArrows | kEscEnter,                       // 3
    kDigits19 | kSign | kZero | kPoint | kEscEnter,                // 4
    kDigits19 | kSign | kZero | kPoint | kEscEnter,                // 5
    kDigits19 | kSign | kZero | kPoint | bit(13) | bit(14) | kEscEnter, // 6
    bit(12) | bit(15) | kEscEnter,                                 // 7
    kDigits19 | kZero | kEscEnter,                                 // 8
    kArrows | kEscEnter,                                           // 9
    kDigits19 | kZero | kPoint | kArrows | kEscEnter,              // 10
    kDigits19 | kZero | kArrows | kEscEnter,                       // 11
    0xFFFFC000u, 0xFFFFC000u, 0xFFFFC000u,                         // 12-14
    kDigits19 | kSign | kZero | kPoint | kEscEnter,                // 15
};
// clang-format on

struct State {
    COLOR face, back, disabled;
    int8_t pressed; // key index, -1 none
    uint8_t down, align;
    int16_t px, py;
    uint16_t tick, delay;
    uint16_t saved;
    uint32_t ref;
    int countdown;
    uint32_t mask;
};
State g;

KeypadHost *host_of(ObjInst *inst) {
    return reinterpret_cast<KeypadHost *>(inst);
}

RECT key_rect(int i) {
    const Key &k = kKey[i];
    return RECT{k.x, k.y, int16_t(k.x + k.w), int16_t(k.y + kKeyH)};
}

void draw_key(DC *dc, int i) {
    const bool live = (g.mask & bit(i)) != 0;
    const bool pressed = live && g.pressed == i && g.down;
    COLOR pen = live ? g.face : g.disabled, fill = g.back, text = pen;
    if (pressed) {
        pen = g.face;
        fill = g.face;
        text = g.back;
    }
    const Key &k = kKey[i];
    kpd::DrawKey(dc, key_rect(i), pen, fill, text, k.upper, k.label, k.arrow);
}

int16_t create(const uint8_t *, ObjInst *inst) {
    g.saved = inst->state;
    inst->state |= kInstShown;
    const kpd::Colours c = kpd::KeyColours();
    g.face = c.face;
    g.back = c.back;
    g.disabled = c.disabled;
    g.countdown = 30;
    g.ref = FPGA_GetFrt();
    g.pressed = -1;
    g.down = 0;
    return 0;
}

uint32_t mask_of(int format) {
    // The menu's kinds 16 and above take the unsigned decimal keys.
    return kEnable[format < 16 ? format : 1];
}

struct Inverse {
    int index, step, from, to;
};
void invert_callback(int, DIB *glyph, uintptr_t arg) {
    auto *v = reinterpret_cast<Inverse *>(arg);
    if (v->index >= v->from && v->index < v->to) {
        glyph->foreground = 0xFFDF;
        glyph->background = 0x0000;
    }
    v->index += v->step;
}

void paint(const uint8_t *, ObjInst *inst, int mode) {
    DC *dc = inst->dc;
    if (!dc) return;
    const KeypadHost *h = host_of(inst);
    const FLD &f = h->fld;
    const RECT pad{0, 0, 480, 272};
    if (mode & 1) {
        g.pressed = -1;
        g.mask = mask_of(f.format);
        GDI_SetPen(dc, kPenSolid, 1, g.face);
        GDI_SetFillColor(dc, g.back);
        GDI_Rectangle(dc, pad.left, pad.top, pad.right, pad.bottom);
        for (int i = 0; i < kKeys; ++i)
            draw_key(dc, i);
    }
    if (!(mode & 2)) return;
    if (g.pressed >= 0) draw_key(dc, g.pressed);
    const RECT box{int16_t(pad.left + 16), int16_t(pad.top + 8), int16_t(pad.right - 16),
                   int16_t(pad.top + 50)};
    GDI_SetPen(dc, kPenSolid, 1, 0x0000);
    GDI_SetFillColor(dc, 0xFFDF);
    GDI_Rectangle(dc, box.left, box.top, box.right, box.bottom);
    int fh = 0;
    GDI_SelectFont(dc, f.format == 7 && f.wide ? h->font : 2, nullptr, &fh);
    int x, align;
    if (f.format == 6) {
        x = box.left + 4;
        align = 0;
    } else if (f.format == 7) {
        x = (box.left + box.right) / 2;
        align = 2;
    } else {
        x = box.right - 5;
        align = 1;
    }
    const int y = box.top + (box.bottom - box.top - fh) / 2;
    GDI_SetTextAlign(dc, align);
    RECT save;
    const RECT inside{int16_t(box.left + 1), int16_t(box.top + 1), int16_t(box.right - 1),
                      int16_t(box.bottom - 1)};
    GDI_SetClipRect(dc, &inside, &save);
    Inverse inv{0, 1, 0, 0};
    if (f.state == fld::kBegun) {
        GDI_SetTextColor(dc, 0xFFDF);
        GDI_SetFillColor(dc, 0x0000);
    } else {
        GDI_SetTextColor(dc, 0x0000);
        GDI_SetFillColor(dc, 0xFFDF);
        if (f.state == fld::kCursor || f.state == fld::kPartEdit) {
            const bool text = f.format == 6 || f.format == 16 || f.format == 17;
            inv.from = text ? f.cursor - 1 : f.cursor;
            inv.to = inv.from + (h->span ? h->span : 1);
            if (align == 1) inv = Inverse{f.length - 1, -1, inv.from, inv.to};
            GDI_SetTextCallBk(dc, invert_callback, reinterpret_cast<uintptr_t>(&inv));
        }
    }
    if (f.text && f.length) {
        if (f.wide)
            GDI_WordTextOut(dc, x, y, static_cast<const uint16_t *>(f.text));
        else
            GDI_ByteTextOut(dc, x, y, static_cast<const char *>(f.text));
    }
    GDI_SetTextCallBk(dc, nullptr, 0);
    GDI_SetClipRect(dc, &save, nullptr);
    if (f.flags & 0x40) {
        char t[8];
        std::snprintf(t, sizeof t, ":%02d", g.countdown);
        GDI_SelectFont(dc, 2, nullptr, nullptr);
        GDI_SetTextAlign(dc, 1);
        GDI_SetTextColor(dc, 0x0000);
        GDI_SetFillColor(dc, 0xC638);
        GDI_ByteTextOut(dc, pad.right - 16, pad.top + 62, t);
    }
    GDI_SetTextAlign(dc, 0);
}

uint16_t periodic(ObjInst *inst) {
    const KeypadHost *h = host_of(inst);
    uint16_t r = 0;
    if (h->fld.flags & 0x40) {
        const uint32_t now = FPGA_GetFrt();
        if (now - g.ref > 10000) {
            if (g.countdown == 0) return kpd::Send(inst, fld::kEscape, g.saved);
            g.ref = now;
            --g.countdown;
            r |= objmsg::kRepaint;
        }
    }
    // A held key repeats after 1 s, then every 100 ms; texts never repeat.
    if (g.down && g.pressed >= 0 && h->fld.format != 6 &&
        uint16_t(obj::Tick() - g.tick) >= g.delay) {
        g.delay = 10;
        g.tick = obj::Tick();
        obj::Beep(3);
        r |= kpd::Send(inst, kKey[g.pressed].code, g.saved);
    }
    return r;
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    switch (msg) {
    case objmsg::kTouchDown: {
        const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
        for (int i = 0; i < kKeys; ++i) {
            if (!(g.mask & bit(i))) continue;
            const RECT k = key_rect(i);
            if (x < k.left || x >= k.right || y < k.top || y >= k.bottom) continue;
            g.pressed = int8_t(i);
            g.down = 1;
            g.px = int16_t(x);
            g.py = int16_t(y);
            g.tick = obj::Tick();
            g.delay = 100;
            obj::Beep(3);
            return kpd::Send(inst, kKey[i].code, g.saved) | objmsg::kRepaint;
        }
        return 0;
    }
    case objmsg::kTouchUp: {
        const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
        const bool was = g.down;
        // Any release ends the press: a finger that slid off a key must not
        // leave it repeating.
        g.down = 0;
        if (was && x == g.px && y == g.py) return objmsg::kRepaint;
        return periodic(inst) | (was ? objmsg::kRepaint : 0);
    }
    case objmsg::kUpdate:
        return periodic(inst);
    case objmsg::kKey: {
        if (!PressKeyON) return 0;
        PressKeyON = 0;
        const uint8_t code = uint8_t(arg & 0xFF);
        if (code != fld::kEnter && code != fld::kEscape && (code < fld::kLeft || code > fld::kDown))
            return 0;
        obj::Beep(3);
        return kpd::Send(inst, code, g.saved);
    }
    default:
        return 0;
    }
}

} // namespace

namespace kpd {

Colours KeyColours() {
    if (obj::GrayScale()) return {13, 2, 1};
    return {0xFFEC, 0x003F, 0x002F};
}

uint16_t Send(ObjInst *inst, uint8_t code, uint16_t saved) {
    ObjCB *root = OBJM_GetRootOCB();
    uint16_t r = root && root->Signal ? root->Signal(root->def, root->inst, objmsg::kKey, code) : 0;
    if (r & objmsg::kRefuse) inst->state = saved;
    return r;
}

void Arrow(DC *dc, const RECT &k, int dir) {
    const int w = k.right - k.left, h = k.bottom - k.top;
    const int l = k.left + w / 4, r = k.right - 1 - w / 4, t = k.top + h / 4,
              b = k.bottom - 1 - h / 4;
    const int cx = (l + r) / 2, cy = (t + b) / 2;
    POINT p[3];
    switch (dir) {
    case kUp:
        p[0] = {int16_t(cx), int16_t(t)}, p[1] = {int16_t(r), int16_t(b)},
        p[2] = {int16_t(l), int16_t(b)};
        break;
    case kDown:
        p[0] = {int16_t(cx), int16_t(b)}, p[1] = {int16_t(l), int16_t(t)},
        p[2] = {int16_t(r), int16_t(t)};
        break;
    case kLeft:
        p[0] = {int16_t(l), int16_t(cy)}, p[1] = {int16_t(r), int16_t(t)},
        p[2] = {int16_t(r), int16_t(b)};
        break;
    default:
        p[0] = {int16_t(r), int16_t(cy)}, p[1] = {int16_t(l), int16_t(b)},
        p[2] = {int16_t(l), int16_t(t)};
        break;
    }
    const COLOR c = dc->text_colour;
    GDI_SetPen(dc, kPenSolid, 3, c);
    GDI_MoveTo(dc, p[0].x, p[0].y);
    GDI_LineTo(dc, p[1].x, p[1].y);
    GDI_LineTo(dc, p[2].x, p[2].y);
    GDI_LineTo(dc, p[0].x, p[0].y);
}

void DrawKey(DC *dc, const RECT &k, COLOR pen, COLOR fill, COLOR text, const char *upper,
             const char *label, int symbol) {
    GDI_SetPen(dc, kPenSolid, 2, pen);
    GDI_SetFillColor(dc, fill);
    GDI_RoundRect(dc, k.left, k.top, k.right, k.bottom, 8, 8);
    GDI_SetTextColor(dc, text);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetTextAlign(dc, 2);
    const int cx = k.left + (k.right - k.left) / 2 - 1;
    int top = k.top;
    if (upper) {
        int uh = 0;
        GDI_SelectFont(dc, 1, nullptr, &uh);
        GDI_ByteTextOut(dc, cx, k.top + 1, upper);
        top = k.top + 1 + uh;
    }
    if (label) {
        int lh = 0;
        GDI_SelectFont(dc, 2, nullptr, &lh);
        GDI_ByteTextOut(dc, cx, top + (k.bottom - top - lh) / 2, label);
    } else if (symbol >= 0) {
        const RECT s{k.left, k.top, int16_t(k.right - 1), int16_t(k.bottom - 1)};
        Symbol(dc, s, symbol);
    }
    GDI_SetTextAlign(dc, 0);
}

void Symbol(DC *dc, const RECT &k, int symbol) {
    const int w = k.right - k.left, h = k.bottom - k.top;
    const COLOR c = dc->text_colour;
    if (symbol <= kRight) {
        Arrow(dc, k, symbol);
        return;
    }
    GDI_SetPen(dc, kPenSolid, 2, c);
    const int l = k.left + w / 4, r = k.right - w / 4, t = k.top + h / 4, b = k.bottom - h / 4;
    const int cy = (t + b) / 2, cx = (l + r) / 2;
    if (symbol == kBackSpace) {
        // A left-pointing tag with a cross in it.
        const int tip = l - w / 8;
        GDI_MoveTo(dc, tip, cy);
        GDI_LineTo(dc, l + w / 8, t);
        GDI_LineTo(dc, r, t);
        GDI_LineTo(dc, r, b);
        GDI_LineTo(dc, l + w / 8, b);
        GDI_LineTo(dc, tip, cy);
        const int xl = cx - h / 8, xr = cx + h / 8 + 4;
        GDI_MoveTo(dc, xl, cy - h / 8);
        GDI_LineTo(dc, xr, cy + h / 8);
        GDI_MoveTo(dc, xl, cy + h / 8);
        GDI_LineTo(dc, xr, cy - h / 8);
    } else {
        // Caps lock: an upward arrow outline over a bar.
        const int sl = cx - w / 8, sr = cx + w / 8, mid = t + h / 4;
        GDI_MoveTo(dc, cx, t);
        GDI_LineTo(dc, r, mid + h / 8);
        GDI_LineTo(dc, sr, mid + h / 8);
        GDI_LineTo(dc, sr, b - h / 6);
        GDI_LineTo(dc, sl, b - h / 6);
        GDI_LineTo(dc, sl, mid + h / 8);
        GDI_LineTo(dc, l, mid + h / 8);
        GDI_LineTo(dc, cx, t);
        GDI_MoveTo(dc, sl, b);
        GDI_LineTo(dc, sr, b);
    }
}

void ResetNumeric() {
    g = State{};
    g.pressed = -1;
}

} // namespace kpd

const ObjClass KPAD_Class{32, create, paint, signal, nullptr, sizeof(ObjInst), nullptr};
