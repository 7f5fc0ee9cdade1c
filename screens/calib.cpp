// Touch calibration screen (class CALTCH, system screen 21).
//
// Four steps: the extreme corner gives the raw maxima, the top-left crosshair
// the offsets, the bottom-right one the scales, then "Yes" stores them or
// "No" puts back what was stored. While it runs the touch driver is in its
// calibration mode, so it reports raw readings and keeps points off the
// screen. A crosshair touch shows a marker that then walks one pixel every
// 100 ms onto the crosshair, moving the offset (or scale) of its axis with
// it, at most MaxDev from the driver's default.
#include "screens/calib.h"

#include "base/le.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/screens.h"

namespace {

// Step numbers and flags of the instance.
constexpr uint16_t kStepTopLeft = 1, kStepBottomRight = 2, kStepConfirm = 3, kStepCorner = 4;
constexpr uint16_t kHeld = 0x001, kAligning = 0x100, kMarker = 0x200;
constexpr uint16_t kMarkerTicks = 60, kStepTicks = 10; // 600 ms, then 100 ms a pixel
constexpr int kGrowth = 40;                            // of the Next button, each way

constexpr COLOR kWhite = 0xFFDF, kBlue = 0x003F, kGreen = 0x07E0, kRed = 0xF820;
constexpr COLOR kButtonShade = 0xC638;

// Definition fields of the class record.
constexpr size_t kFaceField = 18, kOutlineField = 20;

// The instance: the common header, then the screen's rectangles (exclusive
// form) and its step.
struct CalInst {
    ObjInst hdr;
    RECT prompt, top_left, bottom_right, next, yes, no, corner;
    uint16_t wait_start, wait_length;
    uint16_t step, flags;
    int16_t marker_x, marker_y;
    uint8_t updated; // the first update asked for the focus
};

struct State {
    int W = 0, H = 0, S = 0;
    int MaxDev = 0;
    int32_t x_max = 0, y_max = 0;
    int32_t x_offset = 0, y_offset = 0, x_scale = 0, y_scale = 0;
    int32_t save_x_offset = 0, save_y_offset = 0, save_x_scale = 0, save_y_scale = 0;
    int32_t default_x_offset = 0, default_y_offset = 0, default_x_scale = 0, default_y_scale = 0;
    CalInst *open = nullptr; // the instance of the open screen
};
State g;
CalTchHooks hooks;

int ctrl(int command, int arg = 0) {
    return hooks.touch_ctrl ? hooks.touch_ctrl(command, arg) : 0;
}
uint16_t now() {
    return hooks.tick ? *hooks.tick : 0;
}
bool gray() {
    return hooks.gray_scale && *hooks.gray_scale;
}
void beep(int length) {
    if (hooks.beep) hooks.beep(length);
}

RECT rect(int l, int t, int r, int b) {
    return RECT{int16_t(l), int16_t(t), int16_t(r), int16_t(b)};
}

// ---------------------------------------------------------------- painting

// A counted text (its line count first, each line ended by 0) centred in the
// rectangle.
void text(DC *dc, const RECT &r, COLOR colour, const char *counted) {
    GDI_SetTextColor(dc, colour);
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectByteTextOut(dc, 36, &r, counted + 1);
}

void fill(DC *dc, const RECT &r, COLOR colour) {
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, colour);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
}

void button(DC *dc, const uint8_t *def, const RECT &r, bool pressed, const char *label) {
    GDI_SetPen(dc, kPenSolid, 1, le16(def + kOutlineField));
    GDI_SetFillColor(dc, le16(def + kFaceField));
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(pressed ? 1 : 0, kButtonShade, &light, &dark);
    UTIL_ShadeRect(dc, &r, light, dark, 1);
    text(dc, r, 0, label);
}

void line(DC *dc, int x1, int y1, int x2, int y2) {
    GDI_MoveTo(dc, x1, y1);
    GDI_LineTo(dc, x2, y2);
}

// A crosshair box: green, with a black cross through its centre from edge
// to edge.
void crosshair(DC *dc, const RECT &box) {
    fill(dc, box, gray() ? 7 : kGreen);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    const int cx = box.left + g.MaxDev, cy = box.top + g.MaxDev;
    line(dc, cx, box.top, cx, box.bottom);
    line(dc, box.left, cy, box.right, cy);
}

// An arrow of three strokes from its tip at (x, y): the head to (x + d, y - M)
// and (x + d, y + M), the shaft to (x + 2d, y); d is 10 pointing left, -10
// pointing right.
void arrow(DC *dc, int x, int y, int d) {
    GDI_SetPen(dc, kPenSolid, 3, gray() ? 0 : kRed);
    const int M = g.MaxDev;
    line(dc, x, y, x + d, y - M);
    line(dc, x, y, x + d, y + M);
    line(dc, x, y, x + 2 * d, y);
}

const char *corner_prompt() {
    if (g.S > 1024 && g.S <= 1376) return "\x01Please touch extreme Bottom-Right corner point";
    if (g.S == 800 || g.S > 1376) return "\x01Please touch extreme Bottom-Left corner point";
    return "\x02Please touch extreme,\0 Top-Right corner point";
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *c = reinterpret_cast<CalInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !(mode & 2)) return;
    const int W = g.W, H = g.H, M = g.MaxDev;
    fill(dc, rect(0, 0, W, H), kWhite);
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    text(dc, rect(0, 21, W, 42), gray() ? 0 : kBlue, "\x01Touch Calibration Screen");
    switch (c->step) {
    case kStepCorner:
        text(dc, c->prompt, 0, corner_prompt());
        fill(dc, c->corner, gray() ? 7 : kGreen);
        break;
    case kStepTopLeft:
    case kStepBottomRight:
        text(dc, c->prompt, 0,
             "\x05Touch crosshair with stylus,\0calculated touch point will appear\0"
             "and will auto align with crosshair.\0Repeat until touch point and crosshairs\0"
             "no longer need alignment to match.");
        button(dc, def, c->next, (c->flags & kHeld) != 0, "\x01Next");
        if (c->step == kStepTopLeft) {
            arrow(dc, c->top_left.right + 10, M, 10);
            crosshair(dc, c->top_left);
        } else {
            arrow(dc, c->bottom_right.left - 10, H - 1 - M, -10);
            crosshair(dc, c->bottom_right);
        }
        if (c->flags & kMarker) {
            GDI_SetPen(dc, kPenSolid, 1, kWhite);
            line(dc, c->marker_x - 5, c->marker_y, c->marker_x + 6, c->marker_y);
            line(dc, c->marker_x, c->marker_y - 5, c->marker_x, c->marker_y + 6);
        }
        break;
    case kStepConfirm:
        text(dc, c->prompt, 0, "\x01Save new calibration?");
        button(dc, def, c->yes, false, "\x01Yes");
        button(dc, def, c->no, false, "\x01No");
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- input

int16_t create(const uint8_t *, ObjInst *inst) {
    auto *c = reinterpret_cast<CalInst *>(inst);
    DC *dc = inst->dc;
    const int W = dc ? dc->bounds.right + 1 : 0, H = dc ? dc->bounds.bottom + 1 : 0;
    g.W = W;
    g.H = H;
    g.S = W; // the panel's screen width is the display's active width
    const int M = g.MaxDev = W / 20;
    inst->state = kInstShown;
    // The full screen, kept here: the definition is the built-in record.
    inst->area = rect(0, 0, W - 1, H - 1);
    const int q = (H - 1) / 4;
    c->prompt = rect(0, q, W - 1, (H - 1) - q);
    c->top_left = rect(0, 0, 2 * M + 1, 2 * M + 1);
    c->bottom_right = rect(W - 1 - 2 * M, H - 1 - 2 * M, W, H);
    c->next = rect(W / 2 - 55, H - 34, W / 2 + 55, H - 7);
    const int D = g.S <= 800 ? H / 2 : g.S <= 1024 ? 81 : g.S <= 1920 ? 135 : 0;
    const int y0 = q + D;
    c->yes = rect(W / 2 - 130, y0, W / 2 - 10, y0 + 27);
    c->no = rect(W / 2 + 10, y0, W / 2 + 120, y0 + 27);
    c->corner = rect(W - 1 - M / 2, 0, W, M / 2 + 1);
    c->wait_start = c->wait_length = 0;
    c->marker_x = c->marker_y = 0;
    c->updated = 0;
    g.x_max = g.y_max = 0;
    g.x_offset = g.save_x_offset = ctrl(8);
    g.y_offset = g.save_y_offset = ctrl(9);
    g.x_scale = g.save_x_scale = ctrl(10);
    g.y_scale = g.save_y_scale = ctrl(11);
    g.default_x_offset = ctrl(12);
    g.default_y_offset = ctrl(13);
    g.default_x_scale = ctrl(14);
    g.default_y_scale = ctrl(15);
    ctrl(2); // raw readings, nothing dropped off the screen
    c->step = kStepCorner;
    c->flags = 0;
    g.open = c;
    return int16_t(sizeof(CalInst));
}

// The corner touch, in raw readings: by the panel's screen width.
bool corner_accepted(int X, int Y) {
    const int W = g.W, H = g.H, S = g.S;
    if (X >= W && Y >= H && 7 * (W - 1) < X && X < 9 * (W - 1) && Y > 13 * (H - 1)) return true;
    if (S <= 1376) return S < 800 && X > 10 * (W - 1) && Y > 10 * (H - 1);
    return X > 9 * (W - 1) / 10 && Y >= H;
}

void start_alignment(CalInst *c, int X, int Y) {
    c->flags |= kAligning | kMarker;
    c->marker_x = int16_t(X);
    c->marker_y = int16_t(Y);
    c->wait_start = now();
    c->wait_length = kMarkerTicks;
}

bool in(const RECT &r, int x, int y) {
    return GDI_PtInRect(&r, x, y) != 0;
}

uint16_t touch_up(CalInst *c) {
    if (c->flags & kHeld) {
        c->flags &= uint16_t(~kHeld);
        return objmsg::kRepaint;
    }
    if (c->step == kStepCorner && g.x_max != 0) {
        c->step = kStepTopLeft;
        return objmsg::kRepaint;
    }
    return 0;
}

void confirm(bool yes) {
    if (yes) {
        ctrl(0);
        // A record that cannot be stored closes the screen all the same: the
        // driver keeps the new values until the next start.
        if (hooks.save_parm_tbl)
            hooks.save_parm_tbl({g.x_max, g.y_max, g.x_offset, g.y_offset, g.x_scale, g.y_scale});
        beep(3);
    } else {
        // Everything stored goes back to the driver, the raw maxima taken in
        // the corner step included; without a stored calibration the driver
        // is left with none (it asks for this screen again).
        ctrl(17, 1);
        ctrl(18, 1);
        ctrl(4, g.default_x_offset);
        ctrl(5, g.default_y_offset);
        ctrl(6, g.default_x_scale);
        ctrl(7, g.default_y_scale);
        CalValues v{
            1, 1, g.default_x_offset, g.default_y_offset, g.default_x_scale, g.default_y_scale};
        if (hooks.get_parm_tbl) v = hooks.get_parm_tbl();
        g.save_x_offset = v.xoff;
        g.save_y_offset = v.yoff;
        g.save_x_scale = v.xscale;
        g.save_y_scale = v.yscale;
        ctrl(17, v.xmax);
        ctrl(18, v.ymax);
        ctrl(4, v.xoff);
        ctrl(5, v.yoff);
        ctrl(6, v.xscale);
        ctrl(7, v.yscale);
        ctrl(0);
    }
    sr_put(sr::kSystemScreen, 0);
}

uint16_t touch_down(CalInst *c, int X, int Y) {
    if (c->flags & kMarker) return 0;
    const int M = g.MaxDev;
    bool grown = false;
    switch (c->step) {
    case kStepCorner:
        if (corner_accepted(X, Y)) {
            g.x_max = X;
            g.y_max = Y;
            ctrl(17, X);
            ctrl(18, Y);
        }
        return objmsg::kRepaint;
    case kStepTopLeft:
        if (X < c->top_left.right + M && Y < c->top_left.bottom + M) {
            start_alignment(c, X, Y);
            return objmsg::kRepaint;
        }
        // A miss makes Next easier to hit, until it reaches the top of the
        // screen (growing without end wrapped its rectangle).
        if (c->next.top - kGrowth >= 0) {
            c->next.top = int16_t(c->next.top - kGrowth);
            c->next.bottom = int16_t(c->next.bottom + kGrowth);
            grown = true;
        }
        break;
    case kStepBottomRight:
        if (X > c->bottom_right.left - M && Y > c->bottom_right.top - M) {
            start_alignment(c, X, Y);
            return objmsg::kRepaint;
        }
        break;
    case kStepConfirm:
        if (in(c->yes, X, Y) || in(c->no, X, Y)) {
            confirm(in(c->yes, X, Y));
            return 0;
        }
        return touch_up(c);
    default:
        return touch_up(c);
    }
    if (!in(c->next, X, Y)) return touch_up(c);
    c->flags = uint16_t((c->flags | kHeld) & ~kAligning);
    if (c->step == kStepTopLeft) {
        // The press takes back its own growth only.
        if (grown) {
            c->next.top = int16_t(c->next.top + kGrowth);
            c->next.bottom = int16_t(c->next.bottom - kGrowth);
        }
        c->step = kStepBottomRight;
    } else {
        c->step = kStepConfirm;
    }
    return objmsg::kRepaint;
}

// One pixel of the marker towards the target on one axis, and the value of
// that axis with it, within MaxDev of its default.
void align_axis(int16_t *marker, int target, int32_t *value, int32_t def) {
    if (*marker > target) {
        --*marker;
        if (*value < def + g.MaxDev) ++*value;
    } else if (*marker < target) {
        ++*marker;
        if (*value > def - g.MaxDev) --*value;
    }
}

uint16_t update(CalInst *c, uint32_t arg) {
    uint16_t r = 0;
    if (arg) {
        r = objmsg::kRepaint;
    } else if (!c->updated) {
        c->updated = 1;
        r = objmsg::kWantFocus;
    }
    if (!(c->flags & kMarker) || uint16_t(now() - c->wait_start) < c->wait_length) return r;
    c->wait_start = now();
    c->wait_length = kStepTicks;
    r |= objmsg::kRepaint;
    if (!(c->flags & kAligning)) {
        c->flags &= uint16_t(~kMarker);
        return r;
    }
    const int M = g.MaxDev;
    if (c->step == kStepTopLeft) {
        align_axis(&c->marker_x, M, &g.x_offset, g.default_x_offset);
        align_axis(&c->marker_y, M, &g.y_offset, g.default_y_offset);
        if (c->marker_x == M && c->marker_y == M) {
            c->flags &= uint16_t(~kAligning);
            ctrl(4, g.x_offset);
            ctrl(5, g.y_offset);
        }
    } else if (c->step == kStepBottomRight) {
        const int tx = g.W - 1 - M, ty = g.H - 1 - M;
        align_axis(&c->marker_x, tx, &g.x_scale, g.default_x_scale);
        align_axis(&c->marker_y, ty, &g.y_scale, g.default_y_scale);
        if (c->marker_x == tx && c->marker_y == ty) {
            c->flags &= uint16_t(~kAligning);
            ctrl(6, g.x_scale);
            ctrl(7, g.y_scale);
        }
    } else {
        c->flags &= uint16_t(~kAligning);
    }
    return r;
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    auto *c = reinterpret_cast<CalInst *>(inst);
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    switch (msg) {
    case objmsg::kUpdate:
        return update(c, arg);
    case objmsg::kTouchDown:
        return touch_down(c, x, y);
    case objmsg::kTouchUp:
        return touch_up(c);
    default:
        return 0;
    }
}

} // namespace

const ObjClass CALTCH_Class{kObjRecordLength[19], create, paint, signal, nullptr,
                            sizeof(CalInst),      nullptr};

void CALTCH_SetHooks(const CalTchHooks &h) {
    hooks = h;
}

CalTchView CALTCH_View() {
    CalTchView v{g.x_max, g.y_max, g.x_offset, g.y_offset, g.x_scale, g.y_scale, 0, 0, 0, 0, 0, 0};
    if (const CalInst *c = g.open) {
        v.step = c->step;
        v.next_top = c->next.top;
        v.next_bottom = c->next.bottom;
        v.flags = c->flags;
        v.marker_x = c->marker_x;
        v.marker_y = c->marker_y;
    }
    return v;
}

void CALTCH_Reset() {
    g = State{};
}
