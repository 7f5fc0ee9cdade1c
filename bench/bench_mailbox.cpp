// Cost of one pass of the register mailbox service with the largest request
// (2048 bits of %R registers), while the client has not collected (the bits
// are ORed in), against native code doing the same work: the 256 bytes read
// from the register image and ORed into the mailbox's data.
#include "base/le.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr uint32_t kBytes = 256;

void setup() {
    PlcReg_Reset();
    Dpram_Reset();
    Dpram_Init();
    put_le32(dpram + 4, reg::kRefR);
    put_le32(dpram + 8, 8 * kBytes);
    for (uint32_t i = 0; i < kBytes; ++i)
        plc_reg[reg::kR + i] = uint8_t(i * 13);
}

void BM_MailboxPass(benchmark::State &state) {
    setup();
    for (auto _ : state) {
        Dpram_Service();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MailboxPass);

// Baseline: the same 256 bytes copied out of the image and ORed in.
void BM_MailboxPass_baseline(benchmark::State &state) {
    setup();
    for (auto _ : state) {
        uint8_t now[kBytes];
        std::memcpy(now, plc_reg + reg::kR, kBytes);
        benchmark::DoNotOptimize(now);
        for (uint32_t i = 0; i < kBytes; ++i)
            dpram[12 + i] = uint8_t(dpram[12 + i] | now[i]);
        dpram[0] = uint8_t(1 - dpram[1]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MailboxPass_baseline);

} // namespace
