// GRAPH objects, drawing: the frame with its captions, scale texts, axes,
// ticks, key row and dotted grid; the live curves drawn column by column into
// the shared memory context and copied to the screen, so that a new sample
// costs one line and one pixel per pen (and a one-column scroll once the plot
// is full); and the array sweep.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/graph_int.h"
#include "objects/records.h"
#include "platform/video.h"

#include <algorithm>
#include <cstdio>

namespace graph {
namespace {

namespace f = rec::graph;

constexpr COLOR kKeyFace = 0xC638, kKeyGrey = 0x7BEF, kKeyText = 0x0000;
constexpr int kAlignLeft = 1, kAlignRight = 2, kAlignCentre = 4, kAlignTop = 16, kAlignMiddle = 32;
const char *const kKeyNames[kKeyCount] = {">>", ">", "Play", "Pause", "<", "<<", "Open"};

COLOR fore_of(const uint8_t *def) {
    return le16(def + f::kFore);
}
COLOR back_of(const uint8_t *def) {
    return le16(def + f::kBack);
}
// A font of the extension record (byte `at` of it), else the scale font.
int font_of(const uint8_t *def, const GraphInst *g, int at) {
    return g->ext ? g->ext[at] : def[f::kScaleFont];
}

void text_in(DC *dc, int flags, const RECT &r, const void *text) {
    if (!text) return;
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectTextOut(dc, flags, &r, text);
}

// A text of our own, as the rectangle output takes texts: one line,
// counted by the byte before it.
void bytes_in(DC *dc, int flags, const RECT &r, const char *text) {
    char counted[64];
    counted[0] = 1;
    std::snprintf(counted + 1, sizeof counted - 1, "%s", text);
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectByteTextOut(dc, flags, &r, counted + 1);
}

// A scale text centred in the left band (at least one pixel in from its
// left edge), moved right by the tick, its top at `y`.
void limit_text(DC *dc, const GraphInst *g, int y, long value) {
    char s[24];
    std::snprintf(s, sizeof s, "%ld", value);
    int w = 0, h = 0;
    GDI_ByteTextExtent(dc, s, &w, &h);
    const int x = std::max<int>(g->left.left + 1, (g->left.left + g->left.right - w) / 2) + g->tick;
    bytes_in(dc, kAlignLeft | kAlignTop,
             RECT{int16_t(x), int16_t(y), int16_t(x + w), int16_t(y + h)}, s);
}

// The time the grid spans, right-aligned in the bottom band.
void span_text(const uint8_t *def, const GraphInst *g, DC *dc) {
    const long samples = le16(def + f::kSamples);
    const int lines = def[f::kVLines];
    // Fewer than 2 lines divide nothing: the span is the whole plot.
    const long used = lines >= 2 ? samples / (lines - 1) * (lines - 1) : samples;
    const long long ticks = (long long)used * g->period;
    long long v = ticks;
    const char *unit = "10's mSec";
    switch (field32(def, f::kRightText)) {
    case 1:
        v = ticks * 10, unit = "mSec";
        break;
    case 2:
        v = ticks / 100, unit = "Sec";
        break;
    case 3:
        v = ticks / 6000, unit = "Min";
        break;
    case 4:
        v = ticks / 360000, unit = "Hrs";
        break;
    case 5:
        v = ticks / 8640000, unit = "Days";
        break;
    default:
        break;
    }
    char s[48];
    std::snprintf(s, sizeof s, "           %lld %s", v, unit);
    bytes_in(dc, kAlignRight | kAlignMiddle, g->bottom, s);
}

void draw_key(DC *dc, const GraphInst *g, int k, bool pressed) {
    const GraphKey &key = g->block->keys[k];
    const RECT &r = key.rect;
    GDI_SetPen(dc, kPenSolid, 1, 0x0000);
    GDI_SetFillColor(dc, kKeyFace);
    if (key.state == kKeyDisabled) {
        GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
        GDI_SetTextColor(dc, kKeyGrey);
    } else {
        UTIL_Button(dc, &r, pressed || key.state == kKeyPressed);
        GDI_SetTextColor(dc, kKeyText);
    }
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    bytes_in(dc, kAlignCentre | kAlignMiddle, r, kKeyNames[k]);
}

// The key row as the block's mode shows it: "Pause" live, "Play" (pressed)
// in playback, in their shared place.
void draw_keys(DC *dc, const GraphInst *g) {
    const bool live = g->block->mode != kModePlayback;
    for (int k = 0; k < kKeyCount; ++k) {
        if (k == (live ? kPlay : kPause)) continue;
        draw_key(dc, g, k, k == kPlay);
    }
}

int tick_x(const GraphInst *g, int k, int lines) {
    return g->plot.left - 1 + k * g->plot_w / (lines - 1);
}
int tick_y(const GraphInst *g, int k, int lines) {
    return g->plot.bottom - k * g->plot_h / (lines - 1);
}

void line(DC *dc, int x1, int y1, int x2, int y2) {
    GDI_MoveTo(dc, x1, y1);
    GDI_LineTo(dc, x2, y2);
}

// The dotted grid across the plot at the tick positions, over the
// background only.
void draw_grid(const uint8_t *def, const GraphInst *g, DC *dc) {
    if (!(g->ext_flags & kGrid)) return;
    const int v_lines = def[f::kVLines], h_lines = def[f::kHLines];
    // The over-fill pen draws its dots only on pixels of the fill colour.
    GDI_SetPen(dc, kPenOverFill, 1, fore_of(def));
    GDI_SetFillColor(dc, back_of(def));
    const RECT &p = g->plot;
    for (int k = 1; v_lines >= 2 && k < v_lines; ++k) {
        const int x = tick_x(g, k, v_lines);
        if (x >= p.left && x < p.right) line(dc, x, p.top, x, p.bottom);
    }
    for (int k = 1; h_lines >= 2 && k < h_lines; ++k) {
        const int y = tick_y(g, k, h_lines);
        if (y >= p.top && y < p.bottom) line(dc, p.left, y, p.right, y);
    }
}

void paint_frame(const uint8_t *def, GraphInst *g, DC *dc) {
    const uint32_t flags = le32(def + rec::kFlags);
    const COLOR fore = fore_of(def);
    const RECT r = obj::Rect(def);
    GDI_SetPen(dc, (flags & kFrame) ? kPenSolid : kPenNone, 1, fore);
    GDI_SetFillColor(dc, back_of(def));
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    GDI_SetTextColor(dc, fore);
    if (flags & kTitle) {
        GDI_SelectFont(dc, def[f::kTitleFont], nullptr, nullptr);
        text_in(dc, def[f::kTitleAlign], g->title, obj::Text(le32(def + f::kTitle)));
    }
    if (flags & kLeftCaption) {
        GDI_SelectFont(dc, font_of(def, g, 8), nullptr, nullptr);
        RECT band = g->left;
        band.left = int16_t(band.left + 1 + g->tick);
        band.right = int16_t(band.right + g->tick);
        text_in(dc, kAlignCentre | kAlignMiddle, band, obj::Text(le32(def + f::kLeftCaption)));
    }
    if (flags & kBottomBand) {
        GDI_SelectFont(dc, font_of(def, g, 9), nullptr, nullptr);
        text_in(dc, kAlignLeft | kAlignMiddle, g->bottom,
                obj::Text(field32(def, f::kBottomCaption)));
        if (g->ext_flags & kPeriodReg)
            span_text(def, g, dc);
        else
            text_in(dc, kAlignRight | kAlignMiddle, g->bottom,
                    obj::Text(field32(def, f::kRightText)));
    }
    if (flags & kCaption) {
        GDI_SelectFont(dc, def[f::kScaleFont], nullptr, nullptr);
        text_in(dc, kAlignCentre | kAlignMiddle, g->bottom, obj::Text(le32(def + f::kCaption)));
    }
    if (flags & kLimits) {
        int fh = 0;
        GDI_SelectFont(dc, font_of(def, g, 10), nullptr, &fh);
        limit_text(dc, g, g->plot.top, int32_t(field32(def, f::kHigh)));
        limit_text(dc, g, g->plot.bottom - fh, int32_t(field32(def, f::kLow)));
        if (g->crosses) limit_text(dc, g, g->zero_row - fh / 2, 0);
    }
    const RECT &p = g->plot;
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, kPenSolid, 1, fore);
    line(dc, p.left - 1, p.top, p.left - 1, p.bottom + 1);
    GDI_SetPen(dc, g->crosses ? kPenDashed : kPenSolid, 1, fore);
    line(dc, p.left - 1, p.bottom, p.right, p.bottom);
    GDI_SetPen(dc, kPenSolid, 1, fore);
    if (g->crosses) line(dc, p.left, g->zero_row, p.right, g->zero_row);
    const int v_lines = def[f::kVLines], h_lines = def[f::kHLines];
    for (int k = 0; v_lines >= 2 && k < v_lines; ++k) {
        const int x = tick_x(g, k, v_lines);
        line(dc, x, p.bottom + 1, x, p.bottom + 1 + g->tick);
    }
    for (int k = 0; h_lines >= 2 && k < h_lines; ++k) {
        const int y = tick_y(g, k, h_lines);
        line(dc, p.left - 2, y, p.left - 2 - g->tick, y);
    }
    if (g->block && (g->ext_flags & kKeys)) draw_keys(dc, g);
    draw_grid(def, g, dc);
}

// The plot's background in the memory context, columns x0 .. x1 - 1, with
// the zero line of a signed scale.
void clear_columns(const uint8_t *def, const GraphInst *g, DC *m, int x0, int x1) {
    GDI_SetPen(m, kPenNone, 1, 0);
    GDI_SetFillColor(m, back_of(def));
    GDI_Rectangle(m, x0, g->plot.top, x1, g->plot.bottom);
    if (g->crosses) {
        GDI_SetPen(m, kPenSolid, 1, fore_of(def));
        line(m, x0, g->zero_row, x1, g->zero_row);
    }
}

void paint_live(const uint8_t *def, GraphInst *g, DC *dc) {
    DC *m = pMemDC && pMemDC->buffer ? pMemDC : dc;
    const RECT &p = g->plot;
    const int w = g->plot_w;
    GDI_SetClipRect(m, &p, nullptr);
    if (g->drawn == 0) {
        clear_columns(def, g, m, p.left, p.right);
        for (int n = 0; n < kMaxPens; ++n)
            g->phase[n] = 0x80;
        g->prev_valid = 0;
    }
    if (g->block && (g->ext_flags & kKeys) && g->block->key_change) {
        // Bits of the key-change byte, by key.
        static constexpr uint8_t kBit[kKeyCount] = {0x8, 0x1, 0x10, 0x20, 0x2, 0x4, 0x40};
        for (int k = 0; k < kKeyCount; ++k) {
            if (!(g->block->key_change & kBit[k])) continue;
            if (k == kPause && g->block->mode != kModeLive) continue;
            if (k == kPlay && g->block->mode == kModeLive) continue;
            GDI_SetClipRect(dc, &g->block->keys[k].rect, nullptr);
            draw_key(dc, g, k, k == kPlay);
        }
        g->block->key_change = 0;
        const RECT all = obj::Rect(def);
        GDI_SetClipRect(dc, &all, nullptr);
    }
    int n = (g->index + g->ring_len - g->drawn_index) % g->ring_len;
    if (g->gflags & kScroll) {
        // Only the newest plot-width columns can show; older ones are skipped.
        if (n > w) {
            g->drawn_index = uint16_t((g->drawn_index + n - w) % g->ring_len);
            n = w;
            g->prev_valid = 0;
        }
        const int shift = g->drawn + n - w;
        if (shift > 0) {
            if (w > shift)
                GDI_BitBlt(m, p.left, p.top, w - shift, g->plot_h, m, p.left + shift, p.top);
            clear_columns(def, g, m, p.right - shift, p.right);
            g->drawn = int16_t(g->drawn - shift);
        }
    }
    GDI_SetFillColor(m, kColorNone);
    for (; n > 0; --n) {
        const int i = g->drawn_index;
        g->drawn_index = uint16_t((i + 1) % g->ring_len);
        if (g->drawn >= w) continue; // a full plot that does not scroll
        const int x = p.left + g->drawn;
        ++g->drawn;
        if (g->pens == 0) continue;
        if (pen_row(g, 0)[i] == kGapByte) {
            GDI_SetPen(m, kPenDotted, 1, fore_of(def));
            line(m, x, p.top, x, p.bottom);
            g->prev_valid = 0;
            continue;
        }
        for (int pen = 0; pen < g->pens; ++pen) {
            const uint8_t *rec = def + f::kPenList + f::kPenBytes * pen;
            const COLOR colour = le16(rec);
            const int style = le16(rec + 2);
            const int row = row_of(g, pen_row(g, pen)[i]);
            if (style != kPenNone) {
                GDI_SetPen(m, style, 1, colour);
                if (g->prev_valid) {
                    // The pen's pattern goes on from where its last segment ended.
                    GDI_MoveTo(m, x - 1, g->last_row[pen]);
                    m->pattern_mask = g->phase[pen];
                    GDI_LineTo(m, x, row);
                    g->phase[pen] = m->pattern_mask;
                }
                GDI_SetPixel(m, x, row, colour);
            }
            g->last_row[pen] = int16_t(row);
        }
        g->prev_valid = 1;
    }
    if (m != dc) GDI_BitBlt(dc, p.left, p.top, w, g->plot_h, m, p.left, p.top);
}

void paint_sweep(const uint8_t *def, GraphInst *g, DC *dc) {
    if (!g->block_ready) return;
    const RECT &p = g->plot;
    const int samples = std::min<int>(le16(def + f::kSamples), 4096);
    if (g->drawn == 0) {
        GDI_SetPen(dc, kPenNone, 1, 0);
        GDI_SetFillColor(dc, back_of(def));
        GDI_Rectangle(dc, p.left, p.top, p.right, p.bottom);
    }
    GDI_SetFillColor(dc, kColorNone);
    const int first = g->drawn, end = std::min(first + kArrayBlock, samples);
    int x = g->sweep_col;
    for (int pen = 0; pen < g->pens; ++pen) {
        const uint8_t *rec = def + f::kPenList + f::kPenBytes * pen;
        GDI_SetPen(dc, le16(rec + 2), 1, le16(rec));
        int px = first == 0 ? p.left - 1 : g->sweep_col, py = g->last_row[pen];
        for (int j = first; j < end; ++j) {
            // With fewer than 2 points there is no span to divide: one column.
            x = samples < 2 ? p.left : p.left - 1 + j * g->plot_w / (samples - 1);
            const int row =
                p.bottom - pen_row(g, pen)[j - first] * g->plot_h / std::max<int>(1, g->scale_h);
            if (j == 0)
                GDI_MoveTo(dc, x, row);
            else
                line(dc, px, py, x, row);
            if (j == samples - 1) GDI_SetPixel(dc, x, row, le16(rec));
            px = x;
            py = row;
        }
        g->last_row[pen] = int16_t(py);
    }
    g->sweep_col = uint16_t(x);
    if (end >= samples) {
        g->drawn = int16_t(g->plot_w);
        g->sweep_done = 1;
    } else {
        g->drawn = int16_t(end);
    }
    g->block_ready = 0;
}

} // namespace

void Paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *g = reinterpret_cast<GraphInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !g->whole) return;
    if (mode & 1) paint_frame(def, g, dc);
    if (mode & 2) {
        if (g->gflags & kArray)
            paint_sweep(def, g, dc);
        else
            paint_live(def, g, dc);
        draw_grid(def, g, dc);
    }
}

} // namespace graph
