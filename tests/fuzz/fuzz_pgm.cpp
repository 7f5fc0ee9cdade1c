// The screen program manager taking a screen program into use: any contents
// of the screen program block must be set up or refused with a display fault,
// and any screen selection afterwards must open a page or fault, never crash,
// hang or read outside the block. Every page the set-up registered is then
// walked and opened by its records' lengths once more, whatever screen the
// input selects.
//
// Input: the first four bytes are the values of %SR1 and %SR2 for the passes
// after the set-up; the rest is the data of the screen program block. The
// buffer past the data is poisoned while the input runs, so a read past the
// block's length is caught although it stays inside the buffer.
#include "base/le.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/appfile.h"
#include "system/pgm.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const size_t max = app::kConfigParts[3].capacity - 8;
    size_t n = size - 4 < max ? size - 4 : max;
    Pgm_Reset();
    std::memcpy(kesta_pgm_bl + 8, data + 4, n);
    put_le32(kesta_pgm_bl + 4, uint32_t(n));
    uint8_t *past = kesta_pgm_bl + 8 + n;
    const size_t past_size = app::kConfigParts[3].capacity - 8 - n;
    ASAN_POISON_MEMORY_REGION(past, past_size);
    PGM_Create(1);
    PGM_TheLoop(0);
    sr_put(sr::kUserScreen, le16(data));
    PGM_TheLoop(0);
    sr_put(sr::kForcedScreen, le16(data + 2));
    PGM_TheLoop(0);
    PGM_FaultPageRecover();
    PGM_TheLoop(0);
    for (const uint8_t *page : tPage) {
        OBJM_ScanPage(nullptr, page);
        OBJM_OpenPage(nullptr, page);
    }
    ASAN_UNPOISON_MEMORY_REGION(past, past_size);
    std::memset(kesta_pgm_bl + 8, 0, n);
    return 0;
}
