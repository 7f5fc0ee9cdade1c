// Entry points of the screen manager that are not built yet.
//
// Until the object manager is built, pages are opened without their objects:
// a page walks and opens by its records' lengths and classes (a page whose
// records have no class fails to open, as it will then), and opening paints
// the page's background, or the display-fault message when its fault marker
// is set. Everything else records its call and returns "nothing there".
#include "base/le.h"
#include "base/trace.h"
#include "gdi/gdi.h"
#include "platform/video.h"
#include "plc/appblocks.h"
#include "screens/screens.h"

#include <cstdint>

using host::trace;

namespace {
void (*g_fault_page)(DC *dc);
} // namespace

uint8_t ExternalRegOnPage;
uint8_t Clon_McInited, Clon_McLinited;

namespace {
int g_menu_page; // the system-menu page selected last

// The end of the screen program block when `p` lies inside it, else null
// (built-in pages).
const uint8_t *program_end(const uint8_t *p) {
    const uint8_t *data = kesta_pgm_bl + 8;
    uint32_t length = le32(kesta_pgm_bl + 4);
    if (length > app::kConfigParts[3].capacity - 8) length = app::kConfigParts[3].capacity - 8;
    if (p < data || p >= data + length) return nullptr;
    return data + length;
}

// The address after the page's object records; null when a record has no
// class or runs out of the screen program. The walk counts in offsets from
// the page, so a record length never takes a pointer out of the block.
const uint8_t *walk(const uint8_t *page) {
    const uint8_t *end = program_end(page);
    const size_t room = end ? size_t(end - page) : SIZE_MAX;
    if (room < 24) return nullptr;
    size_t at = Page_FirstRecord(page);
    int16_t count = int16_t(le16(page + 4));
    for (int i = 0; i < count; ++i) {
        if (at > room || room - at < 32) return nullptr; // every record reaches its length word
        size_t length = ObjDef_Length(page + at);
        if (length == 0) return nullptr;
        at += length;
    }
    if (at > room) return nullptr;
    return page + at;
}
} // namespace

void REC_ScreenInit() {
    trace("REC_ScreenInit");
}
void OBJM_SetFaultPage(void (*paint)(DC *dc)) {
    g_fault_page = paint;
}

void OBJM_Init() {
    trace("OBJM_Init");
}

const uint8_t *OBJM_ScanPage(DC *, const uint8_t *page) {
    trace("OBJM_ScanPage");
    return page ? walk(page) : nullptr;
}

int OBJM_OpenPage(DC *dc, const uint8_t *page) {
    trace("OBJM_OpenPage");
    if (!page || !walk(page)) return 0;
    ExternalRegOnPage = 0;
    if (!dc) return 1;
    if (int16_t(le16(page + 2)) < 0) {
        if (g_fault_page) g_fault_page(dc);
        return 1;
    }
    RECT all{dc->bounds.left, dc->bounds.top, dc->bounds.right, dc->bounds.bottom};
    GDI_SetClipRect(dc, &all, nullptr);
    for (int y = all.top; y <= all.bottom; ++y)
        GDI_ScanLine(dc, y, all.left, all.right, le16(page + 6));
    VID_Update();
    return 1;
}

void OBJM_DestroyPage() {
    trace("OBJM_DestroyPage");
}
int OBJM_Update(DC *) {
    trace("OBJM_Update");
    return 1;
}
void OBJM_FlushUserScreens() {
    trace("OBJM_FlushUserScreens");
}
void OBJM_SwitchUserScreen(int, int) {
    trace("OBJM_SwitchUserScreen");
}
int OBJM_CreatePopup(DC *, const uint8_t *, PopupCallback, int) {
    trace("OBJM_CreatePopup");
    return 0;
}

// No system menu pages yet.
const uint8_t *const pBasicMenu[28] = {};

// The menu stays on the page it was given (pages 1 to 27).
int MENU_GetPage() {
    trace("MENU_GetPage");
    return g_menu_page;
}
int MENU_SetPage(int n) {
    trace("MENU_SetPage");
    if (n < 1 || n > 27) return 0;
    g_menu_page = n;
    return 1;
}

void STR_Init(uint32_t, uint32_t) {
    trace("STR_Init");
}
int STR_Update() {
    trace("STR_Update");
    return 0;
}
void USRMGR_Init() {
    trace("USRMGR_Init");
}
void USRMGR_Update() {
    trace("USRMGR_Update");
}

void Screens_NotBuiltReset() {
    ExternalRegOnPage = 0;
    Clon_McInited = Clon_McLinited = 0;
    g_menu_page = 0;
}
