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

void System_NotBuiltReset() {}
