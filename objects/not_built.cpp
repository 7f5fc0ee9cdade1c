// Entry points of the screen objects that are not built yet, and the rows of
// the object classes not built yet: a placeholder row has its class's record
// length, creates nothing, paints nothing and answers every message with 0.
// A class that is built defines its row in its own file and drops its line here.
#include "base/trace.h"
#include "objects/objects.h"

namespace {
constexpr ObjClass placeholder(int type) {
    return ObjClass{kObjRecordLength[type], nullptr, nullptr, nullptr, nullptr,
                    sizeof(ObjInst),        nullptr};
}
} // namespace

const ObjClass ALOG_Class = placeholder(16);
const ObjClass ALM_Class = placeholder(17);
const ObjClass CF_Class = placeholder(21);
const ObjClass RSPop_Class = placeholder(27);
const ObjClass TRDPop_Class = placeholder(31);

void Objects_NotBuiltReset() {}
