// The object manager on the 800 x 480 screen: an update pass over 200
// objects that report no change, against 200 calls of an empty class
// operation through the same kind of table (the work the pass cannot avoid);
// and a page painted from scratch (its background), against a memset of the
// frame's bytes.
#include "base/le.h"
#include "bench/bench_screen.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "screens/objm_int.h"
#include "tools/lib/appbuild.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int16_t quiet_create(const uint8_t *, ObjInst *inst) {
    inst->state = kInstShown;
    return 16;
}
void quiet_paint(const uint8_t *, ObjInst *, int) {}
uint16_t quiet_signal(const uint8_t *, ObjInst *, int, uint32_t) {
    return 0;
}
const ObjClass kQuiet{32, quiet_create, quiet_paint, quiet_signal, nullptr, 32, nullptr};

// Loads a screen program of one page with `n` objects of type 0; returns it.
const uint8_t *load_page(int n) {
    std::string objs;
    for (int i = 0; i < n; ++i)
        objs += std::string(i ? ", " : "") + "{\"type\": 0, \"rect\": [" +
                std::to_string(i % 20 * 40) + ", " + std::to_string(i / 20 * 40) + ", " +
                std::to_string(i % 20 * 40 + 39) + ", " + std::to_string(i / 20 * 40 + 39) + "]}";
    appbuild::Built built;
    appbuild::Placed at;
    std::string error;
    if (!appbuild::build_text("{\"kesta_pgm\": {\"screens\": {\"header_length\": 56, \"pages\": "
                              "[{\"screen\": 1, \"background\": 2016, \"objects\": [" +
                                  objs + "]}]}}}",
                              "", &built, &error) ||
        !appbuild::find_part(built.manifest, "kesta_pgm", &at))
        std::abort();
    std::memcpy(kesta_pgm_bl, built.config.data() + at.offset, at.size);
    return kesta_pgm_bl + 8 + 56;
}

void UpdateUnchanged(benchmark::State &state) {
    BenchScreen s;
    pDC = s.dc;
    Objm_Reset();
    OBJM_SetClass(0, &kQuiet);
    if (!OBJM_OpenPage(s.dc, load_page(200))) std::abort();
    OBJM_Update(s.dc); // the page's first flush
    for (auto _ : state)
        OBJM_Update(s.dc);
    OBJM_DestroyPage();
    Objm_Reset();
}
// The same 200 Signal calls through ObjCB-like records, and nothing else.
void UpdateUnchanged_baseline(benchmark::State &state) {
    std::vector<ObjCB> cbs(
        200, ObjCB{quiet_create, quiet_paint, quiet_signal, nullptr, nullptr, nullptr, 0, 0});
    uint8_t def[32] = {};
    ObjInst inst{};
    for (auto &c : cbs)
        c.def = def, c.inst = &inst;
    for (auto _ : state) {
        uint16_t r = 0;
        for (auto &c : cbs) {
            r |= c.Signal(c.def, c.inst, 0x40, 0);
            benchmark::DoNotOptimize(c.Signal);
        }
        benchmark::DoNotOptimize(r);
    }
}

void PaintPage(benchmark::State &state) {
    BenchScreen s;
    pDC = s.dc;
    Objm_Reset();
    if (!OBJM_OpenPage(s.dc, load_page(0))) std::abort();
    for (auto _ : state) {
        objm::PaintPage(s.dc);
        benchmark::ClobberMemory();
    }
    Objm_Reset();
}
// The frame's 800 x 480 16-bit pixels written by memset.
void PaintPage_baseline(benchmark::State &state) {
    std::vector<uint8_t> frame(800 * 480 * 2);
    int c = 0;
    for (auto _ : state) {
        std::memset(frame.data(), c++, frame.size());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(UpdateUnchanged);
BENCHMARK(UpdateUnchanged_baseline);
BENCHMARK(PaintPage);
BENCHMARK(PaintPage_baseline);
