// The VM's outer shell: build, cycle, tasks, cycle statistics, shut-down.
#include "iec/kernel/trvm.h"

#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trheap.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"

#include <cstring>

using namespace trst;

namespace {
constexpr uint32_t kDay = 86400000;
constexpr uint32_t kLogEntries = 16, kLogEntry = 8;

uint8_t *segment(uint8_t *db, uint32_t k, uint32_t *n = nullptr) {
    return db ? TrDB_Segment(db, TrVM_DBSize(db), k, n) : nullptr;
}

uint16_t run_flags(const uint8_t *st) {
    return le16(st + kRunFlags);
}
void set_run_flags(uint8_t *st, uint16_t v) {
    put_le16(st + kRunFlags, v);
}

// Run-flag bit 14 found set: the VM stops here.
bool stop_requested(uint8_t *st) {
    uint16_t f = run_flags(st);
    if (!(f & kStopAtCycle)) return false;
    set_run_flags(st, uint16_t((f & ~kRunning) | kStopped));
    return true;
}

bool stopped(const uint8_t *st) {
    return run_flags(st) & kStopped;
}
} // namespace

uint32_t TrVM_DBSize(const uint8_t *db) {
    if (!db) return 0;
    if (db == pDB && pDBSize) return pDBSize;
    uint64_t n = TrVM_GetTotalDBSize(db);
    return n > 0xFFFFFFFFull ? 0 : uint32_t(n);
}

uint8_t *TrVM_Status(uint8_t *db) {
    uint32_t n = 0;
    uint8_t *st = segment(db, 0, &n);
    return st && n >= kSize ? st : nullptr;
}

// ------------------------------------------------------------- VM log

void TrVMLog_Push(uint8_t *db, uint16_t code, uint16_t arg, uint32_t data) {
    uint8_t *st = TrVM_Status(db);
    uint32_t n = 0;
    uint8_t *log = segment(db, 1, &n);
    if (!st || !log) return;
    uint16_t count = le16(st + kLogCount);
    if (count >= kLogEntries || (count + 1) * kLogEntry > n) return;
    uint8_t *e = log + count * kLogEntry;
    put_le16(e, code);
    put_le16(e + 2, arg);
    put_le32(e + 4, data);
    put_le16(st + kLogCount, uint16_t(count + 1));
    set_run_flags(st, run_flags(st) | kLogNotEmpty);
}

int TrVMLog_Pop(uint8_t *db, uint16_t *code, uint16_t *arg, uint32_t *data) {
    *code = *arg = 0;
    *data = 0;
    uint8_t *st = TrVM_Status(db);
    uint32_t n = 0;
    uint8_t *log = segment(db, 1, &n);
    if (!st || !log) return 0;
    uint16_t count = le16(st + kLogCount);
    if (count == 0 || count > kLogEntries || count * kLogEntry > n) return 0;
    *code = le16(log);
    *arg = le16(log + 2);
    *data = le32(log + 4);
    std::memmove(log, log + kLogEntry, (count - 1) * kLogEntry);
    std::memset(log + (count - 1) * kLogEntry, 0, kLogEntry);
    put_le16(st + kLogCount, uint16_t(count - 1));
    if (count == 1) set_run_flags(st, run_flags(st) & uint16_t(~kLogNotEmpty));
    return 1;
}

// ------------------------------------------------------------------ build

void TrVMCode_InitiateStatus(const TrCodeImage &code, uint8_t *st) {
    std::memset(st, 0, kSize);
    if (const char *name = TrVMCode_GetAppName(code))
        std::memcpy(st + kAppName, name, strnlen(name, 15));
    put_le32(st + kPeriod, TrVMCode_GetPeriod(code));
    put_le32(st + kIdentity, TrVMCode_GetInfoHalf(code, 17));
    put_le32(st + kIdentity + 4, TrVMCode_GetInfoWord(code, 4));
    put_le32(st + kIdentity + 8, TrVMCode_GetInfoIdentity(code));
    put_le32(st + kIdentity + 12, TrVMCode_GetInfoWord(code, 5));
    put_le32(st + kOptionWord, TrVMCode_HeaderWord(code, trcode::kOptions));
    uint16_t flags = kInitialFlags;
    if (!TrVMCode_StartPaused(code)) flags |= kRunning;
    if (TrVMCode_GetExtVersion(code) && TrVMCode_HasExtField(code, 9) &&
        TrVMCode_GetExtField(code, 9) != 0) {
        uint32_t at = TrVMCode_GetExtField(code, 9);
        const uint8_t *w = TrVMCode_Record(code, at, 4);
        if (w && le32(w) != 0) flags |= 0x1000;
    }
    set_run_flags(st, flags);
    uint32_t options = 0;
    if (!(TrVMCode_HasExtField(code, 12) && (TrVMCode_GetExtField(code, 12) & 1))) options |= 4;
    uint32_t cflags = TrVMCode_GetInitWord(code, 10);
    if (cflags & 1) options |= 0x08;
    if (cflags & 2) options |= 0x80;
    if (cflags & 4) options |= 0x200;
    if (TrVMCode_HasExtField(code, 21)) {
        uint32_t e21 = TrVMCode_GetExtField(code, 21);
        if (e21 & 1) options |= 0x20;
        if (TrVMCode_HasExtField(code, 20) && (e21 & 2)) options |= 0x100;
    }
    put_le32(st + kBuildOptions, options);
}

int TrVM_Build(const TrCodeImage &code, uint8_t *db) {
    return TrVM_BuildEx(code, db, 1, 1);
}

int TrVM_BuildEx(const TrCodeImage &code, uint8_t *db, int open_io, int build_ddk) {
    if (!code.data || !db) return 1;
    uint32_t size = TrVM_DBSize(db);
    if (TrVMCode_CheckCode(code) != 0) return 1;
    pCode = code;
    // Resources: both working counts are the allocated count.
    VmDbSegment r = TrDB_GetSegment(db, 19);
    r.count_a = r.count_b = r.allocated;
    TrDB_SetSegment(db, 19, r);
    uint8_t *st = TrVM_Status(db);
    if (!st) return 1;
    TrVMCode_InitiateStatus(code, st);
    put_le16(st + kCallStack, uint16_t(TrVMCode_GetCallStackSize(code)));
    st[kSeparators] = ';';
    st[kSeparators + 1] = '.';
    uint32_t n3 = 0;
    uint8_t *app = segment(db, 3, &n3);
    if (!app || n3 < trdb::kAppRecordSize) return 1;
    put_le32(app + trdb::kAppVersion, trdb::kAppVersionConstant);
    put_le32(app + trdb::kAppStamp, TrVMCode_GetFullBuildStamp(code));
    put_le32(app + trdb::kAppSfcCrc, TrVMCode_GetSfcCrc(code));
    put_le32(app + trdb::kAppTypeList, TrVMCode_GetVarTypeList(code));
    put_le32(app + trdb::kAppPassword, TrVMCode_GetPassword(code));
    put_le32(app + trdb::kAppCTUsed, TrVMCode_GetCTSegUsedSize(code));
    put_le32(app + trdb::kAppStringTable, TrVMCode_GetDefStringTable(code) ? 1 : 0);

    int rc = TrVMCode_SetProgramPointers(code, db);
    if (!rc) rc = TrVMCode_AllocHeap(code, db, size, false);
    if (!rc) rc = TrVMCode_GetData8Sizing(code, db);
    if (!rc) rc = TrVMCode_GetData16Sizing(code, db);
    if (!rc) rc = TrVMCode_GetData32Sizing(code, db);
    if (!rc) rc = TrVMCode_GetData64Sizing(code, db);
    if (!rc) rc = TrVMCode_GetTimeSizing(code, db);
    if (!rc) rc = TrVMCode_GetStringSizing(code, db);
    if (!rc) rc = TrVMCode_SetStringPointers(code, db, size);
    if (!rc) {
        TrVMPrg_ActivateAllPrograms(db);
        rc = TrVMCode_ApplyInitValues(code, db);
    }
    if (!rc) rc = TrVMCode_ApplyCTSegInit(code, db, size, 0);
    if (!rc) rc = TrVMMap_Build(code, db);
    if (!rc) rc = TrVMFbl_Link(code, db);
    if (!rc) rc = TrVMFbl_InitInstances(code, db, 1);
    if (!rc) rc = TrVMFbl_InitCustomFunctions(code, db);
    if (rc) return rc;

    // From here on a failing step closes what the steps before it opened.
    bool io = false, ddk = false;
    if (open_io) {
        rc = TrIos_Open(code, db);
        io = rc == 0;
    }
    if (!rc && build_ddk) {
        rc = TrDDKC_Build(code, db);
        ddk = rc == 0;
    }
    if (!rc) rc = TrVMWarm_PrepareData(code, db);
    if (!rc) {
        TrVMTic_Init(db);
        rc = TrVMCode_GetXVSizing(code, db);
    }
    if (!rc) rc = TrVMCode_SetXVPointers(code, db, size);
    if (!rc) {
        VmDbSegment s = TrDB_GetSegment(db, 32);
        s.count_a = s.count_b = s.allocated;
        TrDB_SetSegment(db, 32, s);
        rc = TrVMCode_BuildTaskList(code, db, size);
    }
    if (!rc) {
        VmDbSegment s = TrDB_GetSegment(db, 29);
        s.count_a = s.count_b = 0;
        TrDB_SetSegment(db, 29, s);
        rc = TrMB_Build(code, db);
    }
    if (!rc) rc = TrMB_Link(db);
    if (!rc) rc = TrVMAsi_Open(code, db);
    if (!rc) rc = TrVMCan_Build(code, db);
    if (!rc) {
        VmDbSegment s = TrDB_GetSegment(db, 33);
        s.count_b = 0;
        TrDB_SetSegment(db, 33, s);
        rc = TrEAX_Build(code, db);
    }
    if (!rc) rc = TrEAX_Link(db);
    if (rc) {
        if (ddk) TrDDKC_Close(db);
        if (io) TrIos_Close(db);
    }
    return rc;
}

void TrVM_SetPauseMode(uint8_t *db, int on) {
    if (uint8_t *st = TrVM_Status(db))
        set_run_flags(st, on ? run_flags(st) & uint16_t(~kRunning) : run_flags(st) | kRunning);
}

// ------------------------------------------------------------------ tasks

uint32_t TrVM_GetNbTask(uint8_t *db) {
    uint32_t n = 0;
    if (!segment(db, 28, &n)) return 0;
    uint32_t count = TrDB_GetSegment(db, 28).count_b;
    return count < n / trdb::kTaskEntrySize ? count : n / trdb::kTaskEntrySize;
}

const char *TrVM_GetTaskName(uint8_t *db, uint32_t n) {
    if (n >= TrVM_GetNbTask(db) || !pCode.data) return nullptr;
    uint32_t off = le32(segment(db, 28) + trdb::kTaskEntrySize * n);
    // The name is text of the code image, read within it.
    if (off == 0 || off >= pCode.size || !std::memchr(pCode.data + off, 0, pCode.size - off))
        return nullptr;
    return reinterpret_cast<const char *>(pCode.data + off);
}

int TrVM_FindTask(uint8_t *db, const char *name, uint32_t *index) {
    *index = 0;
    if (!name) return 1;
    // Task 0 is the main task, which runs every cycle.
    for (uint32_t i = 1; i < TrVM_GetNbTask(db); ++i) {
        const char *t = TrVM_GetTaskName(db, i);
        if (t && std::strcmp(t, name) == 0) {
            *index = i;
            return 0;
        }
    }
    return 1;
}

int TrVM_PerformTask(uint8_t *db, uint32_t index, uint32_t tick, int update_timers) {
    uint8_t *st = TrVM_Status(db);
    if (!st || index >= TrVM_GetNbTask(db) || stopped(st)) return 1;
    if (stop_requested(st)) return 1;
    if (tick) put_le32(st + kLastTick, tick);
    if (update_timers) TrVMTmr_UpdateTimers(db);
    TrVMPrg_Task(db, index, 0);
    return 0;
}

// ------------------------------------------------------------------ cycle

uint32_t TrVM_RegisterCycleTime(uint8_t *db, uint32_t us) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return 0;
    put_le32(st + kLastCycle, us);
    if (us > le32(st + kLongestCycle)) put_le32(st + kLongestCycle, us);
    uint32_t period = le32(st + kPeriod);
    if (!period) return 0;
    if (us > period) {
        put_le32(st + kOverruns, le32(st + kOverruns) + 1);
        TrVMLog_Push(db, 30, 0, us);
    }
    return us < period ? period - us : period - (us - period) % period;
}

int TrVM_Cycle(uint8_t *db, uint32_t tick) {
    uint8_t *st = TrVM_Status(db);
    if (!st || stopped(st) || stop_requested(st)) return 1;
    uint32_t last = le32(st + kLastTick);
    if (last != 0) {
        uint32_t elapsed = (kDay - last % kDay + tick % kDay) % kDay + le32(st + kMsRemainder);
        if (elapsed >= 1000) {
            put_le32(st + kSeconds, le32(st + kSeconds) + elapsed / 1000);
            elapsed %= 1000;
        }
        put_le32(st + kMsRemainder, elapsed);
        put_le32(st + kLastTick, tick);
        TrVMTmr_UpdateTimers(db);
    } else {
        put_le32(st + kLastTick, tick);
        TrVMTmr_UpdateTimers(db);
        uint32_t begin;
        if (TrVM_FindTask(db, "@@B", &begin) == 0) TrVM_PerformTask(db, begin, tick, 0);
    }
    if (TrVM_GetNbTask(db) > 0) {
        TrVMPrg_Task(db, 0, 1);
        TrVMPrg_ProcessExecBuffer(db);
    } else {
        TrVMPrg_Execute(db);
    }
    if (TrHeap *heap = TrVM_GetHeap(db, TrVM_DBSize(db))) TrHeap_Compact(heap, 32);
    return 0;
}

int TrVM_FullIOExchangeEx(uint8_t *db, uint32_t tick) {
    uint8_t *st = TrVM_Status(db);
    if (!st || stopped(st)) return 1;
    if ((le32(st + kBuildOptions) & 0x08) && (run_flags(st) & kIoSuspended)) return 0;
    TrVMCan_Exchange(db);
    TrDDKC_Exchange(db);
    return TrVM_FullIOExchange(db, tick);
}

int TrVM_FullIOExchange(uint8_t *db, uint32_t) {
    uint8_t *st = TrVM_Status(db);
    if (!st || (run_flags(st) & (kStopped | kStopAtCycle))) return 1;
    TrVMAsi_Exchange(db);
    int rc = TrIos_Exchange(db);
    TrVMFbl_KeepAlive(db);
    TrVMWarm_CycleExchange(db);
    return rc;
}

int TrVM_ActivateModbus(uint8_t *db, uint32_t tick) {
    uint8_t *st = TrVM_Status(db);
    if (!st || stopped(st)) return 1;
    TrMB_Activate(db, tick);
    return 0;
}

int TrVM_ExchangeModbusData(uint8_t *db) {
    uint8_t *st = TrVM_Status(db);
    if (!st || (run_flags(st) & (kStopped | kStopAtCycle))) return 1;
    if ((le32(st + kBuildOptions) & 0x08) && (run_flags(st) & kIoSuspended)) return 1;
    TrMB_ExchangeData(db);
    return 0;
}

int TrVM_UpdateExtData(uint8_t *db, uint32_t tick) {
    uint8_t *st = TrVM_Status(db);
    if (!st || (run_flags(st) & (kStopped | kStopAtCycle))) return 1;
    TrEAX_Activate(db, tick);
    return 0;
}

int TrVM_OpenExtData(uint8_t *db) {
    return TrEAX_Open(db);
}
void TrVM_CloseExtData(uint8_t *db) {
    TrEAX_Close(db);
}
int TrVM_OpenModbus(uint8_t *db) {
    return TrMB_Open(db);
}
void TrVM_CloseModbus(uint8_t *db) {
    TrMB_Close(db);
}

uint32_t TrVM_OpenDynaLinks() {
    TrDDKC_OpenLinks();
    return TrBdll_OpenDynaLinks();
}

void TrVM_CloseDynaLinks(uint32_t) {
    TrBdll_CloseDynaLinks();
    TrDDKC_CloseLinks();
}

int TrVM_CanLoadRetains(uint8_t *db, const char *file) {
    return TrVMWarm_CanLoad(db, file);
}
int TrVM_LoadRetains(uint8_t *db, const char *file) {
    return TrVMWarm_Load(db, file);
}
int TrVM_PrepareRetains(uint8_t *db, const char *file) {
    return TrVMWarm_CanStore(db, file);
}

void TrVM_ShutDown(uint8_t *db, const char *retain_file) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return;
    uint32_t end;
    if (TrVM_FindTask(db, "@@E", &end) == 0) {
        uint32_t tick = le32(st + kLastTick);
        if (TrVM_PerformTask(db, end, tick, 0) == 0) TrVM_FullIOExchange(db, tick);
    }
    TrVMTic_Exit(db);
    TrVMWarm_ShutDown(db, retain_file);
    TrVMFbl_ShutDown(db);
    TrVMAsi_Close(db);
    TrVMCan_Close(db);
    TrDDKC_Close(db);
    TrIos_Close(db);
    TrVMRsc_FreeAll(db);
    // A heap of its own is deleted by the next build that makes one.
    if (TrHeap *heap = TrVM_GetHeap(db, TrVM_DBSize(db))) TrHeap_FreeAll(heap);
}

// ------------------------------------------------------- definition layer

namespace {
void open_services(const TrCodeImage &code, uint8_t *db, uint8_t *events, const char *name) {
    if (TrVM_OpenModbus(db) != 0) TrEVSTRACE("Cannot open MODBUS client connection");
    if (TrVM_OpenExtData(db) != 0) TrEVSTRACE("Cannot open connections to external variables");
    if (events) {
        if (TrEA_Open(&code, db, events) != 0) TrEVSTRACE("Cannot produce all public variables");
        TrEvs_OnAppStart(events, name);
    }
}
} // namespace

int TrDef_ColdStart(const TrCodeImage &code, uint8_t *db, const char *retain_file, uint8_t *events,
                    int load_retains, int pause, const char *name) {
    if (!code.data || !db) return 1;
    int rc = TrVM_Build(code, db);
    if (rc) return rc;
    if (pause) TrVM_SetPauseMode(db, 1);
    TrVM_PrepareRetains(db, retain_file);
    if (load_retains && TrVM_LoadRetains(db, retain_file) == 0) {
        uint8_t *st = TrVM_Status(db);
        put_le32(st + kBuildOptions, le32(st + kBuildOptions) | kOptRetainsLoaded);
    }
    open_services(code, db, events, name);
    return 0;
}

int TrDef_HotStart(const TrCodeImage &code, uint8_t *db, const char *retain_file, uint8_t *events,
                   int pause, const char *name, uint32_t tick) {
    if (!code.data || !db) return 1;
    pCode = code;
    int rc = TrVM_CanHOTStart(code, db);
    if (!rc) rc = TrVM_BuildHOT(code, db, tick);
    if (rc) return rc;
    TrVM_PrepareRetains(db, retain_file);
    if (pause) TrVM_SetPauseMode(db, 1);
    open_services(code, db, events, name);
    return 0;
}

int TrDef_Change(const TrCodeImage &code, uint8_t *db, uint8_t *events, const char *name,
                 uint32_t tick) {
    if (!code.data || !db) return 1;
    uint8_t *st = TrVM_Status(db);
    if (!st) return 1;
    TrVM_CloseModbus(db);
    TrVM_CloseExtData(db);
    put_le32(st + kBuildOptions, le32(st + kBuildOptions) | kOptChangeApplied);
    pCode = code;
    int rc = TrVM_BuildHOT(code, db, tick);
    if (rc) return rc;
    put_le32(st + kBuildOptions, le32(st + kBuildOptions) | kOptChangeApplied);
    if (TrVM_OpenModbus(db) != 0) TrEVSTRACE("Cannot open MODBUS client connection");
    if (TrVM_OpenExtData(db) != 0) TrEVSTRACE("Cannot open connections to external variables");
    if (events) {
        if (TrEA_Open(&code, db, events) != 0) TrEVSTRACE("Cannot produce all public variables");
        TrEvs_OnAppChange(events, name);
    }
    return 0;
}

int TrDef_Stop(uint8_t *db, uint8_t *events, const char *retain_file, const char *name) {
    if (!db) return 1;
    if (events) {
        TrEvs_OnAppStop(events, name);
        TrEA_Close(events);
    }
    TrVM_CloseModbus(db);
    TrVM_CloseExtData(db);
    TrVM_ShutDown(db, retain_file);
    return 0;
}

int TrDef_Cycle(uint8_t *db, uint32_t tick, uint8_t *events) {
    if (!db) return 1;
    TrVM_UpdateExtData(db, tick);
    TrVM_FullIOExchangeEx(db, tick);
    TrVM_ActivateModbus(db, tick);
    TrVM_ExchangeModbusData(db);
    int rc = TrVM_Cycle(db, tick);
    TrVMBsmp_Activate(db);
    if (events) {
        TrEA_ManageChangeEvents(db, events);
        TrEvs_Activate(events, tick);
    }
    return rc;
}

int TrDef_ServeVMRequest(TrCSData *cs, uint8_t *db, uint16_t slot) {
    uint8_t *request = TrCS_GetVMRequest(cs, slot);
    uint8_t *answer = TrCS_GetVMAnswerBuffer(cs, slot);
    if (!request || !answer) {
        TrCS_SendRC(cs, slot, 1);
        return 1;
    }
    TrCS_SendAnswer(cs, slot, TrVM_Serve(db, request, answer));
    return 0;
}

int TrDef_ServeModbusRequest(TrCSData *cs, uint8_t *db, int code, uint16_t slot) {
    uint8_t *request = TrCS_GetVMRequest(cs, slot);
    uint8_t *answer = TrCS_GetVMAnswerBuffer(cs, slot);
    if (!db || !request || !answer) {
        TrCS_SendRC(cs, slot, 1);
        return 1;
    }
    uint8_t *st = TrVM_Status(db);
    if (!st || stopped(st)) {
        TrCS_SendRC(cs, slot, 1);
        return 1;
    }
    TrCS_SendAnswer(cs, slot, TrVM_ServeModbus(db, code, request, answer));
    return 0;
}
