// GRAPH objects (trend graphs): sampling on the 10 ms tick in every period
// unit and from a register, run-register edges, the controller's idle mode,
// stop versus scroll, array sweeps, scaling onto the plot, the ring in the
// battery-backed memory across a restart, malformed records, and pictures
// of live, scrolling, signed and keyed graphs.
#include "base/utc_time.h"
#include "objects/graph.h"
#include "objects/graph_int.h"
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "regs/sr.h"
#include "screens/screens.h"
#include "system/sys.h"

#include <algorithm>

namespace {

constexpr int kRun = 1, kPen = 10, kPeriodReg = 30, kArrayAt = 40;
constexpr uint8_t kBbram = 0x8, kScroll = 0x4, kArray = 0x1, kResume = 0x2, kExt = 0x10,
                  kSigned = 0x80;

struct Pen {
    COLOR colour;
    uint16_t style;
    int reg;
    uint8_t size = 16;
};

// A graph's fields: period, samples, flags, limits, pens and extension.
struct GraphSpec {
    uint8_t unit = 0;
    uint16_t period = 0;
    uint16_t samples = 100;
    uint8_t gflags = 0;
    int32_t low = 0, high = 100;
    std::vector<Pen> pens = {{0x001F, 1, kPen}};
    uint32_t ext = 0; // extension flags; an extension record when set
    uint8_t v_lines = 0, h_lines = 0;
};

int graph_length(const GraphSpec &s, bool ext) {
    return 68 + 8 * int(s.pens.size()) + (ext ? 16 : 0);
}

void fill(const Rec &r, const GraphSpec &s) {
    r.u16(rec::graph::kBack, 0xFFFF & 0xFFDF);
    r.u16(rec::graph::kFore, 0x0000);
    r.u8(rec::graph::kPens, uint8_t(s.pens.size()));
    r.u8(rec::graph::kUnit, s.unit);
    r.u8(rec::graph::kVLines, s.v_lines);
    r.u8(rec::graph::kHLines, s.h_lines);
    r.u16(rec::graph::kPeriod, (s.ext & 0x2) ? uint16_t(r_ref(kPeriodReg)) : s.period);
    r.u16(rec::graph::kSamples, s.samples);
    r.u16(rec::graph::kRun, uint16_t(r_ref(kRun)));
    r.u8(rec::graph::kRunSize, 16);
    r.u8(rec::graph::kGraphFlags, uint8_t(s.gflags | (s.ext ? kExt : 0)));
    r.u32(rec::graph::kLow, uint32_t(s.low));
    r.u32(rec::graph::kHigh, uint32_t(s.high));
    size_t at = rec::graph::kPenList;
    for (const Pen &p : s.pens) {
        r.u16(at, p.colour);
        r.u16(at + 2, p.style);
        r.u16(at + 4, uint16_t(r_ref(p.reg)));
        r.u8(at + 6, p.size);
        at += 8;
    }
    if (s.ext) r.u32(at + 4, s.ext);
}

void set_r(int n, int16_t v) {
    put_le16(r_ptr(n), uint16_t(v));
}

class GraphTest : public ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        pMemDC = GDI_CreateDC(0, 1);
        pMem2DC = GDI_CreateDC(0, 4);
        sr_put(sr::kRunMode, 2);
        sysTic = 0;
    }
    // One graph at `rect` (inclusive), or several; their records filled in.
    void make(const std::vector<std::pair<GraphSpec, std::array<int, 4>>> &graphs,
              uint32_t flags = 1) {
        std::vector<ObjSpec> objs;
        for (const auto &[s, r] : graphs)
            objs.push_back({10, flags | objflag::kOwnLength, r[0], r[1], r[2], r[3],
                            graph_length(s, s.ext != 0)});
        build(objs);
        for (size_t i = 0; i < graphs.size(); ++i)
            fill(recs[i], graphs[i].first);
    }
    void make1(const GraphSpec &s, uint32_t flags = 1) { make({{s, {100, 100, 399, 299}}}, flags); }
    graph::GraphInst *g(int i = 0) { return reinterpret_cast<graph::GraphInst *>(cb(i).inst); }
    void tick(int n) { sysTic = uint16_t(sysTic + n); }
    // Samples taken since the ring was last cleared.
    int samples(int i = 0) { return g(i)->count; }
    uint8_t newest(int pen = 0, int i = 0) {
        const graph::GraphInst *x = g(i);
        return graph::pen_row(x, pen)[(x->index + x->ring_len - 1) % x->ring_len];
    }
};

TEST_F(GraphTest, SamplesOnThePeriodInEveryUnit) {
    struct Case {
        const char *what;
        GraphSpec spec;
        uint16_t period_reg;
        std::vector<int> ticks; // advanced before each pass
        std::vector<int> count; // samples after it
    } cases[] = {
        // The first pass after the rising edge samples at once.
        {"ticks", {.unit = 0, .period = 5}, 0, {0, 4, 1, 4, 1}, {1, 1, 2, 2, 3}},
        {"milliseconds", {.unit = 1, .period = 50}, 0, {0, 4, 1}, {1, 1, 2}},
        {"seconds", {.unit = 2, .period = 2}, 0, {0, 199, 1}, {1, 1, 2}},
        {"minutes", {.unit = 3, .period = 1}, 0, {0, 5999, 1}, {1, 1, 2}},
        {"hours",
         {.unit = 4, .period = 1},
         0,
         {0, 30000, 30000, 30000, 30000, 30000, 29999, 30000, 30000, 30000, 30000, 30000, 30000, 1},
         {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}},
        // Past the period the count starts again from 0, not from the excess.
        {"elapsed restarts", {.unit = 0, .period = 10}, 0, {0, 15, 5, 5}, {1, 2, 2, 3}},
        {"zero period samples every pass", {.unit = 0, .period = 0}, 0, {0, 0, 0}, {1, 2, 3}},
        {"period register", {.unit = 2, .ext = 0x2}, 3, {0, 299, 1}, {1, 1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        set_r(kPeriodReg, int16_t(c.period_reg));
        set_r(kRun, 0);
        make1(c.spec);
        open();
        pass();
        set_r(kRun, 1);
        for (size_t i = 0; i < c.ticks.size(); ++i) {
            SCOPED_TRACE(i);
            tick(c.ticks[i]);
            pass();
            EXPECT_EQ(samples(), c.count[i]);
        }
        OBJM_DestroyPage();
    }
}

TEST_F(GraphTest, RunRegisterAndIdleController) {
    make1({.period = 0});
    set_r(kRun, 1);
    open(); // the page's first update only redraws
    pass();
    pass();
    EXPECT_EQ(samples(), 2);
    set_r(kRun, 0); // falling edge: the ring stays, nothing is sampled
    pass();
    pass();
    EXPECT_EQ(samples(), 2);
    set_r(kRun, 1); // rising edge: the ring starts again
    pass();
    EXPECT_EQ(samples(), 1);
    EXPECT_EQ(g()->index, 1);
    sr_put(sr::kRunMode, 0); // idle: nothing, and the next sample follows a gap
    pass();
    pass();
    EXPECT_EQ(samples(), 1);
    sr_put(sr::kRunMode, 2);
    set_r(kPen, 50);
    pass();
    EXPECT_EQ(samples(), 3);
    EXPECT_EQ(graph::pen_row(g(), 0)[1], graph::kGapByte);
    EXPECT_EQ(newest(), g()->scale_h / 2);
}

TEST_F(GraphTest, FullPlotStopsOrScrolls) {
    for (bool scroll : {false, true}) {
        SCOPED_TRACE(scroll ? "scroll" : "stop");
        // A plot narrower than the samples taken.
        make({{{.period = 0, .gflags = uint8_t(scroll ? kScroll : 0)}, {100, 100, 130, 199}}});
        set_r(kRun, 1);
        open();
        const int w = g()->plot_w;
        ASSERT_LT(w, 40);
        for (int n = 0; n < 40; ++n)
            pass();
        EXPECT_EQ(g()->drawn, w);
        EXPECT_EQ(samples(), scroll ? 40 : w);
        OBJM_DestroyPage();
    }
}

TEST_F(GraphTest, ScalesValuesOntoThePlot) {
    // A plot 100 pixels high: rows 100 .. 199 above the bottom of 200.
    struct Case {
        const char *what;
        uint8_t gflags;
        int32_t low, high;
        uint8_t size;
        int16_t value;
        uint8_t byte;
    } cases[] = {
        {"unsigned middle", 0, 0, 200, 16, 100, 50},
        {"unsigned 0 stored as 1", 0, 0, 200, 16, 0, 1},
        {"unsigned below the low limit", 0, 50, 200, 16, 10, 1},
        {"unsigned above the high limit", 0, 0, 200, 16, 900, 100},
        {"bit size other than 16 at the bottom", 0, 0, 200, 8, 100, 1},
        {"signed both limits negative", kSigned, -200, -100, 16, -150, 50},
        {"signed positive above zero", kSigned, -100, 100, 16, 50, 25},
        {"signed negative below zero", kSigned, -100, 100, 16, -50, 256 - 25},
        {"signed low limit one row inside", kSigned, -100, 100, 16, -100, 256 - 49},
        {"signed flag with a positive low limit", kSigned, 0, 200, 16, 100, 50},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        GraphSpec s{.period = 0, .gflags = c.gflags, .low = c.low, .high = c.high};
        s.pens[0].size = c.size;
        make({{s, {0, 95, 300, 206}}});
        set_r(kRun, 1);
        set_r(kPen, c.value);
        open();
        ASSERT_EQ(g()->plot_h, 100);
        pass();
        pass();
        EXPECT_EQ(newest(), c.byte);
        OBJM_DestroyPage();
    }
}

TEST_F(GraphTest, TallPlotsScaleIntoAByte) {
    // 400 pixels of plot: a ring byte spans 254 of them; the top is the high limit.
    make({{{.period = 0, .low = 0, .high = 1000}, {0, 0, 300, 419}}});
    set_r(kRun, 1);
    set_r(kPen, 1000);
    open();
    ASSERT_GT(g()->plot_h, 254);
    pass();
    pass();
    EXPECT_EQ(newest(), 254);
    EXPECT_EQ(graph::row_of(g(), newest()), g()->plot.top);
}

TEST_F(GraphTest, RingInBatteryBackedMemorySurvivesARestartWithAGap) {
    const GraphSpec spec{.period = 0, .samples = 50, .gflags = uint8_t(kBbram | kResume)};
    make1(spec);
    set_r(kRun, 1);
    SYS_InitBBR();
    open();
    for (int v = 1; v <= 5; ++v) {
        set_r(kPen, int16_t(v * 10));
        pass();
    }
    ASSERT_EQ(samples(), 6); // the gap of the first start, then 5 samples
    const uint32_t at = g()->bbr;
    OBJM_DestroyPage();
    // The page opens again: the ring keeps its place, with a gap.
    open();
    EXPECT_EQ(g()->bbr, at);
    EXPECT_EQ(samples(), 7);
    EXPECT_EQ(SYS_AllocBBR(), at + 64); // header and 51 bytes, rounded up to even
    OBJM_DestroyPage();
    // A restart: the program is built again on the same battery-backed
    // memory, whose header was last written with the last sample (one gap
    // however often the graph was created since).
    SYS_InitBBR();
    GRAPH_ForgetRings();
    open();
    EXPECT_EQ(g()->bbr, at);
    EXPECT_EQ(samples(), 7);
    EXPECT_EQ(graph::pen_row(g(), 0)[6], graph::kGapByte);
    EXPECT_EQ(graph::pen_row(g(), 0)[5], g()->scale_h / 2);
    pass(); // resumed without clearing
    EXPECT_EQ(samples(), 8);
    EXPECT_EQ(SYS_AllocBBR(), at + 64);
}

TEST_F(GraphTest, BadRingHeadersStartEmptyWithAGap) {
    struct Case {
        const char *what;
        uint16_t h[6];
        uint16_t index, count;
    } cases[] = {
        {"both copies bad", {3, 2, 9, 4, 4, 9}, 1, 1},
        {"second copy taken", {3, 2, 9, 7, 2, 9}, 8, 3},
        {"a longer ring's header", {80, 2, 82, 80, 2, 82}, 1, 1},
        {"a count past the ring", {3, 60, 63, 3, 60, 63}, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        make1({.period = 0, .samples = 50, .gflags = kBbram});
        SYS_ClearCmd();
        SYS_InitBBR();
        GRAPH_ForgetRings();
        uint8_t h[12];
        for (int i = 0; i < 6; ++i)
            put_le16(h + 2 * i, c.h[i]);
        SYS_WriteCmd(h, SYS_AllocBBR(), 12);
        open();
        EXPECT_EQ(g()->index, c.index);
        EXPECT_EQ(g()->count, c.count);
        EXPECT_EQ(graph::pen_row(g(), 0)[c.index - 1], graph::kGapByte);
        OBJM_DestroyPage();
    }
}

TEST_F(GraphTest, ArraySweepReadsFifteenRegistersAPass) {
    GraphSpec s{.samples = 40, .gflags = kArray, .low = 0, .high = 100};
    s.pens = {{0x001F, 1, kArrayAt}};
    make({{s, {0, 95, 300, 206}}});
    for (int i = 0; i < 40; ++i)
        set_r(kArrayAt + i, int16_t(i));
    set_r(kRun, 1);
    open();
    std::vector<int> drawn;
    for (int n = 0; n < 4; ++n) {
        pass(); // reads a block; the paint of the same pass draws it
        drawn.push_back(g()->drawn);
    }
    EXPECT_EQ(drawn, (std::vector<int>{15, 30, g()->plot_w, g()->plot_w}));
    // The last block read registers 30 .. 44: the array's values scaled.
    EXPECT_EQ(graph::pen_row(g(), 0)[0], 30);
    EXPECT_EQ(graph::pen_row(g(), 0)[9], 39);
    set_r(kRun, 0); // off and on again: a new sweep from the array's start
    pass();
    set_r(kRun, 1);
    pass();
    EXPECT_EQ(g()->drawn, 15);
    EXPECT_EQ(graph::pen_row(g(), 0)[1], 1);
}

TEST_F(GraphTest, RecordsThatCannotBeBuilt) {
    struct Case {
        const char *what;
        GraphSpec spec;
        int pens_field; // written over the pen count; -1 keeps it
        bool whole;
        int pens;
        uint32_t ext;
        bool in_bbram = false;
    } cases[] = {
        // A ring of 65536 has no 16-bit length.
        {"65535 samples", {.samples = 0xFFFF}, -1, false, 0, 0},
        // More than Create can answer in its 16 bits.
        {"ring past 32767 bytes", {.samples = 40000}, -1, false, 0, 0},
        {"more pens than the record holds", {}, 4, true, 1, 0},
        {"pen count past 4", {}, 9, true, 1, 0},
        {"logging without bbram", {.ext = 0x4 | 0x8}, -1, true, 1, 0},
        {"keys without logging", {.gflags = kBbram, .ext = 0x8 | 0x1}, -1, true, 1, 0x1, true},
        {"array mode keeps nothing in bbram",
         {.gflags = kArray | kBbram, .ext = 0xD},
         -1,
         true,
         1,
         0x1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        make1(c.spec);
        if (c.pens_field >= 0) recs[0].u8(rec::graph::kPens, uint8_t(c.pens_field));
        set_r(kRun, 1);
        open();
        for (int n = 0; n < 3; ++n)
            pass();
        EXPECT_EQ(g()->whole, c.whole);
        if (c.whole) {
            EXPECT_EQ(g()->pens, c.pens);
            EXPECT_EQ(g()->ext_flags, c.ext);
            EXPECT_EQ(g()->block, nullptr);
            EXPECT_EQ(g()->bbr != 0, c.in_bbram);
        }
        OBJM_DestroyPage();
    }
}

TEST_F(GraphTest, SecondsSince1970) {
    struct Case {
        UtcDate d;
        uint32_t seconds;
    } cases[] = {
        {{1970, 1, 1, 0, 0, 0}, 0},
        {{2000, 2, 29, 12, 0, 0}, 951825600},
        {{2024, 3, 1, 0, 0, 1}, 1709251201},
        {{2026, 12, 31, 23, 59, 59}, 1798761599},
        // 2100 counts as a leap year, as the panel's clock accepts 29 February 2100.
        {{2100, 3, 1, 0, 0, 0}, 4107542400u + 86400},
        {{1969, 12, 31, 0, 0, 0}, 0},
        {{2026, 13, 1, 0, 0, 0}, 0},
        {{2200, 1, 1, 0, 0, 0}, 0xFFFFFFFFu},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.d.year);
        EXPECT_EQ(Conversion_to_UTC_Time_func(c.d), c.seconds);
    }
}

// Pictures: a ramp that stops at the plot's end, a scrolling ramp with a gap,
// a signed scale crossing zero, and a graph with the key row and a dotted grid.
TEST_F(GraphTest, PicturesOfLiveGraphs) {
    const uint32_t framed = 1 | 0x4 | 0x20 | 0x10 | 0x800;
    GraphSpec ramp{.period = 0, .samples = 100, .low = 0, .high = 100, .v_lines = 5, .h_lines = 5};
    ramp.pens = {{0x001F, 1, kPen}, {0xF800, 3, kPen + 1}};
    GraphSpec scroll = ramp;
    scroll.gflags = kScroll;
    scroll.pens = {{0x07E0, 1, kPen}};
    GraphSpec sgn{.period = 0,
                  .samples = 100,
                  .gflags = kSigned,
                  .low = -100,
                  .high = 100,
                  .v_lines = 3,
                  .h_lines = 3};
    sgn.pens = {{0xF81F, 1, kPen + 2}};
    GraphSpec keyed = ramp;
    keyed.gflags = kBbram;
    keyed.ext = 0x1 | 0x4 | 0x8;
    make({{ramp, {10, 10, 389, 229}},
          {scroll, {410, 10, 789, 229}},
          {sgn, {10, 250, 389, 469}},
          {keyed, {410, 250, 789, 469}}},
         framed);
    for (size_t i = 0; i < recs.size(); ++i) {
        recs[i].u32(rec::graph::kTitle, text(i == 0   ? "Ramp"
                                             : i == 1 ? "Scroll"
                                             : i == 2 ? "Signed"
                                                      : "Keys"));
        recs[i].u32(rec::graph::kBottomCaption, text("Time"));
        recs[i].u8(rec::graph::kTitleAlign, 4 | 32);
    }
    set_r(kRun, 1);
    SYS_ClearCmd();
    SYS_InitBBR();
    GRAPH_ForgetRings();
    open();
    pass();
    for (int n = 0; n < 500; ++n) {
        set_r(kPen, int16_t(n % 100));
        set_r(kPen + 1, int16_t(100 - n % 100));
        set_r(kPen + 2, int16_t((n % 80) * 5 / 2 - 100));
        if (n == 200) sr_put(sr::kRunMode, 0); // a gap in the scrolling graph
        if (n == 205) sr_put(sr::kRunMode, 2);
        pass();
    }
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/graph_live.png"), "");
}

} // namespace
