// Pixel-pipeline driver: programs the pipeline's registers through the
// "/dev/mem" mapping of its register page.
#include "platform/pxp.h"

#include "host/config.h"
#include "host/devmem.h"
#include "host/physmem.h"
#include "platform/board.h"
#include "platform/video.h"

#include <algorithm>
#include <array>
#include <cstring>

uint8_t framebuffer_enable[8];

namespace {
// Register offsets.
constexpr uint32_t CTRL = 0x000, CTRL_SET = 0x004, CTRL_CLR = 0x008, OUTBUF = 0x020,
                   OUTSIZE = 0x040, S0BUF = 0x050, S0PARAM = 0x080, S0BACKGROUND = 0x090,
                   S0CROP = 0x0A0, S0SCALE = 0x0B0, S0COLORKEYLOW = 0x180, S0COLORKEYHIGH = 0x190,
                   OLCOLORKEYLOW = 0x1A0, OLCOLORKEYHIGH = 0x1B0;
constexpr uint32_t OL(int n) {
    return 0x200 + 0x40 * uint32_t(n);
}
constexpr uint32_t OLSIZE(int n) {
    return OL(n) + 0x10;
}
constexpr uint32_t OLPARAM(int n) {
    return OL(n) + 0x20;
}

constexpr uint32_t kSoftReset = 0x80000000, kClockGate = 0x40000000, kNoBackground = 0x200000,
                   kStart = 1;
// The overlay colour key: a page pixel of value 1 reads as 8 when widened.
constexpr uint32_t kKey = 8;
constexpr int kPolls = 0x3FFFF;
constexpr uint32_t kNoPhys = 0xFFFFFFFF;

enum : uint32_t { kGradient = 1, kHole = 2, kWait = 4 };

struct Pxp {
    int mem_fd = -1;              // "/dev/mem"
    host::RegMap *regs = nullptr; // the register page
    uint32_t arg = 0;
    uint32_t flags = 0;
    RECT screen[2] = {};
    uint16_t hole_left = 0, hole_top = 0, hole_right = 0, hole_bottom = 0;
    std::array<uint32_t, board::kPxpPageSize / 4> image{}; // the values last programmed
    uint32_t image_phys = kNoPhys;
    uint32_t *buf[8] = {};
    uint32_t phys[8] = {};
    int width = 0, height = 0;
};
Pxp pxp;

uint32_t rd(uint32_t offset) {
    return host::reg_read(pxp.regs, offset);
}
void wr(uint32_t offset, uint32_t value) {
    host::reg_write(pxp.regs, offset, value);
}
// Writes a register and keeps its value in the register image.
void prog(uint32_t offset, uint32_t value) {
    pxp.image[offset / 4] = value;
    wr(offset, value);
}
uint32_t img(uint32_t offset) {
    return pxp.image[offset / 4];
}

// Polls CTRL until `done` holds, at most kPolls times, and goes on regardless.
template <class Pred> void wait_ctrl(Pred done) {
    for (int i = 0; i < kPolls; ++i)
        if (done(rd(CTRL))) return;
}
void wait_idle() {
    wait_ctrl([](uint32_t c) { return !(c & kStart); });
}

uint32_t screen_size_value() {
    return uint32_t((pxp.width / 8) & 0xFF) << 8 | uint32_t((pxp.height / 8) & 0xFF);
}

// Marks the hole in the composition buffer as see-through for the second pass.
void punch_hole() {
    uint32_t *b6 = pxp.buf[6];
    if (!b6) return;
    // The hole is kept on the screen: a window reaching past it must not
    // write past the buffer.
    const int right = std::min<int>(pxp.hole_right, pxp.width);
    const int bottom = std::min<int>(pxp.hole_bottom, pxp.height);
    for (int y = pxp.hole_top; y < bottom; ++y)
        for (int x = pxp.hole_left; x < right; ++x)
            b6[size_t(y) * size_t(pxp.width) + size_t(x)] = kKey;
}
} // namespace

uint32_t mem_virt2phy(const void *addr) {
    const uint64_t page = host::page_size();
    host::lock_page(addr);
    uint64_t entry = 0;
    if (!host::pagemap_entry(uint64_t(uintptr_t(addr)) / page, &entry)) return kNoPhys;
    const uint64_t frame = entry & ((1ull << 55) - 1);
    if (!(entry >> 63) || frame == 0) return kNoPhys;
    return uint32_t(frame * page + uint64_t(uintptr_t(addr)) % page);
}

int PXP_Init(uint32_t *const buffers[8], uint32_t arg) {
    pxp.width = host::screen_width();
    pxp.height = host::screen_height();
    pxp.screen[0] = pxp.screen[1] = RECT{0, 0, int16_t(pxp.width), int16_t(pxp.height)};
    pxp.arg = arg;
    if (!pxp.regs) {
        pxp.mem_fd = host::devmem_open();
        pxp.regs = host::devmem_map(pxp.mem_fd, board::kPxpPhys, board::kPxpPageSize);
        if (!pxp.regs) {
            host::devmem_close(pxp.mem_fd);
            pxp.mem_fd = -1;
            return 0;
        }
    }

    wr(CTRL, 0);
    wait_ctrl([](uint32_t c) { return !(c & kSoftReset); });
    wr(CTRL_SET, kSoftReset);
    wait_ctrl([](uint32_t c) { return c & kSoftReset; });
    wr(CTRL_CLR, kSoftReset);
    wait_ctrl([](uint32_t c) { return !(c & kSoftReset); });
    wr(CTRL_CLR, kClockGate);
    wait_ctrl([](uint32_t c) { return !(c & kClockGate); });

    for (int i = 0; i < 8; ++i) {
        pxp.buf[i] = buffers[i];
        pxp.phys[i] = buffers[i] ? mem_virt2phy(buffers[i]) : 0;
    }
    pxp.image.fill(0);
    pxp.image_phys = mem_virt2phy(pxp.image.data());

    const uint32_t size = screen_size_value();
    prog(OUTBUF, pxp.phys[7]);
    prog(OUTSIZE, 0xFF000000u | uint32_t(pxp.width & 0xFFF) << 12 | uint32_t(pxp.height & 0xFFF));
    prog(S0BUF, pxp.phys[7]);
    prog(S0PARAM, size);
    prog(S0BACKGROUND, 0xFF000000u);
    prog(S0CROP, 0);
    prog(S0SCALE, 0x10001000u);
    prog(S0COLORKEYLOW, 0x00FFFFFFu); // no colour key on the background
    prog(S0COLORKEYHIGH, 0xFF000000u);
    prog(OLCOLORKEYLOW, kKey);
    prog(OLCOLORKEYHIGH, kKey);
    for (int n = 0; n < 8; ++n) {
        if (pxp.buf[n] && framebuffer_enable[n]) {
            prog(OL(n), pxp.phys[n]);
            prog(OLSIZE(n), size);
            prog(OLPARAM(n), 0xFF00u + (n == 0 ? 0x49u : 0u));
        } else {
            prog(OL(n), 0);
            prog(OLSIZE(n), 0);
            prog(OLPARAM(n), 0);
        }
    }
    wr(CTRL, kStart);
    wait_idle();
    return 1;
}

int PXP_buf_next() {
    if (!pxp.regs) return 0;
    if (rd(CTRL) & kStart) return 0;
    int page = -1;
    for (int i = 0; i < 8 && page < 0; ++i)
        if (pxp.buf[i] && pxp.buf[i] == pCurrentMem) page = i;
    // A page outside the buffer table has no address the pipeline may read.
    if (page < 0) return 0;
    wr(OL(0), pxp.phys[page]);

    if ((pxp.flags & (kGradient | kHole)) == (kGradient | kHole)) {
        // First pass: the page over the gradient into buffer 6, then the hole
        // in it made see-through.
        wr(OUTBUF, pxp.phys[6]);
        wr(S0BUF, pxp.phys[4]);
        wr(OL(4), 0);
        wr(OLSIZE(4), 0);
        wr(OLPARAM(4), 0);
        wr(OLCOLORKEYLOW, kKey);
        wr(OLCOLORKEYHIGH, kKey);
        wr(OLSIZE(0), img(OLSIZE(0)));
        wr(OLPARAM(0), img(OLPARAM(0)) | 9);
        wr(CTRL_CLR, kNoBackground);
        wr(CTRL_SET, kStart);
        wait_idle();
        punch_hole();
        // Second pass: buffer 6 over what the display shows, so the video
        // under the hole stays.
        wr(OL(6), img(OL(6)));
        wr(OLSIZE(6), img(OLSIZE(6)));
        wr(OLPARAM(6), img(OLPARAM(6)) | 9);
        wr(OL(0), 0);
        wr(OLSIZE(0), 0);
        wr(OLPARAM(0), 0);
        wr(S0BUF, pxp.phys[7]);
        wr(CTRL_SET, kNoBackground);
    } else {
        wr(OLSIZE(0), img(OLSIZE(0)));
        wr(OLPARAM(0), img(OLPARAM(0)) | 9);
        // Overlay 6 carried the last hole pass; left on, its old picture
        // would cover every later page.
        wr(OLPARAM(6), img(OLPARAM(6)));
        if (!(pxp.flags & kGradient)) {
            wr(S0BUF, pxp.phys[7]);
            wr(CTRL_SET, kNoBackground);
        } else {
            wr(S0BUF, pxp.phys[4]);
            wr(CTRL_CLR, kNoBackground);
        }
    }
    wr(OUTBUF, img(OUTBUF));
    wr(CTRL_SET, kStart);
    if (pxp.flags & kWait) {
        wait_idle();
        pxp.flags &= ~kWait;
    }
    return 1;
}

uint32_t *PXP_Screen_Capture() {
    if (!(pxp.flags & kGradient) || !pxp.regs) return nullptr;
    wait_idle();
    wr(OL(0), pxp.phys[7]);
    wr(OLSIZE(0), screen_size_value());
    wr(OLPARAM(0), 0xFF01);
    wr(OLCOLORKEYLOW, 0x00FFFFFF); // no key
    wr(OLCOLORKEYHIGH, 0xFF000000);
    wr(OUTBUF, pxp.phys[1]);
    wr(CTRL, 0x200041); // RGB565 output, no background, start
    wait_idle();
    wr(CTRL, img(CTRL));
    wr(OL(0), img(OL(0)));
    wr(OLSIZE(0), img(OLSIZE(0)));
    wr(OLPARAM(0), img(OLPARAM(0)));
    wr(OLCOLORKEYLOW, img(OLCOLORKEYLOW));
    wr(OLCOLORKEYHIGH, img(OLCOLORKEYHIGH));
    wr(OUTBUF, img(OUTBUF));
    return pxp.buf[1];
}

void PXP_HoleRect(const RECT *rect, int on) {
    if (on && rect) {
        pxp.flags |= kHole;
        pxp.hole_left = uint16_t(rect->left);
        pxp.hole_top = uint16_t(rect->top);
        pxp.hole_right = uint16_t(rect->right);
        pxp.hole_bottom = uint16_t(rect->bottom);
    } else {
        pxp.flags &= ~kHole;
        pxp.hole_left = pxp.hole_top = pxp.hole_right = pxp.hole_bottom = 0;
    }
}

bool PXP_Hole(RECT *rect) {
    if (!(pxp.flags & kHole)) return false;
    *rect = RECT{int16_t(pxp.hole_left), int16_t(pxp.hole_top), int16_t(pxp.hole_right),
                 int16_t(pxp.hole_bottom)};
    return true;
}

uint32_t *PXP_GradientEnabled(int on) {
    if (on)
        pxp.flags |= kGradient;
    else
        pxp.flags &= ~kGradient;
    return pxp.buf[4];
}

uint32_t *PXP_GradientBkndEnab(int on) {
    if (on) {
        pxp.flags |= kGradient;
        if (pxp.buf[3] && pxp.buf[4])
            std::memcpy(pxp.buf[3], pxp.buf[4], size_t(pxp.width) * size_t(pxp.height) * 4);
    } else {
        pxp.flags &= ~kGradient;
    }
    return pxp.buf[3];
}

void PXP_WaitUpdate() {
    pxp.flags |= kWait;
}

void PXP_Exit() {
    if (pxp.regs) host::devmem_unmap(pxp.regs);
    if (pxp.mem_fd >= 0) host::devmem_close(pxp.mem_fd);
    pxp.regs = nullptr;
    pxp.mem_fd = -1;
}

void PXP_Reset() {
    PXP_Exit();
    pxp = Pxp{};
    std::memset(framebuffer_enable, 0, sizeof framebuffer_enable);
}
