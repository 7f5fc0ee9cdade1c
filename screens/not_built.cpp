// Entry points of the screen manager that are not built yet, and the class
// rows of its screens and panels that are not built yet.
#include "base/trace.h"
#include "screens/objm_int.h"

#include <cstdint>

using host::trace;

uint8_t Clon_McInited, Clon_McLinited;

namespace {
int g_menu_page; // the system-menu page selected last

constexpr ObjClass placeholder(int type) {
    return ObjClass{kObjRecordLength[type], nullptr, nullptr, nullptr, nullptr,
                    sizeof(ObjInst),        nullptr};
}
} // namespace

// The rows of the screen manager's own screens and panels not built yet: a
// placeholder row has its class's record length, creates nothing, paints
// nothing and answers every message with 0. A screen that is built defines
// its row in its own file and drops its line here.
const ObjClass MENU_Class = placeholder(3);
const ObjClass FAULT_Class = placeholder(12);
const ObjClass DIALOG_Class = placeholder(18);
const ObjClass CALTCH_Class = placeholder(19);
const ObjClass CFD_Class = placeholder(20);
const ObjClass BkRstr_Class = placeholder(25);
const ObjClass Clone_Class = placeholder(26);
const ObjClass RECOVER_Class = placeholder(32);
const ObjClass LOGIN_Class = placeholder(34);

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
