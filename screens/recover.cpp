// RECOVER: the maintenance screen a panel in trouble is brought to from the
// key panel: it calibrates the touch screen, starts the boot installer,
// resets, asks for an automatic load from the card, erases the application,
// or goes back to the user screens. A touch arms one button; it acts on the
// next update, so that a second touch meanwhile is not taken.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/gradient.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "screens/sysscr_int.h"

namespace {

using namespace sysscr;

constexpr int kButtons = 6;
constexpr const char *kLabels[kButtons] = {"TOUCH CALIBRATION", "SYSTEM UPGRADE",    "RESET",
                                           "AUTO LOAD",         "CLEAR APPLICATION", "EXIT"};
enum Button { kCalibrate = 1, kUpgrade, kReset, kAutoLoad, kClear, kExit };
constexpr int kTouchCalScreen = 21, kInstaller = 29;

struct RecoverInst {
    ObjInst hdr;
    RECT button[kButtons];
    uint16_t armed; // 0 none, else the button
};

RecoverInst *of(ObjInst *inst) {
    return reinterpret_cast<RecoverInst *>(inst);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    RecoverInst *r = of(inst);
    const int W = ScreenWidth(inst), H = ScreenHeight(inst);
    WriteRect(def, RECT{0, 0, int16_t(W), int16_t(H)});
    const int h = H / 10, w = W >= 1024 ? W / 6 : W / 4, cx = W / 2;
    for (int k = 1; k <= kButtons; ++k) {
        const int top = k * h + (k - 1) * (h / 2);
        r->button[k - 1] = RECT{int16_t(cx - w), int16_t(top), int16_t(cx + w), int16_t(top + h)};
    }
    r->armed = 0;
    inst->area = RECT{0, 0, int16_t(W - 1), int16_t(H - 1)};
    inst->state = kInstShown;
    // A recovery forced from the key panel keeps the watchdog: the panel
    // was running.
    const bool forced = hooks.force_recovery && *hooks.force_recovery;
    if (!forced && hooks.stop_watchdog) hooks.stop_watchdog();
    SetFlag(hooks.boot_mode, 1);
    SetFlag(hooks.no_slice, 1);
    return int16_t(sizeof(RecoverInst));
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    RecoverInst *r = of(inst);
    DC *dc = inst->dc;
    if (!dc) return;
    const int W = ScreenWidth(inst), H = ScreenHeight(inst);
    if (mode & 1) {
        GDI_SetPen(dc, kPenNone, 0, 0);
        GDI_SetGradient(dc, kGradLinear);
        GDI_SetFillColor(dc, 0x002F);
        GDI_SetEndColor(dc, 0xFFDF);
        GDI_GradientRect(dc, 0, 0, 0, 0, W, H);
        GDI_SetGradient(dc, kGradFlat);
        const int top = W == 800 ? -4 : 1;
        GDI_SelectFont(dc, 32, nullptr, nullptr);
        GDI_SetTextColor(dc, 0x003F);
        GDI_SetFillColor(dc, kColorNone);
        Text(dc, RECT{0, int16_t(top), int16_t(W), int16_t(top + 21)}, 4 | 32,
             "SYSTEM RECOVERY SCREEN");
    }
    if (!(mode & 2) || r->armed) return;
    const COLOR face = le16(def + 18);
    for (int k = 0; k < kButtons; ++k) {
        const RECT &b = r->button[k];
        GDI_SetPen(dc, kPenSolid, 1, 0);
        GDI_SetFillColor(dc, face);
        GDI_Rectangle(dc, b.left, b.top, b.right, b.bottom);
        COLOR light = 0, dark = 0;
        UTIL_3DShades(0, face, &light, &dark);
        UTIL_ShadeRect(dc, &b, light, dark, 1);
        GDI_SelectFont(dc, 32, nullptr, nullptr);
        GDI_SetTextColor(dc, 0);
        GDI_SetFillColor(dc, kColorNone);
        // Labels stay by position on every width: each names what its
        // button does.
        Text(dc, b, 4 | 32, kLabels[k]);
    }
}

uint16_t act(RecoverInst *r, uint16_t button) {
    DC *dc = r->hdr.dc;
    switch (button) {
    case kCalibrate:
        if (hooks.write_sys) hooks.write_sys(3, kTouchCalScreen);
        return objmsg::kRepaint;
    case kUpgrade:
        // Only a class that answers can be left again.
        if (!oDefTbl[kInstaller] || !oDefTbl[kInstaller]->Signal) return objmsg::kRepaint;
        OBJM_MorfObj(kInstaller, nullptr);
        return objmsg::kMorph | objmsg::kRepaint;
    case kReset:
        OBJM_CreatePopup(dc, dialogObj, hooks.popup_state, 8);
        return objmsg::kRepaint;
    case kAutoLoad:
        SetFlag(hooks.manual_load, 1);
        return objmsg::kRepaint;
    case kClear:
        OBJM_CreatePopup(dc, dialogObj, hooks.popup_state, 9);
        return objmsg::kRepaint;
    case kExit:
        return objmsg::kRefuse;
    default:
        return 0;
    }
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    RecoverInst *r = of(inst);
    switch (msg) {
    case objmsg::kUpdate: {
        if (!r->armed) return arg ? objmsg::kRepaint : 0;
        const uint16_t button = r->armed;
        r->armed = 0;
        return act(r, button);
    }
    case objmsg::kTouchDown: {
        if (r->armed) return 0;
        const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
        for (int k = 0; k < kButtons; ++k) {
            if (!Inside(r->button[k], x, y)) continue;
            r->armed = uint16_t(k + 1);
            Beep(3);
            if (r->armed == kAutoLoad || r->armed == kExit) {
                SetFlag(hooks.boot_mode, 0);
                SetFlag(hooks.recover_mode, 0);
            }
            return objmsg::kRepaint;
        }
        return 0;
    }
    default:
        return 0;
    }
}

} // namespace

void REC_ScreenInit() {
    host::trace("REC_ScreenInit");
    SetFlag(hooks.recover_screen, 1);
    if (hooks.timer_isr) hooks.timer_isr();
    SetFlag(hooks.recover_screen, 0);
}

const ObjClass RECOVER_Class{32, create, paint, signal, nullptr, sizeof(RecoverInst), nullptr};
