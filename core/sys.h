// System services: hardware check, product identity, watchdog, battery, options.
#pragma once
#include <cstdint>

void SYS_HardwareCheck();
int SYS_Init(const char *product);
void StartWatchdog();
void StopWatchdog();
void TickleWatchdogReal();
void set_watchdog_time(int seconds);
int SYS_BattTest();
void SYS_MenuOption(int which, int on);
void SYS_MenuOption2(int code);
void SYS_ExtendedOption(int on);
void SYS_Contrast(int level);
// Saves the registers and restarts the system; does not return on the board.
void SYS_WarmReset();
// Clear all: the application program and register files erased, then a reboot.
void SYS_VDG();
// The screen program's share of the system services.
void SYS_InitGFX();
void SYS_Update();
int SYS_RunMode();
// Status LEDs: run 0 off, 1 running a program, 2 otherwise; OK 2 while the
// self-test has not passed or outputs are forced, 1 good, 0 a fault.
int SYS_GetRunLed();
int SYS_GetOkLed();
void SYS_ClearCmd();
void SYS_InitBBR();
// Backlight: keep = 0 limits the level to 100 and stores it in %SR57 first.
void BKLT_Ctrl(int keep, int level);

extern int wdog;                 // watchdog descriptor, -1 while closed
extern int32_t WatchDogDisable;  // started with more than one argument
extern uint8_t SYS_fGrayScale;
extern char KernelRev[16];
extern uint32_t InitRdVer;
extern uint16_t PersistentStatus; // the processor's persistent status word
extern const char *product;
void Sys_Reset();

// Function-key registers, keypad, resets and backlight.
int SYS_KeyPut(uint8_t key); // 1 when the key was taken
int SYS_KeyEnabled();
