// LITE objects: pilot lamps that show a register as on or off in one of six
// lamp shapes (round, square, bulb, round or square in a socket), with an
// optional caption, frame and ring; they take no input.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"

#include <algorithm>

namespace {

using namespace rec::lite;

constexpr uint32_t kFlash = 0x2, kFrame = 0x4, kHasCaption = 0x800;
constexpr uint16_t kShapeMask = 0x7, kRing = 0x8, kWhole = 0x1000;
enum Shape { kRound, kSquare, kBulb, kDarkSocket, kSunken, kSocket };

struct LiteInst {
    ObjInst hdr;
    RECT lamp, caption; // exclusive
    RCB *value, *state;
    int16_t inset;
    uint8_t phase, last;
    uint8_t whole; // the record holds every field of the class
};

int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
RECT shrink(const RECT &r, int d) {
    return RECT{int16_t(r.left + d), int16_t(r.top + d), int16_t(r.right - d),
                int16_t(r.bottom - d)};
}
int shape_of(const uint8_t *def) {
    return le16(def + kStyle) & kShapeMask;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *l = reinterpret_cast<LiteInst *>(inst);
    // A record shorter than the class's has no fields to read: the object
    // stays hidden and inert.
    l->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!l->whole) {
        inst->state = 0;
        return int16_t(sizeof(LiteInst));
    }
    const uint32_t flags = le32(def + rec::kFlags);
    const uint16_t style = le16(def + kStyle);
    const int shape = style & kShapeMask;
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    RECT k = r;
    RECT &c = l->caption;
    c = RECT{int16_t(r.left + 3), int16_t(r.top + 3), int16_t(r.right - 4), int16_t(r.bottom - 4)};
    int at = 0; // where the lamp keeps to: 1 top, 2 bottom, 3 left, 4 right, 0 centre
    if ((flags & kHasCaption) && !(style & kWhole)) {
        const uint8_t align = def[kAlign];
        const void *text = obj::Text(le32(def + kCaption));
        int fh = 0;
        if (inst->dc) GDI_SelectFont(inst->dc, def[kFont], nullptr, &fh);
        const int lines = text ? UTIL_StringLines(text) : 0;
        const int text_w = text && inst->dc ? UTIL_StringWidth(inst->dc, text) : 0;
        if (align & 16) {
            c.bottom = int16_t(std::min<int>(c.bottom, c.top + lines * fh));
            k.top = int16_t(c.bottom + 1);
            at = 2;
        } else if (align & 64) {
            c.top = int16_t(std::max<int>(c.top, c.bottom - lines * fh));
            k.bottom = c.top;
            at = 1;
        } else if (align == 33) {
            k.left = int16_t(std::min<int>(k.right, c.left + text_w));
            at = 4;
        } else if (align == 34) {
            k.right = int16_t(std::max<int>(k.left, c.right - text_w));
            at = 3;
        } else if (align == 36) {
            k.right = int16_t(k.left + std::min(width(k) / 2, height(k)));
            c.left = k.right;
            at = 3;
        }
    }
    if (!(style & kWhole)) {
        k = shrink(k, std::max(2, std::min(width(k), height(k)) / 6));
        const int s = std::max(0, std::min(width(k), height(k)));
        int x = k.left + (width(k) - s) / 2, y = k.top + (height(k) - s) / 2;
        if (at == 1) y = k.top;
        if (at == 2) y = k.bottom - s;
        if (at == 3) x = k.left;
        if (at == 4) x = k.right - s;
        k = RECT{int16_t(x), int16_t(y), int16_t(x + s), int16_t(y + s)};
    }
    l->inset = 0;
    if (style & kRing)
        l->inset =
            int16_t(shape == kDarkSocket || shape == kSunken ? 4 : std::max(3, height(k) / 9));
    else if (shape == kDarkSocket || shape == kSunken || shape == kSocket)
        l->inset = 1;
    k = shrink(k, l->inset);
    k.left = std::max(k.left, r.left);
    k.top = std::max(k.top, r.top);
    k.right = std::min(k.right, r.right);
    k.bottom = std::min(k.bottom, r.bottom);
    if (k.right < k.left) k.right = k.left;
    if (k.bottom < k.top) k.bottom = k.top;
    l->lamp = k;
    l->value = obj::LinkReg(le16(def + kLamp), def[kLampSize]);
    l->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        l->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    l->phase = l->last = 0;
    return int16_t(sizeof(LiteInst));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t force) {
    auto *l = reinterpret_cast<LiteInst *>(inst);
    if (msg != objmsg::kUpdate || !l->whole) return 0;
    uint32_t flags = 0;
    const uint16_t r = obj::StateUpdate(def, inst, l->state, kLength, 0, nullptr, &flags, true);
    l->phase = (flags & kFlash) && obj::Flash() ? 1 : 0;
    // The whole register counts: a value whose low byte is 0 is still on.
    uint8_t raw[4];
    obj::ReadReg(l->value, raw, sizeof raw);
    const uint8_t v = !l->phase && le32(raw) != 0 ? 1 : 0;
    if (!force && v == l->last) return r;
    l->last = v;
    // A lamp on a see-through background has the background restored first.
    const bool clear = le16(def + kBackground) == kColorNone;
    return uint16_t(r | objmsg::kRepaint | (clear ? objmsg::kErase : 0));
}

void paint_frame(const uint8_t *def, LiteInst *l, DC *dc) {
    const uint32_t flags = le32(def + rec::kFlags);
    const uint16_t style = le16(def + kStyle);
    const int shape = style & kShapeMask;
    const COLOR outline = le16(def + kColour), bg = le16(def + kBackground);
    const RECT r = obj::Rect(def);
    if (!(style & kWhole)) {
        GDI_SetPen(dc, (flags & kFrame) ? 1 : 0, 1, outline);
        GDI_SetFillColor(dc, bg);
        GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
        if (flags & kHasCaption) {
            if (const void *text = obj::Text(le32(def + kCaption))) {
                GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
                GDI_SetTextColor(dc, outline);
                GDI_SetFillColor(dc, kColorNone);
                GDI_RectTextOut(dc, def[kAlign] == 36 ? 33 : def[kAlign], &l->caption, text);
            }
        }
    }
    const RECT &k = l->lamp;
    const RECT g = shrink(k, -l->inset);
    if (!(style & kRing)) {
        if (shape < kDarkSocket || shape > kSocket) return;
        GDI_SetPen(dc, 1, 1, outline);
        GDI_SetFillColor(dc, kShadeLight);
        if (shape == kDarkSocket)
            GDI_Ellipse(dc, g.left, g.top, g.right, g.bottom);
        else
            GDI_Rectangle(dc, g.left, g.top, g.right, g.bottom);
        return;
    }
    switch (shape) {
    case kRound:
        UTIL_HexNut(dc, &g);
        break;
    case kSquare:
        UTIL_Bezel(dc, &g);
        break;
    case kBulb:
    case kSocket:
        UTIL_Bezel(dc, &g);
        GDI_SetPen(dc, 1, 1, outline);
        GDI_SetFillColor(dc, bg);
        GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
        break;
    case kDarkSocket:
        GDI_SetPen(dc, 1, 1, kShadeMid);
        GDI_SetFillColor(dc, kShadeBlack);
        GDI_PieNS(dc, g.left, g.top, g.right, g.bottom, g.right, g.top, g.left, g.bottom);
        GDI_SetPen(dc, 1, 1, kShadeWhite);
        GDI_SetFillColor(dc, kShadeLight);
        GDI_PieNS(dc, g.left, g.top, g.right, g.bottom, g.left, g.bottom, g.right, g.top);
        break;
    case kSunken: {
        UTIL_ShadeRect(dc, &g, kShadeMid, kShadeWhite, 0);
        const RECT g1 = shrink(g, 1);
        UTIL_ShadeRect(dc, &g1, kShadeBlack, kShadeLight, 0);
        break;
    }
    default:
        break;
    }
}

// A round or square lamp with its glass highlights.
void paint_glass(const uint8_t *def, DC *dc, RECT k, COLOR lamp, bool round) {
    COLOR pen = le16(def + kColour);
    GDI_SetPen(dc, 1, 1, pen);
    GDI_SetFillColor(dc, lamp);
    auto draw = [&](const RECT &b) {
        if (round)
            GDI_Ellipse(dc, b.left, b.top, b.right, b.bottom);
        else
            GDI_Rectangle(dc, b.left, b.top, b.right, b.bottom);
    };
    draw(k);
    // In grey levels a pen of the lamp's own colour would leave the
    // highlights unseen.
    if (obj::GrayScale() && pen == lamp) {
        pen = COLOR(pen > 7 ? pen - 6 : pen + 6);
        GDI_SetPen(dc, 1, 1, pen);
    }
    GDI_SetFillColor(dc, kColorNone);
    const int h = height(k);
    if (h < 16) return;
    k = shrink(k, h / 4);
    draw(k);
    if (h <= 24) {
        k = shrink(k, height(k) / 4);
        draw(k);
        return;
    }
    k = shrink(k, height(k) / 6);
    draw(k);
    k = shrink(k, height(k) / 3);
    draw(k);
}

void paint_bulb(const uint8_t *def, DC *dc, RECT k, COLOR lamp) {
    const COLOR bg = le16(def + kBackground);
    const int h0 = height(k);
    k = RECT{int16_t(k.left - 1), int16_t(k.top + h0 / 7 - 1), int16_t(k.right + 1),
             int16_t(k.bottom + h0 / 7 + 1)};
    GDI_SetPen(dc, 1, 1, le16(def + kColour));
    const int W = width(k), H = height(k);
    GDI_SetFillColor(dc, lamp);
    GDI_Ellipse(dc, k.left + W / 4, k.top, k.right - W / 4, k.bottom - H / 2);
    const int m = k.bottom - H / 2;
    const RECT b{int16_t(k.left + W / 4 + W / 6), int16_t(m - H / 16),
                 int16_t(k.right - W / 4 - W / 6), int16_t(m + H / 4)};
    GDI_SetFillColor(dc, bg);
    GDI_Rectangle(dc, b.left, b.top, b.right, b.bottom);
    const int bw = width(b), c = H / 4 + H / 16;
    GDI_MoveTo(dc, b.left + bw / 3, b.top);
    GDI_LineTo(dc, b.left, b.top - H / 4);
    GDI_MoveTo(dc, b.right - bw / 3 - 1, b.top);
    GDI_LineTo(dc, b.right - 1, b.top - H / 4);
    GDI_LineTo(dc, b.left - 1, b.top - H / 4);
    if (bw > 3) {
        GDI_MoveTo(dc, b.left, b.top + c / 3);
        GDI_LineTo(dc, b.right - 1, b.top + c / 3 - 2);
        GDI_MoveTo(dc, b.left, b.bottom - c / 3);
        GDI_LineTo(dc, b.right - 1, b.bottom - c / 3 - 2);
    }
    if (bw / 4 >= 2) {
        GDI_Rectangle(dc, b.left + bw / 4, b.bottom - 1, b.right - bw / 4, b.bottom + c / 4 - 1);
    } else {
        GDI_MoveTo(dc, b.left + 1, b.bottom);
        GDI_LineTo(dc, b.right - 1, b.bottom);
    }
}

void paint_lamp(const uint8_t *def, LiteInst *l, DC *dc) {
    RECT k = l->lamp;
    if (height(k) == 0) return;
    const bool on = l->last != 0;
    const COLOR on_c = le16(def + kOnColour), off_c = le16(def + kOffColour);
    const COLOR lamp = on ? on_c : off_c;
    const int h = height(k);
    switch (shape_of(def)) {
    case kRound:
    case kSquare:
        paint_glass(def, dc, k, lamp, shape_of(def) == kRound);
        break;
    case kBulb:
        paint_bulb(def, dc, k, lamp);
        break;
    case kDarkSocket: {
        GDI_SetPen(dc, 0, 1, 0x0000);
        GDI_SetFillColor(dc, off_c);
        GDI_Ellipse(dc, k.left, k.top, k.right, k.bottom);
        if (!on) break;
        k = shrink(k, h >= 10 ? h / 10 : h >= 5 ? 1 : 0);
        GDI_SetFillColor(dc, on_c);
        GDI_Ellipse(dc, k.left, k.top, k.right, k.bottom);
        break;
    }
    case kSunken: {
        GDI_SetPen(dc, 0, 1, 0x0000);
        GDI_SetFillColor(dc, off_c);
        GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
        if (!on) break;
        const int d = h / 10;
        k = shrink(k, d);
        if (d % 2 == 0) {
            k.left = int16_t(k.left - 1);
            k.top = int16_t(k.top - 1);
        }
        GDI_SetPen(dc, 1, d, on_c);
        GDI_MoveTo(dc, k.left, k.top);
        GDI_LineTo(dc, k.right, k.bottom);
        GDI_MoveTo(dc, k.right - 1, k.top);
        GDI_LineTo(dc, k.left - 1, k.bottom);
        break;
    }
    case kSocket:
        GDI_SetPen(dc, 1, 1, 0x0000);
        GDI_SetFillColor(dc, lamp);
        GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
        break;
    default:
        break; // shapes 6 and 7 have no lamp
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *l = reinterpret_cast<LiteInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !l->whole) return;
    if (mode & 1) paint_frame(def, l, dc);
    if (mode & 2) paint_lamp(def, l, dc);
}

} // namespace

const ObjClass LITE_Class{kLength, create, paint, signal, nullptr, sizeof(LiteInst), nullptr};
