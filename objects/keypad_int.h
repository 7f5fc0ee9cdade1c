// What the two entry keypads share: sending a key to the covered object and
// drawing keys and their symbols. Private to the screen objects.
#pragma once
#include "screens/screens.h"

namespace kpd {
enum Symbol { kUp, kDown, kLeft, kRight, kBackSpace, kCapsLock };
// Sends `code` to the covered object (the root of the morph) as a key
// message; a reply that closes puts the covered object's state word back.
uint16_t Send(ObjInst *inst, uint8_t code, uint16_t saved);
// A rounded key of corner 8, pen 2: an upper label (font 1), a main label
// (font 2) centred in the rest, or a symbol.
void DrawKey(DC *dc, const RECT &k, COLOR pen, COLOR fill, COLOR text, const char *upper,
             const char *label, int symbol);
void Arrow(DC *dc, const RECT &k, int dir);
void Symbol(DC *dc, const RECT &k, int symbol);
// The keys' face, background and disabled colours, grey levels on a
// grey-scale panel.
struct Colours {
    COLOR face, back, disabled;
};
Colours KeyColours();
void ResetNumeric();
void ResetText();
} // namespace kpd
