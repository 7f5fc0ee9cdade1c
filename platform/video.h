// Video driver and video manager.
#pragma once
#include <cstdint>

struct DC;
int VDR_IsPageCopied();
int VDR_CopyPage(DC *dc);
int VDR_SetActiveFrame(DC *dc);
extern uint8_t StillOpened;
void VIDM_Init();
void VideoPlayStreamInit();
