// The Ethernet configuration block as the application carries it: any bytes
// must parse without reading past the block or writing past a record.
#include "base/le.h"
#include "net/dpr.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes are the 16-bit word in front of the block; the
    // block is copied so that its end is exactly the input's end.
    uint16_t before = le16(data);
    std::vector<uint8_t> block(data + 2, data + size);
    for (int iface = 0; iface < kDprInterfaces; ++iface)
        DprParseBlock(iface, block.data(), uint32_t(block.size()), before);
    return 0;
}
