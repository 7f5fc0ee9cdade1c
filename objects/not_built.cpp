// Entry points of the screen objects that are not built yet.
#include "base/trace.h"
#include "objects/objects.h"

void KEY_SlideInit() {
    host::trace("KEY_SlideInit");
}

void Objects_NotBuiltReset() {}
