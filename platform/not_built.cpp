// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "core/ladder_ops.h"
#include "host/trace.h"
#include "platform/io.h"
#include "platform/video.h"
#include "serial/serial.h"

using host::trace;

uint8_t StillOpened;
void VIDM_Init() { trace("VIDM_Init"); }
void VIDM_Update() { trace("VIDM_Update"); }

int IoSlotDevice(int) { return 0; }
bool IoRemoteBase(const char *) { return false; }
