// The time slice. The slice timer only marks the slice as due; long work of
// the main context (drawing loops, media blocks, waits) calls SlicePoint,
// which runs the sliced pass there. The pass itself belongs to the scan loop
// above this layer, which sets it with Slice_SetPass.
#pragma once
#include <cstdint>

// Arms (1) or disarms (other values) the slice timer with the period %SR167.
void Enable_Interrupt(int on);
// Runs the sliced pass when the slice is due and no sliced pass is running.
void SlicePoint();
// The pass SlicePoint runs (the scan loop's TimerIRQ).
void Slice_SetPass(void (*pass)());
// Set while a sliced pass runs: a sliced pass never nests further.
extern bool g_in_sliced_pass;

// Set by the object manager while it opens a page; the slice handler counts
// the slices that fall inside the open.
extern volatile uint8_t openPageExec;
extern volatile uint32_t ISRCountOnOpenPage;

void Slice_Reset();
