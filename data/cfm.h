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
// Request codes.
namespace cfm {
constexpr uint32_t kOpen = 0, kRead = 1, kWrite = 2, kClose = 3, kRename = 4, kDelete = 5;
constexpr uint32_t kFormat = 6, kMakeDir = 7, kRemoveDir = 8, kChangeDir = 9, kListDir = 10;
constexpr uint32_t kDeleteListing = 11, kStatus = 12, kFreeSpace = 13, kReadFile = 14;
constexpr uint32_t kWriteFile = 15, kPgmHeader = 16, kValidatePgm = 17, kLoadPgm = 18;
constexpr uint32_t kRelease = 19, kSavePgm = 20, kCapture = 21, kReadPicture = 22, kCopy = 23;
constexpr uint32_t kWait = 24, kRecipe = 25, kFirmwareDir = 27;
// Not a request of any client: the loader of a slot whose request it refuses
// before anything runs loads this, with the answer as argument 1.
constexpr uint32_t kRefused = 0x100;
} // namespace cfm
constexpr uint32_t kCfmReqScreenCapture = cfm::kCapture;
constexpr uint32_t kCfmFailed = 97; // result of a failed or cancelled request

// What requests 0-3 find at argument 1 (native: the request queue lives in
// memory only). Open: file, path, mode; read and write: file, buffer, length,
// count; close: file.
struct FxFile;
struct CfmFileArgs {
    FxFile *file;
    const char *path;
    uint32_t mode;
    void *buffer;
    uint32_t length;
    uint32_t *count;
};

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

// The request message of the queue "CFI_REQUEST" (the reply is two words: 0,
// then the result).
struct CfmRequestMsg {
    uint32_t drive, code;
    uint64_t arg1, arg2;
};
constexpr uint32_t kCfmRequestWords = sizeof(CfmRequestMsg) / 4;
static_assert(kCfmRequestWords == 6);

// What the media manager reaches of the layers above it, set by the top layer.
// The queue calls return the queue's status (0 done, 10 empty, others errors).
struct CfmHooks {
    uint32_t (*send_request)(const CfmRequestMsg *msg);
    uint32_t (*receive_request)(CfmRequestMsg *msg);
    uint32_t (*send_reply)(const uint32_t *msg);
    uint32_t (*receive_reply)(uint32_t *msg);
    void (*debug_msg)(const char *text);
    // A program load (request 18) was sent: no time slice may interrupt it.
    void (*program_load_sent)();
    // One request served (counts towards the manual load's start).
    void (*request_served)();
    // The shared mailbox block.
    uint8_t *dpram;
    uint32_t dpram_bytes;
    // The current screen page (macro $p).
    int (*page)();
};
void CFM_SetHooks(const CfmHooks &hooks);
const CfmHooks &CFM_Hooks();

// The master command channel to the controller side (request 16); 0 = not
// wired. Init gives its set-up status; send a command with its bytes gives the
// answer byte; receive one data packet gives the receive status (0xFF good)
// and its length.
struct CfmMasterChannel {
    int (*init)(uint16_t target);
    int (*send)(uint8_t command, const uint8_t *bytes, uint32_t count);
    int (*receive)(uint8_t *buffer, uint32_t size, uint32_t *length, uint8_t ack);
    void (*release)();
    void (*set_error)(int error);
};
void CFM_SetMasterChannel(const CfmMasterChannel &channel);

// Loads a request into the client's block (marks it pending).
void CFM_LoadReq(CFCB *block, uint32_t drive, uint32_t code, uintptr_t arg1, uintptr_t arg2);
// 2 while pending or running; otherwise 4 with the result (97 when the
// request failed or was cancelled), and the block is free again.
int CFM_PollReq(CFCB *block, uint32_t *result);
// 1 when the block is idle or finished (it is then made idle) so that a new
// request may be loaded; 0 while it runs.
int CFM_IsBlkReady(CFCB *block);
// A running block becomes cancelled (its late result is dropped); any other
// becomes idle.
void CFM_CancelReq(CFCB *block);
// 1 when no block is pending, running or cancelled.
int CFM_IsAllHalted();
// Fills a screen's status block for the drive in its fifth word; 0 for a
// drive other than 0-2.
int CFM_GetParm(uint8_t *status_block);
uint8_t CFM_IsDmemCorrupt();
void CFM_SetDmemCorrupt(uint8_t flag);
void CFM_LoadPgmException();
void CFM_LoadDatException();
void CFM_ClearSafe();
// Write and close requests taken from the file mailboxes.
uint32_t CFM_WriteCloseCount();

// Objects that the clients of the mailbox slots hand over (file records,
// buffers, names, count words): a slot's 32-bit parameter is the object's
// index here, 0 = none. An object keeps its index until the reset; full: 0.
uint32_t CFM_ObjectIndex(const void *object);
void *CFM_Object(uint32_t index);

// The last directory listing (filled by the listing request), which request
// 11 deletes.
struct CfmListEntry {
    char name[256];
    char extension[15];
    uint8_t attributes;
};
constexpr int kCfmListMax = 512;
struct CfmListing {
    char base[512];
    int count;
    CfmListEntry entry[kCfmListMax];
};
extern CfmListing cfmListing;

// The data logger's client of its slot (also the debug log's).
struct FxFile;
int16_t CFDL_GetStatus();
int16_t CFDL_GetFreeSpace(int ignored, uint32_t *total, uint32_t *free);
int16_t CFDL_MakeDir(int drive, const char *path);
int16_t CFDL_Open(FxFile *file, const char *path, uint32_t mode);
int16_t CFDL_Write(FxFile *file, const void *data, uint32_t length, uint32_t *count);
int16_t CFDL_Close(FxFile *file);
int16_t CFDL_Result();

// File requests of the file instructions through the generic slot: flags
// bit 7 clear posts, set polls (the low bits are the drive). -3 the slot is
// busy, -2 posted or pending, 86 a name or data that do not fit, else the
// card status of the answer.
struct CsvFileRequest;
int16_t CF_DpramReadFile(uint32_t flags, CsvFileRequest *req);
int16_t CF_DpramWriteFile(uint32_t flags, CsvFileRequest *req);
int16_t CF_DpramRenameFile(uint32_t flags, const char *const *names);
int16_t CF_DpramDeleteFile(uint32_t flags, const char *const *names);
int16_t CF_DpramFormatCard(uint32_t flags);
int16_t CF_DpramCopyFile(uint32_t flags, const char *const *names);
constexpr uint32_t kDpramPoll = 0x80;
// The most values a request's count lets the file layer move: by column the
// high half counts them.
inline uint32_t CsvValues(uint32_t count) {
    uint32_t lo = count & 0xFFFF, hi = count >> 16;
    return lo > hi ? lo : hi;
}
constexpr uint32_t kDpramDataArea = 268, kDpramDataBytes = 8192;
void CF_DpramReset();

// Expands the date, page and counter macros of a file-name pattern in place
// (at most `size` bytes, NUL included).
void ConvertMeta(char *pattern, uint32_t size = 512);
// The screen-capture counters that the counter macros read.
struct CfmMetaCounter {
    uint32_t value, limit;
    uint16_t flags; // bit 0 step on each read, bit 1 wrap to 0 at the limit
};
extern CfmMetaCounter cfmMetaCounter[4];
// True when a path has a ".." component.
bool CFM_HasDotDot(const char *path);

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
