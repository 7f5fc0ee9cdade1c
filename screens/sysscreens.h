// The screen manager's own screens that work the controller: the login form,
// the controller-status dialog, the fault page and the recovery screen. What
// they need of the controller (register links, the tick and the blink phase,
// the status lamps, the reset paths, the main loop's flags) is given by the
// top layer.
#pragma once
#include "screens/screens.h"

#include <cstddef>
#include <cstdint>

struct RCB;

struct SysScreenHooks {
    RCB *(*link_reg)(uint32_t link, uint32_t size); // SYS_LinkReg
    void (*read_reg)(void *dst, const RCB *rcb, uint32_t size);
    void (*beep)(int length);
    const uint16_t *tick;                    // sysTic: 10 ms ticks
    const uint8_t *flash;                    // sysFlash
    const uint8_t *gray_scale;               // SYS_fGrayScale
    int (*ok_led)();                         // SYS_GetOkLed: 0 off, 1 steady, 2 flashing
    int (*run_led)();                        // SYS_GetRunLed
    int (*popup_mode)();                     // PGM_GetPopupMode
    PopupCallback popup_state;               // PGM_SetPopupState: the dialog's answer
    int (*page_mode)();                      // PAGE_mode: 1 user, 2 alarm, 3 system screen
    int (*shown_screen)();                   // PAGE_current
    int (*write_sys)(int n, uint16_t value); // SYS_WriteSys
    void (*warm_reset)();                    // SYS_WarmReset: does not return on a panel
    void (*clear_all)();                     // SYS_VDG: erases the application, does not return
    void (*stop_watchdog)();                 // StopWatchdog
    void (*timer_isr)();                     // TimerISR: the 10 ms tick
    // Where the exception that reset the panel happened: 1 in the program
    // load from the card, 2 in the clone load, 0 elsewhere (its code address
    // into `address`). Null while nothing records it.
    int (*exception_site)(uint32_t *address);
    // The main loop's flags: BootMode, RecoverMode, ForceRecoveryDetectFlag,
    // DntTmeSlc (no time slice), Sys_ManualLoadKey, RecoverScreen.
    uint8_t *boot_mode, *recover_mode, *force_recovery, *no_slice, *manual_load, *recover_screen;
};
void SysScreens_SetHooks(const SysScreenHooks &hooks);
// Puts the screens' state and the writable copies of the built-in pages back
// to their start (tests).
void SysScreens_Reset();

// Set by the login form when a user logged in from it.
extern uint8_t ActionSuccess;

// The built-in pages whose object places itself on the screen (the error page
// and the recovery page) are shown from writable copies: Create writes the
// rectangle it chose, and on grey-scale panels the colour, into the copy, so
// that touches are hit-tested where the object is drawn. The records they are
// copied from stay as built. Returns the writable bytes [def, def + size), or
// null when they do not lie in such a copy.
uint8_t *BuiltIn_Writable(const uint8_t *def, size_t size);
void Pages_ResetCopies();
