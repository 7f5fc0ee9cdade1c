// Entry points of the screen manager that are not built yet.
#include "host/trace.h"
#include "screens/screens.h"

void REC_ScreenInit() { host::trace("REC_ScreenInit"); }
void OBJM_DestroyPage() { host::trace("OBJM_DestroyPage"); }
