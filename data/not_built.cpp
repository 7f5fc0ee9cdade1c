// Entry points of the data services that are not built yet.
#include "data/data.h"
#include "host/trace.h"

void CFM_Open() { host::trace("CFM_Open"); }
void CFM_TheLoop(int) { host::trace("CFM_TheLoop"); }
