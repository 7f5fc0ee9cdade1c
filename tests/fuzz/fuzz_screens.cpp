// The object manager walking, opening and updating the pages of any screen
// program: pages must open or be refused, and the update pass, touches and
// keys must never crash, hang, or read outside the program. A stand-in class
// serves every type: it answers each periodic update and each input with the
// result word in its record's first class field (so show, hide, erase, focus,
// morph, back and access-denied answers all occur) and draws its rectangle.
//
// Input: byte 0 the number of touch and key events fed per pass, then the
// data of the screen program block, walked from its start as a chain of
// pages. The buffer past the data is poisoned while the input runs.
#include "base/le.h"
#include "fuzz_display.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "screens/screens.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

namespace {

int16_t create(const uint8_t *def, ObjInst *inst) {
    inst->area = RECT{int16_t(le16(def + 10)), int16_t(le16(def + 12)), int16_t(le16(def + 14)),
                      int16_t(le16(def + 16))};
    if (le32(def + 2) & 1) inst->state = kInstShown;
    return int16_t(le16(def + 20));
}
void paint(const uint8_t *def, ObjInst *inst, int) {
    if (!inst->dc) return;
    GDI_SetFillColor(inst->dc, le16(def + 22));
    GDI_Rectangle(inst->dc, inst->area.left, inst->area.top, inst->area.right, inst->area.bottom);
}
uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t) {
    uint16_t r = le16(def + 18);
    if (msg == 0x40 && (r & 0x1020) == 0x1020) inst->state = kInstShown;
    if (msg == 0x40 && (r & 0x2020) == 0x2020) inst->state = kInstHidden;
    if (r & 0x400) OBJM_MorfObj(def[24] % 40, nullptr);
    (void)OBJM_GradientExt(def, le16(def + 26));
    return r;
}
// Records need their own bytes: the fields read above lie inside 32 bytes.
const ObjClass kStandIn{32, create, paint, signal, nullptr, 64, nullptr};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    DC *dc = fuzz_display();
    Objm_Reset();
    for (int t = 0; t < kObjTypes; ++t)
        OBJM_SetClass(t, &kStandIn);
    const int events = data[0] % 8;
    const size_t max = app::kConfigParts[3].capacity - 8;
    size_t n = size - 1 < max ? size - 1 : max;
    std::memcpy(kesta_pgm_bl + 8, data + 1, n);
    put_le32(kesta_pgm_bl + 4, uint32_t(n));
    uint8_t *past = kesta_pgm_bl + 8 + n;
    const size_t past_size = max - n;
    ASAN_POISON_MEMORY_REGION(past, past_size);

    OBJM_Init();
    const uint8_t *pages[8];
    int count = 0;
    for (const uint8_t *p = kesta_pgm_bl + 8; p && count < 8;) {
        const uint8_t *next = OBJM_ScanPage(dc, p);
        pages[count++] = p;
        if (!next || next <= p) break;
        p = next;
    }
    for (int i = 0; i < count; ++i) {
        if (!OBJM_OpenPage(dc, pages[i])) continue;
        for (int pass = 0; pass < 3; ++pass) {
            for (int e = 0; e < events; ++e) {
                const size_t at = size_t(pass * 8 + e) * 2;
                int x = data[at % size] % 170, y = data[(at + 1) % size] % 130;
                int code = (e % 3 == 0) ? kTouchDown : (e % 3 == 1) ? kTouchUp : kKeyMessage;
                KEY_Press(code, code == kKeyMessage ? 13 : x, y);
            }
            OBJM_Update(dc);
        }
        OBJM_DestroyPage();
    }
    KEY_FlushTouch();
    ASAN_UNPOISON_MEMORY_REGION(past, past_size);
    std::memset(kesta_pgm_bl + 8, 0, n);
    return 0;
}
