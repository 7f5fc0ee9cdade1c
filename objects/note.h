// The note pad's module state: the one saved drawing. Private to the screen
// objects (and the reset table).
#pragma once

// Drops the saved drawing (tests).
void Note_Reset();
