// Entry points of the screen manager that are not built yet, and the class
// rows of its screens and panels that are not built yet: a placeholder row
// has its class's record length, creates nothing, paints nothing and answers
// every message with 0.
#include "base/trace.h"
#include "screens/objm_int.h"

#include <cstdint>

using host::trace;

uint8_t Clon_McInited, Clon_McLinited;

namespace {
int g_menu_page; // the system-menu page selected last

int16_t placeholder_create(const uint8_t *, ObjInst *) {
    return 0;
}
void placeholder_paint(const uint8_t *, ObjInst *, int) {}
uint16_t placeholder_signal(const uint8_t *, ObjInst *, int, uint32_t) {
    return 0;
}
constexpr ObjClass row(uint32_t length) {
    return ObjClass{
        length, placeholder_create, placeholder_paint, placeholder_signal, nullptr, sizeof(ObjInst),
        nullptr};
}
} // namespace

// clang-format off
const ObjClass objm::kPlaceholderClass[kObjTypes] = {
    row(32), row(32), row(66), row(44), row(56), row(40), row(58), row(42), row(32),
    row(56), row(56), row(52), row(32), row(32), row(56), row(40), row(32), row(48),
    row(32), row(32), row(32), row(46), row(40), row(32), row(68), row(32), row(32),
    row(32), row(32), row(32), row(32), row(32), row(32), row(72), row(66), row(32),
};
// clang-format on

// The class table starts with every row a placeholder.
const ObjClass *oDefTbl[kObjTypes] = {
    &objm::kPlaceholderClass[0],  &objm::kPlaceholderClass[1],  &objm::kPlaceholderClass[2],
    &objm::kPlaceholderClass[3],  &objm::kPlaceholderClass[4],  &objm::kPlaceholderClass[5],
    &objm::kPlaceholderClass[6],  &objm::kPlaceholderClass[7],  &objm::kPlaceholderClass[8],
    &objm::kPlaceholderClass[9],  &objm::kPlaceholderClass[10], &objm::kPlaceholderClass[11],
    &objm::kPlaceholderClass[12], &objm::kPlaceholderClass[13], &objm::kPlaceholderClass[14],
    &objm::kPlaceholderClass[15], &objm::kPlaceholderClass[16], &objm::kPlaceholderClass[17],
    &objm::kPlaceholderClass[18], &objm::kPlaceholderClass[19], &objm::kPlaceholderClass[20],
    &objm::kPlaceholderClass[21], &objm::kPlaceholderClass[22], &objm::kPlaceholderClass[23],
    &objm::kPlaceholderClass[24], &objm::kPlaceholderClass[25], &objm::kPlaceholderClass[26],
    &objm::kPlaceholderClass[27], &objm::kPlaceholderClass[28], &objm::kPlaceholderClass[29],
    &objm::kPlaceholderClass[30], &objm::kPlaceholderClass[31], &objm::kPlaceholderClass[32],
    &objm::kPlaceholderClass[33], &objm::kPlaceholderClass[34], &objm::kPlaceholderClass[35],
};

void REC_ScreenInit() {
    trace("REC_ScreenInit");
}

// No system menu pages yet.
const uint8_t *const pBasicMenu[28] = {};

// The menu stays on the page it was given (pages 1 to 27).
int MENU_GetPage() {
    trace("MENU_GetPage");
    return g_menu_page;
}
int MENU_SetPage(int n) {
    trace("MENU_SetPage");
    if (n < 1 || n > 27) return 0;
    g_menu_page = n;
    return 1;
}

void Screens_NotBuiltReset() {
    Clon_McInited = Clon_McLinited = 0;
    g_menu_page = 0;
}
