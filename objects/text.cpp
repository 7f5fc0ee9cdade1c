// TEXT objects: a fixed multi-line text of the string table on an optional
// background (plain or gradient) with an optional frame or 3D edge; its state
// register shows, hides, recolours and flashes it.
#include "gdi/text.h"
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"

namespace {

using namespace rec::text;

constexpr uint32_t kFrame = 0x4, kEdge = 0xC0, kEdgeDirection = 0x80, kHasText = 0x800;

struct TextInst {
    ObjInst hdr;
    RECT drawn; // exclusive
    COLOR colour;
    COLOR start, end;
    RCB *state;
    uint8_t phase;
    uint8_t visible;
};

COLOR fill_of(const uint8_t *def) {
    return le16(def + kFill);
}
bool transparent(const uint8_t *def) {
    return !obj::HasGradient(def) && fill_of(def) == kColorNone;
}

// Fills `rc` with the background: the gradient or the plain fill.
void background(const uint8_t *def, const TextInst *t, DC *dc, const RECT &rc) {
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, fill_of(def), &gr)) {
        GDI_SetGradient(dc, gr.mode);
        GDI_SetFillColor(dc, t->start);
        GDI_SetEndColor(dc, t->end);
        GDI_GradientRect(dc, gr.p1, gr.p2, rc.left, rc.top, rc.right, rc.bottom);
        GDI_SetGradient(dc, 0);
        return;
    }
    GDI_SetFillColor(dc, fill_of(def));
    GDI_Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *t = reinterpret_cast<TextInst *>(inst);
    const uint32_t flags = le32(def + rec::kFlags);
    RECT rc = obj::Rect(def);
    const int in = (flags & kEdge) ? 3 : (flags & kFrame) ? 1 : 0;
    t->drawn = RECT{int16_t(rc.left + in), int16_t(rc.top + in), int16_t(rc.right - in),
                    int16_t(rc.bottom - in)};
    inst->area = RECT{rc.left, rc.top, int16_t(rc.right - 1), int16_t(rc.bottom - 1)};
    t->phase = 0;
    t->colour = le16(def + kColour);
    obj::Gradient gr{};
    if (obj::HasGradient(def) && obj::GradientAt(def, fill_of(def), &gr)) {
        t->start = gr.start;
        t->end = gr.end;
    } else {
        t->start = t->end = fill_of(def);
    }
    inst->state = (flags & 1) ? kInstShown : 0;
    if (transparent(def)) inst->state |= kInstHidden;
    t->visible = flags & 1;
    t->state = nullptr;
    const uint16_t link = le16(def + rec::kStateLink);
    if (link) {
        t->state = obj::LinkReg(link, 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(TextInst));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t force) {
    if (msg != objmsg::kUpdate) return 0;
    auto *t = reinterpret_cast<TextInst *>(inst);
    const bool clear = transparent(def);
    uint32_t flags = 0;
    // A transparent text blanked by its flashing counts as shown to its
    // state register; a text that becomes visible while blanked shows only
    // when the phase comes back.
    const bool blanked = clear && t->phase && t->visible;
    if (blanked) inst->state |= kInstShown;
    uint16_t r = obj::StateUpdate(def, inst, t->state, kLength, le16(def + kColour), &t->colour,
                                  &flags, !clear);
    t->visible = flags & 1;
    if (clear && t->phase && t->visible) {
        r &= uint16_t(~objmsg::kShow);
        inst->state &= uint16_t(~kInstShown);
    }
    const uint8_t flash = obj::Flash() ? 1 : 0;
    if (flags & 2) {
        if (flash != t->phase) {
            t->phase = flash;
            r |= objmsg::kRepaint;
            if (clear && t->visible) {
                if (t->phase) {
                    inst->state &= uint16_t(~kInstShown);
                    r |= objmsg::kHide;
                } else {
                    inst->state |= kInstShown;
                    r |= objmsg::kShow;
                }
            }
        }
    } else if (t->phase) {
        t->phase = 0;
        r |= objmsg::kRepaint;
        if (clear && t->visible) {
            inst->state |= kInstShown;
            r |= objmsg::kShow;
        }
    }
    if (force) r |= objmsg::kRepaint;
    return r;
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *t = reinterpret_cast<TextInst *>(inst);
    DC *dc = inst->dc;
    if (!dc) return;
    const uint32_t flags = le32(def + rec::kFlags);
    const RECT rc = obj::Rect(def);
    if (mode & 1) {
        if (flags & kFrame)
            GDI_SetPen(dc, 1, 1, le16(def + kColour));
        else
            GDI_SetPen(dc, 0, 0, 0);
        background(def, t, dc, rc);
        if (flags & kEdge) {
            COLOR light = 0, dark = 0;
            const COLOR face = transparent(def) ? kShadeLight : t->start;
            UTIL_3DShades((flags & kEdgeDirection) ? 1 : 0, face, &light, &dark);
            UTIL_ShadeRect(dc, &rc, light, dark, 0);
        }
    }
    if (!(mode & 2) || !(flags & kHasText)) return;
    if (t->phase) {
        GDI_SetPen(dc, 0, 0, 0);
        background(def, t, dc, t->drawn);
        return;
    }
    const void *text = obj::Text(le32(def + kText));
    if (!text) return;
    const RECT box{int16_t(rc.left + 3), int16_t(rc.top + 3), int16_t(rc.right - 4),
                   int16_t(rc.bottom - 4)};
    GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
    GDI_SetTextColor(dc, t->colour);
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectTextOut(dc, def[kAlign], &box, text);
}

} // namespace

const ObjClass TEXT_Class{rec::text::kLength, create, paint, signal, nullptr,
                          sizeof(TextInst),   nullptr};
