// What the object classes share: the controller's services through the
// hooks, bounded texts of the string table, gradient extensions, and the
// state-register update every class runs in its periodic update. Private to
// the screen objects.
#pragma once
#include "gdi/gdi.h"
#include "objects/objects.h"

#include <cstdint>

namespace obj {

RCB *LinkReg(uint32_t link, uint32_t size);
void ReadReg(const RCB *rcb, void *dst, uint32_t size); // zeros when unlinked
uint8_t Read8(const RCB *rcb);
uint16_t Read16(const RCB *rcb);
void WriteReg(const RCB *rcb, const void *src, uint32_t len);
uint8_t Flash();
void Beep(int length);
int GotAccess(int level);
void ResetTimeout();
bool Holds(const uint8_t *def, size_t offset, size_t size);
int PageMode();     // 1 while a user screen is shown
bool GrayScale();   // the display shows grey levels only
bool DmemCorrupt(); // the program image in memory is corrupt
// The screen's width and height in pixels.
int ScreenWidth(const ObjInst *inst);
int ScreenHeight(const ObjInst *inst);
uint16_t Tick();
bool NoData(const RCB *rcb);

// The counted multi-line text whose first character is at `offset` of the
// current language segment (the count stands just before it; each line ends
// in a character of 0 to 3), as GDI_RectTextOut takes it; null unless the
// count and every line lie inside the language's segment (OBJM_Text).
const void *Text(uint32_t offset);

// A gradient extension: mode, the two band parameters and its colours.
struct Gradient {
    int16_t mode;
    uint16_t p1, p2;
    COLOR end, start;
};
// The extension at the record offset held in a colour field; false unless
// the record holds it.
bool GradientAt(const uint8_t *def, uint32_t offset, Gradient *out);

// Record helpers.
inline uint16_t Type(const uint8_t *def) {
    return uint16_t(def[0] | def[1] << 8);
}
inline bool HasGradient(const uint8_t *def) {
    return (Type(def) & 0x8000) != 0;
}
inline int Level(const uint8_t *def) {
    return (Type(def) >> 12) & 7;
}
// The record rectangle in the exclusive form the figures take.
RECT Rect(const uint8_t *def);

// The periodic update of the state register, shared by every class: reads
// the register (through `rcb`; none leaves the record's flags), selects the
// alternative colour of mask bits 4-7 (into *colour, `normal` when none is
// selected; 0x20 when it changed), folds the remaining mask bits into the
// record's flags (*flags: bit 0 visible, bit 1 flash, bit 3 enabled) and
// shows (0x1020) or hides (0x2020) the object. `class_length` places the
// four alternative colours; `opaque` objects clear state bit 1 when shown.
uint16_t StateUpdate(const uint8_t *def, ObjInst *inst, const RCB *rcb, size_t class_length,
                     COLOR normal, COLOR *colour, uint32_t *flags, bool opaque);

} // namespace obj
