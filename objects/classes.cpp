// The object classes by type: the object side of the class table.
#include "objects/objects.h"

namespace {
// clang-format off
const ObjClass *const kClasses[kObjTypes] = {
    &SHAPE_Class,  &TEXT_Class,   &EDIT_Class,   nullptr,       &BAR_Class,    &PAGE_Class,
    &SWTCH_Class,  &LITE_Class,   &BMP_Class,    &METER_Class,  &GRAPH_Class,  &SELCT_Class,
    nullptr,       &KPAD_Class,   &SLIDE_Class,  &NOTE_Class,   &ALOG_Class,   &ALM_Class,
    nullptr,       nullptr,       nullptr,       &CF_Class,     &NULL40_Class, &NULL32_Class,
    &ROT_Class,    nullptr,       nullptr,       &RSPop_Class,  &ASCKPD_Class, nullptr,
    &KEY_Class,    &TRDPop_Class, nullptr,       &VIDPS_Class,  nullptr,       nullptr,
};
// clang-format on
} // namespace

const ObjClass *Objects_Class(int type) {
    return type >= 0 && type < kObjTypes ? kClasses[type] : nullptr;
}
