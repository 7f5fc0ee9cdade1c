// Screen manager and system screens.
#pragma once
#include <cstddef>
#include <cstdint>

struct DC;

void REC_ScreenInit();

// Object manager. A page is a record of the screen program (or a built-in
// one): i16 page id (screen number - 1, -1 on built-in pages), i16 fault
// marker (negative: the page shows the display-fault message), i16 number of
// object records, u16 background colour, u16 version, then the version's
// fields and the object records.
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
// The controller-status pop-up: `callback` receives the operator's choice.
using PopupCallback = void (*)(int choice);
int OBJM_CreatePopup(DC *dc, const uint8_t *def, PopupCallback callback, int param);
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

// System menu: the table of its pages (copied by the system services).
extern const uint8_t *const pBasicMenu[28];
int MENU_GetPage();
int MENU_SetPage(int n);

// Strings and languages, users.
void STR_Init(uint32_t language_register, uint32_t languages);
int STR_Update();
void USRMGR_Init();
void USRMGR_Update();

// Clone screen: set while a make-clone or load-clone started by its system
// bit runs.
extern uint8_t Clon_McInited, Clon_McLinited;

// Puts the state of the screen manager's entry points that are not built yet
// back to its start values (tests). The fault page set by
// OBJM_SetFaultPage is wiring and stays.
void Screens_NotBuiltReset();
