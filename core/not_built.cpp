// Entry points of controller-core services that are not built yet. Each one
// records its call and returns the "nothing there" value; the work that
// builds the service replaces its entry here.
#include "core/appfile.h"
#include "core/backup.h"
#include "core/fileinst.h"
#include "core/ladder.h"
#include "core/ladder_fam.h"
#include "core/ladder_ops.h"
#include "core/oem.h"
#include "core/pgm.h"
#include "core/plc_reg.h"
#include "core/reglink.h"
#include "core/sys.h"
#include "core/touch.h"
#include "host/shell.h"
#include "host/thread.h"
#include "host/trace.h"

#include <cstring>

using host::trace;

// System services still to come.
void SYS_MenuOption(int, int) { trace("SYS_MenuOption"); }
void SYS_MenuOption2(int) { trace("SYS_MenuOption2"); }
void SYS_ExtendedOption(int) { trace("SYS_ExtendedOption"); }
// Records the request and returns; the real one saves and reboots.
void SYS_WarmReset() { trace("SYS_WarmReset"); }
// Erases the application's files and returns; the real one also rewrites FRAM
// and reboots.
void SYS_VDG() {
    trace("SYS_VDG");
    DeleteProgram();
    DelAutoRegFile();
    ClrRegFile();
    host::shell("sync");
}
void SYS_InitGFX() { trace("SYS_InitGFX"); }
void SYS_Update() { trace("SYS_Update"); }
void SYS_ClearCmd() { trace("SYS_ClearCmd"); }
void SYS_InitBBR() { trace("SYS_InitBBR"); }
void BKLT_Ctrl(int, int) { trace("BKLT_Ctrl"); }


// Touch, beeper, screen saver, 10 ms tick.
void TimerISR() { trace("TimerISR"); }
void TCH_Beep(int) { trace("TCH_Beep"); }
void TCH_BeepEnable(int) { trace("TCH_BeepEnable"); }
void TCH_ScreenSaver(int) { trace("TCH_ScreenSaver"); }
void TCH_TickleSaver() { trace("TCH_TickleSaver"); }
void TCH_BeepOvrd(int) { trace("TCH_BeepOvrd"); }

// File instructions and media workers.
pthread_t RmDeleteOpsThreadId, RmDelAllOpsThreadId, RmDelFromObjOpsThreadId, RmFormatOpsThreadId;

// Ladder instruction families not built yet: they skip their operands when
// their shape is known and leave the power flow as it is; an instruction
// whose operands only its handler knows stops the scan.
namespace {
uint8_t skip_after_opcode(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
uint8_t skip_at_opcode(uint32_t *pc, uint8_t power) {
    ++*pc;
    return skip_after_opcode(pc, power);
}
} // namespace
uint8_t File_Access(uint32_t *pc, uint8_t p) { return skip_at_opcode(pc, p); }
void File_Init() { trace("File_Init"); }
void File_StopWorkers() { trace("File_StopWorkers"); }
