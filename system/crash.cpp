#include "system/crash.h"

#include "base/trace.h"
#include "gdi/gdi.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/ctl.h"
#include "host/power.h"
#include "host/shell.h"
#include "platform/keys.h"
#include "platform/pxp.h"
#include "platform/tick.h"
#include "platform/video.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/sys.h"
#include "system/touch.h"

#include <signal.h>

#include <cstdio>
#include <cstring>

int TchX, TchY;
uint8_t SYS_Exception;

namespace {
constexpr COLOR kBackground = 0xFFDF, kTitle = 0xF820, kQuestion = 0x003F, kButtonFace = 0xC638;
constexpr int kRopCopy = 4;
constexpr int kBand = 21; // height of a text band, and the gap between bands
constexpr int kButtonHeight = 27;
constexpr int kTouchPress = 512;
constexpr uint32_t kTicksPerSecond = 10000;

struct Crash {
    int (*poll)() = nullptr;
    int count = 59;
};
Crash g;

struct Layout {
    int width, height;
    RECT yes, no;
    int count_top;
};

Layout layout() {
    DC *dc = GDI_GetDisplayDC();
    Layout l{};
    l.width = dc->bounds.right + 1;
    l.height = dc->bounds.bottom + 1;
    const int question_top = 5 * kBand; // bands at 21, 63, 105
    const int top = question_top + 2 * kBand;
    const int mid = l.width / 2;
    l.yes = RECT{int16_t(mid - 160), int16_t(top), int16_t(mid - 50), int16_t(top + kButtonHeight)};
    l.no = RECT{int16_t(mid + 50), int16_t(top), int16_t(mid + 160), int16_t(top + kButtonHeight)};
    l.count_top = top + kButtonHeight + kBand;
    return l;
}

// Text lines centred in a full-width band; `lines` are ended by 0 each.
void band_text(DC *dc, int top, int width, COLOR colour, const char *lines, int n_lines,
               size_t size) {
    char counted[128];
    if (size > sizeof counted - 1) return;
    counted[0] = char(n_lines);
    std::memcpy(counted + 1, lines, size);
    RECT r{0, int16_t(top), int16_t(width), int16_t(top + kBand)};
    GDI_SetTextColor(dc, colour);
    GDI_SetFillColor(dc, kColorNone);
    GDI_RectByteTextOut(dc, 4 | 32, &r, counted + 1);
}

void fill(DC *dc, int left, int top, int right, int bottom, COLOR colour) {
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, colour);
    GDI_Rectangle(dc, left, top, right, bottom);
}

void draw_button(DC *dc, const RECT &r, const char *label, int pressed) {
    // Outlined in black, unfilled; grey bevel raised or sunken; label centred.
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetFillColor(dc, kColorNone);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(pressed, kButtonFace, &light, &dark);
    UTIL_ShadeRect(dc, &r, light, dark, 1);
    char counted[8] = {1};
    std::snprintf(counted + 1, sizeof counted - 1, "%s", label);
    GDI_SetTextColor(dc, 0);
    GDI_RectByteTextOut(dc, 4 | 32, &r, counted + 1);
}

void show() {
    PXP_WaitUpdate();
    VID_Update();
}

void draw_count(DC *dc, const Layout &l, int seconds) {
    fill(dc, 0, l.count_top, l.width, l.count_top + kBand, kBackground);
    char text[16];
    std::snprintf(text, sizeof text, "Reset in:%02d", seconds % 100);
    band_text(dc, l.count_top, l.width, kQuestion, text, 1, std::strlen(text) + 1);
}

const char *fault_text(int sig) {
    switch (sig) {
    case SIGSEGV:
        return "Invalid Memory Access Fault";
    case SIGBUS:
        return "Memory Alignment Fault";
    case SIGILL:
        return "Illegal Code execution";
    case SIGABRT:
        return "Buffer Overflow error";
    default:
        return "Erroneous Arithmetic Operation performed";
    }
}

bool inside(const RECT &r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

int default_poll() {
    TimerISR();
    // People and tests keep looking into the panel (screenshots, touches)
    // while it waits.
    host::ctl_poll();
    return KEY_Check(ExcpTch);
}
} // namespace

int ExcpTch(int event, int x, int y) {
    if (event != kTouchPress) return 0;
    TchX = x;
    TchY = y;
    return 1;
}

void Crash_DrawScreen(int sig) {
    DC *dc = GDI_GetDisplayDC();
    const Layout l = layout();
    RECT all{0, 0, int16_t(l.width), int16_t(l.height)};
    GDI_SetClipRect(dc, &all, nullptr);
    GDI_SetROP(dc, kRopCopy); // whatever mode the faulting code left
    fill(dc, 0, 0, l.width, l.height, kBackground);
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    band_text(dc, kBand, l.width, kTitle, "System Exception Occurred", 1,
              sizeof "System Exception Occurred");
    const char *fault = fault_text(sig);
    band_text(dc, 3 * kBand, l.width, kTitle, fault, 1, std::strlen(fault) + 1);
    if (l.height <= 240) {
        static const char q[] =
            "System will Reset!\0Would you like to erase\0the Application Program ?";
        band_text(dc, 5 * kBand, l.width, kQuestion, q, 3, sizeof q);
    } else {
        static const char q[] =
            "System will Reset!\0Would you like to erase the Application Program ?";
        band_text(dc, 5 * kBand, l.width, kQuestion, q, 2, sizeof q);
    }
    draw_button(dc, l.yes, "Yes", 0);
    draw_button(dc, l.no, "No", 0);
    g.count = 59;
    draw_count(dc, l, g.count);
    show();
}

void Crash_DrawCount(int seconds) {
    draw_count(GDI_GetDisplayDC(), layout(), seconds);
    show();
}

void Crash_PressButton(int yes) {
    const Layout l = layout();
    draw_button(GDI_GetDisplayDC(), yes ? l.yes : l.no, yes ? "Yes" : "No", 1);
    show();
    TCH_Beep(3);
}

CrashAnswer Crash_Wait() {
    const Layout l = layout();
    g.count = 59;
    uint32_t last = FPGA_GetFrt();
    for (;;) {
        if ((g.poll ? g.poll() : default_poll()) == 1) {
            // A touch outside both buttons is ignored.
            if (inside(l.yes, TchX, TchY)) {
                Crash_PressButton(1);
                return kCrashYes;
            }
            if (inside(l.no, TchX, TchY)) {
                Crash_PressButton(0);
                return kCrashNo;
            }
        }
        while (FPGA_GetFrt() - last >= kTicksPerSecond && g.count > 0) {
            last += kTicksPerSecond;
            Crash_DrawCount(--g.count);
        }
        if (g.count == 0) {
            Crash_PressButton(0);
            return kCrashTimeout;
        }
        // The touch is polled every 10 ms; the virtual clock of the tests
        // moves on by as much.
        host::sleep_ms(10);
    }
}

void Crash_SetPoll(int (*poll)()) {
    g.poll = poll;
}

void ExceptionISR(int sig) {
    // No slice may interrupt the crash screen.
    host::alarm_disarm();
    GenLogFile(); // the screen is shown even when the log cannot be written
    VideoStop();
    Crash_DrawScreen(sig);
    // A blank screen is lit again, and the saver must not blank the crash
    // screen during the countdown: nobody would see the question.
    TCH_ScreenSaver(0);
    // The wait is longer than the watchdog's timeout.
    StopWatchdog();
    if (Crash_Wait() == kCrashYes) SYS_VDG();
    SYS_WarmReset();
    // Both ways end in a reboot, whatever the reset services did.
    host::shell("reboot");
    host::reboot();
}

namespace {
struct SignalName {
    const char *name;
    int sig;
};
constexpr SignalName kSignals[] = {
    {"segv", SIGSEGV}, {"bus", SIGBUS}, {"fpe", SIGFPE}, {"ill", SIGILL}, {"abrt", SIGABRT},
};
int g_pending_signal;
void (*g_next_poll)();

// Raised from the main loop after the request was answered, so that the
// client is not left waiting through the crash screen.
void raise_pending() {
    MainLoopHostPoll = g_next_poll;
    int sig = g_pending_signal;
    g_pending_signal = 0;
    if (sig) raise(sig);
    if (MainLoopHostPoll) MainLoopHostPoll();
}
} // namespace

void Crash_CtlRegister() {
    host::ctl_register("crash", [](const std::vector<std::string> &a) -> std::string {
        if (host::config_int("test_hooks", 0) != 1) return "error: test hooks are off";
        if (a.size() == 2)
            for (const SignalName &s : kSignals)
                if (a[1] == s.name) {
                    if (!g_pending_signal) {
                        g_next_poll = MainLoopHostPoll;
                        MainLoopHostPoll = raise_pending;
                    }
                    g_pending_signal = s.sig;
                    return "ok raising " + a[1];
                }
        return "error: usage: crash segv | bus | fpe | ill | abrt";
    });
}

void Crash_Reset() {
    g = Crash{};
    TchX = TchY = 0;
    SYS_Exception = 0;
    g_pending_signal = 0;
    g_next_poll = nullptr;
}
