// Media file layer: drives, mounting, the free-space child.
#pragma once

void BackTsk();
int Cf_Check(int drive);
