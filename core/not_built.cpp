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
