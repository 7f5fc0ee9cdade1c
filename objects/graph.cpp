// GRAPH objects (trend graphs): up to four register values ("pens") sampled
// on a period into a byte ring, one byte per pen and sample already scaled to
// the plot, so that drawing needs no arithmetic on register values. The ring
// can live in the battery-backed memory, where a trend survives a restart
// with a gap; in array mode each pen is an array of registers swept across
// the plot. The record's layout and sampling live here, the drawing in
// graph_draw.cpp.
#include "base/le.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/graph_int.h"
#include "objects/records.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace graph;
namespace f = rec::graph;

GraphHooks g_hooks;

// Where the ring of each graph record lives in bbram: every opening of a
// page would otherwise take a new area, losing the trend and filling bbram.
struct RingPlace {
    const uint8_t *def;
    uint32_t offset, size;
};
constexpr int kRingPlaces = 64;
struct Rings {
    RingPlace place[kRingPlaces];
    int count;
} g_rings;

// The ring's offset in bbram: its earlier place, or a new area.
uint32_t ring_place(const uint8_t *def, uint32_t size) {
    for (int i = 0; i < g_rings.count; ++i) {
        const RingPlace &p = g_rings.place[i];
        if (p.def == def && p.size == size) return p.offset;
    }
    const uint32_t at = g_hooks.alloc_bbr();
    if (g_hooks.expand_bbr) g_hooks.expand_bbr(size);
    if (g_rings.count < kRingPlaces) g_rings.place[g_rings.count++] = RingPlace{def, at, size};
    return at;
}

// What a record asks for, read once the same way by Need and Create.
struct Shape {
    bool whole;
    uint8_t pens, gflags;
    uint32_t ext_flags;
    const uint8_t *ext;
    uint16_t ring_len;
    size_t ring_bytes; // header and rows
    size_t block_at;   // offset of the log and key block after the instance; 0 none
    size_t total;
};

size_t align4(size_t n) {
    return (n + 3) & ~size_t(3);
}

Shape shape_of(const uint8_t *def) {
    Shape s{};
    s.whole = obj::Holds(def, 0, f::kLength);
    s.total = align4(sizeof(GraphInst));
    if (!s.whole) return s;
    // Only the pens the record holds are read.
    s.pens = uint8_t(std::min<int>(def[f::kPens], kMaxPens));
    while (s.pens && !obj::Holds(def, f::kPenList + f::kPenBytes * s.pens, 0))
        --s.pens;
    s.gflags = def[f::kGraphFlags];
    const size_t ext_at = f::kPenList + f::kPenBytes * s.pens;
    if ((s.gflags & kExtension) && obj::Holds(def, ext_at, f::kExtBytes)) {
        s.ext = def + ext_at;
        s.ext_flags = le32(s.ext + 4);
    }
    if (s.gflags & kArray) {
        // Rows stand where the header would; nothing of it reaches bbram.
        s.gflags = uint8_t(s.gflags & ~kBbram);
        s.ext_flags &= ~(kLog | kKeys);
        s.ring_len = kArrayBlock;
        s.ring_bytes = size_t(s.pens) * kArrayBlock;
    } else {
        const uint16_t samples = le16(def + f::kSamples);
        // A ring of 65536 has no u16 length: every step modulo it would
        // divide by zero.
        if (samples == 0xFFFF) {
            s.whole = false;
            return s;
        }
        s.ring_len = uint16_t(samples + 1);
        s.ring_bytes = kHeaderBytes + size_t(s.pens) * s.ring_len;
    }
    // Logging and the keys use the block that only a ring in bbram gets;
    // the keys live in the logging block.
    if (!(s.gflags & kBbram)) s.ext_flags &= ~(kLog | kKeys);
    if (!(s.ext_flags & kLog)) s.ext_flags &= ~kKeys;
    s.total = align4(sizeof(GraphInst)) + s.ring_bytes;
    if (s.ext_flags & kLog) {
        s.block_at = align4(s.total);
        s.total = s.block_at + kBlockBytes;
    }
    s.total = align4(s.total);
    // Create answers the bytes it used in 16 bits: a longer instance would
    // have the next object carved inside its ring.
    if (s.total > INT16_MAX) {
        s.whole = false;
        s.total = align4(sizeof(GraphInst));
    }
    return s;
}

uint32_t need(const uint8_t *def) {
    return uint32_t(shape_of(def).total);
}

int16_t lo16(uint32_t v) {
    return int16_t(v & 0xFFFF);
}

int text_lines(const void *text) {
    return text ? UTIL_StringLines(text) : 0;
}

int font_height(DC *dc, int font) {
    int h = 0;
    if (dc) GDI_SelectFont(dc, font, nullptr, &h);
    return h;
}

uint32_t period_ticks(uint32_t raw, uint8_t unit) {
    uint64_t t = raw;
    switch (unit) {
    case 1:
        t = raw / 10;
        break;
    case 2:
        t = uint64_t(raw) * 100;
        break;
    case 3:
        t = uint64_t(raw) * 6000;
        break;
    case 4:
        t = uint64_t(raw) * 360000;
        break;
    default:
        break;
    }
    return uint32_t(std::min<uint64_t>(t, UINT32_MAX));
}

void read_period(const uint8_t *def, GraphInst *g) {
    const uint32_t raw = g->period_reg ? obj::Read16(g->period_reg) : le16(def + f::kPeriod);
    g->period = period_ticks(raw, def[f::kUnit]);
}

void bbr_write(const GraphInst *g, const void *src, size_t at, size_t n) {
    if (g->bbr && g_hooks.write_bbr) g_hooks.write_bbr(src, uint32_t(g->bbr + at), uint32_t(n));
}

// The ring header: index, count and check = index + count, twice.
void write_header(GraphInst *g) {
    if (!g->header) return;
    for (int copy = 0; copy < 2; ++copy) {
        uint8_t *h = g->header + 6 * copy;
        put_le16(h, g->index);
        put_le16(h + 2, g->count);
        put_le16(h + 4, uint16_t(g->index + g->count));
    }
    bbr_write(g, g->header, 0, kHeaderBytes);
}

// A copy of the header, when consistent and inside this ring.
bool take_header(GraphInst *g, const uint8_t *h) {
    const uint16_t index = le16(h), count = le16(h + 2), check = le16(h + 4);
    if (check != uint16_t(index + count) || index >= g->ring_len || count >= g->ring_len)
        return false;
    g->index = index;
    g->count = count;
    return true;
}

void advance(GraphInst *g) {
    g->index = uint16_t((g->index + 1) % g->ring_len);
    if (g->count < g->ring_len - 1) ++g->count;
}

void put_byte(GraphInst *g, int pen, uint8_t b) {
    pen_row(g, pen)[g->index] = b;
    bbr_write(g, &b, kHeaderBytes + size_t(pen) * g->ring_len + g->index, 1);
}

// The gap marker at the current index, then the index moves on.
void write_gap(GraphInst *g) {
    if (g->pens == 0) return;
    put_byte(g, 0, kGapByte);
    advance(g);
}

// Lays out bands, plot and keys (exclusive rectangles).
void lay_out(const uint8_t *def, GraphInst *g, DC *dc) {
    const uint32_t flags = le32(def + rec::kFlags);
    const int L = int16_t(le16(def + 10)), T = int16_t(le16(def + 12)), R = int16_t(le16(def + 14)),
              B = int16_t(le16(def + 16));
    const int W = R - L, H = B - T;
    const bool keys = (g->ext_flags & kKeys) != 0;
    int layout_bottom = B;
    if (keys && H > 48) layout_bottom = B - 25;

    int top = T + 5;
    g->title = RECT{};
    if (flags & kTitle) {
        const int fh = font_height(dc, def[f::kTitleFont]);
        const int lines = text_lines(obj::Text(le32(def + f::kTitle)));
        g->title =
            RECT{int16_t(L + 3), int16_t(T + 3), int16_t(R - 4), int16_t(T + 3 + lines * fh)};
        top = g->title.bottom;
    }
    const bool left_band = (flags & (kLimits | kLeftCaption)) != 0;
    const bool bottom_band = (flags & (kBottomBand | kCaption)) != 0;
    int left_edge = left_band ? L + W / 17 : L + 5;
    g->left = left_band ? RECT{int16_t(L), int16_t(top), int16_t(L + W / 17), 0} : RECT{};
    const int v_lines = def[f::kVLines], h_lines = def[f::kHLines];
    g->tick = 1;
    if (v_lines >= 2 || h_lines >= 2) g->tick = int16_t(std::max(1, std::min(H / 35, W / 35)));
    int bottom_edge = layout_bottom - 5;
    g->bottom = RECT{};
    if (bottom_band) {
        // As high as the left caption's lines in the scale font, one line at least.
        const int fh = font_height(dc, def[f::kScaleFont]);
        const int lines = std::max(1, text_lines(obj::Text(le32(def + f::kLeftCaption))));
        g->bottom =
            RECT{int16_t(left_band ? left_edge : L + 5), int16_t(layout_bottom - lines * fh),
                 int16_t(R - 5), int16_t(layout_bottom)};
        bottom_edge = g->bottom.top - 1;
    }
    if (h_lines >= 2) {
        left_edge += g->tick;
        g->left.right = int16_t(g->left.right - g->tick);
        if (bottom_band) g->bottom.left = int16_t(g->bottom.left + g->tick);
    }
    if (v_lines >= 2) bottom_edge -= g->tick;
    g->plot = RECT{int16_t(left_edge + 1), int16_t(top), int16_t(R - 5), int16_t(bottom_edge - 1)};
    if (g->plot.right < g->plot.left) g->plot.right = g->plot.left;
    if (g->plot.bottom < g->plot.top) g->plot.bottom = g->plot.top;
    g->left.bottom = g->plot.bottom;
    g->plot_h = uint16_t(g->plot.bottom - g->plot.top);
    g->plot_w = uint16_t(g->plot.right - g->plot.left);

    if (keys && g->block) {
        const int k_top = H > 48 ? B - 25 : T, k_bottom = B - 4;
        static constexpr int kPlace[kKeyCount] = {0, 1, 2, 2, 3, 4, 5};
        for (int k = 0; k < kKeyCount; ++k) {
            const int right = R - 4 - 44 * kPlace[k];
            g->block->keys[k].rect =
                RECT{int16_t(right - 40), int16_t(k_top), int16_t(right), int16_t(k_bottom)};
        }
    }
}

// The signed scale's zero row and how the ring bytes span the plot.
void lay_scale(const uint8_t *def, GraphInst *g) {
    const int low = lo16(field32(def, f::kLow)), high = lo16(field32(def, f::kHigh));
    g->crosses = (g->gflags & kSigned) && low < 0 && high >= 0;
    g->zero_row = g->plot.bottom;
    if (g->crosses) g->zero_row = int16_t(g->plot.top + high * g->plot_h / (high - low));
    g->scale_h = std::min<uint16_t>(g->plot_h, kMaxScale);
    g->scale_up = g->scale_h;
    if (g->crosses && g->plot_h)
        g->scale_up = uint16_t((g->zero_row - g->plot.top) * g->scale_h / g->plot_h);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *g = reinterpret_cast<GraphInst *>(inst);
    const Shape s = shape_of(def);
    DC *dc = inst->dc;
    std::memset(reinterpret_cast<uint8_t *>(g) + sizeof(ObjInst), 0,
                sizeof(GraphInst) - sizeof(ObjInst));
    inst->dc = dc;
    g->whole = s.whole ? 1 : 0;
    if (!g->whole) {
        inst->state = 0;
        return int16_t(s.total);
    }
    const uint32_t flags = le32(def + rec::kFlags);
    g->pens = s.pens;
    g->gflags = s.gflags;
    g->ext = s.ext;
    g->ext_flags = s.ext_flags;
    g->ring_len = s.ring_len;
    uint8_t *base = reinterpret_cast<uint8_t *>(g) + align4(sizeof(GraphInst));
    if (g->gflags & kArray) {
        g->rows = base;
    } else {
        g->header = base;
        g->rows = base + kHeaderBytes;
    }
    std::memset(base, 0, s.ring_bytes);
    if (s.block_at) {
        g->block = reinterpret_cast<GraphBlock *>(reinterpret_cast<uint8_t *>(g) + s.block_at);
        std::memset(static_cast<void *>(g->block), 0, kBlockBytes);
    }
    lay_out(def, g, dc);
    lay_scale(def, g);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    inst->state = (flags & objflag::kVisible) ? kInstShown : 0;

    g->restart = g->first = g->gap_written = 1;
    g->running = 0;
    g->drawn = 0;
    g->drawn_index = 0;
    g->run = obj::LinkReg(le16(def + f::kRun), def[f::kRunSize]);
    if (le16(def + rec::kStateLink)) {
        g->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    const int old_pack = (g->gflags & kArray) && g_hooks.pack_regs ? g_hooks.pack_regs(0) : 0;
    for (int p = 0; p < g->pens; ++p) {
        const uint8_t *pen = def + f::kPenList + f::kPenBytes * p;
        g->pen[p] = obj::LinkReg(le16(pen + 4), (g->gflags & kArray) ? 222 : pen[6]);
    }
    if ((g->gflags & kArray) && g_hooks.pack_regs) g_hooks.pack_regs(old_pack);
    if (g->ext_flags & kPeriodReg) g->period_reg = obj::LinkReg(le16(def + f::kPeriod), 16);
    read_period(def, g);

    if (g->header && (g->gflags & kBbram) && g_hooks.alloc_bbr) {
        g->bbr = ring_place(def, uint32_t(s.ring_bytes));
        if (g_hooks.read_bbr) g_hooks.read_bbr(base, g->bbr, uint32_t(s.ring_bytes));
        if (!take_header(g, g->header) && !take_header(g, g->header + 6)) g->index = g->count = 0;
        // What was not sampled while the page was closed or the panel off
        // shows as a gap.
        write_gap(g);
        LogFileBusy = 0;
    }
    if (g->block) {
        g->block->log.pens = g->pens;
        g->block->log.row_length = uint16_t(g->pens * 7 + 23);
        if (g->ext_flags & kKeys) {
            for (GraphKey &k : g->block->keys)
                k.state = kKeyDisabled;
            g->block->keys[kPlay].state = kKeyNormal;
            g->block->keys[kPause].state = kKeyNormal;
            g->block->mode = kModeLive;
            g->block->key_change = 0x7F;
        }
    }
    return int16_t(s.total);
}

// A pen's value as a ring byte.
uint8_t scale(const uint8_t *def, const GraphInst *g, int32_t v) {
    const int bits = def[f::kPenList + 6];
    const int low = lo16(field32(def, f::kLow)), high = lo16(field32(def, f::kHigh));
    int res;
    if ((g->gflags & kSigned) && low < 0) {
        if (high < 0) {
            res = UTIL_S16Scale(v, bits, high, low, g->scale_h);
        } else if (int16_t(v) < 0) {
            const int down = g->scale_h - g->scale_up;
            res = int16_t(UTIL_S16Scale(v, bits, 0, low, down));
            // The low limit is drawn one row inside the plot.
            if (uint8_t(res) == uint8_t(-down)) ++res;
        } else {
            res = UTIL_S16Scale(v, bits, high, 0, g->scale_up);
        }
    } else {
        res = UTIL_U16Scale(v, bits, high, low, g->scale_h);
    }
    uint8_t b = uint8_t(res);
    if (b == 0) b = 1;
    if (b == 255) b = 254;
    return b;
}

void log_sample(const uint8_t *def, GraphInst *g) {
    TrendLogRec &log = g->block->log;
    // Seconds, minutes, hours, day, month, year.
    for (int i = 0; i < 6; ++i)
        log.clock[i] = uint8_t(sr_get(sr::kClock + i));
    log.clock[5] = uint8_t(sr_get(sr::kClock + 5) % 100);
    log.name = g->ext ? le32(g->ext + 12) : 0;
    log.unit = def[f::kUnit];
    const int per_buffer = log.row_length ? std::max(1, kTrendRowBuffer / log.row_length) : 1;
    if (++log.rows > per_buffer) {
        log.rows = 1;
        ++log.wraps;
    }
    const int added = LoadTrendEventsToBuffer(&log);
    log.fill = uint16_t(std::clamp(log.fill + added, 0, per_buffer * int(log.row_length)));
}

void take_sample(const uint8_t *def, GraphInst *g) {
    if (!g->gap_written) {
        write_gap(g);
        g->gap_written = 1;
    }
    for (int p = 0; p < g->pens; ++p) {
        uint8_t raw[4];
        obj::ReadReg(g->pen[p], raw, 4);
        const int32_t v = int32_t(le32(raw));
        put_byte(g, p, scale(def, g, v));
        if (g->ext_flags & kLog) g->block->log.value[p] = v;
    }
    if (g->ext_flags & kLog) log_sample(def, g);
    advance(g);
}

// One block of 15 registers of each pen in array mode.
void read_block(const uint8_t *def, GraphInst *g) {
    const int low = lo16(field32(def, f::kLow)), high = lo16(field32(def, f::kHigh));
    for (int p = 0; p < g->pens; ++p) {
        uint8_t raw[2 * kArrayBlock];
        obj::ReadReg(g->pen[p], raw, sizeof raw);
        for (int j = 0; j < kArrayBlock; ++j) {
            uint8_t b =
                uint8_t(UTIL_U16Scale(int16_t(le16(raw + 2 * j)), 16, high, low, g->scale_h));
            if (b == 0) b = 1;
            if (b == 255) b = 254;
            pen_row(g, p)[j] = b;
        }
        if (g_hooks.mod_link) g_hooks.mod_link(g->pen[p], ((g->drawn + kArrayBlock) & 0xFFF) * 16);
    }
    g->block_ready = 1;
}

void rewind_arrays(GraphInst *g) {
    for (int p = 0; p < g->pens; ++p)
        if (g_hooks.mod_link) g_hooks.mod_link(g->pen[p], 0);
}

// The newest plot-width samples are drawn again from the plot's left edge.
uint16_t restart_drawing(GraphInst *g) {
    g->drawn = 0;
    if (g->gflags & kArray) {
        rewind_arrays(g);
        g->block_ready = 0;
        g->sweep_done = 0;
        return objmsg::kRepaint;
    }
    const uint16_t back = std::min<uint16_t>(g->count, g->plot_w);
    g->drawn_index = uint16_t((g->index + g->ring_len - back) % g->ring_len);
    return back ? objmsg::kRepaint : 0;
}

uint16_t update(const uint8_t *def, GraphInst *g, uint32_t force) {
    ObjInst *inst = &g->hdr;
    uint16_t r = obj::StateUpdate(def, inst, g->state, f::kLength, 0, nullptr, nullptr, true);
    const bool redraw = (r & objmsg::kShow) || force;

    // Resume with the run register already on; the log channel's step.
    if (g->first) {
        g->first = 0;
        if ((g->gflags & kResume) && obj::Read8(g->run)) {
            g->running = 1;
            g->restart = 1;
        }
        if (g->ext_flags & kLog) TrendLogToCF_Start(&g->block->log);
    }
    if (g->ext_flags & kLog) TrendLogToCF_Scanner(&g->block->log);

    if (redraw) return r | restart_drawing(g);
    if (!g_hooks.run_mode || g_hooks.run_mode() == 0) {
        g->gap_written = 0; // the next sample follows a gap
        g->restart = 1;
        return r;
    }
    const bool on = obj::Read8(g->run) != 0;
    if (!g->running && on) {
        g->drawn = 0;
        g->drawn_index = g->index = g->count = 0;
        g->gap_written = g->running = g->restart = 1;
        if (g->period_reg) read_period(def, g);
        g->block_ready = g->sweep_done = 0;
        write_header(g); // index and count 0: an empty ring after a restart too
        r |= objmsg::kRepaint;
    } else if (g->running && !on) {
        g->running = 0;
        if (g->gflags & kArray) rewind_arrays(g);
    }
    if (!on) return r;

    if (g->gflags & kArray) {
        if (!g->block_ready && !g->sweep_done) {
            read_block(def, g);
            r |= objmsg::kRepaint;
        }
        return r;
    }
    if (g->drawn >= g->plot_w && !(g->gflags & kScroll)) return r;
    const uint16_t now = g_hooks.tic ? *g_hooks.tic : 0;
    bool due;
    if (g->restart) {
        g->restart = 0;
        g->elapsed = 0;
        due = true;
    } else {
        g->elapsed += uint16_t(now - g->last_tic);
        due = g->elapsed >= g->period;
        if (due) g->elapsed = 0;
    }
    g->last_tic = now;
    if (!due) return r;
    take_sample(def, g);
    write_header(g);
    return r | objmsg::kRepaint;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *g = reinterpret_cast<GraphInst *>(inst);
    if (!g->whole) return 0;
    if (msg == objmsg::kUpdate) return update(def, g, arg);
    return 0;
}

void destroy(const uint8_t *, ObjInst *) {}

} // namespace

void GRAPH_SetHooks(const GraphHooks &hooks) {
    g_hooks = hooks;
}

void GRAPH_ForgetRings() {
    g_rings = Rings{};
}

void GRAPH_Reset() {
    g_rings = Rings{};
}

const ObjClass GRAPH_Class{rec::graph::kLength,      create, graph::Paint, signal, destroy,
                           sizeof(graph::GraphInst), need};
