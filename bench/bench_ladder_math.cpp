// Arithmetic instructions of the ladder against native C++ doing the same
// operations in the same run: each ladder scan runs 1000 operations of the
// form "push register, push register, operate, pop into register", and the
// baseline does the same reads, operations with their overflow tests and
// writes on the same plc_reg.
#include "base/le.h"
#include "host/clock.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "system/nvram.h"
#include "tools/lib/ladasm.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kOps = 1000;
constexpr int kSpread = 64; // registers the operations cycle through

// Word offsets (from %R1) of the operands and the result of operation i; the
// 32-bit and float operations use pairs.
struct Regs {
    uint32_t a, b, r;
};
Regs regs_of(int i, uint32_t words) {
    uint32_t k = uint32_t(i % kSpread);
    return {k * words, (kSpread + k) * words, (2 * kSpread + k) * words};
}

enum class Kind { Int16, Int32, Float };

std::vector<uint8_t> program(const char *op, Kind kind) {
    uint32_t words = kind == Kind::Int16 ? 1 : 2;
    const char *push = kind == Kind::Int16 ? "PUSHW" : "PUSHD";
    const char *pop = kind == Kind::Int16 ? "POPW" : "POPD";
    std::string src = ".tokens 16\nTRUE\n";
    for (int i = 0; i < kOps; ++i) {
        Regs g = regs_of(i, words);
        auto r = [](uint32_t w) { return "%R" + std::to_string(1 + w); };
        src += std::string(push) + " " + r(g.a) + "\n" + push + " " + r(g.b) + "\n" + op + "\n" +
               pop + " " + r(g.r) + "\n";
    }
    src += "END\n";
    std::vector<uint8_t> out;
    std::string error;
    if (!Ladasm_Assemble(src, &out, &error)) std::abort();
    return out;
}

uint8_t *r_word(uint32_t w) {
    return plc_reg + reg::kR + 2 * w;
}

// Operands that never overflow, divide by zero or leave the float range, so
// both sides do the same work on every iteration.
void fill(Kind kind) {
    PlcReg_Reset();
    for (uint32_t k = 0; k < kSpread; ++k) {
        if (kind == Kind::Int16) {
            put_le16(r_word(k), uint16_t(100 + k));
            put_le16(r_word(kSpread + k), uint16_t(1 + k % 7));
        } else if (kind == Kind::Int32) {
            put_le32(r_word(2 * k), 100000 + k);
            put_le32(r_word(2 * (kSpread + k)), 1 + k % 7);
        } else {
            put_le32(r_word(2 * k), std::bit_cast<uint32_t>(1.5f + float(k)));
            put_le32(r_word(2 * (kSpread + k)), std::bit_cast<uint32_t>(0.25f + float(k % 7)));
        }
    }
}

void run_ladder(benchmark::State &state, const char *op, Kind kind) {
    host::clock_use_virtual();
    std::vector<uint8_t> p = program(op, kind);
    fill(kind);
    Ladder_Reset();
    NV_EditorFeatures = Ladder_Features(p.data(), uint32_t(p.size()));
    sbit_put(sbit::kFirstScan, 1);
    for (auto _ : state) {
        if (LogicUpdate(p.data(), uint32_t(p.size())) != kLadderScanDone)
            state.SkipWithError("stop");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kOps);
}

// The native side: the same register reads and writes, the operation with
// the same overflow test, and the power flow it would clear.
template <typename Op> void run_native(benchmark::State &state, Kind kind, Op op) {
    fill(kind);
    uint32_t words = kind == Kind::Int16 ? 1 : 2;
    std::vector<Regs> g;
    for (int i = 0; i < kOps; ++i)
        g.push_back(regs_of(i, words));
    uint8_t power = 1;
    for (auto _ : state) {
        for (const Regs &r : g)
            op(r_word(r.a), r_word(r.b), r_word(r.r), &power);
        benchmark::DoNotOptimize(power);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kOps);
}

void Ladder_AddW(benchmark::State &s) {
    run_ladder(s, "ADDW", Kind::Int16);
}
void Ladder_AddW_baseline(benchmark::State &s) {
    run_native(s, Kind::Int16, [](const uint8_t *a, const uint8_t *b, uint8_t *r, uint8_t *p) {
        int32_t sum = int16_t(le16(a)) + int16_t(le16(b));
        if (sum < -32768 || sum > 32767) *p = 0;
        put_le16(r, uint16_t(sum));
    });
}

void Ladder_MulD(benchmark::State &s) {
    run_ladder(s, "MULD", Kind::Int32);
}
void Ladder_MulD_baseline(benchmark::State &s) {
    run_native(s, Kind::Int32, [](const uint8_t *a, const uint8_t *b, uint8_t *r, uint8_t *p) {
        int64_t prod = int64_t(int32_t(le32(a))) * int32_t(le32(b));
        if (prod < INT32_MIN || prod > INT32_MAX) *p = 0;
        put_le32(r, uint32_t(uint64_t(prod)));
    });
}

void Ladder_DivD(benchmark::State &s) {
    run_ladder(s, "DIVD", Kind::Int32);
}
void Ladder_DivD_baseline(benchmark::State &s) {
    run_native(s, Kind::Int32, [](const uint8_t *a, const uint8_t *b, uint8_t *r, uint8_t *p) {
        int64_t x = int32_t(le32(a)), y = int32_t(le32(b));
        if (y == 0) {
            *p = 0;
            put_le32(r, uint32_t(x));
            return;
        }
        put_le32(r, uint32_t(uint64_t(x / y)));
    });
}

template <typename F> void float_native(benchmark::State &s, F f) {
    run_native(s, Kind::Float, [f](const uint8_t *a, const uint8_t *b, uint8_t *r, uint8_t *p) {
        float x = std::bit_cast<float>(le32(a)), y = std::bit_cast<float>(le32(b));
        float z = f(x, y);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) *p = 0;
        put_le32(r, std::bit_cast<uint32_t>(z));
    });
}

void Ladder_AddF(benchmark::State &s) {
    run_ladder(s, "ADDF", Kind::Float);
}
void Ladder_AddF_baseline(benchmark::State &s) {
    float_native(s, [](float x, float y) { return x + y; });
}

void Ladder_MulF(benchmark::State &s) {
    run_ladder(s, "MULF", Kind::Float);
}
void Ladder_MulF_baseline(benchmark::State &s) {
    float_native(s, [](float x, float y) { return x * y; });
}

void Ladder_DivF(benchmark::State &s) {
    run_ladder(s, "DIVF", Kind::Float);
}
void Ladder_DivF_baseline(benchmark::State &s) {
    float_native(s, [](float x, float y) { return y == 0 ? x : x / y; });
}

void Ladder_PowF(benchmark::State &s) {
    run_ladder(s, "POWF", Kind::Float);
}
void Ladder_PowF_baseline(benchmark::State &s) {
    float_native(s, [](float x, float y) { return float(std::pow(double(x), double(y))); });
}

} // namespace

BENCHMARK(Ladder_AddW);
BENCHMARK(Ladder_AddW_baseline);
BENCHMARK(Ladder_MulD);
BENCHMARK(Ladder_MulD_baseline);
BENCHMARK(Ladder_DivD);
BENCHMARK(Ladder_DivD_baseline);
BENCHMARK(Ladder_AddF);
BENCHMARK(Ladder_AddF_baseline);
BENCHMARK(Ladder_MulF);
BENCHMARK(Ladder_MulF_baseline);
BENCHMARK(Ladder_DivF);
BENCHMARK(Ladder_DivF_baseline);
BENCHMARK(Ladder_PowF);
BENCHMARK(Ladder_PowF_baseline);
