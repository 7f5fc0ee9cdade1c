// Bytes from a programming host, as the serial and USB ports deliver them,
// through the packet reader and the command dispatcher: any sequence is read,
// answered or refused without reading or writing past the receive buffer, a
// block or the register image, and the dispatcher always ends in a valid state.
#include "host/clock.h"
#include "host/root.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/vcomm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
std::string g_root;

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    char tmpl[] = "/tmp/fuzz-cmd-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_root = tmpl;
    std::atexit([] { std::filesystem::remove_all(g_root); });
    host::set_root(tmpl);
    host::clock_use_virtual();
    Tick_Reset();
    AppBlocks_Reset();
    Vcomm_Init();
    SCI2_Init(0);
    SCI4_Init(3);
}

void drain() {
    uint8_t b;
    while (Vcomm_Drv[0].DrainTx(&b)) {
    }
    while (SCI4_DrainTx(&b)) {
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    start_once();
    Cmd_Reset();
    Vcomm_Drv[0].SetIntrcpt(1);
    SCI4_SetIntrcpt(1);
    crc_header[3] = 0;
    sr_put(sr::kNetId, 1);
    Cmd_Init();
    // Byte 0xFE n moves the clock on by n x 10 ms, 0xFD switches the sending
    // host (serial, USB); every other byte goes to the sending host.
    bool usb = false;
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = data[i];
        if (b == 0xFE && i + 1 < size) {
            host::clock_advance_ms(uint64_t(data[++i]) * 10);
        } else if (b == 0xFD) {
            usb = !usb;
        } else if (usb) {
            SCI4_StuffRx(b);
        } else {
            Vcomm_Drv[0].StuffRx(b);
        }
        if (i % 32 == 31) {
            Cmd_Check();
            drain();
        }
    }
    for (int i = 0; i < 8; ++i) {
        Cmd_Check();
        drain();
    }
    host::clock_advance_ms(10000);
    Cmd_Check();
    if (CmdBuf.state > 3 || (CmdRun != 0xFF && CmdRun >= kCmdOpcodes)) std::abort();
    if (CmdDataMax < 64 || CmdDataMax > kCmdDataKept) std::abort();
    return 0;
}
