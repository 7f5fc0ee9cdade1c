// Media request manager: the media control blocks of the clients that must not
// wait, the round-robin scan that sends one pending block at a time through
// the request queue, and the request server that runs each request on the
// media file API between scans.
#include "data/cfm.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/cfm_int.h"
#include "data/data.h"
#include "platform/cf_api.h"
#include "platform/slice.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstdio>
#include <cstring>
#include <string>

CFCB tCFCB[kCfcbCount];
CFCB *pUpdtCFCB, *pDpramCFCB, *pLoggerCFCB, *pDirCFCB, *pVidCFCB, *pReportCFCB, *pRecipeCFCB,
    *pAlarmCFCB, *pEmailCFCB, *pTrendCFCB, *pTrendReadCFCB, *pParviTrendReadCFCB,
    *pLoadSDFirmwareCFCB, *pDBGLoggerCFCB;
uint16_t removeSafe;
CfmListing cfmListing;

namespace {

constexpr uint16_t kNoRequest = 0, kInFlight = 2;
constexpr uint32_t kQueueEmpty = 10;
constexpr int kObjects = 256;

struct CfmState {
    uint16_t client_state;  // kNoRequest or kInFlight
    uint16_t client_offset; // next row searched; the row in flight
    uint8_t dnld_image_corrupt;
    uint32_t write_close_count; // write and close requests from the mailboxes
    const void *objects[kObjects];
    char filespec[512];
    uint8_t image[4096]; // the program header's download image
};
CfmState g;
CfmHooks g_hooks;
CfmMasterChannel g_mcmd;

void debug_msg(const char *text) {
    if (g_hooks.debug_msg) g_hooks.debug_msg(text);
}

// The table scan: collects the reply of the request in flight, then sends the
// first pending block from the row after the last completed one.
void client_scan() {
    if (g.client_state == kInFlight) {
        uint32_t reply[2] = {0, 0};
        uint32_t st = g_hooks.receive_reply ? g_hooks.receive_reply(reply) : kQueueEmpty;
        if (st == kQueueEmpty) return;
        if (st != 0) {
            char text[48];
            std::snprintf(text, sizeof text, "CompactFlash CFO msg err = %u", unsigned(st));
            debug_msg(text);
            return;
        }
        g.client_state = kNoRequest;
        CFCB &b = tCFCB[g.client_offset];
        if (b.state == kCfcbCancelled) {
            b.state = kCfcbIdle;
        } else if (b.state != kCfcbRunning) {
            b.state = kCfcbError;
        } else {
            b.result = reply[1];
            b.state = kCfcbDone;
            g.client_offset = uint16_t((g.client_offset + 1) % kCfcbCount);
        }
    }
    if (g.client_state != kNoRequest) {
        g.client_state = kNoRequest;
        return;
    }
    for (int i = 0; i < kCfcbCount; ++i) {
        int row = (g.client_offset + i) % kCfcbCount;
        CFCB &b = tCFCB[row];
        if (b.state != kCfcbPending) continue;
        g.client_offset = uint16_t(row);
        b.state = kCfcbRunning;
        g.client_state = kInFlight;
        if (b.code == cfm::kLoadPgm && g_hooks.program_load_sent) g_hooks.program_load_sent();
        CfmRequestMsg msg{b.drive, b.code, b.arg1, b.arg2};
        uint32_t st = g_hooks.send_request ? g_hooks.send_request(&msg) : 11;
        if (st != 0) {
            char text[48];
            std::snprintf(text, sizeof text, "CompactFlash CFI msg err = %u", unsigned(st));
            debug_msg(text);
            // No reply will ever come: the request fails now instead of
            // holding the whole table.
            b.state = kCfcbError;
            g.client_state = kNoRequest;
        }
        return;
    }
}

// Request 11: removes the entries of the last listing.
int32_t delete_listing(int drive) {
    for (int i = 0; i < cfmListing.count && i < kCfmListMax; ++i) {
        const CfmListEntry &e = cfmListing.entry[i];
        if (e.attributes & 0x08) continue;
        std::string path = cfmListing.base;
        if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += '\\';
        std::string name(e.name, strnlen(e.name, sizeof e.name));
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        std::string ext(e.extension, strnlen(e.extension, sizeof e.extension));
        while (!ext.empty() && ext.back() == ' ')
            ext.pop_back();
        path += name;
        if (!ext.empty()) path += "." + ext;
        if (path.size() > 511) {
            std::memcpy(g.filespec, path.data(), 511);
            g.filespec[511] = 0;
            return 0;
        }
        std::memcpy(g.filespec, path.c_str(), path.size() + 1);
        if (e.attributes & 0x10) {
            if (name != "..") CF_RemoveDir(drive, g.filespec);
        } else {
            const char *names[1] = {g.filespec[0] == '\\' ? g.filespec + 1 : g.filespec};
            CF_DeleteFile(uint32_t(drive), names);
        }
    }
    return 0;
}

// Request 16: the program header from the controller side.
int32_t program_header(uint8_t *dest) {
    if (!g_mcmd.init) return 2006;
    uint16_t target = sr_get(sr::kNetId);
    int st = g_mcmd.init(target);
    if (st != 0) return st;
    auto fail = [](int error) {
        if (g_mcmd.set_error) g_mcmd.set_error(error);
        if (g_mcmd.release) g_mcmd.release();
        return 2006;
    };
    const uint8_t announce[4] = {uint8_t(target), 1, 0xE8, 0xFD};
    if (g_mcmd.send(25, announce, 4) != 0xA0) return fail(20);
    const uint8_t ask[2] = {uint8_t(target), 4};
    if (g_mcmd.send(5, ask, 2) != 0xA0) return fail(21);
    uint8_t *image = g.image;
    uint32_t have = 0;
    for (;;) {
        uint8_t packet[256];
        uint32_t length = 0;
        if (g_mcmd.receive(packet, sizeof packet, &length, 0xA0) != 0xFF) return fail(21);
        if (length == 0) break;
        if (length > sizeof packet) length = sizeof packet;
        uint32_t take = length < sizeof g.image - have ? length : uint32_t(sizeof g.image - have);
        std::memcpy(image + have, packet, take);
        have += take;
    }
    if (dest) std::memcpy(dest, image, 80);
    return 0;
}

int32_t free_space(int drive, uint32_t *total, uint32_t *free) {
    uint32_t t = 0, f = 0;
    int16_t st = 0;
    auto one = [&](int d) {
        st = CF_GetStatus(d);
        if (st == 0)
            st = CF_GetFreeSpace(d, &t, &f);
        else
            t = f = 0;
    };
    if (drive == 0) one(1);
    one(drive);
    if (total) *total = t;
    if (free) *free = f;
    return st;
}

int32_t run_request(const CfmRequestMsg &m) {
    int drive = int(m.drive & 0xFF);
    void *a1 = reinterpret_cast<void *>(uintptr_t(m.arg1));
    void *a2 = reinterpret_cast<void *>(uintptr_t(m.arg2));
    auto *f = static_cast<CfmFileArgs *>(a1);
    auto *names = static_cast<const char *const *>(a1);
    auto *path = static_cast<const char *>(a1);
    auto *csv = static_cast<CsvFileRequest *>(a1);
    switch (m.code) {
    case cfm::kOpen:
        return f ? CF_Open(f->file, f->path, f->mode) : kCfmFailed;
    case cfm::kRead:
        return f ? CF_Read(f->file, f->buffer, f->length, f->count) : kCfmFailed;
    case cfm::kWrite:
        return f ? CF_Write(f->file, f->buffer, f->length, f->count) : kCfmFailed;
    case cfm::kClose:
        return f ? CF_Close(f->file) : kCfmFailed;
    case cfm::kRename:
        return names ? CF_RenameFile(uint32_t(drive), names) : kCfmFailed;
    case cfm::kDelete:
        return names ? CF_DeleteFile(uint32_t(drive), names) : kCfmFailed;
    case cfm::kFormat:
        return CF_FormatCard(drive);
    case cfm::kMakeDir:
        return path ? CF_MakeDir(drive, path) : kCfmFailed;
    case cfm::kRemoveDir:
        return path ? CF_RemoveDir(drive, path) : kCfmFailed;
    case cfm::kChangeDir:
        return path ? CF_ChangeDir(drive, path) : kCfmFailed;
    case cfm::kDeleteListing:
        return delete_listing(drive);
    case cfm::kStatus:
        if (drive == 0) CF_GetStatus(1);
        return CF_GetStatus(drive);
    case cfm::kFreeSpace:
        return free_space(drive, static_cast<uint32_t *>(a1), static_cast<uint32_t *>(a2));
    case cfm::kReadFile:
    case cfm::kWriteFile: {
        if (!csv) return kCfmFailed;
        int16_t st = m.code == cfm::kReadFile ? CF_ReadFile(uint32_t(drive), csv)
                                              : CF_WriteFile(uint32_t(drive), csv);
        // Argument 2, when given, is the mailbox's copy of the count (a
        // little-endian word of the shared block).
        if (a2 && csv->result) put_le32(static_cast<uint8_t *>(a2), *csv->result);
        return st;
    }
    case cfm::kPgmHeader:
        return program_header(static_cast<uint8_t *>(a1));
    case cfm::kCopy:
        return names ? CF_CopyFile(uint32_t(drive), names) : kCfmFailed;
    case cfm::kWait: {
        uint16_t start = uint16_t(FPGA_GetFrt() / 100);
        while (uint16_t(uint16_t(FPGA_GetFrtStep() / 100) - start) < 400)
            SlicePoint();
        return 0;
    }
    case cfm::kRecipe:
        return int16_t(RecipeBlock(a1));
    case cfm::kRefused:
        return int32_t(m.arg1);
    case cfm::kListDir:
    case cfm::kValidatePgm:
    case cfm::kLoadPgm:
    case cfm::kRelease:
    case cfm::kSavePgm:
    case cfm::kCapture:
    case cfm::kReadPicture:
    case cfm::kFirmwareDir:
        // The media jobs are not built yet: their clients see a failed request.
        return kCfmFailed;
    default:
        return 0;
    }
}

} // namespace

void CFM_SetHooks(const CfmHooks &hooks) {
    g_hooks = hooks;
}
const CfmHooks &CFM_Hooks() {
    return g_hooks;
}
void CFM_SetMasterChannel(const CfmMasterChannel &channel) {
    g_mcmd = channel;
}

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
    g.client_state = kNoRequest;
    g.client_offset = 0;
}

void CFM_Reset() {
    g = CfmState{};
    CFM_ResetBlocks();
    std::memset(&cfmListing, 0, sizeof cfmListing);
    std::memset(cfmMetaCounter, 0, sizeof cfmMetaCounter);
    CF_DpramReset();
}

void CFM_LoadReq(CFCB *b, uint32_t drive, uint32_t code, uintptr_t arg1, uintptr_t arg2) {
    host::trace("CFM_LoadReq");
    if (!b) return;
    if (b->state != kCfcbIdle) {
        char text[48];
        std::snprintf(text, sizeof text, "Bad State on %0lx",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(b)));
        debug_msg(text);
    }
    b->drive = drive;
    b->code = code;
    b->arg1 = arg1;
    b->arg2 = arg2;
    b->state = kCfcbPending;
    client_scan();
}

int CFM_PollReq(CFCB *b, uint32_t *result) {
    client_scan();
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

void CFM_CancelReq(CFCB *b) {
    if (!b) return;
    b->state =
        (b->state == kCfcbRunning || b->state == kCfcbCancelled) ? kCfcbCancelled : kCfcbIdle;
}

int CFM_IsBlkReady(CFCB *b) {
    client_scan();
    if (!b || b->state == kCfcbRunning || b->state == kCfcbCancelled) return 0;
    b->state = kCfcbIdle;
    return 1;
}

int CFM_IsAllHalted() {
    client_scan();
    for (const CFCB &b : tCFCB)
        if (b.state == kCfcbPending || b.state == kCfcbRunning || b.state == kCfcbCancelled)
            return 0;
    return 1;
}

int CFM_GetParm(uint8_t *blk) {
    if (!blk) return 0;
    uint32_t drive = uint32_t(blk[16] | blk[17] << 8 | blk[18] << 16 | uint32_t(blk[19]) << 24);
    if (drive > 2) return 0;
    uint32_t total = 0, free = 0;
    int16_t st = CF_GetFreeSpace(int(drive), &total, &free);
    uint64_t free_b = uint64_t(free) * 1024, total_b = uint64_t(total) * 1024;
    uint32_t fb = free_b > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(free_b);
    uint32_t tb = total_b > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total_b);
    auto put16 = [&](int at, uint16_t v) {
        blk[at] = uint8_t(v);
        blk[at + 1] = uint8_t(v >> 8);
    };
    put16(0, uint16_t(fb));
    put16(2, uint16_t(fb >> 16));
    put16(4, uint16_t(tb));
    put16(6, uint16_t(tb >> 16));
    put16(8, uint16_t(st));
    put16(10, st < 0 ? 0xFFFF : 0);
    if (drive == 0) {
        put16(12, uint16_t(g.write_close_count));
        put16(14, uint16_t(g.write_close_count >> 16));
    }
    return 1;
}

uint8_t CFM_IsDmemCorrupt() {
    return g.dnld_image_corrupt;
}
void CFM_SetDmemCorrupt(uint8_t flag) {
    g.dnld_image_corrupt = flag;
}
void CFM_LoadPgmException() {}
void CFM_LoadDatException() {}
void CFM_ClearSafe() {
    removeSafe = 0;
    sr_put(sr::kMediaControl, 0);
}
uint32_t CFM_WriteCloseCount() {
    return g.write_close_count;
}
void CFM_CountWriteClose() {
    ++g.write_close_count;
}

uint32_t CFM_ObjectIndex(const void *object) {
    if (!object) return 0;
    for (int i = 1; i < kObjects; ++i)
        if (g.objects[i] == object) return uint32_t(i);
    for (int i = 1; i < kObjects; ++i)
        if (!g.objects[i]) {
            g.objects[i] = object;
            return uint32_t(i);
        }
    return 0;
}
void *CFM_Object(uint32_t index) {
    return index < uint32_t(kObjects) ? const_cast<void *>(g.objects[index]) : nullptr;
}

void CFM_Open() {
    host::trace("CFM_Open");
    CFM_ResetBlocks();
    CF_Init();
    CFM_StatusCycleStart();
}

void CFM_TheLoop(int) {
    host::trace("CFM_TheLoop");
    for (;;) {
        CfmRequestMsg m{};
        if (!g_hooks.receive_request || g_hooks.receive_request(&m) != 0) return;
        uint32_t reply[2] = {0, uint32_t(run_request(m))};
        if (g_hooks.send_reply) g_hooks.send_reply(reply);
        if (g_hooks.request_served) g_hooks.request_served();
    }
}

int CFM_MailboxPage() {
    return g_hooks.page ? g_hooks.page() : 0;
}
uint8_t *CFM_Dpram(uint32_t *bytes) {
    if (bytes) *bytes = g_hooks.dpram_bytes;
    return g_hooks.dpram;
}
