// Application menus over any screen program: menu table entries, page
// records, line counts, caption, descriptor and units offsets, visibility
// and page registers taken from the input must never make the menu object
// read outside the screen program or the string table, nor write past its
// instance, while it opens, updates, paints and takes keys and touches.
//
// Input: 52 bytes of the MENU record (its type and own length are set, its
// system-menu flag cleared), then the rest of the screen program, whose
// first word starts the menu table; registers %R1 to %R24 take the input's
// bytes pass by pass. The program's block past the input is poisoned.
#include "base/le.h"
#include "fuzz_display.h"
#include "fuzz_wire.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/pgm.h"
#include "system/reglink.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr size_t kHeader = 24, kRecord = 52;
    if (size < kRecord) return 0;
    DC *dc = fuzz_display();
    static bool wired = [] {
        FuzzWire();
        return true;
    }();
    (void)wired;
    Objm_Reset();
    Menu_Reset();

    const size_t max = app::kConfigParts[3].capacity - 8;
    const size_t n = kHeader + size < max ? kHeader + size : max;
    uint8_t *p = kesta_pgm_bl + 8;
    std::memset(p, 0, kHeader);
    put_le16(p + 4, 1); // one object
    put_le16(p + 8, 2); // version 2
    std::memcpy(p + kHeader, data, n - kHeader);
    uint8_t *def = p + kHeader;
    put_le16(def, uint16_t((le16(def) & 0x7000) | 3));
    put_le32(def + 2, le32(def + 2) | 0x1000);
    put_le16(def + 30, kRecord);
    def[35] = 0;
    put_le32(kesta_pgm_bl + 4, uint32_t(n));
    uint8_t *past = p + n;
    ASAN_POISON_MEMORY_REGION(past, max - n);
    pPGM_Menus = p + kHeader + kRecord;

    SYS_ResetRCBs(1);
    OBJM_Init();
    if (OBJM_OpenPage(dc, p)) {
        for (int pass = 0; pass < 6; ++pass) {
            for (int r = 0; r < 48; ++r)
                plc_reg[reg::kR + r] = data[size_t(pass * 48 + r) % size];
            const uint8_t b = data[size_t(pass) % size];
            if (pass % 3 == 2) {
                static constexpr uint8_t kKeys[6] = {13, 27, 28, 29, 30, 31};
                PressKeyON = 1;
                OBJM_Keypress(kKeyMessage, kKeys[b % 6], 0);
            } else {
                KEY_Press(pass % 2 ? kTouchUp : kTouchDown, b % 160, data[(pass + 1) % size] % 120);
            }
            OBJM_Update(dc);
        }
        OBJM_DestroyPage();
    }
    KEY_FlushTouch();
    pPGM_Menus = nullptr;
    ASAN_UNPOISON_MEMORY_REGION(past, max - n);
    std::memset(p, 0, n);
    return 0;
}
