// Screen objects.
#pragma once

void KEY_SlideInit();

// Puts the state of the screen objects' entry points that are not built yet
// back to its start values (tests; they hold none yet).
void Objects_NotBuiltReset();
