// FAULT: what the error page shows in place of a screen the application does
// not have: which screen was asked for ("User screen 17 undefined"), and a
// button that goes back (the previous user screen, or no forced screen or
// system screen).
#include "base/le.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "screens/sysscr_int.h"

#include <cstdio>

namespace {

using namespace sysscr;

constexpr COLOR kTitleBar = 0xF820, kTitleBarGrey = 5, kTitleText = 0xFFDF;
constexpr uint8_t kBoxGrey = 11;

struct FaultInst {
    ObjInst hdr; // area: the button
    RECT box, title, message;
    COLOR fill;
};

FaultInst *of(ObjInst *inst) {
    return reinterpret_cast<FaultInst *>(inst);
}

RECT rect(int l, int t, int r, int b) {
    return RECT{int16_t(l), int16_t(t), int16_t(r), int16_t(b)};
}

int page_mode() {
    return hooks.page_mode ? hooks.page_mode() : 0;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    FaultInst *f = of(inst);
    const int cx = ScreenWidth(inst) / 2, cy = ScreenHeight(inst) / 2;
    f->box = rect(cx - 190, cy - 95, cx + 190, cy + 95);
    f->title = rect(cx - 186, cy - 91, cx + 186, cy - 70);
    f->message = rect(cx - 190, cy - 70, cx + 190, cy + 12);
    inst->area = rect(cx - 170, cy + 12, cx + 170, cy + 75);
    // Touches are hit-tested on the record's rectangle: the error page's copy
    // takes the box as placed on this screen.
    WriteRect(def, f->box);
    f->fill = le16(def + 18);
    if (GrayScale()) {
        f->fill = kBoxGrey;
        WriteColour(def, 18, kBoxGrey);
    }
    inst->state = kInstShown;
    return int16_t(sizeof(FaultInst));
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    FaultInst *f = of(inst);
    DC *dc = inst->dc;
    if (!dc || !(mode & 1)) return;
    const COLOR pen = le16(def + 20);
    GDI_SetPen(dc, kPenSolid, 1, pen);
    GDI_SetFillColor(dc, f->fill);
    GDI_Rectangle(dc, f->box.left, f->box.top, f->box.right, f->box.bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(0, f->fill, &light, &dark);
    UTIL_ShadeRect(dc, &f->box, light, dark, 1);

    GDI_SetPen(dc, kPenNone, 0, 0);
    GDI_SetFillColor(dc, GrayScale() ? kTitleBarGrey : kTitleBar);
    GDI_Rectangle(dc, f->title.left, f->title.top, f->title.right, f->title.bottom);
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    GDI_SetTextColor(dc, kTitleText);
    GDI_SetFillColor(dc, kColorNone);
    Text(dc, f->title, 4 | 32, "Display Error");

    const int pm = page_mode();
    const int screen = hooks.shown_screen ? hooks.shown_screen() : 0;
    const char *kind = pm == 1 ? "User screen " : pm == 2 ? "Alarm screen " : "System screen ";
    char text[64];
    if (screen == 0)
        std::snprintf(text, sizeof text, "%svalue invalid", kind);
    else
        std::snprintf(text, sizeof text, "%s%d undefined", kind, screen);
    GDI_SelectFont(dc, def[27], nullptr, nullptr);
    GDI_SetTextColor(dc, pen);
    Text(dc, f->message, def[26], text);

    Button(dc, inst->area, "Attempt to recover", 32);
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    if (msg != objmsg::kTouchDown) return 0;
    if (!Inside(inst->area, int16_t(arg >> 16), int16_t(arg & 0xFFFF))) return 0;
    Beep(3);
    const int pm = page_mode();
    if (pm == 1) return objmsg::kBack;
    if (hooks.write_sys) hooks.write_sys(pm == 2 ? 2 : 3, 0);
    return 0;
}

} // namespace

const ObjClass FAULT_Class{32, create, paint, signal, nullptr, sizeof(FaultInst), nullptr};
