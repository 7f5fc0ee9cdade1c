// NOTE objects: a free-hand drawing pad (a note or signature pad). The
// operator draws strokes in a pen colour from a palette of four; "Save"
// keeps a copy of the drawing and "Delete" discards it, and a status
// register tells the application whether a saved drawing exists. The saved
// drawing is one for the whole firmware: only one pad holds one at a time.
#include "objects/note.h"

#include "base/le.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/periphery.h"
#include "objects/records.h"
#include "platform/keys.h"
#include "platform/video.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace rec::note;

constexpr uint32_t kFrameFlag = 0x4, kNoStrip = 0x10;
constexpr COLOR kFace = 0xC638, kFaceEnd = 0x7BEF;
constexpr int kStripHeight = 25;
// The palette, in the order its buttons are drawn.
constexpr COLOR kBlackPen = 0x0000, kRedPen = 0xF820, kBluePen = 0x003F, kGreenPen = 0x07E0;

// The saved drawing: sized for the largest screen the frame buffer opens,
// so that a pad of any size is saved whole.
constexpr size_t kStoreBytes = size_t(4096) * 4096 * 2;
struct Saved {
    DIB dib;
    bool present;
};
Saved g_saved;
uint8_t dibData[kStoreBytes];

struct Point {
    int16_t x, y;
};

struct NoteInst {
    ObjInst hdr;
    RECT pad, strip, save, del; // pad and strip inclusive; buttons exclusive
    RECT palette[4];            // exclusive, in kPalette's order
    COLOR pen;
    Point last, next;
    RCB *status, *state;
    uint8_t save_pressed, delete_pressed, repaint_save, repaint_delete, repaint_saved;
    uint8_t palette_changed, segment, has_strip, drawing, erase, end_pending, kept;
    uint8_t first_forced, whole;
};

constexpr COLOR kPalette[4] = {kBlackPen, kRedPen, kBluePen, kGreenPen};

bool inside(const RECT &r, int x, int y) { // exclusive
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}
bool inside_incl(const RECT &r, int x, int y) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}
int width_of(const RECT &incl) {
    return incl.right - incl.left + 1;
}
int height_of(const RECT &incl) {
    return incl.bottom - incl.top + 1;
}

void write_status(NoteInst *n, uint8_t v) {
    obj::WriteReg(n->status, &v, 1);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *n = reinterpret_cast<NoteInst *>(inst);
    n->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!n->whole) return int16_t(sizeof(NoteInst));
    const uint32_t flags = le32(def + rec::kFlags);
    const RECT r{int16_t(le16(def + rec::kRect)), int16_t(le16(def + rec::kRect + 2)),
                 int16_t(le16(def + rec::kRect + 4)), int16_t(le16(def + rec::kRect + 6))};
    inst->area = r;
    inst->state = (flags & 1) ? kInstShown : 0;
    n->pad =
        RECT{int16_t(r.left + 1), int16_t(r.top + 1), int16_t(r.right - 1), int16_t(r.bottom - 1)};
    n->has_strip = (flags & kNoStrip) ? 0 : 1;
    if (n->has_strip) {
        const int R = r.right, B = r.bottom;
        const int top = r.bottom - r.top > 31 ? B - kStripHeight : r.top + 1;
        n->strip = RECT{n->pad.left, int16_t(top), n->pad.right, n->pad.bottom};
        n->pad.bottom = int16_t(top - 1);
        const int16_t bt = int16_t(top + 2), bb = int16_t(B - 5);
        auto button = [&](int from, int to) {
            return RECT{int16_t(R - from), bt, int16_t(R - to), bb};
        };
        n->save = button(55, 5);
        n->del = button(110, 60);
        n->palette[0] = button(140, 115); // black
        n->palette[1] = button(168, 143); // red
        n->palette[3] = button(196, 171); // green
        n->palette[2] = button(224, 199); // blue
    }
    n->pen = kBlackPen;
    n->save_pressed = n->delete_pressed = n->repaint_save = n->repaint_delete = 0;
    n->repaint_saved = n->palette_changed = n->segment = n->drawing = n->erase = 0;
    n->end_pending = n->kept = 0;
    n->first_forced = 1;
    n->status = obj::LinkReg(le16(def + kStatus), def[kStatusSize]);
    n->state =
        le16(def + rec::kStateLink) ? obj::LinkReg(le16(def + rec::kStateLink), 16) : nullptr;
    return int16_t(sizeof(NoteInst));
}

void end_drawing(NoteInst *n) {
    n->drawing = 0;
    n->end_pending = 1;
    obj::TouchCtrl(0);
}

uint16_t strip_touch(NoteInst *n, int x, int y) {
    if (n->drawing) end_drawing(n);
    if (inside(n->save, x, y)) {
        n->save_pressed = n->repaint_save = 1;
        const RECT &p = n->pad;
        DIB d{};
        if (n->hdr.dc && VDR_CreateDIB(n->hdr.dc, p.left, p.top, width_of(p), height_of(p), &d)) {
            const size_t bytes = std::min<size_t>(d.data_length, sizeof dibData);
            std::memcpy(dibData, d.pixels, bytes);
            d.pixels = dibData;
            d.record_bytes = uint32_t(bytes); // rows past the store are never read back
            g_saved.dib = d;
            g_saved.present = true;
        }
        write_status(n, 1);
        obj::Beep(3);
        return objmsg::kRepaint;
    }
    if (inside(n->del, x, y)) {
        n->delete_pressed = n->repaint_delete = n->erase = 1;
        g_saved.present = false;
        n->kept = 0;
        write_status(n, 0);
        obj::Beep(3);
        return objmsg::kRepaint;
    }
    if (!obj::GrayScale())
        for (int i = 0; i < 4; ++i)
            if (inside(n->palette[i], x, y)) {
                n->pen = kPalette[i];
                n->palette_changed = 1;
                obj::Beep(3);
                return objmsg::kRepaint;
            }
    return 0;
}

uint16_t touch_down(const uint8_t *def, NoteInst *n, uint32_t arg) {
    if (!obj::GotAccess(obj::Level(def))) {
        obj::Beep(125);
        return objmsg::kDenied | objmsg::kRefuse;
    }
    obj::ResetTimeout();
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    if (n->has_strip && inside_incl(n->strip, x, y)) return strip_touch(n, x, y);
    if (!n->drawing) {
        n->drawing = 1;
        obj::TouchCtrl(1);
        n->last = Point{int16_t(x), int16_t(y)};
        return objmsg::kWantFocus;
    }
    if (inside_incl(n->pad, x, y)) {
        n->next = Point{int16_t(x), int16_t(y)};
        n->segment = 1;
        return objmsg::kRepaint;
    }
    end_drawing(n);
    return objmsg::kRefuse;
}

uint16_t touch_up(const uint8_t *def, NoteInst *n) {
    if (!obj::GotAccess(obj::Level(def))) return objmsg::kRefuse;
    obj::ResetTimeout();
    if (n->save_pressed) {
        n->save_pressed = 0;
        n->repaint_save = 1;
        return objmsg::kRepaint;
    }
    if (n->delete_pressed) {
        n->delete_pressed = 0;
        n->repaint_delete = 1;
        return objmsg::kRepaint;
    }
    if (n->drawing) {
        end_drawing(n);
        return objmsg::kRefuse;
    }
    return 0;
}

uint16_t update(const uint8_t *def, NoteInst *n, uint32_t force) {
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, &n->hdr, n->state, kLength, 0, nullptr, &flags, true);
    if (force && n->first_forced) {
        n->first_forced = 0;
        if (g_saved.present && n->has_strip) {
            n->repaint_saved = 1;
            r |= objmsg::kRepaint;
        }
    }
    if (n->end_pending) {
        n->end_pending = 0;
        n->kept = 1;
        // The drawing survives repaints of overlapping objects from here.
        const RECT &p = n->pad;
        if (pMemDC && pMemDC->buffer && n->hdr.dc)
            GDI_BitBlt(pMemDC, p.left, p.top, width_of(p), height_of(p), n->hdr.dc, p.left, p.top);
    }
    return r;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *n = reinterpret_cast<NoteInst *>(inst);
    if (!n->whole) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, n, arg);
    case objmsg::kTouchDown:
        return touch_down(def, n, arg);
    case objmsg::kTouchUp:
        return touch_up(def, n);
    default:
        return 0;
    }
}

void button(const uint8_t *def, DC *dc, const RECT &r, int pressed, const char *label) {
    GDI_SetPen(dc, kPenSolid, 1, 0x0000);
    GDI_SetTextColor(dc, 0x0000);
    GDI_SetFillColor(dc, kFace);
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    if (obj::HasGradient(def)) {
        GDI_SetGradient(dc, 1);
        GDI_SetEndColor(dc, kFaceEnd);
        UTIL_GradButton(dc, 0, 0, &r, pressed);
        GDI_SetGradient(dc, 0);
    } else {
        UTIL_Button(dc, &r, pressed);
    }
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectByteTextOut(dc, 36, &r, label + 1); // the line count stands before the text
}

void PaintPallete(DC *dc, NoteInst *n) {
    if (obj::GrayScale()) return;
    for (int i = 0; i < 4; ++i) {
        GDI_SetFillColor(dc, kPalette[i]);
        UTIL_Button(dc, &n->palette[i], n->pen == kPalette[i] ? 1 : 0);
    }
}

// Runs `draw` clipped to the object's rectangle, the clip put back after.
template <class F> void clipped(DC *dc, const RECT &o, F draw) {
    RECT saved{};
    const RECT clip{o.left, o.top, int16_t(o.right + 1), int16_t(o.bottom + 1)};
    GDI_SetClipRect(dc, &clip, &saved);
    draw();
    GDI_SetClipRect(dc, &saved, nullptr);
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *n = reinterpret_cast<NoteInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !n->whole) return;
    const RECT &o = inst->area;
    const RECT &p = n->pad;
    const COLOR frame = le16(def + kFrame), background = le16(def + kBackground);
    const bool framed = le32(def + rec::kFlags) & kFrameFlag;
    static const char kSave[] = "\1Save", kDelete[] = "\1Delete";
    if (mode & 1) {
        GDI_SetGradient(dc, 0);
        GDI_SetPen(dc, framed ? kPenSolid : kPenNone, 1, frame);
        GDI_SetFillColor(dc, background);
        GDI_Rectangle(dc, o.left, o.top, o.right + 1, o.bottom + 1);
        if (n->kept && pMemDC && pMemDC->buffer)
            GDI_BitBlt(dc, p.left, p.top, width_of(p), height_of(p), pMemDC, p.left, p.top);
        if (n->has_strip) {
            button(def, dc, n->save, 0, kSave);
            button(def, dc, n->del, 0, kDelete);
            PaintPallete(dc, n);
        }
    }
    if (!(mode & 2)) return;
    if (n->palette_changed) {
        n->palette_changed = 0;
        GDI_SetPen(dc, kPenSolid, 1, frame);
        clipped(dc, o, [&] { PaintPallete(dc, n); });
    }
    if (n->repaint_save) {
        n->repaint_save = 0;
        clipped(dc, o, [&] { button(def, dc, n->save, n->save_pressed, kSave); });
    }
    if (n->repaint_delete) {
        n->repaint_delete = 0;
        clipped(dc, o, [&] { button(def, dc, n->del, n->delete_pressed, kDelete); });
    }
    if (n->erase) {
        n->erase = 0;
        GDI_SetPen(dc, kPenNone, 1, frame);
        GDI_SetFillColor(dc, background);
        GDI_Rectangle(dc, p.left, p.top, p.right + 1, p.bottom + 1);
    }
    if (n->repaint_saved) {
        n->repaint_saved = 0;
        if (g_saved.present) {
            VDR_WriteDIB(dc, p.left, p.top, width_of(p), height_of(p), 0, 0, &g_saved.dib);
            n->end_pending = 1;
        }
    }
    if (n->segment) {
        n->segment = 0;
        GDI_SetPen(dc, kPenSolid, 1, n->pen);
        GDI_MoveTo(dc, n->last.x, n->last.y);
        GDI_LineTo(dc, n->next.x, n->next.y);
        GDI_SetPixel(dc, n->next.x, n->next.y, n->pen);
        n->last = n->next;
    }
}

void destroy(const uint8_t *, ObjInst *inst) {
    auto *n = reinterpret_cast<NoteInst *>(inst);
    if (!n->whole || !n->drawing) return;
    n->drawing = 0;
    obj::TouchCtrl(0);
    KEY_FlushTouch();
}

} // namespace

void Note_Reset() {
    g_saved = Saved{};
}

const ObjClass NOTE_Class{kLength, create, paint, signal, destroy, sizeof(NoteInst), nullptr};
