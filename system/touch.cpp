// The polled tick: touch samples into press and release events, the 10 ms
// system tick and flash bit, the beeper, the screen saver and the power
// supervisor's figures. Called very often from the main loop and busy waits.
#include "system/touch.h"

#include "base/le.h"
#include "base/trace.h"
#include "host/config.h"
#include "host/powerfail.h"
#include "host/root.h"
#include "host/touchdev.h"
#include "net/tx.h"
#include "objects/objects.h"
#include "platform/keys.h"
#include "platform/pass_wait.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/appfile.h"
#include "system/startup.h"
#include "system/sys.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TouchCal PrmTbl;
uint8_t touch_state, release_mode;
int release_delta = 25;
uint32_t tchTic;
uint16_t sysTic;
uint32_t sysDTic;
uint8_t sysFlash;
uint8_t saver_state;
uint32_t saver_timer, saver_preset;
uint8_t saver_mode;
int beep_count;
uint8_t beep_ovrd;

namespace {
constexpr uint16_t kPress = 512, kRelease = 256;
constexpr int kJitterMax = 14;
constexpr int kCorner = 39;
constexpr uint32_t kWakeTicks = 125;

struct TouchDriver {
    TouchCallback cb = nullptr;
    int fd = -1;
    uint32_t idle_wait = 0; // the wait whose empty verdict a read was last left out for
    int release_count = 5;
    uint8_t beep_enabled = 1;
    bool beeper_on = false;
    bool have_frt = false;
    uint32_t last_frt = 0;  // counter value of the last accepted call
    uint32_t flash_tic = 0; // sysDTic at the last flash change
    bool wake_request = false;
    // Sample being built from the events.
    int raw_x = 0, raw_y = 0;
    bool got_x = false;
    // Last sample and the down point (screen units and raw).
    int last_x = 0, last_y = 0;
    int down_x = 0, down_y = 0, down_rx = 0, down_ry = 0;
    uint8_t buf[16 * 64];
    unsigned buffered = 0;
};
TouchDriver td;

int width() {
    return host::screen_width();
}
int height() {
    return host::screen_height();
}

void identity_cal() {
    PrmTbl = {1, 1, 0, 0, width(), height()};
}
bool calibrated() {
    return !(PrmTbl.xmax == 1 && PrmTbl.ymax == 1);
}

void beeper(bool on) {
    if (on == td.beeper_on) return;
    td.beeper_on = on;
    std::string p = host::path(kBeeperPath);
    host::make_dirs("/sys/class/gpio/gpio21");
    if (FILE *f = std::fopen(p.c_str(), "w")) {
        std::fputs(on ? "1\n" : "0\n", f);
        std::fclose(f);
    }
}

void saver_step(uint32_t ticks) {
    switch (saver_state) {
    case 1:
        saver_timer = saver_timer > ticks ? saver_timer - ticks : 0;
        if (saver_timer == 0) {
            saver_mode = 1;
            BKLT_Ctrl(1, 0);
            touch_state = 0;
            KEY_Flush();
            KEY_FlushTouch();
            // A touch swallowed while the screen woke last time is no
            // request to wake this time.
            td.wake_request = false;
            saver_state = 2;
        }
        break;
    case 2:
        if (td.wake_request) {
            td.wake_request = false;
            saver_timer = kWakeTicks;
            BKLT_Ctrl(1, sr_get(sr::kBacklight));
            saver_state = 3;
        }
        break;
    case 3:
        saver_timer = saver_timer > ticks ? saver_timer - ticks : 0;
        if (saver_timer == 0) {
            saver_mode = 0;
            saver_timer = saver_preset;
            saver_state = 1;
        }
        break;
    default:
        break;
    }
}

void report(int code, int x, int y) {
    if (td.cb) td.cb(code, x, y);
}

void set_point(int x, int y) {
    sr_put(sr::kTouchX, uint16_t(x));
    sr_put(sr::kTouchY, uint16_t(y));
}

// One complete sample: raw position and whether the screen is pressed.
void sample(int rx, int ry, bool pressed) {
    int x = 0, y = 0;
    if (pressed) TCH_RawToScreen(rx, ry, &x, &y);
    switch (touch_state) {
    case 0:
        set_point(0, 0);
        if (!pressed) break;
        if (saver_mode) {
            td.wake_request = true; // the touch only lights the screen
            break;
        }
        TCH_TickleSaver();
        td.last_x = x;
        td.last_y = y;
        touch_state = 1;
        break;
    case 1:
    case 2: {
        if (!pressed) {
            if (touch_state == 2) report(kRelease, td.down_x, td.down_y);
            touch_state = 0;
            break;
        }
        if (!calibrated() && release_mode != 2) {
            sr_put(sr::kSystemScreen, sr::kSysScreenTouchCal); // ask for the calibration screen
            identity_cal();
            touch_state = 0;
            break;
        }
        int jitter = std::max(std::abs(x - td.last_x), std::abs(y - td.last_y));
        bool on_screen = x >= 0 && x < width() && y >= 0 && y < height();
        td.last_x = x;
        td.last_y = y;
        if (jitter > kJitterMax || (!on_screen && release_mode != 2)) {
            if (touch_state == 2) {
                report(kRelease, td.down_x, td.down_y);
                touch_state = 1;
            }
            break;
        }
        bool boot = sr_get(sr::kSystemScreen) == sr::kSysScreenBoot;
        // While the key panel is open the corner is the panel's.
        if (touch_state == 1 && release_mode == 0 && !boot && !Key_sld && x >= width() - kCorner &&
            y < kCorner) {
            OBJM_SlideKey();
            touch_state = 0;
            break;
        }
        report(kPress, x, y);
        set_point(x, y);
        td.down_x = x;
        td.down_y = y;
        td.down_rx = rx;
        td.down_ry = ry;
        touch_state = 3;
        break;
    }
    case 3:
        if (!pressed || (x == 0 && y == 0)) {
            report(kRelease, td.down_x, td.down_y);
            set_point(0, 0);
            touch_state = 0;
            break;
        }
        if (std::max(std::abs(rx - td.down_rx), std::abs(ry - td.down_ry)) < release_delta) break;
        if (release_mode == 1) {
            td.last_x = x;
            td.last_y = y;
            touch_state = 2;
        }
        break;
    default:
        touch_state = 0;
        break;
    }
}

// Pressure is scaled by the raw x position: the film is less sensitive
// towards one edge.
int scaled_pressure(int raw, int x) {
    if (x < 201) return raw * 10;
    if (x <= 400) return raw * 5;
    if (x <= 800) return raw * 4;
    if (x <= 2096) return raw * 3 / 2;
    return raw;
}

void event(uint16_t type, uint16_t code, int32_t value, bool with_pressure) {
    if (type != 3) return;
    if (!with_pressure) {
        // Axes are exchanged on this path: code 0 is vertical.
        if (code == 0) {
            td.raw_y = value;
            td.got_x = true;
        } else if (code == 1 && td.got_x) {
            td.raw_x = value;
            td.got_x = false;
            sample(td.raw_x, td.raw_y, true);
        } else if (code == 24 && value == 0) {
            td.got_x = false;
            sample(0, 0, false);
        }
        return;
    }
    if (code == 0) {
        td.raw_x = value;
        td.got_x = true;
    } else if (code == 1 && td.got_x) {
        td.raw_y = value;
    } else if (code == 24) {
        td.got_x = false;
        int threshold = sr_get(sr::kTouchThreshold) ? sr_get(sr::kTouchThreshold) : 200;
        int p = scaled_pressure(value, td.raw_x);
        if (p > threshold) {
            sr_put(sr::kTouchPressure, uint16_t(p));
            sample(td.raw_x, td.raw_y, true);
        } else {
            set_point(0, 0);
            sample(0, 0, false);
        }
    }
}

// The touch FIFO, watched by the wait between passes.
void touch_reopen() {
    if (td.fd >= 0) PassWait_Unwatch(td.fd);
    host::touch_close(td.fd);
    td.fd = host::touch_open(kTouchDevice);
    if (td.fd >= 0) PassWait_Watch(td.fd, POLLIN);
}

void read_touch() {
    // No read when the wait between passes saw nothing arrive (the tick
    // runs once a pass; a tick outside the passes reads).
    if (PassWait_Idle(td.fd, &td.idle_wait)) return;
    bool with_pressure = TCH_MeasuresPressure();
    for (;;) {
        long n =
            host::touch_read(td.fd, td.buf + td.buffered, unsigned(sizeof td.buf - td.buffered));
        if (n < 0) {
            if (errno == EBADF) touch_reopen();
            return;
        }
        if (n == 0) return;
        td.buffered += unsigned(n);
        unsigned off = 0;
        for (; off + host::kTouchEventBytes <= td.buffered; off += host::kTouchEventBytes) {
            const uint8_t *p = td.buf + off;
            event(le16(p + 8), le16(p + 10), int32_t(le32(p + 12)), with_pressure);
        }
        std::memmove(td.buf, td.buf + off, td.buffered - off);
        td.buffered -= off;
    }
}
} // namespace

void TCH_RawToScreen(int rx, int ry, int *x, int *y) {
    int64_t cx = rx, cy = ry;
    if (PrmTbl.xmax != 1 || PrmTbl.ymax != 1) {
        cx = PrmTbl.xmax ? int64_t(width()) * rx / PrmTbl.xmax : 0;
        cy = PrmTbl.ymax ? height() - int64_t(height()) * ry / PrmTbl.ymax : 0;
    }
    *x = PrmTbl.xscale ? int(int64_t(width()) * (cx - PrmTbl.xoff) / PrmTbl.xscale) : 0;
    *y = PrmTbl.yscale ? int(int64_t(height()) * (cy - PrmTbl.yoff) / PrmTbl.yscale) : 0;
}

int TCH_MeasuresPressure() {
    return KernelRevNumber() >= 3549;
}

long TCH_Pending() {
    if (td.fd < 0) return 0;
    return host::touch_pending(td.fd) + long(td.buffered);
}

int TCH_Open(TouchCallback cb) {
    host::trace("TCH_Open");
    touch_state = 0;
    release_mode = 0;
    release_delta = 25;
    td.release_count = 5;
    td.cb = cb;
    identity_cal();
    uint32_t rec[6];
    if (ReadTchClb(rec) && rec[0] && rec[1])
        PrmTbl = {int32_t(rec[0]), int32_t(rec[1]), int32_t(rec[2]),
                  int32_t(rec[3]), int32_t(rec[4]), int32_t(rec[5])};
    sysTic = 0;
    sysFlash = 1;
    TxTimerTickEnabled = 1;
    // The line comes up low after a reset; a reboot right after a beep
    // left its stand-in file saying it sounds.
    const bool sounding = beep_count > 0 || beep_ovrd;
    td.beeper_on = !sounding;
    beeper(sounding);
    touch_reopen();
    td.buffered = 0;
    if (td.fd < 0) {
        std::printf("\nTouch Open Error");
        std::fflush(stdout);
        return 0;
    }
    return 1;
}

int TCH_Ctrl(int command, int arg) {
    switch (command) {
    case 0:
        release_mode = 0;
        release_delta = 25;
        td.release_count = 5;
        break;
    case 1:
        release_mode = 1;
        release_delta = 1;
        break;
    case 2:
        release_mode = 2;
        PrmTbl = {1, 1, 0, 0, width(), height()};
        release_delta = 25;
        td.release_count = 5;
        break;
    case 4:
        PrmTbl.xoff = arg;
        break;
    case 5:
        PrmTbl.yoff = arg;
        break;
    case 6:
        PrmTbl.xscale = arg;
        break;
    case 7:
        PrmTbl.yscale = arg;
        break;
    case 8:
        return PrmTbl.xoff;
    case 9:
        return PrmTbl.yoff;
    case 10:
        return PrmTbl.xscale;
    case 11:
        return PrmTbl.yscale;
    case 14:
        return width();
    case 15:
        return height();
    case 16: {
        int v = arg & 0xFFFF;
        release_delta = v ? std::min(v, 5) * 25 : 25;
        break;
    }
    case 17:
        PrmTbl.xmax = arg;
        break;
    case 18:
        PrmTbl.ymax = arg;
        break;
    default:
        break;
    }
    return 0;
}

void TCH_Beep(int count) {
    host::trace("TCH_Beep");
    if (!td.beep_enabled) return;
    beep_count = count;
    if (count > 0) beeper(true);
}
void TCH_BeepEnable(int on) {
    host::trace("TCH_BeepEnable");
    td.beep_enabled = on ? 1 : 0;
}
void TCH_BeepOvrd(int on) {
    host::trace("TCH_BeepOvrd");
    beep_ovrd = on ? 1 : 0;
    beeper(on || beep_count > 0);
}

void TCH_ScreenSaver(int minutes) {
    host::trace("TCH_ScreenSaver");
    if (minutes <= 0) {
        if (saver_mode) BKLT_Ctrl(1, sr_get(sr::kBacklight)); // never leave the screen dark
        saver_state = 0;
        saver_mode = 0;
        td.wake_request = false;
        return;
    }
    saver_preset = 6000u * uint32_t(minutes);
    saver_timer = saver_preset;
    if (saver_state == 0) saver_state = 1;
}

void TCH_TickleSaver() {
    host::trace("TCH_TickleSaver");
    if (saver_state == 2)
        td.wake_request = true;
    else if (saver_state == 1)
        saver_timer = saver_preset;
}

void TCH_ReadPowerdown() {
    uint8_t b[10];
    int n = host::powerdown_read(b, sizeof b);
    if (n > 0) std::memcpy(plc_reg + sr_offset(sr::kPowerdown), b, size_t(n));
}

void TimerISR() {
    host::trace("TimerISR");
    uint32_t now = FPGA_GetFrt();
    if (!td.have_frt) {
        td.have_frt = true;
        td.last_frt = now;
        return;
    }
    uint32_t elapsed = now - td.last_frt;
    if (elapsed < 10) return;
    uint32_t ms = elapsed / 10;
    td.last_frt += ms * 10;
    uint32_t old = tchTic;
    tchTic += ms;
    uint32_t ticks = tchTic / 10 - old / 10;
    if (ticks) {
        uint32_t before = sysDTic;
        sysTic = uint16_t(sysTic + ticks);
        sysDTic += ticks;
        if (sysDTic - td.flash_tic >= 50) {
            sysFlash ^= 1;
            td.flash_tic = sysDTic;
        }
        saver_step(ticks);
        if (sysDTic / 10 != before / 10) TCH_ReadPowerdown();
    }
    if (beep_count > 0) --beep_count;
    if (beep_count <= 0 && !beep_ovrd) beeper(false);
    if (td.fd >= 0) read_touch();
}

void Touch_Reset() {
    if (td.fd >= 0) PassWait_Unwatch(td.fd);
    host::touch_close(td.fd);
    td = TouchDriver{};
    PrmTbl = {};
    touch_state = release_mode = 0;
    release_delta = 25;
    tchTic = 0;
    sysTic = 0;
    sysDTic = 0;
    sysFlash = 0;
    saver_state = 0;
    saver_timer = saver_preset = 0;
    saver_mode = 0;
    beep_count = 0;
    beep_ovrd = 0;
}
