// Media request blocks: how a client that must not wait hands removable-media
// work to the media manager and collects the result by polling.
#pragma once
#include <cstdint>

// One client's media control block.
struct CFCB {
    uint32_t state; // 0 idle, 1 pending, 2 running, 4 done, 5 error, 6 cancelled
    uint32_t drive; // 0 SD card, 1 USB stick, 2 internal flash
    uint32_t code;  // request code
    uintptr_t arg1; // request-specific pointer or value
    uintptr_t arg2;
    uint32_t result; // valid in state 4
};
constexpr uint32_t kCfcbIdle = 0, kCfcbPending = 1, kCfcbRunning = 2, kCfcbDone = 4, kCfcbError = 5,
                   kCfcbCancelled = 6;
constexpr uint32_t kCfmReqScreenCapture = 21;
constexpr uint32_t kCfmFailed = 97; // result of a failed or cancelled request

// The blocks of the clients, one each, set up by CFM_Open.
constexpr int kCfcbCount = 14;
extern CFCB tCFCB[kCfcbCount];
extern CFCB *pUpdtCFCB, *pDpramCFCB, *pLoggerCFCB, *pDirCFCB, *pVidCFCB, *pReportCFCB, *pRecipeCFCB,
    *pAlarmCFCB, *pEmailCFCB, *pTrendCFCB, *pTrendReadCFCB, *pParviTrendReadCFCB,
    *pLoadSDFirmwareCFCB;
// The debug-log mailbox's block (the otherwise unused row 12).
extern CFCB *pDBGLoggerCFCB;

// File-request slots of the shared mailbox block `dpram` (byte offsets): u8
// request toggle, u8 answer toggle, u8 opcode, u8 drive, u32 result, then the
// parameters. A slot is busy while its toggles differ.
namespace mbox {
constexpr uint32_t kGeneric = 8464, kLogger = 8728, kReport = 8752, kRecipe = 8776;
constexpr uint32_t kAlarm = 8788, kEmail = 8812, kTrend = 74372, kTrendRead = 74396;
constexpr uint32_t kParviTrendRead = 74420, kDebugLog = 74444;
constexpr uint32_t kSlotBytes = 24; // the recipe slot is 12
constexpr uint32_t kRequest = 0, kAnswer = 1, kOpcode = 2, kDrive = 3, kResult = 4;
} // namespace mbox
// Nonzero while a safe removal of the removable media is in progress.
extern uint16_t removeSafe;

// Loads a request into the client's block (marks it pending).
void CFM_LoadReq(CFCB *block, uint32_t drive, uint32_t code, uintptr_t arg1, uintptr_t arg2);
// 2 while pending or running; otherwise 4 with the result (97 when the
// request failed or was cancelled), and the block is free again.
int CFM_PollReq(CFCB *block, uint32_t *result);
// 1 when the block is idle or finished (it is then made idle) so that a new
// request may be loaded; 0 while it runs.
int CFM_IsBlkReady(CFCB *block);

// The mailbox channels: each turns the pending mailbox command of its channel
// into a request on its own block; nonzero when a request was queued.
int CFM_LoadDpramReq();
int CFM_LoadLoggerReq();
int CFM_LoadReportReq();
int CFM_LoadRecipeReq();
int CFM_LoadAlarmReq();
int CFM_LoadEmailReq();
int CFM_LoadTrendReq();
int CFM_LoadTrendReadReq();
int CFM_ParviLoadTrendReadReq();
int CFM_LoadDBGLoggerReq();

// Clears the blocks and the client pointers (tests).
void CFM_ResetBlocks();

// Sets (1) or clears (0) the mark that the downloaded image is corrupt.
void CFM_SetDmemCorrupt(int on);
