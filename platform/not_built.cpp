// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "platform/fileinst.h"
#include "platform/io.h"

int IoSlotDevice(int) {
    return 0;
}
bool IoRemoteBase(const char *) {
    return false;
}

pthread_t RmDeleteOpsThreadId, RmDelAllOpsThreadId, RmDelFromObjOpsThreadId, RmFormatOpsThreadId;

void Platform_NotBuiltReset() {
    RmDeleteOpsThreadId = RmDelAllOpsThreadId = RmDelFromObjOpsThreadId = RmFormatOpsThreadId =
        pthread_t{};
}
