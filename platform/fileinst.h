// File instructions of the ladder program and their media workers.
#pragma once
#include <pthread.h>

// Threads of the media workers that remove files or format a medium; 0 while
// none runs. The media status reads "busy" while one of them has the drive
// unmounted.
extern pthread_t RmDeleteOpsThreadId, RmDelAllOpsThreadId, RmDelFromObjOpsThreadId,
    RmFormatOpsThreadId;

// Puts the state of the platform's entry points that are not built yet back to
// its start values (tests).
void Platform_NotBuiltReset();
