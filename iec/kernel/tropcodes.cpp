// The VM's opcode table.
#include "iec/kernel/tropcodes.h"
#include "iec/kernel/tropcodes_rows.h"

#include <array>

namespace {
constexpr const TrOpcode *kOps = kTrOpcodeRows;
constexpr uint32_t kCount = sizeof(kTrOpcodeRows) / sizeof(kTrOpcodeRows[0]);

constexpr std::array<int16_t, 570> make_index() {
    std::array<int16_t, 570> idx{};
    for (auto &i : idx)
        i = -1;
    for (uint32_t i = 0; i < kCount; ++i)
        idx[kOps[i].number] = int16_t(i);
    return idx;
}
constexpr std::array<int16_t, 570> kIndex = make_index();
} // namespace

const TrOpcode *TrVM_Opcode(uint32_t number) {
    if (number >= kIndex.size() || kIndex[number] < 0) return nullptr;
    return &kOps[kIndex[number]];
}

const TrOpcode *TrVM_OpcodeByName(std::string_view mnemonic) {
    for (const TrOpcode &o : kTrOpcodeRows)
        if (mnemonic == o.mnemonic) return &o;
    return nullptr;
}

const TrOpcode *TrVM_Opcodes(uint32_t *count) {
    *count = kCount;
    return kOps;
}
