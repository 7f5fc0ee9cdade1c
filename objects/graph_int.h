// The trend graph's instance, shared by its record and sampling side
// (graph.cpp) and its drawing side (graph_draw.cpp). Private to the class.
#pragma once
#include "base/le.h"
#include "base/utc_time.h"
#include "data/data.h"
#include "objects/graph.h"
#include "objects/obj_int.h"

#include <cstddef>
#include <cstdint>

namespace graph {

// Record flags.
constexpr uint32_t kFrame = 0x4, kBottomBand = 0x10, kLimits = 0x20, kCaption = 0x40,
                   kLeftCaption = 0x80, kTitle = 0x800;
// Graph flags.
constexpr uint8_t kArray = 0x1, kResume = 0x2, kScroll = 0x4, kBbram = 0x8, kExtension = 0x10,
                  kSigned = 0x80;
// Extension flags.
constexpr uint32_t kGrid = 0x1, kPeriodReg = 0x2, kLog = 0x4, kKeys = 0x8, kCursor = 0x10;

constexpr int kMaxPens = 4;
constexpr int kArrayBlock = 15; // registers a pen reads per pass in array mode
constexpr uint8_t kGapByte = 0xFF;
constexpr size_t kHeaderBytes = 12;
constexpr uint16_t kMaxScale = 254; // ring bytes hold at most this many pixels

// The playback keys, in this order; "Play" and "Pause" share a place.
enum Key { kFastFwd, kFwd, kPlay, kPause, kBack, kFastBack, kOpen, kKeyCount };
constexpr uint8_t kKeyNormal = 0, kKeyPressed = 1, kKeyDisabled = 2;
constexpr uint8_t kModeLive = 3, kModePlayback = 2;

struct GraphKey {
    RECT rect; // exclusive
    uint8_t state, style;
};

// The log and key block: the trend log channel's record, then the keys.
struct GraphBlock {
    TrendLogRec log;
    GraphKey keys[kKeyCount];
    uint8_t mode;       // kModeLive or kModePlayback
    uint8_t key_change; // keys to redraw: 0x1 ">", 0x2 "<", 0x4 "<<", 0x8 ">>", 0x10 "Play",
                        // 0x20 "Pause", 0x40 "Open"
    uint8_t popup;      // the trend pop-up is asked for
    uint8_t cursor_allowed;
    int16_t cursor_x;
    uint8_t read_key, play_flags;
    void *history;
};
constexpr size_t kBlockBytes = 1176;
static_assert(sizeof(GraphBlock) <= kBlockBytes);

struct GraphInst {
    ObjInst hdr;
    RECT title, bottom, left; // bands, exclusive
    UtcDate start, end;       // the playback window
    // The plot: columns left .. right - 1, sample rows top .. bottom - 1; the
    // bottom row is the horizontal axis.
    RECT plot;
    int16_t zero_row; // row of value 0 on a signed scale crossing it, else the plot bottom
    int16_t tick;     // grid tick length, at least 1
    uint16_t plot_h, plot_w;
    uint16_t scale_h;  // pixels a ring byte spans: the plot height, at most kMaxScale
    uint16_t scale_up; // of them, above the zero row
    RCB *run, *pen[kMaxPens], *state, *period_reg;
    uint8_t whole; // the record is usable
    uint8_t pens, gflags;
    uint8_t crosses; // a signed scale crossing 0
    uint8_t running, first, restart, prev_valid, gap_written;
    uint8_t block_ready, sweep_done; // array mode
    uint16_t last_tic;
    uint32_t elapsed, period; // ticks of 10 ms
    uint8_t phase[kMaxPens];
    int16_t last_row[kMaxPens];
    uint16_t sweep_col;
    uint32_t bbr; // ring offset in bbram; 0 none
    int16_t drawn;
    uint16_t drawn_index;
    uint16_t ring_len, index, count;
    uint32_t ext_flags;
    const uint8_t *ext; // the extension record, null without one
    GraphBlock *block;  // the log and key block, null without one
    void *playback;
    uint8_t *header; // the ring header (12 bytes; null in array mode)
    uint8_t *rows;   // ring_len bytes per pen
};

// A 32-bit field of the record, 0 when the record ends before it: the class
// record is 56 bytes long while its scale bounds and captions reach to 68.
inline uint32_t field32(const uint8_t *def, size_t at) {
    return obj::Holds(def, at, 4) ? le32(def + at) : 0;
}

inline uint8_t *pen_row(const GraphInst *g, int pen) {
    return g->rows + size_t(pen) * g->ring_len;
}

// The pixel row of a ring byte of the plot.
inline int row_of(const GraphInst *g, uint8_t b) {
    const int h = g->plot_h, s = g->scale_h ? g->scale_h : 1;
    if (g->crosses && b > g->scale_up) return g->zero_row + (256 - b) * h / s;
    return g->zero_row - b * h / s;
}

// Drawing (graph_draw.cpp).
void Paint(const uint8_t *def, ObjInst *inst, int mode);

} // namespace graph
