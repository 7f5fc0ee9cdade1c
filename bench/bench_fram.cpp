// One pass's FRAM exchange (the retentive registers and the battery-backed
// image, each with its header) through the SPI driver and the emulated bus,
// against copying the same bytes into an image of the FRAM: nothing changed
// since the bank's last write (the idle pass), a counter register changed,
// and every word changed.
#include "base/le.h"
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

void Fram_PassCounterChanged(benchmark::State &state) {
    setup();
    int bank = 0;
    uint16_t count = 0;
    for (auto _ : state) {
        put_le16(plc_reg + reg::kR + 200, ++count);
        FRAM_XChange_Data(0, bank ? 1 : 0);
        FRAM_BBRAM_XChange_Data(bbram, 4096, 0, bank ? 1 : 0);
        bank ^= 1;
    }
}

void Fram_PassAllChanged(benchmark::State &state) {
    setup();
    int bank = 0;
    uint8_t v = 0;
    for (auto _ : state) {
        ++v;
        std::memset(plc_reg + reg::kR, v, 2048);
        std::memset(bbram, v, sizeof bbram);
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
void Fram_PassCounterChanged_baseline(benchmark::State &state) {
    Fram_PassExchange_baseline(state);
}
void Fram_PassAllChanged_baseline(benchmark::State &state) {
    Fram_PassExchange_baseline(state);
}
} // namespace

BENCHMARK(Fram_PassExchange);
BENCHMARK(Fram_PassExchange_baseline);
BENCHMARK(Fram_PassCounterChanged);
BENCHMARK(Fram_PassCounterChanged_baseline);
BENCHMARK(Fram_PassAllChanged);
BENCHMARK(Fram_PassAllChanged_baseline);
