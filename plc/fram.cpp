// The retentive registers in FRAM.
#include "plc/fram.h"

#include "base/trace.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"

#include <cstring>

namespace {

// Retentive regions: image offset and length in words, in block order.
struct Region {
    uint32_t offset, words;
};
// clang-format off
constexpr Region kStandard[4] = {{reg::kR, 1024}, {reg::kEM, 128}, {reg::kSR, 192}, {reg::kESR, 64}};
constexpr Region kAlternate[4] = {{reg::kR, 1024}, {reg::kM, 128}, {reg::kSR, 192}, {reg::kESR, 64}};
// clang-format on
static_assert(2 * (1024 + 128 + 192 + 64) == fram::kRegLength);

// 16-bit register tokens (bit 0x8000 of the feature word) keep %M, not %EM.
const Region *regions(uint32_t features) {
    return (features & 0x8000) ? kAlternate : kStandard;
}

uint32_t reg_header(int bank) {
    return bank == 1 ? fram::kRegHeader1 : fram::kRegHeader2;
}

} // namespace

int FRAM_XChange_Data(int read, int bank) {
    return FRAM_XChange_DataFor(read, bank, NV_EditorFeatures);
}

int FRAM_XChange_DataFor(int read, int bank, uint32_t features) {
    host::trace("FRAM_XChange_Data");
    const Region *r = regions(features);
    if (!read) {
        std::memset(Fram_temp, 0, sizeof Fram_temp);
        uint32_t at = 0;
        for (int i = 0; i < 4; ++i) {
            std::memcpy(Fram_temp + at, plc_reg + r[i].offset, 2 * r[i].words);
            at += 2 * r[i].words;
        }
        Fram_WriteBlock(reg_header(bank), Fram_temp, fram::kRegLength, Fram_NextPass());
        return 1;
    }
    if (!Fram_ReadBlock(reg_header(bank), fram::kRegLength)) return 0;
    uint32_t at = 0;
    for (int i = 0; i < 4; ++i) {
        std::memcpy(plc_reg + r[i].offset, Fram_temp + at, 2 * r[i].words);
        at += 2 * r[i].words;
    }
    return 1;
}
