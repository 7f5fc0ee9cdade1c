// Entry points of the screen manager that are not built yet, and the class
// rows of its screens and panels that are not built yet.
#include "base/trace.h"
#include "screens/objm_int.h"

#include <cstdint>

using host::trace;

uint8_t Clon_McInited, Clon_McLinited;

namespace {
constexpr ObjClass placeholder(int type) {
    return ObjClass{kObjRecordLength[type], nullptr, nullptr, nullptr, nullptr,
                    sizeof(ObjInst),        nullptr};
}
} // namespace

// The rows of the screen manager's own screens and panels not built yet: a
// placeholder row has its class's record length, creates nothing, paints
// nothing and answers every message with 0. A screen that is built defines
// its row in its own file and drops its line here.
const ObjClass CFD_Class = placeholder(20);
const ObjClass Clone_Class = placeholder(26);

void Screens_NotBuiltReset() {
    Clon_McInited = Clon_McLinited = 0;
}
