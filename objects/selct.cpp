// SELCT objects: a row or column of labelled positions of which one is
// selected, the selected index being a register's value; a touch or a new
// bit of a trigger register selects a position. With one position the object
// is a button that steps through a number of states on each touch or trigger.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"

#include <algorithm>

namespace {

using namespace rec::selct;

// Flags.
constexpr uint32_t kFlash = 0x2, kFramed = 0x4, kEnabled = 0x8, kSideTab = 0x200,
                   kHasCaption = 0x800, kTouch = 0x4000;
constexpr int kTab = 8; // side tab width
constexpr uint8_t kRow = 1;

struct SelctInst {
    ObjInst hdr;
    RECT area, caption, first; // exclusive
    int16_t size, gap, selected;
    RCB *trigger, *value, *state;
    uint8_t last_bits, side, stepping, pressed, enabled, phase, whole;
};

int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}
int count_of(const uint8_t *def) {
    return def[kPositions];
}
bool row_of(const uint8_t *def) {
    return def[kOrientation] == kRow;
}
// A stepping button with no steps counts one.
int steps_of(const uint8_t *def) {
    return std::max<int>(def[kSteps], 1);
}
int highest(const uint8_t *def, const SelctInst *s) {
    return s->stepping ? steps_of(def) - 1 : std::max(count_of(def) - 1, 0);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *s = reinterpret_cast<SelctInst *>(inst);
    s->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!s->whole) {
        inst->state = 0;
        return int16_t(sizeof(SelctInst));
    }
    DC *dc = inst->dc;
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    s->side = 0;
    if (flags & kSideTab) {
        const int screen_w = obj::ScreenWidth(inst);
        s->side = (r.left + r.right) / 2 < screen_w / 2 ? 1 : 2;
    }
    RECT area = r;
    if (s->side == 1) area.left = int16_t(area.left + kTab);
    if (s->side == 2) area.right = int16_t(area.right - kTab);
    s->caption = RECT{int16_t(area.left + 3), int16_t(area.top + 3), int16_t(area.right - 4),
                      int16_t(area.bottom - 4)};
    if (flags & kHasCaption) {
        const void *text = obj::Text(le32(def + kCaption));
        int fw = 0, fh = 0;
        if (dc) GDI_SelectFont(dc, def[kFont], &fw, &fh);
        const int lines = text ? UTIL_StringLines(text) : 0;
        const uint8_t align = def[kAlign];
        RECT &c = s->caption;
        if (align & 16) {
            c.bottom = int16_t(std::min<int>(c.bottom, c.top + lines * fh));
            area.top = int16_t(c.bottom - 2);
        } else if (align & 64) {
            c.top = int16_t(std::max<int>(c.top, c.bottom - lines * fh));
            area.bottom = int16_t(c.top + 2);
        } else if (align == 33) {
            c.right = int16_t(std::min<int>(c.right, c.left + fw));
            area.left = c.right;
        } else if (align == 34) {
            c.left = int16_t(std::max<int>(c.left, c.right - fw));
            area.right = c.left;
        }
    }
    const bool row = row_of(def);
    GDI_DeflateRect(&area, row ? 11 : 8, row ? 8 : 11);
    if (area.right < area.left) area.right = area.left;
    if (area.bottom < area.top) area.bottom = area.top;
    s->area = area;
    const int n = count_of(def);
    const int along = row ? width(area) : height(area);
    s->size = s->gap = 0;
    if (n > 0) {
        const int size = std::max((along - 4 * (n - 1)) / n, 0);
        s->size = int16_t(size);
        s->gap = int16_t(along - 4 * (n - 1) - size * n >= n - 1 ? 5 : 4);
    }
    s->first = area;
    if (row)
        s->first.right = int16_t(area.left + s->size);
    else
        s->first.bottom = int16_t(area.top + s->size);
    s->stepping = n == 1 ? 1 : 0;
    s->enabled = (flags & kEnabled) ? 1 : 0;
    s->phase = s->pressed = 0;
    s->selected = 0;
    s->last_bits = 0xFF;
    s->value = obj::LinkReg(le16(def + kValue), def[kValueSize]);
    s->trigger = (flags & (kSideTab | kTouch))
                     ? nullptr
                     : obj::LinkReg(le16(def + kTrigger), def[kTriggerSize]);
    s->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        s->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(SelctInst));
}

RECT position(const uint8_t *def, const SelctInst *s, int i) {
    RECT p = s->first;
    const int d = i * (s->size + s->gap);
    if (row_of(def)) {
        p.left = int16_t(p.left + d);
        p.right = int16_t(p.right + d);
    } else {
        p.top = int16_t(p.top + d);
        p.bottom = int16_t(p.bottom + d);
    }
    return p;
}

void write_index(SelctInst *s, int index) {
    s->selected = int16_t(index);
    uint8_t v[2];
    put_le16(v, uint16_t(index));
    obj::WriteReg(s->value, v, 2);
}

int next_step(const uint8_t *def, const SelctInst *s) {
    return (s->selected + 1) % steps_of(def);
}

uint16_t update(const uint8_t *def, SelctInst *s, uint32_t force) {
    ObjInst *inst = &s->hdr;
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, s->state, kLength, 0, nullptr, &flags, true);
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
    const int v = std::min<int>(obj::Read16(s->value), highest(def, s));
    if (v != s->selected || force) {
        s->selected = int16_t(v);
        r |= objmsg::kRepaint;
    }
    if ((flags_of(def) & (kTouch | kSideTab)) || !s->enabled) return r;
    // The trigger is one byte: at most its eight bits select.
    const int n = std::min(count_of(def), 8);
    const uint8_t bits = obj::Read8(s->trigger) & uint8_t((1u << n) - 1);
    if (bits == s->last_bits) return r;
    const uint8_t fresh = bits & uint8_t(~s->last_bits);
    s->last_bits = bits;
    if (!fresh) return r;
    if (s->stepping) {
        write_index(s, next_step(def, s));
    } else {
        int i = 0;
        while (!(fresh & (1u << i)))
            ++i;
        write_index(s, i);
    }
    return r | objmsg::kRepaint;
}

uint16_t touch_down(const uint8_t *def, SelctInst *s, int x, int y) {
    if (!obj::GotAccess(obj::Level(def))) {
        obj::Beep(125);
        return objmsg::kDenied | objmsg::kRefuse;
    }
    obj::ResetTimeout();
    if (!s->enabled) {
        obj::Beep(50);
        return 0;
    }
    if (s->stepping) {
        if (!GDI_PtInRect(&s->first, x, y)) return 0;
        s->pressed = 1;
        obj::Beep(3);
        write_index(s, next_step(def, s));
        return objmsg::kRepaint;
    }
    for (int i = 0; i < count_of(def); ++i) {
        const RECT p = position(def, s, i);
        if (!GDI_PtInRect(&p, x, y)) continue;
        if (i == s->selected) return 0;
        obj::Beep(3);
        write_index(s, i);
        return objmsg::kRepaint;
    }
    return 0;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *s = reinterpret_cast<SelctInst *>(inst);
    if (!s->whole) return 0;
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, s, arg);
    case objmsg::kTouchDown:
        return touch_down(def, s, x, y);
    case objmsg::kTouchUp:
        if (!obj::GotAccess(obj::Level(def))) return objmsg::kRefuse;
        obj::ResetTimeout();
        if (s->pressed && GDI_PtInRect(&s->first, x, y)) {
            s->pressed = 0;
            return objmsg::kRepaint;
        }
        return 0;
    default:
        return 0;
    }
}

void line(DC *dc, int x1, int y1, int x2, int y2) {
    GDI_MoveTo(dc, x1, y1);
    GDI_LineTo(dc, x2, y2);
}

// The caption as it is drawn: a top or bottom alignment on the middle row,
// a middle-row one at the side centred; centred itself, not at all.
int caption_align(uint8_t align) {
    if (!(align & 32)) return (align & 7) + 32;
    if (!(align & 4)) return 36;
    return 0;
}

void paint_frame(const uint8_t *def, SelctInst *s, DC *dc) {
    const uint32_t flags = flags_of(def);
    const COLOR outline = le16(def + kColour);
    RECT O = obj::Rect(def);
    GDI_SetPen(dc, 0, 1, outline);
    GDI_SetFillColor(dc, le16(def + kBackground));
    GDI_Rectangle(dc, O.left, O.top, O.right, O.bottom);
    GDI_SetPen(dc, 1, 1, outline);
    GDI_SetFillColor(dc, kColorNone);
    const int n = count_of(def);
    if (s->side && n > 0) {
        const int h = std::min(height(O) / n, 32);
        for (int i = 0; i < n; ++i) {
            const int mid = O.top + h / 2 + i * h, top = O.top + i * h,
                      bottom = O.top + (i + 1) * h;
            if (s->side == 1) {
                line(dc, O.left, mid, O.left + 8, top);
                line(dc, O.left, mid, O.left + 8, bottom);
            } else {
                line(dc, O.right - 1, mid, O.right - 9, top);
                line(dc, O.right - 1, mid, O.right - 9, bottom);
            }
        }
    }
    if (s->side == 1) O.left = int16_t(O.left + kTab);
    if (s->side == 2) O.right = int16_t(O.right - kTab);
    if (flags & kFramed) GDI_Rectangle(dc, O.left, O.top, O.right, O.bottom);
    RECT a = s->area;
    // 4 across a column and 7 along it; 7 across a row and 4 along it.
    GDI_InflateRect(&a, 4, 7);
    const int radius = std::min(std::min(width(a), height(a)) / 4, 17);
    GDI_RoundRect(dc, a.left, a.top, a.right, a.bottom, radius, radius);
    if (flags & kHasCaption) {
        const int align = caption_align(def[kAlign]);
        const void *text = obj::Text(le32(def + kCaption));
        if (align && text) {
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_SetTextColor(dc, outline);
            GDI_RectTextOut(dc, align, &s->caption, text);
        }
    }
}

// Takes the colour, or with type bit 15 the gradient, of a colour field.
COLOR take_colour(const uint8_t *def, DC *dc, size_t field) {
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, le16(def + field), &gr)) {
        GDI_SetGradient(dc, gr.mode);
        GDI_SetEndColor(dc, gr.end);
        GDI_SetFillColor(dc, gr.start);
        return gr.start;
    }
    GDI_SetGradient(dc, 0);
    GDI_SetFillColor(dc, le16(def + field));
    return le16(def + field);
}

// The label of position `k`; empty when the record does not hold its offset.
const void *label(const uint8_t *def, int k) {
    const size_t at = kLabels + 4 * size_t(k);
    if (!obj::Holds(def, at, 4)) return nullptr;
    return obj::Text(le32(def + at));
}

void paint_positions(const uint8_t *def, SelctInst *s, DC *dc) {
    const COLOR outline = le16(def + kColour);
    GDI_SelectFont(dc, def[kLabelFont], nullptr, nullptr);
    const int sel = s->stepping ? 0 : s->selected;
    int k = s->stepping ? s->selected : 0;
    obj::Gradient gr{};
    for (int i = 0; i < count_of(def); ++i, ++k) {
        const RECT P = position(def, s, i);
        GDI_SetPen(dc, 1, 1, outline);
        const bool chosen = i == sel && (s->pressed || !s->stepping);
        const size_t field = chosen ? kSelected : kOthers;
        const COLOR fill = take_colour(def, dc, field);
        const bool grad = obj::HasGradient(def) && obj::GradientAt(def, le16(def + field), &gr);
        int look = 0;
        if (i == sel) look = s->pressed ? 1 : s->stepping ? 0 : 1;
        if (s->enabled) {
            if (grad)
                UTIL_GradButton(dc, gr.p1, gr.p2, &P, look);
            else
                UTIL_Button(dc, &P, look);
        } else if (grad) {
            GDI_GradientRect(dc, gr.p1, gr.p2, P.left, P.top, P.right, P.bottom);
        } else {
            GDI_Rectangle(dc, P.left, P.top, P.right, P.bottom);
        }
        GDI_SetGradient(dc, 0);
        RECT inner = P, old{}, cut{};
        GDI_DeflateRect(&inner, 3, 3);
        RECT now = dc->clip;
        now.right = int16_t(now.right + 1);
        now.bottom = int16_t(now.bottom + 1);
        if (!GDI_IntersectRect(&cut, &now, &inner)) continue;
        GDI_SetClipRect(dc, &cut, &old);
        GDI_SetFillColor(dc, kColorNone);
        GDI_SetTextColor(dc, UTIL_IsBright(fill) ? 0x0000 : kShadeWhite);
        const void *text = label(def, k);
        if (text && !(i == sel && s->phase == 1)) GDI_RectTextOut(dc, 36, &P, text);
        GDI_SetClipRect(dc, &old, nullptr);
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *s = reinterpret_cast<SelctInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !s->whole) return;
    if (mode & 1) paint_frame(def, s, dc);
    if (mode & 2) paint_positions(def, s, dc);
}

} // namespace

const ObjClass SELCT_Class{kLength, create, paint, signal, nullptr, sizeof(SelctInst), nullptr};
