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

const ObjClass BAR_Class = placeholder(4);
const ObjClass PAGE_Class = placeholder(5);
const ObjClass LITE_Class = placeholder(7);
const ObjClass BMP_Class = placeholder(8);
const ObjClass METER_Class = placeholder(9);
const ObjClass GRAPH_Class = placeholder(10);
const ObjClass SELCT_Class = placeholder(11);
const ObjClass SLIDE_Class = placeholder(14);
const ObjClass NOTE_Class = placeholder(15);
const ObjClass ALOG_Class = placeholder(16);
const ObjClass ALM_Class = placeholder(17);
const ObjClass CF_Class = placeholder(21);
const ObjClass ROT_Class = placeholder(24);
const ObjClass RSPop_Class = placeholder(27);
const ObjClass KEY_Class = placeholder(30);
const ObjClass TRDPop_Class = placeholder(31);
const ObjClass VIDPS_Class = placeholder(33);

// No key bitmap: the panel is missing.
int KEY_SlideInit() {
    host::trace("KEY_SlideInit");
    return 0;
}

void Objects_NotBuiltReset() {}
