// Presenting the drawn page: the display context's page copied to the screen,
// or a still picture's frame shown once.
#include "platform/video.h"

DC *pDC, *pMemDC, *pMem2DC, *pMem3DC;
uint8_t StillOpened;

int VID_Update() {
    if (StillOpened) {
        VDR_SetActiveFrame(pDC);
        StillOpened = 0;
        return 1;
    }
    return VDR_CopyPage();
}

int VID_WaitUpdate() {
    return VDR_IsPageCopied();
}

void VidUpdate_Reset() {
    pDC = pMemDC = pMem2DC = pMem3DC = nullptr;
    StillOpened = 0;
}
