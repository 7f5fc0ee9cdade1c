// One pass's FRAM exchange (the retentive registers and the battery-backed
// image, each with its header) through the SPI driver and the emulated bus,
// against copying the same bytes.
#include "host/clock.h"
#include "host/root.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
void setup() {
    char tmpl[] = "/tmp/bench-fram-XXXXXX";
    host::set_root(mkdtemp(tmpl));
    host::clock_use_virtual();
    FRAM_Init();
}

void Fram_PassExchange(benchmark::State &state) {
    setup();
    int bank = 0;
    for (auto _ : state) {
        FRAM_XChange_Data(0, bank ? 1 : 0);
        FRAM_BBRAM_XChange_Data(bbram, 4096, 0, bank ? 1 : 0);
        bank ^= 1;
    }
}

// The same bytes moved by memcpy into a buffer the size of the FRAM.
void Fram_PassExchange_baseline(benchmark::State &state) {
    static uint8_t image[16384];
    for (auto _ : state) {
        std::memcpy(image + 264, plc_reg + reg::kR, fram::kRegLength);
        std::memcpy(image + 5960, bbram, fram::kBbrLength);
        benchmark::ClobberMemory();
    }
}
} // namespace

BENCHMARK(Fram_PassExchange);
BENCHMARK(Fram_PassExchange_baseline);
