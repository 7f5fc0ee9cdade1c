// Control-socket commands that work the panel as an operator would: touches
// and drags on the touch screen, and key presses.
//
// A touch is written into the touch device as the board's kernel driver
// reports it: the screen point is turned into raw values through the panel's
// current calibration (while it has none, raw values are screen units), or
// given raw ("touch --raw RX RY"), the
// axes and the pressure follow the kernel revision, and each sample is taken
// by the polled tick before the next one is written, so that the answer can
// tell the state the touch driver reached after every sample.
#include "host/clock.h"
#include "host/config.h"
#include "host/ctl.h"
#include "host/root.h"
#include "host/touchdev.h"
#include "platform/keys.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/pgm.h"
#include "system/touch.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr int kMaxDragSteps = 500;  // the device's buffer holds them all
constexpr int kDragStepPixels = 10; // within the driver's jitter limit
constexpr int kTakeMs = 200;        // longest wait for the tick to take a sample

bool parse_int(const std::string &text, long lo, long hi, long *out) {
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno == ERANGE || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// Raw value whose screen coordinate is `target` (or the nearest one), for one
// axis: `screen(raw)` is monotonic, `estimate` comes from the inverse of the
// calibration, and the integer steps of the driver are followed outward from it.
template <class F> int nearest_raw(double estimate, int target, F screen) {
    const long start = std::lround(std::clamp(estimate, -1e9, 1e9));
    long best = start, best_miss = std::labs(long(screen(int(start))) - target);
    for (long d = 1; d <= 64 && best_miss; ++d)
        for (long r : {start + d, start - d}) {
            long miss = std::labs(long(screen(int(r))) - target);
            if (miss < best_miss) {
                best = r;
                best_miss = miss;
            }
        }
    return int(best);
}

void screen_to_raw(int x, int y, int *rx, int *ry) {
    const double W = host::screen_width(), H = host::screen_height();
    const TouchCal c = PrmTbl;
    double cx = c.xscale ? x * double(c.xscale) / W + c.xoff : 0;
    double cy = c.yscale ? y * double(c.yscale) / H + c.yoff : 0;
    if (c.xmax != 1 || c.ymax != 1) {
        cx = cx * c.xmax / W;
        cy = (H - cy) * c.ymax / H;
    }
    *rx = nearest_raw(cx, x, [&](int r) {
        int sx, sy;
        TCH_RawToScreen(r, 0, &sx, &sy);
        return sx;
    });
    *ry = nearest_raw(cy, y, [&](int r) {
        int sx, sy;
        TCH_RawToScreen(0, r, &sx, &sy);
        return sy;
    });
}

// Writes events and runs the polled tick until the driver has taken them.
// Returns a line with the state reached and what it reported.
bool write_and_take(const std::vector<host::TouchEvent> &ev, const std::string &what,
                    std::string *out) {
    uint16_t wr = KEY_twr;
    uint16_t sr3 = sr_get(sr::kSystemScreen);
    if (!host::touch_write(kTouchDevice, ev.data(), int(ev.size()))) return false;
    for (int waited = 0; waited < kTakeMs && TCH_Pending() > 0; ++waited) {
        host::sleep_ms(1); // the tick takes events at most once a millisecond
        TimerISR();
    }
    *out += "\n" + what + ": state " + std::to_string(touch_state);
    if (sr_get(sr::kSystemScreen) != sr3)
        *out += ", %SR3 = " + std::to_string(sr_get(sr::kSystemScreen));
    for (uint16_t i = wr; i != KEY_twr; i = uint16_t((i + 1) % kTouchRingSize)) {
        const TouchEntry &e = KEY_touch[i];
        const char *name = e.code == kTouchDown ? "press"
                           : e.code == kTouchUp ? "release"
                                                : "event";
        *out += std::string(", ") + name + " " + std::to_string(e.x) + " " + std::to_string(e.y);
    }
    return true;
}

std::vector<host::TouchEvent> sample_events(int rx, int ry) {
    if (!TCH_MeasuresPressure()) // this driver reports the vertical axis as code 0
        return {{3, 0, ry}, {3, 1, rx}};
    int threshold = sr_get(sr::kTouchThreshold) ? sr_get(sr::kTouchThreshold) : 200;
    return {{3, 0, rx}, {3, 1, ry}, {3, 24, threshold + 1}};
}

// Presses at the points in turn (the first one twice: first contact, then the
// confirming sample) and lifts. Raw points go to the device as they are. On
// a drag over a running user page the objects take what the touch ring holds
// after each sample, as the screen loop would between the samples of a
// finger's drag: an object that switches the touch driver to reporting every
// move on its press sees the moves that follow.
std::string touch_path(const std::string &head, const std::vector<std::pair<int, int>> &points,
                       bool raw = false) {
    const bool drag = points.size() > 1 && PGM_state == 5;
    std::string out = "ok " + head;
    std::vector<std::pair<int, int>> samples{points.front()};
    samples.insert(samples.end(), points.begin(), points.end());
    for (size_t i = 0; i < samples.size(); ++i) {
        int rx = samples[i].first, ry = samples[i].second;
        if (!raw) screen_to_raw(samples[i].first, samples[i].second, &rx, &ry);
        if (i == 0 && !raw) out += " (raw " + std::to_string(rx) + " " + std::to_string(ry) + ")";
        if (!write_and_take(sample_events(rx, ry), "sample " + std::to_string(i + 1), &out))
            return "error: the touch device does not take events (touch input is off)";
        if (drag && i > 0) KEY_Check(OBJM_Keypress);
    }
    if (!write_and_take({{3, 24, 0}}, "release", &out))
        return "error: the touch device does not take events (touch input is off)";
    return out;
}

bool parse_point(const std::string &xs, const std::string &ys, int *x, int *y, std::string *err) {
    long vx, vy;
    const long w = host::screen_width(), h = host::screen_height();
    if (!parse_int(xs, 0, w - 1, &vx) || !parse_int(ys, 0, h - 1, &vy)) {
        *err = "error: the point " + xs + " " + ys + " is not on the screen (x 0.." +
               std::to_string(w - 1) + ", y 0.." + std::to_string(h - 1) + ")";
        return false;
    }
    *x = int(vx);
    *y = int(vy);
    return true;
}

// Raw readings as the touch film gives them, taken through no calibration:
// the calibration screen's corner step wants readings beyond the screen.
constexpr long kRawMax = 32767; // a touch event carries 16-bit coordinates

std::string cmd_touch(const std::vector<std::string> &a) {
    if (a.size() == 4 && a[1] == "--raw") {
        long rx, ry;
        if (!parse_int(a[2], 0, kRawMax, &rx) || !parse_int(a[3], 0, kRawMax, &ry))
            return "error: raw readings " + a[2] + " " + a[3] + ": 0.." + std::to_string(kRawMax);
        return touch_path("touch --raw " + a[2] + " " + a[3], {{int(rx), int(ry)}}, true);
    }
    if (a.size() != 3) return "error: usage: touch X Y | touch --raw RX RY";
    int x, y;
    std::string err;
    if (!parse_point(a[1], a[2], &x, &y, &err)) return err;
    return touch_path("touch " + a[1] + " " + a[2], {{x, y}});
}

std::string cmd_drag(const std::vector<std::string> &a) {
    if (a.size() != 5 && a.size() != 6) return "error: usage: touch-drag X1 Y1 X2 Y2 [STEPS]";
    int x1, y1, x2, y2;
    std::string err;
    if (!parse_point(a[1], a[2], &x1, &y1, &err) || !parse_point(a[3], a[4], &x2, &y2, &err))
        return err;
    long steps = std::max(std::abs(x2 - x1), std::abs(y2 - y1)) / kDragStepPixels + 1;
    if (steps > kMaxDragSteps) steps = kMaxDragSteps;
    if (a.size() == 6 && !parse_int(a[5], 1, kMaxDragSteps, &steps))
        return "error: STEPS must be 1.." + std::to_string(kMaxDragSteps);
    std::vector<std::pair<int, int>> points;
    for (long i = 0; i <= steps; ++i)
        points.push_back({int(x1 + (x2 - x1) * i / steps), int(y1 + (y2 - y1) * i / steps)});
    return touch_path("touch-drag " + a[1] + " " + a[2] + " " + a[3] + " " + a[4] + " in " +
                          std::to_string(steps) + " steps",
                      points);
}

// A panel key pressed and let go: the key code, then the key release, into
// the key ring as the keypad driver queues them.
std::string cmd_key(const std::vector<std::string> &a) {
    if (a.size() != 2 && a.size() != 3) return "error: usage: key N [PARAMETER]";
    long key, param = 0;
    if (!parse_int(a[1], 1, kKeyRelease - 1, &key) || key == kKeyMessage)
        return "error: key " + a[1] + ": a key code is 1..254 but not " +
               std::to_string(kKeyMessage);
    if (a.size() == 3 && !parse_int(a[2], 0, 0xFFFF, &param))
        return "error: key parameter " + a[2] + ": 0..65535";
    if (KEY_Waiting() > kKeyRingSize - 3)
        return "error: the key ring is full (" + std::to_string(KEY_Waiting()) +
               " keys wait to be taken)";
    KEY_Press(int(key), int(param), 0);
    KEY_Press(kKeyRelease, 0, 0);
    return "ok key " + a[1] + " pressed and released (" + std::to_string(KEY_Waiting()) +
           " keys wait)";
}

std::string file_word(const char *board_path) {
    std::string v;
    if (FILE *f = std::fopen(host::path(board_path).c_str(), "r")) {
        char buf[32] = {};
        if (std::fgets(buf, sizeof buf, f)) v = buf;
        std::fclose(f);
    }
    while (!v.empty() && (v.back() == '\n' || v.back() == ' '))
        v.pop_back();
    return v;
}
} // namespace

std::string Touch_StatusLines() {
    std::string backlight = file_word("/sys/class/backlight/mxs-bl/brightness");
    return "\nbacklight: " + (backlight.empty() ? std::string("unset") : backlight) +
           "\nbeeper: " + (file_word(kBeeperPath) == "1" ? "on" : "off") +
           "\ntouch_state: " + std::to_string(touch_state) +
           "\nkeys_waiting: " + std::to_string(KEY_Waiting()) +
           "\ntouch_events_waiting: " + std::to_string(KEY_TouchWaiting());
}

void Touch_CtlRegister() {
    host::ctl_register("touch", cmd_touch);
    host::ctl_register("touch-drag", cmd_drag);
    host::ctl_register("key", cmd_key);
}
