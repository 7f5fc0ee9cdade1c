// Screen program manager loop: takes the loaded screen program into use and
// chooses, on every pass, the screen to show from %SR1 (user screen), %SR2
// (forced screen, overrides %SR1) and %SR3 (system screens).
#pragma once
#include <cstdint>

struct DC;

// 1 display fault, 2 stopped, 3 created, 4 being set up, 5 running, 6 download aborted.
extern uint8_t PGM_state;
// Why the display-fault page shows: 0x401 a system screen, 0x402 the forced
// screen, 0x403 a user screen failed to open; 0x800 no graphics or no start
// page; 0x801 no screen program or its graphics are invalid.
extern uint16_t PGM_fault;
// The screen open now (0 none) and how it was chosen: 0 nothing open (forces
// a reopen), 1 user screen, 2 forced screen, 3 system screen, 4 fault page.
extern uint16_t PAGE_current, PAGE_mode;
// Pages by screen number (page id + 1); screens without a page show badPage.
constexpr int kScreens = 1024;
extern const uint8_t *tPage[kScreens];

// Sections of the loaded screen program (null when absent).
extern uint8_t *pPgmHdr, *pPGM_TextTbls, *pPGM_Strings, *pPGM_Bitmaps, *pPGM_Alarms, *pPGM_Fonts;
extern uint8_t *pPGM_Video, *pPGM_Scap, *pPGM_Cfmgr, *pPGM_ExtRef, *pPGM_Menus;
extern uint32_t PGM_TchSenAddr;
extern bool PGM_bShowAsterixForNodata;
extern uint16_t PAGE_num;

// Controller-status pop-up: mode from %SR180 (0 none, 1 on changes except to
// OK and running, 2 on every change); state 0 none, 1 first report, 2 status
// changed, 3 and above set by others (suspends the check).
extern uint8_t popupMode, popupState, last_ctlr_status;
extern uint16_t last_plc_mode;
// Link to %SR5 for the pop-up's run button.
struct RCB;
extern RCB *pRunRCB;

void PGM_TheLoop(int unused);
void PGM_Create(int init);
void PGM_Destroy();
void PGM_SetSlice(int ms);
void PGM_SetPopupMode(int mode);
int PGM_GetPopupMode();
// The pop-up's answer: 4 starts the controller (run mode 2).
void PGM_SetPopupState(int state);
void PGM_InitRunCtrl();
// Non-zero when the screen program block holds data.
int PGM_QuickCheck();
// When the open screen is the error page, selects the start screen.
void PGM_FaultPageRecover();
// Draws the message of PGM_fault.
void PGM_DisplayFault(DC *dc);
// The system screen to show for a request v in %SR3: the boot installer (22)
// owns a loader-mode panel, the recovery screen (23) a panel in recovery; the
// touch calibration (21) is always allowed.
uint16_t PGM_ScreenChoice(uint16_t v);

void Pgm_Reset();
