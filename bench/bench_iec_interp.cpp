// The IEC interpreter against native C++ doing the same work in the same
// run. Each baseline reads and writes the same kinds of variables through
// volatile memory, so nothing is folded away:
// - DintLoop: 10^5 turns of a loop of 8 instructions (add, multiply, add,
//   subtract, compare, conditional jump, loop-guard turn) on DINTs;
// - RealExpr: 10^4 turns of a REAL expression (multiply, divide, add,
//   subtract, compare) under the loop guard;
// - StringCatCompare: 10^4 turns of a STRING concatenation and two
//   comparisons; the baseline joins and compares the same counted texts.
#include "iec/kernel/trdb.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "tools/lib/iecasm.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct App {
    std::vector<uint8_t> image, db;
    TrCodeImage code{};
    explicit App(const std::string &source) {
        IecAsmOutput out;
        std::string error;
        if (!Iecasm_Assemble(source, &out, &error)) std::abort();
        image = out.image;
        code = TrCodeImage{image.data(), uint32_t(image.size())};
        uint8_t header[trdb::kHeaderSize] = {};
        if (TrVM_GetDBSize(code, header) != 0) std::abort();
        db.assign(TrVM_GetTotalDBSize(header), 0);
        std::memcpy(db.data(), header, sizeof header);
        TrVM_BuildDBMainLinks(db.data());
        if (TrVM_BuildEx(code, db.data(), 0, 0) != 0) std::abort();
    }
    uint8_t *var(uint16_t type, uint32_t index) {
        return TrTools_GetAnyParam(db.data(), type, index, nullptr, nullptr);
    }
    void run() {
        if (TrVMTic_Run(db.data(), TrVM_Status(db.data()), code, 1) != 1) std::abort();
    }
};

void set32(App &a, uint16_t type, uint32_t index, const void *v) {
    std::memcpy(a.var(type, index), v, 4);
}

const char *kDint = R"(
.app B
.var DINT i
.var DINT n
.var DINT acc
.var DINT one
.var DINT three
.var DINT lim
.var DINT g
.var BOOL c
.program main kind=0
        LDK_DINT i, 0
        LDK_DINT n, 0
        LOOP_INIT g
top:    ADD_DINT i, i, one
        MUL_DINT acc, i, three
        ADD_DINT acc, acc, n
        SUB_DINT n, acc, i
        GT_DINT c, i, lim
        JMPT c, out
        ADD_DINT acc, acc, one
        LOOP_NEXT g
out:    END
)";
constexpr int32_t kDintTurns = 100000;

void DintLoop(benchmark::State &state) {
    App a(kDint);
    int32_t one = 1, three = 3, lim = kDintTurns - 1;
    set32(a, 2, 4, &one);
    set32(a, 2, 5, &three);
    set32(a, 2, 6, &lim);
    for (auto _ : state)
        a.run();
}
BENCHMARK(DintLoop);

void DintLoop_baseline(benchmark::State &state) {
    // i, n, acc, one, three, lim, guard and the BOOL, as in the database.
    alignas(8) uint8_t mem[32] = {};
    volatile int32_t *v = reinterpret_cast<volatile int32_t *>(mem);
    volatile uint8_t *c = mem + 28;
    v[3] = 1;
    v[4] = 3;
    v[5] = kDintTurns - 1;
    for (auto _ : state) {
        v[0] = 0;
        v[1] = 0;
        uint32_t guard = 1000000;
        for (;;) {
            v[0] = v[0] + v[3];
            v[2] = v[0] * v[4];
            v[2] = v[2] + v[1];
            v[1] = v[2] - v[0];
            *c = v[0] > v[5];
            if (*c) break;
            v[2] = v[2] + v[3];
            if (--guard == 0) {
                v[6] = 0;
                break;
            }
        }
    }
}
BENCHMARK(DintLoop_baseline);

const char *kReal = R"(
.app B
.var REAL x
.var REAL y
.var REAL a
.var REAL b
.var REAL z
.var DINT k
.var DINT one
.var DINT lim
.var DINT g
.var BOOL c
.program main kind=0
        LDK_DINT k, 0
        LOOP_INIT g
top:    MUL_REAL z, x, a
        DIV_REAL y, z, b
        ADD_REAL z, y, x
        SUB_REAL x, z, y
        GT_REAL c, x, b
        ADD_DINT k, k, one
        GE_DINT c, k, lim
        JMPT c, out
        LOOP_NEXT g
out:    END
)";
constexpr int32_t kRealTurns = 10000;

void RealExpr(benchmark::State &state) {
    App a(kReal);
    float x = 1.5f, fa = 1.0001f, fb = 3.0f;
    int32_t one = 1, lim = kRealTurns;
    set32(a, 3, 1, &x);
    set32(a, 3, 3, &fa);
    set32(a, 3, 4, &fb);
    set32(a, 2, 7, &one);
    set32(a, 2, 8, &lim);
    for (auto _ : state)
        a.run();
}
BENCHMARK(RealExpr);

void RealExpr_baseline(benchmark::State &state) {
    alignas(8) uint8_t mem[64] = {};
    volatile float *f = reinterpret_cast<volatile float *>(mem);
    volatile int32_t *d = reinterpret_cast<volatile int32_t *>(mem + 20);
    volatile uint8_t *c = mem + 40;
    f[0] = 1.5f;
    f[2] = 1.0001f;
    f[3] = 3.0f;
    d[1] = 1;
    d[2] = kRealTurns;
    for (auto _ : state) {
        d[0] = 0;
        uint32_t guard = 1000000;
        for (;;) {
            f[4] = f[0] * f[2];
            f[1] = f[3] == 0.0f ? 1e37f : f[4] / f[3];
            f[4] = f[1] + f[0];
            f[0] = f[4] - f[1];
            *c = f[0] > f[3];
            d[0] = d[0] + d[1];
            *c = d[0] >= d[2];
            if (*c) break;
            if (--guard == 0) break;
        }
    }
}
BENCHMARK(RealExpr_baseline);

const char *kString = R"(
.app B
.var STRING(16) s1
.var STRING(16) s2
.var STRING(32) s3
.var STRING(32) s4
.var DINT k
.var DINT one
.var DINT lim
.var DINT g
.var BOOL c
.var BOOL e
.program main kind=0
        LDK_DINT k, 0
        LOOP_INIT g
top:    CAT_STRING s3, s1, s2
        EQ_STRING e, s3, s4
        GT_STRING e, s3, s1
        ADD_DINT k, k, one
        GE_DINT c, k, lim
        JMPT c, out
        LOOP_NEXT g
out:    END
)";
constexpr int32_t kStringTurns = 10000;

void put_string(uint8_t *buf, const char *text) {
    buf[1] = uint8_t(std::strlen(text));
    std::memcpy(buf + 2, text, buf[1] + 1);
}

void StringCatCompare(benchmark::State &state) {
    App a(kString);
    put_string(a.var(5, 1), "operator panel");
    put_string(a.var(5, 2), " running");
    put_string(a.var(5, 4), "operator panel running");
    int32_t one = 1, lim = kStringTurns;
    set32(a, 2, 2, &one);
    set32(a, 2, 3, &lim);
    for (auto _ : state)
        a.run();
}
BENCHMARK(StringCatCompare);

// Counted texts: capacity, length, text, NUL; the same join and comparisons.
__attribute__((noinline)) int compare(const volatile uint8_t *a, const volatile uint8_t *b) {
    uint32_t la = a[1], lb = b[1], n = la < lb ? la : lb;
    for (uint32_t i = 0; i < n; ++i)
        if (a[2 + i] != b[2 + i]) return a[2 + i] - b[2 + i];
    return la == lb ? 0 : la > lb ? 1 : -1;
}

void StringCatCompare_baseline(benchmark::State &state) {
    alignas(8) uint8_t s1[19] = {16}, s2[19] = {16}, s3[35] = {32}, s4[35] = {32};
    put_string(s1, "operator panel");
    put_string(s2, " running");
    put_string(s4, "operator panel running");
    volatile int32_t d[3] = {0, 1, kStringTurns};
    volatile uint8_t flags[2];
    for (auto _ : state) {
        d[0] = 0;
        uint32_t guard = 1000000;
        for (;;) {
            uint8_t tmp[512];
            uint32_t la = s1[1], lb = s2[1];
            std::memcpy(tmp, s1 + 2, la);
            std::memcpy(tmp + la, s2 + 2, lb);
            uint32_t n = la + lb < s3[0] ? la + lb : s3[0];
            std::memmove(s3 + 2, tmp, n);
            s3[1] = uint8_t(n);
            s3[2 + n] = 0;
            benchmark::ClobberMemory();
            flags[1] = compare(s3, s4) == 0;
            flags[1] = compare(s3, s1) > 0;
            d[0] = d[0] + d[1];
            flags[0] = d[0] >= d[2];
            if (flags[0]) break;
            if (--guard == 0) break;
        }
    }
}
BENCHMARK(StringCatCompare_baseline);

} // namespace
