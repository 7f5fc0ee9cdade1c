// PAGE objects: screen buttons that show another user screen (a fixed one
// or one named by a register) or go back through the screen history, when
// touched or when a trigger register takes a new non-zero value. The face is
// plain, gradient or a 3D rounded key, with an optional side tab, a page
// pictogram or one of the twelve vector icons, and a caption.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/icons.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"

#include <algorithm>

namespace {

using namespace rec::page;

// Flags.
constexpr uint32_t kFlash = 0x2, kFrame = 0x4, kEnabled = 0x8, kIcon = 0x10, kTargetReg = 0x20,
                   kPush = 0x40, kGoBack = 0x80, kSelectable = 0x100, kSideTab = 0x200,
                   kHasCaption = 0x800, kDrawKind = 0x2000, kTouch = 0x4000, kRounded = 0x10000,
                   kDrawKind2 = 0x20000;
constexpr int kFirstLinkTarget = 1024;

struct PageInst {
    ObjInst hdr;
    RECT rect;    // the record rectangle (exclusive)
    RECT area;    // what the face takes: the rectangle less the side tab
    RECT caption; // exclusive
    RECT icon;
    RECT face; // the 3D key's face
    COLOR colour;
    COLOR start, end;
    RCB *trigger, *target, *state;
    uint8_t side; // 1 left, 2 right, 0 no tab
    uint8_t enabled, phase, last, repaint_all;
    uint8_t whole; // the record holds every field of the class
};

uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}
int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
RECT shrink(const RECT &r, int dx, int dy) {
    return RECT{int16_t(r.left + dx), int16_t(r.top + dy), int16_t(r.right - dx),
                int16_t(r.bottom - dy)};
}
RECT shrink(const RECT &r, int d) {
    return shrink(r, d, d);
}
int side_of(const RECT &r) {
    return std::min(width(r), height(r));
}

// The icon kind of the icon record (after the alternative colours and the
// gradient extension when present); 0 when the record does not hold it.
int icon_kind(const uint8_t *def) {
    size_t at = kLength;
    if (le16(def + rec::kStateMask) & 0xF0) at += rec::kAltColors;
    if (obj::HasGradient(def)) at += rec::kGradientExt;
    at += rec::page::kIconKind;
    return obj::Holds(def, at, 1) ? def[at] : 0;
}

bool draws_kind(uint32_t flags) {
    return (flags & (kDrawKind | kDrawKind2)) != 0;
}

// Places the icon beside the caption by the caption's alignment; returns
// where the icon keeps to when made square: 1 top, 2 bottom, 3 left, 4 right,
// 0 centre.
int place_icon(const uint8_t *def, PageInst *p, DC *dc) {
    const uint8_t align = def[kAlign];
    const void *text = obj::Text(le32(def + kCaption));
    int fh = 0;
    if (dc) GDI_SelectFont(dc, def[kFont], nullptr, &fh);
    const int lines = text ? UTIL_StringLines(text) : 0;
    const int text_w = text && dc ? UTIL_StringWidth(dc, text) : 0;
    RECT &c = p->caption;
    RECT &i = p->icon;
    if (align & 16) {
        c.bottom = int16_t(std::min<int>(c.bottom, c.top + lines * fh));
        i.top = int16_t(c.bottom + 1);
        return 2;
    }
    if (align & 64) {
        c.top = int16_t(std::max<int>(c.top, c.bottom - lines * fh));
        i.bottom = c.top;
        return 1;
    }
    if (align == 33) {
        i.left = int16_t(std::min<int>(i.right, c.left + text_w));
        return 4;
    }
    if (align == 34) {
        i.right = int16_t(std::max<int>(i.left, c.right - text_w));
        return 3;
    }
    if (align == 36) {
        i.right = int16_t(i.left + std::min(width(i) / 2, height(i)));
        c.left = i.right;
        return 3;
    }
    return 0;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *p = reinterpret_cast<PageInst *>(inst);
    // A record shorter than the class's has no fields to read: the button
    // stays hidden and inert.
    p->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!p->whole) {
        inst->state = 0;
        return int16_t(sizeof(PageInst));
    }
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    p->rect = r;
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    p->side = 0;
    RECT area = r;
    if (flags & kSideTab) {
        p->side = (r.left + r.right) / 2 < obj::ScreenWidth(inst) / 2 ? 1 : 2;
        if (p->side == 1)
            area.left = int16_t(area.left + 8);
        else
            area.right = int16_t(area.right - 8);
    }
    p->area = area;
    p->caption = RECT{int16_t(area.left + 3), int16_t(area.top + 3), int16_t(area.right - 4),
                      int16_t(area.bottom - 4)};
    p->icon = area;
    p->face = area;
    if (flags & kRounded) {
        const RECT f = shrink(area, side_of(area) * 15 / 200);
        p->face = shrink(f, side_of(f) * 102 / 2000);
        p->caption = p->icon = shrink(area, side_of(area) * 29 / 200);
    }
    int at = 0;
    if ((flags & kHasCaption) && (flags & kIcon)) at = place_icon(def, p, inst->dc);
    if (flags & kIcon) {
        RECT &i = p->icon;
        if (draws_kind(flags) && icon_kind(def) == 5) {
            i = shrink(i, width(i) / 10, height(i) / 10);
        } else {
            i = shrink(i, std::max(3, side_of(i) / 6));
            const int s = std::max(0, side_of(i));
            const int dw = width(i) - s, dh = height(i) - s;
            int x = i.left + dw / 2, y = i.top + dh / 2;
            if (at == 1) y = i.top;
            if (at == 2) y = i.bottom - s;
            if (at == 3) x = i.left;
            if (at == 4) x = i.right - s;
            i = RECT{int16_t(x), int16_t(y), int16_t(x + s), int16_t(y + s)};
        }
        i.left = std::max(i.left, r.left);
        i.top = std::max(i.top, r.top);
        i.right = std::min(i.right, r.right);
        i.bottom = std::min(i.bottom, r.bottom);
        if (i.right < i.left) i.right = i.left;
        if (i.bottom < i.top) i.bottom = i.top;
    }
    p->enabled = (flags & kEnabled) ? 1 : 0;
    p->phase = 0;
    p->last = 1;
    p->repaint_all = 0;
    p->colour = le16(def + kColour);
    inst->state = (flags & 1) ? kInstShown : 0;
    p->trigger = (flags & (kSelectable | kSideTab | kTouch))
                     ? nullptr
                     : obj::LinkReg(le16(def + kTrigger), def[kTriggerSize]);
    p->state = nullptr;
    if (le16(def + rec::kStateLink)) {
        p->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    const uint16_t target = le16(def + kTarget);
    p->target = nullptr;
    if (!(flags & kGoBack) && ((flags & kTargetReg) || target >= kFirstLinkTarget))
        p->target = obj::LinkReg(target, def[kTargetSize]);
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, le16(def + kFace), &gr)) {
        p->start = gr.start;
        p->end = gr.end;
    } else {
        p->start = p->end = le16(def + kFace);
    }
    return int16_t(sizeof(PageInst));
}

// Shows the target screen, or asks the manager to go back.
uint16_t switch_screen(const uint8_t *def, PageInst *p) {
    // Only a user screen changes the user screen: over a system or alarm
    // screen the button only beeps.
    if (obj::PageMode() != 1) {
        obj::Beep(50);
        return 0;
    }
    obj::Beep(3);
    const uint32_t flags = flags_of(def);
    if (flags & kGoBack) return objmsg::kBack;
    const uint16_t field = le16(def + kTarget);
    const int target =
        field < kFirstLinkTarget && !(flags & kTargetReg) ? field : obj::Read16(p->target);
    OBJM_SwitchUserScreen(target, (flags & kPush) ? 1 : 0);
    return 0;
}

uint16_t update(const uint8_t *def, PageInst *p, uint32_t force) {
    ObjInst *inst = &p->hdr;
    uint16_t r = force ? objmsg::kRepaint : 0;
    uint32_t flags = 0;
    r |= obj::StateUpdate(def, inst, p->state, kLength, le16(def + kColour), &p->colour, &flags,
                          true);
    const uint8_t enabled = (flags & kEnabled) ? 1 : 0;
    if (enabled != p->enabled) {
        p->enabled = enabled;
        p->repaint_all = 1;
        r |= objmsg::kRepaint;
    }
    if (flags & kFlash) {
        const uint8_t flash = obj::Flash() ? 1 : 0;
        if (flash != p->phase) {
            p->phase = flash;
            r |= objmsg::kRepaint;
        }
    } else if (p->phase) {
        p->phase = 0;
        r |= objmsg::kRepaint;
    }
    if ((flags_of(def) & (kSelectable | kSideTab | kTouch)) || !p->enabled) return r;
    const uint8_t v = obj::Read8(p->trigger);
    if (v == p->last) return r;
    p->last = v;
    if (v == 0) return r;
    return uint16_t(r | switch_screen(def, p));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *p = reinterpret_cast<PageInst *>(inst);
    if (!p->whole) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, p, arg);
    case objmsg::kTouchDown:
        if (!obj::GotAccess(obj::Level(def))) {
            obj::Beep(125);
            return objmsg::kDenied | objmsg::kRefuse;
        }
        obj::ResetTimeout();
        if (!p->enabled) {
            obj::Beep(50);
            return 0;
        }
        return switch_screen(def, p);
    default:
        return 0;
    }
}

// The face of a plain button inside `rc`: its colour, or its gradient
// (enabled) or the gradient's start colour (disabled).
void plain_face(const uint8_t *def, const PageInst *p, DC *dc, const RECT &rc) {
    obj::Gradient gr{};
    if (obj::HasGradient(def)) {
        if (p->enabled && obj::GradientAt(def, le16(def + kFace), &gr)) {
            GDI_SetGradient(dc, gr.mode);
            GDI_SetFillColor(dc, p->start);
            GDI_SetEndColor(dc, p->end);
            GDI_GradientRect(dc, gr.p1, gr.p2, rc.left, rc.top, rc.right, rc.bottom);
            GDI_SetGradient(dc, 0);
            return;
        }
        GDI_SetFillColor(dc, p->start);
    } else {
        GDI_SetFillColor(dc, le16(def + kFace));
    }
    GDI_Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
}

// The face of the 3D key on its face rectangle.
void key_face(const uint8_t *def, const PageInst *p, DC *dc) {
    const RECT &f = p->face;
    const int rad = side_of(p->area) / 3;
    if (obj::HasGradient(def) && p->enabled) {
        GDI_SetGradient(dc, kGradBanded);
        GDI_SetFillColor(dc, p->start);
        GDI_SetEndColor(dc, p->end);
        GDI_GradRoundRect(dc, 0, int(height(f) * 0.62), f.left, f.top, f.right, f.bottom, rad, rad);
        GDI_SetGradient(dc, 0);
        return;
    }
    GDI_SetFillColor(dc, obj::HasGradient(def) ? p->start : le16(def + kFace));
    GDI_RoundRect(dc, f.left, f.top, f.right, f.bottom, rad, rad);
}

void paint_frame(const uint8_t *def, PageInst *p, DC *dc) {
    const uint32_t flags = flags_of(def);
    const COLOR colour = le16(def + kColour);
    const RECT &a = p->area;
    const int s = side_of(a);
    GDI_SetPen(dc, 0, 1, colour);
    if (!(flags & kRounded)) {
        plain_face(def, p, dc, a);
    } else if (p->enabled) {
        GDI_SetGradient(dc, kGradLinear);
        GDI_SetFillColor(dc, 0x0000);
        GDI_SetEndColor(dc, kShadeWhite);
        GDI_Grad3DRoundRect(dc, s * 15 / 200, s * 15 / 200, a.left, a.top, a.right, a.bottom, s / 3,
                            s / 3);
        GDI_SetGradient(dc, 0);
        GDI_SetPen(dc, 0, 0, kColorNone);
        key_face(def, p, dc);
    } else {
        GDI_SetFillColor(dc, obj::HasGradient(def) ? p->start : le16(def + kFace));
        GDI_RoundRect(dc, a.left, a.top, a.right, a.bottom, s / 3, s / 3);
    }
    GDI_SetPen(dc, 1, 1, colour);
    GDI_SetFillColor(dc, kColorNone);
    const RECT &w = p->rect;
    if (flags & kSideTab) {
        const int h = std::min(height(w), 32) / 2;
        const int tip = p->side == 1 ? w.left : w.right - 1;
        const int base = p->side == 1 ? w.left + 8 : w.right - 9;
        GDI_MoveTo(dc, tip, w.top + h);
        GDI_LineTo(dc, base, w.top);
        GDI_MoveTo(dc, tip, w.top + h);
        GDI_LineTo(dc, base, w.top + 2 * h);
    } else if (flags & kFrame) {
        if (flags & kRounded)
            GDI_RoundRect(dc, a.left, a.top, a.right, a.bottom, s / 3, s / 3);
        else
            GDI_Rectangle(dc, a.left, a.top, a.right, a.bottom);
    }
}

void (*const kIcons[])(DC *, const RECT *) = {
    Draw_startIcon,  Draw_stopIcon,     Draw_homeIcon,        Draw_alarmIcon,
    Draw_trendsIcon, Draw_printIcon,    Draw_MaintenanceIcon, Draw_helpIcon,
    Draw_nextIcon,   Draw_previousIcon, Draw_arrowleftIcon,   Draw_arrowrightIcon,
};

// The page pictogram: a back page, a front page and an arrow from the front
// page's middle up to the back page.
void pictogram(const uint8_t *def, const PageInst *p, DC *dc) {
    const RECT &i = p->icon;
    const int w = width(i) * 7 / 10, h = height(i) * 7 / 10;
    if (!obj::HasGradient(def)) {
        GDI_Rectangle(dc, i.left, i.top, i.left + w, i.top + h);
        GDI_SetFillColor(dc, le16(def + kFace));
        GDI_Rectangle(dc, i.right - w, i.bottom - h, i.right, i.bottom);
    } else {
        GDI_Rectangle(dc, i.right - w, i.bottom - h, i.right, i.bottom);
        GDI_MoveTo(dc, i.right - w, i.top + h);
        GDI_LineTo(dc, i.left, i.top + h);
        GDI_LineTo(dc, i.left, i.top);
        GDI_LineTo(dc, i.left + w, i.top);
        GDI_LineTo(dc, i.left + w, i.bottom - h);
    }
    GDI_SetFillColor(dc, kColorNone);
    const int tip_x = i.left + w / 4, tip_y = i.top + h / 4;
    GDI_MoveTo(dc, i.right - w / 2, i.bottom - h / 2);
    GDI_LineTo(dc, tip_x, tip_y);
    GDI_MoveTo(dc, i.left + w / 4, i.top + h / 2);
    GDI_LineTo(dc, tip_x, tip_y);
    GDI_LineTo(dc, i.left + w / 2, i.top + h / 4);
    GDI_SetPixel(dc, i.left + w / 2, i.top + h / 4, p->colour);
}

void paint_content(const uint8_t *def, PageInst *p, DC *dc) {
    const uint32_t flags = flags_of(def);
    const COLOR face = le16(def + kFace);
    if (!(flags & kRounded) && !obj::HasGradient(def)) {
        COLOR light = face, dark = face;
        if (p->enabled) UTIL_3DShades(0, face, &light, &dark);
        UTIL_ShadeRect(dc, &p->area, light, dark, (flags & kFrame) ? 1 : 0);
    }
    if (p->phase) {
        GDI_SetPen(dc, 0, 1, 0x0000);
        if (flags & kRounded)
            key_face(def, p, dc);
        else
            plain_face(def, p, dc, shrink(p->area, 3));
        return;
    }
    if ((flags & kIcon) && height(p->icon) != 0) {
        GDI_SetPen(dc, 1, 1, p->colour);
        GDI_SetFillColor(dc, kColorNone);
        if (draws_kind(flags)) {
            const int kind = icon_kind(def);
            if (kind >= 1 && kind <= 12) kIcons[kind - 1](dc, &p->icon);
        } else {
            pictogram(def, p, dc);
        }
    }
    if (flags & kHasCaption) {
        if (const void *text = obj::Text(le32(def + kCaption))) {
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_SetTextColor(dc, p->colour);
            GDI_SetFillColor(dc, kColorNone);
            const int align = def[kAlign] == 36 && (flags & kIcon) ? 33 : def[kAlign];
            GDI_RectTextOut(dc, align, &p->caption, text);
        }
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *p = reinterpret_cast<PageInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !p->whole) return;
    if ((mode & 1) || p->repaint_all) {
        p->repaint_all = 0;
        paint_frame(def, p, dc);
    }
    if (mode & 2) paint_content(def, p, dc);
}

} // namespace

const ObjClass PAGE_Class{kLength, create, paint, signal, nullptr, sizeof(PageInst), nullptr};
