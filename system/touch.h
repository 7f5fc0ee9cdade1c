// Touch screen, beeper, screen saver and the polled 10 ms tick.
#pragma once
#include <cstdint>
#include <string>

// Touch calibration record, in the order of its file: x maximum, y maximum,
// x offset, y offset, x scale, y scale. Maxima of 1: raw values are screen units.
struct TouchCal {
    int32_t xmax, ymax, xoff, yoff, xscale, yscale;
};
extern TouchCal PrmTbl;

// Touch states and release modes.
extern uint8_t touch_state;  // 0 idle, 1 first contact, 2 dragging, 3 pressed
extern uint8_t release_mode; // 0 normal, 1 drag, 2 calibration
extern int release_delta;    // raw movement that counts as a move

extern uint32_t tchTic; // milliseconds
extern uint16_t sysTic; // 10 ms ticks
extern uint32_t sysDTic;
extern uint8_t sysFlash; // toggles every 500 ms

extern uint8_t saver_state; // 0 off, 1 counting, 2 blanked, 3 waking
extern uint32_t saver_timer, saver_preset;
extern uint8_t saver_mode; // 1 while the screen is blank

extern int beep_count;
extern uint8_t beep_ovrd;

// The touch driver's consumer: (event, x, y); 512 press, 256 release.
using TouchCallback = void (*)(int code, int x, int y);

// Opens the touch device and resets the touch state; 1 when the device opened.
int TCH_Open(TouchCallback cb);
int TCH_Ctrl(int command, int arg);
void TimerISR();
// The power-fail driver's 10 status bytes into %SR194..%SR198 (unchanged
// without the driver's file).
void TCH_ReadPowerdown();
void TCH_Beep(int count);
void TCH_BeepEnable(int on);
void TCH_BeepOvrd(int on);
void TCH_ScreenSaver(int minutes);
void TCH_TickleSaver();

// Screen point of a raw sample through the current calibration.
void TCH_RawToScreen(int rx, int ry, int *x, int *y);
// 1 when the kernel's touch driver measures pressure (else pressure only
// marks the release, and the driver reports the axes exchanged).
int TCH_MeasuresPressure();
// Bytes of touch events that wait to be taken by TimerISR (0 without a device).
long TCH_Pending();

// Board path of the beeper's GPIO line (bank 0, pin 21): "1" sounding, "0" quiet.
constexpr const char *kBeeperPath = "/sys/class/gpio/gpio21/value";
constexpr const char *kTouchDevice = "/dev/input/ts0";

// "touch X Y", "touch-drag X1 Y1 X2 Y2 [STEPS]" and "key N [PARAMETER]" of
// the control socket, and the status lines of backlight, beeper and touch.
void Touch_CtlRegister();
std::string Touch_StatusLines();

void Touch_Reset();
