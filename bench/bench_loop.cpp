// Overhead of one idle loop pass (the services behind it doing nothing) as it
// runs on a panel: the FRAM attached, so each pass writes its bank of the
// retentive registers and the battery-backed image. The baseline is a loop of
// the same number of calls to an empty function: what every scan would pay
// for the pass itself if its services cost nothing.
#include "host/clock.h"
#include "host/root.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "serial/vcomm.h"
#include "system/loop.h"
#include "system/pgm.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// Calls a pass makes to the services it polls (see The_Loop).
constexpr int kCallsPerPass = 24;

__attribute__((noinline)) void empty_service() {
    benchmark::ClobberMemory();
}
void (*volatile g_service)() = empty_service;

void LoopPass(benchmark::State &state) {
    char tmpl[] = "/tmp/bench-loop-XXXXXX";
    host::set_root(mkdtemp(tmpl));
    host::clock_use_virtual();
    PlcReg_Reset();
    Vcomm_Init(); // start-up installs the port rows before the loop polls them
    Loop_Reset();
    Fram_Reset();
    FRAM_Init();
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
