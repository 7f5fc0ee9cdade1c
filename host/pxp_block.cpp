#include "host/pxp_block.h"

#include "host/fb.h"
#include "host/physmem.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace host {
namespace {
constexpr uint32_t CTRL = 0x000, OUTBUF = 0x020, OUTSIZE = 0x040, S0BUF = 0x050, S0PARAM = 0x080,
                   S0BACKGROUND = 0x090, OLCOLORKEYLOW = 0x1A0, OLCOLORKEYHIGH = 0x1B0, OL0 = 0x200;
constexpr uint32_t kSoftReset = 0x80000000, kClockGate = 0x40000000, kNoS0 = 0x200000, kStart = 1;

int bytes_of(unsigned format) {
    if (format == 0 || format == 1) return 4;
    if (format == 4) return 2;
    return 0;
}

// RGB565 widened to 0x00RRGGBB, for every value.
constexpr std::array<uint32_t, 65536> make_widen() {
    std::array<uint32_t, 65536> t{};
    for (uint32_t p = 0; p < 65536; ++p) {
        uint8_t c[3] = {};
        rgb565_to_rgb(uint16_t(p), c);
        t[p] = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
    }
    return t;
}
constexpr std::array<uint32_t, 65536> kWiden = make_widen();
constexpr std::array<uint8_t, 65536> kNoKey{};

// A pixel of a layer as 0x00RRGGBB.
inline uint32_t load_pixel(const uint8_t *p, int bytes) {
    if (bytes == 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v & 0xFFFFFF;
    }
    uint16_t v;
    std::memcpy(&v, p, 2);
    return kWiden[v];
}

inline void store_pixel(uint8_t *p, int bytes, uint32_t rgb, uint32_t alpha) {
    if (bytes == 4) {
        uint32_t v = alpha << 24 | rgb;
        std::memcpy(p, &v, 4);
        return;
    }
    uint16_t v = uint16_t((rgb >> 19 & 0x1F) << 11 | (rgb >> 10 & 0x3F) << 5 | (rgb >> 3 & 0x1F));
    std::memcpy(p, &v, 2);
}

inline bool keyed(uint32_t rgb, uint32_t low, uint32_t high) {
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t c = rgb >> shift & 0xFF;
        if (c < (low >> shift & 0xFF) || c > (high >> shift & 0xFF)) return false;
    }
    return true;
}

struct Layer {
    const uint8_t *mem = nullptr;
    int x = 0, y = 0, w = 0, h = 0, bytes = 0;
    bool key = false;
};

// An area register: x, y, width and height in blocks of 8 pixels.
Layer layer_at(uint32_t phys, uint32_t area, unsigned format) {
    Layer l;
    l.x = int(area >> 24 & 0xFF) * 8;
    l.y = int(area >> 16 & 0xFF) * 8;
    l.w = int(area >> 8 & 0xFF) * 8;
    l.h = int(area & 0xFF) * 8;
    l.bytes = bytes_of(format);
    if (l.bytes && l.w && l.h)
        l.mem = phys_to_virt(phys, size_t(l.w) * size_t(l.h) * size_t(l.bytes));
    return l;
}
} // namespace

PxpModel::PxpModel() : SctRegBlock(kPxpPageSize) {}

void PxpModel::hold_busy(bool on) {
    hold_busy_ = on;
    if (!on) *slot(CTRL) &= ~kStart;
}

void PxpModel::stored(uint32_t reg, uint32_t old, uint32_t now) {
    if (reg != CTRL) return;
    if (now & kSoftReset) {
        for (uint32_t r = 0x10; r < kPxpPageSize; r += 0x10)
            *slot(r) = 0;
        *slot(CTRL) = (now | kClockGate) & ~kStart;
        return;
    }
    if ((now & kStart) && !(old & kStart) && !(now & kClockGate)) {
        compose();
        if (!hold_busy_) *slot(CTRL) &= ~kStart;
    }
}

void PxpModel::compose() {
    auto R = [this](uint32_t reg) { return *slot(reg); };
    const uint32_t ctrl = R(CTRL);
    const uint32_t outsize = R(OUTSIZE);
    const int ow = int(outsize >> 12 & 0xFFF), oh = int(outsize & 0xFFF);
    const int obytes = bytes_of(ctrl >> 4 & 0xF);
    if (!obytes || !ow || !oh) return;
    const uint32_t out_phys = R(OUTBUF);
    uint8_t *out = phys_to_virt(out_phys, size_t(ow) * size_t(oh) * size_t(obytes));
    if (!out) return;

    const bool fetch_s0 = !(ctrl & kNoS0);
    Layer s0;
    if (fetch_s0) s0 = layer_at(R(S0BUF), R(S0PARAM), ctrl >> 12 & 0xF);
    const uint32_t background = R(S0BACKGROUND) & 0xFFFFFF;
    std::vector<Layer> overlays;
    for (uint32_t n = 0; n < 8; ++n) {
        uint32_t param = R(OL0 + 0x40 * n + 0x20);
        if (!(param & 1)) continue;
        Layer l = layer_at(R(OL0 + 0x40 * n), R(OL0 + 0x40 * n + 0x10), param >> 4 & 0xF);
        l.key = param & 8;
        if (l.mem) overlays.push_back(l);
    }
    const uint32_t key_low = R(OLCOLORKEYLOW) & 0xFFFFFF, key_high = R(OLCOLORKEYHIGH) & 0xFFFFFF;
    const uint32_t alpha = outsize >> 24;
    // Which RGB565 values the overlay colour key takes out.
    if (key16_.empty() || key_low != key_low_ || key_high != key_high_) {
        key16_.resize(65536);
        for (uint32_t v = 0; v < 65536; ++v)
            key16_[v] = keyed(kWiden[v], key_low, key_high);
        key_low_ = key_low;
        key_high_ = key_high;
    }
    const uint8_t *key16 = key16_.data();

    if (!fetch_s0 && obytes == 4) {
        // The output's own pixels are the background: the overlays go
        // straight onto it.
        uint32_t *o = reinterpret_cast<uint32_t *>(out);
        const uint32_t a = alpha << 24;
        for (int y = 0; y < oh; ++y) {
            uint32_t *r = o + size_t(y) * size_t(ow);
            for (const Layer &l : overlays) {
                if (y < l.y || y >= l.y + l.h) continue;
                const uint8_t *src = l.mem + size_t(y - l.y) * size_t(l.w) * size_t(l.bytes);
                const int x1 = std::min(l.x + l.w, ow);
                if (l.bytes == 2) {
                    const uint8_t *key = l.key ? key16 : kNoKey.data();
                    for (int x = l.x; x < x1; ++x) {
                        uint16_t v;
                        std::memcpy(&v, src + size_t(x - l.x) * 2, 2);
                        if (!key[v]) r[x] = a | kWiden[v];
                    }
                    continue;
                }
                for (int x = l.x; x < x1; ++x) {
                    uint32_t p = load_pixel(src + size_t(x - l.x) * 4, 4);
                    if (!(l.key && keyed(p, key_low, key_high))) r[x] = a | p;
                }
            }
        }
        finish_pass(out_phys, obytes);
        return;
    }
    std::vector<uint32_t> row(static_cast<size_t>(ow));
    for (int y = 0; y < oh; ++y) {
        uint8_t *orow = out + size_t(y) * size_t(ow) * size_t(obytes);
        uint32_t *r = row.data();
        if (!fetch_s0) {
            for (int x = 0; x < ow; ++x)
                r[x] = load_pixel(orow + size_t(x) * size_t(obytes), obytes);
        } else {
            std::fill_n(r, ow, background);
            if (s0.mem && y >= s0.y && y < s0.y + s0.h) {
                const uint8_t *src = s0.mem + size_t(y - s0.y) * size_t(s0.w) * size_t(s0.bytes);
                const int x1 = std::min(s0.x + s0.w, ow);
                for (int x = s0.x; x < x1; ++x)
                    r[x] = load_pixel(src + size_t(x - s0.x) * size_t(s0.bytes), s0.bytes);
            }
        }
        for (const Layer &l : overlays) {
            if (y < l.y || y >= l.y + l.h) continue;
            const uint8_t *src = l.mem + size_t(y - l.y) * size_t(l.w) * size_t(l.bytes);
            const int x1 = std::min(l.x + l.w, ow);
            if (l.bytes == 2 && l.key) { // a drawing page over the background
                for (int x = l.x; x < x1; ++x) {
                    uint16_t v;
                    std::memcpy(&v, src + size_t(x - l.x) * 2, 2);
                    if (!key16[v]) r[x] = kWiden[v];
                }
                continue;
            }
            for (int x = l.x; x < x1; ++x) {
                uint32_t p = load_pixel(src + size_t(x - l.x) * size_t(l.bytes), l.bytes);
                if (l.key && keyed(p, key_low, key_high)) continue;
                r[x] = p;
            }
        }
        if (obytes == 4) {
            for (int x = 0; x < ow; ++x)
                r[x] |= alpha << 24;
            std::memcpy(orow, r, size_t(ow) * 4);
        } else {
            for (int x = 0; x < ow; ++x)
                store_pixel(orow + size_t(x) * 2, 2, r[x], alpha);
        }
    }
    finish_pass(out_phys, obytes);
}

void PxpModel::finish_pass(uint32_t out_phys, int obytes) {
    passes_++;
    // The LCD controller shows what the pipeline writes at the start of the frame memory.
    if (out_phys == kFbPhysBase) fb_set_scanout_bpp(obytes * 8);
}

std::shared_ptr<RegBlock> board_make_pxp() {
    return std::make_shared<PxpModel>();
}

} // namespace host
