// Bitmap objects over any bitmap area: frame tables, picture prefixes,
// coded lengths and codings taken from the input must never make a page
// open, an update with any frame value, a paint or a touch read outside the
// bitmap area in use, the records or the screen program, nor write past the
// bitmap memory.
//
// Input: bytes 0-1 the length A of the bitmap area's data, that data (the
// pictures, each behind its 6-byte prefix), then the screen program's data
// (pages, walked from its start), whose registers %R1 to %R4 take the
// input's bytes pass by pass. The blocks past both are poisoned while the
// input runs.
#include "base/le.h"
#include "fuzz_display.h"
#include "fuzz_wire.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/reglink.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    DC *dc = fuzz_display();
    static bool wired = [] {
        FuzzWire();
        return true;
    }();
    (void)wired;
    Objm_Reset();
    size_t a = le16(data);
    data += 2;
    size -= 2;
    if (a > size) a = size;
    std::memcpy(bmp_table + 8, data, a);
    put_le32(bmp_table, uint32_t(8 + a));
    put_le32(bmp_table + 4, uint32_t(a));
    put_le32(rom_map_tbl + 516, uint32_t(8 + a));
    uint8_t *bpast = bmp_table + 8 + a;
    constexpr size_t kArea = 1 << 16; // what the input can fill, and some
    ASAN_POISON_MEMORY_REGION(bpast, kArea);
    data += a;
    size -= a;

    const size_t max = app::kConfigParts[3].capacity - 8;
    const size_t n = size < max ? size : max;
    std::memcpy(kesta_pgm_bl + 8, data, n);
    put_le32(kesta_pgm_bl + 4, uint32_t(n));
    uint8_t *past = kesta_pgm_bl + 8 + n;
    ASAN_POISON_MEMORY_REGION(past, max - n);

    SYS_ResetRCBs(1);
    OBJM_Init();
    const uint8_t *page = n ? kesta_pgm_bl + 8 : nullptr;
    if (page) (void)OBJM_ScanPage(dc, page);
    if (page && OBJM_OpenPage(dc, page)) {
        for (int pass = 0; pass < 4; ++pass) {
            for (int r = 0; r < 8 && size; ++r)
                plc_reg[reg::kR + r] = data[size_t(pass * 8 + r) % size];
            KEY_Press(pass % 2 ? kTouchUp : kTouchDown, data[pass % size] % 160,
                      data[(pass + 1) % size] % 120);
            OBJM_Update(dc);
        }
        OBJM_DestroyPage();
    }
    KEY_FlushTouch();

    ASAN_UNPOISON_MEMORY_REGION(past, max - n);
    ASAN_UNPOISON_MEMORY_REGION(bpast, kArea);
    std::memset(kesta_pgm_bl + 8, 0, n);
    std::memset(bmp_table, 0, 8 + a);
    put_le32(rom_map_tbl + 516, 0);
    return 0;
}
