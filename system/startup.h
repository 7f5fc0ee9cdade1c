// Start-up of the panel and its main loop.
#pragma once

// Brings the panel up in the board's order (steps 1-30) for the given argument
// count. Returns 0 when the main loop may start, -1 when the open-file limit
// could not be read or set.
int Startup(int argc);
// Startup, then the main loop for ever. Returns only -1.
int panel_main(int argc);
// The revision number that decides whether the watchdog thread starts.
int KernelRevNumber();
void Startup_Reset();
