// System services: hardware check, product identity, watchdog, battery, status
// LEDs, function keys, option outputs, backlight, warm reset and clear-all,
// the battery-backed memory of the screen objects, and the screen program's
// per-pass system update.
#pragma once
#include <atomic>
#include <cstdint>

struct TouchCal;

void SYS_HardwareCheck();
int SYS_Init(const char *product);
void StartWatchdog();
void StopWatchdog();
void TickleWatchdogReal();
// Long loops of the screen objects call this one; the watchdog thread keeps
// the hardware watchdog fed, so it does nothing.
void LogicTickleWatchdog();
void set_watchdog_time(int seconds);
int SYS_BattTest();

// Option outputs (GPIO lines of the processor). Menu option 0 follows bit 0
// of `on` (the caller passes %SR164 or its bit 0); menu option 1 is on for
// any non-zero `on`.
void SYS_MenuOption(int which, int on);
// Passes the option board's default-port codes on; other codes do nothing.
void SYS_MenuOption2(int code);
// Extended option line; bit 2 of %SR152 is kept in step with it.
void SYS_ExtendedOption(int on);
void SYS_Contrast(int level);
int SYS_GetModel();
void SYS_SetStatusLeds();

// Both save the registers and the battery-backed memory into both FRAM banks
// and reboot the system.
[[noreturn]] void SYS_WarmReset();
// Clear all: the application program and register files erased first.
[[noreturn]] void SYS_VDG();

// The screen program's share of the system services.
void SYS_InitGFX();
void SYS_Update();
int SYS_RunMode();
// Status LEDs: run 0 off, 1 running a program, 2 otherwise; OK 2 while the
// self-test has not passed or outputs are forced, 1 good, 0 a fault.
int SYS_GetRunLed();
int SYS_GetOkLed();

// Battery-backed memory of the screen objects: areas handed out from byte
// 128 on. SYS_AllocBBR gives the start of the next area, SYS_ExpandBBR
// reserves it (odd sizes rounded up); callers keep within the 4,096 bytes.
void SYS_InitBBR();
uint32_t SYS_AllocBBR();
void SYS_ExpandBBR(uint32_t size);
extern uint32_t oAllocatedBBR;
// Copies into bbram (nothing at 4,096 or beyond, cut at the end) and out of it.
void SYS_WriteCmd(const void *source, uint32_t offset, uint32_t length);
uint32_t SYS_ReadCmd(void *destination, uint32_t offset, uint32_t length);
void SYS_ClearCmd();

int SYS_GetMACID(uint8_t *destination); // the 124-byte identity record
int SYS_FlashWrite(const void *source, void *destination, uint32_t words);
int SYS_BlockErase(void *buffer, uint32_t size);
// The touch calibration record and its file.
int SYS_SaveParmTbl(const TouchCal *record);
TouchCal *SYS_GetParmTbl();

// Backlight: keep = 0 limits the level to 100 and stores it in %SR57 first.
void BKLT_Ctrl(int keep, int level);

// Function keys: %SR56 = key; keys 1-10 are %K1-%K10 (toggled when %SR33 is
// set), any other key releases the one remembered. Always 1.
int SYS_KeyPut(uint8_t key);
int SYS_KeyEnabled(); // the keypad is not locked by %SR173

// The system menu pages, copied from the screen manager's table by SYS_Init.
constexpr int kSystemMenus = 28;
extern const uint8_t *pSystemMenu[kSystemMenus];
extern int nSystemMenus;

// Watchdog descriptor, -1 while closed: opened and closed by the main thread
// (also on the power-down and crash paths) while the watchdog thread reads it.
extern std::atomic<int> wdog;
extern int32_t WatchDogDisable; // started with more than one argument
extern uint8_t SYS_fGrayScale;
extern char KernelRev[16];
extern uint32_t InitRdVer;
extern const char *product;

// Media request channels served by SYS_Update, in their order: the file
// mailbox, data logger, reports, recipes, alarms, e-mail, trend, trend read,
// web trend read, debug logger. State 0 idle, 2 waiting for the media manager.
constexpr int kSysChannels = 10;
uint16_t SYS_ChannelState(int channel);

// The protocol drivers' names and versions for the system menu, fetched when
// the screen program starts.
constexpr int kDrvInfoRows = 3;
extern char drvInfo[kDrvInfoRows][50];

// The system key's action (from the key ring).
void SYS_SystemKey(uint16_t action);

void Sys_Reset();
void SysUpdate_Reset();
