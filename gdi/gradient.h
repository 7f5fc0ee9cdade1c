// Gradient fills of the closed figures, and two shaded figures with fixed
// colour stops.
//
// Colours run row by row from the context's fill colour (start) to its end
// colour in the way the context's gradient mode says:
//   0 every row in the fill colour
//   1 mirrored: the start colour at the top and bottom edges, the end colour
//     towards the middle
//   2 linear from the top row to the bottom row
//   3 banded: `header` rows in the start colour, the gradient, `footer` rows
//     in the end colour
// Any other mode draws no fill. A fill colour of 0xFFFF leaves only the
// outline. The outline is drawn with the pen afterwards, as for the plain
// figure. Boxes are given in the exclusive form. When the pixel pipeline
// composes the screen, the colours go into its gradient surface as 32-bit
// pixels and the context's own pixels become the see-through marker 1.
//
// All return 1 when drawn, 0 when the box is empty or its profile cannot be
// built.
#pragma once
#include "gdi/gdi.h"

constexpr int kGradFlat = 0, kGradMirrored = 1, kGradLinear = 2, kGradBanded = 3;

int GDI_GradientRect(DC *dc, int header, int footer, int left, int top, int right, int bottom);
int GDI_GradRoundRect(DC *dc, int header, int footer, int left, int top, int right, int bottom,
                      int corner_width, int corner_height);
int GDI_GradEllipse(DC *dc, int header, int footer, int left, int top, int right, int bottom);
// A metallic ellipse: mid grey at the top, near white a third of the way
// down, black just below, light grey at the bottom. The gradient mode is not
// consulted.
int GDI_MetallicEllipse(DC *dc, int left, int top, int right, int bottom);
// A shaded 3-D rounded rectangle and a second one inset by (inset x, inset y)
// in a linear gradient. Afterwards the context's pen is none. 1 only when the
// inset figure was drawn.
int GDI_Grad3DRoundRect(DC *dc, int inset_x, int inset_y, int left, int top, int right, int bottom,
                        int corner_width, int corner_height);

// The gradient rows of the context's work boxes (set by DimObjToPen), then
// the rectangle's outline.
int DrawGradientRect(DC *dc, int header, int footer);
// The gradient rows of a rounded rectangle of radii rx, ry around the
// context's centre fields, then its outline.
int DrawGradRoundRect(DC *dc, int header, int footer, int rx, int ry);

// Step i of n from `start` to `end`, each RGB565 channel interpolated with
// the division truncated towards zero; `start` when n is not positive.
COLOR Grad_Step(COLOR start, COLOR end, int i, int n);
// The same for the pixel pipeline's 32-bit surface (0xFF alpha, then red,
// green, blue): channels widened to 8 bits, the larger of each pair with its
// low bits set.
uint32_t Grad_Step32(COLOR start, COLOR end, int i, int n);
