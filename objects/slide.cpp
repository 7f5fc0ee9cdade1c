// SLIDE objects: a vertical or horizontal slider that shows a 16-bit
// register as a thumb on a track and sets it when the operator drags the
// thumb or holds the step arrows at the track's ends (stepping again after a
// second, then every 100 ms). The slider writes the register itself.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/periphery.h"
#include "objects/records.h"
#include "platform/keys.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace rec::slide;

// Flags.
constexpr uint32_t kFlash = 0x2, kFramed = 0x4, kEnabled = 0x8, kLabels = 0x10, kDraggable = 0x20,
                   kArrows = 0x40, kHasCaption = 0x800;
constexpr uint16_t kPollTicks = 15, kFirstRepeat = 100, kRepeat = 10;

struct SlideInst {
    ObjInst hdr;
    RECT slider, caption, up, down; // exclusive; up increases the value
    COLOR colour;
    RCB *value, *state;
    int32_t val;
    int16_t track_start, track_end, thumb, track, pos, drawn, last;
    uint16_t poll_mark, repeat_mark, interval;
    COLOR grad_start, grad_end;
    uint8_t up_held, down_held, vertical, dragging, phase, pending, enabled, whole;
    int16_t jitter;
    int16_t half_font;
};

int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
int16_t lo_of(const uint8_t *def) {
    return int16_t(le16(def + kMin));
}
int16_t hi_of(const uint8_t *def) {
    return int16_t(le16(def + kMax));
}
uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}

int label_width(DC *dc, int16_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%d", int(v));
    int w = 0, h = 0;
    GDI_ByteTextExtent(dc, text, &w, &h);
    return w;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *s = reinterpret_cast<SlideInst *>(inst);
    s->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    s->dragging = 0;
    if (!s->whole) {
        inst->state = 0;
        return int16_t(sizeof(SlideInst));
    }
    DC *dc = inst->dc;
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    RECT rest = r;
    s->caption = r;
    if (flags & kHasCaption) {
        const void *text = obj::Text(le32(def + kCaption));
        int fh = 0;
        if (dc) GDI_SelectFont(dc, def[kFont], nullptr, &fh);
        const int lines = text ? UTIL_StringLines(text) : 0;
        const int h = std::min(lines * fh, height(r));
        if (def[kAlign] & 0x10) {
            s->caption.bottom = int16_t(r.top + h);
            rest.top = s->caption.bottom;
        } else {
            s->caption.top = int16_t(r.bottom - h);
            rest.bottom = s->caption.top;
        }
    }
    RECT S = rest;
    GDI_DeflateRect(&S, 4, 4);
    if (S.right < S.left) S.right = S.left;
    if (S.bottom < S.top) S.bottom = S.top;
    s->vertical = width(S) > height(S) ? 0 : 1;
    const int length = s->vertical ? height(S) : width(S);
    int z = std::min(length / 4, 31);
    if (z % 2 == 0) z = std::max(z - 1, 0);
    int L = length - z;
    // The track: its end is the thumb's outer edge at the minimum.
    int end = s->vertical ? S.bottom : S.left;
    if (flags & kArrows) {
        if (s->vertical) {
            s->up = RECT{S.left, S.top, S.right, int16_t(S.top + z)};
            s->down = RECT{S.left, int16_t(S.bottom - z), S.right, S.bottom};
            end -= 3 + z;
        } else {
            s->up = RECT{int16_t(S.right - z), S.top, S.right, S.bottom};
            s->down = RECT{S.left, S.top, int16_t(S.left + z), S.bottom};
            end += 3 + z;
        }
        // A small slider has no room for a track between its arrows.
        L = std::max(L - 2 * (3 + z), 0);
    }
    s->half_font = 0;
    if (flags & kLabels) {
        int fh = 0;
        if (dc) GDI_SelectFont(dc, def[kLabelFont], nullptr, &fh);
        if (s->vertical) {
            const int w =
                dc ? std::max(label_width(dc, lo_of(def)), label_width(dc, hi_of(def))) : 0;
            S.right = int16_t(std::max<int>(S.left, S.right - w));
            if (flags & kArrows) {
                s->up.right = S.right;
                s->down.right = S.right;
            }
        } else {
            S.top = int16_t(std::min<int>(S.bottom, S.top + fh));
            if (flags & kArrows) {
                s->up.top = S.top;
                s->down.top = S.top;
            }
        }
        s->half_font = int16_t(fh / 2 - 1);
    }
    s->slider = S;
    s->thumb = int16_t(z);
    s->track = int16_t(L);
    s->track_end = int16_t(end);
    s->track_start = int16_t(s->vertical ? end - (L + z) : end + L + z);
    inst->area = RECT{S.left, S.top, int16_t(S.right - 1), int16_t(S.bottom - 1)};
    s->pos = s->drawn = 0;
    s->val = 0;
    s->last = 0;
    s->jitter = 0;
    s->poll_mark = s->repeat_mark = obj::Tick();
    s->interval = kFirstRepeat;
    s->up_held = s->down_held = s->phase = s->pending = 0;
    s->enabled = (flags & kEnabled) ? 1 : 0;
    s->value = obj::LinkReg(le16(def + kValue), def[kValueSize]);
    s->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        s->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, le16(def + kThumb), &gr)) {
        s->grad_start = gr.start;
        s->grad_end = gr.end;
        s->colour = gr.start;
    } else {
        s->grad_start = s->grad_end = le16(def + kThumb);
        s->colour = le16(def + kThumb);
    }
    return int16_t(sizeof(SlideInst));
}

int16_t thumb_of(const uint8_t *def, const SlideInst *s) {
    return int16_t(UTIL_U16Scale(int16_t(s->val), 16, hi_of(def), lo_of(def), s->track));
}

void write_value(SlideInst *s) {
    uint8_t v[2];
    put_le16(v, uint16_t(s->val));
    obj::WriteReg(s->value, v, 2);
}

// One step of an arrow, within the bounds (signed 16-bit).
void step(const uint8_t *def, SlideInst *s, bool up) {
    const int16_t v = int16_t(s->val);
    if (up && v < hi_of(def)) s->val = v + 1;
    if (!up && v > lo_of(def)) s->val = v - 1;
}

uint16_t update(const uint8_t *def, SlideInst *s, uint32_t force) {
    ObjInst *inst = &s->hdr;
    const COLOR normal = obj::HasGradient(def) ? s->grad_start : le16(def + kThumb);
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, s->state, kLength, normal, &s->colour, &flags, true);
    const uint8_t enabled = (flags & kEnabled) ? 1 : 0;
    if (enabled != s->enabled) {
        s->enabled = enabled;
        r |= objmsg::kRepaint;
    }
    if (s->dragging && !s->pending) return r;
    const uint16_t now = obj::Tick();
    if (!s->up_held && !s->down_held) {
        if (!s->dragging) {
            const uint8_t phase = (flags & kFlash) && obj::Flash() ? 1 : 0;
            if (phase != s->phase) {
                s->phase = phase;
                r |= objmsg::kRepaint;
            }
        }
        if (!force && uint16_t(now - s->poll_mark) < kPollTicks) return r;
        s->poll_mark = now;
        if (s->pending) {
            s->pending = 0;
            write_value(s);
            return r;
        }
        uint8_t raw[4];
        obj::ReadReg(s->value, raw, 4);
        const int32_t v = int32_t(le32(raw));
        if (v != s->val || force) {
            s->val = v;
            s->pos = thumb_of(def, s);
            r |= objmsg::kRepaint;
        }
        return r;
    }
    if (uint16_t(now - s->repeat_mark) < s->interval) return r;
    s->repeat_mark = now;
    s->interval = kRepeat;
    step(def, s, s->up_held != 0);
    s->pos = thumb_of(def, s);
    write_value(s);
    return r | objmsg::kRepaint;
}

bool inside(const RECT &r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// The band the thumb travels in, across the whole slider.
RECT track_band(const SlideInst *s) {
    const RECT &S = s->slider;
    if (s->vertical) return RECT{S.left, s->track_start, S.right, s->track_end};
    return RECT{s->track_end, S.top, s->track_start, S.bottom};
}

RECT thumb_rect(const uint8_t *def, const SlideInst *s, int p) {
    const RECT &S = s->slider;
    const int in = def[kMarks] ? 4 : 0;
    if (s->vertical)
        return RECT{int16_t(S.left + in), int16_t(s->track_end - p - s->thumb),
                    int16_t(S.right - in), int16_t(s->track_end - p)};
    return RECT{int16_t(s->track_end + p), int16_t(S.top + in),
                int16_t(s->track_end + p + s->thumb), int16_t(S.bottom - in)};
}

uint16_t end_drag(SlideInst *s) {
    s->dragging = 0;
    s->jitter = 0;
    obj::TouchCtrl(0);
    KEY_FlushTouch();
    return objmsg::kRepaint | objmsg::kRefuse;
}

// Touch up, or a touch down on nothing of the slider.
uint16_t release(SlideInst *s) {
    if (s->up_held) {
        s->up_held = 0;
        return objmsg::kRepaint;
    }
    if (s->down_held) {
        s->down_held = 0;
        return objmsg::kRepaint;
    }
    if (s->dragging) {
        s->dragging = 0;
        s->jitter = 0;
        obj::TouchCtrl(0);
        return objmsg::kRepaint | objmsg::kRefuse;
    }
    return 0;
}

uint16_t drag(const uint8_t *def, SlideInst *s, int x, int y) {
    KEY_FlushDowns();
    if (!inside(track_band(s), x, y)) return end_drag(s);
    const int point = s->vertical ? y : x;
    const int delta = s->vertical ? point - s->last : s->last - point;
    if (delta == 0) return 0;
    if (std::abs(delta) == 1) {
        // Single-pixel steps are a finger's tremor until they keep going
        // one way: the third in a row moves a vertical thumb, the fourth a
        // horizontal one.
        const int limit = s->vertical ? 3 : 4;
        s->jitter =
            int16_t((s->jitter > 0) == (delta > 0) && s->jitter ? s->jitter + delta : delta);
        s->last = int16_t(point);
        if (std::abs(s->jitter) < limit) return 0;
    }
    s->jitter = 0;
    int p = s->pos - delta;
    const int clamped = std::clamp(p, 0, int(s->track));
    if (clamped == p) s->last = int16_t(point);
    p = clamped;
    s->pos = int16_t(p);
    int v = int16_t(UTIL_U16Unscale(p, 16, hi_of(def), lo_of(def), s->track));
    if (UTIL_U16Scale(v, 16, hi_of(def), lo_of(def), s->track) < p) ++v;
    s->val = int16_t(v);
    s->pending = 1;
    s->phase = 0;
    return objmsg::kRepaint;
}

uint16_t touch_down(const uint8_t *def, SlideInst *s, uint32_t arg) {
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    const uint32_t flags = flags_of(def);
    if ((flags & kDraggable) && s->dragging) return drag(def, s, x, y);
    const bool on_thumb = (flags & kDraggable) && inside(thumb_rect(def, s, s->pos), x, y);
    const bool on_up = (flags & kArrows) && inside(s->up, x, y);
    const bool on_down = (flags & kArrows) && inside(s->down, x, y);
    if (!on_thumb && !on_up && !on_down) return release(s);
    if (!obj::GotAccess(obj::Level(def))) {
        obj::Beep(125);
        return objmsg::kDenied | objmsg::kRefuse;
    }
    obj::ResetTimeout();
    if (!s->enabled) {
        obj::Beep(50);
        return 0;
    }
    if (on_thumb) {
        s->dragging = 1;
        s->jitter = 0;
        s->last = int16_t(s->vertical ? y : x);
        obj::TouchCtrl(1);
        return objmsg::kWantFocus;
    }
    if (on_up)
        s->up_held = 1;
    else
        s->down_held = 1;
    step(def, s, on_up);
    s->repeat_mark = obj::Tick();
    s->interval = kFirstRepeat;
    s->pos = thumb_of(def, s);
    obj::Beep(3);
    s->phase = 0;
    write_value(s);
    return objmsg::kRepaint;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *s = reinterpret_cast<SlideInst *>(inst);
    if (!s->whole) return 0;
    switch (msg) {
    case objmsg::kFocus:
        return objmsg::kRepaint;
    case objmsg::kUpdate:
        return update(def, s, arg);
    case objmsg::kTouchDown:
        return touch_down(def, s, arg);
    case objmsg::kTouchUp:
        return release(s);
    default:
        return 0;
    }
}

void destroy(const uint8_t *, ObjInst *inst) {
    auto *s = reinterpret_cast<SlideInst *>(inst);
    if (!s->whole || !s->dragging) return;
    s->dragging = 0;
    obj::TouchCtrl(0);
    KEY_FlushTouch();
}

void frame(DC *dc, int l, int t, int r, int b, COLOR fill) {
    GDI_SetFillColor(dc, fill);
    GDI_Rectangle(dc, l, t, r, b);
}

void paint_frame(const uint8_t *def, SlideInst *s, DC *dc) {
    const uint32_t flags = flags_of(def);
    const COLOR fc = le16(def + kColour), back = le16(def + kBackground);
    const RECT O = obj::Rect(def);
    const RECT &S = s->slider;
    GDI_SetPen(dc, (flags & kFramed) ? 1 : 0, 1, fc);
    frame(dc, O.left, O.top, O.right, O.bottom, back);
    GDI_SetFillColor(dc, kColorNone);
    if (flags & kHasCaption) {
        if (const void *text = obj::Text(le32(def + kCaption))) {
            GDI_SetTextColor(dc, fc);
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_RectTextOut(dc, def[kAlign], &s->caption, text);
        }
    }
    if (!(flags & kDraggable)) return;
    GDI_SetPen(dc, 0, 1, fc);
    if (s->vertical) {
        const int c = (S.left + S.right) / 2;
        frame(dc, c - 2, s->track_start, c + 2, s->track_end, fc);
    } else {
        const int c = (S.top + S.bottom) / 2;
        frame(dc, s->track_end, c - 2, s->track_start, c + 2, fc);
    }
    GDI_SetFillColor(dc, kColorNone);
    if (!(flags & kLabels)) return;
    int fh = 0;
    GDI_SelectFont(dc, def[kLabelFont], nullptr, &fh);
    GDI_SetTextColor(dc, fc);
    GDI_SetFillColor(dc, back);
    char lo[20], hi[20];
    std::snprintf(lo, sizeof lo, "%d", int(lo_of(def)));
    std::snprintf(hi, sizeof hi, "%d", int(hi_of(def)));
    const int z = s->thumb, hf = s->half_font;
    if (s->vertical) {
        GDI_SetTextAlign(dc, 0);
        GDI_ByteTextOut(dc, S.right + 1, s->track_start + z / 2 - hf, hi);
        GDI_ByteTextOut(dc, S.right + 1, s->track_end - 1 - z / 2 - hf, lo);
    } else {
        GDI_SetTextAlign(dc, 2);
        GDI_ByteTextOut(dc, s->track_end + z / 2, S.top - 1 - fh, lo);
        GDI_ByteTextOut(dc, s->track_start - 1 - z / 2, S.top - 1 - fh, hi);
    }
    GDI_SetTextAlign(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
}

void face(DC *dc, const uint8_t *def, const RECT &r, int pressed, bool enabled) {
    if (enabled) {
        if (obj::HasGradient(def))
            UTIL_GradButton(dc, 0, 0, &r, pressed);
        else
            UTIL_Button(dc, &r, pressed);
    } else if (obj::HasGradient(def)) {
        GDI_GradientRect(dc, 0, 0, r.left, r.top, r.right, r.bottom);
    } else {
        GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
}

void arrows(const uint8_t *def, SlideInst *s, DC *dc) {
    const uint32_t flags = flags_of(def);
    const COLOR fc = le16(def + kColour);
    GDI_SetPen(dc, 1, 1, fc);
    GDI_SetFillColor(dc, kShadeLight);
    if (obj::HasGradient(def)) {
        GDI_SetEndColor(dc, kShadeMid);
        GDI_SetGradient(dc, 1);
    }
    face(dc, def, s->up, s->up_held, s->enabled);
    face(dc, def, s->down, s->down_held, s->enabled);
    GDI_SetGradient(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
    if (s->phase == 1 && !(flags & kDraggable)) return;
    GDI_SetPen(dc, 1, 2, fc);
    const int a = std::min(width(s->up), height(s->up)) / 6;
    auto glyph = [&](const RECT &r, int dir) {
        const int x = (r.left + r.right - 1) / 2, y = (r.top + r.bottom - 1) / 2;
        GDI_MoveTo(dc, x, y - dir * a);
        GDI_LineTo(dc, x - 2 * a, y + dir * a);
        GDI_MoveTo(dc, x, y - dir * a);
        GDI_LineTo(dc, x + 2 * a, y + dir * a);
    };
    glyph(s->up, 1);
    glyph(s->down, -1);
}

void paint_content(const uint8_t *def, SlideInst *s, DC *dc) {
    const uint32_t flags = flags_of(def);
    const RECT &S = s->slider;
    if (height(S) == 0) return;
    if (flags & kArrows) arrows(def, s, dc);
    if (!(flags & kDraggable)) return;
    const COLOR fc = le16(def + kColour), back = le16(def + kBackground);
    const RECT T = thumb_rect(def, s, s->pos);
    // What the old thumb covered and the new one does not: background, with
    // the groove through it.
    if (s->drawn != s->pos) {
        const RECT old = thumb_rect(def, s, s->drawn);
        RECT gap = T;
        if (s->vertical) {
            gap.top = old.top < T.top ? old.top : std::max(old.top, T.bottom);
            gap.bottom = old.top < T.top ? std::min(old.bottom, T.top) : old.bottom;
        } else {
            gap.left = old.left < T.left ? old.left : std::max(old.left, T.right);
            gap.right = old.left < T.left ? std::min(old.right, T.left) : old.right;
        }
        GDI_SetPen(dc, 0, 1, 0x0000);
        frame(dc, gap.left, gap.top, gap.right, gap.bottom, back);
        if (s->vertical) {
            const int c = (S.left + S.right) / 2;
            frame(dc, c - 2, gap.top, c + 2, gap.bottom, fc);
        } else {
            const int c = (S.top + S.bottom) / 2;
            frame(dc, gap.left, c - 2, gap.right, c + 2, fc);
        }
    }
    s->drawn = s->pos;
    const int n = def[kMarks];
    if (n) {
        GDI_SetPen(dc, 1, 1, fc);
        const int h = s->thumb / 2, L = s->track;
        auto mark = [&](int at) {
            if (s->vertical) {
                GDI_MoveTo(dc, S.left, at);
                GDI_LineTo(dc, S.right, at);
            } else {
                GDI_MoveTo(dc, at, S.top);
                GDI_LineTo(dc, at, S.bottom);
            }
        };
        if (s->vertical) {
            mark(s->track_end - 1 - h);
            mark(s->track_start + h);
            for (int k = 1; k <= n - 2; ++k)
                mark(s->track_end - 1 - h - k * L / (n - 1));
        } else {
            mark(s->track_end + h);
            mark(s->track_start - 1 - h);
            for (int k = 1; k <= n - 2; ++k)
                mark(s->track_end + h + k * L / (n - 1));
        }
    }
    GDI_SetPen(dc, 1, 1, fc);
    COLOR c = s->colour;
    if (s->dragging || s->phase == 1) c = UTIL_InvertIntensity(c);
    GDI_SetFillColor(dc, c);
    if (obj::HasGradient(def)) {
        GDI_SetGradient(dc, 1);
        GDI_SetEndColor(dc, s->grad_end);
    }
    face(dc, def, T, 0, s->enabled);
    GDI_SetGradient(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, 1, 1, UTIL_IsBright(c) ? 0x0000 : kShadeWhite);
    if (s->vertical) {
        const int y = (T.top + T.bottom) / 2;
        GDI_MoveTo(dc, T.left + 3, y);
        GDI_LineTo(dc, T.right - 3, y);
    } else {
        const int x = (T.left + T.right) / 2;
        GDI_MoveTo(dc, x, T.top + 3);
        GDI_LineTo(dc, x, T.bottom - 3);
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *s = reinterpret_cast<SlideInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !s->whole) return;
    if (mode & 1) paint_frame(def, s, dc);
    if (mode & 2) paint_content(def, s, dc);
}

} // namespace

const ObjClass SLIDE_Class{kLength, create, paint, signal, destroy, sizeof(SlideInst), nullptr};
