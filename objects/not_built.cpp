// Entry points of the screen objects that are not built yet.
#include "host/trace.h"
#include "objects/objects.h"

void KEY_SlideInit() { host::trace("KEY_SlideInit"); }
