// Entry points of the data services that are not built yet.
#include "base/trace.h"
#include "data/cfm.h"
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

CFCB tCFCB[kCfcbCount];
CFCB *pUpdtCFCB, *pDpramCFCB, *pLoggerCFCB, *pDirCFCB, *pVidCFCB, *pReportCFCB, *pRecipeCFCB,
    *pAlarmCFCB, *pEmailCFCB, *pTrendCFCB, *pTrendReadCFCB, *pParviTrendReadCFCB,
    *pLoadSDFirmwareCFCB, *pDBGLoggerCFCB;
uint16_t removeSafe;
uint8_t alarmBuf[kAlarmBufBytes];

void CFM_ResetBlocks() {
    for (CFCB &b : tCFCB)
        b = CFCB{};
    CFCB **rows[kCfcbCount] = {
        &pUpdtCFCB,      &pDpramCFCB,          &pLoggerCFCB,    &pDirCFCB,           &pVidCFCB,
        &pReportCFCB,    &pRecipeCFCB,         &pAlarmCFCB,     &pEmailCFCB,         &pTrendCFCB,
        &pTrendReadCFCB, &pParviTrendReadCFCB, &pDBGLoggerCFCB, &pLoadSDFirmwareCFCB};
    for (int i = 0; i < kCfcbCount; ++i)
        if (rows[i]) *rows[i] = &tCFCB[i];
    removeSafe = 0;
}

// Until the media manager is built there is no request server: a loaded
// request ends at once as failed, so that its client sees the end of it and
// goes on (nothing is written to the media).
void CFM_LoadReq(CFCB *b, uint32_t drive, uint32_t code, uintptr_t arg1, uintptr_t arg2) {
    host::trace("CFM_LoadReq");
    if (!b) return;
    b->drive = drive;
    b->code = code;
    b->arg1 = arg1;
    b->arg2 = arg2;
    b->result = kCfmFailed;
    b->state = kCfcbDone;
}
int CFM_PollReq(CFCB *b, uint32_t *result) {
    if (!b) return 4;
    switch (b->state) {
    case kCfcbPending:
    case kCfcbRunning:
        return 2;
    case kCfcbDone:
        b->state = kCfcbIdle;
        if (result) *result = b->result;
        return 4;
    case kCfcbError:
        b->state = kCfcbIdle;
        break;
    default:
        break;
    }
    if (result) *result = kCfmFailed;
    return 4;
}
int CFM_IsBlkReady(CFCB *b) {
    if (!b || b->state == kCfcbRunning || b->state == kCfcbCancelled) return 0;
    b->state = kCfcbIdle;
    return 1;
}
// No mailbox command is served yet: each loader takes its slot's request
// (outside a safe removal) and loads nothing, so that the poll of the idle
// block answers it as failed (97), as for an opcode the slot does not take.
namespace {
int take_request() {
    return removeSafe ? 0 : 1;
}
} // namespace
int CFM_LoadDpramReq() {
    return take_request();
}
int CFM_LoadLoggerReq() {
    return take_request();
}
int CFM_LoadReportReq() {
    return take_request();
}
int CFM_LoadRecipeReq() {
    return take_request();
}
int CFM_LoadAlarmReq() {
    return take_request();
}
int CFM_LoadEmailReq() {
    return take_request();
}
int CFM_LoadTrendReq() {
    return take_request();
}
int CFM_LoadTrendReadReq() {
    return take_request();
}
int CFM_ParviLoadTrendReadReq() {
    return take_request();
}
int CFM_LoadDBGLoggerReq() {
    return take_request();
}

void CFM_Open() {
    host::trace("CFM_Open");
    CFM_ResetBlocks();
    CF_Init();
    g_status_frt = FPGA_GetFrt();
    g_status_due = true;
}

// Until the media manager is built, only the status cycle of its supervision
// runs: once a second the card's status goes to %SR175, its free space and
// total size (kilobytes) to %SR176-%SR177 and %SR178-%SR179; with bit 0x200
// of %SR154 set the card is searched for a firmware update.
namespace {
int (*g_firmware_search)(int drive);
} // namespace

void CFM_SetFirmwareSearch(int (*search)(int drive)) {
    g_firmware_search = search;
}

void CFM_TheLoop(int) {
    host::trace("CFM_TheLoop");
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

using host::trace;
void LOG_Start() {
    trace("LOG_Start");
}
void LOG_Stop() {
    trace("LOG_Stop");
}
void LOG_Update() {
    trace("LOG_Update");
}
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
void DLOG_Update() {
    trace("DLOG_Update");
}
void CFM_Init() {
    trace("CFM_Init");
}
void CFM_Update() {
    trace("CFM_Update");
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
    CFM_ResetBlocks();
    std::memset(alarmBuf, 0, sizeof alarmBuf);
    g_status_frt = 0;
    g_status_due = false;
}
