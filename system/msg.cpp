#include "system/msg.h"

#include "base/trace.h"
#include "gdi/gdi.h"
#include "gdi/tty.h"
#include "host/config.h"
#include "host/console.h"
#include "platform/pxp.h"
#include "platform/tick.h"
#include "platform/video.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "system/sys.h"

#include <string>

int DA_cnt;

namespace {
unsigned g_dnld_calls; // VID_DnldUpdate calls since the last redraw

constexpr uint16_t kLight = 0xFFDF, kGreen = 0x07E0, kNone = 0xFFFF;

void wait_page_copied() {
    while (!VDR_IsPageCopied())
        SlicePoint();
}

int bar_x0() {
    return (host::screen_width() - 295) / 2;
}
int bar_y0() {
    return (host::screen_height() - 43) / 2;
}

void paint_square(int k, uint16_t colour) {
    int x = bar_x0() + 7 + 36 * k, y = bar_y0() + 7;
    GDI_SetFillColor(pDC, colour);
    GDI_Rectangle(pDC, x, y, x + 31, y + 31);
}

uint16_t active_colour() {
    return SYS_fGrayScale ? 0 : kGreen;
}
} // namespace

void SystemMsg(DC *dc, const char *line1, const char *line2) {
    host::trace("SystemMsg");
    wait_page_copied();
    TTY_Allocate(dc);
    TTY_SetPos(1, 1);
    TTY_Puts(line1 ? line1 : "");
    TTY_SetPos(2, 5);
    TTY_Puts(line2 ? line2 : "");
    PXP_WaitUpdate();
    VID_Update();
    // Operators of a host panel read the screen's messages here too.
    host::console_line(std::string(line1 ? line1 : "") + "\n    " + (line2 ? line2 : ""));
}

void DebugMsg(const char *text) {
    DC *dc = GDI_GetDisplayDC();
    GDI_SetTextColor(dc, 0);
    GDI_SetFillColor(dc, kLight);
    GDI_SetPen(dc, 0, 1, 0);
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    GDI_SetTextAlign(dc, 0);
    RECT r{5, 110, 300, 140};
    GDI_SetClipRect(dc, &r, nullptr);
    GDI_Rectangle(dc, 5, 110, 300, 140);
    GDI_ByteTextOut(dc, 10, 120, text);
    VID_Update();
    host::console_line(text ? text : "");
    Delay(200);
}

void VID_DnldMsg(int step) {
    PXP_WaitUpdate();
    VID_Update();
    const char *text = nullptr;
    switch (step) {
    case 0:
        text = "Master Logic";
        break;
    case 5:
        text = "I/O Config";
        break;
    case 7:
        text = "Graphic Objects";
        break;
    case 8:
        text = "String Objects";
        break;
    case 9:
        text = "Bitmap Objects";
        break;
    case 10:
        text = "Texttbl Objects";
        break;
    case 11:
        text = "Fonts";
        break;
    case 20:
        text = "Protocols";
        break;
    case 21:
        text = "SMS Config";
        break;
    case 22:
        text = "Data Log Config";
        break;
    case 24:
        text = "Report Config";
        break;
    case 25:
        text = "Recipe Config";
        break;
    case 29:
        text = "Login Config";
        break;
    case 33:
        text = "Mqtt Config";
        break;
    default:
        return;
    }
    SystemMsg(pDC, "LOADING PROGRAM", text);
    GDI_SetPen(pDC, 1, 1, 0);
    GDI_SetFillColor(pDC, kNone);
    GDI_Rectangle(pDC, bar_x0(), bar_y0(), bar_x0() + 296, bar_y0() + 44);
    DA_cnt = 0;
    for (int k = 0; k < 8; ++k)
        paint_square(k, k == DA_cnt ? active_colour() : kLight);
}

void VID_DnldUpdate() {
    if (++g_dnld_calls <= 9) return;
    g_dnld_calls = 0;
    TickleWatchdogReal();
    wait_page_copied();
    paint_square(DA_cnt, kLight);
    DA_cnt = (DA_cnt + 1) % 8;
    paint_square(DA_cnt, active_colour());
    PXP_WaitUpdate();
    VID_Update();
}

void VID_DnldHalted() {
    SystemMsg(pDC, "DOWNLOAD ABORTED", "Program/Graphics may be invalid");
    PGM_state = 6;
}

void Msg_Reset() {
    DA_cnt = 0;
    g_dnld_calls = 0;
}
