// Navigation icons of page buttons, drawn from figures only and scaled to
// the rectangle given (exclusive form), in the context's pen and fill colours
// unless an icon has colours of its own. The unit u = min(width, height) / 40
// + 1 sets the line widths. The context's pen and fill colour are as they
// were afterwards.
#pragma once
#include "gdi/gdi.h"

void Draw_stopIcon(DC *dc, const RECT *rect);
void Draw_previousIcon(DC *dc, const RECT *rect);
void Draw_nextIcon(DC *dc, const RECT *rect);
void Draw_arrowleftIcon(DC *dc, const RECT *rect);
void Draw_arrowrightIcon(DC *dc, const RECT *rect);
void Draw_homeIcon(DC *dc, const RECT *rect);
void Draw_MaintenanceIcon(DC *dc, const RECT *rect);
void Draw_trendsIcon(DC *dc, const RECT *rect);
void Draw_startIcon(DC *dc, const RECT *rect);
void Draw_printIcon(DC *dc, const RECT *rect);
void Draw_helpIcon(DC *dc, const RECT *rect);
void Draw_alarmIcon(DC *dc, const RECT *rect);
