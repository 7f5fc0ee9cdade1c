// Touch calibration screen (system screen 21, class CALTCH): the operator
// touches the panel's extreme corner (raw maxima), aligns two crosshairs
// (offsets, then scales) and confirms; the touch driver gets each value as it
// is found, and "Yes" stores all six in the calibration file.
#pragma once
#include <cstdint>

// The touch driver's six calibration values, in the order of the
// calibration file: raw maxima, offsets, scales.
struct CalValues {
    int32_t xmax, ymax, xoff, yoff, xscale, yscale;
};

// What the screen needs of the controller core, set by the top layer.
struct CalTchHooks {
    int (*touch_ctrl)(int command, int arg); // TCH_Ctrl
    // The stored record (SYS_GetParmTbl: reloads the driver's values from the
    // file; unchanged without the file).
    CalValues (*get_parm_tbl)();
    // Writes the values into the stored record and the file (SYS_SaveParmTbl);
    // 1 when stored.
    int (*save_parm_tbl)(const CalValues &values);
    void (*beep)(int length);
    const uint16_t *tick;      // sysTic, 10 ms
    const uint8_t *gray_scale; // SYS_fGrayScale
};
void CALTCH_SetHooks(const CalTchHooks &hooks);

// The screen's state, for tests: the raw maxima found, the working values
// and the step (4 corner, 1 top-left crosshair, 2 bottom-right crosshair,
// 3 confirm) with the Next button's rectangle of the open instance.
struct CalTchView {
    int32_t x_max, y_max;
    int32_t x_offset, y_offset, x_scale, y_scale;
    int step;
    int16_t next_top, next_bottom;
    uint16_t flags;
    int16_t marker_x, marker_y;
};
CalTchView CALTCH_View();

void CALTCH_Reset();
