// The ladder engine against native code doing the same work in the same run:
// a 10,000-word program of contact-contact-AND-coil rungs against the same
// rungs written as a C++ loop over the same plc_reg (the ceiling); and one
// control scan with an empty program against the ladder scan alone.
#include "base/le.h"
#include "host/clock.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "system/run_ctrl.h"
#include "tools/lib/ladasm.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// 2000 rungs of five words each (16-bit tokens): LD a, LD b, AND, OUT q.
constexpr int kRungs = 2000;
struct Rung {
    uint32_t a, b, q; // bit offsets into plc_reg
};

std::vector<Rung> rungs() {
    std::vector<Rung> r;
    for (int i = 0; i < kRungs; ++i) {
        uint32_t a = reg::kM * 8 + uint32_t(i % 2048),
                 b = reg::kM * 8 + uint32_t((i * 7 + 3) % 2048);
        r.push_back({a, b, reg::kQ * 8 + uint32_t(i % 2048)});
    }
    return r;
}

std::vector<uint8_t> program(const std::vector<Rung> &r) {
    std::string src = ".tokens 16\n";
    auto ref = [](uint32_t bit) { return "@" + std::to_string(1024 + bit); };
    for (const Rung &g : r)
        src += "LD " + ref(g.a) + "\nLD " + ref(g.b) + "\nAND\nOUT " + ref(g.q) + "\n";
    src += "END\n";
    std::vector<uint8_t> out;
    std::string error;
    if (!Ladasm_Assemble(src, &out, &error)) std::abort();
    return out;
}

void fill_inputs() {
    PlcReg_Reset();
    for (uint32_t i = 0; i < 256; ++i)
        plc_reg[reg::kM + i] = uint8_t(i * 37 + 11);
}

void Ladder_ContactsAndCoils(benchmark::State &state) {
    host::clock_use_virtual();
    std::vector<uint8_t> p = program(rungs());
    fill_inputs();
    Ladder_Reset();
    NV_EditorFeatures = Ladder_Features(p.data(), uint32_t(p.size()));
    sbit_put(sbit::kFirstScan, 1);
    for (auto _ : state) {
        if (LogicUpdate(p.data(), uint32_t(p.size())) != kLadderScanDone)
            state.SkipWithError("stop");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kRungs * 3);
}

inline bool get_bit(uint32_t bit) {
    return (plc_reg[bit >> 3] >> (bit & 7)) & 1;
}
inline void put_bit(uint32_t bit, bool on) {
    uint8_t m = uint8_t(1u << (bit & 7));
    plc_reg[bit >> 3] = on ? uint8_t(plc_reg[bit >> 3] | m) : uint8_t(plc_reg[bit >> 3] & ~m);
}

void Ladder_ContactsAndCoils_baseline(benchmark::State &state) {
    std::vector<Rung> r = rungs();
    fill_inputs();
    for (auto _ : state) {
        for (const Rung &g : r)
            put_bit(g.q, get_bit(g.a) && get_bit(g.b));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kRungs * 3);
}

// One control scan in run mode with the one-word program END.
const uint8_t kEnd[] = {0x09, 0x00};

void PlcScan_EmptyProgram(benchmark::State &state) {
    host::clock_use_virtual();
    PlcReg_Reset();
    Ladder_Reset();
    RunCtrl_Reset();
    std::memcpy(ladder_bl + 8, kEnd, sizeof kEnd);
    put_le32(ladder_bl + 4, sizeof kEnd);
    SetPlcMode(2);
    for (auto _ : state) {
        PlcScan();
        benchmark::ClobberMemory();
    }
}

void PlcScan_EmptyProgram_baseline(benchmark::State &state) {
    host::clock_use_virtual();
    PlcReg_Reset();
    Ladder_Reset();
    sbit_put(sbit::kFirstScan, 1);
    for (auto _ : state) {
        LogicUpdate(kEnd, sizeof kEnd);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(Ladder_ContactsAndCoils);
BENCHMARK(Ladder_ContactsAndCoils_baseline);
BENCHMARK(PlcScan_EmptyProgram);
BENCHMARK(PlcScan_EmptyProgram_baseline);
