// Object manager: the state shared by the page side (objm.cpp) and the input
// side (objm_input.cpp). Private to the screen manager.
#pragma once
#include "screens/screens.h"

namespace objm {

struct State {
    ObjCB doTbl[kObjTable];
    ObjCB soTbl[kObjTable];
    int16_t num_dobjs, num_sobjs;
    uint32_t smem_index;
    const uint8_t *pCurPgHdr;
    COLOR background, FillColor, EndColor;
    uint16_t LeadInLines, LeadOutLines;
    bool gradient;
    uint8_t flag_draw;
    uint32_t *pGradBkndFB, *pGradObjFB;
    bool background_saved;
    // focus and overlays
    int16_t selectObject;
    uint8_t fSelectFocus, fSelectMorf;
    uint16_t morfIndex;
    uint16_t requestObj;
    ObjInst *requestData;
    ObjCB pushOCB[kMorphDepth];
    uint8_t fPopup;
    int16_t saveSelect;
    PopupCallback pPUCallback;
    uint8_t fDispMesg;
    RECT okRect;
    uint8_t touchDown;
    uint8_t fSelectKey, fKeyInvalidate;
    ObjCB KeySld;
    // history
    uint16_t pushScreen[kHistoryDepth];
    int16_t pushSelect[kHistoryDepth];
    uint8_t pushIndex, pushCount;
    int16_t initSelect;
    // an event was dispatched by the last check
    bool dispatched;
    DC *dc; // the context of the open page
};
extern State g;
// The class table as it starts: the rows of the screen manager's own screens
// and panels; the object classes' rows are installed by the top layer.
extern const std::array<const ObjClass *, kObjTypes> kScreenClasses;
extern ObjmHooks hooks;
alignas(8) extern uint8_t pmem_pool[kPmemPool];
alignas(8) extern uint8_t key_pool[kKeyPool];

// Whole-screen clip, clip to an inclusive rectangle.
void clip_all(DC *dc);
void clip_to(DC *dc, const RECT &inclusive);
RECT def_rect(const uint8_t *def);
bool meets(const RECT &a, const RECT &b);
bool user_screen();
void PaintPage(DC *dc);
void frame_paint(ObjCB &o, int mode);
void content_paint(ObjCB &o);
// Dispatches one queued input event; true when one was dispatched.
bool check_input();
void OpenMorf(int i);
void CloseMorf(int i);
void DisplayMesg(DC *dc, const char *text);
// Takes the slide-key panel down and tells it so (message 2).
void close_key_panel();
void beep(int length);
ObjCB make_cb(const ObjClass *row, const uint8_t *def, ObjInst *inst, int16_t page);

} // namespace objm
