// The IEC program layer: program table, program order in a cycle, calls,
// breakpoints, the saved call stack, the execution buffer and the logs
// (layout in trvmprg.h).
#include "iec/kernel/trvmprg.h"

#include "base/le.h"
#include "base/trace.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"

#include <cstring>
#include <vector>

using namespace trprg;

namespace {

constexpr uint32_t kSysLogSlots = 16, kUnresolvedSize = 16;
// The process-wide system log.
uint16_t g_syslog[kSysLogSlots];

uint8_t *seg(uint8_t *db, uint32_t k, uint32_t *n) {
    *n = 0;
    uint8_t *p = db ? TrDB_Segment(db, TrVM_DBSize(db), k, n) : nullptr;
    if (!p) *n = 0;
    return p;
}

uint16_t flags_of(const uint8_t *e) {
    return le16(e + kFlags);
}

bool runnable(const uint8_t *e) {
    uint16_t f = flags_of(e);
    return (f & (kActive | kCalledActive)) && !(f & kSuspended);
}

uint16_t status_flags(uint8_t *st) {
    return le16(st + trst::kRunFlags);
}

// Runs programs of a list in order (from the one that stopped at a
// breakpoint when there is one); false once a run answers 0.
template <class List> void run_list(uint8_t *db, uint8_t *st, uint32_t n, List program_at) {
    uint32_t start = 0, stop = le16(st + trst::kWorking);
    if (stop) {
        uint16_t f2 = le16(st + trst::kFlags2);
        if (f2 & kResumeRequest) put_le16(st + trst::kFlags2, uint16_t(f2 & ~kResumeRequest));
        for (uint32_t i = 0; i < n; ++i)
            if (program_at(i) == stop) {
                start = i;
                break;
            }
    }
    for (uint32_t i = start; i < n; ++i) {
        uint32_t p = program_at(i);
        uint8_t *e = TrVMPrg_Entry(db, p);
        if (!e || !runnable(e)) continue;
        if (TrVMTic_Run(db, st, pCode, p) == 0) break;
    }
}

void count_cycle(uint8_t *st) {
    put_le32(st + trst::kCycleCount, le32(st + trst::kCycleCount) + 1);
}

void recount_breakpoints(uint8_t *db, uint8_t *st) {
    bool any = false;
    for (uint32_t i = 0; i < trst::kBreakpointSlots; ++i)
        any = any || le16(st + trst::kBreakpoints + i * trst::kBreakpointSize + trst::kBpKind) != 0;
    uint16_t f = status_flags(st);
    put_le16(st + trst::kRunFlags,
             any ? uint16_t(f | kBreakpointsSet) : uint16_t(f & ~kBreakpointsSet));
    // Each program counts the slots that name it.
    for (uint32_t p = 1; p <= TrVMPrg_Count(db); ++p) {
        uint32_t n = 0;
        for (uint32_t i = 0; i < trst::kBreakpointSlots; ++i) {
            const uint8_t *s = st + trst::kBreakpoints + i * trst::kBreakpointSize;
            if (le16(s + trst::kBpKind) && le16(s + trst::kBpProgram) == p) ++n;
        }
        put_le32(TrVMPrg_Entry(db, p) + kBpCount, n);
    }
}

} // namespace

uint32_t TrVMPrg_Count(uint8_t *db) {
    uint32_t n;
    return seg(db, 4, &n) ? n / kEntrySize : 0;
}

uint8_t *TrVMPrg_Entry(uint8_t *db, uint32_t k) {
    uint32_t n;
    uint8_t *p = seg(db, 4, &n);
    if (!p || k == 0 || uint64_t(k) * kEntrySize > n) return nullptr;
    return p + (k - 1) * kEntrySize;
}

bool TrVMPrg_IsSfc(const uint8_t *e) {
    uint16_t kind = le16(e + kKind);
    return kind == 1 || kind == 2;
}

// ---------------------------------------------------------------- build

int TrVMCode_SetProgramPointers(const TrCodeImage &code, uint8_t *db) {
    uint32_t count = TrVMCode_GetNbProg(code), slots = TrVMPrg_Count(db);
    if (count > slots) return 1;
    uint32_t stack = TrVMCode_GetCallStackSize(code), with_stack = 0;
    std::vector<uint32_t> offsets(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t attr;
        uint16_t nostack;
        if (!TrVMCode_GetProgram(code, i, &offsets[i], &attr, &nostack)) offsets[i] = 0;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *e = TrVMPrg_Entry(db, i + 1);
        uint32_t off = 0, attr = 0;
        uint16_t nostack = 1;
        TrVMCode_GetProgram(code, i, &off, &attr, &nostack);
        // A program's code runs to the next program's code or the image's end.
        uint32_t end = code.size;
        for (uint32_t o : offsets)
            if (o > off && o < end) end = o;
        if (off == 0 || off >= code.size) off = end = 0;
        put_le32(e + kCodeOffset, off);
        put_le32(e + kCodeSize, end - off);
        put_le16(e + kKind, uint16_t(attr));
        uint32_t place = 0;
        if (!nostack) {
            ++with_stack;
            uint64_t at = uint64_t(stack) * with_stack;
            place = at <= 0xFFFF ? uint32_t(at) : 0;
        }
        put_le16(e + kSavedPlace, uint16_t(place));
    }
    return 0;
}

void TrVMPrg_ActivateAllPrograms(uint8_t *db) {
    for (uint32_t p = 1; p <= TrVMPrg_Count(db); ++p) {
        uint8_t *e = TrVMPrg_Entry(db, p);
        uint16_t kind = le16(e + kKind), f;
        if (kind == 2 || kind == 3)
            f = 0;
        else if (kind == 1)
            f = kCalledActive;
        else
            f = kActive;
        put_le16(e + kFlags, f);
    }
}

void TrVMPrg_ActivateNewPrograms(uint8_t *db) {
    for (uint32_t p = 1; p <= TrVMPrg_Count(db); ++p) {
        uint8_t *e = TrVMPrg_Entry(db, p);
        uint16_t kind = le16(e + kKind);
        if (kind == 3)
            put_le16(e + kFlags, 0);
        else if (kind == 0 || kind > 3)
            put_le16(e + kFlags, uint16_t(flags_of(e) | kActive));
    }
}

// ---------------------------------------------------------------- cycle

int TrVMPrg_Execute(uint8_t *db) {
    host::trace("TrVMPrg_Execute");
    uint8_t *st = TrVM_Status(db);
    if (!st) return 0;
    put_le16(st + trst::kFlags2, uint16_t(le16(st + trst::kFlags2) | kCycleInProgress));
    if (status_flags(st) & (trst::kRunning | kOneCycle)) {
        run_list(db, st, TrVMPrg_Count(db), [](uint32_t i) { return i + 1; });
        count_cycle(st);
    }
    put_le16(st + trst::kRunFlags, uint16_t(status_flags(st) & ~kOneCycle));
    put_le16(st + trst::kFlags2, uint16_t(le16(st + trst::kFlags2) & ~kCycleInProgress));
    TrVMPrg_ProcessExecBuffer(db);
    return 0;
}

int TrVMPrg_Task(uint8_t *db, uint32_t task, int running_check) {
    host::trace(task == 0 ? "TrVMPrg_Task main" : "TrVMPrg_Task");
    uint8_t *st = TrVM_Status(db);
    if (!st || task >= TrVM_GetNbTask(db) || !pCode.data) return 0;
    uint32_t n28;
    uint8_t *tasks = seg(db, 28, &n28);
    uint32_t list = le32(tasks + trdb::kTaskEntrySize * task + 4);
    // The zero-terminated program list, read within the image.
    uint32_t n = 0;
    while (const uint8_t *w = TrVMCode_Record(pCode, uint64_t(list) + 2ull * n, 2)) {
        if (le16(w) == 0 || n == 0xFFFF) break;
        ++n;
    }
    if (running_check && !(status_flags(st) & (trst::kRunning | kOneCycle))) return 0;
    if (task == 0)
        put_le16(st + trst::kFlags2, uint16_t(le16(st + trst::kFlags2) | kCycleInProgress));
    run_list(db, st, n, [&](uint32_t i) { return uint32_t(le16(pCode.data + list + 2 * i)); });
    if (task == 0) {
        count_cycle(st);
        put_le16(st + trst::kRunFlags, uint16_t(status_flags(st) & ~kOneCycle));
        put_le16(st + trst::kFlags2, uint16_t(le16(st + trst::kFlags2) & ~kCycleInProgress));
    }
    return 0;
}

void TrVMPrg_ProcessExecBuffer(uint8_t *db) {
    uint8_t *st = TrVM_Status(db);
    uint32_t n;
    uint8_t *buf = seg(db, 2, &n);
    if (!st || !buf || le16(st + trst::kExecFill) == 0) return;
    TrVMTic_Run(db, st, pCode, 0);
    put_le16(st + trst::kExecFill, 0);
    if (n >= 2) put_le16(buf, 68);
}

int TrVMPrg_Call(uint8_t *db, uint32_t program) {
    uint8_t *st = TrVM_Status(db);
    uint8_t *e = TrVMPrg_Entry(db, program);
    if (!st || !e || program > TrVMPrg_Count(db)) return 0;
    uint16_t f = flags_of(e);
    if (f & kBeingCalled) {
        TrVMLog_Push(db, 33, uint16_t(program), program);
        return 0;
    }
    put_le16(e + kFlags, uint16_t(f | kBeingCalled));
    int rc = TrVMTic_Run(db, st, pCode, program);
    put_le16(e + kFlags, uint16_t(flags_of(e) & ~kBeingCalled));
    return rc;
}

// ---------------------------------------------------------------- call stack

void TrVMPrg_SaveCallStack(uint8_t *db, uint32_t program) {
    uint8_t *e = TrVMPrg_Entry(db, program);
    uint8_t *st = TrVM_Status(db);
    uint32_t n29;
    uint8_t *cs = seg(db, 29, &n29);
    if (!e || !st || !cs) return;
    uint32_t depth = TrDB_GetSegment(db, 29).count_b, place = le16(e + kSavedPlace);
    uint32_t room = le16(st + trst::kCallStack), entries = n29 / 4;
    if (place == 0 || depth > room || place + depth > entries || depth > place) depth = 0;
    if (depth) std::memmove(cs + 4 * place, cs, 4 * depth);
    put_le16(e + kSavedDepth, uint16_t(depth));
}

void TrVMPrg_RestoreCallStack(uint8_t *db, uint32_t program) {
    uint8_t *e = TrVMPrg_Entry(db, program);
    uint32_t n29;
    uint8_t *cs = seg(db, 29, &n29);
    if (!e || !cs) return;
    uint32_t depth = le16(e + kSavedDepth), place = le16(e + kSavedPlace), entries = n29 / 4;
    if (place == 0 || place + depth > entries || depth > place) depth = 0;
    if (depth) std::memmove(cs, cs + 4 * place, 4 * depth);
    VmDbSegment s = TrDB_GetSegment(db, 29);
    s.count_b = uint16_t(depth);
    TrDB_SetSegment(db, 29, s);
    put_le16(e + kSavedDepth, 0);
}

// ---------------------------------------------------------------- breakpoints

int TrVMPrg_HasBreapointOrStep(uint8_t *db) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return 0;
    if (status_flags(st) & (kBreakpointsSet | kStepMode)) return 1;
    for (uint32_t p = 1; p <= TrVMPrg_Count(db); ++p)
        if (le32(TrVMPrg_Entry(db, p) + kBpCount)) return 1;
    return 0;
}

void TrVMPrg_SetBreakpoint(uint8_t *db, uint32_t program, uint32_t position, uint32_t kind) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return;
    uint8_t *slots = st + trst::kBreakpoints;
    if (program == 0 && kind == 0) {
        std::memset(slots, 0, trst::kBreakpointSlots * trst::kBreakpointSize);
        recount_breakpoints(db, st);
        return;
    }
    uint8_t *slot = nullptr;
    for (uint32_t i = 0; i < trst::kBreakpointSlots && !slot; ++i) {
        uint8_t *s = slots + i * trst::kBreakpointSize;
        if (le16(s + trst::kBpKind) && le16(s + trst::kBpProgram) == program &&
            le32(s + trst::kBpPosition) == position)
            slot = s;
    }
    for (uint32_t i = 0; i < trst::kBreakpointSlots && !slot; ++i) {
        uint8_t *s = slots + i * trst::kBreakpointSize;
        if (le16(s + trst::kBpKind) == 0) slot = s;
    }
    if (!slot) return;
    if (kind == 2 && le16(slot + trst::kBpKind) >= 1) return;
    if (kind == 0) {
        std::memset(slot, 0, trst::kBreakpointSize);
    } else {
        put_le16(slot + trst::kBpKind, uint16_t(kind));
        put_le16(slot + trst::kBpProgram, uint16_t(program));
        put_le32(slot + trst::kBpPosition, position);
    }
    recount_breakpoints(db, st);
}

int TrVMPrg_IsBreakpoint(uint8_t *db, uint32_t program, uint32_t position, uint32_t called) {
    uint8_t *st = TrVM_Status(db);
    if (!st || !(status_flags(st) & kBreakpointsSet)) return 0;
    for (uint32_t i = 0; i < trst::kBreakpointSlots; ++i) {
        uint8_t *s = st + trst::kBreakpoints + i * trst::kBreakpointSize;
        uint16_t kind = le16(s + trst::kBpKind), p = le16(s + trst::kBpProgram);
        uint32_t at = le32(s + trst::kBpPosition);
        bool match = (p == program && (at == position || at == 0)) || (p == 0xFFFF && at == called);
        if (!kind || !match) continue;
        if (kind == 2) {
            std::memset(s, 0, trst::kBreakpointSize);
            recount_breakpoints(db, st);
            return 1;
        }
        if (kind == 3) {
            TrVMLog_Push(db, 68, 0, (program & 0xFFFF) | (position << 16));
            continue;
        }
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- logs

void TrVMLog_PushSys(uint16_t code) {
    for (uint16_t &slot : g_syslog)
        if (slot == 0) {
            slot = code;
            return;
        }
}

uint16_t TrVMLog_PopSys() {
    uint16_t code = g_syslog[0];
    std::memmove(g_syslog, g_syslog + 1, sizeof g_syslog - sizeof g_syslog[0]);
    g_syslog[kSysLogSlots - 1] = 0;
    return code;
}

void TrVMLog_RegisterUnresolved(uint8_t *db, const char *name) {
    uint8_t *st = TrVM_Status(db);
    uint32_t n;
    uint8_t *table = seg(db, 22, &n);
    if (!st || !table || !name) return;
    uint32_t count = le16(st + trst::kUnresolved);
    if ((count + 1) * kUnresolvedSize > n) return;
    char *e = reinterpret_cast<char *>(table + count * kUnresolvedSize);
    std::memset(e, 0, kUnresolvedSize);
    size_t len = strnlen(name, 256);
    if (len < kUnresolvedSize) {
        std::memcpy(e, name, len);
    } else {
        std::memcpy(e, name, 13);
        std::memcpy(e + 13, "..", 2);
    }
    put_le16(st + trst::kUnresolved, uint16_t(count + 1));
}

const char *TrVMLog_GetUnresolved(uint8_t *db, uint32_t index) {
    uint8_t *st = TrVM_Status(db);
    uint32_t n;
    uint8_t *table = seg(db, 22, &n);
    if (!st || !table || index >= le16(st + trst::kUnresolved) || (index + 1) * kUnresolvedSize > n)
        return nullptr;
    return reinterpret_cast<const char *>(table + index * kUnresolvedSize);
}

void TrVMPrg_Reset() {
    std::memset(g_syslog, 0, sizeof g_syslog);
}
