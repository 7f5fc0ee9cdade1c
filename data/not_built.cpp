// Entry points of the data services that are not built yet.
#include "base/trace.h"
#include "data/cfm.h"
#include "data/cfm_int.h"
#include "data/data.h"
#include "platform/cf_api.h"
#include "platform/tick.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

#include <cstring>

namespace {
uint32_t g_status_frt; // tick of the last media status update
bool g_status_due;
} // namespace

uint8_t alarmBuf[kAlarmBufBytes];

void CFM_StatusCycleStart() {
    g_status_frt = FPGA_GetFrt();
    g_status_due = true;
}

// Until the media supervision is built, CFM_Update runs only the safe-removal
// request's mirror and the status cycle: once a second the card's status goes
// to %SR175, its free space and total size (kilobytes) to %SR176-%SR177 and
// %SR178-%SR179; with bit 0x200 of %SR154 set the card is searched for a
// firmware update.
namespace {
int (*g_firmware_search)(int drive);
} // namespace

void CFM_SetFirmwareSearch(int (*search)(int drive)) {
    g_firmware_search = search;
}

namespace {
void status_cycle() {
    uint32_t now = FPGA_GetFrt();
    if (!g_status_due && uint32_t(now - g_status_frt) < 10000) return;
    g_status_due = false;
    g_status_frt = now;
    uint32_t total = 0, free = 0;
    int16_t st = CF_GetStatus(0);
    if (st == 0) st = CF_GetFreeSpace(0, &total, &free);
    sr_put(sr::kMediaStatus, uint16_t(st));
    sr_put32(sr::kMediaFree, free);
    sr_put32(sr::kMediaTotal, total);
    if ((sr_get(sr::kFwUpdate) & 0x200) && g_firmware_search) g_firmware_search(0);
}
} // namespace

using host::trace;
void SMS_Start() {
    trace("SMS_Start");
}
void SMS_Stop() {
    trace("SMS_Stop");
}
void SMS_Scanner() {
    trace("SMS_Scanner");
}
void REPORT_Start() {
    trace("REPORT_Start");
}
void REPORT_Stop() {
    trace("REPORT_Stop");
}
void REPORT_Scanner() {
    trace("REPORT_Scanner");
}
void AlarmLogToCF_Start() {
    trace("AlarmLogToCF_Start");
}
void AlarmLogToCF_Stop() {
    trace("AlarmLogToCF_Stop");
}
void AlarmLogToCF_Scanner() {
    trace("AlarmLogToCF_Scanner");
}
void CFM_Init() {
    trace("CFM_Init");
}
void CFM_SetDmemCorrupt(int) {
    trace("CFM_SetDmemCorrupt");
}
void CFM_Update() {
    trace("CFM_Update");
    removeSafe = sr_get(sr::kMediaControl);
    status_cycle();
}
// The recipe block is not built: a recipe request fails.
int16_t RecipeBlock(void *) {
    return int16_t(kCfmFailed);
}
void ALRM_Init() {
    trace("ALRM_Init");
}
void ALRM_Update() {
    trace("ALRM_Update");
}
uint16_t EtnEmailInit(NxIpInstance *, NxPacketPool *) {
    trace("EtnEmailInit");
    return 0;
}
uint32_t EtnEmailConnCnt() {
    return 0;
}
int EtnEmailDiscnt() {
    trace("EtnEmailDiscnt");
    return 1;
}
void EtnEmailScan(int) {
    trace("EtnEmailScan");
}
// The recipe instruction's operands are its own: the scan stops there.
uint8_t RecipeLadderBlock(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}

void Data_NotBuiltReset() {
    std::memset(alarmBuf, 0, sizeof alarmBuf);
    g_status_frt = 0;
    g_status_due = false;
}
