// The data-log configuration as a download may bring it: any bytes must be
// either refused or taken without reading past the block or its string pool,
// and sampling and formatting rows of what was taken must stay inside the
// ring, the row and the line.
#include "base/le.h"
#include "data/data.h"
#include "data/logger.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint32_t capacity = app::kConfigParts[10].capacity;
    if (size > capacity - 8) return 0;
    // A block whose buffer ends exactly where the input does.
    std::vector<uint8_t> block(8 + size);
    put_le32(block.data(), 0);
    put_le32(block.data() + 4, uint32_t(size));
    if (size) std::memcpy(block.data() + 8, data, size);
    char why[160];
    LOG_CheckBlock(block.data(), uint32_t(block.size()), why, sizeof why);

    // Taken into use: a few scans with every sample due and the enable on.
    LOG_Reset();
    std::memcpy(datalog_table, block.data(), block.size());
    std::memset(plc_reg, 0x5A, sizeof plc_reg);
    for (int i = 0; i < 7; ++i)
        sr_put(sr::kClock + i, uint16_t(i == 6 ? 3 : 40000 + i));
    LOG_Start();
    for (int i = 0; i < 24; ++i)
        LOG_Update();
    return 0;
}
