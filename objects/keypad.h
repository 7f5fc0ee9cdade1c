// The entry keypads: the full-screen numeric and alphanumeric keypads that
// an object opens over itself as a morph. The covered object's instance
// starts with a KeypadHost, from which the keypads read the field being
// edited; every key goes back to the covered object as a key message.
#pragma once
#include "gdi/field.h"
#include "screens/screens.h"

// KeypadHost: screens/screens.h (system screens open the keypads too).

// The alphanumeric keypad's shift level: no layout carries a shift key, so 0.
int ASCKPD_SftDetect();
