// The user manager reading any user table: initialisation, logins with names
// taken from the input, the update pass and logout must never crash or read
// outside the table's data, whatever its count, flags or register references
// say.
//
// Input: 16 bytes of name, 10 of password, then the table's data (login_tbl
// from byte 8). The block past the data is poisoned while the input runs.
#include "base/le.h"
#include "fuzz_wire.h"
#include "host/clock.h"
#include "plc/appblocks.h"
#include "screens/screens.h"
#include "system/reglink.h"

#include <cstring>
#include <sanitizer/asan_interface.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool wired = [] {
        host::clock_use_virtual();
        FuzzWire();
        return true;
    }();
    (void)wired;
    if (size < 26) return 0;
    char name[17] = {}, password[11] = {};
    std::memcpy(name, data, 16);
    std::memcpy(password, data + 16, 10);
    data += 26;
    size -= 26;
    const size_t max = 65536 - 8;
    const size_t n = size < max ? size : max;
    std::memcpy(login_tbl + 8, data, n);
    put_le32(login_tbl + 4, uint32_t(n));
    uint8_t *past = login_tbl + 8 + n;
    ASAN_POISON_MEMORY_REGION(past, max - n);

    SYS_ResetRCBs(1);
    USRMGR_Init();
    for (int i = 0; i < 3; ++i) {
        (void)ValidateUser(name, password);
        (void)UserGotAccess(i * 3);
        USRMGR_Update();
        host::clock_advance_ns(700'000'000);
        USRMGR_resetTimeout();
    }
    USRMGR_logout();

    ASAN_UNPOISON_MEMORY_REGION(past, max - n);
    std::memset(login_tbl + 8, 0, n);
    return 0;
}
