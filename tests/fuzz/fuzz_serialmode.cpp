// Port mode records and driver calls as the application, the programming
// tool and the logic hand them to the port table: any sequence opens,
// refuses, sends and receives without reading or writing past a table or a
// ring, and the rings never count more than they hold.
#include "host/clock.h"
#include "host/root.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/vcomm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {
std::string g_root;

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    char tmpl[] = "/tmp/fuzz-serial-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_root = tmpl;
    std::atexit([] { std::filesystem::remove_all(g_root); });
    host::set_root(tmpl);
    host::clock_use_virtual();
    Vcomm_Init();
    SCI2_Init(0);
    SCI0_Init(1);
    SCI3_Init(2);
    SCI4_Init(3);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    start_once();
    size_t at = 0;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    while (at < size) {
        uint8_t op = next();
        int port = op >> 5 & 3;
        const VcommDrv &d = Vcomm_Drv[port % kVcommPorts];
        switch (op & 0x1F) {
        case 0: {
            uint8_t mode[kModeBytes];
            for (uint8_t &b : mode)
                b = next();
            if (port == 3)
                SCI4_Open(3, mode);
            else
                d.Open(port, mode);
            break;
        }
        case 1:
            d.StuffRx(next());
            break;
        case 2:
            if (d.CheckRx(port) == 1) d.GetRx(port);
            break;
        case 3: {
            int n = next() | next() << 8;
            int avail = int(size - at);
            if (n > avail) n = avail;
            int sent = d.PutnTx(port, data + at, n);
            if (sent < 0 || sent > n) std::abort();
            at += size_t(n);
            break;
        }
        case 4:
            d.SetIntrcpt(next() & 1);
            break;
        case 5: {
            uint8_t h = next() % 7;
            uint32_t value = uint32_t(next()) << 16 | uint32_t(next()) << 8 | next();
            RCT_Set(h, value, next() % 4);
            RCT_Start(h);
            break;
        }
        case 6:
            host::clock_advance_ns(uint64_t(next()) * 100'000);
            RctISR(0);
            break;
        case 7:
            d.InitWait(port, uint32_t(next()) * 100, 0);
            break;
        case 8: {
            uint8_t b;
            d.DrainTx(&b);
            break;
        }
        case 9:
            d.RtuTx(port);
            break;
        case 10: {
            char text[16] = {};
            for (int i = 0; i < 9; ++i)
                text[i] = char(next());
            std::memcpy(plc_reg + sr_offset(sr::kKernelRev), text, 10);
            break;
        }
        case 11:
            d.IoCtl(port, next() % 5, uint32_t(next()) * 1000);
            break;
        case 12:
            d.FlushRx(port);
            break;
        case 13:
            d.FlushTx(port);
            break;
        default:
            break;
        }
        if (d.CountRx(port) < 0 || d.CountTx(port) < 0) std::abort();
    }
    return 0;
}
