// Screen objects.
#pragma once

void KEY_SlideInit();
// A first touch in the top-right corner: beep and open the key panel where allowed.
void OBJM_SlideKey();

// Puts the state of the screen objects' entry points that are not built yet
// back to its start values (tests; they hold none yet).
void Objects_NotBuiltReset();
