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
#include "host/root.h"
#include "host/thread.h"
#include "host/trace.h"

#include <cstdio>
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


// Function keys, resets and backlight of the system services.
int SYS_KeyPut(uint8_t key) {
    sr_put(56, key);
    return 1;
}
int SYS_KeyEnabled() { return sr_get(173) == 0; }
void BKLT_Ctrl(int keep, int level) {
    trace("BKLT_Ctrl");
    if (!keep) {
        level = level > 100 ? 100 : level;
        sr_put(57, uint16_t(level));
    }
    host::make_dirs("/sys/class/backlight/mxs-bl");
    if (FILE *f = std::fopen(host::path("/sys/class/backlight/mxs-bl/brightness").c_str(), "w")) {
        std::fprintf(f, "%d", level & 0xFF);
        std::fclose(f);
    }
}

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
