// Screen manager and system screens.
#pragma once

void REC_ScreenInit();
void OBJM_DestroyPage();
