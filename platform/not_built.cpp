// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "host/trace.h"
#include "platform/can.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "platform/video.h"

using host::trace;

void Can_Isr() { trace("Can_Isr"); }
uint8_t StillOpened;
void VIDM_Init() { trace("VIDM_Init"); }
void VideoPlayStreamInit() { trace("VideoPlayStreamInit"); }
void KEY_Init() { trace("KEY_Init"); }
void KEY_Flush() { trace("KEY_Flush"); }
void Fpga_Init() { trace("Fpga_Init"); }
uint8_t FPGA_GetVer() {
    trace("FPGA_GetVer");
    return 0;
}
void factory_calib() { trace("factory_calib"); }
