// Objects drawn from any records and any string table (whose bytes also
// serve as the text tables of enumerations): opening a page of them, the
// update pass (trend graphs sample and draw, their rings in the
// battery-backed memory), touches (on the keypads too) and a language switch
// must never crash, hang, or read outside the records, the screen program,
// the string table, the text tables or the battery-backed memory.
//
// Input: byte 0 the number of touch events per pass, byte 1 the number of
// languages, bytes 2-3 the length of the string table's data, that data,
// then the screen program's data (pages, walked from its start). The blocks
// past both are poisoned while the input runs.
#include "base/le.h"
#include "fuzz_display.h"
#include "fuzz_wire.h"
#include "gdi/field.h"
#include "objects/graph.h"
#include "platform/keys.h"
#include "platform/video.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/screens.h"
#include "system/reglink.h"
#include "system/sys.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    DC *dc = fuzz_display();
    static bool wired = [] {
        FuzzWire();
        return true;
    }();
    (void)wired;
    Objm_Reset();
    const int events = data[0] % 8;
    const uint32_t languages = data[1] % 5;
    size_t s = le16(data + 2);
    data += 4;
    size -= 4;
    if (s > size) s = size;
    const size_t smax = app::kConfigParts[5].capacity - 8;
    std::memcpy(string_table_bl + 8, data, s);
    put_le32(string_table_bl + 4, uint32_t(s));
    pPGM_Strings = s >= 8 ? string_table_bl + 16 : nullptr;
    uint8_t *spast = string_table_bl + 8 + s;
    ASAN_POISON_MEMORY_REGION(spast, smax - s);
    const size_t tmax = app::kConfigParts[6].capacity - 8;
    std::memcpy(text_table_bl + 8, data, s);
    put_le32(text_table_bl + 4, uint32_t(s));
    pPGM_TextTbls = s ? text_table_bl + 8 : nullptr;
    uint8_t *tpast = text_table_bl + 8 + s;
    ASAN_POISON_MEMORY_REGION(tpast, tmax - s);
    data += s;
    size -= s;

    const size_t max = app::kConfigParts[3].capacity - 8;
    const size_t n = size < max ? size : max;
    std::memcpy(kesta_pgm_bl + 8, data, n);
    put_le32(kesta_pgm_bl + 4, uint32_t(n));
    uint8_t *past = kesta_pgm_bl + 8 + n;
    ASAN_POISON_MEMORY_REGION(past, max - n);

    SYS_ResetRCBs(1);
    SYS_InitBBR();
    GRAPH_ForgetRings();
    // Trend graphs sample while the controller runs, through the shared memory context.
    sr_put(sr::kRunMode, 2);
    static DC *mem = [] { return pMemDC = GDI_CreateDC(0, 1); }();
    (void)mem;
    STR_Init(reg::kRefR, languages);
    OBJM_Init();
    const uint8_t *page = n ? kesta_pgm_bl + 8 : nullptr;
    const uint8_t *next = page ? OBJM_ScanPage(dc, page) : nullptr;
    (void)next;
    if (page && OBJM_OpenPage(dc, page)) {
        for (int pass = 0; pass < 3; ++pass) {
            for (int e = 0; e < events && size; ++e) {
                const size_t at = size_t(pass * 8 + e) * 2;
                const int x = data[at % size] % 170, y = data[(at + 1) % size] % 130;
                KEY_Press(e % 2 ? kTouchUp : kTouchDown, x, y);
            }
            plc_reg[reg::kR] = uint8_t(pass);
            OBJM_Update(dc);
            (void)STR_Update();
        }
        OBJM_DestroyPage();
    }
    KEY_FlushTouch();

    ASAN_UNPOISON_MEMORY_REGION(past, max - n);
    ASAN_UNPOISON_MEMORY_REGION(spast, smax - s);
    ASAN_UNPOISON_MEMORY_REGION(tpast, tmax - s);
    std::memset(text_table_bl + 8, 0, s);
    std::memset(kesta_pgm_bl + 8, 0, n);
    std::memset(string_table_bl + 8, 0, s);
    return 0;
}
