// Backup and restore screen (class BkRstr). It takes the instance of the
// system menu it morphs from, so it keeps its own state in one module record
// and puts the instance's state word back when it closes.
//
// Touches become key codes (1 Backup, 2 Restore, 3 Clear Backup, 27 Exit or
// Cancel, 13 Ok), so the panel's keys work it the same way. A confirmation
// that only reports that there is no backup has an Ok button alone, and Ok
// there only returns to the main buttons.
#include "screens/backup_screen.h"

#include "base/le.h"
#include "gdi/gdi.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"

#include <cstring>

namespace {

constexpr COLOR kFace = 0xC638, kBlue = 0x003F, kWhite = 0xFFDF;
constexpr int kBackup = 1, kRestore = 2, kClear = 3;
constexpr int kEnter = 13, kEsc = 27;

// clang-format off
constexpr RECT kFrame{80, 16, 400, 256}, kTitle{83, 19, 397, 40};
constexpr RECT kDialog{110, 70, 370, 190};
constexpr RECT kOk{255, 148, 345, 180}, kCancel{135, 148, 225, 180};
constexpr RECT kBackupButton{130, 70, 230, 100}, kRestoreButton{250, 70, 350, 100},
               kClearButton{140, 115, 340, 145}, kExitButton{150, 160, 330, 190};
// The confirmation's title bar, 4 pixels inside the box, and its text below.
constexpr RECT kDialogTitle{kDialog.left + 4, kDialog.top + 4, kDialog.right - 4, kDialog.top + 25};
constexpr RECT kDialogText{kDialog.left + 4, kDialog.top + 25, kDialog.right - 4, kOk.top};
// clang-format on

struct State {
    uint16_t saved_state = 0;
    uint16_t step = 0;   // 0 main buttons, 1 confirmation
    uint16_t action = 0; // kBackup, kRestore, kClear
    uint8_t full_repaint = 0;
    uint8_t Ok_only_flag = 0;
};
State thisData;
BkRstrHooks hooks;

void beep() {
    if (hooks.beep) hooks.beep(3);
}

// A backup is present when its length word holds the register image's size.
bool backup_present() {
    return le32(crcsize_tbl + 4) == reg::kImageSize;
}

// The confirmation of a restore or clear with no backup only reports it.
bool ok_only(int action) {
    return (action == kRestore || action == kClear) && !backup_present();
}

// ---------------------------------------------------------------- painting

// One line of text in a rectangle (the text output reads the line count in
// the byte before the text).
void text(DC *dc, const RECT &r, int flags, COLOR colour, const char *line) {
    char counted[48] = {1};
    std::strncpy(counted + 1, line, sizeof counted - 2);
    GDI_SetTextColor(dc, colour);
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectByteTextOut(dc, flags, &r, counted + 1);
}
constexpr int kCentred = 4 | 32, kTopCentred = 4 | 16;

// A raised grey panel, outlined in black or not.
void panel(DC *dc, const RECT &r, bool outline) {
    if (outline)
        GDI_SetPen(dc, kPenSolid, 1, 0);
    else
        GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, kFace);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(0, kFace, &light, &dark);
    UTIL_ShadeRect(dc, &r, light, dark, outline ? 1 : 0);
}

void button(DC *dc, const RECT &r, const char *label) {
    panel(dc, r, true);
    text(dc, r, kCentred, 0, label);
}

void title_bar(DC *dc, const RECT &r, const char *title) {
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, kBlue);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    text(dc, r, kCentred, kWhite, title);
}

void paint_frame(DC *dc) {
    panel(dc, kFrame, false);
    title_bar(dc, kTitle, "Backup/Restore Data");
    button(dc, kBackupButton, "Backup");
    button(dc, kRestoreButton, "Restore");
    button(dc, kClearButton, "Clear Backup");
    button(dc, kExitButton, "Exit");
}

void paint_confirmation(DC *dc) {
    State &s = thisData;
    s.Ok_only_flag = ok_only(s.action) ? 1 : 0;
    const bool present = backup_present();
    panel(dc, kDialog, false);
    switch (s.action) {
    case kBackup:
        title_bar(dc, kDialogTitle, "Backup Register Data");
        text(dc, kDialogText, kCentred, 0, present ? "Overwrite Backup?" : "Create New Backup?");
        break;
    case kRestore:
        title_bar(dc, kDialogTitle, "Restore Register Data");
        text(dc, kDialogText, kTopCentred, 0, present ? "Are You Sure?" : "No Backup");
        text(dc, kDialogText, kCentred, 0,
             present ? "This will cause System Reset!" : "to Restore!");
        break;
    case kClear:
        title_bar(dc, kDialogTitle, "Clear Backup");
        text(dc, kDialogText, kCentred, 0, present ? "Are You Sure?" : "No Backup to Clear!");
        break;
    default:
        break;
    }
    button(dc, kOk, "Ok");
    if (!s.Ok_only_flag) button(dc, kCancel, "Cancel");
}

void paint(const uint8_t *, ObjInst *inst, int mode) {
    DC *dc = inst->dc;
    if (!dc) return;
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    if ((mode & 1) || thisData.full_repaint) {
        thisData.full_repaint = 0;
        paint_frame(dc);
    }
    if ((mode & 2) && thisData.step == 1) paint_confirmation(dc);
}

// ---------------------------------------------------------------- input

int16_t create(const uint8_t *, ObjInst *inst) {
    thisData = State{};
    thisData.saved_state = inst->state;
    inst->state |= kInstShown;
    if (inst->dc) GDI_SelectFont(inst->dc, 32, nullptr, nullptr);
    thisData.full_repaint = 1;
    return 0;
}

bool in(const RECT &r, int x, int y) {
    return GDI_PtInRect(&r, x, y) != 0;
}

int touch_key(int x, int y) {
    if (thisData.step == 0) {
        if (in(kBackupButton, x, y)) return kBackup;
        if (in(kRestoreButton, x, y)) return kRestore;
        if (in(kClearButton, x, y)) return kClear;
        if (in(kExitButton, x, y)) return kEsc;
        return 0;
    }
    if (!thisData.Ok_only_flag && in(kCancel, x, y)) return kEsc;
    if (in(kOk, x, y)) return kEnter;
    return 0;
}

uint16_t key(ObjInst *inst, int code) {
    State &s = thisData;
    if (s.step == 0) {
        if (code == kBackup || code == kRestore || code == kClear) {
            beep();
            s.action = uint16_t(code);
            s.Ok_only_flag = ok_only(code) ? 1 : 0;
            s.step = 1;
            return objmsg::kRepaint;
        }
        if (code == kEsc) {
            beep();
            beep();
            inst->state = s.saved_state;
            return objmsg::kRefuse;
        }
        return 0;
    }
    if (code == kEsc) {
        beep();
        if (s.Ok_only_flag) return objmsg::kRepaint;
        s.full_repaint = 1;
        s.step = 0;
        return objmsg::kRepaint;
    }
    if (code != kEnter) return 0;
    beep();
    // The box that only says there is no backup runs nothing: a clear would
    // still delete the runtime's retentive file.
    if (!s.Ok_only_flag) {
        switch (s.action) {
        case kBackup:
            if (hooks.store) hooks.store();
            break;
        case kRestore:
            if (hooks.restore) hooks.restore(0); // a valid backup does not come back
            break;
        case kClear:
            if (hooks.erase) hooks.erase();
            break;
        default:
            break;
        }
    }
    s.full_repaint = 1;
    s.action = 0;
    s.step = 0;
    return objmsg::kRepaint;
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    switch (msg) {
    case objmsg::kTouchDown: {
        const int code = touch_key(int16_t(arg >> 16), int16_t(arg & 0xFFFF));
        return code ? key(inst, code) : 0;
    }
    case objmsg::kKey:
        // The code stands in the low half (a held panel key) or the high one.
        return key(inst, (arg & 0xFFFF) ? int(arg & 0xFFFF) : int(arg >> 16));
    default:
        return 0;
    }
}

} // namespace

const ObjClass BkRstr_Class{kObjRecordLength[25], create, paint, signal, nullptr,
                            sizeof(ObjInst),      nullptr};

void BkRstr_SetHooks(const BkRstrHooks &h) {
    hooks = h;
}

BkRstrView BkRstr_View() {
    return BkRstrView{thisData.step, thisData.action, thisData.Ok_only_flag != 0};
}

void BkRstr_Reset() {
    thisData = State{};
}
