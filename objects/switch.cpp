// SWTCH objects: push buttons and switches that write one output register
// by a momentary, set, reset or toggle action, when touched or when a
// trigger register changes, under the access level of the record; they show
// their state by a lamp colour and an on/off legend, beside a caption, in
// one of several faces (round button, rectangular lamp, lever switch, 3D
// rounded key).
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"
#include "platform/video.h"

#include <algorithm>

namespace {

using namespace rec::swtch;

// Style word.
constexpr uint16_t kActionMask = 0x000F, kFaceMask = 0x2070, kRing = 0x0080, kLegend = 0x0100,
                   kLegendByIndicator = 0x0200, kLampByIndicator = 0x0400, kAsLaidOut = 0x1000,
                   kNoInnerRing = 0x8000;
constexpr uint16_t kRound = 0, kLampA = 16, kLever = 32, kLampB = 64, kKey3D = 0x2000;
constexpr int kMomentary = 0, kSet = 1, kReset = 2, kToggle = 3;
// Flags.
constexpr uint32_t kFlash = 0x2, kFrame = 0x4, kEnabled = 0x8, kLamp = 0x10, kGoBack = 0x20,
                   kSideTab = 0x200, kHasCaption = 0x800, kTouch = 0x4000;

struct SwitchInst {
    ObjInst hdr;
    RECT key, caption, face; // exclusive
    int16_t inset;
    RCB *trigger, *output, *indicator, *state;
    COLOR start, end;
    uint8_t out, ind, last, side, wait0, enabled, phase, pressed, repaint_bg;
    uint8_t whole; // the record holds every field of the class
};

uint16_t style_of(const uint8_t *def) {
    return le16(def + kStyle);
}
uint16_t face_of(const uint8_t *def) {
    return style_of(def) & kFaceMask;
}
uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}
int action_of(const uint8_t *def) {
    return style_of(def) & kActionMask;
}
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
bool lever_gradient(const uint8_t *def, const SwitchInst *s) {
    return face_of(def) == kLever && obj::HasGradient(def) && s->start != s->end;
}

// The 3D key's face: shrunk by 7.5 % of its short side, then by 5.1 % of
// the result's.
RECT face_3d(const RECT &r) {
    RECT f = shrink(r, std::min(width(r), height(r)) * 15 / 200);
    return shrink(f, std::min(width(f), height(f)) * 102 / 2000);
}

// Places the key beside the caption by the caption's alignment; returns
// where the key sits in its area: 1 top, 2 bottom, 3 left, 4 right, 0 centre.
int place_key(const uint8_t *def, SwitchInst *s, RECT *key, DC *dc) {
    const uint8_t align = def[kAlign];
    const void *text = obj::Text(le32(def + kCaption));
    int fh = 0;
    if (dc) GDI_SelectFont(dc, def[kFont], nullptr, &fh);
    const int lines = text ? UTIL_StringLines(text) : 0;
    const int text_w = text && dc ? UTIL_StringWidth(dc, text) : 0;
    RECT &c = s->caption;
    if (align & 16) { // caption on top, key below it
        c.bottom = int16_t(std::min<int>(c.bottom, c.top + lines * fh));
        key->top = int16_t(c.bottom + 1);
        return 2;
    }
    if (align & 64) { // caption at the bottom, key above it
        c.top = int16_t(std::max<int>(c.top, c.bottom - lines * fh));
        key->bottom = c.top;
        return 1;
    }
    if (align == 33) {
        key->left = int16_t(std::min<int>(key->right, c.left + text_w));
        return 4;
    }
    if (align == 34) {
        key->right = int16_t(std::max<int>(key->left, c.right - text_w));
        return 3;
    }
    if (align == 36) {
        const int w = width(*key), h = height(*key);
        int part;
        if (face_of(def) == kLampB)
            part = w / 2;
        else if (face_of(def) == kLever)
            part = std::min(w / 2, (h * 5 + 3) / 6);
        else
            part = std::min(w / 2, h);
        key->right = int16_t(key->left + part);
        c.left = key->right;
        return 3;
    }
    return 0;
}

// Cuts the longer side of `k` to `w` x `h`, keeping it where `at` says.
void fit(RECT *k, int w, int h, int at) {
    const int dw = width(*k) - w, dh = height(*k) - h;
    int x = k->left + dw / 2, y = k->top + dh / 2;
    if (at == 1) y = k->top;
    if (at == 2) y = k->bottom - h;
    if (at == 3) x = k->left;
    if (at == 4) x = k->right - w;
    *k = RECT{int16_t(x), int16_t(y), int16_t(x + w), int16_t(y + h)};
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *s = reinterpret_cast<SwitchInst *>(inst);
    // A record whose own length is shorter than the class's has no fields to
    // read: the object stays hidden and inert.
    s->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!s->whole) {
        inst->state = 0;
        s->pressed = 0;
        return int16_t(sizeof(SwitchInst));
    }
    const uint32_t flags = flags_of(def);
    const uint16_t style = style_of(def);
    const uint16_t face = face_of(def);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    // The side tab sits on the screen edge nearer the object.
    s->side = 0;
    if (flags & kSideTab) {
        const int screen_w = inst->dc ? inst->dc->bounds.right + 1 : 800;
        s->side = (r.left + r.right) / 2 < screen_w / 2 ? 1 : 2;
    }
    RECT area = r;
    if (s->side == 1) area.left = int16_t(area.left + 8);
    if (s->side == 2) area.right = int16_t(area.right - 8);
    if (face == kKey3D)
        s->caption = shrink(area, std::min(width(area), height(area)) * 29 / 200);
    else
        s->caption = RECT{int16_t(area.left + 3), int16_t(area.top + 3), int16_t(area.right - 4),
                          int16_t(area.bottom - 4)};
    RECT key = area;
    int at = 0;
    if ((flags & kLamp) && (flags & kHasCaption) && !(style & kAsLaidOut))
        at = place_key(def, s, &key, inst->dc);
    if (face == kKey3D) {
        s->face = face_3d(area);
    } else if (face == kLever) {
        if (!(style & kAsLaidOut))
            key = shrink(key, std::max(3, std::min(width(key), height(key)) / 10));
        const int w = width(key), h = height(key);
        if (w * 6 > h * 5)
            fit(&key, h * 5 / 6, h, at);
        else
            fit(&key, w, w * 6 / 5, at);
    } else {
        if (!(style & kAsLaidOut))
            key = shrink(key, std::max(3, std::min(width(key), height(key)) / 12));
        const int side = std::max(0, std::min(width(key), height(key)));
        fit(&key, side, side, at);
    }
    s->inset = 0;
    if (style & kRing) {
        if (face == kLever) {
            s->inset = int16_t(height(key) / 8);
            key.top = int16_t(key.top + s->inset);
            key.right = int16_t(key.right - s->inset);
            key.bottom = int16_t(key.bottom - s->inset);
            key.left = int16_t(key.left + 2);
        } else {
            s->inset = int16_t(std::max(3, height(key) / 9));
            key = shrink(key, s->inset);
        }
    }
    // The key stays inside the object; an empty one has no height.
    key.left = std::max(key.left, r.left);
    key.top = std::max(key.top, r.top);
    key.right = std::min(key.right, r.right);
    key.bottom = std::min(key.bottom, r.bottom);
    if (key.right < key.left) key.right = key.left;
    if (key.bottom < key.top) key.bottom = key.top;
    s->key = key;

    s->out = s->ind = s->last = s->phase = s->pressed = s->repaint_bg = 0;
    s->wait0 = 1;
    s->enabled = (flags & kEnabled) ? 1 : 0;
    inst->state = (flags & 1) ? kInstShown : 0;
    s->output = obj::LinkReg(le16(def + kOutput), def[kOutputSize]);
    s->trigger = (flags & (kSideTab | kTouch))
                     ? nullptr
                     : obj::LinkReg(le16(def + kTrigger), def[kTriggerSize]);
    s->indicator = (style & (kLegendByIndicator | kLampByIndicator))
                       ? obj::LinkReg(le16(def + kIndicator), 1)
                       : nullptr;
    s->state = nullptr;
    if (le16(def + rec::kStateLink)) {
        s->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, le16(def + kFace), &gr)) {
        s->start = gr.start;
        s->end = gr.end;
    } else {
        s->start = s->end = le16(def + kFace);
    }
    return int16_t(sizeof(SwitchInst));
}

void write_output(SwitchInst *s, uint8_t v) {
    s->out = v;
    obj::WriteReg(s->output, &s->out, 1);
}

// One action with input `v`.
uint16_t act(const uint8_t *def, SwitchInst *s, int v) {
    switch (action_of(def)) {
    case kMomentary:
        if (s->out == 0 && (v & 1))
            write_output(s, 1);
        else if (v == 0 && s->out != 0)
            write_output(s, 0);
        break;
    case kSet:
        if (s->out == 0) write_output(s, 1);
        break;
    case kReset:
        if (s->out != 0) write_output(s, 0);
        break;
    case kToggle:
        write_output(s, s->out > 1 ? 0 : uint8_t(1 - s->out));
        break;
    default:
        write_output(s, s->out);
        break;
    }
    const uint32_t flags = flags_of(def);
    uint16_t r = 0;
    if (flags & kGoBack) r |= objmsg::kBack;
    if (flags & kLamp) r |= objmsg::kRepaint;
    if (lever_gradient(def, s)) s->repaint_bg = 1;
    return r;
}

uint16_t update(const uint8_t *def, SwitchInst *s, uint32_t force) {
    ObjInst *inst = &s->hdr;
    const uint32_t rflags = flags_of(def);
    // A switch is never marked see-through: its key takes touches whatever
    // its face colour.
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, s->state, kLength, 0, nullptr, &flags, true);
    if ((r & objmsg::kHide) && action_of(def) == kMomentary) {
        s->pressed = 0;
        write_output(s, 0);
    }
    const uint8_t enabled = (flags & kEnabled) ? 1 : 0;
    if (enabled != s->enabled) {
        s->enabled = enabled;
        r |= objmsg::kRepaint;
    }
    const uint8_t phase = (flags & kFlash) && obj::Flash() ? 1 : 0;
    if (phase != s->phase) {
        s->phase = phase;
        r |= objmsg::kRepaint;
    }
    const uint16_t lamp = (rflags & kLamp) ? objmsg::kRepaint : 0;
    if (force) r |= lamp;
    if (s->indicator) {
        const uint8_t v = obj::Read8(s->indicator);
        if (v != s->ind) {
            s->ind = v;
            r |= lamp;
        }
    }
    const uint8_t out = obj::Read8(s->output);
    if (out != s->out) {
        s->out = out;
        r |= lamp;
        if (lever_gradient(def, s)) s->repaint_bg = 1;
    }
    if ((rflags & (kSideTab | kTouch)) || !s->enabled) return r;
    const uint8_t v = obj::Read8(s->trigger);
    if (s->wait0) {
        if (v) return r;
        s->wait0 = 0;
    }
    if (v == s->last) return r;
    s->last = v;
    const int action = action_of(def);
    if (action == kMomentary || v != 0) r |= act(def, s, v);
    return r;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *s = reinterpret_cast<SwitchInst *>(inst);
    if (!s->whole) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, s, arg);
    case objmsg::kTouchDown: {
        if (!obj::GotAccess(obj::Level(def))) {
            obj::Beep(125);
            return objmsg::kDenied | objmsg::kRefuse;
        }
        obj::ResetTimeout();
        const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
        const RECT &k = s->key;
        if (x < k.left || x >= k.right || y < k.top || y >= k.bottom) return 0;
        if (!s->enabled) {
            obj::Beep(50);
            return 0;
        }
        obj::Beep(3);
        s->pressed = 1;
        return act(def, s, 1);
    }
    case objmsg::kTouchUp:
        if (!obj::GotAccess(obj::Level(def))) return objmsg::kRefuse;
        obj::ResetTimeout();
        if (!s->pressed) return 0;
        s->pressed = 0;
        if (action_of(def) != kMomentary) return 0;
        obj::Beep(3);
        return act(def, s, 0);
    default:
        return 0;
    }
}

void destroy(const uint8_t *def, ObjInst *inst) {
    auto *s = reinterpret_cast<SwitchInst *>(inst);
    if (!s->whole) return;
    // A momentary output never stays on after its page has gone.
    if (action_of(def) == kMomentary && s->pressed && s->out == 1) {
        s->pressed = 0;
        write_output(s, 0);
    }
}

// The lamp colour in the context: the on or off field, a plain colour or a
// gradient extension; true for a gradient whose colours differ.
bool lamp_colour(const uint8_t *def, DC *dc, bool on, obj::Gradient *gr) {
    const uint16_t field = le16(def + (on ? kOnColour : kOffColour));
    if (obj::HasGradient(def) && obj::GradientAt(def, field, gr)) {
        GDI_SetGradient(dc, face_of(def) == kKey3D ? kGradBanded : gr->mode);
        GDI_SetFillColor(dc, gr->start);
        GDI_SetEndColor(dc, gr->end);
        return gr->start != gr->end;
    }
    if (obj::HasGradient(def)) {
        *gr = obj::Gradient{};
        GDI_SetFillColor(dc, kColorNone);
        return false;
    }
    GDI_SetGradient(dc, 0);
    GDI_SetFillColor(dc, field);
    return false;
}

// Saves the painted area `a` into the shared memory context, from which the
// content paint restores it.
void keep(DC *dc, const RECT &a) {
    if (fPxpEnable || !pMem2DC || !pMem2DC->buffer) return;
    GDI_BitBlt(pMem2DC, a.left, a.top, width(a), height(a), dc, a.left, a.top);
}

void paint_frame(const uint8_t *def, SwitchInst *s, DC *dc) {
    const uint32_t flags = flags_of(def);
    const uint16_t style = style_of(def);
    const uint16_t face = face_of(def);
    const COLOR caption = le16(def + kColour);
    const RECT r = obj::Rect(def);
    const RECT &k = s->key;
    GDI_SetPen(dc, 0, 1, caption);
    if (!(style & kAsLaidOut)) {
        obj::Gradient gr{};
        const bool ext = obj::HasGradient(def) && obj::GradientAt(def, le16(def + kFace), &gr);
        if (face != kKey3D) {
            if (ext && s->start != s->end) {
                GDI_SetGradient(dc, gr.mode);
                GDI_SetFillColor(dc, s->start);
                GDI_SetEndColor(dc, s->end);
                GDI_GradientRect(dc, gr.p1, gr.p2, r.left, r.top, r.right, r.bottom);
                GDI_SetGradient(dc, 0);
                keep(dc, k);
            } else {
                GDI_SetFillColor(dc, s->start);
                GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
            }
        } else {
            GDI_SetFillColor(dc, s->start);
            GDI_SetEndColor(dc, s->end);
            const int sz = std::min(height(r), width(r));
            GDI_Grad3DRoundRect(dc, sz * 15 / 200, sz * 15 / 200, r.left, r.top, r.right, r.bottom,
                                sz / 3, sz / 3);
            keep(dc, s->face);
        }
    }
    GDI_SetPen(dc, 1, 1, caption);
    GDI_SetFillColor(dc, kColorNone);
    int left = r.left, right = r.right;
    if (flags & kSideTab) {
        const int h = std::min(height(r), 32) / 2;
        if (s->side == 1) {
            GDI_MoveTo(dc, r.left, r.top + h);
            GDI_LineTo(dc, r.left + 8, r.top);
            GDI_MoveTo(dc, r.left, r.top + h);
            GDI_LineTo(dc, r.left + 8, r.top + 2 * h);
            left = r.left + 8;
        } else {
            GDI_MoveTo(dc, r.right - 1, r.top + h);
            GDI_LineTo(dc, r.right - 9, r.top);
            GDI_MoveTo(dc, r.right - 1, r.top + h);
            GDI_LineTo(dc, r.right - 9, r.top + 2 * h);
            right = r.right - 8;
        }
    }
    if (!(style & kAsLaidOut)) {
        if (flags & kFrame) {
            if (face == kKey3D) {
                const int rad = std::min(height(r), right - left) / 3;
                GDI_RoundRect(dc, left, r.top, right, r.bottom, rad, rad);
            } else {
                GDI_Rectangle(dc, left, r.top, right, r.bottom);
            }
        }
        if ((flags & kHasCaption) && face != kKey3D) {
            if (const void *text = obj::Text(le32(def + kCaption))) {
                GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
                GDI_SetTextColor(dc, caption);
                const int align = def[kAlign] == 36 && (flags & kLamp) ? 33 : def[kAlign];
                GDI_RectTextOut(dc, align, &s->caption, text);
            }
        }
    }
    if (style & kRing) {
        const int in = s->inset;
        if (face == kLever) {
            const RECT b{int16_t(k.left - 2), int16_t(k.top - in), int16_t(k.right + in),
                         int16_t(k.bottom + in)};
            UTIL_Bezel(dc, &b);
        } else {
            const RECT b = shrink(k, -in);
            if (face == kRound)
                UTIL_HexNut(dc, &b);
            else
                UTIL_Bezel(dc, &b);
        }
    }
}

COLOR contrast(COLOR fill) {
    return UTIL_IsBright(fill) ? 0x0000 : kShadeWhite;
}

// The lever switch: its base and the lever in the lamp colour; returns the
// lever rectangle.
RECT paint_lever(const uint8_t *def, SwitchInst *s, DC *dc, bool lamp_on, bool true_gradient,
                 const obj::Gradient &gr) {
    const COLOR caption = le16(def + kColour);
    RECT k = s->key;
    const int W = width(k), H = height(k);
    const COLOR fill = dc->fill_colour;
    int m, e;
    if (!(style_of(def) & kRing)) {
        GDI_SetPen(dc, 0, 1, caption);
        if (obj::HasGradient(def) && s->start != s->end) {
            if (fPxpEnable) {
                GDI_SetFillColor(dc, 0x0001);
                GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
            } else if (pMem2DC && pMem2DC->buffer) {
                GDI_BitBlt(dc, k.left, k.top, W, H, pMem2DC, k.left, k.top);
            }
        } else {
            GDI_SetFillColor(dc, s->start);
            GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
        }
        GDI_SetPen(dc, 1, 1, caption);
        m = W / 8;
        e = W / 16;
    } else {
        const int in = s->inset;
        const RECT b{int16_t(k.left - 2), int16_t(k.top - in), int16_t(k.right + in),
                     int16_t(k.bottom + in)};
        UTIL_Bezel(dc, &b);
        m = in - 2;
        e = (in - 2) / 2;
    }
    const int L = k.left, T = k.top, X = k.right - 1, B = k.bottom - 1, q = H / 16, h = H / 2;
    auto poly = [&](std::initializer_list<POINT> pts) {
        const POINT *p = pts.begin();
        GDI_MoveTo(dc, p[0].x, p[0].y);
        for (size_t i = 1; i < pts.size(); ++i)
            GDI_LineTo(dc, p[i].x, p[i].y);
    };
    auto pt = [](int x, int y) { return POINT{int16_t(x), int16_t(y)}; };
    RECT lever;
    if (s->out) {
        if (s->enabled) {
            poly({pt(L + m, T + h), pt(L, B - q), pt(X - m, B - q), pt(X, T + h), pt(X - e, B),
                  pt(L + e, B), pt(L, B - q)});
            poly({pt(X - m, B - q), pt(X - e, B)});
        } else {
            poly({pt(L + m, T + h - 1), pt(X, T + h - 1), pt(X, B), pt(L + m, B),
                  pt(L + m, T + h - 1)});
        }
        lever = RECT{int16_t(L + m), int16_t(T), k.right, int16_t(T + h)};
    } else {
        if (s->enabled) {
            poly({pt(L + m, B - h), pt(L, T + q), pt(X - m, T + q), pt(X, B - h), pt(X - e, T),
                  pt(L + e, T), pt(L, T + q), pt(X - m, T + q), pt(X - e, T)});
        } else {
            poly({pt(L + m, T), pt(X, T), pt(X, B - h), pt(L + m, B - h), pt(L + m, T)});
        }
        lever = RECT{int16_t(L + m), int16_t(B - h), k.right, int16_t(B)};
    }
    if (lamp_on) lever.top = int16_t(lever.top + 1);
    GDI_SetFillColor(dc, fill);
    if (true_gradient)
        GDI_GradientRect(dc, gr.p1, gr.p2, lever.left, lever.top, lever.right, lever.bottom);
    else
        GDI_Rectangle(dc, lever.left, lever.top, lever.right, lever.bottom);
    GDI_SetGradient(dc, 0);
    GDI_SetPen(dc, 1, 1, contrast(fill));
    return lever;
}

void paint_content(const uint8_t *def, SwitchInst *s, DC *dc) {
    RECT k = s->key;
    if (height(k) == 0) return;
    const uint32_t flags = flags_of(def);
    const uint16_t style = style_of(def);
    const uint16_t face = face_of(def);
    const COLOR caption = le16(def + kColour);
    const RECT r = obj::Rect(def);
    const uint8_t lamp_state = (style & kLampByIndicator) ? s->ind : s->out;
    const int pressed = action_of(def) == kReset ? (s->out > 1 ? 0 : 1 - s->out) : (s->out ? 1 : 0);
    GDI_SetPen(dc, 1, 1, caption);
    if (flags & kLamp) {
        obj::Gradient gr{};
        const bool true_gradient = lamp_colour(def, dc, lamp_state != 0, &gr);
        const COLOR fill = dc->fill_colour;
        if (face == kRound) {
            if (obj::HasGradient(def))
                GDI_GradEllipse(dc, gr.p1, gr.p2, k.left, k.top, k.right, k.bottom);
            else if (s->enabled)
                UTIL_RoundButton(dc, &k, pressed);
            else
                GDI_Ellipse(dc, k.left, k.top, k.right, k.bottom);
            GDI_SetGradient(dc, 0);
            GDI_SetPen(dc, 1, 1, contrast(fill));
            const int i = height(k) / 7;
            if (!(style & kNoInnerRing) && i >= 5) {
                k = shrink(k, i);
                GDI_SetFillColor(dc, kColorNone);
                GDI_Ellipse(dc, k.left, k.top, k.right, k.bottom);
            }
        } else if (face == kLampA || face == kLampB) {
            const int sz = std::min(width(k), height(k));
            const int i = sz / 7, rad = sz <= 41 ? sz / 3 : 14;
            if (true_gradient)
                GDI_GradientRect(dc, gr.p1, gr.p2, k.left, k.top, k.right, k.bottom);
            else
                GDI_Rectangle(dc, k.left, k.top, k.right, k.bottom);
            GDI_SetGradient(dc, 0);
            int inset = 1;
            if (!(flags & kFrame) && (style & kAsLaidOut) && !(style & kRing)) {
                GDI_SetPen(dc, 1, 1, fill);
                inset = 0;
            } else {
                GDI_SetPen(dc, 1, 1, caption);
            }
            if (s->enabled && !true_gradient) {
                COLOR light = 0, dark = 0;
                UTIL_3DShades(pressed, fill, &light, &dark);
                UTIL_ShadeRect(dc, &k, light, dark, inset);
            }
            GDI_SetPen(dc, 1, 1, contrast(fill));
            if (!(style & kNoInnerRing) && i >= 5) {
                k = shrink(k, i);
                GDI_SetFillColor(dc, kColorNone);
                GDI_RoundRect(dc, k.left, k.top, k.right, k.bottom, rad, rad);
            }
        } else if (face == kKey3D) {
            GDI_SetPen(dc, 0, 0, kColorNone);
            const int rad = std::min(height(r), width(r)) / 3;
            const RECT &f = s->face;
            if (true_gradient)
                GDI_GradRoundRect(dc, 0, int(height(f) * 0.62), f.left, f.top, f.right, f.bottom,
                                  rad, rad);
            else
                GDI_RoundRect(dc, f.left, f.top, f.right, f.bottom, rad, rad);
            GDI_SetGradient(dc, 0);
            if (!(flags & kFrame) && (style & kAsLaidOut) && !(style & kRing))
                GDI_SetPen(dc, 1, 1, fill);
            else
                GDI_SetPen(dc, 1, 1, caption);
        } else {
            k = paint_lever(def, s, dc, lamp_state != 0, true_gradient, gr);
        }
    }
    if (face == kKey3D && (flags & kHasCaption) && !(style & kAsLaidOut)) {
        if (const void *text = obj::Text(le32(def + kCaption))) {
            const COLOR pen = dc->pen_colour;
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_SetTextColor(dc, caption);
            GDI_SetFillColor(dc, kColorNone);
            const int align = def[kAlign] == 36 && (style & kLegend) ? 34 : def[kAlign];
            GDI_RectTextOut(dc, align, &s->caption, text);
            GDI_SetPen(dc, 1, 1, pen);
        }
    }
    if ((style & kLegend) && s->phase == 0) {
        const uint8_t state = (style & kLegendByIndicator) ? s->ind : s->out;
        const void *text = obj::Text(le32(def + (state ? kOnLegend : kOffLegend)));
        if (!text) return;
        GDI_SelectFont(dc, def[kLegendFont], nullptr, nullptr);
        GDI_SetTextColor(dc, dc->pen_colour);
        GDI_SetFillColor(dc, kColorNone);
        k.bottom = int16_t(k.bottom - 1);
        if (face == kKey3D && (flags & kHasCaption) && def[kAlign] == 36 && (flags & kLamp))
            GDI_RectTextOut(dc, 33, &s->face, text);
        else
            GDI_RectTextOut(dc, 36, &k, text);
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *s = reinterpret_cast<SwitchInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !s->whole) return;
    if ((mode & 1) || s->repaint_bg) {
        s->repaint_bg = 0;
        paint_frame(def, s, dc);
    }
    if (mode & 2) paint_content(def, s, dc);
}

} // namespace

const ObjClass SWTCH_Class{kLength, create, paint, signal, destroy, sizeof(SwitchInst), nullptr};
