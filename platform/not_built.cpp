// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "core/ladder_ops.h"
#include "host/trace.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "platform/video.h"
#include "serial/serial.h"

using host::trace;

uint8_t StillOpened;
void VIDM_Init() { trace("VIDM_Init"); }
void VIDM_Update() { trace("VIDM_Update"); }
void KEY_Init() { trace("KEY_Init"); }
void KEY_Flush() { trace("KEY_Flush"); }
void KEY_FlushTouch() { trace("KEY_FlushTouch"); }
int KEY_Check(int (*)(int, int, int)) { return 0; }
uint16_t IoBaseAdc_StandIn[4];
uint16_t IoBaseAdc(int input) {
    return input >= 0 && input < 4 ? IoBaseAdc_StandIn[input] : 0;
}

int IoSlotDevice(int) { return 0; }
bool IoRemoteBase(const char *) { return false; }
// The key-press instruction's operands are its own: the scan stops there.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
