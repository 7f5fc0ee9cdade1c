// CRC-16 throughput against a plain bytewise reference over the same bytes:
// the register image (109,176 bytes) and the largest bitmap area (16 MiB).
#include "base/crc16.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {
uint16_t crc_bytewise(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> data(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 131 + (i >> 8));
    return v;
}

template <uint16_t (*F)(const uint8_t *, size_t)> void run(benchmark::State &state, size_t n) {
    std::vector<uint8_t> v = data(n);
    for (auto _ : state)
        benchmark::DoNotOptimize(F(v.data(), v.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void Crc16_RegisterImage(benchmark::State &s) {
    run<crc16>(s, 109176);
}
void Crc16_RegisterImage_baseline(benchmark::State &s) {
    run<crc_bytewise>(s, 109176);
}
void Crc16_16MiB(benchmark::State &s) {
    run<crc16>(s, 16u << 20);
}
void Crc16_16MiB_baseline(benchmark::State &s) {
    run<crc_bytewise>(s, 16u << 20);
}
} // namespace

BENCHMARK(Crc16_RegisterImage);
BENCHMARK(Crc16_RegisterImage_baseline);
BENCHMARK(Crc16_16MiB);
BENCHMARK(Crc16_16MiB_baseline);
