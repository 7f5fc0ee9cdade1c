// Video driver over the frame buffer.
#include "base/le.h"
#include "base/trace.h"
#include "host/fb.h"
#include "platform/jpeg.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "pixel pairs are addressed as little-endian words");

uint32_t *pCurrentMem;
uint8_t fPxpEnable;

const uint32_t off_mask[2] = {0x0000FFFF, 0xFFFF0000};
const uint32_t len_mask[3] = {0, 0x0000FFFF, 0xFFFFFFFF};
// clang-format off
const COLOR convert[16] = {0x0000, 0x000F, 0x03E0, 0x03EF, 0x7800, 0x780F, 0x7BE0, 0x7BEF,
                           0xC618, 0x001F, 0x07E0, 0x07FF, 0xF800, 0xF81F, 0xFFE0, 0xFFFF};
// clang-format on

COLOR convert8to16(uint8_t index) {
    if (index == 219) return 0xC618;
    unsigned r = index >> 5, g = (index >> 2) & 7, b = index & 3;
    r = r == 7 ? 31 : r * 4;
    g = g == 7 ? 63 : g * 8;
    b = b == 3 ? 31 : b * 8;
    return COLOR(r << 11 | g << 5 | b);
}

uint32_t ROP_Not(uint32_t d, uint32_t, uint32_t m) {
    return d ^ m;
}
uint32_t ROP_Xor(uint32_t d, uint32_t c, uint32_t m) {
    return d ^ (c & m);
}
uint32_t ROP_And(uint32_t d, uint32_t c, uint32_t m) {
    return d & (c | ~m);
}
uint32_t ROP_Copy(uint32_t d, uint32_t c, uint32_t m) {
    return (d & ~m) | (c & m);
}
uint32_t ROP_NotCopy(uint32_t d, uint32_t c, uint32_t m) {
    return (d & ~m) | (~c & m);
}
uint32_t ROP_Or(uint32_t d, uint32_t c, uint32_t m) {
    return d | (c & m);
}
uint32_t ROP_NotOr(uint32_t d, uint32_t c, uint32_t m) {
    return d | (~c & m);
}

namespace {
const RopFn kRops[8] = {nullptr,  ROP_Not,     ROP_Xor, ROP_And,
                        ROP_Copy, ROP_NotCopy, ROP_Or,  ROP_NotOr};

// The download image buffer's size: the bitmaps of a page are unpacked there.
constexpr uint32_t kBmpMemBytes = 0x1A00000;
constexpr int kPageUpdateThreshold = 3500;

struct Vdr {
    int fd = -1;
    uint8_t *fb = nullptr;
    size_t fb_len = 0;
    bool ready = false;
    int width = 0, height = 0, words_per_row = 0;
    int kernel_build = 0;
    uint32_t *frames[6] = {};
    std::vector<uint32_t> page1, page2, work;
    std::vector<uint8_t> capture, view, scratch;
    std::vector<uint32_t> line; // a source row of a block copy within one buffer
    int rop_mode = 4;
    bool fast = true; // the fast paths below the drawing layer
    int page_update_threshold = 0;
    std::unique_ptr<uint8_t[]> bmp_mem;
    uint32_t bmp_used = 0;
};
Vdr g;

// The kernel build of the revision text that start-up keeps in %SR201-%SR205.
int kernel_build() {
    return int16_t((sr_get(sr::kKernelRev + 3) >> 8) * 10 + sr_get(sr::kKernelRev + 4) - 528);
}

inline uint32_t pair(COLOR c) {
    return uint32_t(c) * 0x10001u;
}

// Stores `n` copies of a word: whole rows at memset speed.
static_assert(sizeof(wchar_t) == sizeof(uint32_t), "rows are filled as wide characters");
void fill_words(uint32_t *w, size_t n, uint32_t value) {
    std::wmemset(reinterpret_cast<wchar_t *>(w), wchar_t(value), n);
}

inline bool inside(int x, int y) {
    return unsigned(x) < unsigned(g.width) && unsigned(y) < unsigned(g.height);
}

inline uint32_t *word_at(uint32_t *buffer, int x, int y) {
    return buffer + x / 2 + size_t(g.words_per_row) * size_t(y);
}

inline COLOR pixel_of(const uint32_t *buffer, int x, int y) {
    return COLOR(buffer[x / 2 + size_t(g.words_per_row) * size_t(y)] >> (16 * (x & 1)));
}

// Byte address of a pixel, for the copies that bypass the combiner.
inline uint8_t *byte_at(uint32_t *buffer, int x, int y) {
    return reinterpret_cast<uint8_t *>(buffer) + 2 * (size_t(y) * size_t(g.width) + size_t(x));
}

void put_raw(uint32_t *buffer, int x, int y, COLOR c) {
    std::memcpy(byte_at(buffer, x, y), &c, 2);
}

// A region of a bitmap or block drawn at x, y from source column sx, row sy.
struct Region {
    int x, y, w, h, sx, sy;
};

// Keeps the destination inside [left..right] x [top..bottom], moving the
// source with a clipped leading edge.
bool clip_dest(Region &r, int left, int top, int right, int bottom) {
    if (r.x < left) {
        r.sx += left - r.x;
        r.w -= left - r.x;
        r.x = left;
    }
    if (r.x + r.w - 1 > right) r.w = right - r.x + 1;
    if (r.y < top) {
        r.sy += top - r.y;
        r.h -= top - r.y;
        r.y = top;
    }
    if (r.y + r.h - 1 > bottom) r.h = bottom - r.y + 1;
    return r.w > 0 && r.h > 0;
}

// Keeps the source inside [0, cols) x [0, rows), moving the destination.
bool clip_source(Region &r, int cols, int rows) {
    if (r.sx < 0) {
        r.x -= r.sx;
        r.w += r.sx;
        r.sx = 0;
    }
    if (r.sx + r.w > cols) r.w = cols - r.sx;
    if (r.sy < 0) {
        r.y -= r.sy;
        r.h += r.sy;
        r.sy = 0;
    }
    if (r.sy + r.h > rows) r.h = rows - r.sy;
    return r.w > 0 && r.h > 0;
}

// Two consecutive source pixels from pixel index p of a row (p + 1 must exist).
inline uint32_t source_pair(const uint32_t *row, int p) {
    if (!(p & 1)) return row[p / 2];
    return row[p / 2] >> 16 | row[p / 2 + 1] << 16;
}
inline uint32_t source_pixel(const uint32_t *row, int p) {
    return row[p / 2] >> (16 * (p & 1)) & 0xFFFF;
}

// One row of a block copy: n pixels from source pixel sx to destination pixel dx.
void blit_row(uint32_t *drow, const uint32_t *srow, int dx, int sx, int n, RopFn rop) {
    if (dx & 1) { // a leading high half
        drow[dx / 2] = rop(drow[dx / 2], source_pixel(srow, sx) << 16, off_mask[1]);
        ++dx, ++sx, --n;
    }
    if (!(sx & 1)) { // same parity: whole source words
        for (; n >= 2; dx += 2, sx += 2, n -= 2)
            drow[dx / 2] = rop(drow[dx / 2], srow[sx / 2], len_mask[2]);
    } else { // each destination word from the high half of one source word and the low half of the
             // next
        for (; n >= 2; dx += 2, sx += 2, n -= 2)
            drow[dx / 2] = rop(drow[dx / 2], source_pair(srow, sx), len_mask[2]);
    }
    if (n == 1) drow[dx / 2] = rop(drow[dx / 2], source_pixel(srow, sx), len_mask[1]);
}

void release_all() {
    if (fPxpEnable) PXP_Exit();
    if (g.fb) host::fb_unmap(g.fb, g.fb_len);
    if (g.fd >= 0) host::fb_close(g.fd);
    g = Vdr{};
    pCurrentMem = nullptr;
    fPxpEnable = 0;
}

void fill_context(DC *dc) {
    dc->bounds = RECT{0, 0, int16_t(g.width - 1), int16_t(g.height - 1)};
    dc->pixel_depth = 16;
    dc->rop_mode = 4;
    dc->rop = ROP_Copy;
    dc->buffer = g.frames[0];
    g.rop_mode = 4;
}

bool open_frame_buffer() {
    g.kernel_build = kernel_build();
    const bool pxp = g.kernel_build > 31;
    g.fd = host::fb_open();
    if (g.fd < 0) return false;
    host::FbFixInfo fix;
    host::FbVarInfo var;
    if (!host::fb_get_fix(g.fd, &fix) || !host::fb_get_var(g.fd, &var)) return false;
    g.width = int(var.xres);
    g.height = int(var.yres);
    // Pixel pairs need an even width.
    if (g.width < 2 || (g.width & 1) || g.height < 1 || g.width > 4096 || g.height > 4096)
        return false;
    g.words_per_row = g.width / 2;
    const size_t frame_bytes = size_t(g.width) * size_t(g.height) * 2;
    // With the pipeline: eight buffers of two frames each. Without it the
    // mapping is the display, and frame 0 is drawn straight into it.
    g.fb_len = pxp ? frame_bytes * 16 : frame_bytes;
    if (g.fb_len > fix.smem_len) return false;
    g.fb = static_cast<uint8_t *>(host::fb_map(g.fd, g.fb_len));
    if (!g.fb) return false;
    if (fix.visual != host::kFbVisualTrueColor) return false;

    const size_t words = frame_bytes / 4;
    g.work.assign(words, 0);
    g.capture.assign(frame_bytes, 0);
    g.view.assign(frame_bytes * 2, 0);
    g.line.assign(size_t(g.words_per_row) + 1, 0);
    uint32_t *base = reinterpret_cast<uint32_t *>(g.fb);
    if (pxp) {
        const size_t buf = frame_bytes * 2 / 4; // 4 x width x height bytes, in words
        g.frames[0] = base + buf;
        g.frames[2] = base + 2 * buf;
        g.frames[1] = base + 3 * buf;
    } else {
        g.page1.assign(words, 0);
        g.page2.assign(words, 0);
        g.frames[0] = base;
        g.frames[1] = g.page1.data();
        g.frames[2] = g.page2.data();
    }
    g.frames[4] = g.work.data();
    g.frames[5] = nullptr;
    fPxpEnable = pxp;
    return true;
}
} // namespace

int VDR_Init(DC *dc) {
    if (!dc) return 0;
    if (!g.ready) {
        if (!open_frame_buffer()) {
            release_all();
            return 0;
        }
        g.ready = true;
        g.page_update_threshold = kPageUpdateThreshold;
        pCurrentMem = g.frames[0];
        if (fPxpEnable) {
            uint32_t *base = reinterpret_cast<uint32_t *>(g.fb);
            const size_t buf = size_t(g.width) * size_t(g.height); // in words
            uint32_t *buffers[8];
            for (int i = 0; i < 7; ++i)
                buffers[i] = base + buf * size_t(i + 1);
            buffers[7] = base;
            std::fill(std::begin(framebuffer_enable), std::end(framebuffer_enable), 1);
            PXP_Init(buffers, uint32_t(g.width) * uint32_t(g.height));
        }
    }
    fill_context(dc);
    return 1;
}

int VDR_Ioctl(DC *dc, int request, int value) {
    if (!dc) return -1;
    switch (request) {
    case kIoctlSetRop: {
        if (value < 1 || value > 7) return -1;
        int previous = dc->rop_mode;
        dc->rop_mode = uint16_t(value);
        dc->rop = kRops[value];
        g.rop_mode = value;
        return previous;
    }
    case kIoctlSetFrame:
        if (value < 0 || value > 5 || value == 3) {
            dc->buffer = nullptr; // no such frame: the context draws nowhere
            return -1;
        }
        dc->buffer = g.frames[value];
        return 0;
    case kIoctlMemoryFrame:
        dc->buffer = g.frames[1];
        return 0;
    default:
        return -1;
    }
}

int VDR_SetPixel(DC *dc, int x, int y, COLOR colour) {
    if (!dc || !dc->buffer || !inside(x, y)) return colour;
    uint32_t *w = word_at(dc->buffer, x, y);
    if (dc->pen_style == kPenOverFill && COLOR(*w >> (16 * (x & 1))) != dc->fill_colour)
        return colour;
    *w = dc->rop(*w, pair(colour), off_mask[x & 1]);
    return colour;
}

int VDR_GetPixel(DC *dc, int x, int y) {
    if (!dc || !dc->buffer || !inside(x, y)) return -1;
    return int16_t(pixel_of(dc->buffer, x, y));
}

void VDR_ScanLine(DC *dc, int x, int y, int count, COLOR colour) {
    if (!dc || !dc->buffer || unsigned(y) >= unsigned(g.height)) return;
    if (x < 0) count += x, x = 0;
    count = std::min(count, g.width - x);
    if (count <= 0) return;
    const RopFn rop = dc->rop;
    const uint32_t c = pair(colour);
    uint32_t *w = word_at(dc->buffer, x, y);
    if (x & 1) {
        *w = rop(*w, c, off_mask[1]);
        ++w;
        --count;
    }
    if (rop == ROP_Copy && g.fast) { // whole words need no combining
        fill_words(w, size_t(count / 2), c);
        w += count / 2;
        count &= 1;
    }
    for (; count >= 2; count -= 2, ++w)
        *w = rop(*w, c, len_mask[2]);
    if (count == 1) *w = rop(*w, c, len_mask[1]);
}

void VDR_UseFastPaths(bool on) {
    g.fast = on;
}

namespace {
// Where a plot may land: the context's clip inside the screen (inclusive).
struct Target {
    uint32_t *buffer;
    int left, top, right, bottom;
};

bool fast_target(const DC *dc, Target *t) {
    if (!g.fast || !dc || !dc->buffer || dc->SetPixel != VDR_SetPixel || !dc->rop) return false;
    t->buffer = dc->buffer;
    t->left = std::max<int>(dc->clip.left, 0);
    t->top = std::max<int>(dc->clip.top, 0);
    t->right = std::min<int>(dc->clip.right, g.width - 1);
    t->bottom = std::min<int>(dc->clip.bottom, g.height - 1);
    return true;
}

// Single pixels and runs of one line, with the checks it needs decided once:
// Checked tests each pixel against the target (a line that may leave it),
// Copy stores plainly (the copy operation without the over-fill test).
// Kept by value in the walk, so that no pixel store makes the compiler read
// the driver's state again.
template <bool Checked, bool Copy> struct Plotter {
    uint32_t *buffer;
    size_t words_per_row;
    int left, top, right, bottom;
    RopFn rop;
    bool over_fill;
    COLOR fill;

    bool in(int x, int y) const {
        return !Checked || (x >= left && x <= right && y >= top && y <= bottom);
    }
    uint32_t *word(int x, int y) const {
        return buffer + size_t(y) * words_per_row + size_t(x / 2);
    }
    void px(int x, int y, COLOR c) const {
        if (!in(x, y)) return;
        if (Copy) {
            std::memcpy(reinterpret_cast<uint8_t *>(buffer) +
                            2 * (size_t(y) * 2 * words_per_row + size_t(x)),
                        &c, 2);
            return;
        }
        uint32_t *w = word(x, y);
        if (over_fill && COLOR(*w >> (16 * (x & 1))) != fill) return;
        *w = rop(*w, pair(c), off_mask[x & 1]);
    }
    // Pixels x0..x1 of row y.
    void run(int y, int x0, int x1, COLOR c) const {
        if (Checked) {
            if (y < top || y > bottom) return;
            x0 = std::max(x0, left);
            x1 = std::min(x1, right);
        }
        if (Copy) {
            uint8_t *p = reinterpret_cast<uint8_t *>(buffer) + 4 * size_t(y) * words_per_row;
            for (int x = x0; x <= x1; ++x)
                std::memcpy(p + 2 * x, &c, 2);
            return;
        }
        for (int x = x0; x <= x1; ++x)
            px(x, y, c);
    }
};

inline uint8_t next_mask(uint8_t mask) {
    return mask == 0x01 ? 0x80 : uint8_t(mask >> 1);
}

template <class P> uint8_t walk_line(const P p, const VdrLine line, uint8_t mask) {
    const VdrLine &l = line; // a copy: pixel stores cannot change it
    int x = l.x, y = l.y;
    const bool solid = l.pattern == 0xFF;
    auto pixel = [&](int px, int py) {
        if (solid || (l.pattern & mask))
            p.px(px, py, l.pen);
        else if (l.fill != kColorNone)
            p.px(px, py, l.fill);
        mask = next_mask(mask);
    };
    if (l.ymajor) {
        for (long k = 0; k < l.count; ++k) {
            pixel(x, y);
            if (k + 1 < l.count && l.ends[k] != l.ends[k + 1]) x += l.sx;
            y += l.sy;
        }
        return mask;
    }
    long next = 0;
    if (!solid) {
        for (long k = 0; k < l.count; ++k) {
            if (next < l.n_ends && l.ends[next] <= k) {
                y += l.sy;
                ++next;
            }
            pixel(x, y);
            x += l.sx;
        }
        return mask;
    }
    // A solid x-major line: one run per row.
    for (long k = 0; k < l.count;) {
        if (next < l.n_ends && l.ends[next] <= k) {
            y += l.sy;
            ++next;
        }
        long end = l.count;
        if (next < l.n_ends) end = std::min<long>(end, std::max<long>(l.ends[next], k + 1));
        const int n = int(end - k);
        p.run(y, l.sx > 0 ? x : x - n + 1, l.sx > 0 ? x + n - 1 : x, l.pen);
        x += l.sx * n;
        k = end;
    }
    // The mask as the pixels would have moved it: single-bit after at most
    // seven steps, then round every eight.
    for (long r = l.count > 15 ? 8 + (l.count - 8) % 8 : l.count; r > 0; --r)
        mask = next_mask(mask);
    return mask;
}

template <bool Copy>
uint8_t plot_line(const Target &t, const DC *dc, const VdrLine &l, uint8_t mask) {
    // The box the walk can reach: one step along the minor axis per pixel at most.
    const long x_end = l.x + long(l.sx) * (l.count - 1);
    const long y_end = l.y + long(l.sy) * (l.ymajor ? l.count - 1 : l.n_ends);
    const bool inside_all =
        std::min<long>(l.x, x_end) >= t.left && std::max<long>(l.x, x_end) <= t.right &&
        std::min<long>(l.y, y_end) >= t.top && std::max<long>(l.y, y_end) <= t.bottom;
    const bool over = dc->pen_style == kPenOverFill;
    const size_t wpr = size_t(g.words_per_row);
    if (inside_all)
        return walk_line(Plotter<false, Copy>{t.buffer, wpr, t.left, t.top, t.right, t.bottom,
                                              dc->rop, over, dc->fill_colour},
                         l, mask);
    return walk_line(Plotter<true, Copy>{t.buffer, wpr, t.left, t.top, t.right, t.bottom, dc->rop,
                                         over, dc->fill_colour},
                     l, mask);
}
} // namespace

bool VDR_PlotLine(DC *dc, const VdrLine &line, uint8_t *mask) {
    Target t;
    if (!mask || !fast_target(dc, &t)) return false;
    if (line.count <= 0) return true;
    const uint8_t m = *mask ? *mask : 0x80;
    if (dc->rop == ROP_Copy && dc->pen_style != kPenOverFill)
        *mask = plot_line<true>(t, dc, line, m);
    else
        *mask = plot_line<false>(t, dc, line, m);
    return true;
}

int VDR_CreateDIB(DC *dc, int x, int y, int width, int height, DIB *dib) {
    if (!dc || !dib) return 0;
    *dib = DIB{};
    if (!dc->buffer) return 0;
    Region r{x, y, width, height, 0, 0};
    if (!clip_dest(r, 0, 0, g.width - 1, g.height - 1)) return 0;
    uint8_t *out = g.capture.data();
    for (int row = 0; row < r.h; ++row)
        std::memcpy(out + size_t(row) * size_t(r.w) * 2, byte_at(dc->buffer, r.x, r.y + row),
                    size_t(r.w) * 2);
    dib->width = int16_t(r.w);
    dib->height = int16_t(r.h);
    dib->bytes_per_row = uint16_t(r.w * 2);
    dib->data_length = uint32_t(r.w) * uint32_t(r.h) * 2;
    dib->record_bytes = dib->data_length;
    dib->bits_per_pixel = 16;
    dib->pixels = out;
    return 1;
}

namespace {
// The decoded rows of a bitmap: in place for coding 0 (the whole rows its
// record holds), else decoded into the view buffer. False when there is
// nothing to draw from.
bool decoded_rows(const DIB *dib, const uint8_t **data, int *rows) {
    *data = dib->pixels;
    *rows = dib->height;
    if (dib->bytes_per_row == 0) return false;
    if (dib->coding == 0) {
        if (!dib->span_rows)
            *rows = int(std::min<uint32_t>(uint32_t(std::max<int>(dib->height, 0)),
                                           dib->record_bytes / dib->bytes_per_row));
        return *rows > 0;
    }
    if (dib->coding > 3) return false;
    const uint8_t *end = dib->pixels + dib->record_bytes;
    uint32_t cap = uint32_t(g.view.size()), n = 0;
    if (dib->coding == 1)
        n = XpandDIB1(dib->pixels, end, dib->data_length, g.view.data(), cap);
    else if (dib->coding == 2)
        n = XpandDIB2(dib->pixels, end, dib->data_length, g.view.data(), cap);
    else
        n = XpandDIB3(dib->pixels, end, dib->data_length, g.view.data(), cap);
    *data = g.view.data();
    *rows = std::min<int>(dib->height, int(n / dib->bytes_per_row));
    return *rows > 0;
}

// Span rows: per row, spans {transparent colour, pixels to skip, pixels to
// draw, the pixels drawn} until the spans cover the row's `cols` pixels.
void draw_span_rows(DC *dc, const DIB *dib, const Region &r, int src_col, int cols) {
    const uint8_t *p = dib->pixels;
    const uint8_t *end = p + std::min(dib->data_length, dib->record_bytes);
    for (int row = 0; row < r.sy + r.h; ++row) {
        const int y = r.y + row - r.sy;
        for (int col = 0; col < cols;) {
            if (end - p < 6) return;
            const int skip = le16(p + 2), draw = le16(p + 4);
            p += 6;
            if (end - p < 2 * draw) return;
            if (skip + draw == 0) break; // a damaged row: nothing more in it
            col += skip;
            if (row >= r.sy) {
                // Columns [col, col + draw) against the region's [src_col, src_col + w).
                int from = std::max(col, src_col), to = std::min(col + draw, src_col + r.w);
                if (from < to)
                    std::memcpy(byte_at(dc->buffer, r.x + from - src_col, y), p + 2 * (from - col),
                                size_t(to - from) * 2);
            }
            p += 2 * draw;
            col += draw;
        }
    }
}
} // namespace

namespace {
// Each byte of a one-bit row as eight 16-bit pixel masks (0xFFFF for a 1 bit),
// first pixel in the low half of the first word.
struct BitPixels {
    uint64_t m[2];
};
constexpr std::array<BitPixels, 256> make_bit_pixels() {
    std::array<BitPixels, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned j = 0; j < 8; ++j)
            if (b & (0x80u >> j)) t[b].m[j / 4] |= uint64_t(0xFFFF) << (16 * (j % 4));
    return t;
}
constexpr std::array<BitPixels, 256> kBitPixels = make_bit_pixels();

// `n` (1 to 8) bits of a one-bit row from bit `col`, first in bit 7; reads
// no byte the n bits do not lie in.
inline unsigned row_bits(const uint8_t *src, int col, int n) {
    const int b = col >> 3, o = col & 7;
    unsigned v = unsigned(src[b]) << 8;
    if (o + n > 8) v |= src[b + 1];
    return (v << o >> 8) & 0xFFu;
}

// One row of a one-bit bitmap, `n` pixels from bit `col`, onto the pixels
// at `dst`: 1 bits in the foreground colour, 0 bits in the background or,
// when it is none, left as they are. Eight pixels at a time through the
// table.
void copy_bits_row(const uint8_t *src, int col, int n, uint8_t *dst, COLOR fg, COLOR bg) {
    const uint64_t f = uint64_t(fg) * 0x0001000100010001u, b = uint64_t(bg) * 0x0001000100010001u;
    const bool opaque = bg != kColorNone;
    for (; n >= 8; n -= 8, col += 8, dst += 16) {
        const BitPixels &m = kBitPixels[row_bits(src, col, 8)];
        uint64_t out[2];
        if (opaque) {
            out[0] = (m.m[0] & f) | (~m.m[0] & b);
            out[1] = (m.m[1] & f) | (~m.m[1] & b);
        } else {
            std::memcpy(out, dst, 16);
            out[0] = (out[0] & ~m.m[0]) | (m.m[0] & f);
            out[1] = (out[1] & ~m.m[1]) | (m.m[1] & f);
        }
        std::memcpy(dst, out, 16);
    }
    if (n <= 0) return;
    const unsigned bits = row_bits(src, col, n);
    for (int j = 0; j < n; ++j) {
        if (bits & (0x80u >> j))
            std::memcpy(dst + 2 * j, &fg, 2);
        else if (opaque)
            std::memcpy(dst + 2 * j, &bg, 2);
    }
}
} // namespace

int VDR_WriteDIB(DC *dc, int x, int y, int width, int height, int src_x, int src_y,
                 const DIB *dib) {
    if (!dc || !dc->buffer || !dib || !dib->pixels || width <= 0 || height <= 0) return 0;
    const int bpp = dib->bits_per_pixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16) return 0;
    if (dib->bytes_per_row == 0) return 0;
    const uint8_t *data;
    int rows;
    if (!decoded_rows(dib, &data, &rows)) return 0;

    const bool transparent = dib->flags & kDibTransparent;
    const COLOR tc = dib->transparent == 0xFFDF ? 0xFFFF : dib->transparent;
    const int stride = dib->bytes_per_row;
    const int cols = stride * 8 / bpp; // pixels a stored row holds
    Region r{x, y, width, height, src_x + dib->x_origin, src_y};
    if (!clip_source(r, cols, rows)) return 0;
    if (!clip_dest(r, 0, 0, g.width - 1, g.height - 1)) return 0;
    // A bitmap with a transparent colour comes here unclipped.
    if (transparent && !clip_dest(r, dc->clip.left, dc->clip.top, dc->clip.right, dc->clip.bottom))
        return 0;

    if (bpp == 16) {
        if (dib->coding == 0 && dib->span_rows) {
            draw_span_rows(dc, dib, r, r.sx, cols);
            return 1;
        }
        for (int row = 0; row < r.h; ++row) {
            const uint8_t *src = data + size_t(r.sy + row) * size_t(stride) + 2 * size_t(r.sx);
            if (!transparent) {
                memcpy_local(byte_at(dc->buffer, r.x, r.y + row), src, size_t(r.w) * 2);
                continue;
            }
            for (int i = 0; i < r.w; ++i) {
                COLOR c = le16(src + 2 * i);
                if (c != tc) put_raw(dc->buffer, r.x + i, r.y + row, c);
            }
        }
        return 1;
    }

    const RopFn rop = dc->rop;
    if (bpp == 1 && !transparent && rop == ROP_Copy && g.fast) {
        for (int row = 0; row < r.h; ++row)
            copy_bits_row(data + size_t(r.sy + row) * size_t(stride), r.sx, r.w,
                          byte_at(dc->buffer, r.x, r.y + row), dib->foreground, dib->background);
        return 1;
    }
    // 1, 4 and 8 bits: pixel by pixel through the combiner.
    for (int row = 0; row < r.h; ++row) {
        const uint8_t *src = data + size_t(r.sy + row) * size_t(stride);
        uint32_t *w = word_at(dc->buffer, r.x, r.y + row);
        int half = r.x & 1;
        for (int i = 0; i < r.w; ++i) {
            const int col = r.sx + i;
            COLOR c;
            bool draw = true;
            if (bpp == 1) {
                bool on = src[col >> 3] & (0x80 >> (col & 7));
                c = on ? dib->foreground : dib->background;
                if (!on && dib->background == kColorNone) draw = false;
            } else if (bpp == 4) {
                uint8_t b = src[col >> 1];
                c = convert[(col & 1) ? (b & 0xF) : (b >> 4)];
            } else {
                c = convert8to16(src[col]);
            }
            if (transparent && c == tc) draw = false;
            if (draw) *w = rop(*w, pair(c), off_mask[half]);
            if (half) ++w;
            half ^= 1;
        }
    }
    return 1;
}

void VDR_Close(DC *) {
    if (fPxpEnable) PXP_Exit();
}

int VDR_BitBlt(DC *dc, int x, int y, int width, int height, DC *src, int src_x, int src_y) {
    if (!dc || !src || !dc->buffer || !src->buffer) return 0;
    Region r{x, y, width, height, src_x, src_y};
    if (!clip_source(r, g.width, g.height)) return 0;
    if (!clip_dest(r, 0, 0, g.width - 1, g.height - 1)) return 0;
    const bool same = dc->buffer == src->buffer;
    const bool upwards = same && r.y > r.sy; // rows below their source: copy the last row first
    for (int i = 0; i < r.h; ++i) {
        const int row = upwards ? r.h - 1 - i : i;
        const uint32_t *srow = src->buffer + size_t(g.words_per_row) * size_t(r.sy + row);
        if (same) {
            std::memcpy(g.line.data(), srow, size_t(g.words_per_row) * 4);
            srow = g.line.data();
        }
        blit_row(dc->buffer + size_t(g.words_per_row) * size_t(r.y + row), srow, r.x, r.sx, r.w,
                 dc->rop);
    }
    return 1;
}

int VDR_CopyPage() {
    host::trace("VDR_CopyPage");
    if (!g.ready) return 0;
    if (fPxpEnable) return PXP_buf_next();
    if (pCurrentMem && pCurrentMem != g.frames[0])
        std::memcpy(g.frames[0], pCurrentMem, size_t(g.width) * size_t(g.height) * 2);
    return 1;
}

int VDR_SetActiveFrame(DC *dc) {
    host::trace("VDR_SetActiveFrame");
    if (dc && dc->buffer) pCurrentMem = dc->buffer;
    return VDR_CopyPage();
}

int VDR_GetActiveFrame() {
    return 0;
}

int VDR_CheckActiveFrame(DC *dc) {
    return dc && dc->buffer && dc->buffer == pCurrentMem;
}

int VDR_IsPageCopied() {
    return 1;
}

void VidPageUpdate() {}

uint8_t *VDR_ViewBuffer(uint32_t *bytes) {
    if (bytes) *bytes = uint32_t(g.view.size());
    return g.view.empty() ? nullptr : g.view.data();
}

void VDR_BmpClrMem() {
    g.bmp_used = 0;
}

uint8_t *VDR_BmpGetMem(uint32_t size) {
    if (!g.bmp_mem) g.bmp_mem.reset(new uint8_t[kBmpMemBytes]);
    if (size > kBmpMemBytes - g.bmp_used) return nullptr;
    uint8_t *p = g.bmp_mem.get() + g.bmp_used;
    g.bmp_used = std::min<uint64_t>(kBmpMemBytes, (uint64_t(g.bmp_used) + size + 3) & ~uint64_t(3));
    return p;
}

void memcpy_local(void *dst, const void *src, size_t length) {
    std::memcpy(dst, src, length);
}

// Each decoder keeps two bounds: `length` as the coding counts it, and `end`,
// the end of the bytes present. An item (a literal, a run, an escape) that
// would read past `end` ends decoding; what is decoded stays.
uint32_t XpandDIB1(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity) {
    uint32_t n = 0;
    for (int64_t left = length; left > 0 && n < capacity && in < end;) {
        uint8_t b = *in++;
        if (b != 0) {
            out[n++] = b;
            left -= 1;
            continue;
        }
        if (in == end) break;
        uint8_t count = *in++;
        uint8_t fill = count > 127 ? 0xFF : 0x00;
        uint32_t k = std::min<uint32_t>(count & 127u, capacity - n);
        std::memset(out + n, fill, k);
        n += k;
        left -= 2;
    }
    return n;
}

uint32_t XpandDIB2(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity) {
    uint32_t n = 0;
    for (int64_t left = length; left > 0 && n < capacity && in < end;) {
        uint8_t c = *in++;
        if (c == 255) break;
        if (c & 0x80) {
            if (in == end) break;
            uint32_t k = std::min<uint32_t>((c & 127u) + 3, capacity - n);
            std::memset(out + n, *in++, k);
            n += k;
            left -= 1;
        } else {
            if (end - in < c + 1) break;
            uint32_t k = std::min<uint32_t>(c + 1u, capacity - n);
            std::memcpy(out + n, in, k);
            in += c + 1;
            n += k;
            left -= c + 1;
        }
    }
    return n;
}

uint32_t XpandDIB3(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity) {
    capacity &= ~1u;
    uint32_t n = 0;
    for (int64_t left = length; left > 0 && n < capacity && in < end;) {
        uint8_t c = *in++;
        if (c == 255) break;
        if (c & 0x80) {
            if (end - in < 2) break;
            uint32_t k = std::min<uint32_t>((c & 127u) + 3, (capacity - n) / 2);
            for (uint32_t i = 0; i < k; ++i, n += 2) {
                out[n] = in[0];
                out[n + 1] = in[1];
            }
            in += 2;
            left -= 2;
        } else {
            if (end - in < 2 * (c + 1)) break;
            uint32_t k = std::min<uint32_t>(c + 1u, (capacity - n) / 2);
            std::memcpy(out + n, in, size_t(k) * 2);
            in += 2 * (c + 1);
            n += 2 * k;
            left -= 2 + 2 * c;
        }
    }
    return n;
}

namespace {
// Expands 1-, 4- or 8-bit rows into 16-bit pixels in place, from the last
// pixel backwards (each pixel lands at or after the bytes it came from).
void expand_to_16(DIB *dib, int cols) {
    const int bpp = dib->bits_per_pixel, stride = dib->bytes_per_row;
    uint8_t *p = dib->pixels;
    for (int row = dib->height - 1; row >= 0; --row) {
        for (int col = cols - 1; col >= 0; --col) {
            const uint8_t *src = p + size_t(row) * size_t(stride);
            COLOR c;
            if (bpp == 1)
                c = (src[col >> 3] & (0x80 >> (col & 7))) ? dib->foreground : dib->background;
            else if (bpp == 4)
                c = convert[(col & 1) ? (src[col >> 1] & 0xF) : (src[col >> 1] >> 4)];
            else
                c = convert8to16(src[col]);
            uint8_t *dst = p + 2 * (size_t(row) * size_t(cols) + size_t(col));
            dst[0] = uint8_t(c);
            dst[1] = uint8_t(c >> 8);
        }
    }
    dib->bits_per_pixel = 16;
    dib->bytes_per_row = uint16_t(cols * 2);
    dib->data_length = uint32_t(cols) * 2 * uint32_t(dib->height);
}

// Rebuilds 16-bit rows with a transparent colour into span rows, when they
// fit into `capacity`.
void build_span_rows(DIB *dib, uint32_t capacity) {
    const COLOR tc = dib->transparent == 0xFFDF ? 0xFFFF : dib->transparent;
    const int cols = dib->bytes_per_row / 2;
    std::vector<uint8_t> &out = g.scratch;
    out.clear();
    auto put16 = [&](unsigned v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    for (int row = 0; row < dib->height; ++row) {
        const uint8_t *src = dib->pixels + size_t(row) * dib->bytes_per_row;
        int col = 0;
        do {
            int skip = 0, draw = 0;
            while (col + skip < cols && le16(src + 2 * (col + skip)) == tc)
                ++skip;
            while (col + skip + draw < cols && le16(src + 2 * (col + skip + draw)) != tc)
                ++draw;
            put16(tc);
            put16(unsigned(skip));
            put16(unsigned(draw));
            out.insert(out.end(), src + 2 * (col + skip), src + 2 * (col + skip + draw));
            col += skip + draw;
        } while (col < cols);
        if (out.size() > capacity) return; // keep the plain pixels
    }
    if (!out.empty()) std::memcpy(dib->pixels, out.data(), out.size());
    dib->data_length = uint32_t(out.size());
    dib->span_rows = 1;
}
} // namespace

uint8_t *VDR_BmpUnpack(DIB *dib, uint8_t *dest, uint32_t capacity) {
    if (!dib) return nullptr;
    if (!dest || !dib->pixels) return dib->pixels;
    // Nothing is read past the record's bytes.
    const uint8_t *end = dib->pixels + dib->record_bytes;
    uint32_t n = 0;
    switch (dib->coding) {
    case 0:
        n = std::min({dib->data_length, dib->record_bytes, capacity});
        if (dest != dib->pixels) std::memmove(dest, dib->pixels, n);
        break;
    case 1:
        n = XpandDIB1(dib->pixels, end, dib->data_length, dest, capacity);
        break;
    case 2:
        n = XpandDIB2(dib->pixels, end, dib->data_length, dest, capacity);
        break;
    case 3:
        n = XpandDIB3(dib->pixels, end, dib->data_length, dest, capacity);
        break;
    case 4: {
        int w = dib->width, h = dib->height;
        if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) * 2 > capacity) return dib->pixels;
        const uint32_t bytes = std::min(dib->data_length, dib->record_bytes);
        if (JpegDecompress(dest, dib->pixels, bytes, &w, &h, 0) != 0) return dib->pixels;
        dib->width = int16_t(w);
        dib->height = int16_t(h);
        dib->bits_per_pixel = 16;
        dib->bytes_per_row = uint16_t(w * 2);
        dib->x_origin = 0;
        n = uint32_t(w) * uint32_t(h) * 2;
        break;
    }
    default:
        return dib->pixels;
    }
    dib->pixels = dest;
    dib->coding = 0;
    dib->data_length = n;
    dib->span_rows = 0;
    // Only whole rows are drawn from.
    const int rows = dib->bytes_per_row ? int(n / dib->bytes_per_row) : 0;
    if (dib->height > rows) dib->height = int16_t(rows);
    if (dib->height < 0) dib->height = 0;

    const int bpp = dib->bits_per_pixel;
    if (bpp == 1 || bpp == 4 || bpp == 8) {
        const int cols = dib->bytes_per_row * 8 / bpp;
        // A one-bit bitmap without a background stays one-bit: its walker
        // leaves the 0 bits undrawn, 16-bit pixels could not.
        const bool keep = bpp == 1 && dib->background == kColorNone;
        if (!keep && cols <= 32767 && uint64_t(cols) * 2 * uint64_t(dib->height) <= capacity)
            expand_to_16(dib, cols);
    }
    if (dib->bits_per_pixel == 16 && (dib->flags & kDibTransparent)) build_span_rows(dib, capacity);
    dib->record_bytes = dib->data_length;
    return dest;
}

void VDR_Reset() {
    release_all();
}
