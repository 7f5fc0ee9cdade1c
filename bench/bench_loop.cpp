// Overhead of one idle loop pass (the services behind it doing nothing),
// against a loop of the same number of calls to an empty function: what every
// scan pays for the pass itself.
#include "regs/plc_reg.h"
#include "system/loop.h"
#include "system/pgm.h"

#include <benchmark/benchmark.h>

namespace {

// Calls a pass makes to the services it polls (see The_Loop).
constexpr int kCallsPerPass = 24;

__attribute__((noinline)) void empty_service() {
    benchmark::ClobberMemory();
}
void (*volatile g_service)() = empty_service;

void LoopPass(benchmark::State &state) {
    PlcReg_Reset();
    Loop_Reset();
    PGM_state = 4;
    sr_put(sr::kSupplyVoltage, 3300);
    for (auto _ : state)
        The_Loop();
}

void LoopPass_baseline(benchmark::State &state) {
    for (auto _ : state)
        for (int i = 0; i < kCallsPerPass; ++i)
            g_service();
}

} // namespace

BENCHMARK(LoopPass);
BENCHMARK(LoopPass_baseline);
