// Formatting a numeric field against snprintf of the same values: a signed
// decimal field of 10 digits with 2 decimals, and the same for a float field.
#include "gdi/field.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kValues = 256;

uint32_t value_at(int i) {
    return uint32_t(i * 2654435761u) >> (i & 7);
}

void NumField(benchmark::State &state) {
    char text[32];
    FLD f{};
    f.format = 2;
    f.digits = 10;
    f.decimals = 2;
    f.min = 0x80000000u;
    f.max = 0x7FFFFFFF;
    f.text = text;
    int i = 0;
    for (auto _ : state) {
        FLD_NumUpdate(&f, value_at(i++ & (kValues - 1)), 0);
        benchmark::DoNotOptimize(text);
    }
}

void NumField_baseline(benchmark::State &state) {
    char text[32];
    int i = 0;
    for (auto _ : state) {
        int32_t v = int32_t(value_at(i++ & (kValues - 1)));
        std::snprintf(text, sizeof text, "%d.%02d", v / 100, (v < 0 ? -v : v) % 100);
        benchmark::DoNotOptimize(text);
    }
}

void FloatField(benchmark::State &state) {
    char text[32];
    FLD f{};
    f.format = 4;
    f.digits = 6;
    f.decimals = 3;
    float lo = -1e9f, hi = 1e9f;
    std::memcpy(&f.min, &lo, 4);
    std::memcpy(&f.max, &hi, 4);
    f.text = text;
    int i = 0;
    for (auto _ : state) {
        float v = float(int32_t(value_at(i++ & (kValues - 1)))) / 4096.0f;
        uint32_t b;
        std::memcpy(&b, &v, 4);
        FLD_FloatUpdate(&f, b, 0);
        benchmark::DoNotOptimize(text);
    }
}

void FloatField_baseline(benchmark::State &state) {
    char text[32];
    int i = 0;
    for (auto _ : state) {
        float v = float(int32_t(value_at(i++ & (kValues - 1)))) / 4096.0f;
        std::snprintf(text, sizeof text, "%.3f", double(v));
        benchmark::DoNotOptimize(text);
    }
}

} // namespace

BENCHMARK(NumField);
BENCHMARK(NumField_baseline);
BENCHMARK(FloatField);
BENCHMARK(FloatField_baseline);
