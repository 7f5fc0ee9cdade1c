// Backup and restore screen (class BkRstr, system-menu page 17): asks for and
// confirms a backup of the register image, its restore (which resets the
// panel) or its erasure, and leaves the work to the controller core.
#pragma once

// What the screen needs of the controller core, set by the top layer.
struct BkRstrHooks {
    int (*store)();           // StoreBBRAM
    void (*restore)(int);     // RestoreBBRAM: resets the panel when the backup is valid
    int (*erase)();           // EraseBackupData
    void (*beep)(int length); // TCH_Beep
};
void BkRstr_SetHooks(const BkRstrHooks &hooks);

// The screen's step (0 main buttons, 1 confirmation) and chosen action (1
// backup, 2 restore, 3 clear), for tests.
struct BkRstrView {
    int step, action;
    bool ok_only;
};
BkRstrView BkRstr_View();

void BkRstr_Reset();
