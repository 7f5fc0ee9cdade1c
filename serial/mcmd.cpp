// The local command client: packets fed byte by byte into the programming
// port's receive ring, answers read from its send ring, the dispatcher
// driven from here while the client waits.
#include "serial/mcmd.h"

#include "base/trace.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "serial/command.h"
#include "serial/serial.h"
#include "serial/vcomm.h"

#include <algorithm>

int mcmdErrNo;

namespace {

constexpr uint32_t kHandover = 8460;
constexpr uint32_t kTicksPerSecond = 10000;
constexpr uint32_t kByteWait = 5 * kTicksPerSecond, kDownloadWait = 15 * kTicksPerSecond,
                   kCloseWait = 30 * kTicksPerSecond;
constexpr uint32_t kUsbPort = 3;
constexpr uint8_t kDownload = 4, kFirstFileOpcode = 28;

struct State {
    McmdHooks hooks{};
    bool open = false;
    uint8_t port = 0;
};
State g;

uint8_t seed() {
    return crc_header[3] & 0x7F;
}

void set_intercept(int on) {
    if (g.port == kUsbPort)
        SCI4_SetIntrcpt(on);
    else
        Vcomm_Drv[g.port].SetIntrcpt(on);
}
void stuff(uint8_t b) {
    if (g.port == kUsbPort)
        SCI4_StuffRx(b);
    else
        Vcomm_Drv[g.port].StuffRx(b);
}
bool drain(uint8_t *b) {
    return (g.port == kUsbPort ? SCI4_DrainTx(b) : Vcomm_Drv[g.port].DrainTx(b)) != 0;
}

// Feeds a packet: the short form, or the long one for more than 254 bytes
// (a length byte of 255 announces the long form).
void feed(uint8_t opcode, uint32_t length, const uint8_t *data) {
    length = std::min<uint32_t>(length, kCmdDataKept);
    uint8_t sum = uint8_t(seed() + opcode);
    auto out = [&](uint8_t b) {
        stuff(b);
        sum = uint8_t(sum + b);
    };
    stuff(opcode);
    if (length > 254) {
        out(0xFF);
        out(uint8_t(length));
        out(uint8_t(length >> 8));
    } else {
        out(uint8_t(length));
    }
    for (uint32_t i = 0; i < length; ++i)
        out(data[i]);
    stuff(uint8_t(-sum));
}

// One byte of the answer within `ticks`, the dispatcher running meanwhile;
// -1 after the time-out.
int next_byte(uint32_t ticks, bool tick_timers) {
    uint32_t start = FPGA_GetFrtStep();
    for (;;) {
        uint8_t b;
        if (drain(&b)) return b;
        Cmd_Check();
        if (drain(&b)) return b;
        if (tick_timers && g.hooks.timer_isr) g.hooks.timer_isr();
        if (g.hooks.tickle_watchdog) g.hooks.tickle_watchdog();
        if (FPGA_GetFrtStep() - start >= ticks) return -1;
    }
}

// The receive machine: a one-byte answer, or a data packet whose data is kept
// up to `size` bytes. Every byte restarts the 5 s wait.
int receive(uint32_t first_wait, uint8_t *buffer, uint32_t size, uint32_t *length) {
    if (length) *length = 0;
    int b = next_byte(first_wait, true);
    if (b < 0) return kMcmdTimeOut;
    if (b != kDataOpcode) return b;
    uint8_t sum = uint8_t(seed() + kDataOpcode);
    auto take = [&](int *v) {
        *v = next_byte(kByteWait, true);
        if (*v < 0) return false;
        sum = uint8_t(sum + *v);
        return true;
    };
    int l = 0;
    if (!take(&l)) return kMcmdTimeOut;
    uint32_t n = uint32_t(l);
    if (l == 0xFF) {
        int lo = 0, hi = 0;
        if (!take(&lo) || !take(&hi)) return kMcmdTimeOut;
        n = uint32_t(lo | hi << 8);
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i) {
        int v = 0;
        if (!take(&v)) return kMcmdTimeOut;
        if (buffer && kept < size) buffer[kept++] = uint8_t(v);
    }
    int check = 0;
    if (!take(&check)) return kMcmdTimeOut;
    if (length) *length = kept;
    return sum == 0 ? kDataOpcode : kMcmdBadSum;
}

int one_byte(uint32_t ticks, bool tick_timers) {
    int b = next_byte(ticks, tick_timers);
    return b < 0 ? kMcmdTimeOut : b;
}

} // namespace

int MCMD_Init(uint16_t code) {
    host::trace("MCMD_Init");
    uint8_t *h = dpram + kHandover;
    h[0] = uint8_t(h[1] ^ 1);
    h[2] = uint8_t(code);
    // The service answers at once; a few rounds allow for one that does not.
    for (int i = 0; i < 4 && h[0] != h[1]; ++i)
        Dpram_Service();
    if (h[0] != h[1]) return kMcmdPortBusy;
    if (h[3] != 0) return h[3] == 1 ? kMcmdPortLogic : kMcmdPortBusy;
    if (ProgrammingPort > kUsbPort) return kMcmdPortBusy;
    g.port = uint8_t(ProgrammingPort);
    set_intercept(1);
    uint8_t b;
    while (drain(&b)) {
    }
    if (g.port == kUsbPort)
        SCI4_FlushRx(int(kUsbPort));
    else
        Vcomm_Drv[g.port].FlushRx(g.port);
    g.open = true;
    return 0;
}

int MCMD_SendCmd(uint8_t opcode, uint32_t length, const uint8_t *data) {
    if (!g.open) return kMcmdTimeOut;
    feed(opcode, length, data);
    if (opcode == kDownload) return one_byte(kDownloadWait, false);
    if (opcode < kFirstFileOpcode && CmdInfo[opcode].relay_class == 1)
        return receive(kByteWait, nullptr, 0, nullptr);
    return one_byte(kByteWait, true);
}

int MCMD_SendData(uint32_t length, const uint8_t *data) {
    if (!g.open) return kMcmdTimeOut;
    feed(kDataOpcode, length, data);
    // The closing packet: the panel works out and stores the block's CRC.
    return one_byte(length == 0 ? kCloseWait : kByteWait, true);
}

int MCMD_GetData(uint32_t *length, uint8_t *buffer, uint32_t size) {
    if (!g.open) {
        if (length) *length = 0;
        return kMcmdTimeOut;
    }
    return receive(kByteWait, buffer, size, length);
}

void MCMD_SendCntl(uint8_t byte) {
    if (g.open) stuff(byte);
}

void MCMD_Close() {
    if (!g.open) return;
    set_intercept(0);
    g.open = false;
}

int MCMD_Send(uint8_t command, const uint8_t *bytes, uint32_t count) {
    return MCMD_SendCmd(command, count, bytes);
}

int MCMD_Receive(uint8_t *buffer, uint32_t size, uint32_t *length, uint8_t ack) {
    int r = MCMD_GetData(length, buffer, size);
    if (r == kDataOpcode) MCMD_SendCntl(ack);
    return r;
}

void MCMD_Release() {
    MCMD_Close();
}

void MCMD_SetError(int error) {
    mcmdErrNo = error;
}

void MCMD_SetHooks(const McmdHooks &hooks) {
    g.hooks = hooks;
}

void MCMD_Reset() {
    mcmdErrNo = 0;
    McmdHooks keep = g.hooks;
    g = State{};
    g.hooks = keep;
}
