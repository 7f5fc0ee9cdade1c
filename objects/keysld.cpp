// KEY: the slide-out key panel of panels without enough physical keys. A
// picture of keys, loaded once from "/mnt/cfg/keys.bmp", slides in from the
// right screen edge when the top-right corner is touched and out again on a
// touch outside it or on its close key. Its keys go the way of the physical
// keys: function keys 1-7, and the system key (26), which held 5 s asks for
// the recovery screen. The object manager drives it through its own control
// block (painted whole when invalidated, signalled every pass).
#include "objects/keysld.h"

#include "base/le.h"
#include "base/trace.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "objects/obj_int.h"
#include "objects/periphery.h"
#include "platform/keys.h"
#include "platform/nvfile.h"
#include "platform/tick.h"
#include "platform/video.h"

#include <algorithm>

uint8_t Key_sld;

namespace {

enum State : uint8_t {
    kClosed = 0,
    kSlidingOut = 1,
    kSlidingIn = 2,
    kSlidOut = 3,
    kShown = 4,
    kReleased = 5,
    kPressed = 6,
};
constexpr int kSlideInStep = 4, kSlideOutStep = 60;
constexpr uint32_t kHoldTicks = 50000; // 5 s of the 100 us tick
constexpr uint8_t kSystemKey = 26;
constexpr int kCloseKey = 8;
constexpr int kPressShift = 3, kPressMargin = 6;

// Key layout by the screen width.
struct Layout {
    int keys, x, y, width, height, gap;
};
Layout layout_for(int screen_width) {
    if (screen_width <= 800) return {5, 8, 9, 45, 42, 12};
    if (screen_width <= 1376) return {9, 14, 16, 60, 60, 22};
    return {9, 20, 22, 88, 88, 32};
}

struct Module {
    uint8_t file[kKeyBmpMax];
    uint16_t pixels[kKeyBmpMax / 2]; // top-down RGB565 rows
    int width, height;
    bool missing;
    uint8_t last_painted;
    uint32_t hold_start;
    bool hold_armed;
};
Module g;

struct KeyInst {
    ObjInst hdr;
    RECT panel; // inclusive, on the screen
    int16_t offset;
    int16_t key_top;
    int8_t key; // the pressed key, -1 none
    uint8_t state;
    Layout layout;
};
static_assert(sizeof(KeyInst) <= kKeyPool, "the key panel's instance lives in key_pool");

uint16_t pixel_of(const uint8_t *p, int bytes) {
    if (bytes == 2) return le16(p);
    return uint16_t((p[2] >> 3) << 11 | (p[1] >> 2) << 5 | (p[0] >> 3));
}

// Draws the picture's pixels that fall in `area` (inclusive, screen), the
// picture's top-left corner at (x0, y0).
void KEY_PaintBMP(DC *dc, int x0, int y0, const RECT &area) {
    const int top = std::max<int>(area.top, y0),
              bottom = std::min(int(area.bottom), y0 + g.height - 1);
    const int left = std::max<int>(area.left, x0),
              right = std::min(int(area.right), x0 + g.width - 1);
    for (int y = top; y <= bottom; ++y) {
        const uint16_t *row = g.pixels + size_t(y - y0) * size_t(g.width);
        for (int x = left; x <= right; ++x)
            GDI_SetPixel(dc, x, y, row[x - x0]);
    }
}

// The key under a screen point, -1 none.
int key_at(const KeyInst *k, int x, int y) {
    const Layout &l = k->layout;
    const int kx = k->panel.left + l.x;
    if (x < kx || x >= kx + l.width) return -1;
    for (int i = 0; i < l.keys; ++i) {
        const int ky = k->panel.top + l.y + i * (l.height + l.gap);
        if (y >= ky && y < ky + l.height) return i;
    }
    return -1;
}

void close_panel(KeyInst *k, uint8_t state) {
    k->state = state;
    Key_sld = 0;
}

int16_t create(const uint8_t *, ObjInst *inst) {
    auto *k = reinterpret_cast<KeyInst *>(inst);
    if (g.missing || g.width <= 0) return int16_t(sizeof(KeyInst));
    DC *dc = inst->dc ? inst->dc : pDC;
    const int W = dc ? dc->bounds.right + 1 : 800, H = dc ? dc->bounds.bottom + 1 : 480;
    k->panel = RECT{int16_t(std::max(0, W - g.width)), 0, int16_t(W - 1),
                    int16_t(std::min(g.height, H) - 1)};
    inst->area = k->panel;
    inst->state = kInstShown;
    k->offset = 0;
    k->key_top = 0;
    k->key = -1;
    k->state = kClosed;
    k->layout = layout_for(W);
    return int16_t(sizeof(KeyInst));
}

uint16_t touch(KeyInst *k, int msg, uint32_t arg) {
    if (k->state < kShown) return 0;
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    const RECT &p = k->panel;
    const bool down = msg == objmsg::kTouchDown;
    if (!down) g.hold_armed = false; // only a system key still held can ask for recovery
    if (x < p.left || x > p.right || y < p.top || y > p.bottom) {
        close_panel(k, kSlidingOut);
        obj::Beep(3);
        return 0;
    }
    const int key = key_at(k, x, y);
    if (key < 0) return objmsg::kRepaint;
    k->key = int8_t(key);
    k->key_top = int16_t(p.top + k->layout.y + key * (k->layout.height + k->layout.gap));
    if (key == 0) {
        if (down) {
            k->state = kPressed;
            g.hold_armed = obj::KeysEnabled() != 0;
            g.hold_start = FPGA_GetFrt();
            obj::KeyPut(kSystemKey);
            return objmsg::kRepaint;
        }
        close_panel(k, kSlidingOut);
        obj::Beep(3);
        KEY_Press(kSystemKey, 0, 0);
        KEY_Press(kKeyRelease, 0, 0);
        return objmsg::kRepaint | objmsg::kRefuse;
    }
    if (k->layout.keys == 9 && key == kCloseKey) {
        if (down) {
            k->state = kPressed;
        } else {
            close_panel(k, kSlidingOut);
            obj::Beep(3);
        }
        return objmsg::kRepaint;
    }
    if (down) {
        k->state = kPressed;
        KEY_Press(key, 0, 0);
    } else {
        k->state = kReleased;
        KEY_Press(kKeyRelease, 0, 0);
    }
    return objmsg::kRepaint;
}

uint16_t update(KeyInst *k) {
    switch (k->state) {
    case kClosed:
        k->state = kSlidingIn;
        k->offset = int16_t(k->panel.right - k->panel.left + 1);
        Key_sld = 1;
        return 0;
    case kSlidingOut:
    case kSlidingIn:
        return objmsg::kRepaint;
    case kSlidOut:
        close_panel(k, kClosed);
        return objmsg::kRefuse;
    case kReleased:
    case kPressed: {
        const uint16_t r = k->state != g.last_painted ? objmsg::kRepaint : 0;
        if (k->state == kPressed && g.hold_armed && FPGA_GetFrt() - g.hold_start > kHoldTicks) {
            g.hold_armed = false;
            obj::RequestRecovery();
            // The panel goes with the page the recovery screen replaces:
            // the corner must work again once it is left.
            close_panel(k, kClosed);
            obj::KeyPut(kKeyRelease);
        }
        return r;
    }
    default:
        return 0;
    }
}

uint16_t signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    auto *k = reinterpret_cast<KeyInst *>(inst);
    if (g.missing || g.width <= 0) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(k);
    case objmsg::kTouchDown:
    case objmsg::kTouchUp:
        return touch(k, msg, arg);
    case objmsg::kClose:
        // The manager took the panel down (on a result 0x02, a corner touch
        // while it slid out, the installer or recovery screen): it is closed,
        // so the next corner touch slides it in again.
        g.hold_armed = false;
        close_panel(k, kClosed);
        return 0;
    default:
        return 0;
    }
}

void paint(const uint8_t *, ObjInst *inst, int mode) {
    auto *k = reinterpret_cast<KeyInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || g.missing || g.width <= 0) return;
    const RECT &p = k->panel;
    const int state = k->state;
    if ((mode & 1) && state != kClosed && state != kSlidingOut && state != kSlidingIn)
        KEY_PaintBMP(dc, p.left, p.top, p);
    if (state == kSlidingIn) {
        k->offset = int16_t(k->offset - kSlideInStep);
        if (k->offset < 2) {
            k->offset = 0;
            k->state = kShown;
        }
        KEY_PaintBMP(dc, p.left + k->offset, p.top, p);
    } else if (state == kSlidingOut) {
        k->offset = int16_t(std::min(k->offset + kSlideOutStep, int(p.right - p.left + 1)));
        if (k->offset >= p.right - p.left + 1) k->state = kSlidOut;
        // What the picture uncovers goes back to the page's background.
        const RECT gone{p.left, p.top, int16_t(p.left + k->offset - 1), p.bottom};
        if (dc->gradient_mode && pMem3DC && pMem3DC->buffer && !fPxpEnable) {
            GDI_BitBlt(dc, gone.left, gone.top, gone.right - gone.left + 1,
                       gone.bottom - gone.top + 1, pMem3DC, gone.left, gone.top);
        } else {
            GDI_SetGradient(dc, 0);
            GDI_SetPen(dc, kPenNone, 0, 0);
            GDI_Rectangle(dc, gone.left, gone.top, gone.right + 1, gone.bottom + 1);
        }
        KEY_PaintBMP(dc, p.left + k->offset, p.top, p);
    } else if (state == kReleased || state == kPressed) {
        const int shift = state == kPressed ? kPressShift : 0;
        const RECT key{int16_t(p.left + k->layout.x - kPressMargin),
                       int16_t(k->key_top - kPressMargin),
                       int16_t(p.left + k->layout.x + k->layout.width - 1 + kPressMargin),
                       int16_t(k->key_top + k->layout.height - 1 + kPressMargin)};
        const RECT area{std::max(key.left, p.left), std::max(key.top, p.top),
                        std::min(key.right, p.right), std::min(key.bottom, p.bottom)};
        if (shift) {
            // The strip the shifted picture leaves bare takes the key's
            // own top-left pixels.
            KEY_PaintBMP(dc, p.left, p.top, area);
        }
        KEY_PaintBMP(dc, p.left + shift, p.top + shift, area);
        if (state == kReleased) k->state = kShown;
    }
    g.last_painted = uint8_t(state);
}

void destroy(const uint8_t *, ObjInst *) {}

} // namespace

bool KEY_DecodeBmp(const uint8_t *file, size_t size, uint16_t *out, size_t capacity, int *width,
                   int *height) {
    if (size < 38 || file[0] != 'B' || file[1] != 'M') return false;
    if (le32(file + 2) >= kKeyBmpMax || le32(file + 34) >= kKeyBmpMax) return false;
    const uint64_t offset = le32(file + 10);
    const int32_t w = int32_t(le32(file + 18)), h = int32_t(le32(file + 22));
    const int bpp = le16(file + 28);
    if (bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (w <= 0 || h <= 0) return false;
    const int bytes = bpp / 8;
    // BMP rows are padded to 4 bytes; the pixels must all lie in the file.
    const uint64_t row = (uint64_t(w) * uint64_t(bytes) + 3) & ~uint64_t(3);
    if (offset > size || row * uint64_t(h) > size - offset) return false;
    if (uint64_t(w) * uint64_t(h) > capacity) return false;
    for (int32_t y = 0; y < h; ++y) {
        // Rows are stored bottom-up.
        const uint8_t *src = file + offset + uint64_t(h - 1 - y) * row;
        uint16_t *dst = out + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x)
            dst[x] = pixel_of(src + size_t(x) * size_t(bytes), bytes);
    }
    *width = w;
    *height = h;
    return true;
}

int KEY_SlideInit() {
    host::trace("KEY_SlideInit");
    g.width = g.height = 0;
    g.missing = true;
    const long n = nv_read_part("/mnt/cfg/keys.bmp", g.file, sizeof g.file);
    if (n <= 0) return 0;
    int w = 0, h = 0;
    if (!KEY_DecodeBmp(g.file, size_t(n), g.pixels, sizeof g.pixels / 2, &w, &h)) return 0;
    g.width = w;
    g.height = h;
    g.missing = false;
    return 1;
}

void KeySld_Reset() {
    g.width = g.height = 0;
    g.missing = true;
    g.last_painted = 0;
    g.hold_start = 0;
    g.hold_armed = false;
    Key_sld = 0;
}

const ObjClass KEY_Class{32, create, paint, signal, destroy, sizeof(KeyInst), nullptr};
