// Media manager.
#pragma once

void CFM_Open();
void CFM_TheLoop(int n);
