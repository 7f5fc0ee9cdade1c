#include "system/pgm.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/data.h"
#include "gdi/text.h"
#include "objects/graph.h"
#include "platform/keys.h"
#include "platform/video.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/appfile.h"
#include "system/backup.h"
#include "system/crash.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/reglink.h"
#include "system/sys.h"
#include "system/touch.h"

uint8_t PGM_state;
uint16_t PGM_fault;
uint16_t PAGE_current, PAGE_mode;
const uint8_t *tPage[kScreens];
uint8_t *pPgmHdr, *pPGM_Bitmaps, *pPGM_Alarms, *pPGM_Fonts;
uint8_t *pPGM_Video, *pPGM_Scap, *pPGM_Cfmgr, *pPGM_ExtRef, *pPGM_Menus;
uint32_t PGM_TchSenAddr;
uint16_t PAGE_num;
uint8_t popupMode, popupState, last_ctlr_status;
uint16_t last_plc_mode;
RCB *pRunRCB;

namespace {

// Header fields of the screen program (little-endian, from the block's data).
namespace hdr {
constexpr uint32_t kSize = 0, kLength = 8, kPages = 10, kStartPage = 12, kFlags = 14;
constexpr uint32_t kAlarms = 16, kFontsCheck = 20, kLangReg = 24, kLangCount = 28;
constexpr uint32_t kVideo = 32, kScap = 36, kCfmgr = 40, kExtRef = 44, kTouchReg = 48, kMenus = 52;
constexpr uint32_t kBase = 16; // the fields every header has
constexpr uint32_t kFull = 56; // the sections after the pages need this size
} // namespace hdr

constexpr uint16_t kGraphicsInvalid = sr4::kGraphics;
constexpr uint8_t kStatusReset = 0x77, kStatusUnseen = 0xFF;

struct State {
    uint16_t start_screen; // start page + 1 of the program set up last
    bool page_open;
};
State g;

uint32_t block_length(const uint8_t *block, uint32_t capacity) {
    uint32_t n = le32(block + 4);
    return n > capacity - 8 ? capacity - 8 : n;
}
uint32_t program_length() {
    return block_length(kesta_pgm_bl, app::kConfigParts[3].capacity);
}

void fault(uint16_t code) {
    PGM_fault = code;
    PGM_state = 1;
}

void close_page() {
    if (!g.page_open) return;
    OBJM_DestroyPage();
    g.page_open = false;
}

bool open_page(const uint8_t *page) {
    g.page_open = OBJM_OpenPage(pDC, page) != 0;
    return g.page_open;
}

// Section pointers from the header. A field counts only when the header's
// length reaches past it; an offset that leads out of the program is none.
void set_sections(uint32_t length) {
    uint8_t *h = kesta_pgm_bl + 8;
    uint32_t hlen = le16(h + hdr::kLength);
    bool full = le32(h + hdr::kSize) >= hdr::kFull;
    auto has = [&](uint32_t at) { return hlen >= at + 4 && length >= at + 4; };
    auto section = [&](uint32_t at) -> uint8_t * {
        if (!has(at)) return nullptr;
        uint32_t off = le32(h + at);
        return off && off < length ? h + off : nullptr;
    };
    auto table = [](uint8_t *block) -> uint8_t * { return le32(block + 4) ? block + 8 : nullptr; };

    pPgmHdr = h;
    pPGM_TextTbls = table(text_table_bl);
    // The string table's data starts with its own length and 4 unused bytes;
    // the texts of the first language follow them. A table with no room for
    // texts has none.
    pPGM_Strings = le32(string_table_bl + 4) > 8 ? string_table_bl + 16 : nullptr;
    pPGM_Bitmaps = le32(rom_map_tbl + 516) ? bmp_table + 8 : nullptr;
    pPGM_Alarms = full ? section(hdr::kAlarms) : nullptr;
    pPGM_Fonts = nullptr;
    if (has(hdr::kFontsCheck) && le32(font_table_bl + 4) >= 4 &&
        le32(h + hdr::kFontsCheck) == le32(font_table_bl + 8))
        pPGM_Fonts = font_table_bl + 8;
    // Fonts 8 and up are the application's: the drawing layer reads them
    // from the block's data, never past the block.
    Text_SetAppFonts(pPGM_Fonts, pPGM_Fonts ? AppPart_DataLength(app::PartIndex("font_table")) : 0);
    pPGM_Video = full ? section(hdr::kVideo) : nullptr;
    pPGM_Scap = full ? section(hdr::kScap) : nullptr;
    pPGM_Cfmgr = full ? section(hdr::kCfmgr) : nullptr;
    pPGM_ExtRef = section(hdr::kExtRef);
    PGM_TchSenAddr = has(hdr::kTouchReg) ? le32(h + hdr::kTouchReg) : 0;
    pPGM_Menus = section(hdr::kMenus);
    uint16_t flags = le16(h + hdr::kFlags);
    PGM_UnicodePresent = (flags & 0x100) != 0;
    PGM_bShowAsterixForNodata = (flags & 0x200) != 0;
    PAGE_num = le16(h + hdr::kPages);
}

// Registers every page of the program at its screen number. The walk stays
// inside the program; pages whose id has no screen number are skipped.
void scan_pages(uint32_t length) {
    uint8_t *h = kesta_pgm_bl + 8;
    const uint8_t *end = h + length;
    const uint8_t *page = h + le16(h + hdr::kLength);
    for (unsigned i = 0; i < PAGE_num; ++i) {
        if (page < h + hdr::kBase || end - page < 2) break;
        int id = int16_t(le16(page));
        const uint8_t *next = OBJM_ScanPage(pDC, page);
        if (id >= 0 && id + 1 < kScreens) tPage[id + 1] = page;
        if (!next || next <= page || next > end) break;
        page = next;
    }
}

// Takes the loaded screen program into use.
void set_up() {
    uint32_t length = program_length();
    if (length <= 8 || length < hdr::kBase) {
        fault(0x800);
        return;
    }
    for (auto &p : tPage)
        p = badPage;
    PAGE_current = 0;
    set_sections(length);
    uint8_t *h = pPgmHdr;
    OBJM_Init();
    SYS_InitBBR();
    GRAPH_ForgetRings();
    SYS_ResetRCBs(1);
    ALRM_Init();
    USRMGR_Init();
    uint32_t hlen = le16(h + hdr::kLength);
    if (hlen >= hdr::kLangCount + 4 && length >= hdr::kLangCount + 4)
        STR_Init(le32(h + hdr::kLangReg), le32(h + hdr::kLangCount));
    else
        STR_Init(0, 1);
    SYS_InitTchSen(PGM_TchSenAddr);
    VIDM_Init();
    CFM_Init();
    scan_pages(length);
    g.start_screen = uint16_t(le16(h + hdr::kStartPage) + 1);
    SYS_LoadRCBs();
    if (g.start_screen) {
        sr_put(sr::kUserScreen, g.start_screen);
        PAGE_current = 0;
        PGM_state = 5;
    } else {
        fault(0x800);
    }
}

void state_step() {
    switch (PGM_state) {
    case 6:
        if (sr_get(sr::kStatus) & kGraphicsInvalid) {
            fault(0x801);
            last_ctlr_status = kStatusReset;
            break;
        }
        [[fallthrough]];
    case 3:
        SYS_ClearCmd();
        last_ctlr_status = kStatusReset;
        if (!PGM_QuickCheck()) {
            sr_put(sr::kStatus, sr_get(sr::kStatus) | kGraphicsInvalid);
            fault(0x801);
            break;
        }
        PGM_state = 4;
        sr_put(sr::kStatus, sr_get(sr::kStatus) & uint16_t(~kGraphicsInvalid));
        [[fallthrough]];
    case 4:
        set_up();
        break;
    default:
        fault(0x801);
        break;
    }
    SYS_InitGFX();
    PAGE_mode = 0;
    KEY_Flush();
    KEY_FlushTouch();
}

void popup_check() {
    if (popupState >= 3) return;
    if (popupMode == 0) {
        last_ctlr_status = kStatusReset;
        return;
    }
    uint8_t status = uint8_t(SYS_GetOkLed() + 16 * SYS_GetRunLed());
    if (status == last_ctlr_status) return;
    uint8_t before = last_ctlr_status;
    last_ctlr_status = status;
    if (status == 0x11 && popupMode == 1) return;
    popupState = before == kStatusUnseen ? 1 : 2;
}

// True when the controller has just been switched to run mode.
bool run_mode_watch() {
    uint16_t mode = uint16_t(SYS_RunMode());
    if (mode == last_plc_mode) return false;
    last_plc_mode = mode;
    if (PGM_state != 5 || mode != sr::kModeRun) return false;
    OBJM_FlushUserScreens();
    OBJM_SwitchUserScreen(g.start_screen, 0);
    return true;
}

void backup_requests() {
    uint16_t v = sr_get(sr::kMenuOptions);
    if (v & 0x40) StoreBBRAM();
    if (v & 0x80) {
        EraseBackupData();
        sr_put(sr::kMenuOptions, sr_get(sr::kMenuOptions) & uint16_t(~0x80));
    }
    v = sr_get(sr::kMenuOptions) & uint16_t(~0x0C);
    if (crcsize_tbl[app::kRegFileSize] == 'Z') {
        v |= 0x08;
        if (crcsize_tbl[app::kRegFileSize + 4] != 0xFF) v |= 0x04;
    }
    sr_put(sr::kMenuOptions, v);
    bool media_ready = Sys_CFinitTime > 5;
    if (v & 0x100) {
        if (media_ready && !Clon_McInited) sr_put(sr::kSystemScreen, sr::kSysScreenClone);
    } else {
        Clon_McInited = 0;
    }
    if (v & 0x200) {
        if (media_ready && !Clon_McLinited) sr_put(sr::kSystemScreen, sr::kSysScreenClone);
    } else {
        Clon_McLinited = 0;
    }
}

void show_popup() {
    if (popupState) OBJM_CreatePopup(pDC, dialogObj, PGM_SetPopupState, popupState);
}

// Opens a user or forced screen when the selection changed; false when it
// failed (the display-fault state has been entered).
bool user_screens(bool run_switched) {
    uint16_t forced = sr_get(sr::kForcedScreen);
    if (forced == 0) {
        uint16_t u = sr_get(sr::kUserScreen);
        if (u >= kScreens) u = 0;
        if (PAGE_current != u || PAGE_mode != 1 || (run_switched && ExternalRegOnPage)) {
            close_page();
            TCH_TickleSaver();
            PAGE_current = u;
            PAGE_mode = 1;
            if (u != SYS_lastLocalUser) {
                SYS_lastLocalUser = u;
                OBJM_FlushUserScreens();
            }
            if (!open_page(tPage[u])) {
                fault(0x403);
                return false;
            }
        }
    } else {
        if (forced >= kScreens) forced = 0;
        if (PAGE_current != forced || PAGE_mode != 2) {
            close_page();
            TCH_TickleSaver();
            PAGE_current = forced;
            PAGE_mode = 2;
            if (!open_page(tPage[forced])) {
                fault(0x402);
                return false;
            }
        }
    }
    show_popup();
    return true;
}

bool system_screen(uint16_t v) {
    bool menu = v < 21 || v > 23;
    if (PAGE_current == v && PAGE_mode == 3) {
        if (menu) {
            int m = MENU_GetPage();
            if (m != v) {
                PAGE_current = uint16_t(m);
                sr_put(sr::kSystemScreen, uint16_t(m));
            }
        }
    } else {
        close_page();
        TCH_TickleSaver();
        PAGE_current = v;
        PAGE_mode = 3;
        const uint8_t *page = v == 21           ? calTchPage
                              : v == 22         ? BootPage
                              : v == 23         ? RecoverPage
                              : MENU_SetPage(v) ? sysMenuPage
                                                : badPage;
        if (!open_page(page)) {
            fault(0x401);
            return false;
        }
    }
    if (popupState) PGM_SetPopupState(0);
    return true;
}

// The display-fault page, entered once per fault.
void fault_page() {
    if (PAGE_mode != 4) {
        PAGE_mode = 4;
        PAGE_current = 0;
        close_page();
        OBJM_Init();
        SYS_ResetRCBs(1);
        SYS_LoadRCBs();
        SYS_ResetRCBs(0);
        SYS_LoadRCBs();
        open_page(faultPage);
    }
    show_popup();
    OBJM_Update(pDC);
}

} // namespace

void PGM_TheLoop(int) {
    host::trace("PGM_TheLoop");
    if (PGM_state != 1 && PGM_state != 5) state_step();
    SYS_Update();
    popup_check();
    bool run_switched = run_mode_watch();
    CFM_Update();
    if (Sys_AutoLoad == 1 && Sys_CFinitTime > 5) sr_put(sr::kSystemScreen, sr::kSysScreenAutoLoad);
    backup_requests();

    uint16_t v = PGM_ScreenChoice(sr_get(sr::kSystemScreen));
    sr_put(sr::kSystemScreen, v);
    if (v == 0 || (v == 23 && RecoverMode == 0)) {
        if (PGM_state == 1) {
            fault_page();
            return;
        }
        if (!user_screens(run_switched)) return;
    } else if (!system_screen(v)) {
        return;
    }

    OBJM_Update(pDC);
    ALRM_Update();
    USRMGR_Update();
    VIDM_Update();
    if (STR_Update()) PAGE_mode = 0;
}

void PGM_Create(int init) {
    host::trace("PGM_Create");
    if (init) {
        last_ctlr_status = kStatusUnseen;
        last_plc_mode = 0;
        popupState = SYS_Exception;
        SYS_Exception = 0;
    }
    PGM_state = 3;
}

void PGM_Destroy() {
    host::trace("PGM_Destroy");
    close_page();
    // A download rewrites the font table next: nothing may draw from it.
    Text_SetAppFonts(nullptr, 0);
    sr_put(sr::kBacklight, 255);
    PAGE_current = 0;
    BKLT_Ctrl(1, 255);
    TCH_ScreenSaver(0);
    TCH_BeepOvrd(0);
    PGM_state = 2;
}

void PGM_SetSlice(int) {
    // The loop reads the slice length from %SR167 itself.
    host::trace("PGM_SetSlice");
}

void PGM_SetPopupMode(int mode) {
    host::trace("PGM_SetPopupMode");
    popupMode = uint8_t(mode);
}

int PGM_GetPopupMode() {
    return popupMode;
}

void PGM_InitRunCtrl() {
    host::trace("PGM_InitRunCtrl");
    pRunRCB = SYS_LinkReg(sr_ref(sr::kRunMode), 16);
}

void PGM_SetPopupState(int state) {
    if (state == 4) {
        // The pop-up's run button starts the controller.
        uint8_t run[2] = {2, 0};
        SYS_WriteReg(pRunRCB, run, sizeof run);
        popupState = 0;
        return;
    }
    popupState = uint8_t(state);
}

uint16_t PGM_ScreenChoice(uint16_t v) {
    if (BootMode) {
        if (v != 21) v = 22;
    } else if (v == 22) {
        v = 0;
    }
    if (RecoverMode == 1 && v != 21) v = 23;
    return v;
}

int PGM_QuickCheck() {
    return le32(kesta_pgm_bl + 4) != 0;
}

void PGM_FaultPageRecover() {
    if (PAGE_current >= kScreens || !tPage[PAGE_current]) return;
    if (le16(tPage[PAGE_current]) != 0xFFFF) return;
    if (!pPgmHdr) return;
    sr_put(sr::kUserScreen, uint16_t(le16(pPgmHdr + hdr::kStartPage) + 1));
}

void PGM_DisplayFault(DC *dc) {
    switch (PGM_fault) {
    case 0x401:
        SystemMsg(dc, "DISPLAY FAULT", "Open System Screen");
        break;
    case 0x402:
        SystemMsg(dc, "DISPLAY FAULT", "Open Alarm Screen");
        break;
    case 0x403:
        SystemMsg(dc, "DISPLAY FAULT", "Open User Screen");
        break;
    case 0x800:
    case 0x801:
        if ((sr_get(sr::kMenuOptions) & 0x20) && Sys_AppLoad == 1)
            SystemMsg(dc, "Absent/Corrupt User Tables", "Initializing Auto-Load-Run...");
        else
            SystemMsg(dc, "No User Screens to Display",
                      PGM_fault == 0x800 ? "" : "User Graphics Invalid");
        break;
    default:
        SystemMsg(dc, "FAULT", "System Halted - View Diags");
        break;
    }
}

void Pgm_Reset() {
    PGM_state = 0;
    PGM_fault = 0;
    PAGE_current = PAGE_mode = 0;
    for (auto &p : tPage)
        p = badPage;
    pPgmHdr = pPGM_TextTbls = pPGM_Strings = pPGM_Bitmaps = pPGM_Alarms = pPGM_Fonts = nullptr;
    Text_SetAppFonts(nullptr, 0);
    pPGM_Video = pPGM_Scap = pPGM_Cfmgr = pPGM_ExtRef = pPGM_Menus = nullptr;
    PGM_TchSenAddr = 0;
    PGM_bShowAsterixForNodata = false;
    PAGE_num = 0;
    popupMode = popupState = last_ctlr_status = 0;
    last_plc_mode = 0;
    pRunRCB = nullptr;
    SYS_Exception = 0;
    g = State{};
}
