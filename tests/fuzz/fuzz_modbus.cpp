// Modbus requests as a TCP connection delivers them: the input's bytes cut
// into segments at every byte position, gathered by the MBAP length, each
// whole frame served against the register image (reads answered at once).
// Nothing may be read past a frame or written past the answer buffer, and
// every answer must fit its own length field.
#include "base/le.h"
#include "net/dpr.h"
#include "net/modbus_tcp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Serves every whole frame of `have` bytes at `buf`; returns the bytes kept.
size_t serve_all(std::vector<uint8_t> &buf, size_t have) {
    size_t at = 0;
    for (;;) {
        uint32_t n = Modbus_FrameLength(buf.data() + at, uint32_t(have - at));
        if (n == kNxFrameBad) return 0; // the connection would be closed
        if (n == 0 || n > have - at) break;
        // The frame alone, so that a read past it is seen.
        std::vector<uint8_t> frame(buf.begin() + long(at), buf.begin() + long(at + n));
        ModbusRecord r{};
        uint8_t tx[kModbusTxBytes];
        uint32_t len = Modbus_Serve(0, &r, frame.data(), n, tx);
        if (r.pending) len = Modbus_ReadAnswer(&r, tx);
        if (len && (len > kModbusTxBytes || 6u + (uint32_t(tx[4]) << 8 | tx[5]) != len)) abort();
        at += n;
    }
    if (have > at) std::memmove(buf.data(), buf.data() + at, have - at); // data() may be null
    return have - at;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool once = [] {
        Dpr_Init();
        Dpr_Configuration[0][dprcfg::kFlagsA] = dprcfg::kAModbus;
        return true;
    }();
    (void)once;
    if (size > 4096) return 0;
    // Every cut position: two segments, the first `cut` bytes and the rest.
    for (size_t cut = 0; cut <= size; ++cut) {
        std::vector<uint8_t> buf(size);
        size_t have = 0;
        for (auto [from, to] : {std::pair{size_t(0), cut}, std::pair{cut, size}}) {
            if (to > from)
                std::memcpy(buf.data() + have, data + from, to - from); // data may be null
            have = serve_all(buf, have + (to - from));
        }
    }
    return 0;
}
