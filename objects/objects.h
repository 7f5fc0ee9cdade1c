// Screen objects.
#pragma once

void KEY_SlideInit();
// A first touch in the top-right corner: beep and open the key panel where allowed.
void OBJM_SlideKey();
