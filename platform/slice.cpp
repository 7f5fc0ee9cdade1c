// The time slice: the timer's mark and the points that take it.
#include "platform/slice.h"

#include "host/clock.h"
#include "regs/plc_reg.h"

bool g_in_sliced_pass = false;
volatile uint8_t openPageExec;
volatile uint32_t ISRCountOnOpenPage;

namespace {
void (*g_pass)();
} // namespace

void Enable_Interrupt(int on) {
    if (on == 1)
        host::alarm_arm_ms(sr_get(sr::kSlicePeriod));
    else
        host::alarm_disarm();
}

void SlicePoint() {
    if (g_in_sliced_pass) return;
    if (host::alarm_take() && g_pass) g_pass();
}

void Slice_SetPass(void (*pass)()) {
    g_pass = pass;
}

void Slice_Reset() {
    g_in_sliced_pass = false;
}
