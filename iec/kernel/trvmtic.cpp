// The IEC interpreter: runs the 16-bit instruction words of one program (or
// of the programming tool's execution buffer) on the typed data segments of
// the VM database. Every instruction is dispatched through one table built
// from the opcode table's rows; the number of operand words comes from the
// row's shape, so an instruction is known to lie inside its program before
// its handler reads it.
//
// Nothing read from the code is trusted: every data index, indexed element,
// program, step, transition, external variable and complex-type offset is
// checked against its segment ("index out of range", log 32, stops the VM),
// and an opcode, operand or jump outside the program stops it with log 8.
#include "iec/kernel/trvmtic.h"

#include "base/le.h"
#include "base/trace.h"
#include "iec/kernel/trconv.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tropcodes_rows.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trstr.h"
#include "iec/kernel/trvm.h"
#include "iec/kernel/trvmprg.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

// The database holds its numbers in little-endian order; values are moved
// with memcpy, which is that order on this host.
static_assert(std::endian::native == std::endian::little, "little-endian host");

namespace {

constexpr uint32_t kDay = 86400000;
constexpr uint32_t kLoopGuard = 1000000;
uint32_t g_run_limit = kTrVMTicRunLimit;
// Log codes.
constexpr uint16_t kLogOpcode = 8, kLogRange = 32, kLogDepth = 38, kLogOverrun = 30;

// The data kinds an operand names: segment, element size and lock bit.
enum Sg { S8, S16, S32, S64, ST, SN };
constexpr uint32_t kSegOf[SN] = {6, 7, 8, 9, 10};
constexpr uint32_t kSizeOf[SN] = {1, 2, 4, 8, 4};
constexpr uint8_t kLockOf[SN] = {trlock::k8, trlock::k16, trlock::k32, trlock::k64, trlock::kTime};

struct Vm {
    uint8_t *db, *st;
    uint8_t *seg[SN];
    uint32_t cnt[SN];
    uint8_t *lock;
    uint32_t nlock;
    uint8_t *sptr; // STRING pointers
    uint32_t ns;
    uint32_t sbase, send; // STRING buffers as database offsets
    uint8_t *steps, *trans, *xv, *ct, *prg, *cs;
    uint32_t nsteps, ntrans, nxv, nct, nprg, ncs, csmax, ninst;
    const uint8_t *img;
    uint32_t img_size;
    uint8_t *xbuf;
    uint32_t xsize;
    // The run.
    uint32_t top;          // program the run was started with (0: execution buffer)
    uint32_t prog;         // program executing now
    uint8_t *entry;        // its entry (a scratch one for the execution buffer)
    const uint8_t *code;   // its code
    uint32_t size, pc, at; // code bytes, next instruction, offset behind the opcode
    uint16_t op;           // opcode executing
    uint32_t depth, base;  // call-stack depth now and at the run's start
    uint32_t loop_count, loop_pos;
    int32_t lock_ctx;
    bool done;
    bool ctl; // a handler ended the run or moved the place of the next instruction
    int result;
    uint8_t scratch[trprg::kEntrySize];
};

// ---------------------------------------------------------------- values

template <class T> inline T get(const uint8_t *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T> inline void put(uint8_t *p, T v) {
    std::memcpy(p, &v, sizeof v);
}
inline uint16_t W(const uint8_t *o, int k) {
    return get<uint16_t>(o + 2 * k);
}
inline uint32_t K(const uint8_t *o, int k) { // two words, high half first
    return (uint32_t(W(o, k)) << 16) | W(o, k + 1);
}
inline uint64_t Q(const uint8_t *o, int k) {
    return (uint64_t(K(o, k)) << 32) | K(o, k + 2);
}

uint16_t run_flags(Vm &v) {
    return le16(v.st + trst::kRunFlags);
}
void set_run_flags(Vm &v, uint16_t f) {
    put_le16(v.st + trst::kRunFlags, f);
}

// ---------------------------------------------------------------- errors

void set_depth(Vm &v, uint32_t d);

uint32_t log_data(const Vm &v) {
    return (v.prog & 0xFFFF) | (v.at << 16);
}

void fatal(Vm &v, uint16_t code, uint16_t arg) {
    TrVMLog_Push(v.db, code, arg, log_data(v));
    // An invalid word of the execution buffer leaves the VM running.
    if (!(code == kLogOpcode && v.top == 0))
        set_run_flags(v, uint16_t((run_flags(v) & ~0xF) | trst::kStopped));
    v.done = v.ctl = true;
    v.result = 0;
    // The run is abandoned: nothing of its call stack is kept.
    if (v.depth != v.base) set_depth(v, v.base);
}

template <Sg S> inline uint8_t *ref(Vm &v, uint32_t i) {
    if (i < v.cnt[S]) [[likely]]
        return v.seg[S] + i * kSizeOf[S];
    fatal(v, kLogRange, uint16_t(i));
    return nullptr;
}

inline bool locked(const Vm &v, uint32_t i, uint8_t bit) {
    return i < v.nlock && (v.lock[i] & bit);
}

// A STRING buffer inside the buffer segment, or null.
uint8_t *string_at(Vm &v, uint64_t at) {
    if (at < v.sbase || at + 3 > v.send || at + 3 + v.db[at] > v.send) return nullptr;
    return v.db + at;
}
uint8_t *sref(Vm &v, uint32_t i) {
    if (i < v.ns)
        if (uint8_t *b = string_at(v, le32(v.sptr + 4 * i))) return b;
    fatal(v, kLogRange, uint16_t(i));
    return nullptr;
}

// Element base + value of DINT variable `index` of kind S (or STRING).
template <Sg S> uint8_t *element(Vm &v, uint32_t base, uint32_t index, uint32_t *at) {
    uint8_t *ix = ref<S32>(v, index);
    if (!ix) return nullptr;
    int64_t e = int64_t(base) + get<int32_t>(ix);
    if (e < 0 || e >= int64_t(v.cnt[S])) {
        fatal(v, kLogRange, uint16_t(base));
        return nullptr;
    }
    *at = uint32_t(e);
    return v.seg[S] + uint32_t(e) * kSizeOf[S];
}
uint8_t *string_element(Vm &v, uint32_t base, uint32_t index, uint32_t *at) {
    uint8_t *ix = ref<S32>(v, index);
    if (!ix) return nullptr;
    int64_t e = int64_t(base) + get<int32_t>(ix);
    if (e < 0 || e >= int64_t(v.ns)) {
        fatal(v, kLogRange, uint16_t(base));
        return nullptr;
    }
    *at = uint32_t(e);
    return sref(v, uint32_t(e));
}

// A place of `n` bytes in the complex-type segment, or null (log 32).
uint8_t *ct_at(Vm &v, int64_t off, uint64_t n) {
    if (off >= 0 && uint64_t(off) + n <= v.nct) return v.ct + off;
    fatal(v, kLogRange, uint16_t(off));
    return nullptr;
}

// ---------------------------------------------------------------- flow

// Continues in program p (0: the execution buffer) at byte `pos`.
bool enter(Vm &v, uint32_t p, uint32_t pos) {
    if (p == 0) {
        v.code = v.xbuf;
        v.size = v.xsize;
        v.entry = v.scratch;
    } else {
        if (p > v.nprg) {
            fatal(v, kLogRange, uint16_t(p));
            return false;
        }
        v.entry = v.prg + (p - 1) * trprg::kEntrySize;
        uint64_t off = le32(v.entry + trprg::kCodeOffset), n = le32(v.entry + trprg::kCodeSize);
        if (off > v.img_size) off = n = 0;
        if (off + n > v.img_size) n = v.img_size - off;
        v.code = v.img + off;
        v.size = uint32_t(n);
    }
    v.prog = p;
    v.pc = pos;
    v.ctl = true;
    return true;
}

// Jumps to byte `to` of the program; outside it the VM stops (log 8).
inline void jump_to(Vm &v, uint64_t to) {
    if (to < v.size && v.size - to >= 2) [[likely]] {
        v.pc = uint32_t(to);
        v.ctl = true;
        return;
    }
    fatal(v, kLogOpcode, v.op);
}
inline void jump_rel(Vm &v, uint16_t off) {
    jump_to(v, uint64_t(int64_t(v.pc) + int16_t(off)));
}

void set_depth(Vm &v, uint32_t d) {
    v.depth = d;
    VmDbSegment s = TrDB_GetSegment(v.db, 29);
    s.count_b = uint16_t(d);
    TrDB_SetSegment(v.db, 29, s);
}

bool push_call(Vm &v, uint32_t prog, uint32_t pos) {
    if (v.depth >= v.csmax || v.depth >= v.ncs) return false;
    put_le16(v.cs + 4 * v.depth, uint16_t(prog));
    put_le16(v.cs + 4 * v.depth + 2, uint16_t(pos));
    set_depth(v, v.depth + 1);
    return true;
}

// Ends the run so that the top program resumes at `pos` of the program
// executing now: inside a called program that place goes on the saved call
// stack, whose top the resume then takes.
void save_resume(Vm &v, uint32_t pos) {
    if (v.top == 0) { // the execution buffer keeps no place
        set_depth(v, v.base);
        return;
    }
    uint8_t *top = v.prg + (v.top - 1) * trprg::kEntrySize;
    if (v.depth > 0 || v.prog != v.top) {
        if (!push_call(v, v.prog, pos)) pos = 0;
        put_le16(top + trprg::kResume, 0);
    } else {
        put_le16(top + trprg::kResume, uint16_t(pos));
    }
    TrVMPrg_SaveCallStack(v.db, v.top);
    set_depth(v, 0);
}

// A stop at a breakpoint: the place goes to the status record for the tool.
void break_here(Vm &v, uint16_t flags) {
    set_run_flags(v, flags);
    put_le16(v.st + trst::kStopProgram, uint16_t(v.prog));
    put_le32(v.st + trst::kStopPosition, v.pc);
    // The working fields name the program the cycle resumes with.
    put_le16(v.st + trst::kWorking, uint16_t(v.top));
    put_le16(v.st + trst::kWorking + 2, uint16_t(v.pc));
    save_resume(v, v.pc);
    v.done = v.ctl = true;
    v.result = 0;
}

// ---------------------------------------------------------------- ops

template <class T> struct Wide { using U = std::make_unsigned_t<T>; };
template <class T> inline T add(T a, T b) {
    if constexpr (std::is_floating_point_v<T>)
        return a + b;
    else
        return T(typename Wide<T>::U(a) + typename Wide<T>::U(b));
}
template <class T> inline T sub(T a, T b) {
    if constexpr (std::is_floating_point_v<T>)
        return a - b;
    else
        return T(typename Wide<T>::U(a) - typename Wide<T>::U(b));
}
template <class T> inline T mul(T a, T b) {
    if constexpr (std::is_floating_point_v<T>)
        return a * b;
    else if constexpr (sizeof(T) < sizeof(int))
        return T(uint32_t(a) * uint32_t(b));
    else
        return T(typename Wide<T>::U(a) * typename Wide<T>::U(b));
}
template <class T> inline T neg(T a) {
    if constexpr (std::is_same_v<T, float>)
        return std::bit_cast<float>(std::bit_cast<uint32_t>(a) ^ 0x80000000u);
    else if constexpr (std::is_same_v<T, double>)
        return std::bit_cast<double>(std::bit_cast<uint64_t>(a) ^ 0x8000000000000000ull);
    else
        return T(typename Wide<T>::U(0) - typename Wide<T>::U(a));
}
struct Add {
    template <class T> static T f(T a, T b) { return add(a, b); }
};
struct Sub {
    template <class T> static T f(T a, T b) { return sub(a, b); }
};
struct Mul {
    template <class T> static T f(T a, T b) { return mul(a, b); }
};
struct SubTime { // a negative TIME difference gives 0
    template <class T> static T f(T a, T b) { return a < b ? 0 : a - b; }
};
struct Gt {
    template <class T> static bool f(T a, T b) { return a > b; }
};
struct Ge {
    template <class T> static bool f(T a, T b) { return a >= b; }
};
struct Eq {
    template <class T> static bool f(T a, T b) { return a == b; }
};
struct Ne {
    template <class T> static bool f(T a, T b) { return a != b; }
};
struct Or {
    template <class T> static T f(T a, T b) { return T(a | b); }
};
struct And {
    template <class T> static T f(T a, T b) { return T(a & b); }
};
struct Xor {
    template <class T> static T f(T a, T b) { return T(a ^ b); }
};

// The fixed result and log code of a division by zero.
template <class T> struct DivZero;
template <> struct DivZero<int32_t> {
    static int32_t v() { return 2147483647; }
    static constexpr uint16_t log = 12;
};
template <> struct DivZero<uint32_t> {
    static uint32_t v() { return 2147483647; }
    static constexpr uint16_t log = 12;
};
template <> struct DivZero<float> {
    static float v() { return std::bit_cast<float>(0x7CF0BDC2u); }
    static constexpr uint16_t log = 12;
};
template <> struct DivZero<int16_t> {
    static int16_t v() { return 32767; }
    static constexpr uint16_t log = 22;
};
template <> struct DivZero<uint16_t> {
    static uint16_t v() { return 32767; }
    static constexpr uint16_t log = 22;
};
template <> struct DivZero<int8_t> {
    static int8_t v() { return 127; }
    static constexpr uint16_t log = 21;
};
template <> struct DivZero<uint8_t> {
    static uint8_t v() { return 127; }
    static constexpr uint16_t log = 21;
};
template <> struct DivZero<int64_t> {
    static int64_t v() { return 0x7FFFFFFFFFFFFFFFll; }
    static constexpr uint16_t log = 18;
};
template <> struct DivZero<uint64_t> {
    static uint64_t v() { return 0x7FFFFFFFFFFFFFFFull; }
    static constexpr uint16_t log = 18;
};
template <> struct DivZero<double> {
    static double v() { return std::bit_cast<double>(0x7FAC7B1F3CAC7433ull); }
    static constexpr uint16_t log = 18;
};

// ---------------------------------------------------------------- handlers

using Handler = void (*)(Vm &, const uint8_t *);

void h_invalid(Vm &v, const uint8_t *) {
    fatal(v, kLogOpcode, v.op);
}

// d := a op b; the lock-checked form skips the instruction on a locked d.
template <Sg S, class T, class F, bool Lk> void h_bin(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), kLockOf[S]))) return;
    uint8_t *a = ref<S>(v, W(o, 1)), *b = a ? ref<S>(v, W(o, 2)) : nullptr;
    if (b) put<T>(d, F::f(get<T>(a), get<T>(b)));
}

template <Sg S, class T, bool Lk> void h_div(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), kLockOf[S]))) return;
    uint8_t *a = ref<S>(v, W(o, 1)), *b = a ? ref<S>(v, W(o, 2)) : nullptr;
    if (!b) return;
    T x = get<T>(a), y = get<T>(b);
    if (y == T(0)) {
        TrVMLog_Push(v.db, DivZero<T>::log, W(o, 2), log_data(v));
        put<T>(d, DivZero<T>::v());
        return;
    }
    if constexpr (std::is_signed_v<T> && std::is_integral_v<T>) {
        // The most negative value divided by -1 traps on this machine: it
        // stays the most negative value, as in the 8- and 16-bit forms.
        if (y == T(-1)) {
            put<T>(d, neg(x));
            return;
        }
        put<T>(d, T(x / y));
    } else {
        put<T>(d, T(x / y));
    }
}

// BOOL := a cmp b; the lock-checked form tests the BOOL's lock.
template <Sg S, class T, class F, bool Lk> void h_cmp(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k8))) return;
    uint8_t *a = ref<S>(v, W(o, 1)), *b = a ? ref<S>(v, W(o, 2)) : nullptr;
    if (b) *d = F::f(get<T>(a), get<T>(b)) ? 1 : 0;
}

template <Sg S, class T, bool Lk> void h_neg(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), kLockOf[S]))) return;
    if (uint8_t *a = ref<S>(v, W(o, 1))) put<T>(d, neg(get<T>(a)));
}

template <bool Lk> void h_not(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k8))) return;
    if (uint8_t *a = ref<S8>(v, W(o, 1))) *d = *a == 0 ? 1 : 0;
}

template <Sg S, bool Lk> void h_mov(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), kLockOf[S]))) return;
    if (uint8_t *a = ref<S>(v, W(o, 1))) std::memcpy(d, a, kSizeOf[S]);
}

// d := base[index]
template <Sg S, bool Lk> void h_rdarr(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), kLockOf[S]))) return;
    uint32_t at;
    if (uint8_t *a = element<S>(v, W(o, 1), W(o, 2), &at)) std::memcpy(d, a, kSizeOf[S]);
}
// base[index] := source; the lock-checked form tests the element's lock.
template <Sg S, bool Lk> void h_wrarr(Vm &v, const uint8_t *o) {
    uint32_t at;
    uint8_t *d = element<S>(v, W(o, 0), W(o, 1), &at);
    if (!d || (Lk && locked(v, at, kLockOf[S]))) return;
    if (uint8_t *a = ref<S>(v, W(o, 2))) std::memcpy(d, a, kSizeOf[S]);
}

// STRINGs.
template <bool Lk> void h_cat(Vm &v, const uint8_t *o) {
    uint8_t *d = sref(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::kString))) return;
    uint8_t *a = sref(v, W(o, 1)), *b = a ? sref(v, W(o, 2)) : nullptr;
    if (b) TrVMStr_CatPtr(d, a, b);
}
template <class F, bool Lk> void h_scmp(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k8))) return;
    uint8_t *a = sref(v, W(o, 1)), *b = a ? sref(v, W(o, 2)) : nullptr;
    if (b) *d = F::f(TrVMStr_ComparePtr(a, b), 0) ? 1 : 0;
}
template <bool Lk> void h_smov(Vm &v, const uint8_t *o) {
    uint8_t *d = sref(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::kString))) return;
    if (uint8_t *a = sref(v, W(o, 1))) TrVMStr_CopyPtr(d, a);
}
template <bool Lk> void h_srdarr(Vm &v, const uint8_t *o) {
    uint8_t *d = sref(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::kString))) return;
    uint32_t at;
    if (uint8_t *a = string_element(v, W(o, 1), W(o, 2), &at)) TrVMStr_CopyPtr(d, a);
}
void h_swrarr(Vm &v, const uint8_t *o) {
    uint32_t at;
    uint8_t *d = string_element(v, W(o, 0), W(o, 1), &at);
    if (!d) return;
    if (uint8_t *a = sref(v, W(o, 2))) TrVMStr_CopyPtr(d, a);
}

// Jumps.
template <bool When> void h_jmpc(Vm &v, const uint8_t *o) {
    uint8_t *b = ref<S8>(v, W(o, 0));
    if (b && (*b != 0) == When) jump_rel(v, W(o, 1));
}
void h_jmp(Vm &v, const uint8_t *o) {
    jump_rel(v, W(o, 0));
}
void h_jmpa(Vm &v, const uint8_t *o) {
    jump_to(v, W(o, 0));
}
template <bool When> void h_jmpac(Vm &v, const uint8_t *o) {
    uint8_t *b = ref<S8>(v, W(o, 0));
    if (b && (*b != 0) == When) jump_to(v, W(o, 1));
}
void h_jmptab(Vm &v, const uint8_t *o) {
    uint8_t *x = ref<S32>(v, W(o, 0));
    if (!x) return;
    uint32_t n = W(o, 1);
    if (uint64_t(n) * 2 > v.size - v.pc) {
        fatal(v, kLogOpcode, v.op);
        return;
    }
    uint32_t i = get<uint32_t>(x) & 0xFFFF;
    if (i < n)
        jump_to(v, W(o, 2 + int(i)));
    else
        v.pc += 2 * n;
    v.ctl = true;
}
void h_jmpaeq(Vm &v, const uint8_t *o) {
    uint8_t *a = ref<S32>(v, W(o, 0)), *b = a ? ref<S32>(v, W(o, 1)) : nullptr;
    if (b && get<int32_t>(a) == get<int32_t>(b)) jump_to(v, W(o, 2));
}

// End of a program: back to the caller, or the run's end.
void h_end(Vm &v, const uint8_t *) {
    if (v.depth > v.base) {
        uint8_t *e = v.cs + 4 * (v.depth - 1);
        uint32_t p = le16(e), pos = le16(e + 2);
        set_depth(v, v.depth - 1);
        enter(v, p, pos);
        return;
    }
    v.done = v.ctl = true;
    v.result = 1;
}

void h_call(Vm &v, const uint8_t *o) {
    uint32_t p = W(o, 0);
    if (p == 0 || p > v.nprg) {
        fatal(v, kLogRange, uint16_t(p));
        return;
    }
    if (!push_call(v, v.prog, v.pc)) {
        fatal(v, kLogDepth, uint16_t(p));
        return;
    }
    enter(v, p, 0);
}

// Program control on the state field of the named program's entry.
uint8_t *program_entry(Vm &v, uint32_t p) {
    if (p >= 1 && p <= v.nprg) return v.prg + (p - 1) * trprg::kEntrySize;
    fatal(v, kLogRange, uint16_t(p));
    return nullptr;
}
void h_prg(Vm &v, const uint8_t *o) {
    uint8_t *e = program_entry(v, W(o, 0));
    if (!e) return;
    uint16_t f = le16(e + trprg::kFlags);
    switch (v.op) {
    case 187: // start
        if (f == 0) f = TrVMPrg_IsSfc(e) ? trprg::kSfcFirstRun : trprg::kActive;
        break;
    case 188: // stop (suspend)
        if (f == trprg::kActive) f = trprg::kActive | trprg::kSuspended;
        break;
    case 189: // kill
        if (f & trprg::kActive) {
            f &= uint16_t(~trprg::kSuspended);
            f = TrVMPrg_IsSfc(e) ? uint16_t(f | trprg::kSfcStopping) : 0;
        }
        break;
    default: // resume
        if ((f & 3) == 3) f &= uint16_t(~trprg::kSuspended);
        break;
    }
    put_le16(e + trprg::kFlags, f);
}
template <bool Lk> void h_prgstatus(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S32>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k32))) return;
    uint8_t *e = program_entry(v, W(o, 1));
    if (!e) return;
    uint16_t f = le16(e + trprg::kFlags);
    put<int32_t>(d, f == 1 ? 1 : (f & trprg::kSuspended) ? 2 : 0);
}

// Edges: 196 falling, 197 rising; the memory BOOL takes the value.
template <bool Rising, bool Lk> void h_edge(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k8))) return;
    uint8_t *x = ref<S8>(v, W(o, 1)), *m = x ? ref<S8>(v, W(o, 2)) : nullptr;
    if (!m) return;
    bool now = *x != 0, before = *m != 0;
    bool edge = Rising ? (now && !before) : (!now && before);
    if (le32(v.st + trst::kBuildOptions) & 0x10) edge = false;
    *d = edge ? 1 : 0;
    *m = *x;
}

bool known_type(uint16_t t) {
    t &= 0xFF7F;
    return (t >= 1 && t <= 5) || (t >= 10 && t <= 17);
}
template <bool Lk> void h_convert(Vm &v, const uint8_t *o) {
    uint16_t d = W(o, 0), s = W(o, 1), dt = W(o, 2), st = W(o, 3);
    // Unknown types leave the destination as it is; known ones name
    // variables that must exist.
    if (!known_type(dt) || !known_type(st)) return;
    uint8_t lock = 0;
    if (!TrTools_GetAnyParam(v.db, dt, d, &lock, nullptr)) return fatal(v, kLogRange, d);
    if (!TrTools_GetAnyParam(v.db, st, s, nullptr, nullptr)) return fatal(v, kLogRange, s);
    if (Lk && locked(v, d, lock)) return;
    TrVMCnv_Convert(v.db, o);
}

// Constants; destination 0 with a lock context writes into the
// complex-type segment at that offset.
template <Sg S, bool Lk> void h_ldk(Vm &v, const uint8_t *o) {
    uint32_t i = W(o, 0);
    uint64_t value = S == S64 ? Q(o, 1) : (S == S32 || S == ST) ? K(o, 1) : W(o, 1);
    uint8_t *d;
    if (i == 0 && v.lock_ctx != -1) {
        d = ct_at(v, v.lock_ctx, kSizeOf[S]);
        v.lock_ctx = -1;
    } else {
        d = ref<S>(v, i);
        if (d && Lk && locked(v, i, kLockOf[S])) return;
    }
    if (d) std::memcpy(d, &value, kSizeOf[S]);
}
// The inline text: a length byte, the text, padded to a whole word.
const uint8_t *inline_text(Vm &v, const uint8_t *o, uint32_t *n) {
    uint32_t room = v.size - v.pc; // bytes behind the destination word
    if (room < 1 || 1u + o[2] > room) {
        fatal(v, kLogOpcode, v.op);
        return nullptr;
    }
    *n = o[2];
    v.pc += (1 + *n + 1) & ~1u;
    v.ctl = true;
    return o + 3;
}
template <bool Lk> void h_ldkstr(Vm &v, const uint8_t *o) {
    uint32_t n;
    const uint8_t *text = inline_text(v, o, &n);
    if (!text) return;
    uint32_t i = W(o, 0);
    uint8_t *d;
    if (i == 0 && v.lock_ctx != -1) {
        uint8_t *head = ct_at(v, v.lock_ctx, 3);
        d = head ? ct_at(v, v.lock_ctx, 3ull + head[0]) : nullptr;
        v.lock_ctx = -1;
    } else {
        d = sref(v, i);
        if (d && Lk && locked(v, i, trlock::kString)) return;
    }
    if (d) TrVMStr_AscForce(d, reinterpret_cast<const char *>(text), n);
}

template <bool Value, bool Lk> void h_setb(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (d && !(Lk && locked(v, W(o, 0), trlock::k8))) *d = Value ? 1 : 0;
}

// Locks: index 0 names no variable.
template <Sg S> bool lockable(Vm &v, uint32_t i) {
    if (i == 0) return true;
    if constexpr (S == SN) {
        if (!sref(v, i)) return false;
    } else {
        if (!ref<S>(v, i)) return false;
    }
    if (i < v.nlock) return true;
    fatal(v, kLogRange, uint16_t(i));
    return false;
}
template <Sg S, uint8_t Mask> void h_lock(Vm &v, const uint8_t *o) {
    if (lockable<S>(v, W(o, 0))) TrVMTic_LockVar(v.db, W(o, 0), Mask);
}
template <Sg S, uint8_t Mask> void h_unlock(Vm &v, const uint8_t *o) {
    if (lockable<S>(v, W(o, 0))) TrVMTic_UnlockVar(v.db, W(o, 0), Mask, v.lock_ctx);
}
void h_unlockall(Vm &v, const uint8_t *) {
    TrVMTic_UnlockAllVars(v.db);
}

// VM control.
void h_vm(Vm &v, const uint8_t *o) {
    uint16_t f = run_flags(v);
    switch (v.op) {
    case 257:
        f &= uint16_t(~(trst::kRunning | trprg::kStepMode));
        break;
    case 258:
        f = uint16_t((f | trst::kRunning) & ~(trst::kStopped | trprg::kStepMode));
        break;
    case 259:
        f = uint16_t((f | trprg::kOneCycle) & ~trprg::kStepMode);
        break;
    case 260:
        put_le32(v.st + trst::kPeriod, K(o, 0));
        return;
    default: // 525
        if (!(f & trst::kRunning)) f |= trprg::kStepMode | trprg::kOneCycle;
        break;
    }
    set_run_flags(v, f);
}

// TIME timers, plain and lock-checked.
template <bool Start, bool Lk> void h_tmr(Vm &v, const uint8_t *o) {
    uint32_t i = W(o, 0);
    if (!ref<ST>(v, i) || (Lk && locked(v, i, trlock::kTime))) return;
    if (Start)
        TrVMTmr_StartTimer(v.db, i);
    else
        TrVMTmr_StopTimer(v.db, i);
}
template <bool Start> void h_cttmr(Vm &v, const uint8_t *o) {
    uint8_t *x = ref<S32>(v, W(o, 0));
    if (!x) return;
    uint8_t *p = ct_at(v, get<int32_t>(x), 4);
    if (!p) return;
    // A timer of the complex-type segment is known by its database offset.
    uint32_t at = uint32_t(p - v.db);
    if (Start)
        TrVMTmr_StartTimer(v.db, at | 0x80000000u);
    else
        TrVMTmr_StopTimer(v.db, at | 0x80000000u);
}

// Calls with a counted argument list behind the fixed operands.
bool args_fit(Vm &v, uint32_t words) {
    if (uint64_t(words) * 2 <= v.size - v.pc) {
        v.pc += words * 2;
        v.ctl = true;
        return true;
    }
    fatal(v, kLogOpcode, v.op);
    return false;
}
void h_stf(Vm &v, const uint8_t *o) {
    if (!args_fit(v, W(o, 1))) return;
    if (TrVMStf_Execute(v.db, o) == 0) {
        set_run_flags(v, uint16_t((run_flags(v) & ~0xF) | trst::kStopped));
        v.done = v.ctl = true;
        v.result = 0;
    }
}
void h_func(Vm &v, const uint8_t *o) {
    if (!args_fit(v, uint32_t(W(o, 1)) + 1)) return;
    TrVMFbl_RunCustomFunction(v.db, W(o, 0), 0, o + 4);
}
bool instance_known(Vm &v, uint32_t i) {
    return i >= 1 && i <= v.ninst;
}
void h_fb(Vm &v, const uint8_t *o) {
    if (!args_fit(v, W(o, 1))) return;
    if (!instance_known(v, W(o, 0))) {
        fatal(v, kLogRange, W(o, 0));
        return;
    }
    TrVMFbl_RunInstance(v.db, W(o, 0), 0, o + 4);
}
void h_fbct(Vm &v, const uint8_t *o) {
    uint8_t *x = ref<S32>(v, W(o, 0));
    if (!x) return;
    uint8_t *p = ct_at(v, get<int32_t>(x), 4);
    if (!p) return;
    uint32_t i = get<uint32_t>(p);
    if (!instance_known(v, i)) {
        TrEVSTRACE("Invalid FB index encoutered: %u", i);
        set_run_flags(v, uint16_t((run_flags(v) & ~0xF) | trst::kStopped));
        v.done = v.ctl = true;
        v.result = 0;
        return;
    }
    TrVMFbl_RunInstance(v.db, i, 0, nullptr);
}
void h_check(Vm &v, const uint8_t *o) {
    bool block = v.op == 537;
    uint32_t n = W(o, 0);
    int ok = block ? (instance_known(v, n) ? TrVMFbl_RunInstance(v.db, n, 9, o + 2) : 0)
                   : TrVMFbl_RunCustomFunction(v.db, n, 9, o + 2);
    if (ok) return;
    TrEVSTRACE(block ? "Argument type not supported by function block"
                     : "Argument type not supported by function");
    fatal(v, kLogOpcode, v.op);
}
void h_trace(Vm &v, const uint8_t *o) {
    uint32_t n = W(o, 0);
    if (!args_fit(v, n)) return;
    if (v.op == 480)
        TrVMBsmp_Set(v.db, 0, o + 2, n);
    else
        TrVMBsmp_Ctl(v.db, 0, n ? W(o, 1) : 0);
}
void h_param(Vm &v, const uint8_t *o) {
    args_fit(v, W(o, 0));
}

void h_cycle_div(Vm &v, const uint8_t *o) {
    uint32_t div = W(o, 0), phase = W(o, 1);
    if (div <= 1 || v.depth != 0 || v.prog == 0) return;
    uint16_t old = le16(v.entry + trprg::kDivider);
    put_le16(v.entry + trprg::kDivider, uint16_t((old + 1u) % div));
    if (old != phase) {
        v.done = v.ctl = true;
        v.result = 1;
    }
}
void h_range(Vm &v, const uint8_t *o) {
    uint8_t *x = ref<S32>(v, W(o, 0));
    if (!x) return;
    int32_t i = get<int32_t>(x), lo = int32_t(K(o, 1)), hi = int32_t(K(o, 3));
    if (i < lo || i > hi) fatal(v, kLogRange, W(o, 0));
}

void h_savepos(Vm &v, const uint8_t *) {
    if (v.prog) put_le16(v.entry + trprg::kResume, uint16_t(v.pc));
}
void h_wait(Vm &v, const uint8_t *o) {
    uint8_t *b = ref<S8>(v, W(o, 0));
    if (!b || *b) return;
    save_resume(v, v.at - 2);
    v.done = v.ctl = true;
    v.result = 1;
}
void h_break(Vm &v, const uint8_t *) {
    if (!(run_flags(v) & trprg::kStepMode) &&
        !TrVMPrg_IsBreakpoint(v.db, v.prog, v.at - 2, v.at - 2))
        return;
    // Read again: a one-shot breakpoint has just been taken away.
    uint16_t f = run_flags(v);
    break_here(v, uint16_t((f & ~trst::kRunning) | trprg::kStepMode | trprg::kOneCycle));
}
void h_setbreak(Vm &v, const uint8_t *o) {
    TrVMPrg_SetBreakpoint(v.db, v.prog, W(o, 0), 1);
}

// Bit tests and masks.
template <Sg S, bool Lk> void h_andtest(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0));
    if (!d || (Lk && locked(v, W(o, 0), trlock::k8))) return;
    uint8_t *a = ref<S>(v, W(o, 1)), *b = a ? ref<S>(v, W(o, 2)) : nullptr;
    if (!b) return;
    uint32_t x = 0, y = 0;
    std::memcpy(&x, a, kSizeOf[S]);
    std::memcpy(&y, b, kSizeOf[S]);
    *d = (x & y) ? 1 : 0;
}
template <Sg S, bool Lk> void h_mask(Vm &v, const uint8_t *o) {
    uint8_t *b = ref<S8>(v, W(o, 0)), *x = b ? ref<S>(v, W(o, 1)) : nullptr;
    if (!x || (Lk && locked(v, W(o, 1), kLockOf[S]))) return;
    uint32_t m = S == S32 ? K(o, 2) : W(o, 2), val = 0;
    std::memcpy(&val, x, kSizeOf[S]);
    val = *b ? (val | m) : (val & ~m);
    std::memcpy(x, &val, kSizeOf[S]);
}

// The complex-type segment.
void h_ctget(Vm &v, const uint8_t *o) {
    if (TrVMTic_GetCTSegItem(v.db, W(o, 0), W(o, 1), W(o, 2))) fatal(v, kLogRange, W(o, 1));
}
void h_ctset(Vm &v, const uint8_t *o) {
    if (TrVMTic_SetCTSegItem(v.db, W(o, 0), W(o, 1), W(o, 2))) fatal(v, kLogRange, W(o, 1));
}
void h_lockctx(Vm &v, const uint8_t *o) {
    if (uint8_t *x = ref<S32>(v, W(o, 0))) v.lock_ctx = get<int32_t>(x);
}
void h_ctaddr(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S32>(v, W(o, 0)), *a = d ? ref<S32>(v, W(o, 1)) : nullptr;
    if (a) put<uint32_t>(d, get<uint32_t>(a) + uint32_t(v.ct - v.db));
}
void h_ctmemcpy(Vm &v, const uint8_t *o) {
    if (TrVMTic_CTMemcpy(v.db, W(o, 0), W(o, 1), W(o, 2))) fatal(v, kLogRange, W(o, 0));
}

// Loop guard.
void h_loop_init(Vm &v, const uint8_t *) {
    v.loop_count = kLoopGuard;
    v.loop_pos = v.pc;
}
void h_loop_next(Vm &v, const uint8_t *o) {
    uint8_t *g = ref<S32>(v, W(o, 0));
    if (!g) return;
    if (v.loop_count > 1) {
        --v.loop_count;
        jump_to(v, v.loop_pos);
        return;
    }
    v.loop_count = 0;
    put<int32_t>(g, 0);
}

void h_vsi(Vm &v, const uint8_t *o) {
    uint32_t date = 0, time = 0;
    if (v.op == 568) {
        uint8_t *d = ref<S32>(v, W(o, 2)), *t = d ? ref<S32>(v, W(o, 3)) : nullptr;
        if (!t) return;
        date = get<uint32_t>(d);
        time = get<uint32_t>(t);
    }
    TrMap_SetVSIDate(v.db, W(o, 0), W(o, 1), date);
    TrMap_SetVSITime(v.db, W(o, 0), W(o, 1), time);
}

// ---------------------------------------------------------------- SFC

uint8_t *step(Vm &v, uint32_t s) {
    if (s < v.nsteps) return v.steps + 12 * s;
    fatal(v, kLogRange, uint16_t(s));
    return nullptr;
}
uint8_t *transition(Vm &v, uint32_t t) {
    if (t < v.ntrans) return v.trans + 4 * t;
    fatal(v, kLogRange, uint16_t(t));
    return nullptr;
}
uint16_t sfc_state(Vm &v) {
    return le16(v.entry + trprg::kFlags);
}
uint32_t tick(Vm &v) {
    return le32(v.st + trst::kLastTick);
}
// Brings an active step's elapsed time up to the cycle tick.
void step_update(Vm &v, uint8_t *s) {
    uint32_t now = tick(v), last = le32(s + 4);
    put_le32(s, le32(s) + (now % kDay + kDay - last % kDay) % kDay);
    put_le32(s + 4, now);
}
void step_restart(Vm &v, uint8_t *s) {
    put_le32(s, 0);
    put_le32(s + 4, tick(v));
}
// A list behind the fixed operands: count, then that many words.
const uint8_t *list(Vm &v, const uint8_t *at, uint32_t *n) {
    *n = W(at, 0);
    if (!args_fit(v, *n)) return nullptr;
    return at + 2;
}

void h_sfc_step(Vm &v, const uint8_t *o) {
    uint8_t *s = step(v, W(o, 0));
    if (!s) return;
    uint16_t state = le16(s + 8);
    bool stopping = sfc_state(v) & trprg::kSfcStopping;
    if (state == 3 || (state == 1 && stopping)) {
        put_le16(s + 8, 0);
        jump_to(v, W(o, 2));
    } else if (state == 2) {
        put_le16(s + 8, 1);
        step_restart(v, s);
        jump_to(v, W(o, 1));
    } else if (state == 1) {
        step_update(v, s);
    } else {
        jump_to(v, W(o, 3));
    }
}
void h_sfc_trans(Vm &v, const uint8_t *o) {
    uint8_t *t = transition(v, W(o, 0));
    uint32_t n;
    const uint8_t *steps = t ? list(v, o + 4, &n) : nullptr;
    if (!steps) return;
    bool ok = !(sfc_state(v) & trprg::kSfcStopping);
    for (uint32_t i = 0; i < n && !v.done; ++i) {
        uint8_t *s = step(v, W(steps, int(i)));
        if (s && le16(s + 8) != 1) ok = false;
    }
    if (v.done) return;
    if (!ok) {
        put_le16(t, 0);
        jump_to(v, W(o, 1));
    }
}
bool trans_true(const uint8_t *t) {
    return le16(t) != 0;
}
// A transition with its break field set stops the run behind it.
void trans_break(Vm &v, uint8_t *t) {
    if (!le16(t + 2)) return;
    break_here(v, uint16_t(run_flags(v) & ~(trst::kRunning | trprg::kStepMode)));
}
void set_steps(Vm &v, const uint8_t *steps, uint32_t n, uint16_t state) {
    for (uint32_t i = 0; i < n && !v.done; ++i)
        if (uint8_t *s = step(v, W(steps, int(i)))) put_le16(s + 8, state);
}
void h_sfc_setsteps(Vm &v, const uint8_t *o) {
    uint8_t *t = transition(v, W(o, 0));
    uint32_t n;
    const uint8_t *steps = t ? list(v, o + 2, &n) : nullptr;
    if (!steps || !trans_true(t)) return;
    set_steps(v, steps, n, v.op == 414 ? 3 : 2);
    if (v.op == 415 && !v.done) trans_break(v, t);
}
void h_sfc_move(Vm &v, const uint8_t *o) {
    uint8_t *t = transition(v, W(o, 0));
    uint8_t *from = t ? step(v, W(o, 1)) : nullptr, *to = from ? step(v, W(o, 2)) : nullptr;
    if (!to || !trans_true(t)) return;
    put_le16(from + 8, 3);
    put_le16(to + 8, 2);
    trans_break(v, t);
}
void h_sfc_init(Vm &v, const uint8_t *o) {
    uint32_t n;
    if (const uint8_t *steps = list(v, o, &n)) set_steps(v, steps, n, 2);
}
void h_sfc_end(Vm &v, const uint8_t *o) {
    uint32_t n;
    const uint8_t *progs = list(v, o, &n);
    if (!progs) return;
    if (sfc_state(v) & trprg::kSfcStopping) {
        for (uint32_t i = 0; i < n && !v.done; ++i) {
            uint8_t *e = program_entry(v, W(progs, int(i)));
            if (!e) return;
            uint16_t f = le16(e + trprg::kFlags);
            if (f & trprg::kActive) put_le16(e + trprg::kFlags, uint16_t(f | trprg::kSfcStopping));
        }
    }
    if (!v.done) h_end(v, o);
}
void h_sfc_jmpmask(Vm &v, const uint8_t *o) {
    if (!(sfc_state(v) & W(o, 0))) jump_to(v, W(o, 1));
}
void h_sfc_setstate(Vm &v, const uint8_t *o) {
    put_le16(v.entry + trprg::kFlags, W(o, 0));
}
void h_sfc_stepstate(Vm &v, const uint8_t *o) {
    uint8_t *s = step(v, W(o, 0));
    if (!s) return;
    put_le16(s + 8, W(o, 1));
    if (W(o, 1) == 1) step_restart(v, s);
}
void h_sfc_steptime(Vm &v, const uint8_t *o) {
    uint8_t *s = step(v, W(o, 0));
    if (!s) return;
    if (le16(s + 8) == 1)
        step_update(v, s);
    else
        step_restart(v, s);
}
void h_sfc_tbreak(Vm &v, const uint8_t *o) {
    if (uint8_t *t = transition(v, W(o, 0))) trans_break(v, t);
}
void h_jmpa_transf(Vm &v, const uint8_t *o) {
    uint8_t *t = transition(v, W(o, 0));
    if (t && !trans_true(t)) jump_to(v, W(o, 1));
}
void h_sfc_stopjmp(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S32>(v, W(o, 0));
    if (d && (sfc_state(v) & trprg::kSfcStopping)) {
        put<int32_t>(d, 0);
        jump_to(v, W(o, 1));
    }
}
void h_set_trans(Vm &v, const uint8_t *o) {
    uint8_t *t = transition(v, W(o, 0)), *b = t ? ref<S8>(v, W(o, 1)) : nullptr;
    if (b) put_le16(t, *b ? 1 : 0);
}
void h_step_active(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<S8>(v, W(o, 0)), *s = d ? step(v, W(o, 1)) : nullptr;
    if (s) *d = le16(s + 8) != 0 ? 1 : 0;
}
void h_step_time(Vm &v, const uint8_t *o) {
    uint8_t *d = ref<ST>(v, W(o, 0)), *s = d ? step(v, W(o, 1)) : nullptr;
    if (!s) return;
    if (le16(s + 8) == 1) step_update(v, s);
    put<uint32_t>(d, le32(s));
}
template <bool Step> void h_sfc_break(Vm &v, const uint8_t *o) {
    if (Step)
        TrVMTic_SetSfcBreakS(v.db, W(o, 0), W(o, 1));
    else
        TrVMTic_SetSfcBreakT(v.db, W(o, 0), W(o, 1));
}

// ---------------------------------------------------------------- external variables

// The data of external variable x of kind S (or STRING for S == SN), at
// element `e`, inside the segment of its kind.
template <Sg S> uint8_t *xref(Vm &v, uint32_t x, int64_t e = 0) {
    if (x >= 1 && x < v.nxv) {
        uint64_t at = le32(v.xv + 4 * x);
        if constexpr (S == SN) {
            uint8_t *first = string_at(v, at);
            if (first) {
                uint64_t el = at + uint64_t(e) * (3u + first[0]);
                if (e >= 0 && el < v.send)
                    if (uint8_t *b = string_at(v, el)) return b;
            }
        } else {
            uint64_t base = uint64_t(v.seg[S] - v.db), end = base + uint64_t(v.cnt[S]) * kSizeOf[S];
            uint64_t el = at + uint64_t(e) * kSizeOf[S];
            if (e >= 0 && at >= base && el >= base && el + kSizeOf[S] <= end) return v.db + el;
        }
    }
    fatal(v, kLogRange, uint16_t(x));
    return nullptr;
}
bool xlocked(Vm &v, uint32_t x) {
    return locked(v, x, trlock::kExternal);
}

// 424-429, 442-447: variable := external.
template <Sg S, bool Lk> void h_xget(Vm &v, const uint8_t *o) {
    uint32_t i = W(o, 1);
    if constexpr (S == SN) {
        uint8_t *d = sref(v, i);
        if (!d || (Lk && locked(v, i, trlock::kString))) return;
        if (uint8_t *x = xref<SN>(v, W(o, 0))) TrVMStr_CopyPtr(d, x);
    } else {
        uint8_t *d = ref<S>(v, i);
        if (!d || (Lk && locked(v, i, kLockOf[S]))) return;
        if (uint8_t *x = xref<S>(v, W(o, 0))) std::memcpy(d, x, kSizeOf[S]);
    }
}
// 430-435, 448-453: external := variable.
template <Sg S, bool Lk> void h_xput(Vm &v, const uint8_t *o) {
    uint32_t x = W(o, 0);
    if constexpr (S == SN) {
        uint8_t *d = xref<SN>(v, x);
        if (!d || (Lk && xlocked(v, x))) return;
        if (uint8_t *a = sref(v, W(o, 1))) TrVMStr_CopyPtr(d, a);
    } else {
        uint8_t *d = xref<S>(v, x);
        if (!d || (Lk && xlocked(v, x))) return;
        if (uint8_t *a = ref<S>(v, W(o, 1))) std::memcpy(d, a, kSizeOf[S]);
    }
}
// 436-441: external := constant.
template <Sg S> void h_xldk(Vm &v, const uint8_t *o) {
    if constexpr (S == SN) {
        uint32_t n;
        const uint8_t *text = inline_text(v, o, &n);
        if (!text) return;
        if (uint8_t *d = xref<SN>(v, W(o, 0)))
            TrVMStr_AscForce(d, reinterpret_cast<const char *>(text), n);
    } else {
        uint64_t value = S == S64 ? Q(o, 1) : (S == S32 || S == ST) ? K(o, 1) : W(o, 1);
        if (uint8_t *d = xref<S>(v, W(o, 0))) std::memcpy(d, &value, kSizeOf[S]);
    }
}
template <bool Lock> void h_xlock(Vm &v, const uint8_t *o) {
    uint32_t x = W(o, 0);
    if (x == 0 || x >= v.nxv || x >= v.nlock) {
        fatal(v, kLogRange, uint16_t(x));
        return;
    }
    if (Lock)
        TrVMTic_LockVar(v.db, x, trlock::kExternal);
    else
        TrVMTic_UnlockVar(v.db, x, trlock::kExternal, v.lock_ctx);
}
// 456-461, 468-473: variable := external[index].
template <Sg S, bool Lk> void h_xrdarr(Vm &v, const uint8_t *o) {
    uint8_t *ix = ref<S32>(v, W(o, 2));
    if (!ix) return;
    int32_t e = get<int32_t>(ix);
    uint32_t i = W(o, 1);
    if constexpr (S == SN) {
        uint8_t *d = sref(v, i);
        if (!d || (Lk && locked(v, i, trlock::kString))) return;
        if (uint8_t *x = xref<SN>(v, W(o, 0), e)) TrVMStr_CopyPtr(d, x);
    } else {
        uint8_t *d = ref<S>(v, i);
        if (!d || (Lk && locked(v, i, kLockOf[S]))) return;
        if (uint8_t *x = xref<S>(v, W(o, 0), e)) std::memcpy(d, x, kSizeOf[S]);
    }
}
// 462-467, 474-479: external[index] := variable.
template <Sg S, bool Lk> void h_xwrarr(Vm &v, const uint8_t *o) {
    uint8_t *ix = ref<S32>(v, W(o, 2));
    if (!ix) return;
    int32_t e = get<int32_t>(ix);
    uint32_t x = W(o, 0);
    if constexpr (S == SN) {
        uint8_t *d = xref<SN>(v, x, e);
        if (!d || (Lk && xlocked(v, x))) return;
        if (uint8_t *a = sref(v, W(o, 1))) TrVMStr_CopyPtr(d, a);
    } else {
        uint8_t *d = xref<S>(v, x, e);
        if (!d || (Lk && xlocked(v, x))) return;
        if (uint8_t *a = ref<S>(v, W(o, 1))) std::memcpy(d, a, kSizeOf[S]);
    }
}

// ---------------------------------------------------------------- the table

struct Impl {
    uint16_t number;
    Handler fn;
};

// clang-format off
#define TYPED(S, T, NEG, MUL, DIV, ADD, SUB, GT, GE, EQ, NE, MOV, RD, WR)                           \
    {NEG, h_neg<S, T, true>}, {NEG + 1, h_neg<S, T, false>},                                       \
    {MUL, h_bin<S, T, Mul, true>}, {MUL + 1, h_bin<S, T, Mul, false>},                             \
    {DIV, h_div<S, T, true>}, {DIV + 1, h_div<S, T, false>},                                       \
    {ADD, h_bin<S, T, Add, true>}, {ADD + 1, h_bin<S, T, Add, false>},                             \
    {SUB, h_bin<S, T, Sub, true>}, {SUB + 1, h_bin<S, T, Sub, false>},                             \
    {GT, h_cmp<S, T, Gt, true>}, {GT + 1, h_cmp<S, T, Gt, false>},                                 \
    {GE, h_cmp<S, T, Ge, true>}, {GE + 1, h_cmp<S, T, Ge, false>},                                 \
    {EQ, h_cmp<S, T, Eq, true>}, {EQ + 1, h_cmp<S, T, Eq, false>},                                 \
    {NE, h_cmp<S, T, Ne, true>}, {NE + 1, h_cmp<S, T, Ne, false>},                                 \
    {MOV, h_mov<S, true>}, {MOV + 1, h_mov<S, false>},                                             \
    {RD, h_rdarr<S, true>}, {RD + 1, h_rdarr<S, false>},                                           \
    {WR, h_wrarr<S, true>}, {WR + 1, h_wrarr<S, false>}
#define UNSIGNED(S, T, GT)                                                                         \
    {GT, h_cmp<S, T, Gt, false>}, {GT + 1, h_cmp<S, T, Ge, false>},                                \
    {GT + 2, h_bin<S, T, Mul, false>}, {GT + 3, h_div<S, T, false>},                               \
    {GT + 4, h_cmp<S, T, Gt, true>}, {GT + 5, h_cmp<S, T, Ge, true>},                              \
    {GT + 6, h_bin<S, T, Mul, true>}, {GT + 7, h_div<S, T, true>}
#define EXTERNAL(FN, FIRST)                                                                        \
    {FIRST, FN<S8>}, {FIRST + 1, FN<S16>}, {FIRST + 2, FN<S32>}, {FIRST + 3, FN<S64>},             \
    {FIRST + 4, FN<ST>}, {FIRST + 5, FN<SN>}
template <Sg S> constexpr Handler xget = h_xget<S, false>;
template <Sg S> constexpr Handler xget_lk = h_xget<S, true>;
template <Sg S> constexpr Handler xput = h_xput<S, false>;
template <Sg S> constexpr Handler xput_lk = h_xput<S, true>;
template <Sg S> constexpr Handler xldk = h_xldk<S>;
template <Sg S> constexpr Handler xrd = h_xrdarr<S, false>;
template <Sg S> constexpr Handler xrd_lk = h_xrdarr<S, true>;
template <Sg S> constexpr Handler xwr = h_xwrarr<S, false>;
template <Sg S> constexpr Handler xwr_lk = h_xwrarr<S, true>;

constexpr Impl kImpl[] = {
    // DINT, REAL, TIME, STRING and BOOL; the lock-checked forms 109 later.
    {1, h_neg<S32, int32_t, false>}, {110, h_neg<S32, int32_t, true>},
    {2, h_neg<S32, float, false>}, {111, h_neg<S32, float, true>},
    {3, h_not<false>}, {112, h_not<true>},
    {4, h_bin<S32, int32_t, Mul, false>}, {113, h_bin<S32, int32_t, Mul, true>},
    {5, h_bin<S32, float, Mul, false>}, {114, h_bin<S32, float, Mul, true>},
    {6, h_div<S32, int32_t, false>}, {115, h_div<S32, int32_t, true>},
    {7, h_div<S32, float, false>}, {116, h_div<S32, float, true>},
    {8, h_bin<S32, int32_t, Add, false>}, {117, h_bin<S32, int32_t, Add, true>},
    {9, h_bin<S32, float, Add, false>}, {118, h_bin<S32, float, Add, true>},
    {10, h_bin<ST, uint32_t, Add, false>}, {119, h_bin<ST, uint32_t, Add, true>},
    {11, h_cat<false>}, {120, h_cat<true>},
    {12, h_bin<S32, int32_t, Sub, false>}, {121, h_bin<S32, int32_t, Sub, true>},
    {13, h_bin<S32, float, Sub, false>}, {122, h_bin<S32, float, Sub, true>},
    {14, h_bin<ST, uint32_t, SubTime, false>}, {123, h_bin<ST, uint32_t, SubTime, true>},
    {19, h_cmp<S32, int32_t, Gt, false>}, {128, h_cmp<S32, int32_t, Gt, true>},
    {20, h_cmp<S32, float, Gt, false>}, {129, h_cmp<S32, float, Gt, true>},
    {21, h_cmp<ST, uint32_t, Gt, false>}, {130, h_cmp<ST, uint32_t, Gt, true>},
    {22, h_scmp<Gt, false>}, {131, h_scmp<Gt, true>},
    {27, h_cmp<S32, int32_t, Ge, false>}, {136, h_cmp<S32, int32_t, Ge, true>},
    {28, h_cmp<S32, float, Ge, false>}, {137, h_cmp<S32, float, Ge, true>},
    {29, h_cmp<ST, uint32_t, Ge, false>}, {138, h_cmp<ST, uint32_t, Ge, true>},
    {30, h_scmp<Ge, false>}, {139, h_scmp<Ge, true>},
    {31, h_cmp<S32, int32_t, Eq, false>}, {140, h_cmp<S32, int32_t, Eq, true>},
    {32, h_cmp<S32, float, Eq, false>}, {141, h_cmp<S32, float, Eq, true>},
    {33, h_cmp<ST, uint32_t, Eq, false>}, {142, h_cmp<ST, uint32_t, Eq, true>},
    {34, h_scmp<Eq, false>}, {143, h_scmp<Eq, true>},
    {35, h_cmp<S8, uint8_t, Eq, false>}, {144, h_cmp<S8, uint8_t, Eq, true>},
    {36, h_cmp<S32, int32_t, Ne, false>}, {145, h_cmp<S32, int32_t, Ne, true>},
    {37, h_cmp<S32, float, Ne, false>}, {146, h_cmp<S32, float, Ne, true>},
    {38, h_cmp<ST, uint32_t, Ne, false>}, {147, h_cmp<ST, uint32_t, Ne, true>},
    {39, h_scmp<Ne, false>}, {148, h_scmp<Ne, true>},
    {40, h_cmp<S8, uint8_t, Ne, false>}, {149, h_cmp<S8, uint8_t, Ne, true>},
    {41, h_bin<S8, uint8_t, Or, false>}, {150, h_bin<S8, uint8_t, Or, true>},
    {42, h_bin<S8, uint8_t, And, false>}, {151, h_bin<S8, uint8_t, And, true>},
    {43, h_bin<S8, uint8_t, Xor, false>}, {152, h_bin<S8, uint8_t, Xor, true>},
    {44, h_mov<S8, false>}, {153, h_mov<S8, true>},
    {45, h_mov<S32, false>}, {154, h_mov<S32, true>},
    {46, h_mov<S32, false>}, {155, h_mov<S32, true>},
    {47, h_mov<ST, false>}, {156, h_mov<ST, true>},
    {48, h_smov<false>}, {157, h_smov<true>},
    {55, h_rdarr<S8, false>}, {164, h_rdarr<S8, true>},
    {56, h_rdarr<S32, false>}, {165, h_rdarr<S32, true>},
    {57, h_rdarr<S32, false>}, {166, h_rdarr<S32, true>},
    {58, h_rdarr<ST, false>}, {167, h_rdarr<ST, true>},
    {59, h_srdarr<false>}, {168, h_srdarr<true>},
    {60, h_wrarr<S8, false>}, {169, h_wrarr<S8, true>},
    {61, h_wrarr<S32, false>}, {62, h_wrarr<S32, false>},
    {63, h_wrarr<ST, false>}, {256, h_wrarr<ST, true>},
    {64, h_swrarr},
    {65, h_jmpc<true>}, {66, h_jmpc<false>}, {67, h_jmp},
    {68, h_end}, {234, h_end},
    {107, h_set_trans},
    {187, h_prg}, {188, h_prg}, {189, h_prg}, {190, h_prg},
    {193, h_prgstatus<false>}, {200, h_prgstatus<true>},
    {196, h_edge<false, false>}, {197, h_edge<true, false>},
    {203, h_edge<false, true>}, {204, h_edge<true, true>},
    {205, h_convert<false>}, {207, h_convert<true>},
    {208, h_step_active}, {209, h_step_time},
    {257, h_vm}, {258, h_vm}, {259, h_vm}, {260, h_vm}, {525, h_vm},
    {261, h_setb<true, false>}, {262, h_setb<false, false>},
    {263, h_setb<true, true>}, {264, h_setb<false, true>},
    {265, h_lock<S8, trlock::k8>}, {406, h_lock<S8, trlock::k8>},
    {269, h_lock<S16, trlock::k16>}, {273, h_lock<S32, trlock::k32>},
    {281, h_lock<ST, trlock::kTime>}, {318, h_lock<S64, trlock::k64>},
    {410, h_lock<SN, trlock::kString>},
    {266, h_unlock<S8, trlock::k8>}, {407, h_unlock<S8, trlock::k8>},
    {270, h_unlock<S16, trlock::k16>}, {274, h_unlock<S32, trlock::k32>},
    {282, h_unlock<ST, trlock::kTime>}, {319, h_unlock<S64, trlock::k64>},
    {411, h_unlock<SN, trlock::kString>},
    {404, h_ldk<S8, false>}, {405, h_ldk<S8, true>},
    {267, h_ldk<S16, false>}, {268, h_ldk<S16, true>},
    {271, h_ldk<S32, false>}, {272, h_ldk<S32, true>},
    {316, h_ldk<S64, false>}, {317, h_ldk<S64, true>},
    {279, h_ldk<ST, false>}, {280, h_ldk<ST, true>},
    {408, h_ldkstr<false>}, {409, h_ldkstr<true>},
    {275, h_tmr<true, false>}, {276, h_tmr<false, false>},
    {277, h_tmr<true, true>}, {278, h_tmr<false, true>},
    {538, h_cttmr<true>}, {539, h_cttmr<false>},
    {283, h_bin<ST, uint32_t, Add, true>}, {284, h_bin<ST, uint32_t, SubTime, true>},
    {285, h_stf}, {286, h_func}, {287, h_fb}, {535, h_fbct}, {536, h_check}, {537, h_check},
    TYPED(S64, int64_t, 288, 290, 292, 294, 296, 300, 304, 306, 308, 310, 312, 314),
    TYPED(S64, double, 320, 322, 324, 326, 328, 332, 336, 338, 340, 342, 344, 346),
    TYPED(S16, int16_t, 348, 350, 352, 354, 356, 360, 364, 366, 368, 370, 372, 374),
    TYPED(S8, int8_t, 376, 378, 380, 382, 384, 388, 392, 394, 396, 398, 400, 402),
    {412, h_sfc_step}, {413, h_sfc_trans}, {417, h_sfc_trans},
    {414, h_sfc_setsteps}, {415, h_sfc_setsteps}, {418, h_sfc_move},
    {416, h_sfc_init}, {419, h_sfc_init}, {420, h_sfc_end},
    {545, h_sfc_jmpmask}, {546, h_sfc_setstate}, {547, h_sfc_stepstate},
    {548, h_sfc_steptime}, {549, h_sfc_tbreak}, {550, h_jmpa_transf}, {551, h_sfc_stopjmp},
    {540, h_sfc_break<true>}, {541, h_sfc_break<false>},
    {421, h_cycle_div}, {422, h_range}, {423, h_call},
    EXTERNAL(xget, 424), EXTERNAL(xput, 430), EXTERNAL(xldk, 436),
    EXTERNAL(xget_lk, 442), EXTERNAL(xput_lk, 448),
    {454, h_xlock<true>}, {455, h_xlock<false>},
    EXTERNAL(xrd, 456), EXTERNAL(xwr, 462), EXTERNAL(xrd_lk, 468), EXTERNAL(xwr_lk, 474),
    {480, h_trace}, {481, h_trace},
    UNSIGNED(S8, uint8_t, 482), UNSIGNED(S16, uint16_t, 490), UNSIGNED(S32, uint32_t, 498),
    {506, h_savepos}, {507, h_wait}, {508, h_break},
    {509, h_andtest<S8, false>}, {511, h_andtest<S32, false>},
    {517, h_andtest<S8, true>}, {519, h_andtest<S32, true>},
    {513, h_mask<S8, false>}, {514, h_mask<S16, false>}, {515, h_mask<S32, false>},
    {521, h_mask<S8, true>}, {522, h_mask<S16, true>}, {523, h_mask<S32, true>},
    {527, h_setbreak},
    {528, h_jmpa}, {529, h_jmpac<true>}, {530, h_jmpac<false>}, {543, h_jmptab}, {544, h_jmpaeq},
    {531, h_ctget}, {566, h_ctget}, {532, h_ctset}, {567, h_ctset},
    {533, h_lockctx}, {552, h_param}, {553, h_ctaddr}, {554, h_unlockall}, {555, h_ctmemcpy},
    {556, h_cmp<S64, uint64_t, Gt, false>}, {557, h_cmp<S64, uint64_t, Ge, false>},
    {558, h_bin<S64, uint64_t, Mul, false>}, {559, h_div<S64, uint64_t, false>},
    {560, h_bin<S64, uint64_t, Add, false>}, {561, h_bin<S64, uint64_t, Sub, false>},
    {562, h_cmp<S64, uint64_t, Eq, false>}, {563, h_cmp<S64, uint64_t, Ne, false>},
    {564, h_loop_init}, {565, h_loop_next},
    {568, h_vsi}, {569, h_vsi},
};
// clang-format on
#undef TYPED
#undef UNSIGNED
#undef EXTERNAL

constexpr uint32_t kOpcodes = 570;

// Operand words before any counted or inline part.
constexpr uint32_t fixed_words(const char *shape) {
    uint32_t n = 0;
    for (const char *c = shape; *c; ++c) {
        if (*c == 'n' || *c == 'o' || *c == 'N' || *c == 'M' || *c == 'P') return n + 1;
        if (*c == '$') return n;
        n += *c == 'K' ? 2 : *c == 'Q' ? 4 : 1;
    }
    return n;
}

struct Row {
    Handler fn = h_invalid;
    uint16_t words = 0;
};

constexpr std::array<Row, kOpcodes> make_dispatch() {
    std::array<Row, kOpcodes> t{};
    for (const TrOpcode &r : kTrOpcodeRows)
        t[r.number].words = uint16_t(fixed_words(r.operands));
    for (const Impl &i : kImpl)
        t[i.number].fn = i.fn;
    return t;
}
constexpr std::array<Row, kOpcodes> kDispatch = make_dispatch();

constexpr bool every_row_has_a_handler() {
    for (const TrOpcode &r : kTrOpcodeRows) {
        bool found = false;
        for (const Impl &i : kImpl)
            found = found || i.number == r.number;
        if (!found) return false;
    }
    for (const Impl &i : kImpl) {
        bool found = false;
        for (const TrOpcode &r : kTrOpcodeRows)
            found = found || i.number == r.number;
        if (!found) return false;
    }
    return true;
}
static_assert(every_row_has_a_handler(), "one handler for every row of the opcode table");

// One instruction; false once the run has ended.
[[gnu::always_inline]] inline bool step(Vm &v, uint32_t &pc, uint32_t &budget) {
    if (--budget == 0) [[unlikely]] {
        fatal(v, kLogOverrun, v.op);
        return false;
    }
    if (pc >= v.size || v.size - pc < 2) [[unlikely]] {
        v.at = pc + 2;
        fatal(v, kLogOpcode, 0);
        return false;
    }
    uint16_t op = get<uint16_t>(v.code + pc);
    const Row &r = kDispatch[op < kOpcodes ? op : 0];
    v.op = op;
    v.at = pc + 2;
    uint32_t next = pc + 2 + 2u * r.words;
    if (next > v.size) [[unlikely]] {
        fatal(v, kLogOpcode, op);
        return false;
    }
    v.pc = next;
    r.fn(v, v.code + pc + 2);
    if (v.ctl) [[unlikely]] {
        if (v.done) return false;
        v.ctl = false;
        pc = v.pc;
    } else {
        pc = next;
    }
    return true;
}

int execute(Vm &v) {
    uint32_t budget = g_run_limit;
    // The place of the next instruction stays in a register; a handler that
    // moves it (or ends the run) says so in v.ctl.
    uint32_t pc = v.pc;
    v.ctl = false;
    while (step(v, pc, budget)) {
    }
    return v.result;
}

bool open(Vm &v, uint8_t *db, uint8_t *st, const TrCodeImage &code) {
    std::memset(&v, 0, sizeof v);
    v.db = db;
    v.st = st;
    uint32_t size = TrVM_DBSize(db), n = 0;
    for (int k = 0; k < SN; ++k) {
        v.seg[k] = TrDB_Segment(db, size, kSegOf[k], &n);
        v.cnt[k] = v.seg[k] ? n / kSizeOf[k] : 0;
    }
    v.lock = TrDB_Segment(db, size, 5, &v.nlock);
    if (!v.lock) v.nlock = 0;
    v.sptr = TrDB_Segment(db, size, 17, &n);
    v.ns = v.sptr ? n / 4 : 0;
    uint8_t *bufs = TrDB_Segment(db, size, 18, &n);
    v.sbase = bufs ? uint32_t(bufs - db) : 0;
    v.send = bufs ? v.sbase + n : 0;
    auto seg = [&](uint32_t k, uint32_t esize, uint32_t *count) {
        uint8_t *p = TrDB_Segment(db, size, k, &n);
        *count = p ? n / esize : 0;
        return p;
    };
    v.steps = seg(20, 12, &v.nsteps);
    v.trans = seg(21, 4, &v.ntrans);
    v.xv = seg(26, 4, &v.nxv);
    v.ct = seg(35, 1, &v.nct);
    v.prg = seg(4, trprg::kEntrySize, &v.nprg);
    v.cs = seg(29, 4, &v.ncs);
    uint32_t ninst = 0;
    seg(13, 20, &ninst);
    v.ninst = ninst;
    v.xbuf = seg(2, 1, &v.xsize);
    uint32_t fill = le16(st + trst::kExecFill) + 2u;
    if (v.xbuf && fill < v.xsize) v.xsize = fill;
    v.csmax = le16(st + trst::kCallStack);
    v.depth = TrDB_GetSegment(db, 29).count_b;
    if (v.depth > v.ncs) v.depth = 0;
    v.img = code.data;
    v.img_size = code.data ? code.size : 0;
    v.lock_ctx = -1;
    return true;
}

} // namespace

// ---------------------------------------------------------------- the run

int TrVMTic_Run(uint8_t *db, uint8_t *st, const TrCodeImage &code, uint32_t program) {
    if (!db || !st) return 0;
    Vm v;
    open(v, db, st, code);
    v.top = program;
    v.base = v.depth;
    if (program == 0) {
        enter(v, 0, 0);
        return execute(v);
    }
    v.prog = program;
    if (program > v.nprg) {
        fatal(v, kLogRange, uint16_t(program));
        return 0;
    }
    uint8_t *e = v.prg + (program - 1) * trprg::kEntrySize;
    uint32_t resume = le16(e + trprg::kResume);
    if (resume || le16(e + trprg::kSavedDepth)) {
        TrVMPrg_RestoreCallStack(db, program);
        v.depth = TrDB_GetSegment(db, 29).count_b;
        if (v.depth > v.ncs) set_depth(v, 0);
        v.base = 0;
        put_le16(e + trprg::kResume, 0);
        put_le16(st + trst::kWorking, 0);
        put_le16(st + trst::kWorking + 2, 0);
        put_le16(st + trst::kStopProgram, 0);
        put_le32(st + trst::kStopPosition, 0);
        if (resume == 0 && v.depth > 0) {
            uint8_t *t = v.cs + 4 * (v.depth - 1);
            uint32_t p = le16(t), pos = le16(t + 2);
            set_depth(v, v.depth - 1);
            if (!enter(v, p, pos)) return 0;
            return execute(v);
        }
    }
    enter(v, program, resume);
    return execute(v);
}

void TrVMTic_SetRunLimit(uint32_t instructions) {
    g_run_limit = instructions ? instructions : 1;
}
void TrVMTic_Reset() {
    g_run_limit = kTrVMTicRunLimit;
}

void TrVMTic_Init(uint8_t *) {}
void TrVMTic_Exit(uint8_t *) {}

bool TrVMTic_HasHandler(uint32_t opcode) {
    return opcode < kOpcodes && kDispatch[opcode].fn != h_invalid;
}

// ---------------------------------------------------------------- helpers

namespace {
uint8_t *lock_byte(uint8_t *db, uint32_t index) {
    uint32_t n = 0;
    uint8_t *lock = TrDB_Segment(db, TrVM_DBSize(db), 5, &n);
    return lock && index < n ? lock + index : nullptr;
}
} // namespace

int TrVMTic_LockVar(uint8_t *db, uint32_t index, uint8_t mask) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return 1;
    if (index != 0) {
        uint8_t *b = lock_byte(db, index);
        if (!b) return 1;
        if ((*b & mask) == mask) return 0;
        *b |= mask;
    }
    put_le32(st + trst::kLockCount, le32(st + trst::kLockCount) + 1);
    put_le16(st + trst::kRunFlags, uint16_t(le16(st + trst::kRunFlags) | trlock::kRunFlagLocks));
    return 0;
}

int TrVMTic_UnlockVar(uint8_t *db, uint32_t index, uint8_t mask, int32_t) {
    uint8_t *st = TrVM_Status(db);
    if (!st) return 1;
    if (index != 0) {
        uint8_t *b = lock_byte(db, index);
        if (!b) return 1;
        if (!(*b & mask)) return 0;
        *b &= uint8_t(~mask);
    }
    uint32_t count = le32(st + trst::kLockCount);
    if (count) put_le32(st + trst::kLockCount, --count);
    if (count == 0)
        put_le16(st + trst::kRunFlags,
                 uint16_t(le16(st + trst::kRunFlags) & ~trlock::kRunFlagLocks));
    return 0;
}

void TrVMTic_UnlockAllVars(uint8_t *db) {
    uint8_t *st = TrVM_Status(db);
    uint32_t n = 0;
    if (uint8_t *lock = TrDB_Segment(db, TrVM_DBSize(db), 5, &n)) std::memset(lock, 0, n);
    if (!st) return;
    put_le32(st + trst::kLockCount, 0);
    put_le16(st + trst::kRunFlags, uint16_t(le16(st + trst::kRunFlags) & ~trlock::kRunFlagLocks));
}

namespace {
void set_breaks(uint8_t *db, uint32_t k, uint32_t esize, uint32_t which, uint16_t value) {
    uint32_t n = 0;
    uint8_t *seg = TrDB_Segment(db, TrVM_DBSize(db), k, &n);
    if (!seg) return;
    uint32_t count = n / esize;
    for (uint32_t i = which ? which : 1; i < count && (which == 0 || i == which); ++i)
        put_le16(seg + i * esize + esize - 2, value);
}
} // namespace

void TrVMTic_SetSfcBreakS(uint8_t *db, uint32_t step, uint16_t value) {
    set_breaks(db, 20, 12, step, value);
}
void TrVMTic_SetSfcBreakT(uint8_t *db, uint32_t transition, uint16_t value) {
    set_breaks(db, 21, 4, transition, value);
}

namespace {
struct CtView {
    uint8_t *ct = nullptr, *d32 = nullptr;
    uint32_t nct = 0, n32 = 0;
    explicit CtView(uint8_t *db) {
        uint32_t size = TrVM_DBSize(db);
        ct = TrDB_Segment(db, size, 35, &nct);
        d32 = TrDB_Segment(db, size, 8, &n32);
        n32 /= 4;
        if (!ct) nct = 0;
        if (!d32) n32 = 0;
    }
    // The value of DINT variable i, false when it does not exist.
    bool dint(uint32_t i, int64_t *v) const {
        if (i >= n32) return false;
        *v = int32_t(le32(d32 + 4 * i));
        return true;
    }
    uint8_t *at(int64_t off, uint64_t n) const {
        return off >= 0 && uint64_t(off) + n <= nct ? ct + off : nullptr;
    }
};
} // namespace

int TrVMTic_CTMemcpy(uint8_t *db, uint32_t dst, uint32_t src, uint32_t size) {
    CtView c(db);
    int64_t d, s, n;
    if (!c.dint(dst, &d) || !c.dint(src, &s) || !c.dint(size, &n) || n < 0) return 1;
    uint8_t *pd = c.at(d, uint64_t(n)), *ps = c.at(s, uint64_t(n));
    if (!pd || !ps) return 1;
    std::memmove(pd, ps, size_t(n));
    return 0;
}

namespace {
int ct_item(uint8_t *db, uint32_t type, uint32_t index, uint32_t offset, bool set) {
    CtView c(db);
    int64_t off;
    if (!c.dint(offset, &off)) return 1;
    uint16_t code;
    switch (type) {
    case 1:
        code = 1;
        break;
    case 2:
        code = 2;
        break;
    case 4:
        code = 4;
        break;
    case 5:
        code = 5;
        break;
    case 11:
        code = 11;
        break;
    case 12:
        code = 12;
        break;
    default:
        return 1;
    }
    uint8_t lock = 0;
    uint32_t size = 0;
    uint8_t *var = TrTools_GetAnyParam(db, code, index, &lock, &size);
    if (!var) return 1;
    if (code == 5) {
        uint8_t *head = c.at(off, 3);
        uint8_t *buf = head ? c.at(off, 3ull + head[0]) : nullptr;
        if (!buf) return 1;
        if (set)
            TrVMStr_CopyPtr(buf, var);
        else if (!(lock_byte(db, index) && (*lock_byte(db, index) & lock)))
            TrVMStr_CopyPtr(var, buf);
        return 0;
    }
    uint8_t *p = c.at(off, size);
    if (!p) return 1;
    if (set)
        std::memcpy(p, var, size);
    else if (!(lock_byte(db, index) && (*lock_byte(db, index) & lock)))
        std::memcpy(var, p, size);
    return 0;
}
} // namespace

int TrVMTic_SetCTSegItem(uint8_t *db, uint32_t type, uint32_t index, uint32_t offset) {
    return ct_item(db, type, index, offset, true);
}
int TrVMTic_GetCTSegItem(uint8_t *db, uint32_t type, uint32_t index, uint32_t offset) {
    return ct_item(db, type, index, offset, false);
}
