// Screen objects: the classes of the operator's pages, each a row of the
// object manager's class table.
#pragma once
#include "screens/screens.h"

int KEY_SlideInit();

// The row of each object class, by type (null for the types of the screen
// manager's own screens); the top layer installs them with OBJM_SetClass.
const ObjClass *Objects_Class(int type);

// The classes by name; a class not built yet is a placeholder row
// (objects/not_built.cpp).
extern const ObjClass SHAPE_Class, TEXT_Class, EDIT_Class, BAR_Class, PAGE_Class, SWTCH_Class,
    LITE_Class, BMP_Class, METER_Class, GRAPH_Class, SELCT_Class, KPAD_Class, SLIDE_Class,
    NOTE_Class, ALOG_Class, ALM_Class, CF_Class, NULL40_Class, NULL32_Class, ROT_Class, RSPop_Class,
    ASCKPD_Class, KEY_Class, TRDPop_Class, VIDPS_Class;

// Puts the state of the screen objects' entry points that are not built yet
// back to its start values (tests; they hold none yet).
void Objects_NotBuiltReset();
