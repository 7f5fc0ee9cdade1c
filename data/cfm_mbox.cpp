// File mailboxes: the request slots of the shared mailbox block that clients
// inside the control scan post to (the data logger's CFDL_* calls, the file
// instructions' CF_Dpram* calls), and the loaders that turn a posted slot
// into a media request on the client's block.
#include "base/le.h"
#include "data/cfm.h"
#include "data/cfm_int.h"
#include "platform/cf_api.h"
#include "platform/media.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstring>

namespace {

constexpr uint32_t kParam = 8; // first parameter of a slot

// What a loader hands the server; lives until the slot is answered.
struct SlotArgs {
    CfmFileArgs file;
    CsvFileRequest csv;
    uint32_t csv_result;
    const char *names[2];
    char name[2][512]; // expanded names, never expanded in place in dpram
};
constexpr int kSlotArgs = 10;

struct MboxState {
    SlotArgs args[kSlotArgs];
    // CF_Dpram*: the caller's request of each code, for its poll.
    CsvFileRequest *posted_csv[2];
};
MboxState m;

uint8_t *slot_at(uint32_t offset, uint32_t bytes) {
    uint32_t size = 0;
    uint8_t *d = CFM_Dpram(&size);
    if (!d || offset + bytes > size) return nullptr;
    return d + offset;
}

// A plain slot: which opcodes it takes and which of them count as writes
// and closes.
struct PlainSlot {
    uint32_t offset;
    CFCB **block;
    uint8_t taken, counted; // bit n: opcode n
    int args;
};
// clang-format off
const PlainSlot kLogger    = {mbox::kLogger,         &pLoggerCFCB,         0x3F, 0x30, 1};
const PlainSlot kReport    = {mbox::kReport,         &pReportCFCB,         0x3F, 0x30, 2};
const PlainSlot kAlarm     = {mbox::kAlarm,          &pAlarmCFCB,          0x3F, 0x30, 3};
const PlainSlot kEmail     = {mbox::kEmail,          &pEmailCFCB,          0xE9, 0x60, 4};
const PlainSlot kTrend     = {mbox::kTrend,          &pTrendCFCB,          0x7F, 0x30, 5};
const PlainSlot kTrendRead = {mbox::kTrendRead,      &pTrendReadCFCB,      0x7F, 0x30, 6};
const PlainSlot kParvi     = {mbox::kParviTrendRead, &pParviTrendReadCFCB, 0x6B, 0x20, 7};
// clang-format on

int load_plain(const PlainSlot &s) {
    if (removeSafe) return 0;
    uint8_t *slot = slot_at(s.offset, mbox::kSlotBytes);
    if (!slot) return 1;
    uint8_t op = slot[mbox::kOpcode];
    if (op > 7 || !(s.taken >> op & 1)) return 1;
    if (s.counted >> op & 1) CFM_CountWriteClose();
    uint32_t p[4];
    for (int i = 0; i < 4; ++i)
        p[i] = le32(slot + kParam + 4 * i);
    CfmFileArgs &a = m.args[s.args].file;
    a = CfmFileArgs{};
    auto obj = [](uint32_t index) { return CFM_Object(index); };
    uint32_t code = 0;
    uintptr_t arg1 = reinterpret_cast<uintptr_t>(&a), arg2 = 0;
    switch (op) {
    case 0:
        code = cfm::kStatus;
        arg1 = 0;
        break;
    case 1:
        code = cfm::kFreeSpace;
        arg1 = reinterpret_cast<uintptr_t>(obj(p[0]));
        arg2 = reinterpret_cast<uintptr_t>(obj(p[1]));
        break;
    case 2:
        code = cfm::kMakeDir;
        arg1 = reinterpret_cast<uintptr_t>(obj(p[0]));
        break;
    case 3:
        code = cfm::kOpen;
        a.file = static_cast<FxFile *>(obj(p[0]));
        a.path = static_cast<const char *>(obj(p[1]));
        a.mode = p[2];
        break;
    case 4:
    case 6:
        code = op == 4 ? cfm::kWrite : cfm::kRead;
        a.file = static_cast<FxFile *>(obj(p[0]));
        a.buffer = obj(p[1]);
        a.length = p[2];
        a.count = static_cast<uint32_t *>(obj(p[3]));
        break;
    case 5:
        code = cfm::kClose;
        a.file = static_cast<FxFile *>(obj(p[0]));
        break;
    case 7:
        code = cfm::kListDir;
        break;
    }
    // A record the request needs but the slot does not name fails as a
    // request without its record.
    if ((op == 3 && (!a.file || !a.path)) || ((op == 4 || op == 6) && (!a.file || !a.buffer)) ||
        (op == 5 && !a.file) || (op == 2 && !arg1)) {
        code = cfm::kRefused;
        arg1 = kCfmFailed;
        arg2 = 0;
    }
    CFM_LoadReq(*s.block, slot[mbox::kDrive], code, arg1, arg2);
    return 1;
}

// ---------------------------------------------------------------------------
// The generic slot.

constexpr uint32_t kGenRecord = mbox::kGeneric + 8;
constexpr uint32_t kGenEnd = mbox::kLogger; // the generic slot ends where the logger's begins
constexpr uint32_t kNameDelete = mbox::kGeneric + 12, kNameFirst = mbox::kGeneric + 16;
constexpr uint32_t kNameRead = mbox::kGeneric + 52, kNameWrite = mbox::kGeneric + 64;
constexpr uint32_t kReadResult = kGenRecord + 40, kWriteResult = kGenRecord + 52;

// The name at a dpram offset, NUL-terminated within `limit`, expanded into
// out. False for a name that is not there or leaves the medium.
bool take_name(uint32_t offset, uint32_t limit, char *out) {
    uint32_t size = 0;
    uint8_t *d = CFM_Dpram(&size);
    if (!d || offset >= size || limit > size || offset >= limit) return false;
    const void *end = std::memchr(d + offset, 0, limit - offset);
    if (!end) return false;
    size_t n = static_cast<const uint8_t *>(end) - (d + offset);
    if (n >= 512) return false;
    std::memcpy(out, d + offset, n + 1);
    ConvertMeta(out, 512);
    return !CFM_HasDotDot(out);
}

int load_generic() {
    if (removeSafe) return 0;
    uint32_t size = 0;
    uint8_t *d = CFM_Dpram(&size);
    if (!d || kGenEnd > size) return 1;
    uint8_t *slot = d + mbox::kGeneric;
    uint8_t op = slot[mbox::kOpcode];
    uint8_t drive = slot[mbox::kDrive];
    SlotArgs &a = m.args[0];
    a = SlotArgs{};
    uint32_t code = 0;
    uintptr_t arg1 = 0, arg2 = 0;
    bool ok = true;
    auto w = [&](int i) { return le32(d + kGenRecord + 4 * i); };
    switch (op) {
    case 0:
    case 1: {
        bool read = op == 0;
        CsvFileRequest &r = a.csv;
        r.kind = w(0);
        ok = take_name(w(1), size, a.name[0]);
        uint32_t data = w(2);
        r.type = w(3);
        r.count = w(4);
        r.position = int32_t(w(6));
        r.open_mode = w(7);
        r.end_of_row = w(8);
        r.layout_word = w(9);
        // The data must stay in the data area; a layout's records do not
        // travel through the slot, so a layout request has none here.
        uint64_t bytes = read && (r.end_of_row & 0xFF) == kCsvLayoutRead
                             ? (r.end_of_row >> 16)
                             : (uint64_t(CsvValues(r.count)) * CF_TypeWidth(r.type) + 7) / 8;
        if (r.type == 0) bytes = r.count & 0xFFFF;
        if (data < kDpramDataArea || data + bytes > kDpramDataArea + kDpramDataBytes) ok = false;
        r.path = a.name[0];
        r.data = d + data;
        r.result = &a.csv_result;
        code = read ? cfm::kReadFile : cfm::kWriteFile;
        arg1 = reinterpret_cast<uintptr_t>(&r);
        arg2 = reinterpret_cast<uintptr_t>(d + (read ? kReadResult : kWriteResult));
        break;
    }
    case 2:
    case 5:
        ok = take_name(w(0), kGenEnd, a.name[0]) && take_name(w(1), size, a.name[1]);
        a.names[0] = a.name[0];
        a.names[1] = a.name[1];
        code = op == 2 ? cfm::kRename : cfm::kCopy;
        arg1 = reinterpret_cast<uintptr_t>(a.names);
        break;
    case 3:
        ok = take_name(w(0), kGenEnd, a.name[0]);
        a.names[0] = a.name[0];
        code = cfm::kDelete;
        arg1 = reinterpret_cast<uintptr_t>(a.names);
        break;
    case 4:
        code = cfm::kFormat;
        break;
    default:
        return 1; // not taken: answered 97 on the next pass
    }
    if (op != 0) CFM_CountWriteClose();
    if (!ok) {
        code = cfm::kRefused;
        arg1 = uint32_t(cf::kInvalid);
        arg2 = 0;
    }
    CFM_LoadReq(pDpramCFCB, drive, code, arg1, arg2);
    return 1;
}

// ---------------------------------------------------------------------------
// Posting into a slot.

bool slot_busy(const uint8_t *slot) {
    return slot[mbox::kRequest] != slot[mbox::kAnswer];
}
void flip_request(uint8_t *slot) {
    uint8_t old = slot[mbox::kRequest];
    slot[mbox::kRequest] = old > 1 ? 0 : uint8_t(1 - old);
}

int16_t cfdl_post(uint8_t op, uint8_t drive, uint32_t p1, uint32_t p2 = 0, uint32_t p3 = 0,
                  uint32_t p4 = 0) {
    uint8_t *slot = slot_at(mbox::kLogger, mbox::kSlotBytes);
    if (!slot) return -3;
    if (slot_busy(slot)) return -3;
    flip_request(slot);
    slot[mbox::kOpcode] = op;
    slot[mbox::kDrive] = drive;
    put_le32(slot + kParam, p1);
    put_le32(slot + kParam + 4, p2);
    put_le32(slot + kParam + 8, p3);
    put_le32(slot + kParam + 12, p4);
    return -2;
}

bool medium_mounted() {
    return MntDrive[0].mounted != 0;
}

// Copies a name into the slot at `at` (up to its first blank, "/" becoming
// "\"), NUL included before `limit`. False when it does not fit, is 512
// characters or more, or has a ".." component.
bool put_name(uint8_t *d, uint32_t at, uint32_t limit, const char *name, bool csv_ext = false) {
    if (!name) return false;
    char buf[520];
    size_t n = 0;
    for (; name[n] && name[n] != ' '; ++n) {
        if (n >= 511) return false;
        buf[n] = name[n] == '/' ? '\\' : name[n];
    }
    buf[n] = 0;
    if (csv_ext && !std::strstr(buf, ".csv") && !std::strstr(buf, ".CSV")) {
        if (n + 4 >= 512) return false;
        std::memcpy(buf + n, ".csv", 5);
        n += 4;
    }
    if (CFM_HasDotDot(buf) || at + n + 1 > limit) return false;
    std::memcpy(d + at, buf, n + 1);
    return true;
}

int16_t dpram_post_csv(uint32_t flags, CsvFileRequest *req, bool read) {
    uint32_t size = 0;
    uint8_t *d = CFM_Dpram(&size);
    if (!d || kGenEnd > size) return -3;
    uint8_t *slot = d + mbox::kGeneric;
    int idx = read ? 0 : 1;
    if (flags & kDpramPoll) {
        if (slot_busy(slot)) return -2;
        CsvFileRequest *r = m.posted_csv[idx];
        uint32_t n = le32(d + (read ? kReadResult : kWriteResult));
        if (r) {
            if (read && r->data) {
                // Never more than the caller asked for, whatever the answer says.
                if (n > CsvValues(r->count)) n = CsvValues(r->count);
                uint64_t bytes = (r->end_of_row & 0xFF) == kCsvLayoutRead
                                     ? (r->end_of_row >> 16)
                                     : (uint64_t(n) * CF_TypeWidth(r->type) + 7) / 8;
                if (r->type == 0) bytes = n;
                if (bytes > kDpramDataBytes) bytes = kDpramDataBytes;
                std::memcpy(r->data, d + kDpramDataArea, size_t(bytes));
            }
            if (r->result) *r->result = n;
        }
        return int16_t(le16(slot + mbox::kResult));
    }
    if (slot_busy(slot)) return -3;
    if (!req) return cf::kInvalid;
    bool layout = req->kind == 1 && (read ? (req->end_of_row & 0xFF) == kCsvLayoutRead
                                          : (req->layout_word & 0xFF) == kCsvLayoutWrite);
    uint64_t bytes = 0;
    if (read)
        bytes = layout ? (req->end_of_row >> 16)
                       : (uint64_t(CsvValues(req->count)) * CF_TypeWidth(req->type) + 7) / 8;
    else
        bytes = (uint64_t(req->count & 0xFFFF) * CF_TypeWidth(req->type) + 7) / 8;
    if (req->type == 0) bytes = req->count & 0xFFFF;
    if (bytes > kDpramDataBytes) return cf::kInvalid;
    uint32_t name_at = read ? kNameRead : kNameWrite;
    if (!put_name(d, name_at, kGenEnd, req->path, layout)) return cf::kInvalid;
    uint8_t *rec = d + kGenRecord;
    put_le32(rec + 0, req->kind);
    put_le32(rec + 4, name_at);
    put_le32(rec + 8, kDpramDataArea);
    put_le32(rec + 12, req->type);
    put_le32(rec + 16, req->count);
    put_le32(rec + 20, read ? kReadResult : kWriteResult);
    put_le32(rec + 24, uint32_t(req->position));
    put_le32(rec + 28, req->open_mode);
    put_le32(rec + 32, req->end_of_row);
    put_le32(rec + 36, req->layout_word);
    put_le32(d + (read ? kReadResult : kWriteResult), 0);
    if (!read) {
        put_le32(rec + 40, 0); // name base and layout list do not travel
        put_le32(rec + 44, 0);
        put_le32(rec + 48, 0);
        if (bytes && req->data) std::memcpy(d + kDpramDataArea, req->data, size_t(bytes));
    }
    m.posted_csv[idx] = req;
    flip_request(slot);
    slot[mbox::kOpcode] = read ? 0 : 1;
    slot[mbox::kDrive] = uint8_t(flags);
    return -2;
}

int16_t dpram_post_names(uint32_t flags, uint8_t op, const char *const *names, int count) {
    uint32_t size = 0;
    uint8_t *d = CFM_Dpram(&size);
    if (!d || kGenEnd > size) return -3;
    uint8_t *slot = d + mbox::kGeneric;
    if (flags & kDpramPoll) {
        if (slot_busy(slot)) return -2;
        return int16_t(le16(slot + mbox::kResult));
    }
    if (slot_busy(slot)) return -3;
    if (count > 0) {
        if (!names) return cf::kInvalid;
        uint32_t first = count == 1 ? kNameDelete : kNameFirst;
        if (!put_name(d, first, kGenEnd, names[0])) return cf::kInvalid;
        put_le32(d + kGenRecord, first);
        if (count == 2) {
            if (!put_name(d, kDpramDataArea, kDpramDataArea + 512, names[1])) return cf::kInvalid;
            put_le32(d + kGenRecord + 4, kDpramDataArea);
        }
    }
    flip_request(slot);
    slot[mbox::kOpcode] = op;
    slot[mbox::kDrive] = uint8_t(flags);
    return -2;
}

} // namespace

int CFM_LoadDpramReq() {
    return load_generic();
}
int CFM_LoadLoggerReq() {
    return load_plain(kLogger);
}
int CFM_LoadReportReq() {
    return load_plain(kReport);
}
int CFM_LoadAlarmReq() {
    return load_plain(kAlarm);
}
int CFM_LoadEmailReq() {
    return load_plain(kEmail);
}
int CFM_LoadTrendReq() {
    return load_plain(kTrend);
}
int CFM_LoadTrendReadReq() {
    return load_plain(kTrendRead);
}
int CFM_ParviLoadTrendReadReq() {
    return load_plain(kParvi);
}
int CFM_LoadRecipeReq() {
    if (removeSafe) return 0;
    uint8_t *slot = slot_at(mbox::kRecipe, 12);
    if (!slot || slot[mbox::kOpcode] != 0) return 1;
    void *request = CFM_Object(le32(slot + kParam));
    if (request)
        CFM_LoadReq(pRecipeCFCB, slot[mbox::kDrive], cfm::kRecipe,
                    reinterpret_cast<uintptr_t>(request), 0);
    else
        CFM_LoadReq(pRecipeCFCB, slot[mbox::kDrive], cfm::kRefused, kCfmFailed, 0);
    return 1;
}
// The debug log posts through the data logger's slot; its own slot is never
// posted to, and a request found there loads nothing (answered 97).
int CFM_LoadDBGLoggerReq() {
    return removeSafe ? 0 : 1;
}

// ---------------------------------------------------------------------------

int16_t CFDL_GetStatus() {
    return medium_mounted() ? 0 : int16_t(sr_get(sr::kMediaStatus));
}
int16_t CFDL_GetFreeSpace(int, uint32_t *total, uint32_t *free) {
    if (total) *total = sr_get32(sr::kMediaTotal);
    if (free) *free = sr_get32(sr::kMediaFree);
    return 0;
}
int16_t CFDL_MakeDir(int drive, const char *path) {
    return cfdl_post(2, uint8_t(drive), CFM_ObjectIndex(path));
}
int16_t CFDL_Open(FxFile *file, const char *path, uint32_t mode) {
    return cfdl_post(3, 0, CFM_ObjectIndex(file), CFM_ObjectIndex(path), mode);
}
int16_t CFDL_Write(FxFile *file, const void *data, uint32_t length, uint32_t *count) {
    return cfdl_post(4, 0, CFM_ObjectIndex(file), CFM_ObjectIndex(data), length,
                     CFM_ObjectIndex(count));
}
int16_t CFDL_Close(FxFile *file) {
    return cfdl_post(5, 0, CFM_ObjectIndex(file));
}
int16_t CFDL_Result() {
    uint8_t *slot = slot_at(mbox::kLogger, mbox::kSlotBytes);
    if (!slot) return -2;
    if (slot_busy(slot)) {
        uint16_t st = sr_get(sr::kMediaStatus);
        return !medium_mounted() && st ? int16_t(st) : int16_t(-2);
    }
    return int16_t(le16(slot + mbox::kResult));
}

int16_t CF_DpramReadFile(uint32_t flags, CsvFileRequest *req) {
    return dpram_post_csv(flags, req, true);
}
int16_t CF_DpramWriteFile(uint32_t flags, CsvFileRequest *req) {
    return dpram_post_csv(flags, req, false);
}
int16_t CF_DpramRenameFile(uint32_t flags, const char *const *names) {
    return dpram_post_names(flags, 2, names, 2);
}
int16_t CF_DpramDeleteFile(uint32_t flags, const char *const *names) {
    return dpram_post_names(flags, 3, names, 1);
}
int16_t CF_DpramFormatCard(uint32_t flags) {
    return dpram_post_names(flags, 4, nullptr, 0);
}
int16_t CF_DpramCopyFile(uint32_t flags, const char *const *names) {
    return dpram_post_names(flags, 5, names, 2);
}
void CF_DpramReset() {
    m = MboxState{};
}
