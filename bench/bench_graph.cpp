// A trend graph's live paint on the 800 x 480 screen once its 700 x 400 plot
// is full and scrolls: one sample taken, the plot scrolled by one column in
// the memory context, the new column drawn and the plot copied to the
// screen; against a memcpy of the plot area's rows (the copy to the screen
// alone, which any live graph does).
#include "base/le.h"
#include "bench/bench_screen.h"
#include "objects/objects.h"
#include "plc/appblocks.h"
#include "regs/sr.h"
#include "screens/objm_int.h"
#include "system/reglink.h"
#include "system/wiring.h"
#include "tools/lib/appbuild.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const uint8_t *load_graph_page() {
    const std::string page =
        R"({"kesta_pgm": {"screens": {"header_length": 56, "pages": [{"screen": 1,
        "background": 2016, "objects": [{"type": "GRAPH", "rect": [40, 30, 749, 439],
        "fields": {"background": "0xFFDF", "samples": 800, "run": "%R2", "run_size": 16,
                   "graph_flags": 4, "low": 0, "high": 1000},
        "pens": [{"colour": "0x001F", "register": "%R1"}, {"colour": "0xF800", "register": "%R3"}]}]}]}}})";
    appbuild::Built built;
    appbuild::Placed at;
    std::string error;
    if (!appbuild::build_text(page, "", &built, &error) ||
        !appbuild::find_part(built.manifest, "kesta_pgm", &at))
        std::abort();
    std::memcpy(kesta_pgm_bl, built.config.data() + at.offset, at.size);
    return kesta_pgm_bl + 8 + 56;
}

void put_r(int n, uint16_t v) {
    put_le16(plc_reg + reg::kR + 2 * (n - 1), v);
}

void LiveColumnScrolled(benchmark::State &state) {
    BenchScreen s;
    pDC = s.dc;
    pMemDC = GDI_CreateDC(0, 1);
    Objm_Reset();
    RegLink_Reset();
    System_Wire();
    sr_put(sr::kRunMode, 2);
    put_r(2, 1);
    const uint8_t *page = load_graph_page();
    SYS_ResetRCBs(0);
    if (!OBJM_OpenPage(s.dc, page)) std::abort();
    ObjCB &o = objm::g.doTbl[0];
    uint16_t v = 0;
    auto step = [&] {
        put_r(1, uint16_t(v % 1000));
        put_r(3, uint16_t(999 - v % 1000));
        ++v;
        o.Signal(o.def, o.inst, 0x40, 0);
        o.Paint(o.def, o.inst, 2);
    };
    for (int n = 0; n < 800; ++n) // fills the plot
        step();
    for (auto _ : state) {
        step();
        benchmark::ClobberMemory();
    }
    OBJM_DestroyPage();
    Objm_Reset();
    GDI_DeleteDC(pMemDC);
    pMemDC = nullptr;
}
// The plot area's rows (700 x 400 pixels of the 800-pixel screen) copied
// from a memory buffer to the frame.
void LiveColumnScrolled_baseline(benchmark::State &state) {
    std::vector<uint16_t> src(800 * 480, 0x1234), dst(800 * 480);
    for (auto _ : state) {
        for (int y = 35; y < 435; ++y)
            std::memcpy(&dst[size_t(y) * 800 + 45], &src[size_t(y) * 800 + 45], 700 * 2);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(LiveColumnScrolled);
BENCHMARK(LiveColumnScrolled_baseline);
