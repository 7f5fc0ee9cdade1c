// 64 PID loops per scan against the same arithmetic in plain C++ in the same
// run. Each loop controls its own first-order plant (pv += (out - pv) / 16,
// the same on both sides) with proportional, integral and derivative terms,
// a deadband and output limits; every iteration is one sample of all 64.
//   BM_PidStep      the loop step called directly on 64 blocks
//   BM_PidLadder    one ladder scan of 64 PID instructions on register blocks
// Their baselines run plain 64-bit integer arithmetic of the independent
// form (error, deadband, terms, limits, back-calculation) on the same words.
#include "base/le.h"
#include "host/clock.h"
#include "plc/ladder.h"
#include "plc/pid.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "tools/lib/ladasm.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kLoops = kPidLoops;
constexpr uint32_t kSampleTicks = 100; // 10 ms, the shortest sample

void setup_block(uint16_t *b, int i) {
    std::fill(b, b + pidw::Count, uint16_t(0));
    b[pidw::Sample] = 0;
    b[pidw::DeadHigh] = 5;
    b[pidw::DeadLow] = uint16_t(int16_t(-5));
    b[pidw::Gain] = uint16_t(150 + i);
    b[pidw::Deriv] = 2;
    b[pidw::Integral] = 40;
    b[pidw::OutHigh] = 20000;
    b[pidw::OutLow] = uint16_t(int16_t(-20000));
    b[pidw::Control] = pidc::Enabled;
    b[pidw::Setpoint] = uint16_t(1000 + 10 * i);
}

int16_t plant(int16_t pv, int16_t out) {
    return int16_t(pv + (out - pv) / 16);
}

// The baseline: the same independent-form arithmetic in plain C++.
struct Plain {
    int64_t acc = 0;
    int32_t last_x = 0;
    uint32_t last_t = 0;
};
void plain_step(Plain &s, uint16_t *b, uint32_t now) {
    uint32_t dt = now - s.last_t;
    if (dt < 100u * b[pidw::Sample] || dt <= 99) return;
    s.last_t = now;
    int32_t e = int16_t(b[pidw::Setpoint]) - int16_t(b[pidw::Pv]);
    int32_t hi = int16_t(b[pidw::DeadHigh]), lo = int16_t(b[pidw::DeadLow]);
    if (e > lo && e < hi) e = 0;
    int64_t d = int64_t(int16_t(b[pidw::Deriv])) * 100 * (e - s.last_x) / dt;
    s.last_x = e;
    int64_t gain = int16_t(b[pidw::Gain]);
    int64_t p = gain * e / 100;
    s.acc += int64_t(b[pidw::Integral] / 2) * e * dt / 100;
    int64_t out = d + p + s.acc / 1000 + int16_t(b[pidw::Bias]);
    int64_t oh = int16_t(b[pidw::OutHigh]), ol = int16_t(b[pidw::OutLow]);
    if (out >= oh || out <= ol) {
        out = std::clamp(out, ol, oh);
        s.acc = (out - int16_t(b[pidw::Bias]) - d - p) * 500;
    }
    b[pidw::Manual] = uint16_t(out);
    b[pidw::Output] = uint16_t(out);
}

void BM_PidStep(benchmark::State &state) {
    Pid_Reset();
    uint16_t blocks[kLoops][pidw::Count];
    for (int i = 0; i < kLoops; ++i)
        setup_block(blocks[i], i);
    uint32_t now = 0;
    for (auto _ : state) {
        now += kSampleTicks;
        for (int i = 0; i < kLoops; ++i) {
            uint16_t *b = blocks[i];
            PidCall c{now, uint16_t(i), 0, 0};
            fbk_pid(&c, b);
            b[pidw::Pv] = uint16_t(plant(int16_t(b[pidw::Pv]), int16_t(b[pidw::Output])));
        }
        benchmark::DoNotOptimize(blocks);
    }
}
BENCHMARK(BM_PidStep);

void BM_PidStep_baseline(benchmark::State &state) {
    uint16_t blocks[kLoops][pidw::Count];
    Plain plain[kLoops];
    for (int i = 0; i < kLoops; ++i)
        setup_block(blocks[i], i);
    uint32_t now = 0;
    for (auto _ : state) {
        now += kSampleTicks;
        for (int i = 0; i < kLoops; ++i) {
            uint16_t *b = blocks[i];
            plain_step(plain[i], b, now);
            b[pidw::Pv] = uint16_t(plant(int16_t(b[pidw::Pv]), int16_t(b[pidw::Output])));
        }
        benchmark::DoNotOptimize(blocks);
    }
}
BENCHMARK(BM_PidStep_baseline);

// Loop i: block at %R(1 + 16 i), set point %R2001 + i, PV %R2101 + i, output
// %R2201 + i.
constexpr int kBlockR = 1, kSpR = 2001, kPvR = 2101, kOutR = 2201;

uint8_t *r_word(int r) {
    return plc_reg + reg::kR + 2 * (r - 1);
}

void setup_registers() {
    PlcReg_Reset();
    for (int i = 0; i < kLoops; ++i) {
        uint16_t b[pidw::Count];
        setup_block(b, i);
        for (int w = 0; w < pidw::Count; ++w)
            put_le16(r_word(kBlockR + 16 * i + w), b[w]);
        put_le16(r_word(kSpR + i), b[pidw::Setpoint]);
    }
}

std::vector<uint8_t> ladder_program() {
    auto r = [](int n) { return "%R" + std::to_string(n); };
    // One rung powers all 64 (a PID instruction leaves the power flow on
    // while its loop is healthy).
    std::string src = ".tokens 16\nTRUE\n";
    for (int i = 0; i < kLoops; ++i)
        src += "PID " + std::to_string(i) + ", " + r(kBlockR + 16 * i) + ", " + r(kSpR + i) + ", " +
               r(kPvR + i) + ", %M1, %M2, %M3, " + r(kOutR + i) + "\n";
    src += "END\n";
    std::vector<uint8_t> out;
    std::string error;
    if (!Ladasm_Assemble(src, &out, &error)) std::abort();
    return out;
}

// The plant of every loop, on the registers (the same work on both sides).
void plants_on_registers() {
    for (int i = 0; i < kLoops; ++i) {
        int16_t pv = int16_t(le16(r_word(kPvR + i)));
        put_le16(r_word(kPvR + i), uint16_t(plant(pv, int16_t(le16(r_word(kOutR + i))))));
    }
}

void BM_PidLadder(benchmark::State &state) {
    host::clock_use_virtual();
    Pid_Reset();
    Ladder_Reset();
    setup_registers();
    std::vector<uint8_t> p = ladder_program();
    std::vector<uint8_t> block = Ladasm_Block(p);
    std::copy(block.begin(), block.end(), ladder_bl);
    NV_EditorFeatures = Ladder_Features(p.data(), uint32_t(p.size()));
    Ladder_ProgramChanged();
    // The first scan takes the token width and initialises the loops.
    sbit_put(sbit::kFirstScan, 1);
    int32_t first = LogicUpdate(ladder_bl + 8, Ladder_Bytes());
    sbit_put(sbit::kFirstScan, 0);
    if (first != kLadderScanDone) {
        state.SkipWithError("the program does not run");
        return;
    }
    for (auto _ : state) {
        host::clock_advance_ns(uint64_t(kSampleTicks) * 100'000);
        LogicUpdate(ladder_bl + 8, Ladder_Bytes());
        plants_on_registers();
    }
    benchmark::DoNotOptimize(plc_reg);
    if (le16(r_word(kOutR)) == 0) state.SkipWithError("the loops did not step");
}
BENCHMARK(BM_PidLadder);

// The same loops on the same register words, in plain C++: read the set
// point and PV into the block, step, write the output and the block back.
void BM_PidLadder_baseline(benchmark::State &state) {
    setup_registers();
    Plain plain[kLoops];
    uint32_t now = 0;
    for (auto _ : state) {
        now += kSampleTicks;
        for (int i = 0; i < kLoops; ++i) {
            uint16_t b[pidw::Count];
            for (int w = 0; w < pidw::Count; ++w)
                b[w] = le16(r_word(kBlockR + 16 * i + w));
            b[pidw::Setpoint] = le16(r_word(kSpR + i));
            b[pidw::Pv] = le16(r_word(kPvR + i));
            plain_step(plain[i], b, now);
            put_le16(r_word(kOutR + i), b[pidw::Output]);
            for (int w = 0; w < pidw::Count; ++w)
                put_le16(r_word(kBlockR + 16 * i + w), b[w]);
        }
        plants_on_registers();
    }
    benchmark::DoNotOptimize(plc_reg);
}
BENCHMARK(BM_PidLadder_baseline);

} // namespace
