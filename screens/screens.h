// Screen manager and system screens.
#pragma once
#include "gdi/field.h"
#include "platform/dc.h"
#include <array>
#include <cstddef>
#include <cstdint>

void REC_ScreenInit();

// Object manager. A page is a record of the screen program (or a built-in
// one): i16 page id (screen number - 1, -1 on built-in pages), i16 fault
// marker (negative: the page shows the display-fault message), i16 number of
// object records, u16 background colour, u16 version, then the version's
// fields and the object records.
// ---- Object model ----
// An object is a definition record of the screen program (ObjDef: u16 type
// word, u32 flags, u16 state mask, u16 state register link, the inclusive
// rectangle as four i16, class fields; flag 0x1000 puts the record's own
// length in the u16 at offset 30), an instance carved from a pool while the
// object lives, and a class: a row of oDefTbl. Field offsets: objects/records.h.
constexpr int kObjTypes = 36; // types 36 and above have no class
// Record length of each object type: the length column of the class table
// (a record with flag 0x1000 carries its own).
// clang-format off
constexpr uint16_t kObjRecordLength[kObjTypes] = {
    32, 32, 66, 44, 56, 40, 58, 42, 32, 56, 56, 52, 32, 32, 56, 40, 32, 48,
    32, 32, 32, 46, 40, 32, 68, 32, 32, 32, 32, 32, 32, 32, 32, 72, 66, 32,
};
// The class of each type by name (types 22 and 23 share the NULL class).
constexpr const char *kObjClassName[kObjTypes] = {
    "SHAPE",  "TEXT",  "EDIT",   "MENU",    "BAR",   "PAGE",  "SWTCH",  "LITE",   "BMP",
    "METER",  "GRAPH", "SELCT",  "FAULT",   "KPAD",  "SLIDE", "NOTE",   "ALOG",   "ALM",
    "DIALOG", "CALTCH", "CFD",   "CF",      "NULL40", "NULL", "ROT",    "BkRstr", "Clone",
    "RSPop",  "ASCKPD", "BOOT",  "KEY",     "TRDPop", "RECOVER", "VIDPS", "LOGIN", "WIFI",
};
// clang-format on
constexpr size_t kObjHeader = 18;       // type word, flags, mask, link, rectangle
constexpr size_t kObjOwnLengthEnd = 32; // a record with its own length reaches past it

// Instance state bits.
constexpr uint16_t kInstShown = 0x1, kInstHidden = 0x2;

// Common header of every instance; class fields follow. Instances start on an
// 8-byte boundary of their pool, so classes may keep native pointers.
struct ObjInst {
    DC *dc;
    uint16_t state; // kInstShown, kInstHidden
    RECT area;      // inclusive: what a content paint redraws (the clip is set to it)
};

// The instance of an object that opens an entry keypad over itself (a morph
// of class 13 or 28) starts so: the keypads read the field being edited
// here, and send every key back to the object as a key message.
struct KeypadHost {
    ObjInst hdr;
    FLD fld;           // the field being edited, its text and cursor
    const void *label; // the label shown with the keypad (null: none)
    uint8_t span;      // characters the cursor highlight covers
    uint8_t font;      // value font (shown for 16-bit enumeration texts)
};

// The pop-up's instance: the common header, then the parameter and the
// callback OBJM_CreatePopup was given; the pop-up's class reads both.
using PopupCallback = void (*)(int choice);
struct PopupInst {
    ObjInst hdr;
    uint16_t param;
    PopupCallback callback;
};

// Messages and result flags of Signal.
namespace objmsg {
constexpr int kUpdate = 0x40, kFocus = 1, kClose = 2, kKey = 16, kTouchDown = 256, kTouchUp = 512;
constexpr uint16_t kWantFocus = 0x01, kRefuse = 0x02, kRepaint = 0x20, kBack = 0x80, kMorph = 0x400,
                   kShow = 0x1000, kHide = 0x2000, kErase = 0x4000, kDenied = 0x8000;
} // namespace objmsg

// Record flags the manager reads.
namespace objflag {
constexpr uint32_t kVisible = 0x1, kSelectable = 0x100, kMenuFocus = 0x400, kOwnLength = 0x1000,
                   kStatic = 0x2000, kTouch = 0x4000, kOverlap = 0x8000;
}

using ObjCreateFn = int16_t (*)(const uint8_t *def, ObjInst *inst);
using ObjPaintFn = void (*)(const uint8_t *def, ObjInst *inst, int mode);
using ObjSignalFn = uint16_t (*)(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg);
using ObjDestroyFn = void (*)(const uint8_t *def, ObjInst *inst);

// A class: its record length, its four operations, and the instance bytes a
// record needs (`size`, or `Need` of the record when set), which the manager
// checks against the pool before Create.
struct ObjClass {
    uint32_t length;
    ObjCreateFn Create;
    ObjPaintFn Paint;
    ObjSignalFn Signal;
    ObjDestroyFn Destroy; // may be null
    uint32_t size;
    uint32_t (*Need)(const uint8_t *def);
};

// A live object.
struct ObjCB {
    ObjCreateFn Create;
    ObjPaintFn Paint;
    ObjSignalFn Signal;
    ObjDestroyFn Destroy;
    const uint8_t *def;
    ObjInst *inst;
    uint8_t dirty;
    int16_t page; // screen number of a static object; 255 in a page entry reusing one
};

// The LOGIN record (type 34): fill colour, or with type bit 15 the record
// offset of the gradient extension; text colour (negative: the state
// colour); caption text, alignment and font; state colour; the font of the
// typed values and of the labels, boxes and status line. A record with its
// own length may carry four alternative text colours after the 66 bytes.
namespace rec::login {
constexpr size_t kFill = 18, kColour = 20, kCaption = 22, kAlign = 26, kFont = 27;
constexpr size_t kStateColour = 32, kFieldFont = 58, kBoxFont = 61, kLength = 66;
} // namespace rec::login

// Rows of the screen manager's own screens and panels.
extern const ObjClass MENU_Class, FAULT_Class, DIALOG_Class, CALTCH_Class, CFD_Class, BkRstr_Class,
    Clone_Class, BOOT_Class, RECOVER_Class, LOGIN_Class, WIFI_Class;

// The class table, by object type. Rows of classes not built yet are
// placeholders (no Create, Paint or Signal: no bytes used, nothing drawn,
// every answer 0). It starts with the rows of the screen manager's own
// screens; a type without a row (null) has no class, as types 36 and above.
// OBJM_SetClass installs a row (the top layer's wiring installs the object
// classes; tests install probe classes); the module's reset puts the rows
// installed by the wiring back.
extern std::array<const ObjClass *, kObjTypes> oDefTbl;
void OBJM_SetClass(int type, const ObjClass *row);

// Pools and tables (limits of the system).
constexpr int kObjTable = 1024;
constexpr uint32_t kDmemPool = 524028, kSmemPool = 262140, kPmemPool = 256, kKeyPool = 64;
constexpr int kMorphDepth = 16, kHistoryDepth = 16;

// What the object manager needs of the layers above it, set by the top layer.
struct ObjmHooks {
    void (*reset_rcbs)(int which);                // empty a register-link pool (0 the page's)
    void (*load_rcbs)();                          // link the page's registers
    void (*set_page_links)(const uint8_t *table); // the open page's link table (null: none)
    void (*load_scan_list)(const uint8_t *list);  // the page's dynamic scan list (null: none)
    void (*dmem_corrupt)(int on);                 // the download-image-corrupt mark
    int (*page_mode)();                           // 1 while a user screen is shown
    void (*write_screen)(uint16_t screen);        // %SR1, kept as the last local user screen
    void (*fault_page_recover)();                 // back with an empty history
    void (*beep)(int length);
    int (*installer_or_recovery)(); // the boot installer or the recovery mode is active
};
void OBJM_SetHooks(const ObjmHooks &hooks);

void OBJM_Init();
// Creates the static objects of a page; returns the address after the page's
// last object record (nullptr when the page cannot be walked).
const uint8_t *OBJM_ScanPage(DC *dc, const uint8_t *page);
// Builds and paints a page; 0 when it cannot be opened.
int OBJM_OpenPage(DC *dc, const uint8_t *page);
// What a page that cannot be shown paints instead (the screen program
// manager's fault page), set by the top layer.
void OBJM_SetFaultPage(void (*paint)(DC *dc));
void OBJM_DestroyPage();
int OBJM_Update(DC *dc);
void OBJM_FlushUserScreens();
void OBJM_SwitchUserScreen(int screen, int push);
// Puts one pop-up object over the page; 0 when refused (a pop-up or a morph
// is open, the type has no class, the table is full).
int OBJM_CreatePopup(DC *dc, const uint8_t *def, PopupCallback callback, int param);
void OBJM_DestroyPopup(DC *dc);
// The input callback of KEY_Check: one queued event (16 key, or a touch).
int OBJM_Keypress(int event, int a, int b);
// Asks for a morph (class `type`, instance `inst` or 0 to keep the object's)
// before a class's Signal answers 0x400.
void OBJM_MorfObj(int type, ObjInst *inst);
// The object under the topmost morph (its own class and instance); null while
// no morph is open.
ObjCB *OBJM_GetRootOCB();
void OBJM_PopUserScreen();
// A press on the slide-key handle: 1 when the panel was closed.
int OBJM_SlideKey();

// Bounded readers of what a record points at: a text of the current
// language (its first character; null unless its count before it and every
// line it counts, each ended by a code of 0 to 3, lie inside the language's
// segment), the 12-byte gradient extension at a record offset (null unless
// it lies inside the record), and a stored picture of the bitmap area.
const uint8_t *OBJM_Text(uint32_t offset);
const uint8_t *OBJM_GradientExt(const uint8_t *def, uint32_t offset);
// A stored picture: the offset points behind its 6-byte prefix (u8 coding,
// one byte, u32 coded length).
struct ObjPicture {
    uint8_t coding;
    const uint8_t *data; // the coded data
    uint32_t length;     // its coded length
};
// False unless the picture's prefix and its whole coded data lie inside the
// bitmap area in use.
bool OBJM_Bitmap(uint32_t offset, ObjPicture *out);
// True when the record's own length holds `size` bytes at `offset` (fields past
// the class length, such as alternative colours).
bool ObjDef_Holds(const uint8_t *def, size_t offset, size_t size);
// The address after the page's object records, or null when a record has no
// class, a length that cannot be, or runs out of the screen program (a
// built-in page: out of its own record).
const uint8_t *Page_End(const uint8_t *page);
// End of the bytes a page may use: the screen program's data, or a built-in
// page's own record; null for anything else.
const uint8_t *Page_Limit(const uint8_t *page);
const uint8_t *Page_BuiltInEnd(const uint8_t *page);

void Objm_Reset();
// The open page has a dynamic scan list of external registers.
extern uint8_t ExternalRegOnPage;

// Offset of the first object record of a page, and the length of an object
// record (0 for a type without a class).
size_t Page_FirstRecord(const uint8_t *page);
size_t ObjDef_Length(const uint8_t *def);
size_t ObjClass_RecordLength(int type);

// Built-in pages: the error page of every screen number without a page, the
// display-fault page, the system menu, touch calibration, boot installer and
// recovery pages; and the controller-status dialog's definition.
extern const uint8_t *const badPage,
    *const faultPage, *const sysMenuPage, *const calTchPage, *const BootPage, *const RecoverPage;
extern const uint8_t *const dialogObj;
// The slide-key panel's definition.
extern const uint8_t *const KySldObj;

// System menu: the table of its pages (copied by the system services), the
// variant of page 9 and the two variants of enumeration 15 that an option
// board with Ethernet swaps in, and the enumerations in use.
extern const uint8_t *const pBasicMenu[28];
extern const uint8_t *const sysMenu9A;
extern const uint8_t *const sysEnum15, *const sysEnum15Enet;
extern const uint8_t *pSystemEnum[18];
int MENU_GetPage();
int MENU_SetPage(int n);
// What the menu object needs of the controller, set by the top layer.
struct RCB;
struct MenuHooks {
    RCB *(*link_reg)(uint32_t link, uint32_t size);
    void (*chg_link)(RCB *rcb, uint32_t link, uint32_t size);
    void (*read_reg)(void *dst, const RCB *rcb, uint32_t size);
    void (*write_reg)(const RCB *rcb, const void *src, uint32_t len);
    int (*write_sys)(int n, uint16_t value); // SYS_WriteSys
    int (*run_led)();                        // SYS_GetRunLed: 0 off, 1 on, 2 flashing
    int (*ok_led)();                         // SYS_GetOkLed
    const uint8_t *const *page_table;        // pSystemMenu
    uint8_t *const *menus;                   // pPGM_Menus: the application's menu table
    const int *pages;                        // nSystemMenus
    const uint8_t *flash;                    // sysFlash
    const uint16_t *tick;                    // sysTic, 10 ms
    const uint8_t *gray_scale;               // SYS_fGrayScale
    int (*page_mode)();                      // PAGE_mode: 1 while a user screen is shown
    void (*beep)(int length);
};
void MENU_SetHooks(const MenuHooks &hooks);
// Puts the menu's module state back to its start values (tests).
void Menu_Reset();

// Strings and languages, users.
void STR_Init(uint32_t language_register, uint32_t languages);
int STR_Update();
void USRMGR_Init();
void USRMGR_Update();
// 1 when `level` is 0, no user table is present, or the logged-in user's
// level is at least `level`.
int UserGotAccess(int level);
// Restarts the inactivity time of the logged-in user.
void USRMGR_resetTimeout();
// 1 and the user logged in, or 0.
int ValidateUser(const char *name, const char *password);
void USRMGR_logout();

// The register links of the user table, for the web server: the table's
// byte 8 (null while no table is present), five links per user slot (name,
// password, level, logged-in time counter, logged-in name), the slot of the
// logged-in user.
struct RCB;
constexpr int kUserSlots = 255;
struct UsrSlot {
    RCB *name, *password, *level, *counter, *loginName;
};
struct UsrInfo {
    const uint8_t *table;
    UsrSlot slot[kUserSlots];
    uint16_t current;
};
extern UsrInfo usrInfo;

// The logged-in user.
struct UserRecord {
    char name[17];
    char password[11];
    uint8_t level;
};
extern UserRecord CurUser;
extern uint8_t UserLoggedIn, UserAccessLevel, IsUserConfigValid;

// What the user manager and the language selection need of the controller's
// register links and of the web server, set by the top layer.
struct UserHooks {
    RCB *(*link_reg32)(uint32_t link, uint32_t size);
    void (*read_reg)(void *dst, const RCB *rcb, uint32_t size);
    void (*write_reg)(const RCB *rcb, const void *src, uint32_t len);
    void (*reset_rcbs)(int which);  // selects and empties a link pool (3 the users')
    void (*select_rcbs)(int which); // selects a pool as it is
    bool (*iec_enumerated)();       // the IEC runtime has enumerated its variables
    uint8_t *web_state;             // ParviServerState: 0 stop requested, 4 running
    bool (*web_user_logged_in)();
    void (*web_login_time)(); // parvi_update_user_login_time
};
void USRMGR_SetHooks(const UserHooks &hooks);
void Users_Reset();
void Language_Reset();

// Clone screen: set while a make-clone or load-clone started by its system
// bit runs.
extern uint8_t Clon_McInited, Clon_McLinited;

// Puts the state of the screen manager's entry points that are not built yet
// back to its start values (tests). The fault page set by
// OBJM_SetFaultPage is wiring and stays.
void Screens_NotBuiltReset();

// Boot installer: what it needs of the controller, of the board's commands
// and of its mounts, set by the top layer. Commands are the board's command
// lines (recorded; 0 success); mount and umount2 answer 0 or the errno.
struct BootHooks {
    int (*shell)(const char *cmdline);
    // Runs a command and hands its output over line by line.
    int (*shell_lines)(const char *cmdline, void (*line)(void *ctx, const char *text), void *ctx);
    int (*mount)(const char *device, const char *mount_point, const char *fstype);
    int (*umount2)(const char *mount_point, int flags);
    // The entries of "/sys/block", in name order, each cut at `size` - 1
    // characters (the count found, at most `max`).
    int (*block_devices)(char (*names)[32], int max);
    void (*no_time_slice)(); // DntTmeSlc: no sliced pass while the screen is up
    void (*watchdog_time)(int seconds);
    void (*beeper_off)();
    // The stored touch calibration; 0 when there is none (nothing to keep).
    int (*read_touch_cal)(int32_t record[6]);
    void (*save_touch_cal)(const int32_t record[6]);
    void (*get_mac_id)(uint8_t identity[124]);
    int (*save_mac_id)(uint8_t *identity, int index);
    int (*delete_program)();
    int (*del_auto_reg_file)();
    int (*clr_reg_file)();
};
void BOOT_SetHooks(const BootHooks &hooks);
// The installer's screen state (1 looking for the medium ... 6 result; 0
// while it is not up) and its result lines, one per line of `out`.
int BOOT_ScreenState();
// The command lines of an installer's "path.info": each ended by a carriage
// return (or the end), control characters dropped, empty ones left out, each
// cut at 1035 characters.
void BOOT_PathInfoLines(const char *data, size_t size, void (*line)(void *ctx, const char *text),
                        void *ctx);
void BOOT_ResultText(char *out, size_t size);
void Boot_Reset();
// The Wi-Fi screen's working state.
void Wifi_Reset();
