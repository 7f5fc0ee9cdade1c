// Register links for screen objects.
#pragma once

void SYS_ResetRCBs(int which);
void SYS_LoadRCBs();
