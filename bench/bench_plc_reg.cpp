// Cost of a register access through its reference, per reference form, against
// a plain copy of the same bytes.
#include "regs/plc_reg.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

// Spread the accesses over a few registers so the loop is not one address.
constexpr int kSpread = 64;

struct Form {
    uint32_t first_ref;
    uint32_t step; // between consecutive references
    uint32_t bits;
    uint32_t byte; // image offset of first_ref
};

constexpr Form kBit = {reg::kRefI, 1, 1, reg::kI};
constexpr Form kWord = {reg::kRefR, 16, 16, reg::kR};
constexpr Form kDword = {reg::kRefR + 16 * 1000, 32, 32, reg::kR + 2000};
constexpr Form kExtended = {reg::kRefESR + 16 * 64, 16, 16, reg::kESR + 128};

void get(benchmark::State &state, const Form &f) {
    PlcReg_Reset();
    uint8_t out[4] = {};
    int i = 0;
    for (auto _ : state) {
        PlcReg_Get(out, f.first_ref + f.step * uint32_t(i), f.bits);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % kSpread;
    }
}

void set(benchmark::State &state, const Form &f) {
    PlcReg_Reset();
    uint8_t in[4] = {1, 2, 3, 4};
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(in);
        PlcReg_Set(f.first_ref + f.step * uint32_t(i), in, f.bits);
        benchmark::ClobberMemory();
        i = (i + 1) % kSpread;
    }
}

// The same bytes moved by memcpy; a bit access still moves its whole byte.
void copy_out(benchmark::State &state, const Form &f) {
    PlcReg_Reset();
    uint8_t out[4] = {};
    size_t len = f.bits == 1 ? 1 : f.bits / 8;
    int i = 0;
    for (auto _ : state) {
        std::memcpy(out, plc_reg + f.byte + f.step * uint32_t(i) / 8, len);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % kSpread;
    }
}

void copy_in(benchmark::State &state, const Form &f) {
    PlcReg_Reset();
    uint8_t in[4] = {1, 2, 3, 4};
    size_t len = f.bits == 1 ? 1 : f.bits / 8;
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(in);
        std::memcpy(plc_reg + f.byte + f.step * uint32_t(i) / 8, in, len);
        benchmark::ClobberMemory();
        i = (i + 1) % kSpread;
    }
}

void PlcReg_Get_Bit(benchmark::State &s) {
    get(s, kBit);
}
void PlcReg_Get_Bit_baseline(benchmark::State &s) {
    copy_out(s, kBit);
}
void PlcReg_Get_Word(benchmark::State &s) {
    get(s, kWord);
}
void PlcReg_Get_Word_baseline(benchmark::State &s) {
    copy_out(s, kWord);
}
void PlcReg_Get_Dword(benchmark::State &s) {
    get(s, kDword);
}
void PlcReg_Get_Dword_baseline(benchmark::State &s) {
    copy_out(s, kDword);
}
void PlcReg_Get_Extended(benchmark::State &s) {
    get(s, kExtended);
}
void PlcReg_Get_Extended_baseline(benchmark::State &s) {
    copy_out(s, kExtended);
}

void PlcReg_Set_Bit(benchmark::State &s) {
    set(s, kBit);
}
void PlcReg_Set_Bit_baseline(benchmark::State &s) {
    copy_in(s, kBit);
}
void PlcReg_Set_Word(benchmark::State &s) {
    set(s, kWord);
}
void PlcReg_Set_Word_baseline(benchmark::State &s) {
    copy_in(s, kWord);
}
void PlcReg_Set_Dword(benchmark::State &s) {
    set(s, kDword);
}
void PlcReg_Set_Dword_baseline(benchmark::State &s) {
    copy_in(s, kDword);
}
void PlcReg_Set_Extended(benchmark::State &s) {
    set(s, kExtended);
}
void PlcReg_Set_Extended_baseline(benchmark::State &s) {
    copy_in(s, kExtended);
}

} // namespace

BENCHMARK(PlcReg_Get_Bit);
BENCHMARK(PlcReg_Get_Bit_baseline);
BENCHMARK(PlcReg_Get_Word);
BENCHMARK(PlcReg_Get_Word_baseline);
BENCHMARK(PlcReg_Get_Dword);
BENCHMARK(PlcReg_Get_Dword_baseline);
BENCHMARK(PlcReg_Get_Extended);
BENCHMARK(PlcReg_Get_Extended_baseline);
BENCHMARK(PlcReg_Set_Bit);
BENCHMARK(PlcReg_Set_Bit_baseline);
BENCHMARK(PlcReg_Set_Word);
BENCHMARK(PlcReg_Set_Word_baseline);
BENCHMARK(PlcReg_Set_Dword);
BENCHMARK(PlcReg_Set_Dword_baseline);
BENCHMARK(PlcReg_Set_Extended);
BENCHMARK(PlcReg_Set_Extended_baseline);
