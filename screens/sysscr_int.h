// What the login form, the dialog, the fault page and the recovery screen
// share: the controller's services through the hooks, and drawing helpers.
// Private to the screen manager.
#pragma once
#include "gdi/gdi.h"
#include "screens/sysscreens.h"

namespace sysscr {

extern SysScreenHooks hooks;

void Beep(int length);
uint16_t Tick();
uint8_t Flash();
bool GrayScale();
RCB *LinkReg(uint32_t link, uint32_t size);
uint16_t Read16(const RCB *rcb); // 0 without a link
void SetFlag(uint8_t *flag, uint8_t value);

// The screen's size from the instance's context (the display's when none).
int ScreenWidth(const ObjInst *inst);
int ScreenHeight(const ObjInst *inst);
// Writes an inclusive rectangle into a writable copy of a built-in record
// (nothing for any other record).
void WriteRect(const uint8_t *def, const RECT &inclusive);
void WriteColour(const uint8_t *def, size_t at, uint16_t colour);

// A one-line text in a rectangle (exclusive), flags of GDI_RectByteTextOut.
void Text(DC *dc, const RECT &r, int flags, const char *text);
// A shaded button in the system screens' face colour with a centred label.
void Button(DC *dc, const RECT &r, const char *label, int font);
bool Inside(const RECT &r, int x, int y); // exclusive right and bottom

void ResetLogin();
// Where a login form placed its name box, password box and button (tests).
void LoginRects(const ObjInst *inst, RECT *name, RECT *password, RECT *button);

} // namespace sysscr
