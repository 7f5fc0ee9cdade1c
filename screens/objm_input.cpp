// Object manager, input side: routing of touches and keys to the objects of
// the open page, the "ACCESS DENIED" message box, the one pop-up over the
// page, morphs (an object taking another class for a while) and the history
// of user screens behind the "back" result.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/gdi.h"
#include "gdi/gradient.h"
#include "gdi/icons.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "platform/keys.h"
#include "platform/video.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/objm_int.h"

#include <cstring>

using host::trace;

namespace {
using namespace objm;

bool shown(const ObjCB &o) {
    return o.inst && (o.inst->state & kInstShown);
}

// Hit tests take the definition rectangle inclusive of its right and bottom.
bool hit(const uint8_t *def, int x, int y) {
    RECT r = def_rect(def);
    return r.left <= x && x <= r.right && r.top <= y && y <= r.bottom;
}
bool in_ok(int x, int y) {
    const RECT &r = g.okRect;
    return r.left <= x && x <= r.right && r.top <= y && y <= r.bottom;
}

// The message box takes one event; true when it is dismissed.
bool mesg_input(int msg, int x, int y) {
    if (msg == objmsg::kTouchDown) {
        g.touchDown = in_ok(x, y);
        return false;
    }
    if (msg == objmsg::kKey || !g.touchDown || !in_ok(x, y)) return false;
    g.touchDown = 0;
    beep(50);
    return true;
}

void show_denied() {
    DisplayMesg(g.dc, "ACCESS DENIED");
    g.fDispMesg = 1;
}

void back() {
    if (user_screen()) OBJM_PopUserScreen();
}

DC *display() {
    return g.dc ? g.dc : pDC;
}

// One line of text centred in a rectangle (the text output reads the line
// count in the byte before the text).
void centred(DC *dc, const RECT &r, const char *text) {
    char line[64] = {1};
    std::strncpy(line + 1, text, sizeof line - 2);
    GDI_RectByteTextOut(dc, 36, &r, line + 1);
}

} // namespace

namespace objm {

void DisplayMesg(DC *dc, const char *text) {
    g.touchDown = 0;
    if (!dc) return;
    clip_all(dc);
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    const int W = dc->bounds.right - dc->bounds.left, H = dc->bounds.bottom - dc->bounds.top;
    const int left = W / 2 - W / 6, right = W / 2 + W / 6;
    const int top = H / 2 - H / 6, bottom = H / 2 + H / 6;
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetFillColor(dc, 0xC638);
    GDI_RoundRect(dc, left, top, right, bottom, 15, 15);
    const int q = (bottom - top) / 4;
    g.okRect =
        RECT{int16_t(left + q), int16_t(bottom - 30), int16_t(right - q), int16_t(bottom - 3)};
    GDI_SetPen(dc, kPenNone, 0, 0);
    GDI_SetFillColor(dc, 0xF820);
    GDI_Rectangle(dc, left + 4, top + 4, right - 4, top + 25);
    const int k = ((right - 4) - (left + 4)) * 3 / 8;
    RECT icon{int16_t(left + 4 + k), int16_t(top + 8), int16_t(right - 4 - k), int16_t(top + 25)};
    GDI_Rectangle(dc, icon.left, icon.top, icon.right, icon.bottom);
    GDI_SetTextColor(dc, 0xFFDF);
    GDI_SetFillColor(dc, kColorNone);
    Draw_alarmIcon(dc, &icon);
    GDI_SetTextColor(dc, 0);
    GDI_SetTextAlign(dc, 36);
    RECT body{int16_t(left + 4), int16_t(top + 25), int16_t(right - 4), g.okRect.top};
    centred(dc, body, text);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetGradient(dc, 1);
    GDI_SetFillColor(dc, 0xC638);
    GDI_SetEndColor(dc, 0x7BEF);
    UTIL_GradButton(dc, 0, 0, &g.okRect, 0);
    GDI_SetGradient(dc, 0);
    GDI_SetFillColor(dc, kColorNone);
    centred(dc, g.okRect, "OK");
    g.flag_draw = 1;
}

void OpenMorf(int i) {
    // The morph stack holds 16: a deeper morph opens nothing.
    if (g.morfIndex >= kMorphDepth || g.requestObj >= kObjTypes || !oDefTbl[g.requestObj]) return;
    ObjCB &o = g.doTbl[i];
    g.flag_draw = 1;
    VideoStop();
    g.fSelectMorf = 1;
    g.pushOCB[g.morfIndex++] = o;
    if (g.requestData) o.inst = g.requestData;
    const ObjClass *row = oDefTbl[g.requestObj];
    o.Paint = row->Paint;
    o.Signal = row->Signal;
    g.requestData = nullptr;
    g.requestObj = kObjTypes;
    if (row->Create) row->Create(o.def, o.inst);
    clip_all(o.inst->dc);
    frame_paint(o, 1);
    o.dirty = 1;
}

void CloseMorf(int i) {
    if (g.morfIndex == 0) return;
    if (--g.morfIndex == 0) {
        g.fSelectFocus = 0;
        g.fSelectMorf = 0;
    }
    g.flag_draw = 1;
    ObjCB &o = g.doTbl[i];
    o = g.pushOCB[g.morfIndex];
    uint16_t r = o.Signal ? o.Signal(o.def, o.inst, objmsg::kClose, 0) : 0;
    if (r & objmsg::kWantFocus) g.fSelectFocus = 1;
    if (g.morfIndex > 0) {
        clip_all(o.inst->dc);
        frame_paint(o, 1);
        o.dirty = 1;
    } else {
        PaintPage(display());
    }
}

void close_key_panel() {
    g.fSelectKey = 0;
    // The panel learns that it is down, whatever state it was left in.
    ObjCB &k = g.KeySld;
    if (k.Signal && k.inst) k.Signal(k.def, k.inst, objmsg::kClose, 0);
}

} // namespace objm

int OBJM_Keypress(int event, int a, int b) {
    if (event != kKeyMessage && event != kTouchUp && event != kTouchDown) return 0;
    const bool touch = event != kKeyMessage;
    // The touch ring's press and release trade codes on the way to objects.
    const int msg = !touch                ? objmsg::kKey
                    : event == kTouchDown ? objmsg::kTouchDown
                                          : objmsg::kTouchUp;
    const bool key_press_path = !touch && PressKeyON;
    const uint32_t arg = touch            ? (uint32_t(a & 0xFFFF) << 16) | uint32_t(b & 0xFFFF)
                         : key_press_path ? uint32_t(a & 0xFFFF)
                                          : uint32_t(a & 0xFFFF) << 16;
    g.flag_draw = 1;

    if (g.fDispMesg) {
        if (mesg_input(msg, a, b)) {
            g.fSelectFocus = 0;
            g.fDispMesg = 0;
            PaintPage(display());
        }
        return 0;
    }

    if (g.fSelectKey && VDR_CheckActiveFrame(display())) {
        ObjCB &k = g.KeySld;
        uint16_t r = k.Signal ? k.Signal(k.def, k.inst, msg, arg) : 0;
        if (r & objmsg::kRefuse) {
            close_key_panel();
            if (sr_get(sr::kSystemScreen) != 0 && g.pCurPgHdr)
                OBJM_OpenPage(display(), g.pCurPgHdr);
            else
                PaintPage(display());
        } else if (r & objmsg::kRepaint) {
            return 0;
        }
    }

    if (g.selectObject >= 0 && g.selectObject < g.num_dobjs && g.fSelectFocus) {
        const int i = g.selectObject;
        ObjCB &o = g.doTbl[i];
        uint16_t r = o.Signal ? o.Signal(o.def, o.inst, msg, arg) : 0;
        if (r & objmsg::kRepaint) o.dirty = 1;
        if (r & objmsg::kRefuse) {
            if (g.fSelectMorf)
                CloseMorf(i);
            else
                g.fSelectFocus = 0;
        }
        if (r & objmsg::kMorph) {
            OpenMorf(i);
            return 1;
        }
        if (r & objmsg::kBack) {
            back();
            return 1;
        }
        return 0;
    }

    for (int i = g.num_dobjs - 1; i >= 0; --i) {
        ObjCB &o = g.doTbl[i];
        if (touch && !hit(o.def, a, b)) continue;
        if (o.inst->state & kInstHidden) continue;
        const uint32_t flags = le32(o.def + 2);
        const bool selectable = flags & objflag::kSelectable;
        const bool touch_obj = flags & objflag::kTouch;
        if (!selectable && !touch_obj) {
            if (shown(o)) return 0; // a shown object swallows what lands on it
            continue;
        }
        if (touch_obj && !selectable) {
            uint16_t r = o.Signal ? o.Signal(o.def, o.inst, msg, arg) : 0;
            if (r & objmsg::kDenied) show_denied();
            if (!(r & objmsg::kWantFocus)) {
                if (r & objmsg::kRepaint) o.dirty = 1;
                if (r & objmsg::kBack) {
                    back();
                    return 1;
                }
                if (r & objmsg::kMorph) {
                    g.selectObject = int16_t(i);
                    g.fSelectFocus = 1;
                    OpenMorf(i);
                    return 1;
                }
                return 0;
            }
        }
        if (msg == objmsg::kTouchUp || key_press_path) return 0;
        uint16_t r = o.Signal ? o.Signal(o.def, o.inst, objmsg::kFocus, arg) : 0;
        if (r & objmsg::kDenied) show_denied();
        if ((r & objmsg::kRefuse) && !g.fDispMesg) continue; // refused: the objects below
        if (r & objmsg::kRepaint) o.dirty = 1;
        g.selectObject = int16_t(i);
        g.fSelectFocus = 1;
        if (r & objmsg::kMorph) {
            OpenMorf(i);
            return 1;
        }
        return 0;
    }
    return 0;
}

int OBJM_CreatePopup(DC *dc, const uint8_t *def, PopupCallback callback, int param) {
    trace("OBJM_CreatePopup");
    if (g.fPopup || g.fSelectMorf || !def || g.num_dobjs >= kObjTable) return 0;
    const int type = le16(def) & 0x0FFF;
    if (type >= kObjTypes || !oDefTbl[type]) return 0;
    const ObjClass *row = oDefTbl[type];
    uint32_t need = row->Need ? row->Need(def) : row->size;
    if (need > kPmemPool) return 0;
    std::memset(pmem_pool, 0, sizeof pmem_pool);
    auto *inst = reinterpret_cast<PopupInst *>(pmem_pool);
    inst->hdr.dc = dc;
    inst->hdr.state = 0;
    inst->param = uint16_t(param);
    inst->callback = callback;
    ObjCB &o = g.doTbl[g.num_dobjs];
    o = make_cb(row, def, &inst->hdr, 0);
    if (o.Create) o.Create(def, &inst->hdr);
    uint16_t r = o.Signal ? o.Signal(def, &inst->hdr, objmsg::kUpdate, 1) : 0;
    clip_all(dc);
    frame_paint(o, 1);
    if (r & objmsg::kRepaint) content_paint(o);
    o.dirty = 0;
    g.saveSelect = g.fSelectFocus ? g.selectObject : int16_t(-1);
    g.selectObject = g.num_dobjs;
    g.fSelectFocus = 1;
    ++g.num_dobjs;
    g.pPUCallback = callback;
    g.fPopup = 1;
    g.flag_draw = 1;
    return 1;
}

void OBJM_DestroyPopup(DC *dc) {
    if (!g.fPopup) return;
    --g.num_dobjs;
    if (g.saveSelect == -1) {
        g.fSelectFocus = 0;
        g.selectObject = -1;
    } else {
        g.selectObject = g.saveSelect;
    }
    g.fPopup = 0;
    PaintPage(dc ? dc : display());
}

void OBJM_MorfObj(int type, ObjInst *inst) {
    g.requestObj = uint16_t(type >= 0 && type < kObjTypes ? type : kObjTypes);
    g.requestData = inst;
    if (inst) inst->dc = display();
}

ObjCB *OBJM_GetRootOCB() {
    return g.morfIndex ? &g.pushOCB[0] : nullptr;
}

void OBJM_SwitchUserScreen(int screen, int push) {
    trace("OBJM_SwitchUserScreen");
    if (push) {
        if (g.pushCount < kHistoryDepth) ++g.pushCount;
        g.pushIndex = uint8_t((g.pushIndex + 1) % kHistoryDepth);
        g.pushScreen[g.pushIndex] = sr_get(sr::kUserScreen);
        g.pushSelect[g.pushIndex] = g.selectObject;
    }
    g.initSelect = -1;
    if (hooks.write_screen) hooks.write_screen(uint16_t(screen));
}

void OBJM_PopUserScreen() {
    if (g.pushCount == 0) {
        g.initSelect = -1;
        if (hooks.fault_page_recover) hooks.fault_page_recover();
        return;
    }
    --g.pushCount;
    if (hooks.write_screen) hooks.write_screen(g.pushScreen[g.pushIndex]);
    g.initSelect = g.pushSelect[g.pushIndex];
    g.pushIndex = uint8_t((g.pushIndex + kHistoryDepth - 1) % kHistoryDepth);
}

void OBJM_FlushUserScreens() {
    trace("OBJM_FlushUserScreens");
    g.pushCount = 0;
    g.pushIndex = 0;
    g.initSelect = -1;
}

int OBJM_SlideKey() {
    trace("OBJM_SlideKey");
    if (g.fSelectKey) {
        close_key_panel();
        PaintPage(display());
        beep(3);
        return 1;
    }
    // The panel exists when its Create showed it (a key picture was loaded).
    const ObjCB &k = g.KeySld;
    const bool panel = k.Signal && k.inst && (k.inst->state & kInstShown);
    if (panel && !g.fSelectMorf && sr_get(sr::kSystemScreen) == 0) {
        g.fSelectKey = 1;
        g.fKeyInvalidate = 1;
    }
    return 0;
}
