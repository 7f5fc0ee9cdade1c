// Entry points of the drawing layer that are not built yet.
#include "gdi/gdi.h"
#include "gdi/pxp.h"
#include "gdi/tty.h"
#include "host/trace.h"

using host::trace;

int GDI_Init() {
    trace("GDI_Init");
    return 0;
}
DC *GDI_CreateDC(int, int) {
    trace("GDI_CreateDC");
    return nullptr;
}
DC *GDI_GetDisplayDC() { return nullptr; }
int GDI_SetClipRect(DC *, const RECT *, RECT *) { return 0; }
int16_t GDI_SetTextColor(DC *, uint16_t) { return 0; }
int16_t GDI_SetFillColor(DC *, uint16_t) { return 0; }
void GDI_SetPen(DC *, int, int, uint16_t) {}
int GDI_SelectFont(DC *, int, int *, int *) { return 0; }
int GDI_SetTextAlign(DC *, int) { return 0; }
int GDI_Rectangle(DC *, int, int, int, int) { return 0; }
int GDI_ByteTextOut(DC *, int, int, const char *) { return 0; }
void TTY_Allocate(DC *) { trace("TTY_Allocate"); }
int TTY_SetPos(int, int) { return 1; }
int TTY_Puts(const char *) { return 1; }
void PXP_WaitUpdate() {}
