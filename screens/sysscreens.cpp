// Services the screen manager's own screens share: the hooks to the
// controller, the writable copies of their built-in records, and the
// drawing of their text and buttons.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "screens/sysscr_int.h"

#include <cstdio>
#include <cstring>

namespace sysscr {

SysScreenHooks hooks;

namespace {
constexpr COLOR kFace = 0xC638; // the system screens' buttons
}

void Beep(int length) {
    if (hooks.beep) hooks.beep(length);
}
uint16_t Tick() {
    return hooks.tick ? *hooks.tick : 0;
}
uint8_t Flash() {
    return hooks.flash ? *hooks.flash : 0;
}
bool GrayScale() {
    return hooks.gray_scale && *hooks.gray_scale;
}
RCB *LinkReg(uint32_t link, uint32_t size) {
    return link && hooks.link_reg ? hooks.link_reg(link, size) : nullptr;
}
uint16_t Read16(const RCB *rcb) {
    uint8_t b[2] = {};
    if (rcb && hooks.read_reg) hooks.read_reg(b, rcb, 2);
    return le16(b);
}
void SetFlag(uint8_t *flag, uint8_t value) {
    if (flag) *flag = value;
}

int ScreenWidth(const ObjInst *inst) {
    const DC *dc = inst && inst->dc ? inst->dc : GDI_GetDisplayDC();
    return dc ? dc->bounds.right + 1 : 0;
}
int ScreenHeight(const ObjInst *inst) {
    const DC *dc = inst && inst->dc ? inst->dc : GDI_GetDisplayDC();
    return dc ? dc->bounds.bottom + 1 : 0;
}

void WriteRect(const uint8_t *def, const RECT &r) {
    if (uint8_t *w = BuiltIn_Writable(def, kObjHeader)) {
        put_le16(w + 10, uint16_t(r.left));
        put_le16(w + 12, uint16_t(r.top));
        put_le16(w + 14, uint16_t(r.right));
        put_le16(w + 16, uint16_t(r.bottom));
    }
}
void WriteColour(const uint8_t *def, size_t at, uint16_t colour) {
    if (uint8_t *w = BuiltIn_Writable(def, at + 2)) put_le16(w + at, colour);
}

void Text(DC *dc, const RECT &r, int flags, const char *text) {
    // The text output reads the line count in the byte before the text.
    char counted[128] = {1};
    std::snprintf(counted + 1, sizeof counted - 1, "%s", text);
    GDI_RectByteTextOut(dc, flags, &r, counted + 1);
}

void Button(DC *dc, const RECT &r, const char *label, int font) {
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetFillColor(dc, GrayScale() ? 13 : kFace);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(0, kFace, &light, &dark);
    UTIL_ShadeRect(dc, &r, light, dark, 3);
    GDI_SelectFont(dc, font, nullptr, nullptr);
    GDI_SetTextColor(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
    Text(dc, r, 4 | 32, label);
}

bool Inside(const RECT &r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

} // namespace sysscr

void SysScreens_SetHooks(const SysScreenHooks &hooks) {
    sysscr::hooks = hooks;
}

void SysScreens_Reset() {
    sysscr::ResetLogin();
    Pages_ResetCopies();
}
