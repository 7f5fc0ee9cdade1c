// The register mailbox at the start of the shared mailbox block `dpram`: a
// client posts a register reference and a size, and every pass keeps a copy
// of those registers there (bits set since the client's last collection stay
// set); and the handover of the programming port to the panel's own command
// client.
#include "base/le.h"
#include "base/trace.h"
#include "regs/plc_reg.h"
#include "serial/command.h"
#include "serial/serial.h"

#include <cstring>

uint8_t dpram[kDpramBytes];

namespace {

// Register mailbox: u8 server toggle, u8 client toggle, 2 unused, u32
// reference (0 none), u32 size in bits, the data.
constexpr uint32_t kServer = 0, kClient = 1, kReference = 4, kSizeBits = 8, kData = 12;
constexpr uint32_t kMailboxBytes = 268, kDataMax = 256;
// Programming-port handover: u8 request toggle, u8 answer toggle, u8 code,
// u8 result (0 granted, 2 busy). The general file request follows at once,
// so only these four bytes are the handover's own.
constexpr uint32_t kHandover = 8460, kHandoverBytes = 4;
constexpr uint32_t kUsbPort = 3;
// The file-request slots whose toggles start equal (no request).
constexpr uint32_t kFileSlots[] = {8464, 8728, 8752, 8776, 8788, 8812, 74372, 74396, 74420, 74444};

void serve_mailbox() {
    uint32_t ref = le32(dpram + kReference);
    uint32_t bits = le32(dpram + kSizeBits);
    // Compared on the bit count: a byte count worked out first wraps for huge sizes.
    if (ref == 0 || bits > 8 * kDataMax || cmd_downloading()) return;
    uint32_t bytes = bits == 1 ? 1 : (bits + 7) / 8;
    if (bytes == 0) return;
    uint8_t now[kDataMax];
    if (!PlcReg_Get(now, ref, bits == 1 ? 1 : 8 * bytes)) return;
    uint8_t *data = dpram + kData;
    if (dpram[kServer] == dpram[kClient]) {
        std::memcpy(data, now, bytes);
    } else {
        for (uint32_t i = 0; i < bytes; ++i)
            data[i] = uint8_t(data[i] | now[i]);
    }
    dpram[kServer] = uint8_t(1 - dpram[kClient]);
}

void serve_handover() {
    uint8_t *h = dpram + kHandover;
    if (h[0] == h[1]) return;
    uint8_t result = 2;
    if (ProgrammingPort == kUsbPort) {
        // The USB gadget port carries no communication instruction.
        result = 0;
    } else if (Talk_Override(ProgrammingPort)) {
        Talk_Release(ProgrammingPort);
        result = TalkOpened(int(ProgrammingPort)) ? 2 : 0;
    }
    h[3] = result;
    h[1] = h[0];
}

} // namespace

void Dpram_Init() {
    host::trace("Dpram_Init");
    std::memset(dpram, 0, kMailboxBytes);
    dpram[kServer] = uint8_t(1 - dpram[kClient]);
    std::memset(dpram + kHandover, 0, kHandoverBytes);
    for (uint32_t slot : kFileSlots)
        dpram[slot] = dpram[slot + 1] = 0;
}

void Dpram_Service() {
    host::trace("Dpram_Service");
    serve_mailbox();
    serve_handover();
}

void Dpram_Reset() {
    std::memset(dpram, 0, sizeof dpram);
}
