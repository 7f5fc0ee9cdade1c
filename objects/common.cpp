// Services the object classes share: the hooks to the controller and the
// screen manager, bounded texts, gradient extensions, and the state-register
// update (visibility, alternative colours, flashing and enable bits) that every
// class runs in its periodic update.
#include "base/le.h"
#include "gdi/field.h"
#include "gdi/text.h"
#include "objects/obj_int.h"
#include "plc/appblocks.h"

#include <cstring>

namespace {
ObjectHooks g_hooks;
constexpr uint32_t kStateBits = 0xF0; // colour selection bits of the state mask
} // namespace

void Objects_SetHooks(const ObjectHooks &hooks) {
    g_hooks = hooks;
}

namespace obj {

RCB *LinkReg(uint32_t link, uint32_t size) {
    return link && g_hooks.link_reg ? g_hooks.link_reg(link, size) : nullptr;
}

void ReadReg(const RCB *rcb, void *dst, uint32_t size) {
    std::memset(dst, 0, size);
    if (rcb && g_hooks.read_reg) g_hooks.read_reg(dst, rcb, size);
}

uint8_t Read8(const RCB *rcb) {
    uint8_t v;
    ReadReg(rcb, &v, 1);
    return v;
}

uint16_t Read16(const RCB *rcb) {
    uint8_t b[2];
    ReadReg(rcb, b, 2);
    return le16(b);
}

void WriteReg(const RCB *rcb, const void *src, uint32_t len) {
    if (rcb && g_hooks.write_reg) g_hooks.write_reg(rcb, src, len);
}

uint8_t Flash() {
    return g_hooks.flash ? *g_hooks.flash : 0;
}

void Beep(int length) {
    if (g_hooks.beep) g_hooks.beep(length);
}

int GotAccess(int level) {
    return g_hooks.got_access ? g_hooks.got_access(level) : 1;
}

void ResetTimeout() {
    if (g_hooks.reset_timeout) g_hooks.reset_timeout();
}

bool Holds(const uint8_t *def, size_t offset, size_t size) {
    return g_hooks.holds && g_hooks.holds(def, offset, size);
}

int PageMode() {
    return g_hooks.page_mode ? g_hooks.page_mode() : 1;
}

bool GrayScale() {
    return g_hooks.gray_scale && *g_hooks.gray_scale;
}

bool DmemCorrupt() {
    return g_hooks.dmem_corrupt && g_hooks.dmem_corrupt();
}

int ScreenWidth(const ObjInst *inst) {
    const DC *dc = inst && inst->dc ? inst->dc : GDI_GetDisplayDC();
    return dc ? dc->bounds.right + 1 : 0;
}

int ScreenHeight(const ObjInst *inst) {
    const DC *dc = inst && inst->dc ? inst->dc : GDI_GetDisplayDC();
    return dc ? dc->bounds.bottom + 1 : 0;
}

uint16_t Tick() {
    return g_hooks.tick ? *g_hooks.tick : 0;
}

bool NoData(const RCB *rcb) {
    return rcb && g_hooks.no_data && g_hooks.no_data(rcb);
}

const void *Text(uint32_t offset) {
    return OBJM_Text(offset);
}

bool GradientAt(const uint8_t *def, uint32_t offset, Gradient *out) {
    const uint8_t *x = g_hooks.gradient_ext ? g_hooks.gradient_ext(def, offset) : nullptr;
    if (!x) return false;
    out->mode = int16_t(le16(x));
    out->p1 = le16(x + 4);
    out->p2 = le16(x + 6);
    out->end = le16(x + 8);
    out->start = le16(x + 10);
    return true;
}

RECT Rect(const uint8_t *def) {
    return RECT{int16_t(le16(def + 10)), int16_t(le16(def + 12)), int16_t(le16(def + 14) + 1),
                int16_t(le16(def + 16) + 1)};
}

uint16_t StateUpdate(const uint8_t *def, ObjInst *inst, const RCB *rcb, size_t class_length,
                     COLOR normal, COLOR *colour, uint32_t *flags, bool opaque) {
    uint16_t r = 0;
    uint32_t f = le32(def + 2);
    if (rcb) {
        const uint16_t mask = le16(def + 6);
        const uint16_t v = Read16(rcb) & mask;
        if (mask & kStateBits) {
            // The first of bits 4 to 7 that is set picks alternative colour 1
            // to 4; the colours are read only when the record holds them.
            COLOR c = normal;
            for (int n = 0; n < 4; ++n) {
                if (!(v & (0x10 << n))) continue;
                if (Holds(def, class_length + 2 * n, 2)) c = le16(def + class_length + 2 * n);
                break;
            }
            if (colour && c != *colour) {
                *colour = c;
                r |= objmsg::kRepaint;
            }
        }
        const uint32_t m = mask & ~kStateBits;
        f = (f & ~m) | (v & m);
    }
    const bool visible = (f & 1) != 0;
    // An opaque object that its register shows is no longer hidden, also when
    // it was created shown but marked hidden until the register was read
    // (the manager passes no touch to a hidden object).
    if (visible && opaque) inst->state &= uint16_t(~kInstHidden);
    if (visible && !(inst->state & kInstShown)) {
        inst->state |= kInstShown;
        r |= objmsg::kShow | objmsg::kRepaint;
    } else if (!visible && (inst->state & kInstShown)) {
        inst->state &= uint16_t(~kInstShown);
        inst->state |= kInstHidden;
        r |= objmsg::kHide | objmsg::kRepaint;
    }
    if (flags) *flags = f;
    return r;
}

} // namespace obj
