// Crash handling: a fatal signal writes the crash log, takes over the display
// with the crash screen and, after the operator's answer or a 59-second
// countdown, erases the application or warm-resets the unit.
#pragma once

#include <cstdint>

// Handler of SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT; never returns.
void ExceptionISR(int sig);
// Touch callback of the crash screen's wait: a press (event 512) is stored in
// TchX/TchY and gives 1; any other event gives 0.
int ExcpTch(int event, int x, int y);
extern int TchX, TchY;
// A crash report waits to be shown by the controller-status pop-up.
extern uint8_t SYS_Exception;

// The steps of the handler, so that they can be driven one by one.
// Draws the whole crash screen for `sig` with the count at 59 and shows it.
void Crash_DrawScreen(int sig);
// Redraws the countdown band with `seconds` and shows it.
void Crash_DrawCount(int seconds);
// Draws "Yes" (yes = 1) or "No" sunken and shows it.
void Crash_PressButton(int yes);
// The wait of the crash screen: counts down from 59 on the 100 us tick while
// polling touches. Answers which way it ended.
enum CrashAnswer { kCrashTimeout = 0, kCrashYes = 1, kCrashNo = 2 };
CrashAnswer Crash_Wait();
// Replaces the poll of the touch screen and key queue (TimerISR, then
// KEY_Check with ExcpTch) during the wait; nullptr restores it. The poll
// returns 1 when a touch was stored in TchX/TchY.
void Crash_SetPoll(int (*poll)());

// "crash SIGNAME" of the control socket (test hooks only).
void Crash_CtlRegister();
void Crash_Reset();
