// Video manager: a still picture shown on a frame of its own, and captures of
// the screen handed to the media manager when the application's capture
// register asks for one.
#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "gdi/gdi.h"
#include "gdi/text.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "system/reglink.h"

#include <algorithm>
#include <cstring>

VidBitmap ViewBMP, CaptBMP;
std::vector<uint8_t> CaptBuf;

namespace {

// The capture set-up record of the screen program: u32 register reference
// (0 none), u32 option bits, u32 offset of the file name in the string table.
constexpr uint32_t kScapRegister = 0, kScapOptions = 4, kScapName = 8;
constexpr uint16_t kSystemScreenPage = 9000;
constexpr uint16_t kStillFrameColour = 0xFFDF;
// The name handed with a capture request: the media manager may expand its
// $-macros in place (up to 512 bytes), so it gets a copy, never the string
// table itself.
constexpr size_t kNameBytes = 512;

enum SaveState : uint8_t { kIdle = 0, kWaitManager = 1, kRunning = 2 };

struct State {
    DC *bitmap_dc = nullptr; // frame 2: where still pictures are shown
    RCB *request = nullptr;  // the capture request register, or none
    uint16_t options = 0;
    uint32_t name_offset = 0;
    uint8_t save_state = kIdle;
    bool save = false; // a capture waits to be saved
    bool edge = false; // the request register was seen nonzero
    char name[kNameBytes] = {};
};
State g;

DC *display_dc() {
    return pDC ? pDC : GDI_GetDisplayDC();
}

// Screen size of a context (0 x 0 when it draws nowhere).
void screen_size(const DC *dc, uint32_t *w, uint32_t *h) {
    const bool ok = dc && dc->buffer && dc->bounds.right >= 0 && dc->bounds.bottom >= 0;
    *w = ok ? uint32_t(dc->bounds.right) + 1 : 0;
    *h = ok ? uint32_t(dc->bounds.bottom) + 1 : 0;
}

// RGB565 from a 15-bit pixel; the value 1 lets the pipeline's background
// show through, so a picture's own 1 is drawn as 2.
inline uint16_t still_pixel(uint16_t p) {
    uint16_t c = uint16_t((p & 0x1F) | ((p & 0x7FE0) * 2));
    return c == 1 ? 2 : c;
}

inline uint16_t capture_pixel(uint16_t p) {
    return uint16_t((p & 0x1F) | ((p & 0xFFC0) / 2));
}

// Bytes of the screen program block's data from `p` to its end (0 when `p`
// lies outside it).
size_t program_bytes_from(const uint8_t *p) {
    const uint8_t *data = kesta_pgm_bl + 8;
    const uint32_t length =
        std::min<uint32_t>(le32(kesta_pgm_bl + 4), app::kConfigParts[3].capacity - 8);
    return p >= data && p < data + length ? size_t(data + length - p) : 0;
}

// Copies the capture file name out of the application's string table (bytes
// or 16-bit characters up to the terminator, never past the table).
void copy_name() {
    std::memset(g.name, 0, sizeof g.name);
    // The name lies in the current language's texts, never past the table's data.
    const uint8_t *data = string_table_bl + 8;
    const uint32_t length =
        std::min<uint32_t>(le32(string_table_bl + 4), app::kConfigParts[5].capacity - 8);
    if (!pPGM_Strings || pPGM_Strings < data || pPGM_Strings >= data + length) return;
    const size_t left = size_t(data + length - pPGM_Strings);
    if (g.name_offset >= left) return;
    const uint8_t *s = pPGM_Strings + g.name_offset;
    const size_t room = std::min<size_t>(left - g.name_offset, kNameBytes - 2);
    const size_t unit = PGM_UnicodePresent ? 2 : 1;
    for (size_t i = 0; i + unit <= room; i += unit) {
        if (s[i] == 0 && (unit == 1 || s[i + 1] == 0)) break;
        std::memcpy(g.name + i, s + i, unit);
    }
}

void post_capture() {
    copy_name();
    CFM_LoadReq(pVidCFCB, 0, kCfmReqScreenCapture, reinterpret_cast<uintptr_t>(g.name),
                reinterpret_cast<uintptr_t>(&CaptBMP));
}

} // namespace

void VIDM_Init() {
    host::trace("VIDM_Init");
    g.bitmap_dc = GDI_CreateDC(0, 2);
    uint32_t view_bytes = 0;
    ViewBMP = VidBitmap{};
    ViewBMP.pixels = VDR_ViewBuffer(&view_bytes);
    g.save_state = kIdle;
    g.save = g.edge = false;
    g.request = nullptr;
    g.options = 0;
    g.name_offset = 0;
    if (pPGM_Scap) {
        // A record cut short by the end of the screen program keeps the
        // fields wholly inside it; the others stay none.
        const size_t room = program_bytes_from(pPGM_Scap);
        if (room >= kScapOptions + 4) g.options = uint16_t(le32(pPGM_Scap + kScapOptions) & 3);
        if (room >= kScapName + 4) g.name_offset = le32(pPGM_Scap + kScapName);
        const uint32_t ref = room >= kScapRegister + 4 ? le32(pPGM_Scap + kScapRegister) : 0;
        if (ref) g.request = SYS_32LinkReg(ref, 16);
    }
    uint32_t w, h;
    screen_size(display_dc(), &w, &h);
    CaptBuf.assign(size_t(w) * h * 2, 0);
}

int VIDM_Open() {
    return 1;
}

void VIDM_Cmd(int command) {
    if (command == kVidmOpenStill)
        OpenStill();
    else if (command == kVidmCloseStill)
        CloseStill();
}

void OpenStill() {
    DC *dc = g.bitmap_dc;
    if (!dc || !dc->buffer || !ViewBMP.pixels) return;
    uint32_t sw, sh;
    screen_size(dc, &sw, &sh);
    // A picture is placed at the top left; what lies beyond the screen, or
    // beyond the view buffer it was loaded into, is not drawn.
    const uint32_t pw = ViewBMP.width;
    uint32_t rows = ViewBMP.height;
    uint32_t view_bytes = 0;
    if (ViewBMP.pixels == VDR_ViewBuffer(&view_bytes))
        rows = pw ? uint32_t(std::min<uint64_t>(rows, view_bytes / (uint64_t(pw) * 2))) : 0;
    const uint32_t cols = std::min(pw, sw), shown = std::min(rows, sh);
    uint8_t *frame = reinterpret_cast<uint8_t *>(dc->buffer);
    for (uint32_t y = 0; y < shown; ++y) {
        // Row order 0 keeps its rows bottom-up: the last stored row is the top.
        const uint32_t from = ViewBMP.options == 0 ? rows - 1 - y : y;
        const uint8_t *src = ViewBMP.pixels + size_t(from) * pw * 2;
        uint8_t *dst = frame + size_t(y) * sw * 2;
        if (ViewBMP.options == 1)
            std::memcpy(dst, src, size_t(cols) * 2);
        else
            for (uint32_t x = 0; x < cols; ++x)
                put_le16(dst + 2 * x, still_pixel(le16(src + 2 * x)));
        SlicePoint();
    }
    dc->clip = dc->bounds;
    GDI_SetROP(dc, 4);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_Rectangle(dc, 0, 0, int(sw), int(sh));
    GDI_SetPen(dc, kPenDashed, 1, kStillFrameColour);
    GDI_Rectangle(dc, 0, 0, int(sw), int(sh));
    VDR_SetActiveFrame(dc);
    StillOpened = 1;
}

void CloseStill() {
    VDR_SetActiveFrame(display_dc());
    StillOpened = 0;
}

void ScrnCapture() {
    DC *dc = display_dc();
    uint32_t w, h;
    screen_size(dc, &w, &h);
    const uint8_t *src = nullptr;
    if (fPxpEnable) src = reinterpret_cast<const uint8_t *>(PXP_Screen_Capture());
    if (!src && dc && dc->buffer) src = reinterpret_cast<const uint8_t *>(dc->buffer);
    if (!src) w = h = 0;
    CaptBuf.resize(size_t(w) * h * 2);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t to = g.options ? y : h - 1 - y;
        const uint8_t *s = src + size_t(y) * w * 2;
        uint8_t *d = CaptBuf.data() + size_t(to) * w * 2;
        for (uint32_t x = 0; x < w; ++x)
            put_le16(d + 2 * x, capture_pixel(le16(s + 2 * x)));
        SlicePoint();
    }
    // The description is of the screen as it was at the request.
    CaptBMP.width = w;
    CaptBMP.height = h;
    CaptBMP.pixels = CaptBuf.empty() ? nullptr : CaptBuf.data();
    CaptBMP.page = uint16_t(PAGE_current + (PAGE_mode == 3 ? kSystemScreenPage : 0));
    CaptBMP.options = g.options;
}

void VIDM_Update() {
    host::trace("VIDM_Update");
    if (g.request) {
        uint8_t v[2] = {};
        SYS_ReadReg(v, g.request, sizeof v);
        if (le16(v) == 0) {
            g.edge = false;
        } else if (!g.edge && !g.save && g.save_state == kIdle) {
            g.edge = true;
            g.save = true;
            ScrnCapture();
        }
    }
    switch (g.save_state) {
    case kIdle:
        if (g.save) g.save_state = kWaitManager;
        break;
    case kWaitManager:
        if (!removeSafe && CFM_IsBlkReady(pVidCFCB)) {
            post_capture();
            g.save_state = kRunning;
        }
        break;
    case kRunning: {
        uint32_t result = 0;
        if (CFM_PollReq(pVidCFCB, &result) != 2) {
            // The result is not looked at: a failed save ends the request too.
            const uint8_t zero[2] = {};
            SYS_WriteReg(g.request, zero, sizeof zero);
            g.save = false;
            g.save_state = kIdle;
        }
        break;
    }
    default:
        g.save_state = kIdle;
        break;
    }
}

void VIDM_Reset() {
    g = State{};
    ViewBMP = CaptBMP = VidBitmap{};
    CaptBuf.clear();
    CaptBuf.shrink_to_fit();
    StillOpened = 0;
}
