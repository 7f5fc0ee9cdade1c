// Entry points of controller-core services that are not built yet. Each one
// records its call and returns the "nothing there" value; the work that
// builds the service replaces its entry here.
#include "base/trace.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "platform/fileinst.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/backup.h"
#include "system/oem.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "system/resets.h"
#include "system/sys.h"
#include "system/touch.h"

#include <cstdio>
#include <cstring>

using host::trace;

// File instructions and media workers.

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
uint8_t File_Access(uint32_t *pc, uint8_t p) {
    return skip_at_opcode(pc, p);
}
void File_Init() {
    trace("File_Init");
}
void File_StopWorkers() {
    trace("File_StopWorkers");
}

void System_NotBuiltReset() {}
