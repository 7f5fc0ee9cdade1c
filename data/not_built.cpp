// Entry points of the data services that are not built yet.
#include "core/fwupdate.h"
#include "core/ladder_ops.h"
#include "core/plc_reg.h"
#include "core/tick.h"
#include "data/data.h"
#include "host/trace.h"
#include "platform/cf_api.h"

namespace {
uint32_t g_status_frt; // tick of the last media status update
bool g_status_due;
} // namespace

void CFM_Open() {
    host::trace("CFM_Open");
    CF_Init();
    g_status_frt = FPGA_GetFrt();
    g_status_due = true;
}

// Until the media manager is built, only the status cycle of its supervision
// runs: once a second the card's status goes to %SR175, its free space and
// total size (kilobytes) to %SR176-%SR177 and %SR178-%SR179; with bit 0x200
// of %SR154 set the card is searched for a firmware update.
void CFM_TheLoop(int) {
    host::trace("CFM_TheLoop");
    uint32_t now = FPGA_GetFrt();
    if (!g_status_due && uint32_t(now - g_status_frt) < 10000) return;
    g_status_due = false;
    g_status_frt = now;
    uint32_t total = 0, free = 0;
    int16_t st = CF_GetStatus(0);
    if (st == 0) st = CF_GetFreeSpace(0, &total, &free);
    sr_put(175, uint16_t(st));
    sr_put32(176, free);
    sr_put32(178, total);
    if (sr_get(154) & 0x200) GetFirmwareDir(0);
}

using host::trace;
void LOG_Start() { trace("LOG_Start"); }
void LOG_Stop() { trace("LOG_Stop"); }
void LOG_Update() { trace("LOG_Update"); }
void SMS_Start() { trace("SMS_Start"); }
void SMS_Stop() { trace("SMS_Stop"); }
void SMS_Scanner() { trace("SMS_Scanner"); }
void REPORT_Start() { trace("REPORT_Start"); }
void REPORT_Stop() { trace("REPORT_Stop"); }
void REPORT_Scanner() { trace("REPORT_Scanner"); }
void AlarmLogToCF_Start() { trace("AlarmLogToCF_Start"); }
void AlarmLogToCF_Stop() { trace("AlarmLogToCF_Stop"); }
void AlarmLogToCF_Scanner() { trace("AlarmLogToCF_Scanner"); }
void DLOG_Update() { trace("DLOG_Update"); }
void CFM_Init() { trace("CFM_Init"); }
void CFM_Update() { trace("CFM_Update"); }
void ALRM_Init() { trace("ALRM_Init"); }
void ALRM_Update() { trace("ALRM_Update"); }
void EtnEmailScan(int) { trace("EtnEmailScan"); }
// The recipe instruction's operands are its own: the scan stops there.
uint8_t RecipeLadderBlock(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
