// Entry points of the screen objects that are not built yet.
#include "base/trace.h"
#include "objects/objects.h"

void KEY_SlideInit() {
    host::trace("KEY_SlideInit");
}
void OBJM_SlideKey() {
    host::trace("OBJM_SlideKey");
}

void Objects_NotBuiltReset() {}
