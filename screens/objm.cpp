// Object manager, page side: the class table, the object tables and pools,
// opening and painting a page, and the update pass that polls every live
// object once per screen-loop pass and repaints what changed.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/field.h"
#include "gdi/gdi.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "platform/keys.h"
#include "platform/pxp.h"
#include "platform/slice.h"
#include "platform/tick.h"
#include "platform/video.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/objm_int.h"

#include <algorithm>
#include <cstring>

using host::trace;

uint8_t ExternalRegOnPage;

namespace objm {
State g;
ObjmHooks hooks;
alignas(8) uint8_t pmem_pool[kPmemPool];
alignas(8) uint8_t key_pool[kKeyPool];
} // namespace objm

// clang-format off
const std::array<const ObjClass *, kObjTypes> objm::kScreenClasses = {
    nullptr,        nullptr,        nullptr,        &MENU_Class,    nullptr,        nullptr,
    nullptr,        nullptr,        nullptr,        nullptr,        nullptr,        nullptr,
    &FAULT_Class,   nullptr,        nullptr,        nullptr,        nullptr,        nullptr,
    &DIALOG_Class,  &CALTCH_Class,  &CFD_Class,     nullptr,        nullptr,        nullptr,
    nullptr,        &BkRstr_Class,  &Clone_Class,   nullptr,        nullptr,        &BOOT_Class,
    nullptr,        nullptr,        &RECOVER_Class, nullptr,        &LOGIN_Class,   &WIFI_Class,
};
// clang-format on
std::array<const ObjClass *, kObjTypes> oDefTbl = objm::kScreenClasses;

namespace {
using namespace objm;

alignas(8) uint8_t dmem_pool[kDmemPool];
alignas(8) uint8_t smem_pool[kSmemPool];

// Rows installed by the wiring; the reset puts them back over probe rows.
const ObjClass *g_wired[kObjTypes];
void (*g_fault_page)(DC *dc);

// Types whose Destroy a page close calls (they hold memory outside the pools).
constexpr bool destroyed_on_close(int type) {
    return type == 6 || type == 8 || type == 10 || type == 14 || type == 15 || type == 33;
}

uint32_t align8(uint32_t v) {
    return (v + 7u) & ~7u;
}

// Bytes an instance takes from its pool: what Create says it used, and never
// less than the common header that the manager itself writes.
uint32_t used_of(int16_t used) {
    return std::max<uint32_t>(uint32_t(std::max<int16_t>(used, 0)), sizeof(ObjInst));
}

// Instance bytes a record needs before its Create may run.
uint32_t need_of(const ObjClass *row, const uint8_t *def) {
    uint32_t n = row->Need ? row->Need(def) : row->size;
    return std::max<uint32_t>(n, sizeof(ObjInst));
}

void start_instance(ObjInst *inst, DC *dc) {
    inst->dc = dc;
    inst->state = 0;
    inst->area = RECT{};
}

bool shown(const ObjCB &o) {
    return o.inst && (o.inst->state & kInstShown);
}
bool overlapping(const ObjCB &o) {
    return (le32(o.def + 2) & objflag::kOverlap) != 0;
}

// The screen program's data as far as it is in use.
const uint8_t *program_data(uint32_t *length) {
    uint32_t n = le32(kesta_pgm_bl + 4);
    if (n > app::kConfigParts[3].capacity - 8) n = app::kConfigParts[3].capacity - 8;
    *length = n;
    return kesta_pgm_bl + 8;
}

// A u32 offset of the page header into the screen program: null when 0 or not
// inside the program's data.
const uint8_t *program_offset(uint32_t off) {
    uint32_t length;
    const uint8_t *data = program_data(&length);
    return off && off < length ? data + off : nullptr;
}

// Fills an inclusive rectangle of the screen to the page background.
void erase(DC *dc, const RECT &rc) {
    clip_to(dc, rc);
    if (!g.gradient) {
        GDI_SetPen(dc, kPenNone, 0, 0);
        GDI_SetFillColor(dc, g.background);
        GDI_Rectangle(dc, rc.left, rc.top, rc.right + 1, rc.bottom + 1);
        return;
    }
    if (!fPxpEnable) {
        if (g.background_saved && pMem3DC)
            GDI_BitBlt(dc, rc.left, rc.top, rc.right - rc.left + 1, rc.bottom - rc.top + 1, pMem3DC,
                       rc.left, rc.top);
        return;
    }
    GDI_SetPen(dc, kPenNone, 0, 0);
    GDI_SetFillColor(dc, 0x0001);
    GDI_Rectangle(dc, rc.left, rc.top, rc.right + 1, rc.bottom + 1);
    if (!g.pGradBkndFB || !g.pGradObjFB) return;
    // The rectangle comes from the page and may lie partly or wholly off the
    // screen: only its rows and columns on the screen are copied.
    const int w = dc->bounds.right + 1, h = dc->bounds.bottom + 1;
    const int left = std::max<int>(rc.left, 0), right = std::min<int>(rc.right, w - 1);
    const int top = std::max<int>(rc.top, 0), bottom = std::min<int>(rc.bottom, h - 1);
    if (left > right || top > bottom) return;
    for (int y = top; y <= bottom; ++y) {
        size_t at = size_t(y) * size_t(w) + size_t(left);
        std::memcpy(g.pGradObjFB + at, g.pGradBkndFB + at, size_t(right - left + 1) * 4);
    }
}

// Saves the painted gradient background, or hands it to the pixel pipeline.
void keep_background(DC *dc) {
    if (fPxpEnable) {
        g.pGradBkndFB = PXP_GradientBkndEnab(1);
        g.pGradObjFB = PXP_GradientEnabled(1);
        return;
    }
    if (g.background_saved || !pMem3DC) return;
    const uint32_t w = uint32_t(dc->bounds.right + 1), h = uint32_t(dc->bounds.bottom + 1);
    uint8_t *mem = VDR_BmpGetMem(w * h * 4);
    if (!mem) return;
    pMem3DC->buffer = reinterpret_cast<uint32_t *>(mem);
    clip_all(pMem3DC);
    GDI_BitBlt(pMem3DC, 0, 0, int(w), int(h), dc, 0, 0);
    g.background_saved = true;
}

bool is_open_page(int16_t page_no) {
    return g.pCurPgHdr && int16_t(int16_t(le16(g.pCurPgHdr)) + 1) == page_no;
}

// Show (0x1000): the object's frame, then the objects over it.
void show(int i) {
    ObjCB &o = g.doTbl[i];
    RECT rc = def_rect(o.def);
    clip_to(o.inst->dc, rc);
    frame_paint(o, 1);
    o.dirty = 1;
    if (!overlapping(o) && !g.fPopup) return;
    for (int j = i + 1; j < g.num_dobjs; ++j) {
        ObjCB &p = g.doTbl[j];
        if (!shown(p) || !meets(def_rect(p.def), rc)) continue;
        clip_to(o.inst->dc, rc);
        frame_paint(p, 1);
        p.dirty = 1;
    }
}

// Hide (0x2000) and erase-and-redraw (0x4000): the rectangle back to the page
// background, then what lies under and over it.
void hide(int i, bool redraw) {
    ObjCB &o = g.doTbl[i];
    RECT rc = def_rect(o.def);
    DC *dc = o.inst->dc;
    erase(dc, rc);
    for (int j = 0; j < g.num_dobjs; ++j) {
        ObjCB &p = g.doTbl[j];
        if (j == i) {
            if (redraw) {
                clip_to(dc, rc);
                frame_paint(o, 1);
                o.dirty = 1;
            }
            if (!overlapping(o) && !g.fPopup) break;
            continue;
        }
        if (j < i && !overlapping(p)) continue;
        if (!shown(p) || !meets(def_rect(p.def), rc)) continue;
        clip_to(dc, rc);
        frame_paint(p, 1);
        content_paint(p);
    }
}

// Repaints the objects after `i` that its content paint may have covered.
void repaint_over(int i) {
    ObjCB &o = g.doTbl[i];
    const RECT &a = o.inst->area;
    for (int j = i + 1; j < g.num_dobjs; ++j) {
        ObjCB &p = g.doTbl[j];
        if (!shown(p) || !meets(p.inst->area, a)) continue;
        RECT clip = a;
        if (p.dirty) {
            clip.left = std::min(a.left, p.inst->area.left);
            clip.top = std::min(a.top, p.inst->area.top);
            clip.right = std::max(a.right, p.inst->area.right);
            clip.bottom = std::max(a.bottom, p.inst->area.bottom);
        }
        clip_to(p.inst->dc, clip);
        frame_paint(p, 1);
        content_paint(p);
        p.dirty = 0;
    }
}

void slide_key_background(DC *dc) {
    if (g.gradient) {
        GDI_SetGradient(dc, 3);
        GDI_SetFillColor(dc, g.FillColor);
        GDI_SetEndColor(dc, g.EndColor);
    } else {
        GDI_SetFillColor(dc, g.background);
    }
}

} // namespace

namespace objm {

void clip_all(DC *dc) {
    if (!dc) return;
    RECT all{dc->bounds.left, dc->bounds.top, int16_t(dc->bounds.right + 1),
             int16_t(dc->bounds.bottom + 1)};
    GDI_SetClipRect(dc, &all, nullptr);
}

void clip_to(DC *dc, const RECT &r) {
    if (!dc) return;
    RECT x{r.left, r.top, int16_t(r.right + 1), int16_t(r.bottom + 1)};
    if (!GDI_SetClipRect(dc, &x, nullptr)) dc->clip = RECT{0, 0, -1, -1};
}

RECT def_rect(const uint8_t *def) {
    return RECT{int16_t(le16(def + 10)), int16_t(le16(def + 12)), int16_t(le16(def + 14)),
                int16_t(le16(def + 16))};
}

bool meets(const RECT &a, const RECT &b) {
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

bool user_screen() {
    return hooks.page_mode && hooks.page_mode() == 1;
}

void beep(int length) {
    if (hooks.beep) hooks.beep(length);
}

ObjCB make_cb(const ObjClass *row, const uint8_t *def, ObjInst *inst, int16_t page) {
    return ObjCB{row->Create, row->Paint, row->Signal, row->Destroy, def, inst, 0, page};
}

void frame_paint(ObjCB &o, int mode) {
    if (o.Paint) o.Paint(o.def, o.inst, mode);
    SlicePoint();
}

void content_paint(ObjCB &o) {
    clip_to(o.inst->dc, o.inst->area);
    if (o.Paint) o.Paint(o.def, o.inst, 2);
    SlicePoint();
}

bool check_input() {
    uint16_t before = KEY_trd;
    KEY_Check(OBJM_Keypress);
    return KEY_trd != before;
}

void PaintPage(DC *dc) {
    if (!dc || !g.pCurPgHdr) return;
    // The copy of the last frame must be done before drawing starts.
    for (int n = 0; n < 1000 && !VID_WaitUpdate(); ++n)
        SlicePoint();
    if (g.fSelectKey) g.fKeyInvalidate = 1;
    g.flag_draw = 1;
    clip_all(dc);
    GDI_SetFillColor(dc, g.background);
    if (fPxpEnable) PXP_GradientEnabled(0);
    GDI_SetPen(dc, kPenNone, 0, 0);
    const RECT &b = dc->bounds;
    if (int16_t(le16(g.pCurPgHdr + 2)) < 0) {
        if (g_fault_page) g_fault_page(dc);
    } else if (!g.gradient) {
        GDI_Rectangle(dc, b.left, b.top, b.right + 1, b.bottom + 1);
    } else {
        GDI_SetGradient(dc, 3);
        GDI_SetFillColor(dc, g.FillColor);
        GDI_SetEndColor(dc, g.EndColor);
        GDI_GradientRect(dc, g.LeadInLines, g.LeadOutLines, b.left, b.top, b.right + 1,
                         b.bottom + 1);
        GDI_SetGradient(dc, 0);
        keep_background(dc);
    }
    for (int i = 0; i < g.num_dobjs; ++i) {
        ObjCB &o = g.doTbl[i];
        uint16_t r = o.Signal ? o.Signal(o.def, o.inst, objmsg::kUpdate, 1) : 0;
        if (!shown(o)) continue;
        clip_all(o.inst->dc);
        frame_paint(o, 1);
        if (r & objmsg::kRepaint) content_paint(o);
        o.dirty = 0;
    }
    if (hooks.dmem_corrupt) hooks.dmem_corrupt(0);
}

} // namespace objm

void OBJM_SetClass(int type, const ObjClass *row) {
    if (type < 0 || type >= kObjTypes || !row) return;
    oDefTbl[type] = row;
    g_wired[type] = row;
}

void OBJM_SetHooks(const ObjmHooks &h) {
    hooks = h;
}

void OBJM_SetFaultPage(void (*paint)(DC *dc)) {
    g_fault_page = paint;
}

void OBJM_Init() {
    trace("OBJM_Init");
    g.num_dobjs = g.num_sobjs = 0;
    g.smem_index = 0;
    g.pushIndex = g.pushCount = 0;
    g.initSelect = -1;
    if (g.fSelectKey) {
        g.fKeyInvalidate = 1;
        return;
    }
    static constexpr ObjClass kNone{};
    const ObjClass *row = oDefTbl[30] ? oDefTbl[30] : &kNone;
    auto *inst = reinterpret_cast<ObjInst *>(key_pool);
    start_instance(inst, pDC);
    g.KeySld = make_cb(row, KySldObj, inst, 0);
    if (row->Create) row->Create(KySldObj, inst);
}

const uint8_t *OBJM_ScanPage(DC *dc, const uint8_t *page) {
    trace("OBJM_ScanPage");
    if (!page) return nullptr;
    const uint8_t *end = Page_End(page);
    if (!end) return nullptr;
    if (hooks.set_page_links) hooks.set_page_links(program_offset(le32(page + 10)));
    const int16_t page_no = int16_t(int16_t(le16(page)) + 1);
    const int count = int16_t(le16(page + 4));
    const uint8_t *def = page + Page_FirstRecord(page);
    for (int i = 0; i < count; ++i, def += ObjDef_Length(def)) {
        int type = le16(def) & 0x0FFF;
        if (!(le32(def + 2) & objflag::kStatic) || type == 5) continue;
        if (g.num_sobjs >= kObjTable) continue; // the table holds no more
        const ObjClass *row = oDefTbl[type];
        uint32_t at = align8(g.smem_index);
        if (at >= kSmemPool || kSmemPool - at < need_of(row, def)) continue; // left out
        g.smem_index = at;
        auto *inst = reinterpret_cast<ObjInst *>(smem_pool + at);
        start_instance(inst, dc);
        g.soTbl[g.num_sobjs++] = make_cb(row, def, inst, page_no);
        int16_t used = row->Create ? row->Create(def, inst) : 0;
        g.smem_index += used_of(used);
    }
    return end;
}

int OBJM_OpenPage(DC *dc, const uint8_t *page) {
    trace("OBJM_OpenPage");
    const uint32_t slices_before = ISRCountOnOpenPage;
    openPageExec = 1;
    g.flag_draw = 1;
    VideoStop();
    if (hooks.reset_rcbs) hooks.reset_rcbs(0);
    g.fDispMesg = 0;
    auto fail = [&] {
        g.num_dobjs = 0;
        g.pCurPgHdr = nullptr;
        g.fPopup = 0;
        g.fSelectMorf = 0;
        g.morfIndex = 0;
        g.selectObject = -1;
        g.fSelectFocus = 0;
        ExternalRegOnPage = 0;
        openPageExec = 0;
        return 0;
    };
    g.num_dobjs = 0;
    g.pCurPgHdr = nullptr;
    const uint8_t *end = page ? Page_End(page) : nullptr;
    if (!end) return fail();
    const int count = int16_t(le16(page + 4));
    if (count > kObjTable) return fail();

    const uint16_t version = le16(page + 8);
    g.background = le16(page + 6);
    g.gradient = version >= 2 && (le16(page + 22) & 1);
    if (g.gradient) {
        g.FillColor = le16(page + 24);
        g.EndColor = le16(page + 26);
        g.LeadInLines = le16(page + 28);
        g.LeadOutLines = le16(page + 30);
    }
    const uint8_t *links = program_offset(le32(page + 10));
    if (links && hooks.set_page_links) hooks.set_page_links(links);
    ExternalRegOnPage = 0;
    if (version >= 1) {
        const uint8_t *list = program_offset(le32(page + 14));
        ExternalRegOnPage = list != nullptr;
        if (hooks.load_scan_list) hooks.load_scan_list(list);
    }
    VDR_BmpClrMem();
    g.background_saved = false;
    g.pGradBkndFB = g.pGradObjFB = nullptr;

    uint32_t offset = 0;
    const uint8_t *def = page + Page_FirstRecord(page);
    for (int i = 0; i < count; ++i, def += ObjDef_Length(def)) {
        const int type = le16(def) & 0x0FFF;
        const uint32_t flags = le32(def + 2);
        if (!(flags & objflag::kStatic) || type == 5) {
            const ObjClass *row = oDefTbl[type];
            offset = align8(offset);
            if (offset >= kDmemPool || kDmemPool - offset < need_of(row, def)) return fail();
            auto *inst = reinterpret_cast<ObjInst *>(dmem_pool + offset);
            start_instance(inst, dc);
            g.doTbl[g.num_dobjs++] = make_cb(row, def, inst, 0);
            int16_t used = row->Create ? row->Create(def, inst) : 0;
            offset += used_of(used);
            continue;
        }
        // A static object lives in the static table; a record left out for
        // lack of static pool has no instance and is skipped.
        for (int s = 0; s < g.num_sobjs; ++s) {
            if (g.soTbl[s].def != def) continue;
            ObjCB cb = g.soTbl[s];
            cb.page = 255;
            cb.dirty = 0;
            g.doTbl[g.num_dobjs++] = cb;
            break;
        }
    }
    if (hooks.load_rcbs) hooks.load_rcbs();
    g.fPopup = 0;
    g.fSelectMorf = 0;
    g.morfIndex = 0;
    g.selectObject = -1;
    g.fSelectFocus = 0;
    for (int i = 0; i < g.num_dobjs; ++i) {
        const uint8_t *d = g.doTbl[i].def;
        uint32_t f = le32(d + 2);
        if ((le16(d) & 0x0FFF) == 3 && (f & objflag::kSelectable) && (f & objflag::kMenuFocus)) {
            g.selectObject = int16_t(i);
            g.fSelectFocus = 1;
        }
    }
    if (user_screen() && g.initSelect != -1) {
        // A remembered selection that is not an object of this page is dropped.
        g.selectObject = g.initSelect < g.num_dobjs ? g.initSelect : int16_t(-1);
        if (g.selectObject < 0) g.initSelect = -1;
    }
    g.pCurPgHdr = page;
    g.dc = dc;
    PaintPage(dc);
    KEY_FlushTouch();
    sr_put(sr::kPageOpenSlices, uint16_t(ISRCountOnOpenPage - slices_before));
    openPageExec = 0;
    return 1;
}

void OBJM_DestroyPage() {
    trace("OBJM_DestroyPage");
    for (int i = 0; i < g.num_dobjs; ++i) {
        ObjCB &o = g.doTbl[i];
        if (destroyed_on_close(le16(o.def) & 0x0FFF) && o.Destroy) o.Destroy(o.def, o.inst);
    }
    g.flag_draw = 1;
}

int OBJM_Update(DC *dc) {
    trace("OBJM_Update");
    const uint32_t start = FPGA_GetFrt();
    if (!VID_WaitUpdate()) return 1;
    check_input();

    const bool system = sr_get(sr::kSystemScreen) != 0;
    for (int s = 0; s < g.num_sobjs; ++s) {
        ObjCB &o = g.soTbl[s];
        if (g.pCurPgHdr && !system && is_open_page(o.page)) continue;
        if (o.Signal) o.Signal(o.def, o.inst, objmsg::kUpdate, 0);
        check_input();
    }

    for (int i = 0; i < g.num_dobjs; ++i) {
        ObjCB &o = g.doTbl[i];
        uint16_t r = o.Signal ? o.Signal(o.def, o.inst, objmsg::kUpdate, 0) : 0;
        const bool overlays = g.fSelectMorf || g.fDispMesg;
        if (r & objmsg::kRepaint) {
            g.flag_draw = 1;
            if ((r & objmsg::kShow) && !overlays)
                show(i);
            else if ((r & (objmsg::kHide | objmsg::kErase)) && !overlays)
                hide(i, (r & objmsg::kErase) != 0);
            else
                o.dirty = 1;
        }
        if (r & objmsg::kBack) {
            g.flag_draw = 1;
            if (user_screen()) OBJM_PopUserScreen();
        }
        if (r & objmsg::kWantFocus) {
            g.flag_draw = 1;
            uint16_t a = o.Signal ? o.Signal(o.def, o.inst, objmsg::kFocus, 0) : 0;
            if (!(a & objmsg::kRefuse)) {
                g.selectObject = int16_t(i);
                g.fSelectFocus = 1;
                o.dirty = 1;
            }
        }
        if (r & objmsg::kRefuse) {
            g.flag_draw = 1;
            if (g.fSelectMorf && g.selectObject >= 0)
                CloseMorf(g.selectObject);
            else
                g.fSelectFocus = 0;
        }
        if (r & objmsg::kMorph) {
            g.selectObject = int16_t(i);
            g.fSelectFocus = 1;
            g.flag_draw = 1;
            OpenMorf(i);
        }
        check_input();
    }

    const bool morph =
        g.fSelectMorf && g.fSelectFocus && g.selectObject >= 0 && g.selectObject < g.num_dobjs;
    if (!morph || g.fDispMesg) {
        for (int i = 0; i < g.num_dobjs && !g.fDispMesg; ++i) {
            ObjCB &o = g.doTbl[i];
            if (!o.dirty) continue;
            o.dirty = 0;
            g.flag_draw = 1;
            if (shown(o)) content_paint(o);
            if (g.fSelectKey && o.inst->area.right > g.KeySld.inst->area.left) g.fKeyInvalidate = 1;
            if (overlapping(o) || g.fPopup) repaint_over(i);
            if (check_input()) break; // the remaining dirty objects wait for the next pass
        }
    } else {
        ObjCB &o = g.doTbl[g.selectObject];
        if (o.dirty) {
            o.dirty = 0;
            g.flag_draw = 1;
            clip_all(o.inst->dc);
            if (o.Paint) o.Paint(o.def, o.inst, 2);
        }
    }

    if (g.fSelectKey) {
        ObjCB &k = g.KeySld;
        DC *kdc = k.inst->dc ? k.inst->dc : dc;
        if (g.fKeyInvalidate) {
            slide_key_background(kdc);
            clip_to(kdc, k.inst->area); // the panel places itself
            if (k.Paint) k.Paint(k.def, k.inst, 3);
            g.fKeyInvalidate = 0;
            g.flag_draw = 1;
        }
        uint16_t r = k.Signal ? k.Signal(k.def, k.inst, objmsg::kUpdate, 0) : 0;
        // The panel has no keys to offer the installer or the recovery screen.
        const bool maintenance = hooks.installer_or_recovery && hooks.installer_or_recovery();
        if ((r & objmsg::kRefuse) || (!morph && maintenance)) {
            close_key_panel();
            g.flag_draw = 1;
            if (!g.fSelectMorf) {
                if (sr_get(sr::kSystemScreen) != 0 && g.pCurPgHdr)
                    OBJM_OpenPage(g.dc, g.pCurPgHdr);
                else
                    PaintPage(g.dc);
            }
        } else if (r & objmsg::kRepaint) {
            slide_key_background(kdc);
            g.flag_draw = 1;
            content_paint(k);
        }
    }

    if (g.flag_draw && !(morph && StillOpened)) {
        int done = VID_Update();
        if (!fPxpEnable || done) g.flag_draw = 0;
    }
    sr_put(sr::kScreenPassTime, uint16_t(FPGA_GetFrt() - start));
    return morph ? 0 : 1;
}

namespace {
// The end of the current language's texts: the string table's data holds its
// own length (of what follows it), 4 bytes not read, then one equal segment
// per language (the count in the screen program's header; 0 or a header too
// short to hold it is one language, whose segment runs to the end of the
// data). Null when pPGM_Strings does not start a segment.
const uint8_t *text_segment_end() {
    const uint8_t *data = string_table_bl + 8;
    uint32_t length = le32(string_table_bl + 4);
    if (length > app::kConfigParts[5].capacity - 8) length = app::kConfigParts[5].capacity - 8;
    const uint8_t *end = data + length;
    if (!pPGM_Strings || pPGM_Strings < data || pPGM_Strings >= end) return nullptr;
    uint32_t program;
    const uint8_t *h = program_data(&program);
    constexpr uint32_t kLanguages = 28; // header offset of the language count
    uint32_t languages = 1;
    if (le16(h + 8) >= kLanguages + 4 && program >= kLanguages + 4)
        languages = le32(h + kLanguages);
    if (languages <= 1) return end;
    const uint32_t table = length >= 4 ? le32(data) : 0;
    const uint32_t segment = table >= 4 ? (table - 4) / languages : 0;
    const size_t at = size_t(pPGM_Strings - data);
    if (segment == 0 || at < 8 || (at - 8) % segment || (at - 8) / segment >= languages)
        return nullptr;
    return size_t(end - pPGM_Strings) > segment ? pPGM_Strings + segment : end;
}
} // namespace

const uint8_t *OBJM_Text(uint32_t offset) {
    const uint8_t *end = text_segment_end();
    if (!end) return nullptr;
    const size_t room = size_t(end - pPGM_Strings);
    const size_t width = PGM_UnicodePresent ? 2 : 1;
    // The line count stands before the first character.
    if (offset < width || offset >= room) return nullptr;
    const uint8_t *t = pPGM_Strings + offset;
    const uint32_t lines = width == 2 ? le16(t - 2) : t[-1];
    // Every line the text output walks ends (in a code of 0 to 3) inside the
    // segment; so does the first, for readers that stop at the end of it.
    const uint8_t *p = t;
    for (uint32_t n = 0; n < std::max<uint32_t>(lines, 1); ++n)
        for (;;) {
            if (size_t(end - p) < width) return nullptr;
            const uint32_t c = width == 2 ? le16(p) : p[0];
            p += width;
            if (c <= 3) break;
        }
    return t;
}

const uint8_t *OBJM_GradientExt(const uint8_t *def, uint32_t offset) {
    return ObjDef_Holds(def, offset, 12) ? def + offset : nullptr;
}

bool OBJM_Bitmap(uint32_t offset, ObjPicture *out) {
    // Picture offsets count from the bitmap area's data (pPGM_Bitmaps); the
    // area in use is what its header says, within what was loaded.
    const uint32_t total = le32(rom_map_tbl + 516);
    if (total <= 8) return false;
    uint64_t length = le32(bmp_table + 4);
    length = std::min<uint64_t>({length, total - 8u, app::kBmpTableSize - 8u});
    constexpr uint32_t kPrefix = 6;
    if (offset < kPrefix || offset > length) return false;
    const uint8_t *p = bmp_table + 8 + offset;
    const uint32_t coded = le32(p - 4);
    if (coded > length - offset) return false;
    *out = ObjPicture{*(p - kPrefix), p, coded};
    return true;
}

void Objm_Reset() {
    for (int t = 0; t < kObjTypes; ++t)
        oDefTbl[t] = g_wired[t] ? g_wired[t] : kScreenClasses[t];
    std::memset(static_cast<void *>(&g), 0, sizeof g);
    g.selectObject = g.saveSelect = g.initSelect = -1;
    std::memset(dmem_pool, 0, sizeof dmem_pool);
    std::memset(smem_pool, 0, sizeof smem_pool);
    std::memset(pmem_pool, 0, sizeof pmem_pool);
    std::memset(key_pool, 0, sizeof key_pool);
    ExternalRegOnPage = 0;
}
