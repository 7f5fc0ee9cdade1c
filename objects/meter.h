// The drawn dial's integer geometry, shared by the METER class and its tests:
// angles in units of which a quarter turn is 325, measured from the left
// horizontal upwards, and the polynomial sine the needle and ticks use.
#pragma once
#include "gdi/shapes.h"

#include <cstdint>

namespace dial {

constexpr int kQuarter = 325, kHalf = 650, kSweepStart = 75, kSweep = 500;

// The sine of x (0 .. 325) as a fraction of 65,536: a cubic that reaches
// 65,601 near the quarter turn, so it needs more than 16 bits.
int32_t Sine(int x);
// length x sine(x), rounded.
int Scaled(int length, int x);
// The needle's tip at position p (0 .. 500 of the sweep) for a needle of
// length n about (cx, cy).
POINT NeedleTip(int cx, int cy, int n, int p);
// The angles of n tick marks, left half first, then the mirror images of
// those not straight up; returns how many were written (at most n).
int TickAngles(int n, int *angles);

} // namespace dial
