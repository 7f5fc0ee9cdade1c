// The rotating pointer's geometry and counter text, shared by the ROT class
// and its tests.
#pragma once
#include "gdi/shapes.h"
#include "screens/screens.h"

#include <cstdint>

// The point at `angle` radians (clockwise from straight up) and `length`
// pixels from the centre of the ROT object whose instance this is.
void GetPoints(const ObjInst *inst, float angle, int length, POINT *point);

// The counter window's characters: below 1000 the last three of eight
// digits, a point and two zeros; from 1000 on the last five of ten digits.
// `out` takes 7 bytes.
void ROT_CounterText(uint32_t value, char *out);
