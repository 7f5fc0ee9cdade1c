// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "core/ladder_ops.h"
#include "host/trace.h"
#include "platform/io.h"
#include "platform/video.h"
#include "serial/serial.h"

using host::trace;

int IoSlotDevice(int) { return 0; }
bool IoRemoteBase(const char *) { return false; }
