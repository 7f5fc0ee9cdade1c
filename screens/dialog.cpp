// DIALOG: the one built-in pop-up, a box in the middle of the screen over
// whatever page is shown. It reports the controller's state at power-up or
// after a change (its OK and RUN lamps follow the controller's), offers to
// start the program after a download, reports why the panel was reset, and
// asks before a warm reset or before the application is erased. Its answer
// goes to the callback it was opened with.
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "screens/objm_int.h"
#include "screens/sysscr_int.h"

#include <cstdio>

namespace {

using namespace sysscr;

constexpr COLOR kTitleBar = 63, kTitleBarGrey = 2, kTitleText = 0xFFDF, kLit = 0x07E0;
constexpr uint8_t kBoxGrey = 11;
constexpr int kFont = 32;
constexpr uint16_t kAutoClose = 100; // ticks of 10 ms with both lamps steady

struct DialogInst {
    PopupInst p; // written by the manager: the mode and the callback
    RECT box, title, lamp_ok, lamp_run, first, second;
    COLOR fill;
    uint8_t ok, run; // the lamps as drawn: 1 lit
    uint8_t armed;
    uint16_t armed_at;
};

DialogInst *of(ObjInst *inst) {
    return reinterpret_cast<DialogInst *>(inst);
}

bool two_buttons(int mode) {
    return mode == 3 || mode == 8 || mode == 9;
}
bool status_mode(int mode) {
    return mode == 1 || mode == 2;
}

RECT rect(int l, int t, int r, int b) {
    return RECT{int16_t(l), int16_t(t), int16_t(r), int16_t(b)};
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    DialogInst *d = of(inst);
    // Only the pop-up's instance carries a mode and a callback; a dialog
    // record on an application's page shows an empty box and answers nothing.
    if (reinterpret_cast<uint8_t *>(inst) != objm::pmem_pool) {
        d->p.param = 0;
        d->p.callback = nullptr;
    }
    const int cx = ScreenWidth(inst) / 2, cy = ScreenHeight(inst) / 2;
    d->box = rect(cx - 140, cy - 64, cx + 140, cy + 64);
    d->title = rect(cx - 136, cy - 60, cx + 136, cy - 39);
    d->lamp_ok = rect(cx - 82, cy - 26, cx - 11, cy - 1);
    d->lamp_run = rect(cx + 11, cy - 26, cx + 82, cy - 1);
    if (two_buttons(d->p.param)) {
        d->first = rect(cx - 91, cy + 12, cx - 11, cy + 39);
        d->second = rect(cx + 11, cy + 12, cx + 91, cy + 39);
    } else {
        d->first = rect(cx - 40, cy + 12, cx + 41, cy + 39);
        d->second = RECT{0, 0, 0, 0};
    }
    d->fill = GrayScale() ? kBoxGrey : COLOR(def[18] | def[19] << 8);
    WriteRect(def, d->box);
    if (GrayScale()) WriteColour(def, 18, kBoxGrey);
    d->ok = d->run = 0xFF; // drawn at the first update
    d->armed = 0;
    inst->area = d->box;
    inst->state = kInstShown;
    return int16_t(sizeof(DialogInst));
}

uint8_t lamp(int led) {
    return led == 1 || (led == 2 && Flash()) ? 1 : 0;
}

void close(DialogInst *d, int answer) {
    if (d->p.callback) d->p.callback(answer);
    Beep(3);
    OBJM_DestroyPopup(d->p.hdr.dc);
}

uint16_t update(DialogInst *d, uint32_t force) {
    uint16_t r = force ? objmsg::kRepaint | objmsg::kWantFocus : 0;
    if (!status_mode(d->p.param)) return r;
    if (d->armed && uint16_t(Tick() - d->armed_at) > kAutoClose) {
        d->armed = 0;
        if (d->p.callback) d->p.callback(0);
        OBJM_DestroyPopup(d->p.hdr.dc);
        return 0;
    }
    const int ok_led = hooks.ok_led ? hooks.ok_led() : 0;
    const int run_led = hooks.run_led ? hooks.run_led() : 0;
    const uint8_t ok = lamp(ok_led), run = lamp(run_led);
    if (ok != d->ok) r |= objmsg::kRepaint;
    if (run != d->run) r |= objmsg::kRepaint;
    d->ok = ok;
    d->run = run;
    const int mode = hooks.popup_mode ? hooks.popup_mode() : 0;
    if (ok_led == 1 && run_led == 1 && mode == 1 && !force) {
        if (!d->armed) {
            d->armed = 1;
            d->armed_at = Tick();
        }
    } else {
        d->armed = 0;
    }
    return r;
}

uint16_t touch_down(DialogInst *d, int x, int y) {
    const int mode = d->p.param;
    if (mode == 0) return 0;
    if (Inside(d->first, x, y)) {
        if (mode == 3) {
            if (d->p.callback) d->p.callback(4);
            SetFlag(hooks.no_slice, 0);
        } else {
            if (d->p.callback) d->p.callback(0);
            if (mode == 9) {
                Beep(3);
                if (hooks.clear_all) hooks.clear_all();
            } else if (mode == 8) {
                Beep(3);
                if (hooks.warm_reset) hooks.warm_reset();
            }
        }
        Beep(3);
        OBJM_DestroyPopup(d->p.hdr.dc);
        return 0;
    }
    if (two_buttons(mode) && Inside(d->second, x, y)) {
        // The load is over either way: a program left stopped gets its time
        // slice back too, or the screen would hold up every later scan.
        if (mode == 3) SetFlag(hooks.no_slice, 0);
        close(d, 0);
    }
    return 0;
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    DialogInst *d = of(inst);
    switch (msg) {
    case objmsg::kUpdate:
        return update(d, arg);
    case objmsg::kTouchDown:
        return touch_down(d, int16_t(arg >> 16), int16_t(arg & 0xFFFF));
    default:
        return 0;
    }
}

void draw_lamp(DC *dc, const DialogInst *d, const RECT &area, uint8_t lit, const char *label) {
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetFillColor(dc, lit == 1 ? (GrayScale() ? 0 : kLit) : d->fill);
    GDI_Ellipse(dc, area.left + 6, area.top + 6, area.right - 6, area.bottom - 6);
    GDI_SelectFont(dc, kFont, nullptr, nullptr);
    GDI_SetTextColor(dc, lit == 1 && GrayScale() ? 0xFFDF : 0);
    GDI_SetFillColor(dc, kColorNone);
    Text(dc, area, 4 | 32, label);
}

const char *title_of(int mode) {
    switch (mode) {
    case 1:
        return "Power-up Controller Status";
    case 2:
        return "Controller Status Change";
    case 3:
        return "Load Program Complete";
    case 9:
        return "Erase User Application";
    default:
        return "System Reset";
    }
}

void body(DC *dc, const DialogInst *d) {
    const int mode = d->p.param;
    const RECT area{d->box.left, int16_t(d->title.bottom + 1), d->box.right,
                    int16_t(d->first.top - 1)};
    GDI_SelectFont(dc, kFont, nullptr, nullptr);
    GDI_SetTextColor(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
    char text[40];
    switch (mode) {
    case 3:
        Text(dc, area, 4 | 32, "Place in Run Mode?");
        return;
    case 5: {
        uint32_t address = 0;
        const int site = hooks.exception_site ? hooks.exception_site(&address) : 0;
        if (site == 1)
            Text(dc, area, 4 | 32, "Load Program Exception");
        else if (site == 2)
            Text(dc, area, 4 | 32, "Load Clone.dat Exception");
        else {
            std::snprintf(text, sizeof text, "Exception: 0x%08X", unsigned(address));
            Text(dc, area, 4 | 32, text);
        }
        return;
    }
    case 6:
        Text(dc, area, 4 | 32, "Logic Watchdog Trip");
        return;
    case 7:
        Text(dc, area, 4 | 32, "System Watchdog Trip");
        return;
    case 8:
        Text(dc, area, 4 | 32, "Are You Sure?");
        return;
    case 9: {
        const int mid = (area.top + area.bottom) / 2;
        Text(dc, RECT{area.left, area.top, area.right, int16_t(mid)}, 4 | 32,
             "CAUTION: Pressing OK will erase");
        Text(dc, RECT{area.left, int16_t(mid), area.right, area.bottom}, 4 | 32,
             "all user application programs.");
        return;
    }
    default:
        return;
    }
}

void paint(const uint8_t *, ObjInst *inst, int mode) {
    DialogInst *d = of(inst);
    DC *dc = inst->dc;
    if (!dc) return;
    if (mode & 1) {
        GDI_SetPen(dc, kPenNone, 0, 0);
        GDI_SetFillColor(dc, d->fill);
        GDI_Rectangle(dc, d->box.left, d->box.top, d->box.right, d->box.bottom);
        COLOR light = 0, dark = 0;
        UTIL_3DShades(0, d->fill, &light, &dark);
        UTIL_ShadeRect(dc, &d->box, light, dark, 0);
        GDI_SetFillColor(dc, GrayScale() ? kTitleBarGrey : kTitleBar);
        GDI_Rectangle(dc, d->title.left, d->title.top, d->title.right, d->title.bottom);
        GDI_SelectFont(dc, kFont, nullptr, nullptr);
        GDI_SetTextColor(dc, kTitleText);
        GDI_SetFillColor(dc, kColorNone);
        Text(dc, d->title, 4 | 32, title_of(d->p.param));
        if (!status_mode(d->p.param)) body(dc, d);
        if (two_buttons(d->p.param)) {
            Button(dc, d->first, "OK", kFont);
            Button(dc, d->second, "Cancel", kFont);
        } else {
            Button(dc, d->first, "OK", kFont);
        }
    }
    if ((mode & 2) && status_mode(d->p.param)) {
        draw_lamp(dc, d, d->lamp_ok, d->ok, "Ok");
        draw_lamp(dc, d, d->lamp_run, d->run, "Run");
    }
}

} // namespace

const ObjClass DIALOG_Class{32, create, paint, signal, nullptr, sizeof(DialogInst), nullptr};
