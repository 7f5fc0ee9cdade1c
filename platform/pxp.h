// Pixel pipeline: the SoC block that composes the drawing page, a gradient
// background and a video hole into the displayed frame (buffer 7), and
// composes captures of the screen.
//
// Buffers (32-bit pixels, screen width x height each): 7 the displayed frame,
// 4 the gradient background, 3 a copy of it, 6 the composition with a hole,
// 1 the screen capture; the drawing pages are the buffers the video driver
// enables in framebuffer_enable. A drawing-page pixel of value 1 lets the
// background show through.
#pragma once
#include "platform/dc.h"

#include <cstdint>

extern uint8_t framebuffer_enable[8];

// Resets and programs the pipeline with the eight buffers (null ones are
// skipped); `arg` is kept. 1 when the registers could be mapped.
int PXP_Init(uint32_t *const buffers[8], uint32_t arg);
// Presents the video driver's current page: 0 while a pass runs (or when the
// page is none of the buffers), else starts a pass and returns 1.
int PXP_buf_next();
// Composes the displayed frame into buffer 1 (RGB565) and returns it; null
// unless the gradient background is on.
uint32_t *PXP_Screen_Capture();
// Opens the see-through hole over `rect` (exclusive form), or closes it.
void PXP_HoleRect(const RECT *rect, int on);
// The open hole (exclusive form); false when none is open.
bool PXP_Hole(RECT *rect);
uint32_t *PXP_GradientEnabled(int on);
uint32_t *PXP_GradientBkndEnab(int on);
// The next PXP_buf_next waits for its pass to finish.
void PXP_WaitUpdate();
void PXP_Exit();
// Physical address of `addr`, or 0xFFFFFFFF when its page is not present.
uint32_t mem_virt2phy(const void *addr);

void PXP_Reset();
